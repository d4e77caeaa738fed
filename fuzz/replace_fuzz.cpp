// Fuzzes compile_matcher and the six replace-all loops on one input
// "options pattern\0template\0text": the first byte picks the compile and
// search flags, the rest of the first piece is the pattern (also the find
// text of the literal loops).
//
// Checks: nothing crashes or leaks; the in-place and expanding loops give
// the same text and count for the literal finds, and for the regular
// expression where no match is empty (after an empty match the two loops
// decide "not at line beginning" differently, by design), with the caller's
// "not at line beginning" clear as the driver always has it.
#include <cstdint>

#include "engine/compile_matcher.h"
#include "engine/expand_template.h"
#include "engine/translate.h"
#include "engine/find_next.h"
#include "engine/replace_all.h"
#include "fuzz/fuzz_input.h"

namespace {

using Velk::narrow_buffer;

// Keeps each run short: the engine's worst cases grow with both lengths.
constexpr std::size_t max_piece = 512;

narrow_buffer Piece(const std::string& s, std::size_t from = 0) {
  if (s.size() <= from) return narrow_buffer();
  const std::size_t n = std::min(s.size() - from, max_piece);
  return narrow_buffer(s.data() + from, std::uint32_t(n));
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// True when the expanding loop meets an empty match: the same walk, with
// "not at line beginning" decided from the output built so far.
bool HasEmptyMatch(const narrow_buffer& text, const Velk::Matcher& matcher,
                   const narrow_buffer& templ, bool notbol, bool noteol) {
  Velk::SpanList spans;
  narrow_buffer output;
  narrow_buffer expanded;
  std::uint32_t copied = 0;
  while (Velk::find_next(text, spans, matcher, 0, copied, notbol, noteol, false)) {
    if (spans[0].length == 0) return true;
    output.append(text.c_str() + copied, spans[0].start - copied);
    Velk::expand_template_into(expanded, templ, text.c_str(), spans);
    output.append(expanded);
    copied = spans[0].start + spans[0].length;
    notbol = matcher.newline_sensitive()
                 ? !(output.empty() || output[output.length() - 1] == '\n')
                 : !output.empty();
  }
  return false;
}

void CheckLiteral(const narrow_buffer& text, const narrow_buffer& find,
                  const narrow_buffer& replacement, bool no_case) {
  narrow_buffer in_place = text;
  narrow_buffer expanded;
  const std::uint32_t n1 =
      no_case ? Velk::ireplace_literal(in_place, find, replacement, 0, true)
              : Velk::replace_literal(in_place, find, replacement, 0, true);
  const std::uint32_t n2 =
      no_case ? Velk::ireplace_literal_expand(text, expanded, find, replacement, 0)
              : Velk::replace_literal_expand(text, expanded, find, replacement, 0);
  Check(n1 == n2);
  Check(in_place == expanded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto pieces = rplc_fuzz::SplitInput(data, size, 3);
  const std::uint8_t options = data[0];
  const narrow_buffer pattern = Piece(pieces[0], 1);
  const narrow_buffer templ = Piece(pieces[1]);
  const narrow_buffer text = Piece(pieces[2]);

  if (!pattern.empty()) {
    CheckLiteral(text, pattern, templ, false);
    CheckLiteral(text, pattern, templ, true);
  }

  const bool ignore_case = options & 1;
  const bool newline_sensitive = options & 2;
  const bool extended = !(options & 4);
  const bool translate = !(options & 8);
  const bool notbol = options & 16;
  const bool noteol = options & 32;
  narrow_buffer reason;
  const Velk::Matcher matcher = Velk::compile_matcher(pattern, ignore_case, newline_sensitive,
                                                      extended, translate, &reason);
  Check(matcher.empty() || reason.empty());

  narrow_buffer in_place = text;
  narrow_buffer expanded;
  const std::uint32_t n1 = Velk::replace_regex(in_place, matcher, templ, notbol, noteol, true);
  const std::uint32_t n2 =
      Velk::replace_regex_expand(text, expanded, matcher, templ, notbol, noteol, true);
  // After a first match replaced by nothing, the expanding loop clears the
  // caller's "not at line beginning" (by design), so compare without it.
  narrow_buffer translated = templ;
  Velk::translate_escapes(translated, '\\', Velk::control_escape_table(), false, true);
  if (!matcher.empty() && !notbol &&
      !HasEmptyMatch(text, matcher, translated, notbol, noteol)) {
    Check(n1 == n2);
    Check(in_place == expanded);
  }
  if (matcher.empty()) Check(n1 == 0 && n2 == 0 && in_place == text && expanded == text);
  return 0;
}
