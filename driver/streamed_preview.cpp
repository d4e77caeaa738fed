#include "driver/streamed_preview.h"

#include "driver/diff_colors.h"
#include "driver/diff_lines.h"

namespace Velk {
namespace {

// Bytes no longer needed are dropped once they are as many as those kept
// (and not fewer than slack), so each byte is moved at most once on average.
void DropFront(narrow_buffer& text, std::uint64_t& base, std::uint64_t needed,
               std::size_t slack) {
  if (needed <= base) return;
  const std::size_t dead = std::size_t(needed - base);
  if (dead < slack || dead < text.length() - dead) return;
  text.erase(0, narrow_buffer::size_type(dead));
  base = needed;
}

}  // namespace

CStreamedPreview::CStreamedPreview(const narrow_buffer& name, bool colored, Writer write,
                                   std::size_t slack)
    : name_(name),
      colored_(colored),
      write_(std::move(write)),
      slack_(slack),
      diff_(hunks_, name_) {}

void CStreamedPreview::PieceInput(const char* input, const ReplacementLog& log) {
  input_ = input;
  log_ = &log;
}

void CStreamedPreview::Piece(const narrow_buffer& out, std::uint64_t input_start,
                             std::size_t input_length, bool) {
  const std::uint64_t output_start = new_base_ + new_.length();
  old_.append(input_, narrow_buffer::size_type(input_length));
  new_.append(out.c_str(), out.length());
  __SetTexts(false);
  for (const REPLACEMENT_RECORD& record : *log_)
    diff_.Add({input_start + record.input_start, record.input_length,
               output_start + record.output_start, record.output_length});
  diff_.Advance();
  __Write();
  __LetGo();
}

void CStreamedPreview::Finish() {
  __SetTexts(true);
  diff_.Finish();
  __Write();
}

void CStreamedPreview::__SetTexts(bool complete) {
  diff_.SetTexts({TextView(old_), old_base_, complete}, {TextView(new_), new_base_, complete});
}

void CStreamedPreview::__Write() {
  if (hunks_.empty()) return;
  if (colored_) {
    colored_hunks_.clear();
    AppendColoredDiff(colored_hunks_, hunks_);
    write_(colored_hunks_);
  } else {
    write_(hunks_);
  }
  hunks_.clear();
}

void CStreamedPreview::__LetGo() {
  DropFront(old_, old_base_, diff_.OldNeeded(), slack_);
  DropFront(new_, new_base_, diff_.NewNeeded(), slack_);
}

}  // namespace Velk
