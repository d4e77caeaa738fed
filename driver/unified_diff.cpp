#include "driver/unified_diff.h"

#include "driver/diff_lines.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "support/core/c_escape.h"

namespace Velk {
namespace {

constexpr std::uint64_t kContextLines = 3;
constexpr std::uint64_t kNone = std::uint64_t(-1);

// The line feeds in [p, end), eight bytes at a time: a byte of x ^ kFeeds
// is zero where a line feed was, and each zero byte leaves a 1 in its lane
// of sums; a lane holds at most 255 before the lanes are added up. Numbering
// the lines is the one pass over the whole text, so it runs at about the
// speed of memchr.
std::size_t CountFeeds(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7Fu;
  constexpr std::uint64_t kFeeds = kOnes * '\n';
  constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FFu;
  std::size_t count = 0;
  while (end - p >= 8) {
    const std::size_t words = std::min<std::size_t>(std::size_t(end - p) / 8, 255);
    std::uint64_t sums = 0;
    for (std::size_t i = 0; i < words; ++i, p += 8) {
      std::uint64_t x;
      std::memcpy(&x, p, 8);
      x ^= kFeeds;
      sums += (~(((x & kLows) + kLows) | x) >> 7) & kOnes;
    }
    sums = (sums & kEvenBytes) + ((sums >> 8) & kEvenBytes);
    count += std::size_t((sums * 0x0001000100010001u) >> 48);
  }
  for (; p < end; ++p) count += *p == '\n';
  return count;
}

const char* Bytes(const DIFF_TEXT& text, std::uint64_t pos) {
  return text.bytes.data() + std::size_t(pos - text.base);
}

std::uint64_t CountLines(const DIFF_TEXT& text, std::uint64_t begin, std::uint64_t end) {
  const std::uint64_t feeds = CountFeeds(Bytes(text, begin), Bytes(text, end));
  return feeds + (end > begin && text.At(end - 1) != '\n' ? 1 : 0);
}

// The first line feed in [begin, end), or kNone.
std::uint64_t FindFeed(const DIFF_TEXT& text, std::uint64_t begin, std::uint64_t end) {
  if (begin >= end) return kNone;
  const char* from = Bytes(text, begin);
  const void* feed = std::memchr(from, '\n', std::size_t(end - begin));
  return feed ? begin + std::uint64_t(static_cast<const char*>(feed) - from) : kNone;
}

// The end of the line that starts at pos, but no further than end.
std::uint64_t LineEndBefore(const DIFF_TEXT& text, std::uint64_t pos, std::uint64_t end) {
  const std::uint64_t feed = FindFeed(text, pos, end);
  return feed == kNone ? end : feed + 1;
}

// The start of the line holding pos, looking back no further than floor
// nor than the bytes known.
std::uint64_t LineStartAfter(const DIFF_TEXT& text, std::uint64_t pos, std::uint64_t floor) {
  floor = std::max(floor, text.base);
  while (pos > floor && text.At(pos - 1) != '\n') --pos;
  return pos;
}

// True when [begin, end) holds whole lines of text.
bool EndsLine(const DIFF_TEXT& text, std::uint64_t begin, std::uint64_t end) {
  return end == begin || (text.complete && end == text.End()) || text.At(end - 1) == '\n';
}

// The start of the context before the line that starts at begin: up to
// kContextLines lines, their number in lines.
std::uint64_t ContextBefore(const DIFF_TEXT& text, std::uint64_t begin, std::uint64_t& lines) {
  lines = 0;
  while (lines < kContextLines && begin > text.base) {
    begin = LineStartAfter(text, begin - 1, 0);
    ++lines;
  }
  return begin;
}

}  // namespace

// Grows one block over changes on the same or on adjacent lines. Its end is
// first where the last change ended and is moved to the end of that line
// once the next change is known to lie further on; the bytes after a
// change are the same in both texts up to the next. Changes that leave
// their bytes as they were are not shown.
void CUnifiedDiff::Add(const DIFF_CHANGE& change) {
  if (change.old_length == change.new_length &&
      old_.View(change.old_start, change.old_start + change.old_length) ==
          new_.View(change.new_start, change.new_start + change.new_length))
    return;
  const std::uint64_t start = change.old_start;
  if (block_open_ && !whole_lines_) {
    const std::uint64_t feed = FindFeed(old_, block_.old_end, start);
    if (feed != kNone) __ExtendToLineEnd(feed + 1);
  }
  if (block_open_ && whole_lines_ && LineStartAfter(old_, start, block_.old_end) > block_.old_end)
    __EndBlock();
  if (!block_open_) {
    block_.old_begin = LineStartAfter(old_, start, floor_);
    block_.new_begin = std::uint64_t(std::int64_t(block_.old_begin) + shift_);
    std::uint64_t lines;
    block_context_ = ContextBefore(old_, block_.old_begin, lines);
    block_open_ = true;
  }
  block_.old_end = start + change.old_length;
  block_.new_end = change.new_start + change.new_length;
  whole_lines_ = EndsLine(old_, block_.old_begin, block_.old_end) &&
                 EndsLine(new_, block_.new_begin, block_.new_end);
}

// What Add would do at the next change, done as soon as the text known
// shows that any later change lies on a later line: the block ends at the
// next line feed, and a hunk ends when more than twice its context of
// unchanged lines follow it.
void CUnifiedDiff::Advance() {
  const std::uint64_t known = old_.End();
  // The starts of the last lines, from the bytes not scanned yet.
  std::uint64_t found[4];
  int count = 0;
  for (std::uint64_t pos = known; pos > scanned_ && count < 4; --pos)
    if (old_.At(pos - 1) == '\n') found[count++] = pos;
  for (int k = 3; k >= 0; --k)
    recent_starts_[k] = k < count ? found[k] : recent_starts_[k - count];
  scanned_ = known;

  if (block_open_ && recent_starts_[0] > block_.old_end) {
    if (!whole_lines_) __ExtendToLineEnd(FindFeed(old_, block_.old_end, known) + 1);
    if (recent_starts_[0] > block_.old_end) __EndBlock();
  }
  if (!block_open_ && hunk_open_ &&
      __LineNumberAt(recent_starts_[0]) - last_end_line_ > 2 * kContextLines)
    __Close();
  // The line numbers are counted up to what is let go.
  const std::uint64_t needed = OldNeeded();
  if (cursor_pos_ < needed) __LineNumberAt(needed);
}

void CUnifiedDiff::Finish() {
  if (block_open_) {
    if (!whole_lines_) __ExtendToLineEnd(LineEndBefore(old_, block_.old_end, old_.End()));
    __AddBlock(block_);
    block_open_ = false;
  }
  if (hunk_open_) __Close();
}

std::uint64_t CUnifiedDiff::OldNeeded() const {
  // A later block starts on the line of the first byte not known, or on
  // the open block's first line, and its context goes back three lines.
  std::uint64_t needed = block_open_ ? block_context_ : recent_starts_[3];
  if (hunk_open_) needed = std::min(needed, last_end_);
  return needed;
}

std::uint64_t CUnifiedDiff::NewNeeded() const {
  return block_open_ ? block_.new_begin
                     : std::uint64_t(std::int64_t(recent_starts_[0]) + shift_);
}

void CUnifiedDiff::__ExtendToLineEnd(std::uint64_t end) {
  block_.new_end += end - block_.old_end;
  block_.old_end = end;
  whole_lines_ = true;
}

void CUnifiedDiff::__EndBlock() {
  __AddBlock(block_);
  floor_ = block_.old_end;
  shift_ = std::int64_t(block_.new_end) - std::int64_t(block_.old_end);
  block_open_ = false;
}

// Writes the hunks of the blocks in order, numbering lines with one cursor
// that only moves forward; hunks whose context would touch or overlap are
// one.
void CUnifiedDiff::__AddBlock(CHANGE_BLOCK block) {
  __TrimEqualLines(block);
  if (block.old_begin == block.old_end && block.new_begin == block.new_end) return;

  const std::uint64_t line = __LineNumberAt(block.old_begin);
  const std::uint64_t old_lines = CountLines(old_, block.old_begin, block.old_end);
  const std::uint64_t new_lines = CountLines(new_, block.new_begin, block.new_end);
  if (hunk_open_ && line - last_end_line_ <= 2 * kContextLines) {
    __AppendContext(last_end_, block.old_begin, line - last_end_line_);
  } else {
    if (hunk_open_) __Close();
    __Open(block.old_begin, line);
  }
  AppendDiffLines(body_, '-', old_.bytes, std::size_t(block.old_begin - old_.base),
                  std::size_t(block.old_end - old_.base));
  AppendDiffLines(body_, '+', new_.bytes, std::size_t(block.new_begin - new_.base),
                  std::size_t(block.new_end - new_.base));
  old_count_ += old_lines;
  new_count_ += new_lines;
  last_end_ = block.old_end;
  last_end_line_ = line + old_lines;
  line_shift_ += std::int64_t(new_lines) - std::int64_t(old_lines);
}

// Lines equal at the start or at the end of both sides are context.
void CUnifiedDiff::__TrimEqualLines(CHANGE_BLOCK& block) const {
  while (block.old_begin < block.old_end && block.new_begin < block.new_end) {
    const std::uint64_t old_end = LineEndBefore(old_, block.old_begin, block.old_end);
    const std::uint64_t new_end = LineEndBefore(new_, block.new_begin, block.new_end);
    if (old_.View(block.old_begin, old_end) != new_.View(block.new_begin, new_end)) break;
    block.old_begin = old_end;
    block.new_begin = new_end;
  }
  while (block.old_begin < block.old_end && block.new_begin < block.new_end) {
    const std::uint64_t old_start = LineStartAfter(old_, block.old_end - 1, block.old_begin);
    const std::uint64_t new_start = LineStartAfter(new_, block.new_end - 1, block.new_begin);
    if (old_.View(old_start, block.old_end) != new_.View(new_start, block.new_end)) break;
    block.old_end = old_start;
    block.new_end = new_start;
  }
}

// The number (from 1) of the old line that starts at pos.
std::uint64_t CUnifiedDiff::__LineNumberAt(std::uint64_t pos) {
  cursor_line_ += CountFeeds(Bytes(old_, cursor_pos_), Bytes(old_, pos));
  cursor_pos_ = pos;
  return cursor_line_;
}

void CUnifiedDiff::__Open(std::uint64_t begin, std::uint64_t line) {
  std::uint64_t context_lines;
  const std::uint64_t context_begin = ContextBefore(old_, begin, context_lines);
  hunk_open_ = true;
  body_.clear();
  old_start_ = line - context_lines;
  new_start_ = std::uint64_t(std::int64_t(old_start_) + line_shift_);
  old_count_ = new_count_ = 0;
  __AppendContext(context_begin, begin, context_lines);
}

void CUnifiedDiff::__Close() {
  std::uint64_t context_end = last_end_;
  std::uint64_t context_lines = 0;
  while (context_lines < kContextLines && context_end < old_.End()) {
    context_end = LineEndBefore(old_, context_end, old_.End());
    ++context_lines;
  }
  __AppendContext(last_end_, context_end, context_lines);

  if (!header_written_) {
    out_.append("--- ").append(name_).append("\n+++ ").append(name_).push_back('\n');
    header_written_ = true;
  }
  out_.append("@@ -");
  AppendDiffRange(out_, old_start_, old_count_);
  out_.append(" +");
  AppendDiffRange(out_, new_start_, new_count_);
  out_.append(" @@\n");
  out_.append(body_);
  hunk_open_ = false;
}

void CUnifiedDiff::__AppendContext(std::uint64_t begin, std::uint64_t end, std::uint64_t lines) {
  AppendDiffLines(body_, ' ', old_.bytes, std::size_t(begin - old_.base),
                  std::size_t(end - old_.base));
  old_count_ += lines;
  new_count_ += lines;
}

void AppendUnifiedDiff(narrow_buffer& out, const narrow_buffer& name,
                       const narrow_buffer& original, const narrow_buffer& result,
                       const ReplacementLog& log) {
  CUnifiedDiff diff(out, name);
  diff.SetTexts({TextView(original), 0, true}, {TextView(result), 0, true});
  for (const REPLACEMENT_RECORD& record : log)
    diff.Add({record.input_start, record.input_length, record.output_start,
              record.output_length});
  diff.Finish();
}

narrow_buffer QuoteDiffName(const narrow_buffer& name) {
  const auto needs = [](char each) {
    const unsigned char byte = static_cast<unsigned char>(each);
    return IsControlByte(byte) || byte >= 0x80 || byte == ' ' || byte == '"' || byte == '\\';
  };
  if (std::none_of(name.begin(), name.end(), needs)) return name;
  narrow_buffer quoted;
  quoted.reserve_grow(size_t(name.length()) + 16);
  quoted.push_back('"');
  for (const char each : name) {
    if (needs(each) && each != ' ')
      AppendCEscape(quoted, static_cast<unsigned char>(each));
    else
      quoted.push_back(each);
  }
  quoted.push_back('"');
  return quoted;
}

narrow_buffer DiffName(const narrow_buffer& full_name, const narrow_buffer& current_folder) {
  const narrow_buffer::size_type prefix = current_folder.length();
  if (prefix != 0 && full_name.length() > prefix &&
      full_name.compare(0, prefix, current_folder.c_str(), prefix) == 0)
    return QuoteDiffName(full_name.substr(prefix));
  return QuoteDiffName(full_name);
}

}  // namespace Velk
