#include "engine/pattern_limits.h"

#include <algorithm>
#include <vector>

#include "engine/pattern_director.h"

namespace Velk {
namespace {

enum class syntax { literal, basic, extended, advanced };

constexpr std::uint64_t weight_cap = std::uint64_t(1) << 40;  // no overflow below

bool at(const wide_buffer& p, std::uint32_t i, char c) {
  return i < p.length() && p[i] == char16_t(c);
}
bool digit_at(const wide_buffer& p, std::uint32_t i) {
  return i < p.length() && p[i] >= u'0' && p[i] <= u'9';
}

// The syntax and the offset where the expression proper begins.
syntax read_syntax(const wide_buffer& p, bool extended, std::uint32_t& begin) {
  const PATTERN_DIRECTOR director = read_pattern_director(p, extended, false, 0);
  begin = director.body;
  switch (director.syntax) {
    case pattern_syntax::basic: return syntax::basic;
    case pattern_syntax::extended: return syntax::extended;
    case pattern_syntax::advanced: return syntax::advanced;
    case pattern_syntax::literal: break;
  }
  return syntax::literal;
}

// Index just past the bracket expression that opens at i ("[" at i).
std::uint32_t skip_bracket(const wide_buffer& p, std::uint32_t i, bool escapes) {
  ++i;
  if (at(p, i, '^')) ++i;
  if (at(p, i, ']')) ++i;
  while (i < p.length() && p[i] != u']') {
    if (p[i] == u'[' && (at(p, i + 1, ':') || at(p, i + 1, '.') || at(p, i + 1, '='))) {
      const char16_t kind = p[i + 1];
      i += 2;
      while (i < p.length() && !(p[i] == kind && at(p, i + 1, ']'))) ++i;
      i += 2;
    } else if (escapes && p[i] == u'\\') {
      i += 2;
    } else {
      ++i;
    }
  }
  return std::min(i + 1, p.length());
}

// Reads the bound(s) of a counted repetition whose first digit is at i;
// returns how many copies the engine makes (at least 1) and leaves i past
// the closing brace, or returns 0 when this is no counted repetition.
std::uint64_t read_count(const wide_buffer& p, std::uint32_t& i, bool basic) {
  std::uint32_t j = i;
  std::uint64_t low = 0, high = 0;
  while (digit_at(p, j)) low = std::min<std::uint64_t>(low * 10 + (p[j++] - u'0'), 1000);
  high = low;
  if (at(p, j, ',')) {
    ++j;
    high = low + 1;
    if (digit_at(p, j)) {
      high = 0;
      while (digit_at(p, j)) high = std::min<std::uint64_t>(high * 10 + (p[j++] - u'0'), 1000);
    }
  }
  if (basic) {
    if (!at(p, j, '\\')) return 0;
    ++j;
  }
  if (!at(p, j, '}')) return 0;
  i = j + 1;
  return std::max<std::uint64_t>({low, high, 1});
}

// Weights of one open group: the items before the last atom, and the last
// atom (what a quantifier applies to).
struct FRAME {
  std::uint64_t total = 0;
  std::uint64_t last = 0;
};

void add_atom(FRAME& frame, std::uint64_t weight) {
  frame.total = std::min(frame.total + frame.last, weight_cap);
  frame.last = weight;
}

void fail(narrow_buffer* reason, const char* what, std::uint32_t bound, const char* tail) {
  if (!reason) return;
  reason->assign(what);
  reason->append_number(bound);
  reason->append(tail);
}

}  // namespace

bool check_pattern_limits(const wide_buffer& p, bool extended_flag, narrow_buffer* reason) {
  if (p.length() > MAX_PATTERN_LENGTH) {
    // Counted as the engine receives it: "\w" alone becomes 12 characters.
    fail(reason, "pattern is too long: more than ", MAX_PATTERN_LENGTH,
         " characters once escapes such as \\w are expanded (a longer pattern takes too long "
         "to compile)");
    return false;
  }
  std::uint32_t i = 0;
  const syntax mode = read_syntax(p, extended_flag, i);
  if (mode == syntax::literal) return true;
  const bool basic = mode == syntax::basic;
  const bool advanced = mode == syntax::advanced;

  std::vector<FRAME> frames(1);
  // frames[0] is the whole pattern, so the nesting depth is size() - 1.
  auto open_group = [&]() {
    frames.emplace_back();
    return frames.size() - 1 <= MAX_PATTERN_NESTING;
  };
  auto close_group = [&]() {
    if (frames.size() == 1) return;  // unbalanced: the engine rejects it
    const FRAME inner = frames.back();
    frames.pop_back();
    add_atom(frames.back(), std::min(inner.total + inner.last + 1, weight_cap));
  };
  auto quantify = [&](std::uint64_t copies) {
    FRAME& frame = frames.back();
    frame.last = std::min(frame.last * copies + 1, weight_cap);
  };

  while (i < p.length()) {
    const char16_t c = p[i];
    if (c == u'\\') {
      if (basic && at(p, i + 1, '(')) {
        i += 2;
        if (!open_group()) break;
      } else if (basic && at(p, i + 1, ')')) {
        i += 2;
        close_group();
      } else if (basic && at(p, i + 1, '{')) {
        i += 2;
        const std::uint64_t copies = read_count(p, i, true);
        if (copies) quantify(copies);
      } else {
        i += 2;
        add_atom(frames.back(), 0);
      }
    } else if (c == u'[') {
      i = skip_bracket(p, i, advanced);
      add_atom(frames.back(), 0);
    } else if (!basic && c == u'(') {
      ++i;
      if (!open_group()) break;
    } else if (!basic && c == u')') {
      ++i;
      close_group();
    } else if (c == u'*' || (!basic && (c == u'+' || c == u'?'))) {
      ++i;
      quantify(1);
    } else if (!basic && c == u'{' && digit_at(p, i + 1)) {
      ++i;
      const std::uint64_t copies = read_count(p, i, false);
      if (copies) quantify(copies);
      else add_atom(frames.back(), 0);
    } else {
      ++i;
      add_atom(frames.back(), 0);
    }
  }
  if (frames.size() - 1 > MAX_PATTERN_NESTING) {
    fail(reason, "pattern nests too deeply (more than ", MAX_PATTERN_NESTING, " levels)");
    return false;
  }
  while (frames.size() > 1) close_group();
  const std::uint64_t complexity = frames[0].total + frames[0].last;
  if (complexity > MAX_PATTERN_COMPLEXITY) {
    fail(reason, "pattern is too complex (more than ", MAX_PATTERN_COMPLEXITY, " groups and repetitions)");
    return false;
  }
  return true;
}

void describe_size_refusal(narrow_buffer* reason) {
  fail(reason, "pattern is too large for the engine: more than its limit of about ",
       ENGINE_STATES_ABOUT,
       " states (about one per character or bracket expression, counted repetitions "
       "multiplied out)");
}

bool pattern_has_back_references(const wide_buffer& p, bool extended_flag) {
  std::uint32_t i = 0;
  const syntax mode = read_syntax(p, extended_flag, i);
  if (mode == syntax::literal) return false;
  while (i < p.length()) {
    if (p[i] == u'[') {
      i = skip_bracket(p, i, mode == syntax::advanced);
    } else if (p[i] == u'\\') {
      if (i + 1 < p.length() && p[i + 1] >= u'1' && p[i + 1] <= u'9') return true;
      i += 2;
    } else {
      ++i;
    }
  }
  return false;
}

}  // namespace Velk
