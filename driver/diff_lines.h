// Lines of text as a unified diff handles them: a line ends after its "\n"
// (or at the end of the text), and a diff body line is one prefix byte
// (" ", "-" or "+") and the line, with "\ No newline at end of file" after
// a last line without a line feed. Shared by the preview and the review.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/core/basic_buffer.h"

namespace Velk {

inline std::string_view TextView(const narrow_buffer& text) {
  return std::string_view(text.data() ? text.data() : "", text.length());
}

// The start of the line holding pos, looking back no further than floor
// (itself a line start).
inline std::size_t LineStart(std::string_view text, std::size_t pos, std::size_t floor = 0) {
  while (pos > floor && text[pos - 1] != '\n') --pos;
  return pos;
}

// The end of the line that starts at pos: past its line feed, or the end of
// the text.
inline std::size_t LineEnd(std::string_view text, std::size_t pos) {
  const std::size_t feed = text.find('\n', pos);
  return feed == std::string_view::npos ? text.size() : feed + 1;
}

// Appends the lines of text in [begin, end) as diff body lines.
inline void AppendDiffLines(narrow_buffer& out, char prefix, std::string_view text,
                            std::size_t begin, std::size_t end) {
  while (begin < end) {
    const std::size_t line_end = std::min(LineEnd(text, begin), end);
    out.push_back(prefix);
    out.append(text.data() + begin, narrow_buffer::size_type(line_end - begin));
    if (text[line_end - 1] != '\n') out.append("\n\\ No newline at end of file\n");
    begin = line_end;
  }
}

// A hunk header's range as diff writes it: "start,count", only "start" for
// one line, and for no line the number of the line before it.
inline void AppendDiffRange(narrow_buffer& out, std::uint64_t start, std::uint64_t count) {
  out.append_number(count == 0 ? start - 1 : start, 10);
  if (count != 1) {
    out.push_back(',');
    out.append_number(count, 10);
  }
}

}  // namespace Velk
