#include "driver/file_mode.h"

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
#include "support/fs/write_back.h"

namespace Velk {

namespace {

bool HasWildcard(const narrow_buffer& pattern) {
  return pattern.find_first_of(narrow_buffer::literal("*?")) != narrow_buffer::npos;
}

// A pattern that the argument list would have taken for a known switch
// had it come before "--".
bool LooksLikeSwitch(const narrow_buffer& pattern) {
  if (pattern.length() < 2 || (pattern[0] != '-' && pattern[0] != '/')) return false;
  narrow_buffer name = pattern.substr(1);
  const narrow_buffer::size_type separator = name.find_first_of(narrow_buffer::literal(":="));
  if (separator != narrow_buffer::npos) name = name.substr(0, separator);
  return IsKnownSwitch(name);
}

// The file identities met so far: open addressing in one flat table, so a
// tree of many files costs no allocation per file.
class CIdentitySet {
 public:
  // True when id was not in the set yet.
  bool Insert(const os::file_id& id) {
    if ((count_ + 1) * 2 > slots_.size()) __Grow();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = Hash(id) & mask;; i = (i + 1) & mask) {
      SLOT& slot = slots_[i];
      if (!slot.used) {
        slot = {id.volume, id.file_number, true};
        ++count_;
        return true;
      }
      if (slot.volume == id.volume && slot.number == id.file_number) return false;
    }
  }

 private:
  struct SLOT {
    std::uint64_t volume = 0;
    std::uint64_t number = 0;
    bool used = false;
  };

  static std::size_t Hash(const os::file_id& id) {
    std::uint64_t x = id.file_number ^ (id.volume * 0x9E3779B97F4A7C15u);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9u;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBu;
    return std::size_t(x ^ (x >> 31));
  }

  void __Grow() {
    std::vector<SLOT> old(slots_.empty() ? 1024 : slots_.size() * 2);
    old.swap(slots_);
    count_ = 0;
    for (const SLOT& slot : old)
      if (slot.used) {
        os::file_id id;
        id.volume = slot.volume;
        id.file_number = slot.number;
        Insert(id);
      }
  }

  std::vector<SLOT> slots_;
  std::size_t count_ = 0;
};

}  // namespace

// Receives the walk of every pattern: keeps the first name of each file,
// counts what the current pattern found, and reports folders that fail.
class CFileMode::CCollector : public TWalkSink {
 public:
  CCollector(CFileMode& mode) : mode_(mode) {}

  void Found(WALK_ENTRY& entry) override {
    ++found_;
    if (entry.identity.known) {
      if (!ids_.Insert(entry.identity)) return;
    } else if (!names_.insert(std::string(entry.path.c_str(), entry.path.length())).second) {
      return;  // where the system tells no identity, equal names are one file
    }
    mode_.files_.push_back(std::move(entry.path));
    mode_.origins_.push_back({entry.identity, entry.by_wildcard});
  }

  bool FolderFailed(const narrow_buffer& folder, const dirExp& error) override {
    // Under "-errstop" the walk ends with the error, as a fatal one.
    if (mode_.settings_.stop_on_error) return false;
    WriteErrorText(ShownMessage(narrow_buffer::literal("[ERROR] can't search folder: ") +
                                ShownName(folder, true) + "\n  " + error.GetMessage() + "\n"));
    mode_.folder_failed_ = true;
    return true;
  }

  // Starts counting the files of the next pattern.
  std::uint64_t TakeFound() { return std::exchange(found_, 0); }

 private:
  CFileMode& mode_;
  std::uint64_t found_ = 0;
  CIdentitySet ids_;
  std::unordered_set<std::string> names_;
};

CFileMode::CFileMode(const RUN_SETTINGS& settings) : settings_(settings) {}

CFileMode::collect_result CFileMode::Collect(const CArgList& args) {
  // Only a rewrite of files leaves temporary files behind to clean up.
  if (!settings_.stdout_mode && !settings_.diff_mode) InstallWriteBackSignalHandlers();
  CDir base(narrow_buffer::literal("."), false, false);
  current_folder_ = base.GetPath();
  CCollector collector(*this);
  bool refused = false;
  for (std::uint32_t j = 0; j < args.GetPatternCount(); ++j) {
    const narrow_buffer pattern = args.GetPattern(j);
    const bool exact = !HasWildcard(pattern);
    try {
      base.WalkFiles(collector, pattern, settings_.include_subfolders, true);
    } catch (const dirExp& error) {
      // A missing folder in a pattern with wildcards ends the run through
      // the driver's fatal-error report; without wildcards it is a slip.
      if (!exact || error.GetCode() != 3) throw;
    }
    if (collector.TakeFound() != 0 || !exact || CDir::IsExistingDir(pattern)) continue;
    refused = true;
    narrow_buffer line =
        narrow_buffer::literal("[ERROR] no such file: ") + ShownName(pattern, true);
    if (LooksLikeSwitch(pattern))
      line.append("\n  switches after \"--\" are file names: give switches before \"--\"");
    WriteErrorLine(line);
  }
  if (refused) return collect_result::refused;
  return files_.empty() ? collect_result::none_found : collect_result::found;
}

bool CFileMode::Read(std::size_t i, narrow_buffer& content, FILE_IDENTITY& identity,
                     narrow_buffer& messages) const {
  try {
    const ORIGIN& origin = origins_[i];
    CDir::ReadFile(files_[i], content, MAX_TEXT_LENGTH, &identity, &origin.identity,
                   !origin.by_listing);
    return true;
  } catch (const byExp& error) {
    messages.append(ShownMessage(narrow_buffer::literal("[ERROR] failed reading file: ") +
                                 ShownName(files_[i], true) + "\n  " + error.GetMessage() +
                                 "\n"));
    return false;
  } catch (...) {
    messages.append("[ERROR] failed reading file: ");
    messages.append(ShownName(files_[i], true));
    messages.push_back('\n');
    return false;
  }
}

bool CFileMode::WriteBack(std::size_t i, const narrow_buffer& content,
                          const FILE_IDENTITY& identity, std::uint64_t n,
                          narrow_buffer& messages) const {
  // A file without a replacement is never opened for writing.
  if (n == 0) return true;
  try {
    CDir::WriteFile(files_[i], content, false, false, &identity);
  } catch (const byExp& error) {
    messages.append(ShownMessage(narrow_buffer::literal("[ERROR] can't write to file: ") +
                                 ShownName(files_[i], true) + "\n  " + error.GetMessage() +
                                 "\n"));
    return false;
  }
  return true;
}

void CFileMode::DescribeFailure(std::size_t i, const std::exception_ptr& error,
                                narrow_buffer& messages) const {
  messages.append(ShownMessage(narrow_buffer::literal("[ERROR] failed processing file: ") +
                               ShownName(files_[i], true) + "\n  " + DescribeException(error) +
                               "\n"));
}

void CFileMode::ReportCount(std::size_t i, std::uint64_t n) const {
  if (settings_.file_counts && n != 0) {
    narrow_buffer line("\n## ");
    line.append_number(n, 10);
    line.append(" replacements in file: ");
    line.append(ShownName(files_[i], false));
    line.push_back('\n');
    WriteStandardOutput(line);
  }
}

void CFileMode::ReportBinarySkipped(std::size_t i) const {
  if (!settings_.file_counts) return;
  WriteStandardOutput(narrow_buffer::literal("\n## skipped binary file: ") +
                      ShownName(files_[i], false) + "\n");
}

narrow_buffer CFileMode::GetDiffName(std::size_t i) const {
  return DiffName(files_[i], current_folder_);
}

}  // namespace Velk
