// Streamed replacement is not built on Windows: a file there is replaced by
// a move after its read handle is closed, so the driver works every file
// whole (streamed_replace_supported is false) and begin() always fails.
#include "support/os/file_replace.h"

#include "support/os/windows/windows.h"

namespace Velk::os {

struct streamed_replacement::STATE {};

streamed_replacement::streamed_replacement(file_handle, const char*) : state_(nullptr) {}

streamed_replacement::~streamed_replacement() = default;

bool streamed_replacement::begin(std::uint64_t, replace_failure& failure) {
  failure = {"stream the new contents", ERROR_NOT_SUPPORTED, ""};
  return false;
}

bool streamed_replacement::write(const void*, std::size_t, replace_failure& failure) {
  failure = {"stream the new contents", ERROR_NOT_SUPPORTED, ""};
  return false;
}

replace_result streamed_replacement::finish(const file_identity&, bool,
                                            replace_failure& failure) {
  failure = {"stream the new contents", ERROR_NOT_SUPPORTED, ""};
  return replace_result::failed;
}

bool streamed_replace_supported() { return false; }

}  // namespace Velk::os
