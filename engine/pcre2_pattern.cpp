#include "engine/pcre2_pattern.h"

#include <algorithm>
#include <bitset>
#include <map>
#include <vector>

#include "engine/pattern_director.h"
#include "engine/pattern_limits.h"
#include "engine/regex_engine.h"

namespace Velk {
namespace {

using byte_set = std::bitset<256>;

constexpr std::uint32_t UNBOUNDED = 0xFFFFFFFFu;
constexpr std::uint32_t MAX_BOUND = 255;  // the Tcl engine's largest repetition count
// Work bounds of the automaton: calls of the builder and follow entries.
constexpr std::uint32_t MAX_BUILD_STEPS = 50000;
constexpr std::size_t MAX_FOLLOW_ENTRIES = 2000000;

// --- the syntax tree -------------------------------------------------------

enum class node_kind { atom, empty, concat, alternation, group, repeat };

struct NODE {
  node_kind kind;
  std::vector<std::uint32_t> children;  // group and repeat: exactly one
  std::uint32_t atom = 0;               // atom: index into the atom texts
  std::uint32_t min = 1;                // repeat
  std::uint32_t max = 1;                // repeat; UNBOUNDED for *, + and {m,}
};

struct PARSED {
  std::vector<NODE> nodes;
  std::vector<std::string> atoms;  // source text of each atom
  std::uint32_t root = 0;
  std::uint32_t groups = 0;
  bool anchored_start = false;  // a leading "^"
  bool anchored_end = false;    // a trailing "$"
};

bool is_ascii_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_quantifier(char c) { return c == '*' || c == '+' || c == '?' || c == '{'; }

// Reads the extended syntax as the Tcl engine does, for the subset the fast
// path understands; everything else sets a rejection bit and ends reading.
class reader {
 public:
  reader(const narrow_buffer& pattern, PARSED& out)
      : p_(pattern.c_str()), n_(pattern.length()), out_(out) {}

  std::uint32_t read() {
    if (n_ > 0 && p_[0] == '^') {
      out_.anchored_start = true;
      i_ = 1;
    }
    std::uint32_t root = 0;
    if (!alternation(0, root)) return bits_;
    if (i_ != n_) return FAST_PATH_SYNTAX;  // an unmatched ")"
    const NODE& top = out_.nodes[root];
    if ((out_.anchored_start || out_.anchored_end) && top.kind == node_kind::alternation)
      return FAST_PATH_SYNTAX;  // the anchor would bind to one branch only
    out_.root = root;
    return 0;
  }

 private:
  bool fail(std::uint32_t bits) {
    bits_ |= bits;
    return false;
  }

  std::uint32_t add(NODE node) {
    out_.nodes.push_back(std::move(node));
    return std::uint32_t(out_.nodes.size() - 1);
  }

  std::uint32_t add_atom(std::uint32_t from, std::uint32_t to) {
    out_.atoms.emplace_back(p_ + from, to - from);
    NODE node{node_kind::atom, {}};
    node.atom = std::uint32_t(out_.atoms.size() - 1);
    return add(std::move(node));
  }

  bool alternation(std::uint32_t depth, std::uint32_t& node) {
    if (depth > MAX_PATTERN_NESTING) return fail(FAST_PATH_SYNTAX);
    std::vector<std::uint32_t> branches;
    for (;;) {
      std::uint32_t one = 0;
      if (!branch(depth, one)) return false;
      branches.push_back(one);
      if (i_ < n_ && p_[i_] == '|') {
        ++i_;
        continue;
      }
      break;
    }
    node = branches.size() == 1 ? branches[0]
                                : add(NODE{node_kind::alternation, std::move(branches)});
    return true;
  }

  bool branch(std::uint32_t depth, std::uint32_t& node) {
    std::vector<std::uint32_t> items;
    while (i_ < n_ && p_[i_] != '|' && p_[i_] != ')') {
      if (p_[i_] == '$') {
        // Only as the last character of the whole pattern, outside groups.
        if (depth > 0 || i_ + 1 != n_) return fail(FAST_PATH_SYNTAX);
        out_.anchored_end = true;
        ++i_;
        break;
      }
      std::uint32_t one = 0;
      if (!item(depth, one)) return false;
      items.push_back(one);
    }
    if (items.empty())
      node = add(NODE{node_kind::empty, {}});
    else if (items.size() == 1)
      node = items[0];
    else
      node = add(NODE{node_kind::concat, std::move(items)});
    return true;
  }

  bool item(std::uint32_t depth, std::uint32_t& node) {
    const char c = p_[i_];
    const std::uint32_t from = i_;
    if (c == '(') {
      ++i_;
      ++out_.groups;
      std::uint32_t inner = 0;
      if (!alternation(depth + 1, inner)) return false;
      if (i_ >= n_ || p_[i_] != ')') return fail(FAST_PATH_SYNTAX);
      ++i_;
      node = add(NODE{node_kind::group, {inner}});
    } else if (c == '[') {
      if (!skip_bracket()) return false;
      node = add_atom(from, i_);
    } else if (c == '\\') {
      if (i_ + 1 >= n_) return fail(FAST_PATH_SYNTAX);
      const char next = p_[i_ + 1];
      if (next >= '1' && next <= '9') return fail(FAST_PATH_BACK_REFERENCE);
      if (is_ascii_alnum(next)) return fail(FAST_PATH_SYNTAX);
      i_ += 2;
      node = add_atom(from, i_);
    } else if (c == '^' || c == '$' || is_quantifier(c)) {
      return fail(FAST_PATH_SYNTAX);
    } else {
      ++i_;  // ".", or a character that stands for itself
      node = add_atom(from, i_);
    }
    return quantifier(node);
  }

  // The extent of a bracket expression: an optional "^", a "]" right after
  // the opening (or after "^") is a member, "[:name:]" is a class; equivalence
  // classes and collating elements are not taken. A backslash is an ordinary
  // member in the extended syntax.
  bool skip_bracket() {
    std::uint32_t j = i_ + 1;
    if (j < n_ && p_[j] == '^') ++j;
    if (j < n_ && p_[j] == ']') ++j;
    for (;;) {
      if (j >= n_) return fail(FAST_PATH_SYNTAX);
      if (p_[j] == '[' && j + 1 < n_ && (p_[j + 1] == '.' || p_[j + 1] == '='))
        return fail(FAST_PATH_SYNTAX);
      if (p_[j] == '[' && j + 1 < n_ && p_[j + 1] == ':') {
        std::uint32_t k = j + 2;
        while (k + 1 < n_ && !(p_[k] == ':' && p_[k + 1] == ']')) ++k;
        if (k + 1 >= n_) return fail(FAST_PATH_SYNTAX);
        j = k + 2;
        continue;
      }
      if (p_[j] == ']') break;
      ++j;
    }
    i_ = j + 1;
    return true;
  }

  bool read_count(std::uint32_t& value) {
    if (i_ >= n_ || p_[i_] < '0' || p_[i_] > '9') return false;
    value = 0;
    while (i_ < n_ && p_[i_] >= '0' && p_[i_] <= '9') {
      value = value * 10 + std::uint32_t(p_[i_] - '0');
      if (value > MAX_BOUND) return false;
      ++i_;
    }
    return true;
  }

  bool quantifier(std::uint32_t& node) {
    if (i_ >= n_ || !is_quantifier(p_[i_])) return true;
    std::uint32_t min = 0;
    std::uint32_t max = UNBOUNDED;
    const char c = p_[i_++];
    if (c == '+') {
      min = 1;
    } else if (c == '?') {
      max = 1;
    } else if (c == '{') {
      if (!read_count(min)) return fail(FAST_PATH_SYNTAX);
      max = min;
      if (i_ < n_ && p_[i_] == ',') {
        ++i_;
        max = UNBOUNDED;
        if (i_ < n_ && p_[i_] != '}' && !read_count(max)) return fail(FAST_PATH_SYNTAX);
      }
      if (i_ >= n_ || p_[i_] != '}' || min > max) return fail(FAST_PATH_SYNTAX);
      ++i_;
    }
    if (i_ < n_ && is_quantifier(p_[i_])) return fail(FAST_PATH_SYNTAX);
    NODE repeat{node_kind::repeat, {node}};
    repeat.min = min;
    repeat.max = max;
    node = add(std::move(repeat));
    return true;
  }

  const char* p_;
  std::uint32_t n_;
  std::uint32_t i_ = 0;
  std::uint32_t bits_ = 0;
  PARSED& out_;
};

// Positions of the pattern with counted repetitions unrolled, counted up to
// just past FAST_PATH_MAX_POSITIONS; lets a large pattern go to Tcl before
// any atom is probed.
std::uint32_t unrolled_positions(const PARSED& parsed, std::uint32_t n) {
  constexpr std::uint64_t cap = FAST_PATH_MAX_POSITIONS + 1;
  const NODE& node = parsed.nodes[n];
  std::uint64_t count = 0;
  switch (node.kind) {
    case node_kind::atom:
      count = 1;
      break;
    case node_kind::repeat: {
      // S{m,} unrolls to m + 1 copies of S, S* and S+ to one.
      const std::uint64_t copies =
          node.max == UNBOUNDED ? (node.min >= 2 ? node.min + 1 : 1) : node.max;
      count = copies * unrolled_positions(parsed, node.children[0]);
      break;
    }
    default:
      for (std::uint32_t c : node.children) count += unrolled_positions(parsed, c);
      break;
  }
  return std::uint32_t(std::min(count, cap));
}

// --- byte sets from the Tcl engine -------------------------------------------

// The bytes that the atom, compiled alone with flags, matches as a whole.
bool probe_atom(const std::string& atom, std::uint32_t flags, byte_set& set) {
  regex_handle* compiled =
      compile_regex(narrow_buffer(atom.data(), std::uint32_t(atom.size())), flags);
  if (!compiled) return false;
  bool sound = regex_group_count(compiled) == 0;
  regex_subject subject;
  for (unsigned b = 0; b < 256 && sound; ++b) {
    const char byte = char(b);
    subject.assign(narrow_buffer(&byte, 1));
    REGEX_RANGE range[1];
    switch (exec_regex(compiled, subject, 0, 0, 1, range)) {
      case regex_status::match:
        // An atom matches exactly one byte; anything else is not understood.
        sound = range[0].start == 0 && range[0].end == 1;
        set.set(b);
        break;
      case regex_status::no_match:
        break;
      case regex_status::error:
        sound = false;
        break;
    }
  }
  free_regex(compiled);
  return sound && set.any();
}

// --- the rules on the syntax tree -------------------------------------------

class tree_rules {
 public:
  explicit tree_rules(const PARSED& parsed)
      : nodes_(parsed.nodes), nullable_(parsed.nodes.size(), -1) {}

  std::uint32_t check(std::uint32_t n) {
    const NODE& node = nodes_[n];
    if (node.kind == node_kind::alternation) {
      std::uint32_t empty_branches = 0;
      for (std::size_t k = 0; k < node.children.size(); ++k) {
        if (!nullable(node.children[k])) continue;
        ++empty_branches;
        if (k + 1 != node.children.size()) bits_ |= FAST_PATH_EMPTY_NOT_LAST;
      }
      if (empty_branches > 1) bits_ |= FAST_PATH_EMPTY_PARSES;
    } else if (node.kind == node_kind::repeat) {
      const std::uint32_t body = node.children[0];
      if (node.max == 0) bits_ |= FAST_PATH_ZERO_REPEAT;
      if (!(node.min == 1 && node.max == 1) && nullable(body)) bits_ |= FAST_PATH_EMPTY_PARSES;
      if (node.max == UNBOUNDED && nodes_[body].kind != node_kind::atom)
        bits_ |= FAST_PATH_REPEATED_GROUP;
      if (node.max >= 2 && !groups_always_taken(body)) bits_ |= FAST_PATH_SKIPPED_GROUP;
    }
    for (std::uint32_t child : node.children) check(child);
    return bits_;
  }

 private:
  bool nullable(std::uint32_t n) {
    if (nullable_[n] >= 0) return nullable_[n] != 0;
    const NODE& node = nodes_[n];
    bool result = false;
    switch (node.kind) {
      case node_kind::atom:
        result = false;
        break;
      case node_kind::empty:
        result = true;
        break;
      case node_kind::group:
        result = nullable(node.children[0]);
        break;
      case node_kind::concat:
        result = true;
        for (std::uint32_t c : node.children) result = result && nullable(c);
        break;
      case node_kind::alternation:
        for (std::uint32_t c : node.children) result = nullable(c) || result;
        break;
      case node_kind::repeat:
        result = node.min == 0 || nullable(node.children[0]);
        break;
    }
    nullable_[n] = result ? 1 : 0;
    return result;
  }

  bool contains_group(std::uint32_t n) const {
    const NODE& node = nodes_[n];
    if (node.kind == node_kind::group) return true;
    for (std::uint32_t c : node.children)
      if (contains_group(c)) return true;
    return false;
  }

  // True when every group inside n takes part whenever n matches.
  bool groups_always_taken(std::uint32_t n) const {
    const NODE& node = nodes_[n];
    switch (node.kind) {
      case node_kind::alternation:
        return !contains_group(n);
      case node_kind::repeat:
        if (node.min == 0) return !contains_group(n);
        break;
      default:
        break;
    }
    for (std::uint32_t c : node.children)
      if (!groups_always_taken(c)) return false;
    return true;
  }

  const std::vector<NODE>& nodes_;
  std::vector<int> nullable_;
  std::uint32_t bits_ = 0;
};

// --- the position automaton --------------------------------------------------

struct FRAGMENT {
  bool nullable = true;
  std::vector<std::uint32_t> first;
  std::vector<std::uint32_t> last;
};

void append(std::vector<std::uint32_t>& to, const std::vector<std::uint32_t>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// The Glushkov automaton of the pattern with counted repetitions unrolled the
// way PCRE2 runs them (S{2,4} as S S (S (S)?)?): one position per atom copy,
// each with its byte set, and the follow relation.
class position_automaton {
 public:
  position_automaton(const PARSED& parsed, const std::vector<byte_set>& atom_sets)
      : nodes_(parsed.nodes), atom_sets_(atom_sets) {}

  std::uint32_t analyse(std::uint32_t root) {
    const FRAGMENT whole = build(root);
    if (too_large_) return FAST_PATH_TOO_LARGE;
    std::uint32_t bits = star_form_ ? 0 : FAST_PATH_STAR_FORM;
    if (!disjoint(whole.first)) return bits | FAST_PATH_NONDETERMINISTIC;
    for (const auto& next : follow_)
      if (!disjoint(next)) return bits | FAST_PATH_NONDETERMINISTIC;
    return bits;
  }

 private:
  FRAGMENT build(std::uint32_t n) {
    if (++steps_ > MAX_BUILD_STEPS) too_large_ = true;
    if (too_large_) return FRAGMENT();
    const NODE& node = nodes_[n];
    switch (node.kind) {
      case node_kind::atom: {
        if (sets_.size() >= FAST_PATH_MAX_POSITIONS) {
          too_large_ = true;
          return FRAGMENT();
        }
        const std::uint32_t p = std::uint32_t(sets_.size());
        sets_.push_back(atom_sets_[node.atom]);
        follow_.emplace_back();
        return FRAGMENT{false, {p}, {p}};
      }
      case node_kind::empty:
        return FRAGMENT();
      case node_kind::group:
        return build(node.children[0]);
      case node_kind::concat: {
        FRAGMENT f = build(node.children[0]);
        for (std::size_t k = 1; k < node.children.size(); ++k)
          f = sequence(f, build(node.children[k]));
        return f;
      }
      case node_kind::alternation: {
        FRAGMENT f;
        f.nullable = false;
        for (std::uint32_t c : node.children) {
          const FRAGMENT g = build(c);
          f.nullable = f.nullable || g.nullable;
          append(f.first, g.first);
          append(f.last, g.last);
        }
        return f;
      }
      case node_kind::repeat:
        return repeat(node);
    }
    return FRAGMENT();
  }

  FRAGMENT repeat(const NODE& node) {
    const std::uint32_t body = node.children[0];
    FRAGMENT f;  // the empty fragment
    if (node.max == UNBOUNDED) {
      if (node.min == 0) return iterate(build(body), true);
      if (node.min == 1) return iterate(build(body), false);
      // S{m,} runs as S{m}S*.
      for (std::uint32_t k = 0; k < node.min; ++k) f = sequence(f, build(body));
      return sequence(f, iterate(build(body), true));
    }
    for (std::uint32_t k = 0; k < node.min; ++k) f = sequence(f, build(body));
    if (node.max == node.min) return f;
    // The optional copies nest: (S (S (S)?)?)?.
    FRAGMENT tail = optional(build(body));
    for (std::uint32_t k = node.min + 1; k < node.max; ++k)
      tail = optional(sequence(build(body), tail));
    return sequence(f, tail);
  }

  FRAGMENT sequence(const FRAGMENT& f, const FRAGMENT& g) {
    link(f.last, g.first);
    FRAGMENT r;
    r.nullable = f.nullable && g.nullable;
    r.first = f.first;
    if (f.nullable) append(r.first, g.first);
    r.last = g.last;
    if (g.nullable) append(r.last, f.last);
    return r;
  }

  static FRAGMENT optional(FRAGMENT f) {
    f.nullable = true;
    return f;
  }

  // f* (or f+ when may_skip is false). Star normal form: no last position of
  // f may already step to a first position of f inside f itself.
  FRAGMENT iterate(FRAGMENT f, bool may_skip) {
    std::vector<bool> is_first(sets_.size(), false);
    for (std::uint32_t q : f.first) is_first[q] = true;
    for (std::uint32_t p : f.last)
      for (std::uint32_t q : follow_[p])
        if (is_first[q]) star_form_ = false;
    link(f.last, f.first);
    if (may_skip) f.nullable = true;
    return f;
  }

  void link(const std::vector<std::uint32_t>& from, const std::vector<std::uint32_t>& to) {
    for (std::uint32_t p : from) {
      entries_ += to.size();
      if (entries_ > MAX_FOLLOW_ENTRIES) {
        too_large_ = true;
        return;
      }
      append(follow_[p], to);
    }
  }

  // True when the positions (repeats allowed) have pairwise disjoint byte sets.
  bool disjoint(const std::vector<std::uint32_t>& positions) {
    seen_.assign(sets_.size(), false);
    byte_set taken;
    for (std::uint32_t p : positions) {
      if (seen_[p]) continue;
      seen_[p] = true;
      if ((taken & sets_[p]).any()) return false;
      taken |= sets_[p];
    }
    return true;
  }

  const std::vector<NODE>& nodes_;
  const std::vector<byte_set>& atom_sets_;
  std::vector<byte_set> sets_;
  std::vector<std::vector<std::uint32_t>> follow_;
  std::vector<bool> seen_;
  std::uint32_t steps_ = 0;
  std::size_t entries_ = 0;
  bool star_form_ = true;
  bool too_large_ = false;
};

// --- writing PCRE2 syntax ------------------------------------------------------

void emit_byte(std::string& out, unsigned b) {
  static const char hex[] = "0123456789abcdef";
  out += "\\x{";
  out += hex[b >> 4];
  out += hex[b & 15];
  out += '}';
}

void emit_set(std::string& out, const byte_set& set) {
  if (set.count() == 1) {
    for (unsigned b = 0; b < 256; ++b)
      if (set.test(b)) emit_byte(out, b);
    return;
  }
  out += '[';
  for (unsigned b = 0; b < 256;) {
    if (!set.test(b)) {
      ++b;
      continue;
    }
    unsigned e = b;
    while (e + 1 < 256 && set.test(e + 1)) ++e;
    emit_byte(out, b);
    if (e > b + 1) out += '-';
    if (e > b) emit_byte(out, e);
    b = e + 1;
  }
  out += ']';
}

class emitter {
 public:
  emitter(const PARSED& parsed, const std::vector<byte_set>& atom_sets)
      : nodes_(parsed.nodes), atom_sets_(atom_sets) {}

  void emit(std::uint32_t n, std::string& out, bool bracket_alternation) const {
    const NODE& node = nodes_[n];
    switch (node.kind) {
      case node_kind::atom:
        emit_set(out, atom_sets_[node.atom]);
        break;
      case node_kind::empty:
        break;
      case node_kind::concat:
        for (std::uint32_t c : node.children) emit(c, out, true);
        break;
      case node_kind::alternation:
        if (bracket_alternation) out += "(?:";
        for (std::size_t k = 0; k < node.children.size(); ++k) {
          if (k) out += '|';
          emit(node.children[k], out, false);
        }
        if (bracket_alternation) out += ')';
        break;
      case node_kind::group:
        out += '(';
        emit(node.children[0], out, false);
        out += ')';
        break;
      case node_kind::repeat:
        emit_repeat(node, out);
        break;
    }
  }

 private:
  // The body of a repetition is an atom or a group: one unit in PCRE2 too.
  void emit_repeat(const NODE& node, std::string& out) const {
    const std::uint32_t body = node.children[0];
    emit(body, out, true);
    if (node.min == 1 && node.max == 1) return;
    if (node.max == UNBOUNDED) {
      if (node.min == 0) {
        out += '*';
      } else if (node.min == 1) {
        out += '+';
      } else {
        // S{m,} as S{m}S*: PCRE2's own form of S{m,} can be searched very slowly.
        out += '{' + std::to_string(node.min) + '}';
        emit(body, out, true);
        out += '*';
      }
    } else if (node.min == 0 && node.max == 1) {
      out += '?';
    } else if (node.min == node.max) {
      out += '{' + std::to_string(node.min) + '}';
    } else {
      out += '{' + std::to_string(node.min) + ',' + std::to_string(node.max) + '}';
    }
  }

  const std::vector<NODE>& nodes_;
  const std::vector<byte_set>& atom_sets_;
};

bool has_director(const narrow_buffer& pattern) {
  return read_pattern_director(pattern, true, false, 0).director;
}

}  // namespace

PCRE2_TRANSLATION translate_for_pcre2(const narrow_buffer& pattern, std::uint32_t regex_flags) {
  PCRE2_TRANSLATION result;
  const std::uint32_t newline = regex_flags & REGEX_NEWLINE;
  if ((regex_flags & ~(REGEX_EXTENDED | REGEX_NOCASE | REGEX_NEWLINE)) != 0 ||
      !(regex_flags & REGEX_EXTENDED) || (newline != 0 && newline != REGEX_NEWLINE) ||
      pattern.empty() || has_director(pattern)) {
    result.rejections = FAST_PATH_MODE;
    return result;
  }

  PARSED parsed;
  result.rejections = reader(pattern, parsed).read();
  if (result.rejections) return result;

  if (unrolled_positions(parsed, parsed.root) > FAST_PATH_MAX_POSITIONS) {
    result.rejections = FAST_PATH_TOO_LARGE;
    return result;
  }

  std::vector<byte_set> atom_sets(parsed.atoms.size());
  std::map<std::string, byte_set> probed;
  for (std::size_t k = 0; k < parsed.atoms.size(); ++k) {
    const auto known = probed.find(parsed.atoms[k]);
    if (known != probed.end()) {
      atom_sets[k] = known->second;
      continue;
    }
    if (!probe_atom(parsed.atoms[k], regex_flags, atom_sets[k])) {
      result.rejections = FAST_PATH_SYNTAX;
      return result;
    }
    probed.emplace(parsed.atoms[k], atom_sets[k]);
  }

  result.rejections = tree_rules(parsed).check(parsed.root);
  result.rejections |= position_automaton(parsed, atom_sets).analyse(parsed.root);
  if (result.rejections) return result;

  // Last, as it can be the slowest step: the pattern must be one the Tcl
  // engine takes, with the groups read here.
  regex_handle* whole = compile_regex(pattern, regex_flags);
  const bool same_reading = whole && regex_group_count(whole) == parsed.groups;
  free_regex(whole);
  if (!same_reading) {
    result.rejections = FAST_PATH_SYNTAX;
    return result;
  }

  if (parsed.anchored_start) result.pattern += '^';
  emitter(parsed, atom_sets).emit(parsed.root, result.pattern, false);
  if (parsed.anchored_end) result.pattern += '$';
  result.groups = parsed.groups;
  return result;
}

}  // namespace Velk
