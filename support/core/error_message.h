// message_builder: the one way the library composes exception messages.
//
// Layout: a head line "Class::Method - what failed"; then, when there are
// details, one line per detail: two blanks, the label padded with blanks to
// the message's common width, " = " and the value; lines are separated by a
// line feed and, as a rule, the last line has none. When an OS call failed,
// its error number and its text (GetSysErrorDesc) come last. A wrapper that
// rethrows a lower exception appends "@ " and the lower message.
//
//   throw dirExp(12, message_builder("CDir::GetPwd - error get path of current working dir")
//                        .os_error("system error no", "system error desc", err)
//                        .str());
#pragma once

#include <cstdint>
#include <vector>

#include "support/core/basic_buffer.h"

namespace Velk {

// The system's text for an OS error number (errno here), without a trailing
// line feed or carriage return.
narrow_buffer GetSysErrorDesc(int error_number);

class message_builder {
 public:
  explicit message_builder(const char* head) : head_(head) {}
  explicit message_builder(const narrow_buffer& head) : head_(head) {}

  // Pads labels to at least this width (some messages share one width
  // across variants that list fewer labels).
  message_builder& label_width(std::uint32_t width) {
    min_width_ = width;
    return *this;
  }
  message_builder& detail(const char* label, const narrow_buffer& value);
  message_builder& detail(const char* label, const char* value) {
    return detail(label, narrow_buffer(value));
  }
  // The value in unsigned decimal.
  message_builder& detail(const char* label, std::uint64_t value);
  message_builder& detail(const char* label, std::uint32_t value) {
    return detail(label, std::uint64_t(value));
  }
  message_builder& detail(const char* label, int value);
  // Two details: the OS error number in decimal and its system text.
  message_builder& os_error(const char* number_label, const char* text_label,
                            int error_number);
  // A whole line after the head, written as given (no label, no padding).
  message_builder& line(const narrow_buffer& text);
  // "@ " and the message of a lower exception, on a line of its own.
  message_builder& cause(const narrow_buffer& lower_message);
  // The message ends with a line feed (a few messages do).
  message_builder& end_with_newline() {
    trailing_newline_ = true;
    return *this;
  }

  narrow_buffer str() const;
  operator narrow_buffer() const { return str(); }  // NOLINT: by design

 private:
  struct entry {
    enum kind_t { labelled, raw } kind;
    narrow_buffer label;
    narrow_buffer value;
  };
  narrow_buffer head_;
  std::vector<entry> entries_;
  std::uint32_t min_width_ = 0;
  bool trailing_newline_ = false;
};

}  // namespace Velk
