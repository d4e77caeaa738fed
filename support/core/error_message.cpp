#include "support/core/error_message.h"

#include <algorithm>

#include "support/os/error.h"

namespace Velk {

narrow_buffer GetSysErrorDesc(int error_number) {
  char text[1025];
  os::error_text(error_number, text, sizeof text);
  narrow_buffer result(text);
  if (result.length() && result[result.length() - 1] == '\n')
    result.erase(result.length() - 1, 1);
  if (result.length() && result[result.length() - 1] == '\r')
    result.erase(result.length() - 1, 1);
  return result;
}

message_builder& message_builder::detail(const char* label,
                                         const narrow_buffer& value) {
  entries_.push_back({entry::labelled, narrow_buffer(label), value});
  return *this;
}

message_builder& message_builder::detail(const char* label,
                                         std::uint64_t value) {
  narrow_buffer text;
  text.assign_number(value, 10);
  return detail(label, text);
}

message_builder& message_builder::detail(const char* label, int value) {
  narrow_buffer text;
  if (value < 0) text.push_back('-');
  text.append_number(std::uint32_t(value < 0 ? -std::int64_t(value) : value), 10);
  return detail(label, text);
}

message_builder& message_builder::os_error(const char* number_label,
                                           const char* text_label,
                                           int error_number) {
  detail(number_label, error_number);
  return detail(text_label, GetSysErrorDesc(error_number));
}

message_builder& message_builder::line(const narrow_buffer& text) {
  entries_.push_back({entry::raw, narrow_buffer(), text});
  return *this;
}

message_builder& message_builder::cause(const narrow_buffer& lower_message) {
  return line(narrow_buffer::literal("@ ") + lower_message);
}

narrow_buffer message_builder::str() const {
  std::uint32_t width = min_width_;
  for (const entry& each : entries_)
    if (each.kind == entry::labelled) width = std::max(width, each.label.length());
  narrow_buffer text(head_, 0, narrow_buffer::npos);
  for (const entry& each : entries_) {
    text.push_back('\n');
    if (each.kind == entry::raw) {
      text.append(each.value);
      continue;
    }
    text.append("  ");
    text.append(each.label);
    for (std::uint32_t pad = each.label.length(); pad < width; ++pad)
      text.push_back(' ');
    text.append(" = ");
    text.append(each.value);
  }
  if (trailing_newline_) text.push_back('\n');
  return text;
}

}  // namespace Velk
