#include "driver/unified_diff.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "support/core/c_escape.h"

namespace Velk {
namespace {

constexpr std::size_t kContextLines = 3;
constexpr std::size_t npos = std::string_view::npos;

std::string_view View(const narrow_buffer& text) {
  return std::string_view(text.data() ? text.data() : "", text.length());
}

bool IsNoChange(std::string_view original, std::string_view result,
                const REPLACEMENT_RECORD& record) {
  return record.input_length == record.output_length &&
         original.compare(record.input_start, record.input_length, result,
                          record.output_start, record.output_length) == 0;
}

// The start of the line holding pos, looking back no further than floor
// (itself a line start).
std::size_t LineStart(std::string_view text, std::size_t pos, std::size_t floor) {
  while (pos > floor && text[pos - 1] != '\n') --pos;
  return pos;
}

// The end of the line that starts at pos: past its line feed, or the end of
// the text.
std::size_t LineEnd(std::string_view text, std::size_t pos) {
  const std::size_t feed = text.find('\n', pos);
  return feed == npos ? text.size() : feed + 1;
}

// True when [begin, end) holds whole lines of text.
bool EndsLine(std::string_view text, std::size_t begin, std::size_t end) {
  return end == begin || end == text.size() || text[end - 1] == '\n';
}

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

std::size_t CountLines(std::string_view text, std::size_t begin, std::size_t end) {
  const std::size_t feeds = CountFeeds(text.data() + begin, text.data() + end);
  return feeds + (end > begin && text[end - 1] != '\n' ? 1 : 0);
}

// Whole lines that differ between the old and the new text: old [old_begin,
// old_end) became new [new_begin, new_end); the text before and after is
// the same in both.
struct CHANGE_BLOCK {
  std::size_t old_begin, old_end;
  std::size_t new_begin, new_end;
};

// Writes the hunks of the blocks it is given in order, numbering lines with
// one cursor that only moves forward.
class CHunkWriter {
 public:
  CHunkWriter(narrow_buffer& out, const narrow_buffer& name, std::string_view old_text,
              std::string_view new_text)
      : out_(out), name_(name), old_(old_text), new_(new_text) {}

  void Add(CHANGE_BLOCK block) {
    TrimEqualLines(block);
    if (block.old_begin == block.old_end && block.new_begin == block.new_end) return;

    const std::size_t line = LineNumberAt(block.old_begin);
    const std::size_t old_lines = CountLines(old_, block.old_begin, block.old_end);
    const std::size_t new_lines = CountLines(new_, block.new_begin, block.new_end);
    if (open_ && line - last_end_line_ <= 2 * kContextLines) {
      AppendContext(last_end_, block.old_begin, line - last_end_line_);
    } else {
      if (open_) Close();
      Open(block.old_begin, line);
    }
    AppendLines('-', old_, block.old_begin, block.old_end);
    AppendLines('+', new_, block.new_begin, block.new_end);
    old_count_ += old_lines;
    new_count_ += new_lines;
    last_end_ = block.old_end;
    last_end_line_ = line + old_lines;
    line_shift_ += std::ptrdiff_t(new_lines) - std::ptrdiff_t(old_lines);
  }

  void Finish() {
    if (open_) Close();
  }

 private:
  // Lines equal at the start or at the end of both sides are context.
  void TrimEqualLines(CHANGE_BLOCK& block) const {
    while (block.old_begin < block.old_end && block.new_begin < block.new_end) {
      const std::size_t old_end = std::min(LineEnd(old_, block.old_begin), block.old_end);
      const std::size_t new_end = std::min(LineEnd(new_, block.new_begin), block.new_end);
      if (old_.substr(block.old_begin, old_end - block.old_begin) !=
          new_.substr(block.new_begin, new_end - block.new_begin))
        break;
      block.old_begin = old_end;
      block.new_begin = new_end;
    }
    while (block.old_begin < block.old_end && block.new_begin < block.new_end) {
      const std::size_t old_start = LineStart(old_, block.old_end - 1, block.old_begin);
      const std::size_t new_start = LineStart(new_, block.new_end - 1, block.new_begin);
      if (old_.substr(old_start, block.old_end - old_start) !=
          new_.substr(new_start, block.new_end - new_start))
        break;
      block.old_end = old_start;
      block.new_end = new_start;
    }
  }

  // The number (from 1) of the old line that starts at pos.
  std::size_t LineNumberAt(std::size_t pos) {
    cursor_line_ += CountFeeds(old_.data() + cursor_pos_, old_.data() + pos);
    cursor_pos_ = pos;
    return cursor_line_;
  }

  void Open(std::size_t begin, std::size_t line) {
    std::size_t context_begin = begin;
    std::size_t context_lines = 0;
    while (context_lines < kContextLines && context_begin > 0) {
      context_begin = LineStart(old_, context_begin - 1, 0);
      ++context_lines;
    }
    open_ = true;
    body_.clear();
    old_start_ = line - context_lines;
    new_start_ = std::size_t(std::ptrdiff_t(old_start_) + line_shift_);
    old_count_ = new_count_ = 0;
    AppendContext(context_begin, begin, context_lines);
  }

  void Close() {
    std::size_t context_end = last_end_;
    std::size_t context_lines = 0;
    while (context_lines < kContextLines && context_end < old_.size()) {
      context_end = LineEnd(old_, context_end);
      ++context_lines;
    }
    AppendContext(last_end_, context_end, context_lines);

    if (!header_written_) {
      out_.append("--- ").append(name_).append("\n+++ ").append(name_).push_back('\n');
      header_written_ = true;
    }
    out_.append("@@ -");
    AppendRange(old_start_, old_count_);
    out_.append(" +");
    AppendRange(new_start_, new_count_);
    out_.append(" @@\n");
    out_.append(body_);
    open_ = false;
  }

  void AppendContext(std::size_t begin, std::size_t end, std::size_t lines) {
    AppendLines(' ', old_, begin, end);
    old_count_ += lines;
    new_count_ += lines;
  }

  void AppendLines(char prefix, std::string_view text, std::size_t begin, std::size_t end) {
    while (begin < end) {
      const std::size_t line_end = std::min(LineEnd(text, begin), end);
      body_.push_back(prefix);
      body_.append(text.data() + begin, narrow_buffer::size_type(line_end - begin));
      if (text[line_end - 1] != '\n') body_.append("\n\\ No newline at end of file\n");
      begin = line_end;
    }
  }

  // A range as diff writes it: "start,count", only "start" for one line,
  // and for no line the number of the line before it.
  void AppendRange(std::size_t start, std::size_t count) {
    const std::size_t shown = count == 0 ? start - 1 : start;
    narrow_buffer number;
    number.assign_number(shown, 10);
    out_.append(number);
    if (count != 1) {
      number.assign_number(count, 10);
      out_.push_back(',');
      out_.append(number);
    }
  }

  narrow_buffer& out_;
  const narrow_buffer& name_;
  std::string_view old_;
  std::string_view new_;
  narrow_buffer body_;
  bool header_written_ = false;
  bool open_ = false;
  std::size_t old_start_ = 0, new_start_ = 0, old_count_ = 0, new_count_ = 0;
  std::size_t last_end_ = 0, last_end_line_ = 0;
  std::ptrdiff_t line_shift_ = 0;  // new line number minus old after the last block
  std::size_t cursor_pos_ = 0, cursor_line_ = 1;
};

}  // namespace

void AppendUnifiedDiff(narrow_buffer& out, const narrow_buffer& name,
                       const narrow_buffer& original, const narrow_buffer& result,
                       const ReplacementLog& log) {
  const std::string_view old_text = View(original);
  const std::string_view new_text = View(result);
  CHunkWriter writer(out, name, old_text, new_text);

  // Grows one block over replacements on the same or on adjacent lines. Its
  // end is first where the last replacement ended and is moved to the end
  // of that line once the next replacement is known to lie further on; the
  // bytes after a replacement are the same in both texts up to the next.
  CHANGE_BLOCK block{};
  bool open = false;
  bool whole_lines = false;
  std::size_t floor = 0;     // old text before it is done with
  std::ptrdiff_t shift = 0;  // new position minus old in the unchanged gap
  for (const REPLACEMENT_RECORD& record : log) {
    if (IsNoChange(old_text, new_text, record)) continue;
    const std::size_t start = record.input_start;
    if (open && !whole_lines) {
      const std::size_t feed = old_text.substr(0, start).find('\n', block.old_end);
      if (feed != npos) {
        block.new_end += feed + 1 - block.old_end;
        block.old_end = feed + 1;
        whole_lines = true;
      }
    }
    if (open && whole_lines) {
      const std::size_t line_start = LineStart(old_text, start, block.old_end);
      if (line_start > block.old_end) {
        writer.Add(block);
        floor = block.old_end;
        shift = std::ptrdiff_t(block.new_end) - std::ptrdiff_t(block.old_end);
        open = false;
      }
    }
    if (!open) {
      block.old_begin = LineStart(old_text, start, floor);
      block.new_begin = std::size_t(std::ptrdiff_t(block.old_begin) + shift);
      open = true;
    }
    block.old_end = start + record.input_length;
    block.new_end = std::size_t(record.output_start) + record.output_length;
    whole_lines = EndsLine(old_text, block.old_begin, block.old_end) &&
                  EndsLine(new_text, block.new_begin, block.new_end);
  }
  if (open) {
    if (!whole_lines) {
      const std::size_t end = LineEnd(old_text, block.old_end);
      block.new_end += end - block.old_end;
      block.old_end = end;
    }
    writer.Add(block);
  }
  writer.Finish();
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
