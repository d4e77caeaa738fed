#include "driver/exception_text.h"

#include "support/core/exceptions.h"

namespace Velk {

narrow_buffer DescribeException(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const byExp& e) {
    return narrow_buffer::literal("Velk runtime lib error: ") + e.GetMessage();
  } catch (const std::exception& e) {
    return narrow_buffer::literal("vc runtime lib error: ") + narrow_buffer(e.what());
  } catch (...) {
  }
  return narrow_buffer::literal("unknown system error");
}

}  // namespace Velk
