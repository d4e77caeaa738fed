// The preview of a rewrite: a unified diff of one input's old and new text,
// built from the replacement log of the loop that made the new text rather
// than by comparing the two texts. Only the lines around each replacement
// are looked at; the one pass over the rest of the text counts line feeds
// to number the lines.
//
// The output has the form "diff -u" writes (without time stamps): the lines
// "--- NAME" and "+++ NAME", then hunks "@@ -a,b +c,d @@" with three lines
// of context; hunks whose context would touch or overlap are one hunk, and
// "\ No newline at end of file" follows a last line that has no line feed.
// Lines end at "\n" only, so a "\r" is an ordinary byte of its line and
// CRLF text comes through byte for byte; so do NUL bytes (both "patch" and
// "git apply" take them), so a binary file's change replays too.
//
// Within the lines that a run of replacements touches, the lines equal at
// its start and at its end are shown as context; the rest as removed lines
// followed by added lines. Replacements that leave their bytes as they were
// change nothing and are not shown.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/replacement_log.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// A text as the diff reads it: the bytes known so far, from offset base on;
// complete once they run to the text's end.
struct DIFF_TEXT {
  std::string_view bytes;
  std::uint64_t base = 0;
  bool complete = true;

  std::uint64_t End() const { return base + bytes.size(); }
  char At(std::uint64_t pos) const { return bytes[std::size_t(pos - base)]; }
  std::string_view View(std::uint64_t begin, std::uint64_t end) const {
    return bytes.substr(std::size_t(begin - base), std::size_t(end - begin));
  }
};

// One replacement: old bytes [old_start, +old_length) became new bytes
// [new_start, +new_length), offsets into the whole texts.
struct DIFF_CHANGE {
  std::uint64_t old_start, old_length;
  std::uint64_t new_start, new_length;
};

// Builds the diff while the texts arrive: the changes are added in order,
// each once its bytes (and, for the "end of text" questions, the byte after
// it) are known. Advance closes the hunks no later change can join, so a
// streamed preview holds only the lines from OldNeeded()/NewNeeded() on:
// the context before the next change, the hunk being built and the context
// after it. The output is the same whatever pieces the texts come in.
class CUnifiedDiff {
 public:
  CUnifiedDiff(narrow_buffer& out, const narrow_buffer& name) : out_(out), name_(name) {}

  // The texts as far as they are known; they must hold every byte from
  // OldNeeded() and NewNeeded() on.
  void SetTexts(const DIFF_TEXT& old_text, const DIFF_TEXT& new_text) {
    old_ = old_text;
    new_ = new_text;
  }
  void Add(const DIFF_CHANGE& change);
  // Every change in the old text known so far was added: finishes what no
  // later change can join and appends the hunks finished to out.
  void Advance();
  // Both texts are complete and every change was added.
  void Finish();

  // The first old and new offsets a later step may read.
  std::uint64_t OldNeeded() const;
  std::uint64_t NewNeeded() const;

 private:
  // Whole lines that differ: old [old_begin, old_end) became new
  // [new_begin, new_end); the text before and after is the same in both.
  struct CHANGE_BLOCK {
    std::uint64_t old_begin, old_end;
    std::uint64_t new_begin, new_end;
  };

  void __ExtendToLineEnd(std::uint64_t end);
  void __EndBlock();
  void __AddBlock(CHANGE_BLOCK block);
  void __TrimEqualLines(CHANGE_BLOCK& block) const;
  std::uint64_t __LineNumberAt(std::uint64_t pos);
  std::uint64_t __ContextStart(std::uint64_t begin) const;
  void __Open(std::uint64_t begin, std::uint64_t line);
  void __Close();
  void __AppendContext(std::uint64_t begin, std::uint64_t end, std::uint64_t lines);

  narrow_buffer& out_;
  const narrow_buffer& name_;
  DIFF_TEXT old_, new_;

  // The block being grown over changes on the same or adjacent lines.
  CHANGE_BLOCK block_{};
  bool block_open_ = false;
  bool whole_lines_ = false;
  std::uint64_t block_context_ = 0;  // where the context before block_ may start
  std::uint64_t floor_ = 0;          // old text before it is done with
  std::int64_t shift_ = 0;           // new offset minus old in the unchanged gap

  // The hunk being built.
  narrow_buffer body_;
  bool header_written_ = false;
  bool hunk_open_ = false;
  std::uint64_t old_start_ = 0, new_start_ = 0, old_count_ = 0, new_count_ = 0;
  std::uint64_t last_end_ = 0, last_end_line_ = 0;
  std::int64_t line_shift_ = 0;  // new line number minus old after the last block
  std::uint64_t cursor_pos_ = 0, cursor_line_ = 1;

  // The starts of the last lines of the old text scanned so far, newest
  // first (0 where there are fewer lines).
  std::uint64_t scanned_ = 0;
  std::uint64_t recent_starts_[4] = {0, 0, 0, 0};
};

// The name a diff gives standard input.
inline constexpr const char kStandardInputDiffName[] = "(standard input)";

// Appends the diff that turns original into result. log: the records of the
// replace-all loop that made result from original, in order, with ranges
// that do not overlap. Appends nothing when no replacement changed a byte.
void AppendUnifiedDiff(narrow_buffer& out, const narrow_buffer& name,
                       const narrow_buffer& original, const narrow_buffer& result,
                       const ReplacementLog& log);

// name as "git diff" writes it: as it is, or, when it holds a blank, a
// quote, a backslash, a control byte or a byte above 0x7F, between double
// quotes with those bytes C-escaped (\t, \n, \", \\, \303...). "patch" and
// "git apply" read both forms, and no name can add a line to a diff.
narrow_buffer QuoteDiffName(const narrow_buffer& name);

// The NAME of a file in a diff, quoted by QuoteDiffName: its path relative
// to current_folder (a full folder path ending in "/") when the file lies
// below it, so that "patch -p0" run there finds it; its full name
// otherwise.
narrow_buffer DiffName(const narrow_buffer& full_name, const narrow_buffer& current_folder);

}  // namespace Velk
