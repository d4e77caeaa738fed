// CDir: path operations, opening and creating folders.
#include "support/fs/dir.h"

#include <string>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/dir.h"
#include "support/os/error.h"

namespace Velk {

namespace {

// The separator is also the whole slash set and the whole path-delimiter
// set: backslash and colon are ordinary name characters here.
const narrow_buffer kSeparator = narrow_buffer::literal("/");
const narrow_buffer kDoubledSeparator = narrow_buffer::literal("//");
const narrow_buffer kCurrentDir = narrow_buffer::literal("./");

bool EndsWithSeparator(const narrow_buffer& path) {
  return path.ends_with_any(kSeparator);
}

// Joins a relative path to cwd and resolves "." and ".." by text, the way
// the Windows call does: links are not followed, ".." at the root stays at
// the root, doubled separators collapse, a trailing separator is kept.
narrow_buffer ResolveText(const narrow_buffer& path, const std::string& cwd) {
  narrow_buffer joined;
  if (!path.starts_with_any(kSeparator)) {
    joined.append(cwd.c_str(), narrow_buffer::size_type(cwd.size()));
    joined.append(kSeparator);
  }
  joined.append(path);
  const bool trailing = EndsWithSeparator(joined);

  narrow_buffer result;
  result.reserve_grow(size_t(joined.length()) + 2);
  std::vector<narrow_buffer::size_type> starts;  // where each component's "/" is
  const char* text = joined.c_str();
  const narrow_buffer::size_type length = joined.length();
  for (narrow_buffer::size_type at = 0; at < length;) {
    narrow_buffer::size_type end = at;
    while (end < length && text[end] != '/') ++end;
    const narrow_buffer::size_type count = end - at;
    if (count == 2 && text[at] == '.' && text[at + 1] == '.') {
      if (!starts.empty()) {
        result.erase(starts.back());
        starts.pop_back();
      }
    } else if (count != 0 && !(count == 1 && text[at] == '.')) {
      starts.push_back(result.length());
      result.push_back('/');
      result.append(text + at, count);
    }
    at = end + 1;
  }
  if (result.empty() || trailing) result.push_back('/');
  return result;
}

[[noreturn]] void ThrowEmpty(const char* message) { throw dirExp(2, narrow_buffer(message)); }

}  // namespace

narrow_buffer CDir::NormalizePath(const narrow_buffer& path) {
  narrow_buffer result(path, 0, narrow_buffer::npos);
  // While the text ends in two separators, drop the last one; the root "/"
  // therefore survives.
  while (result.length() >= 2 &&
         result.compare(result.length() - 2, 2, kDoubledSeparator.c_str(), 2) == 0)
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
  if (EndsWithSeparator(path) || IsExistingDir(path)) {
    path = AppendSeparator(path);
    return;
  }
  const narrow_buffer::size_type last = path.find_last_of(kSeparator);
  path.own();
  if (last == narrow_buffer::npos) {
    path = kCurrentDir;
  } else if (last + 1 < path.length()) {
    path.erase(last + 1);
  }
  path = AppendSeparator(path);
}

void CDir::GetPathFilename(narrow_buffer& path) {
  if (path.empty()) ThrowEmpty("CDir::GetPathFilename - nothing to match");
  if (EndsWithSeparator(path) || IsExistingDir(path)) {
    path = narrow_buffer();
    return;
  }
  const narrow_buffer::size_type last = path.find_last_of(kSeparator);
  if (last != narrow_buffer::npos) {
    path.own();
    path.erase(0, last + 1);
  }
}

narrow_buffer CDir::__Resolve(const narrow_buffer& path) const {
  // A plain name in this folder needs no resolving: the common case when
  // a long list of names is given.
  if (path.find_first_of(kSeparator) == narrow_buffer::npos && path != narrow_buffer::literal(".") &&
      path != narrow_buffer::literal(".."))
    return path_ + path;
  // The base folder without its trailing "/" (the root stays "/").
  const std::string base(path_.c_str(), path_.length() > 1 ? path_.length() - 1 : path_.length());
  return NormalizePath(ResolveText(path, base));
}

void CDir::ConvToFullPath(narrow_buffer& path) {
  if (path.empty()) ThrowEmpty("CDir::ConvToFullPath - nothing to convert");
  path = NormalizePath(path);
  std::string cwd;
  if (!path.starts_with_any(kSeparator)) {
    const int error = os::current_dir(cwd);
    if (error != 0)
      throw dirExp(9, message_builder("CDir::ConvToFullPath - error convert to full path")
                          .detail("path to convert", path)
                          .os_error("system error no", "system error desc", error)
                          .str());
  }
  path = NormalizePath(ResolveText(path, cwd));
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
