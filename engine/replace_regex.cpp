// The two regular-expression loops, on top of match_walker. Each reuses
// one span list and one expansion buffer for all matches; the engine keeps
// whatever it needs for the whole text in the subject.
#include <algorithm>

#include "engine/expand_template.h"
#include "engine/inplace_rewriter.h"
#include "engine/match_walker.h"
#include "engine/replace_all.h"
#include "engine/translate.h"

namespace Velk {
namespace {

std::uint32_t exec_flags(const REPLACE_OPTIONS& options) {
  return (options.notbol ? REGEX_NOTBOL : 0) | (options.noteol ? REGEX_NOTEOL : 0);
}

}  // namespace

// Every search resumes behind the replacement just written, so what it
// reads from its start on is original text; the walker's window follows the
// unread text, and the rewriter puts back the original byte before it that
// the output overwrote.
std::uint64_t replace_regex(narrow_buffer& text, const Matcher& matcher, narrow_buffer templ,
                            const REPLACE_OPTIONS& options, ReplacementLog* log) {
  if (options.translate_escapes)
    translate_escapes(templ, '\\', control_escape_table(), false, true);
  if (matcher.empty() || text.empty()) return 0;
  match_subject subject(text.c_str(), text.length());
  match_walker walker(*matcher.engine(), subject, 0, exec_flags(options),
                      template_span_need(templ));
  SpanList spans;
  if (!walker.next(spans)) return 0;
  inplace_rewriter rewriter(text);
  narrow_buffer expanded;
  std::uint64_t count = 0;
  do {
    const MatchSpan match = spans[0];
    rewriter.copy_through(match.start);
    // The spans index original offsets; the matched text is still unread.
    for (MatchSpan& span : spans)
      span.start = span.length ? std::uint32_t(span.start + rewriter.shift()) : 0;
    expand_template_into(expanded, templ, text.data(), spans);
    rewriter.skip_to(match.start + match.length);
    if (log) log->push_back({match.start, match.length, rewriter.output_length(),
                             expanded.length()});
    rewriter.write(expanded.c_str(), expanded.length());
    ++count;
    subject.move_window(rewriter.unread(), rewriter.consumed());
  } while (rewriter.with_original_context([&] { return walker.next(spans); }));
  rewriter.finish();
  return count;
}

std::uint64_t replace_regex_expand(const narrow_buffer& text, narrow_buffer& output,
                                   const Matcher& matcher, narrow_buffer templ,
                                   const REPLACE_OPTIONS& options, ReplacementLog* log) {
  output.clear();
  if (matcher.empty()) {
    output = text;
    return 0;
  }
  if (options.translate_escapes)
    translate_escapes(templ, '\\', control_escape_table(), false, true);
  // 1.17 times the input, in integers: the same on every FPU.
  const std::uint64_t want = 1 + std::uint64_t(text.length()) * 117 / 100;
  output.reserve_exact(std::size_t(std::min<std::uint64_t>(want, narrow_buffer::max_size)));
  match_subject subject(text.c_str(), text.length());
  match_walker walker(*matcher.engine(), subject, 0, exec_flags(options),
                      template_span_need(templ));
  SpanList spans;
  narrow_buffer expanded;
  std::uint64_t count = 0;
  std::uint32_t copied = 0;
  while (walker.next(spans)) {
    const MatchSpan match = spans[0];
    output.append(text.c_str() + copied, match.start - copied);
    expand_template_into(expanded, templ, text.c_str(), spans);
    if (log) log->push_back({match.start, match.length, output.length(), expanded.length()});
    output.append(expanded);
    copied = match.start + match.length;
    ++count;
  }
  output.append(text.c_str() + copied, text.length() - copied);
  return count;
}

}  // namespace Velk
