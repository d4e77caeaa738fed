// Differential fuzzing of the PCRE2 fast path against the Tcl engine, on one
// input "options pattern\0text". The option byte:
//   bit 0  ignore case            bit 1  ignore newline
//   bit 2  the pattern bytes pick tokens of extended syntax (below) instead
//          of being the pattern itself, so most inputs are patterns the
//          fast path takes
//   bit 3  the text bytes pick characters from a small alphabet
// A raw pattern gets the Perl-escape rewriting of the driver first.
//
// For every pattern the fast path takes: the same group count; at every
// start position, with and without "not at line beginning", the same result
// and spans as a Tcl search made the way find_next makes it; and the same
// output from a whole replace loop (empty matches step one byte on) that
// writes each match as all of its spans.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/pcre2_matcher.h"
#include "engine/regex_engine.h"
#include "engine/translate.h"
#include "fuzz/fuzz_input.h"

#ifdef RPLC_DIFF_REPORT
// A replay outside libFuzzer (the engine tests) names this function to be
// called before a difference stops the process, to say which input it was.
void RPLC_DIFF_REPORT();
#endif

namespace {

using Velk::MatchSpan;
using Velk::narrow_buffer;
using Velk::regex_status;

constexpr std::size_t max_pattern = 64;
constexpr std::size_t max_text = 256;

void Check(bool condition) {
  if (condition) return;
#ifdef RPLC_DIFF_REPORT
  RPLC_DIFF_REPORT();
#endif
  __builtin_trap();
}

const char* const tokens[] = {
    "a",     "b",     "c",      "x",     "A",         "B",           ".",
    "[ab]",  "[^a]",  "[a-z]",  "[0-9]", "[[:digit:]]", "[^[:space:]]", "[[:alpha:]_]",
    "\\.",   "\n",    " ",      "1",     "\xE9",      "\xC9",        "[~-\xFF]",
    "[A-Z]", "(",     "(",      ")",     ")",         "|",           "|",
    "*",     "+",     "?",      "{2}",   "{1,3}",     "{0,2}",       "{2,}",
    "{1,}",  "^",     "$",      "[^\n]", "\\\\",      "[]a]",        "-",
};
const char alphabet[] = "aAbBcx1 .\n\xE9\xC9z-_\\]";

std::string Pattern(const std::string& piece, bool from_tokens) {
  std::string pattern;
  const std::size_t n = std::min(piece.size(), max_pattern);
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = static_cast<unsigned char>(piece[i]);
    if (from_tokens)
      pattern += tokens[b % (sizeof tokens / sizeof tokens[0])];
    else
      pattern += char(b);
  }
  return pattern;
}

std::string Text(const std::string& piece, bool from_alphabet) {
  std::string text = piece.substr(0, max_text);
  if (from_alphabet)
    for (char& c : text) c = alphabet[static_cast<unsigned char>(c) % (sizeof alphabet - 1)];
  return text;
}

struct SEARCH {
  regex_status status = regex_status::no_match;
  MatchSpan spans[Velk::REGEX_MAX_RANGES] = {};
};

SEARCH TclSearch(const Velk::regex_handle* tcl, Velk::regex_subject& subject,
                 const std::string& text, std::uint32_t start, bool notbol, bool newline,
                 std::uint32_t wanted) {
  if (start > 0) notbol = !(newline && text[start - 1] == '\n');
  Velk::REGEX_RANGE ranges[Velk::REGEX_MAX_RANGES];
  SEARCH s;
  s.status =
      Velk::exec_regex(tcl, subject, start, notbol ? Velk::REGEX_NOTBOL : 0, wanted, ranges);
  if (s.status == regex_status::match)
    for (std::uint32_t k = 0; k < wanted; ++k)
      s.spans[k] = ranges[k].start < 0
                       ? MatchSpan{start, 0}
                       : MatchSpan{start + std::uint32_t(ranges[k].start),
                                   std::uint32_t(ranges[k].end - ranges[k].start)};
  return s;
}

SEARCH FastSearch(const Velk::pcre2_matcher& fast, const std::string& text, std::uint32_t start,
                  bool notbol, std::uint32_t wanted) {
  SEARCH s;
  s.status = fast.find(text.data(), text.size(), start, notbol, wanted, s.spans);
  return s;
}

void CheckSame(const SEARCH& a, const SEARCH& b, std::uint32_t wanted) {
  Check(a.status != regex_status::error && b.status != regex_status::error);
  Check(a.status == b.status);
  if (a.status != regex_status::match) return;
  for (std::uint32_t k = 0; k < wanted; ++k)
    Check(a.spans[k].start == b.spans[k].start && a.spans[k].length == b.spans[k].length);
}

// A replace-all loop over one engine's searches.
template <class SEARCHER>
std::string Replaced(const std::string& text, std::uint32_t wanted, SEARCHER search) {
  std::string out;
  std::uint32_t at = 0;
  while (at < text.size()) {
    const SEARCH s = search(at);
    if (s.status != regex_status::match) break;
    const MatchSpan whole = s.spans[0];
    out.append(text, at, whole.start - at);
    out += '[';
    for (std::uint32_t k = 0; k < wanted; ++k) {
      out.append(text, s.spans[k].start, s.spans[k].length);
      out += '|';
    }
    out += ']';
    at = whole.start + whole.length;
    if (whole.length == 0) {  // an empty match: step over one byte
      if (at < text.size()) out += text[at];
      ++at;
    }
  }
  if (at < text.size()) out.append(text, at, std::string::npos);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto pieces = rplc_fuzz::SplitInput(data, size, 2);
  const std::uint8_t options = data[0];
  const bool newline = !(options & 2);
  const std::uint32_t flags = Velk::REGEX_EXTENDED | (options & 1 ? Velk::REGEX_NOCASE : 0) |
                              (newline ? Velk::REGEX_NEWLINE : 0);
  // The option byte opens the first piece, unless it is NUL (then a separator).
  const std::string pattern_text =
      Pattern(pieces[0].empty() ? pieces[0] : pieces[0].substr(1), options & 4);
  const std::string text = Text(pieces[1], options & 8);

  narrow_buffer pattern(pattern_text.data(), std::uint32_t(pattern_text.size()));
  if (!(options & 4))
    Velk::translate_escapes(pattern, '\\', Velk::class_escape_table(), false, true);
  const auto fast = Velk::pcre2_matcher::try_compile(pattern, flags);
  if (!fast) return 0;
  Velk::regex_handle* tcl = Velk::compile_regex(pattern, flags);
  Check(tcl != nullptr);
  Check(fast->group_count() == Velk::regex_group_count(tcl));
  const std::uint32_t wanted = std::min(fast->group_count() + 1, Velk::REGEX_MAX_RANGES);

  Velk::regex_subject subject(narrow_buffer(text.data(), std::uint32_t(text.size())));
  for (std::uint32_t start = 0; start < text.size(); ++start)
    for (bool notbol : {false, true})
      CheckSame(TclSearch(tcl, subject, text, start, notbol, newline, wanted),
                FastSearch(*fast, text, start, notbol, wanted), wanted);

  const std::string by_tcl = Replaced(text, wanted, [&](std::uint32_t at) {
    return TclSearch(tcl, subject, text, at, false, newline, wanted);
  });
  const std::string by_pcre2 = Replaced(text, wanted, [&](std::uint32_t at) {
    return FastSearch(*fast, text, at, false, wanted);
  });
  Check(by_tcl == by_pcre2);
  Velk::free_regex(tcl);
  return 0;
}
