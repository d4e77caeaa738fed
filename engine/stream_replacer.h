// stream_replacer: replace-all over a text that arrives in pieces, for the
// finds whose matches are bounded so that a piece can be decided without
// the rest: literal finds (a match is the find text's length) and
// regular-expression finds whose matches provably stay within a line
// (Matcher::line_bounded). The result and the count are byte for byte those
// of the whole-text loops (replace_all.h) over the whole text, in either
// memory mode, wherever the pieces are cut.
//
// The engine does no I/O. The caller keeps a window: the bytes not yet
// consumed, followed by what it read since. feed() replaces every match it
// can decide in the window, appends the result of the window's first
// `consumed` bytes to out and returns consumed; the caller keeps the rest
// of the window, in front of what it reads next. A literal find keeps back
// at most find length - 1 bytes, and only a tail that may begin a match; a
// regular-expression find keeps back the unfinished last line (consumed is
// 0 when the window holds no line feed: the caller then reads more into a
// larger window). With at_end the window is the end of the text and is
// consumed whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/find_method.h"
#include "engine/match_span.h"
#include "engine/replacement_log.h"
#include "support/core/basic_buffer.h"
#include "support/core/byte_search.h"

namespace Velk {

class stream_replacer {
 public:
  // Whether the find can be worked in pieces. A regular-expression find
  // with an empty matcher (an invalid pattern) can: it passes the text on.
  static bool can_stream(FindMethod method, const Matcher& matcher);

  // find: the literal find text; matcher: the compiled expression (searched
  // from the calling thread); replacement: the literal replacement or the
  // template (control escapes are translated here, once).
  stream_replacer(FindMethod method, const narrow_buffer& find, narrow_buffer replacement,
                  const Matcher& matcher);
  // finder_ points into find_.
  stream_replacer(const stream_replacer&) = delete;
  stream_replacer& operator=(const stream_replacer&) = delete;

  // window[0, length) as described above; length must stay below 4 GiB.
  std::size_t feed(const char* window, std::size_t length, bool at_end, narrow_buffer& out);

  // Replacements made so far.
  std::uint64_t count() const { return count_; }
  void add_count(std::uint64_t replacements) { count_ += replacements; }

  // For a literal find, a window may be fed from any byte at which the whole
  // text's search would look for its next match: a twin (same find, its own
  // count) can feed window[kept, length) on another thread while this one
  // feeds what comes before. When the window's first kept bytes are those
  // the feed before kept back, the twin's result is the whole text's exactly
  // when no match begins in them, which begins_match_in tells (at_end as for
  // the feed of the window; a window too short to tell counts as a match).
  // twin() is null for a regular-expression find.
  std::unique_ptr<stream_replacer> twin() const;
  bool begins_match_in(const char* window, std::size_t length, std::size_t kept,
                       bool at_end) const;
  // What a literal find keeps back at most: find length - 1 bytes.
  std::size_t literal_keep() const { return find_.empty() ? 0 : find_.length() - 1; }

  // From now on each feed() appends to log one record per replacement, its
  // input offsets from the window's start and its output offsets from
  // where that feed() began to append to out (a preview needs them; null
  // records nothing).
  void set_log(ReplacementLog* log) { log_ = log; }

  // From now on a window of a literal find without a match (and without a
  // log) appends nothing to out: its result is window[0, consumed) itself,
  // which passed() tells after the feed, so that a caller handing the
  // result on at once has nothing copied.
  void set_pass_unchanged(bool pass) { pass_unchanged_ = pass; }
  bool passed() const { return passed_; }

 private:
  std::size_t feed_literal(const char* window, std::size_t length, bool at_end,
                           narrow_buffer& out);
  std::size_t feed_regex(const char* window, std::size_t length, bool at_end,
                         narrow_buffer& out);
  std::size_t kept_tail(const char* rest, std::size_t length) const;
  void keep_last_line(const char* window, std::size_t cut);
  void finish_last_line(narrow_buffer& out);

  FindMethod method_;
  narrow_buffer find_;
  byte_finder finder_;
  narrow_buffer replacement_;
  Matcher matcher_;
  std::uint32_t span_need_ = 1;
  SpanList spans_;
  narrow_buffer expanded_;
  // A regular-expression find's window cut at its end, behind a line feed:
  // its last line, for an empty match at the very end should the text end
  // there.
  narrow_buffer last_line_;
  bool last_line_kept_ = false;
  std::uint64_t count_ = 0;
  ReplacementLog* log_ = nullptr;
  bool pass_unchanged_ = false;
  bool passed_ = false;
};

}  // namespace Velk
