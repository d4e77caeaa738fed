// match_subject: the text a series of searches runs over (one loop over one
// input), as the matcher implementations see it.
//
// Offsets are positions in the whole text, 0 .. length(). A text of bytes
// is read through a window: the bytes from offset window_start() on lie at
// window(), and when window_start() > 0, window()[-1] holds the text's byte
// at window_start() - 1, the left context of a search that begins there.
// The expanding loop's window is the whole text; the in-place loop moves it
// along as its output overwrites what lies behind (inplace_rewriter.h), so
// nothing before window_start() - 1 may be read. The wide form (16-bit
// units, for the cached matcher) has no window: all units stay readable.
//
// An implementation may keep state for the text across the searches (the
// Tcl implementation keeps its converted copy there); it is made on first
// need and released with the subject. A subject belongs to one thread.
#pragma once

#include <cstdint>
#include <memory>

namespace Velk {

// What an implementation keeps for one subject.
class TSubjectState {
 public:
  virtual ~TSubjectState() = default;
};

class match_subject {
 public:
  match_subject(const char* bytes, std::uint32_t length) noexcept
      : bytes_(bytes), length_(length) {}
  match_subject(const char16_t* units, std::uint32_t length) noexcept
      : units_(units), length_(length) {}
  match_subject(const match_subject&) = delete;
  match_subject& operator=(const match_subject&) = delete;

  std::uint32_t length() const noexcept { return length_; }
  bool wide() const noexcept { return units_ != nullptr; }

  // The byte form's window.
  const char* window() const noexcept { return bytes_; }
  std::uint32_t window_start() const noexcept { return window_start_; }
  // The wide form's units, all of them.
  const char16_t* units() const noexcept { return units_; }

  // Whether the character at offset i (at least window_start() - 1) is a
  // line feed.
  bool is_line_feed(std::uint32_t i) const noexcept {
    if (units_) return units_[i] == u'\n';
    return (i >= window_start_ ? bytes_[i - window_start_] : bytes_[-1]) == '\n';
  }

  // The bytes from offset start on now lie at bytes (bytes[-1] holding the
  // byte before start when start > 0).
  void move_window(const char* bytes, std::uint32_t start) noexcept {
    bytes_ = bytes;
    window_start_ = start;
  }

  TSubjectState* state() const noexcept { return state_.get(); }
  void set_state(std::unique_ptr<TSubjectState> state) noexcept { state_ = std::move(state); }

 private:
  const char* bytes_ = nullptr;
  const char16_t* units_ = nullptr;
  std::uint32_t length_;
  std::uint32_t window_start_ = 0;
  std::unique_ptr<TSubjectState> state_;
};

}  // namespace Velk
