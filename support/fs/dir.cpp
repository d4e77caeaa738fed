// CDir: path operations, opening and creating folders.
#include "support/fs/dir.h"

#include <string>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/dir.h"
#include "support/os/error.h"
#include "support/os/path_rules.h"

namespace Velk {

namespace {

// The system's path rules (path_rules.h): the separator written into
// paths, the characters accepted as separators and the characters after
// which a name begins.
const narrow_buffer kSeparator = narrow_buffer::literal(os::path_separator);
const narrow_buffer kSlashSet = narrow_buffer::literal(os::slash_set);
const narrow_buffer kPathDelimiters = narrow_buffer::literal(os::path_delimiters);

bool EndsWithSeparator(const narrow_buffer& path) {
  return path.ends_with_any(kSeparator);
}

bool EndsWithDelimiter(const narrow_buffer& path) {
  return path.ends_with_any(kPathDelimiters);
}

narrow_buffer CurrentDir() { return narrow_buffer::literal(".") + kSeparator; }

[[noreturn]] void ThrowEmpty(const char* message) { throw dirExp(2, narrow_buffer(message)); }

}  // namespace

narrow_buffer CDir::NormalizePath(const narrow_buffer& path) {
  const char separator = kSeparator[0];
  narrow_buffer result;
  if (kSlashSet.length() > 1 && path.find_first_of(kSlashSet) != narrow_buffer::npos) {
    // Every accepted separator becomes the system's own.
    result.reserve_grow(size_t(path.length()) + 1);
    for (const char each : path)
      result.push_back(kSlashSet.find_first_of(&each, 0, 1) != narrow_buffer::npos ? separator
                                                                                  : each);
  } else {
    result.assign(path, 0, narrow_buffer::npos);
  }
  // While the text ends in two separators, drop the last one; a root
  // separator therefore survives.
  while (result.length() >= 2 && result[result.length() - 1] == separator &&
         result[result.length() - 2] == separator)
    result.erase(result.length() - 1, 1);
  return result;
}

narrow_buffer CDir::AppendSeparator(const narrow_buffer& path) {
  narrow_buffer result = NormalizePath(path);
  if (!result.empty() && !EndsWithSeparator(result)) result.append(kSeparator);
  return result;
}

bool CDir::IsExistingDir(const narrow_buffer& path) {
  if (path.empty()) return false;
  return os::is_directory(NormalizePath(path).c_str());
}

void CDir::GetPathDir(narrow_buffer& path) {
  if (path.empty()) ThrowEmpty("CDir::GetPathDir - nothing to match");
  if (EndsWithDelimiter(path) || IsExistingDir(path)) {
    path = AppendSeparator(path);
    return;
  }
  const narrow_buffer::size_type last = path.find_last_of(kPathDelimiters);
  path.own();
  if (last == narrow_buffer::npos) {
    path = CurrentDir();
  } else if (last + 1 < path.length()) {
    path.erase(last + 1);
  }
  path = AppendSeparator(path);
}

void CDir::GetPathFilename(narrow_buffer& path) {
  if (path.empty()) ThrowEmpty("CDir::GetPathFilename - nothing to match");
  if (EndsWithDelimiter(path) || IsExistingDir(path)) {
    path = narrow_buffer();
    return;
  }
  const narrow_buffer::size_type last = path.find_last_of(kPathDelimiters);
  if (last != narrow_buffer::npos) {
    path.own();
    path.erase(0, last + 1);
  }
}

narrow_buffer CDir::__Resolve(const narrow_buffer& path) const {
  // A plain name in this folder needs no resolving: the common case when
  // a long list of names is given.
  if (path.find_first_of(kPathDelimiters) == narrow_buffer::npos &&
      path != narrow_buffer::literal(".") && path != narrow_buffer::literal(".."))
    return path_ + path;
  // The base folder without its trailing "/" (the root stays "/").
  const std::string base(path_.c_str(), path_.length() > 1 ? path_.length() - 1 : path_.length());
  std::string full;
  if (os::full_path(path.c_str(), base.c_str(), full) != 0) return path_ + path;
  return NormalizePath(narrow_buffer(full.c_str(), narrow_buffer::size_type(full.size())));
}

void CDir::ConvToFullPath(narrow_buffer& path) {
  if (path.empty()) ThrowEmpty("CDir::ConvToFullPath - nothing to convert");
  path = NormalizePath(path);
  std::string full;
  const int error = os::full_path(path.c_str(), nullptr, full);
  if (error != 0)
    throw dirExp(9, message_builder("CDir::ConvToFullPath - error convert to full path")
                        .detail("path to convert", path)
                        .os_error("system error no", "system error desc", error)
                        .str());
  path = NormalizePath(narrow_buffer(full.c_str(), narrow_buffer::size_type(full.size())));
}

narrow_buffer CDir::GetPwd() {
  std::string cwd;
  const int error = os::current_dir(cwd);
  if (error != 0)
    throw dirExp(12, message_builder("CDir::GetPwd - error get path of current working dir")
                         .os_error("system error no", "system error desc", error)
                         .str());
  return AppendSeparator(narrow_buffer(cwd.c_str(), narrow_buffer::size_type(cwd.size())));
}

void CDir::MakeDir(const narrow_buffer& path, bool recursive) {
  if (path.empty()) ThrowEmpty("CDir::MakeDir - nothing to make");
  if (IsExistingDir(path)) return;
  narrow_buffer p = NormalizePath(path);
  if (p.length() > 1 && EndsWithSeparator(p)) p.erase(p.length() - 1, 1);
  if (recursive) {
    const narrow_buffer::size_type last = p.find_last_of(kSeparator);
    if (last != narrow_buffer::npos && last > 0) {
      const narrow_buffer parent = p.substr(0, last);
      if (!IsExistingDir(parent)) MakeDir(parent, true);
    }
  }
  const int error = os::make_dir(p.c_str());
  if (error != 0)
    throw dirExp(8, message_builder("CDir::MakeDir - error create dir")
                        .detail("dir to create", path)
                        .detail("is recursive job", recursive ? "true" : "false")
                        .os_error("system error no", "system error desc", error)
                        .str());
}

CDir::CDir(const narrow_buffer& path, bool create, bool skipCheck) {
  Open(path, create, skipCheck);
}

CDir::CDir(const CDir& base, const narrow_buffer& sub, bool create) {
  Open(base.path_, false, false);
  OpenSubDir(sub, create);
}

void CDir::Open(const narrow_buffer& path, bool create, bool skipCheck) {
  path_ = narrow_buffer();
  if (path.empty()) ThrowEmpty("CDir::Open - nothing to open");
  narrow_buffer full = AppendSeparator(path);
  ConvToFullPath(full);
  if (!full.empty() && !EndsWithSeparator(full)) full.append(kSeparator);
  if (!skipCheck && !IsExistingDir(full)) {
    if (!create)
      throw dirExp(3, message_builder("CDir::Open - error open dir : not exist")
                          .detail("dir to open", full)
                          .detail("current working dir", GetPwd())
                          .end_with_newline()
                          .str());
    MakeDir(full, true);
  }
  path_ = full;
}

void CDir::OpenSubDir(const narrow_buffer& sub, bool create) {
  Open(path_ + AppendSeparator(sub), create, false);
}

}  // namespace Velk
