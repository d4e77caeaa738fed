#include "engine/stream_replacer.h"

#include <algorithm>
#include <cstring>

#include "engine/expand_template.h"
#include "engine/literal_copy.h"
#include "engine/match_walker.h"
#include "engine/translate.h"
#include "support/core/ascii.h"
#include "support/core/byte_search.h"

namespace Velk {
namespace {

// Offset just past the last line feed of window[0, length); 0 when none.
std::size_t end_of_last_line(const char* window, std::size_t length) {
  for (std::size_t i = length; i > 0; --i)
    if (window[i - 1] == '\n') return i;
  return 0;
}

}  // namespace

bool stream_replacer::can_stream(FindMethod method, const Matcher& matcher) {
  switch (method) {
    case FindMethod::Literal:
    case FindMethod::LiteralNoCase:
      return true;
    case FindMethod::Regex:
      return matcher.empty() || matcher.line_bounded();
    case FindMethod::None:
      break;
  }
  return false;
}

stream_replacer::stream_replacer(FindMethod method, const narrow_buffer& find,
                                 narrow_buffer replacement, const Matcher& matcher)
    : method_(method),
      find_(find),
      finder_(find_.c_str(), find_.length(), method == FindMethod::LiteralNoCase),
      replacement_(std::move(replacement)),
      matcher_(matcher) {
  if (method_ == FindMethod::Regex) {
    translate_escapes(replacement_, '\\', control_escape_table(), false, true);
    span_need_ = template_span_need(replacement_);
  }
}

std::unique_ptr<stream_replacer> stream_replacer::twin() const {
  if (method_ == FindMethod::Regex) return nullptr;
  return std::make_unique<stream_replacer>(method_, find_, replacement_, matcher_);
}

bool stream_replacer::begins_match_in(const char* window, std::size_t length, std::size_t kept,
                                      bool at_end) const {
  if (find_.empty() || kept == 0) return false;
  // A match that begins in the kept bytes ends within kept + find length - 1.
  const std::size_t reach = kept + find_.length() - 1;
  if (length < reach && !at_end) return true;
  const char* match = finder_.find(window, std::min(length, reach));
  return match && std::size_t(match - window) < kept;
}

std::size_t stream_replacer::feed(const char* window, std::size_t length, bool at_end,
                                  narrow_buffer& out) {
  passed_ = false;
  if (method_ == FindMethod::Regex) return feed_regex(window, length, at_end, out);
  return feed_literal(window, length, at_end, out);
}

namespace {

// Appends to a buffer through a plain pointer: room is made only when a
// piece would not fit, so the buffer's own checks are paid per growth, not
// per match. The buffer is private and terminated again at the end.
class append_cursor {
 public:
  append_cursor(narrow_buffer& out, std::size_t expected) : out_(out) {
    out_.reserve_grow(out_.length() + expected + 1);
    Take();
    used_ = out_.length();
  }
  ~append_cursor() {
    out_.set_length(narrow_buffer::size_type(used_));
    base_[used_] = '\0';
  }
  void put(const char* bytes, std::size_t count) {
    if (used_ + count + 1 > room_) {
      out_.set_length(narrow_buffer::size_type(used_));
      out_.reserve_grow(used_ + count + 1);
      Take();
    }
    std::memcpy(base_ + used_, bytes, count);
    used_ += count;
  }
  std::size_t length() const { return used_; }

 private:
  void Take() {
    base_ = out_.data();
    room_ = out_.capacity();
  }
  narrow_buffer& out_;
  char* base_ = nullptr;
  std::size_t room_ = 0;
  std::size_t used_ = 0;
};

}  // namespace

// A match that begins before length - (find length - 1) lies in the window
// whole, so every match found there is the whole text's; one that begins
// later may run on into the next piece, and those bytes are kept back.
std::size_t stream_replacer::feed_literal(const char* window, std::size_t length, bool at_end,
                                          narrow_buffer& out) {
  const std::size_t find_length = find_.length();
  // All of the window but a tail that may begin a match behind the last one.
  const auto consumed_after = [&](std::size_t copied) {
    return at_end || find_length == 0 ? length
                                      : length - kept_tail(window + copied, length - copied);
  };
  std::size_t copied = 0;
  bool searched = find_length == 0;
  if (!searched && !log_) {
    const literal_copy done = append_replacing(finder_, window, length, replacement_, out);
    copied = done.read;
    count_ += done.count;
    searched = done.searched;
    if (searched && done.count == 0 && pass_unchanged_) {
      passed_ = true;
      return consumed_after(0);
    }
  }
  append_cursor cursor(out, length - copied);
  const std::size_t out_base = cursor.length();
  if (!searched) {
    for (;;) {
      const char* match = finder_.find(window + copied, length - copied);
      if (!match) break;
      const std::size_t at = std::size_t(match - window);
      cursor.put(window + copied, at - copied);
      if (log_)
        log_->push_back({std::uint32_t(at), std::uint32_t(find_length),
                         std::uint32_t(cursor.length() - out_base), replacement_.length()});
      cursor.put(replacement_.c_str(), replacement_.length());
      copied = at + find_length;
      ++count_;
    }
  }
  const std::size_t consumed = consumed_after(copied);
  cursor.put(window + copied, consumed - copied);
  return consumed;
}

// Only a tail that begins the find text may begin a match that runs on into
// the next piece: the longest such tail is kept back, so that a piece whose
// end cannot begin a match is passed on whole (a pipe or a terminal line is
// seen at once). Finds longer than kShortFind keep find length - 1 bytes,
// which bounds the comparisons per piece.
std::size_t stream_replacer::kept_tail(const char* rest, std::size_t length) const {
  constexpr std::size_t kShortFind = 64;
  const std::size_t most = std::min<std::size_t>(length, find_.length() - 1);
  if (find_.length() > kShortFind) return most;
  const bool folded = method_ == FindMethod::LiteralNoCase;
  const char* find = find_.c_str();
  for (std::size_t keep = most; keep > 0; --keep) {
    const char* tail = rest + (length - keep);
    std::size_t same = 0;
    if (folded)
      while (same < keep && ascii::to_lower(tail[same]) == ascii::to_lower(find[same])) ++same;
    else
      while (same < keep && tail[same] == find[same]) ++same;
    if (same == keep) return keep;
  }
  return 0;
}

// Unless the window ends the text, it is searched up to the end of its
// last line, with REGEX_NOTEOL: no match contains a line feed, "^" at the
// window's start is the line beginning after a line feed (or the text's
// start), and "$" matches before each line feed exactly as in the whole
// text, but not at the cut, which begins the next line. A match found at
// the cut is empty and belongs to the next window, whose search from the
// cut finds what the whole text's search would. A window that ends with a
// line feed is worked whole, so that a pipe or a terminal sees each line
// as it comes; should the text end there, the next window is empty, and
// the one match the whole text's search could still find, an empty one at
// its very end, is looked for in the kept last line.
std::size_t stream_replacer::feed_regex(const char* window, std::size_t length, bool at_end,
                                        narrow_buffer& out) {
  if (length == 0) {
    if (at_end) finish_last_line(out);
    return 0;
  }
  last_line_kept_ = false;
  const std::size_t cut = at_end ? length : end_of_last_line(window, length);
  if (cut == 0) return 0;
  std::size_t copied = 0;
  const std::size_t out_base = out.length();
  if (!matcher_.empty()) {
    match_subject subject(window, std::uint32_t(cut));
    match_walker walker(*matcher_.engine(), subject, 0, at_end ? 0 : REGEX_NOTEOL, span_need_);
    while (walker.next(spans_)) {
      const MatchSpan match = spans_[0];
      if (!at_end && match.start == cut) break;
      out.append(window + copied, std::uint32_t(match.start - copied));
      expand_template_into(expanded_, replacement_, window, spans_);
      if (log_)
        log_->push_back({match.start, match.length, std::uint32_t(out.length() - out_base),
                         expanded_.length()});
      out.append(expanded_);
      copied = std::size_t(match.start) + match.length;
      ++count_;
    }
  }
  if (!at_end && cut == length && !matcher_.empty()) keep_last_line(window, cut);
  out.append(window + copied, std::uint32_t(cut - copied));
  return cut;
}

// A search of the last line from its start meets the matches the window's
// search met in it (none crosses a line feed, and the line begins a line
// as it did there), so it comes to the very end as the whole text's search
// would: with a search that begins before it, or none.
void stream_replacer::keep_last_line(const char* window, std::size_t cut) {
  const std::size_t line = end_of_last_line(window, cut - 1);
  last_line_.assign(window + line, narrow_buffer::size_type(cut - line));
  last_line_kept_ = true;
}

void stream_replacer::finish_last_line(narrow_buffer& out) {
  if (!last_line_kept_) return;
  last_line_kept_ = false;
  const std::uint32_t end = last_line_.length();
  match_subject subject(last_line_.c_str(), end);
  match_walker walker(*matcher_.engine(), subject, 0, 0, span_need_);
  while (walker.next(spans_)) {
    if (spans_[0].start != end) continue;
    // An empty match, and so are its groups: they take nothing of the line.
    expand_template_into(expanded_, replacement_, last_line_.c_str(), spans_);
    if (log_) log_->push_back({0, 0, 0, expanded_.length()});
    out.append(expanded_);
    ++count_;
    return;
  }
}

}  // namespace Velk
