// inplace_rewriter: rewrites a text front to back inside its own buffer.
//
// The buffer holds [output written so far][gap][original text not yet
// consumed]. Copying an unmatched stretch moves it only when a gap exists,
// and a replacement never moves the rest of the text: the gap absorbs the
// difference, and when the output must grow past the unread text, the block
// grows by the buffer's growth policy and the unread text moves to its end
// once. A whole rewrite is therefore linear in the text and its result,
// while the in-place loops keep their single buffer.
//
// Offsets passed in and returned are offsets in the original text. The text
// must not be touched through other means until finish() has run.
//
// The output overwrites the original text behind the unread part; the one
// original byte a search needs as its left context, the byte before the
// unread text, is kept and put back in front of the unread text for the
// duration of a search (with_original_context).
#pragma once

#include <cstdint>
#include <cstring>

#include "support/core/basic_buffer.h"

namespace Velk {

class inplace_rewriter {
 public:
  using size_type = narrow_buffer::size_type;

  explicit inplace_rewriter(narrow_buffer& text)
      : text_(text), original_length_(text.length()) {
    text_.reserve_exact(std::size_t(original_length_) + 1);  // private block
  }

  // Original offset where the unread text begins.
  size_type consumed() const { return consumed_; }
  size_type output_length() const { return output_; }
  // Where the unread text lies now; valid until the next write.
  const char* unread() const { return text_.data() + tail_; }
  size_type unread_length() const { return original_length_ - consumed_; }
  // The distance from an original offset >= consumed() to its place now.
  std::int64_t shift() const { return std::int64_t(tail_) - std::int64_t(consumed_); }

  // Moves the unread text up to original offset end into the output.
  void copy_through(size_type end) {
    const size_type count = end - consumed_;
    if (count == 0) return;
    if (output_ != tail_) std::memmove(text_.data() + output_, text_.data() + tail_, count);
    output_ += count;
    tail_ += count;
    consumed_ = end;
    before_unread_ = text_.data()[output_ - 1];
  }

  // Drops the unread text up to original offset end.
  void skip_to(size_type end) {
    if (end == consumed_) return;
    tail_ += end - consumed_;
    consumed_ = end;
    before_unread_ = text_.data()[tail_ - 1];
  }

  // Runs search() with the original byte before the unread text in place
  // in front of it (when anything was consumed), restoring whatever output
  // byte lay there afterwards; returns what search() returns.
  template <class F>
  auto with_original_context(F search) {
    if (consumed_ == 0) return search();
    char& slot = text_.data()[tail_ - 1];
    const char covered = slot;
    slot = before_unread_;
    struct restore {
      char& slot;
      char covered;
      ~restore() { slot = covered; }
    } restore_after{slot, covered};
    return search();
  }

  void write(const char* bytes, size_type count) {
    if (count > tail_ - output_) make_room(count);
    std::memcpy(text_.data() + output_, bytes, count);
    output_ += count;
  }

  // Moves the rest of the text into place and sets the final length.
  void finish() {
    copy_through(original_length_);
    text_.set_length(output_);
    text_.data()[output_] = '\0';
  }

 private:
  // Grows the block so that count more output bytes fit before the unread
  // text, which moves to the end of the grown block.
  void make_room(size_type count) {
    const size_type unread = original_length_ - consumed_;
    const std::size_t needed = std::size_t(output_) + count + unread + 1;
    text_.set_length(tail_ + unread);  // the block's contents, for its copy
    text_.reserve_grow(needed);
    const size_type new_tail = text_.capacity() - 1 - unread;
    std::memmove(text_.data() + new_tail, text_.data() + tail_, unread);
    tail_ = new_tail;
  }

  narrow_buffer& text_;
  const size_type original_length_;
  size_type consumed_ = 0;  // original offset of the first unread byte
  size_type output_ = 0;    // bytes of output at the front of the block
  size_type tail_ = 0;      // block offset of the first unread byte
  char before_unread_ = 0;  // original byte at consumed_ - 1
};

}  // namespace Velk
