#include "driver/diff_colors.h"

#include <string_view>

namespace Velk {
namespace {

// The line count of one side of a hunk header: "a,b" is b, "a" is 1.
std::size_t RangeCount(std::string_view range) {
  const std::size_t comma = range.find(',');
  if (comma == std::string_view::npos) return 1;
  std::size_t count = 0;
  for (const char digit : range.substr(comma + 1)) count = count * 10 + std::size_t(digit - '0');
  return count;
}

// Reads "@@ -a,b +c,d @@" into its two line counts; false when line is not
// a hunk header.
bool ReadHunkHeader(std::string_view line, std::size_t& old_lines, std::size_t& new_lines) {
  if (line.substr(0, 4) != "@@ -") return false;
  const std::size_t plus = line.find(" +", 4);
  if (plus == std::string_view::npos) return false;
  const std::size_t close = line.find(" @@", plus + 2);
  if (close == std::string_view::npos) return false;
  old_lines = RangeCount(line.substr(4, plus - 4));
  new_lines = RangeCount(line.substr(plus + 2, close - plus - 2));
  return true;
}

void AppendColored(narrow_buffer& out, const char* color, std::string_view line) {
  const bool feed = !line.empty() && line.back() == '\n';
  out.append(color);
  out.append(line.data(), narrow_buffer::size_type(line.size() - feed));
  out.append(kColorReset);
  if (feed) out.push_back('\n');
}

}  // namespace

void AppendColoredDiff(narrow_buffer& out, const narrow_buffer& diff) {
  const std::string_view text(diff.data() ? diff.data() : "", diff.length());
  std::size_t old_left = 0, new_left = 0;  // body lines still to come in the hunk
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t feed = text.find('\n', pos);
    const std::size_t end = feed == std::string_view::npos ? text.size() : feed + 1;
    const std::string_view line = text.substr(pos, end - pos);
    pos = end;
    const char first = line[0];
    if (old_left + new_left > 0 && first != '\\') {
      // A body line: context counts on both sides.
      if (first == '-') {
        AppendColored(out, kColorOld, line);
        if (old_left) --old_left;
      } else if (first == '+') {
        AppendColored(out, kColorNew, line);
        if (new_left) --new_left;
      } else {
        out.append(line.data(), narrow_buffer::size_type(line.size()));
        if (old_left) --old_left;
        if (new_left) --new_left;
      }
    } else if (ReadHunkHeader(line, old_left, new_left)) {
      AppendColored(out, kColorFrag, line);
    } else if (line.substr(0, 4) == "--- " || line.substr(0, 4) == "+++ ") {
      AppendColored(out, kColorMeta, line);
    } else {
      out.append(line.data(), narrow_buffer::size_type(line.size()));
    }
  }
}

bool UseColors(ColorChoice choice, bool to_terminal, bool no_color_requested) {
  switch (choice) {
    case ColorChoice::always:
      return true;
    case ColorChoice::never:
      return false;
    case ColorChoice::automatic:
      break;
  }
  return to_terminal && !no_color_requested;
}

}  // namespace Velk
