// Ignore files as git reads them (gitignore(5)), for a recursive search:
// CIgnoreRules is a TWalkFilter that skips what the ".gitignore" and
// ".ignore" files of the folders walked, and ".git/info/exclude" of the
// work tree around them, name.
//
// Rules, as git applies them:
// - one pattern a line; blank lines and lines starting with "#" are
//   skipped; trailing blanks are cut unless escaped with "\"; "\" makes the
//   next byte literal ("\#", "\!");
// - a leading "!" negates (re-includes what a lower-precedence rule
//   excluded); a trailing "/" matches folders only;
// - a pattern without any other "/" matches an entry's name at any depth
//   below the file's folder; one with a "/" at its start or in its middle
//   is anchored: it matches the path relative to that folder;
// - "*" and "?" do not match "/", "[...]" is a class ("!" or "^" negates,
//   ranges, "[:alpha:]" and the other POSIX classes), "**/" at the start,
//   "/**" at the end and "/**/" in the middle match any number of folders;
// - precedence: a deeper folder's file over a higher one's, in one folder
//   ".ignore" over ".gitignore", all of them over ".git/info/exclude"; in
//   one file the last matching line decides;
// - what lies in a skipped folder is never looked at, so it cannot be
//   re-included.
// The folders above the search's start, up to the top of the git work tree
// (the nearest folder holding ".git"), contribute their ".gitignore" and
// ".ignore" files as git's would. Global settings (core.excludesFile) are
// not read. Names compare byte for byte, case-sensitive (also on Windows,
// where git would by default ignore case).
#pragma once

#include <cstddef>
#include <vector>

#include "support/core/basic_buffer.h"
#include "support/fs/walk_filter.h"

namespace Velk {

// One line of an ignore file, parsed.
struct IGNORE_PATTERN {
  narrow_buffer glob;    // without "!", the trailing "/" and a leading "/"
  bool negated = false;
  bool folder_only = false;
  bool anchored = false; // matches the relative path, not only the name
};

// The patterns of one file's text, in file order.
std::vector<IGNORE_PATTERN> ParseIgnoreFile(const narrow_buffer& text);

// git's wildmatch with paths: true when text (NUL-terminated) matches glob.
bool MatchIgnoreGlob(const char* glob, const char* text);

// True when pattern matches the entry with the path relative (to the
// pattern file's folder) and the name given.
bool MatchesIgnorePattern(const IGNORE_PATTERN& pattern, const char* relative_path,
                          const char* name, bool is_folder);

class CIgnoreRules : public TWalkFilter {
 public:
  void EnterFolder(const narrow_buffer& folder) override;
  void LeaveFolder() noexcept override;
  bool Skips(const narrow_buffer& full_path, bool is_folder) override;

 private:
  // The patterns of one file and the length of its folder's full path.
  struct RULE_SET {
    std::vector<IGNORE_PATTERN> patterns;
    std::size_t base_length;
  };
  struct LEVEL {
    std::vector<RULE_SET> sets;  // highest precedence last
    bool entered;                // a folder the search entered
  };

  void __PushFolder(const narrow_buffer& folder, bool entered);
  void __LoadAbove(const narrow_buffer& start);

  std::vector<LEVEL> levels_;  // the outermost first
  RULE_SET exclude_;           // .git/info/exclude of the work tree
};

}  // namespace Velk
