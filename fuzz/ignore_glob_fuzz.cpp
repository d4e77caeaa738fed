// Fuzzes the ignore-file rules on one input "file\0path": the first piece is
// read as an ignore file, the second matched against each of its patterns
// (as a name and as a relative path, as a file and as a folder).
//
// Checks: nothing crashes or reads past its strings; a glob without any of
// "*?[\" matches exactly itself; "**" matches every path; every parsed
// pattern is non-empty and holds no line feed.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.h"
#include "support/fs/ignore_rules.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> pieces = rplc_fuzz::SplitInput(data, size, 2);
  const std::string& path = pieces[1];
  // Paths hold no NUL byte.
  if (path.find('\0') != std::string::npos) return 0;
  const char* slash = std::strrchr(path.c_str(), '/');
  const char* name = slash ? slash + 1 : path.c_str();
  const std::vector<Velk::IGNORE_PATTERN> patterns = Velk::ParseIgnoreFile(
      Velk::narrow_buffer(pieces[0].data(), std::uint32_t(pieces[0].size())));
  for (const Velk::IGNORE_PATTERN& each : patterns) {
    Check(!each.glob.empty());
    Check(std::memchr(each.glob.c_str(), '\n', each.glob.length()) == nullptr);
    for (bool folder : {false, true})
      (void)Velk::MatchesIgnorePattern(each, path.c_str(), name, folder);
    if (std::strpbrk(each.glob.c_str(), "*?[\\") == nullptr)
      Check(Velk::MatchIgnoreGlob(each.glob.c_str(), path.c_str()) == (each.glob.c_str() == path));
  }
  Check(Velk::MatchIgnoreGlob("**", path.c_str()));
  return 0;
}
