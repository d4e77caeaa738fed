#include "driver/file_mode.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "driver/exception_text.h"
#include "driver/std_streams.h"
#include "driver/switch_table.h"
#include "driver/unified_diff.h"
#include "engine/text_limit.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/file_id_set.h"
#include "support/fs/ignore_rules.h"
#include "support/fs/wildcard.h"
#include "support/fs/write_back.h"

namespace Velk {

namespace {

// A pattern that the argument list would have taken for a known switch
// had it come before "--".
bool LooksLikeSwitch(const narrow_buffer& pattern) {
  if (pattern.length() < 2 || (pattern[0] != '-' && pattern[0] != '/')) return false;
  narrow_buffer name = pattern.substr(1);
  const narrow_buffer::size_type separator = name.find_first_of(narrow_buffer::literal(":="));
  if (separator != narrow_buffer::npos) name = name.substr(0, separator);
  return IsKnownSwitch(name);
}

}  // namespace

// Receives the walk of every pattern and hands each file on to the feed
// the first time it is met (by identity), with folders that fail as notes
// in the same order.
class CFileMode::CCollector : public TWalkSink {
 public:
  CCollector(CFileMode& mode, TFileFeed& feed, bool several_patterns)
      : mode_(mode), feed_(&feed), several_patterns_(several_patterns) {}

  void Found(WALK_ENTRY& entry) override {
    // Equal names are one file: files are rewritten (as new files) while
    // the walk goes on, so a name met again may show another identity.
    // One pattern's walk meets each name once.
    if ((several_patterns_ || !entry.identity.known) &&
        !names_.insert(std::string(entry.path.c_str(), entry.path.length())).second)
      return;
    if (entry.identity.known && !ids_.Insert(entry.identity)) return;
    any_ = true;
    LISTED_FILE file;
    file.name = std::move(entry.path);
    file.folder = std::move(entry.folder);
    file.identity = entry.identity;
    file.by_listing = entry.by_wildcard;
    if (!feed_->AddFile(std::move(file))) throw RUN_ENDED();
  }

  bool FolderFailed(const narrow_buffer& folder, const dirExp& error) override {
    // Under "-errstop" the walk ends with the error, as a fatal one.
    if (mode_.settings_.stop_on_error) return false;
    mode_.folder_failed_ = true;
    if (!feed_->AddNote(ShownMessage(narrow_buffer::literal("[ERROR] can't search folder: ") +
                                     ShownName(folder, true) + "\n  " + error.GetMessage() +
                                     "\n")))
      throw RUN_ENDED();
    return true;
  }

  bool AnyFile() const { return any_; }
  // Each file is opened relative to its folder, held until it is read.
  bool WantsFolders() const override { return true; }

  // Thrown through the walk when the run has ended and wants no more.
  struct RUN_ENDED {};

 private:
  CFileMode& mode_;
  TFileFeed* feed_;
  bool several_patterns_;
  bool any_ = false;
  CFileIdSet ids_;
  std::unordered_set<std::string> names_;
};

CFileMode::CFileMode(const RUN_SETTINGS& settings) : settings_(settings) {}

bool CFileMode::NamesAFileBesideOtherPatterns(const CArgList& args) {
  const std::uint32_t patterns = args.GetPatternCount();
  if (patterns < 2) return false;
  for (std::uint32_t j = 0; j < patterns; ++j)
    if (!HasWildcard(args.GetPattern(j))) return true;
  return false;
}

CFileMode::collect_result CFileMode::List(const CArgList& args, TFileFeed& feed) {
  // Only a rewrite of files leaves temporary files behind to clean up.
  if (!settings_.stdout_mode && !settings_.diff_mode) InstallWriteBackSignalHandlers();
  CDir base(narrow_buffer::literal("."), false, false);
  current_folder_ = base.GetPath();
  // Files are worked while the walk goes on, so what refuses the run is
  // settled first: a missing folder in a pattern with wildcards ends it
  // through the driver's fatal-error report, a pattern without wildcards
  // that names nothing is a slip (found by a walk of that pattern alone).
  // What that walk found is kept and handed on in its turn, unless a folder
  // failed on the way (then the pattern is walked again, to report it).
  struct KEPT_WALK final : TWalkSink {
    std::vector<WALK_ENTRY> entries;
    bool again = false;
    void Found(WALK_ENTRY& entry) override { entries.push_back(std::move(entry)); }
    bool FolderFailed(const narrow_buffer&, const dirExp&) override {
      again = true;
      return true;
    }
  };
  // Each pattern's walk reads the ignore files of the folders it enters.
  CIgnoreRules ignore_rules;
  TWalkFilter* filter = settings_.use_ignore_files ? &ignore_rules : nullptr;
  const std::uint32_t patterns = args.GetPatternCount();
  std::vector<KEPT_WALK> kept(patterns);
  // Names given one by one (a long list from the shell): those that share a
  // folder are looked up by one listing of it.
  std::vector<WALK_ENTRY> named;
  std::vector<bool> absent;
  if (!settings_.include_subfolders) {
    std::vector<narrow_buffer> plain(patterns);
    for (std::uint32_t j = 0; j < patterns; ++j)
      if (!HasWildcard(args.GetPattern(j))) plain[j] = args.GetPattern(j);
    base.FindNamedFiles(plain, named, true, true, &absent);
  }
  // With sub-folders, a bare name is looked for in every folder of the
  // tree: such names share one walk of it, so that a list of them from the
  // shell (`rplc -s *.c` unquoted) does not walk the tree once a name.
  std::vector<narrow_buffer> tree_names;
  std::vector<TWalkSink*> tree_sinks;
  std::vector<bool> in_tree_walk(patterns, false);
  if (settings_.include_subfolders) {
    for (std::uint32_t j = 0; j < patterns; ++j) {
      const narrow_buffer pattern = args.GetPattern(j);
      // A name of a folder here stands for that folder's files.
      if (!CDir::IsBareName(pattern) || CDir::IsExistingDir(pattern)) continue;
      in_tree_walk[j] = true;
      tree_names.push_back(pattern);
      tree_sinks.push_back(&kept[j]);
    }
    if (tree_names.size() < 2) in_tree_walk.assign(patterns, false);
  }
  bool tree_walked = false;
  bool refused = false;
  for (std::uint32_t j = 0; j < patterns; ++j) {
    const narrow_buffer pattern = args.GetPattern(j);
    if (HasWildcard(pattern)) {
      base.CheckPatternFolder(pattern);
      kept[j].again = true;
      continue;
    }
    if (j < named.size() && !named[j].path.empty()) {
      kept[j].entries.push_back(std::move(named[j]));
      continue;
    }
    // A name its folder's listing did not hold needs no walk to be refused.
    const bool known_absent = j < absent.size() && absent[j];
    if (in_tree_walk[j]) {
      if (!tree_walked) base.WalkTreeForNames(tree_names, tree_sinks, true, filter);
      tree_walked = true;
    } else if (!known_absent) {
      try {
        base.WalkFiles(kept[j], pattern, settings_.include_subfolders, true, filter);
      } catch (const dirExp& error) {
        if (error.GetCode() != 3) throw;
      }
    }
    if (!known_absent && (!kept[j].entries.empty() || CDir::IsExistingDir(pattern))) continue;
    refused = true;
    narrow_buffer line =
        narrow_buffer::literal("[ERROR] no such file: ") + ShownName(pattern, true);
    if (LooksLikeSwitch(pattern))
      line.append("\n  switches after \"--\" are file names: give switches before \"--\"");
    WriteErrorLine(line);
  }
  if (refused) return collect_result::refused;
  // When nothing is walked from here on, every file to come was found
  // before anything was written: no rewrite can give one of them a new
  // identity, so the jobs need not wait for the list's end to commit.
  if (std::none_of(kept.begin(), kept.end(), [](const KEPT_WALK& walk) { return walk.again; }))
    feed.ReleaseCommits();

  // Errors of the walk itself are not caught: they end the run through the
  // driver's fatal-error report, after the files listed before them.
  CCollector collector(*this, feed, patterns > 1);
  try {
    for (std::uint32_t j = 0; j < patterns; ++j) {
      if (!kept[j].again) {
        for (WALK_ENTRY& entry : kept[j].entries) collector.Found(entry);
        kept[j].entries = std::vector<WALK_ENTRY>();
        continue;
      }
      const narrow_buffer pattern = args.GetPattern(j);
      try {
        base.WalkFiles(collector, pattern, settings_.include_subfolders, true, filter);
      } catch (const dirExp& error) {
        // Gone since it was checked above: it names nothing now.
        if (HasWildcard(pattern) || error.GetCode() != 3) throw;
      }
    }
  } catch (const CCollector::RUN_ENDED&) {
  }
  return collector.AnyFile() ? collect_result::found : collect_result::none_found;
}

bool CFileMode::Open(const LISTED_FILE& file, FILE_IDENTITY& identity, std::uint64_t& size,
                     narrow_buffer& messages, bool locked) const {
  const bool rewrites = !settings_.stdout_mode && !settings_.diff_mode;
  try {
    size = CDir::OpenToRead(file.name, file.folder, identity, rewrites ? nullptr : &file.identity,
                            !file.by_listing, locked);
    return true;
  } catch (...) {
    identity = FILE_IDENTITY();
    AppendReadFailure(file, std::current_exception(), messages);
    return false;
  }
}

bool CFileMode::ReadOpened(const LISTED_FILE& file, FILE_IDENTITY& identity, std::uint64_t size,
                           narrow_buffer& content, narrow_buffer& messages) const {
  try {
    CDir::ReadOpened(identity, size, content, MAX_TEXT_LENGTH);
    return true;
  } catch (...) {
    identity = FILE_IDENTITY();
    AppendReadFailure(file, std::current_exception(), messages);
    return false;
  }
}

bool CFileMode::Read(const LISTED_FILE& file, narrow_buffer& content, FILE_IDENTITY& identity,
                     narrow_buffer& messages, bool locked) const {
  std::uint64_t size = 0;
  return Open(file, identity, size, messages, locked) &&
         ReadOpened(file, identity, size, content, messages);
}

void CFileMode::AppendReadFailure(const LISTED_FILE& file, const std::exception_ptr& error,
                                  narrow_buffer& messages) const {
  try {
    std::rethrow_exception(error);
  } catch (const byExp& failure) {
    messages.append(ShownMessage(narrow_buffer::literal("[ERROR] failed reading file: ") +
                                 ShownName(file.name, true) + "\n  " + failure.GetMessage() +
                                 "\n"));
  } catch (...) {
    // Out of memory for a large file, say: the reason in the driver's words.
    messages.append(ShownMessage(narrow_buffer::literal("[ERROR] failed reading file: ") +
                                 ShownName(file.name, true) + "\n  " +
                                 DescribeException(std::current_exception()) + "\n"));
  }
}

void CFileMode::AppendWriteFailure(const LISTED_FILE& file, const byExp& error,
                                   narrow_buffer& messages) const {
  messages.append(ShownMessage(narrow_buffer::literal("[ERROR] can't write to file: ") +
                               ShownName(file.name, true) + "\n  " + error.GetMessage() + "\n"));
}

bool CFileMode::WriteBack(const LISTED_FILE& file, const narrow_buffer& content,
                          FILE_IDENTITY& identity, std::uint64_t n,
                          narrow_buffer& messages) const {
  // A file without a replacement is never opened for writing.
  if (n == 0) return true;
  try {
    CDir::WriteFile(file.name, content, false, false, &identity);
  } catch (const byExp& error) {
    AppendWriteFailure(file, error, messages);
    return false;
  }
  return true;
}

void CFileMode::DescribeFailure(const LISTED_FILE& file, const std::exception_ptr& error,
                                narrow_buffer& messages) const {
  messages.append(ShownMessage(narrow_buffer::literal("[ERROR] failed processing file: ") +
                               ShownName(file.name, true) + "\n  " + DescribeException(error) +
                               "\n"));
}

void CFileMode::ReportCount(const LISTED_FILE& file, std::uint64_t n) const {
  if (settings_.file_counts && n != 0) {
    narrow_buffer line("\n## ");
    line.append_number(n, 10);
    line.append(" replacements in file: ");
    line.append(ShownName(file.name, false));
    line.push_back('\n');
    WriteStandardOutput(line);
  }
}

void CFileMode::ReportBinarySkipped(const LISTED_FILE& file) const {
  if (!settings_.file_counts) return;
  WriteStandardOutput(narrow_buffer::literal("\n## skipped binary file: ") +
                      ShownName(file.name, false) + "\n");
}

narrow_buffer CFileMode::GetDiffName(const LISTED_FILE& file) const {
  return DiffName(file.name, current_folder_);
}

}  // namespace Velk
