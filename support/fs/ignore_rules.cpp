#include "support/fs/ignore_rules.h"

#include <cstring>
#include <string>

#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/os/dir.h"
#include "support/os/path_rules.h"

namespace Velk {
namespace {

// wildmatch's results: a failure that a "*" further left can still mend,
// one that no "*" can (the text ran out), and one that only a "**" can.
enum class Wild { match, no_match, abort_all, abort_to_starstar };

using uchar = unsigned char;

bool InClass(const char* name, std::size_t length, uchar c) {
  auto is = [&](const char* each) {
    return std::strlen(each) == length && std::memcmp(each, name, length) == 0;
  };
  if (is("alnum")) return (c >= '0' && c <= '9') || ((c | 32) >= 'a' && (c | 32) <= 'z');
  if (is("alpha")) return (c | 32) >= 'a' && (c | 32) <= 'z';
  if (is("blank")) return c == ' ' || c == '\t';
  if (is("cntrl")) return c < 32 || c == 127;
  if (is("digit")) return c >= '0' && c <= '9';
  if (is("graph")) return c > 32 && c < 127;
  if (is("lower")) return c >= 'a' && c <= 'z';
  if (is("print")) return c >= 32 && c < 127;
  if (is("punct")) return c > 32 && c < 127 && !((c >= '0' && c <= '9') || ((c | 32) >= 'a' && (c | 32) <= 'z'));
  if (is("space")) return c == ' ' || (c >= '\t' && c <= '\r');
  if (is("upper")) return c >= 'A' && c <= 'Z';
  if (is("xdigit")) return (c >= '0' && c <= '9') || ((c | 32) >= 'a' && (c | 32) <= 'f');
  return false;
}

bool KnownClass(const char* name, std::size_t length) {
  for (const char* each : {"alnum", "alpha", "blank", "cntrl", "digit", "graph", "lower",
                           "print", "punct", "space", "upper", "xdigit"})
    if (std::strlen(each) == length && std::memcmp(each, name, length) == 0) return true;
  return false;
}

// git's wildmatch with WM_PATHNAME, case-sensitive: pattern p against text,
// both NUL-terminated; start is the first byte of the whole pattern.
Wild DoWild(const uchar* start, const uchar* p, const uchar* text) {
  for (; *p; text++, p++) {
    const uchar t = *text;
    if (t == 0 && *p != '*') return Wild::abort_all;
    switch (*p) {
      case '\\':
        // A backslash makes the next byte literal.
        ++p;
        if (t != *p) return Wild::no_match;
        break;
      case '?':
        if (t == '/') return Wild::no_match;
        break;
      case '*': {
        bool match_slash = false;
        if (*++p == '*') {
          const uchar* before = p - 2;
          while (*++p == '*') {
          }
          // "**" counts only as a whole component: at the start or after a
          // "/", and at the end or before a "/"; otherwise it is a "*".
          if ((before < start || *before == '/') &&
              (*p == 0 || *p == '/' || (p[0] == '\\' && p[1] == '/'))) {
            if (p[0] == '/' && DoWild(start, p + 1, text) == Wild::match) return Wild::match;
            match_slash = true;
          }
        }
        if (*p == 0) {
          // A trailing "*" takes the rest of the component only.
          if (!match_slash && std::strchr(reinterpret_cast<const char*>(text), '/'))
            return Wild::abort_to_starstar;
          return Wild::match;
        }
        if (!match_slash && *p == '/') {
          // "*/" takes the rest of this component; the loop steps over both
          // slashes.
          const char* slash = std::strchr(reinterpret_cast<const char*>(text), '/');
          if (!slash) return Wild::abort_all;
          text = reinterpret_cast<const uchar*>(slash);
          break;
        }
        for (; *text; ++text) {
          const Wild matched = DoWild(start, p, text);
          if (matched != Wild::no_match) {
            if (!match_slash || matched != Wild::abort_to_starstar) return matched;
          } else if (!match_slash && *text == '/') {
            return Wild::abort_to_starstar;
          }
        }
        return Wild::abort_all;
      }
      case '[': {
        uchar c = *++p;
        const bool negated = c == '!' || c == '^';
        if (negated) c = *++p;
        uchar previous = 0;
        bool matched = false;
        do {
          if (!c) return Wild::abort_all;
          if (c == '\\') {
            c = *++p;
            if (!c) return Wild::abort_all;
            if (t == c) matched = true;
          } else if (c == '-' && previous && p[1] && p[1] != ']') {
            c = *++p;
            if (c == '\\') {
              c = *++p;
              if (!c) return Wild::abort_all;
            }
            if (t <= c && t >= previous) matched = true;
            c = 0;  // a range's end starts no new range
          } else if (c == '[' && p[1] == ':') {
            const uchar* name = p + 2;
            const uchar* end = name;
            while (*end && *end != ']') ++end;
            if (!*end) return Wild::abort_all;
            if (end - name < 1 || end[-1] != ':') {
              // No ":]": an ordinary "[" in the set.
              if (t == '[') matched = true;
            } else {
              const std::size_t length = std::size_t(end - name - 1);
              const char* class_name = reinterpret_cast<const char*>(name);
              if (!KnownClass(class_name, length)) return Wild::abort_all;
              if (InClass(class_name, length, t)) matched = true;
              p = end;
              c = 0;
            }
          } else if (t == c) {
            matched = true;
          }
          previous = c;
          c = *++p;
        } while (c != ']');
        if (matched == negated || t == '/') return Wild::no_match;
        break;
      }
      default:
        if (t != *p) return Wild::no_match;
        break;
    }
  }
  return *text ? Wild::no_match : Wild::match;
}

// Cuts trailing blanks that no backslash escapes, as git does.
void TrimTrailingBlanks(narrow_buffer& line) {
  std::size_t last_blank = narrow_buffer::npos;
  for (std::size_t i = 0; i < line.length(); ++i) {
    if (line[i] == ' ') {
      if (last_blank == narrow_buffer::npos) last_blank = i;
      continue;
    }
    if (line[i] == '\\' && ++i == line.length()) return;
    last_blank = narrow_buffer::npos;
  }
  if (last_blank != narrow_buffer::npos) line = line.substr(0, narrow_buffer::size_type(last_blank));
}

bool IsFile(const narrow_buffer& path) {
  os::entry_type type;
  return os::path_type(path.c_str(), type) == 0 && type == os::entry_type::file;
}

bool Exists(const narrow_buffer& path) {
  os::entry_type type;
  return os::path_type(path.c_str(), type) == 0;
}

// The patterns of the file at path; none when it is missing or unreadable
// (git, too, goes on without an ignore file it cannot read).
std::vector<IGNORE_PATTERN> ReadPatterns(const narrow_buffer& path) {
  if (!IsFile(path)) return {};
  narrow_buffer text;
  try {
    CDir::ReadFile(path, text);
  } catch (const byExp&) {
    return {};
  }
  return ParseIgnoreFile(text);
}

bool MatchesAny(const std::vector<IGNORE_PATTERN>& patterns, const char* relative,
                const char* name, bool is_folder, bool& ignored) {
  for (std::size_t k = patterns.size(); k-- > 0;) {
    if (!MatchesIgnorePattern(patterns[k], relative, name, is_folder)) continue;
    ignored = !patterns[k].negated;
    return true;
  }
  return false;
}

// The system's separator in the folders a search walks; git's patterns
// always separate with "/".
const char kSeparator = os::path_separator[0];

const narrow_buffer kGitIgnore = narrow_buffer::literal(".gitignore");
const narrow_buffer kIgnore = narrow_buffer::literal(".ignore");

}  // namespace

std::vector<IGNORE_PATTERN> ParseIgnoreFile(const narrow_buffer& text) {
  std::vector<IGNORE_PATTERN> patterns;
  std::size_t pos = 0;
  // A UTF-8 byte-order mark at the start is not part of the first line.
  if (text.length() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) pos = 3;
  while (pos < text.length()) {
    std::size_t end = pos;
    while (end < text.length() && text[end] != '\n') ++end;
    narrow_buffer line = text.substr(narrow_buffer::size_type(pos),
                                     narrow_buffer::size_type(end - pos));
    pos = end + 1;
    TrimTrailingBlanks(line);
    if (line.empty() || line[0] == '#') continue;
    IGNORE_PATTERN pattern;
    if (line[0] == '!') {
      pattern.negated = true;
      line = line.substr(1);
    }
    if (!line.empty() && line[line.length() - 1] == '/') {
      pattern.folder_only = true;
      line = line.substr(0, line.length() - 1);
    }
    pattern.anchored = std::memchr(line.c_str(), '/', line.length()) != nullptr;
    if (!line.empty() && line[0] == '/') line = line.substr(1);
    // "/" (or "!/", "//") names no entry below the file's folder.
    if (line.empty()) continue;
    pattern.glob = line;
    patterns.push_back(std::move(pattern));
  }
  return patterns;
}

bool MatchIgnoreGlob(const char* glob, const char* text) {
  const uchar* start = reinterpret_cast<const uchar*>(glob);
  return DoWild(start, start, reinterpret_cast<const uchar*>(text)) == Wild::match;
}

bool MatchesIgnorePattern(const IGNORE_PATTERN& pattern, const char* relative_path,
                          const char* name, bool is_folder) {
  if (pattern.folder_only && !is_folder) return false;
  return MatchIgnoreGlob(pattern.glob.c_str(), pattern.anchored ? relative_path : name);
}

void CIgnoreRules::__PushFolder(const narrow_buffer& folder, bool entered) {
  LEVEL level;
  level.entered = entered;
  for (const narrow_buffer* file : {&kGitIgnore, &kIgnore}) {
    RULE_SET set{ReadPatterns(folder + *file), folder.length()};
    if (!set.patterns.empty()) level.sets.push_back(std::move(set));
  }
  levels_.push_back(std::move(level));
}

// The folders from the top of the git work tree around start down to
// start's parent, and the work tree's exclude file; nothing outside a
// work tree.
void CIgnoreRules::__LoadAbove(const narrow_buffer& start) {
  std::vector<std::size_t> ends;  // lengths of start's ancestors, nearest first
  std::size_t top = narrow_buffer::npos;
  for (std::size_t end = start.length(); end > 0;) {
    const narrow_buffer folder = start.substr(0, narrow_buffer::size_type(end));
    if (Exists(folder + ".git")) {
      top = end;
      break;
    }
    // The parent: cut the last component ("/a/b/" -> "/a/").
    std::size_t cut = end - 1;
    while (cut > 0 && start[cut - 1] != kSeparator) --cut;
    if (cut == 0 || cut == end) break;
    ends.push_back(cut);
    end = cut;
  }
  exclude_ = RULE_SET{{}, 0};
  if (top == narrow_buffer::npos) return;
  const narrow_buffer root = start.substr(0, narrow_buffer::size_type(top));
  narrow_buffer exclude = root + ".git";
  exclude.push_back(kSeparator);
  exclude.append("info");
  exclude.push_back(kSeparator);
  exclude.append("exclude");
  exclude_ = RULE_SET{ReadPatterns(exclude), root.length()};
  // ends holds every ancestor up to the one above top; push from top down.
  for (std::size_t k = ends.size(); k-- > 0;) {
    if (ends[k] < top) continue;
    __PushFolder(start.substr(0, narrow_buffer::size_type(ends[k])), false);
  }
}

void CIgnoreRules::EnterFolder(const narrow_buffer& folder) {
  if (levels_.empty()) __LoadAbove(folder);
  __PushFolder(folder, true);
}

void CIgnoreRules::LeaveFolder() noexcept {
  if (!levels_.empty()) levels_.pop_back();
  // Once the search's start is left, the folders above it go too.
  while (!levels_.empty() && !levels_.back().entered) levels_.pop_back();
}

bool CIgnoreRules::Skips(const narrow_buffer& full_path, bool is_folder) {
  const char* path = full_path.c_str();
  std::string slashed;  // the path with "/" for the system's separator
  if (kSeparator != '/') {
    slashed.assign(path, full_path.length());
    for (char& c : slashed)
      if (c == kSeparator) c = '/';
    path = slashed.c_str();
  }
  const char* name = std::strrchr(path, '/');
  name = name ? name + 1 : path;
  bool ignored = false;
  for (std::size_t l = levels_.size(); l-- > 0;) {
    const std::vector<RULE_SET>& sets = levels_[l].sets;
    for (std::size_t s = sets.size(); s-- > 0;)
      if (MatchesAny(sets[s].patterns, path + sets[s].base_length, name, is_folder, ignored))
        return ignored;
  }
  return MatchesAny(exclude_.patterns, path + exclude_.base_length, name, is_folder, ignored) &&
         ignored;
}

}  // namespace Velk
