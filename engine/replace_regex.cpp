// The two regular-expression loops. Each converts its text for the engine
// once per call and reuses one span list and one expansion buffer for all
// matches.
#include <algorithm>

#include "engine/expand_template.h"
#include "engine/find_next.h"
#include "engine/inplace_rewriter.h"
#include "engine/replace_all.h"
#include "engine/translate.h"

namespace Velk {
namespace {

// find_next from start, skipping first to the next place where the bytes
// every match begins with occur (bytes is the text from original offset
// base on). No match can begin before that place, and the line-beginning
// flag cannot matter there, since the expression cannot match "^" before
// its first literal byte.
bool search_from(const narrow_buffer& bytes, std::uint32_t start, regex_subject& units,
                 SpanList& spans, const Matcher& matcher, bool notbol, bool noteol,
                 bool derive_bol, std::uint32_t need, std::uint32_t base = 0) {
  const narrow_buffer& prefix = matcher.literal_prefix();
  if (!prefix.empty()) {
    const std::uint32_t at = bytes.find(prefix, start);
    if (at == narrow_buffer::npos) return false;
    start = at;
  }
  return find_next(units, spans, matcher, 0, base + start, notbol, noteol, derive_bol, need);
}

}  // namespace

// The engine searches the original text, converted once; since every search
// resumes behind the replacement just inserted, what it sees from its start
// on is always original text. The edited text is built in the text's own
// block, and the one byte the edited text contributes to a search, the byte
// before its start, is read from the output built so far.
std::uint32_t replace_regex(narrow_buffer& text, const Matcher& matcher, narrow_buffer templ,
                            bool notbol, bool noteol, bool translate) {
  if (translate) translate_escapes(templ, '\\', control_escape_table(), false, true);
  if (matcher.empty() || text.empty()) return 0;
  regex_subject units(text);
  const std::uint32_t need = template_span_need(templ);
  const bool newline_sensitive = matcher.newline_sensitive();
  SpanList spans;
  narrow_buffer expanded;
  std::uint32_t count = 0;
  bool found = search_from(text, 0, units, spans, matcher, notbol, noteol, true, need);
  if (!found) return 0;
  const std::uint32_t length = text.length();
  inplace_rewriter rewriter(text);
  while (found) {
    const MatchSpan match = spans[0];
    rewriter.copy_through(match.start);
    // The spans index original offsets; the matched text is still unread.
    for (MatchSpan& span : spans)
      span.start = span.length ? std::uint32_t(span.start + rewriter.shift()) : 0;
    expand_template_into(expanded, templ, text.data(), spans);
    rewriter.skip_to(match.start + match.length);
    rewriter.write(expanded.c_str(), expanded.length());
    ++count;
    const std::uint32_t next = match.start + match.length + (match.length == 0 ? 1 : 0);
    if (next >= length) break;
    // The edited text's start is 0 only when nothing precedes it; the caller's
    // flag holds there. Elsewhere a line begins after a line feed.
    bool next_notbol = notbol;
    if (rewriter.output_length() != 0 || next != rewriter.consumed()) {
      const char before = next == rewriter.consumed() ? rewriter.last_output_byte()
                                                      : rewriter.original(next - 1);
      next_notbol = !(newline_sensitive && before == '\n');
    }
    narrow_buffer unread;
    unread.attach(rewriter.unread(), rewriter.unread_length());
    found = search_from(unread, next - rewriter.consumed(), units, spans, matcher, next_notbol,
                        noteol, false, need, rewriter.consumed());
  }
  rewriter.finish();
  return count;
}

std::uint32_t replace_regex_expand(const narrow_buffer& text, narrow_buffer& output,
                                   const Matcher& matcher, narrow_buffer templ, bool notbol,
                                   bool noteol, bool translate) {
  output.clear();
  if (matcher.empty()) {
    output = text;
    return 0;
  }
  if (translate) translate_escapes(templ, '\\', control_escape_table(), false, true);
  const bool newline_sensitive = matcher.newline_sensitive();
  // 1.17 times the input, in integers: the same on every FPU.
  const std::uint64_t want = 1 + std::uint64_t(text.length()) * 117 / 100;
  output.reserve_exact(std::size_t(std::min<std::uint64_t>(want, narrow_buffer::max_size)));
  std::uint32_t count = 0;
  std::uint32_t copied = 0;
  if (!text.empty()) {
    regex_subject units(text);
    const std::uint32_t need = template_span_need(templ);
    SpanList spans;
    narrow_buffer expanded;
    bool found = search_from(text, 0, units, spans, matcher, notbol, noteol, false, need);
    while (found) {
      const MatchSpan match = spans[0];
      const std::uint32_t until = std::min(match.start, text.length());
      output.append(text.c_str() + copied, until - copied);
      expand_template_into(expanded, templ, text.c_str(), spans);
      output.append(expanded);
      copied = match.start + match.length;
      const std::uint32_t next = copied + (match.length == 0 ? 1 : 0);
      ++count;
      // "^" may match at the next start only where the output so far ends a
      // line (newline-sensitive) or is still empty.
      const bool at_line_start =
          output.empty() ||
          (newline_sensitive && output[output.length() - 1] == '\n');
      notbol = !at_line_start;
      found = search_from(text, next, units, spans, matcher, notbol, noteol, false, need);
    }
  }
  output.append(text.c_str() + copied, text.length() - copied);
  return count;
}

}  // namespace Velk
