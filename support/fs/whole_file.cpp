// CDir: whole-file read and write.
#include <algorithm>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/fs/streamed_file.h"
#include "support/fs/sys_file.h"
#include "support/fs/write_back.h"
#include "support/os/file_replace.h"
#include "support/os/path_rules.h"

namespace Velk {

namespace {

[[noreturn]] void ThrowTooLarge(const narrow_buffer& path, std::uint64_t size) {
  throw sysfileExp(17, message_builder("CDir::ReadFile - error reading file : file too large")
                           .detail("file name", path)
                           .detail("file size", size)
                           .os_error("sys error", "error desc", os::file_too_big_error())
                           .str());
}

// Refuses folders, FIFOs, devices and sockets: reading one could block for
// ever or never end, and replacing one makes no sense. Returns the size.
std::uint64_t RequireRegularFile(CSysFile& file, std::int32_t code, const char* head,
                                 os::file_identity* identity = nullptr,
                                 bool* unlinked = nullptr) {
  const char* kind = "";
  std::uint64_t size = 0;
  if (!file.IsRegularFile(kind, &size, identity, unlinked))
    throw sysfileExp(code, message_builder(head)
                               .detail("file name", file.GetPath())
                               .detail("file type", kind)
                               .str());
  return size;
}

// Turns the result of a write-back into the WriteFile failure it means.
void ThrowUnlessReplaced(os::replace_result result, const narrow_buffer& full_path,
                         const os::replace_failure& failure);

}  // namespace

void CDir::ReadFile(const narrow_buffer& path, narrow_buffer& out, std::uint32_t max_length,
                    FILE_IDENTITY* identity, const os::file_id* expected, bool follow_link,
                    bool lock) {
  ReadFile(path, FolderRef(), out, max_length, identity, expected, follow_link, lock);
}

std::uint64_t CDir::OpenToRead(const narrow_buffer& path, const FolderRef& folder,
                               FILE_IDENTITY& opened, const os::file_id* expected,
                               bool follow_link, bool lock) {
  opened = FILE_IDENTITY();
  if (path.empty()) throw dirExp(2, narrow_buffer("CDir::ReadFile - read what ?"));
  CSysFile& file = opened.file;
  const std::uint32_t extra = follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
  const narrow_buffer::size_type slash = path.find_last_of(narrow_buffer::literal(os::path_separator));
  auto open = [&] {
    if (folder && slash != narrow_buffer::npos) {
      file.OpenIn(folder->handle, path.c_str() + slash + 1, path, GENERIC_READ, OPEN_EXISTING,
                  extra);
      opened.folder = folder;
    } else
      file.Open(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, extra);
  };
  open();
  // A locked read takes the file the name leads to now, opened in the
  // listed folder and never through a link: another rplc may have renamed
  // its result over the file the walk saw. Locked, the file may have been
  // renamed over while this waited, which leaves it without a name: the
  // lock then holds the replaced file, and the name is opened afresh (its
  // successor is what this run must read). A file system without the lock
  // goes on unlocked.
  if (lock) expected = nullptr;
  // The identity is taken (under the lock) before the read: a change made
  // while reading shows at the write-back.
  os::file_identity& state = opened.state;
  std::uint64_t size = 0;
  for (int moves = 0;; ++moves) {
    const bool locked = lock && os::lock_file(file.GetHandle()) == 0;
    bool unlinked = false;
    size = RequireRegularFile(file, 7, "CDir::ReadFile - error reading file : not a regular file",
                              &state, &unlinked);
    if (!locked || !unlinked || moves == 100) break;
    open();
  }
  if (expected && expected->known &&
      (state.volume != expected->volume || state.file_number != expected->file_number))
    throw sysfileExp(7, message_builder("CDir::ReadFile - error reading file : not the file found")
                            .detail("file name", file.GetPath())
                            .detail("error desc",
                                    "another file took its name, or a folder on its way was "
                                    "replaced, since its folder was listed")
                            .str());
  return size;
}

void CDir::ReadFile(const narrow_buffer& path, const FolderRef& folder, narrow_buffer& out,
                    std::uint32_t max_length, FILE_IDENTITY* identity, const os::file_id* expected,
                    bool follow_link, bool lock) {
  out.clear();
  if (identity) *identity = FILE_IDENTITY();
  FILE_IDENTITY local;
  FILE_IDENTITY& opened = identity ? *identity : local;
  try {
    const std::uint64_t size =
        OpenToRead(path, folder, opened, expected, follow_link, lock && identity);
    ReadOpened(opened, size, out, max_length);
  } catch (...) {
    opened = FILE_IDENTITY();  // a file that was not read is not held (nor its lock)
    throw;
  }
}

void CDir::ReadOpened(FILE_IDENTITY& opened, std::uint64_t size, narrow_buffer& out,
                      std::uint32_t max_length) {
  // The buffer needs room for its terminator.
  const std::uint64_t max_content = std::min<std::uint64_t>(max_length, narrow_buffer::max_size - 1);
  CSysFile& file = opened.file;
  out.clear();
  if (size > max_content) ThrowTooLarge(file.GetPath(), size);

  out.reserve_exact(size + 1);
  // A file is read in one call when its size is known: what was read is
  // what the identity records, so one that grew since its size was taken
  // is reported as changed at its write-back instead of cut short. Only a
  // file that tells no size (many system files) is read to its end.
  out.set_length(file.Read(out.data(), std::uint32_t(size)));
  if (size == 0) {
    char more[4096];
    while (const std::uint32_t count = file.Read(more, sizeof more)) {
      if (out.length() + std::uint64_t(count) > max_content)
        ThrowTooLarge(file.GetPath(), out.length() + std::uint64_t(count));
      out.append(more, count);
    }
  }
  // What was read, not what the file held: one that grew or shrank while
  // it was read no longer matches and is not overwritten.
  opened.state.size = out.length();
}

void CDir::WriteFile(const narrow_buffer& path, const narrow_buffer& data, bool flush,
                     bool append, FILE_IDENTITY* identity) {
  if (path.empty()) throw dirExp(2, narrow_buffer("CDir::WriteFile - write what ?"));

  narrow_buffer full_path = path;
  FILE_IDENTITY opened;
  if (identity && !append) {
    ConvToFullPath(full_path);
  } else {
    // Opening for writing first proves that the file may be written: a
    // file the user may not write is never replaced behind its permissions.
    CSysFile& file = opened.file;
    file.Open(path, GENERIC_WRITE, OPEN_ALWAYS, 0, FILE_ATTRIBUTE_NORMAL, 0);
    RequireRegularFile(file, 9, "CDir::WriteFile - error writing file : not a regular file",
                       &opened.state);
    if (append) {
      file.SeekFromEnd(0);
      file.Write(data.c_str(), data.length());
      if (flush) file.Flush();
      return;
    }
    full_path = file.GetPath();
    identity = &opened;
  }

  os::file_handle read_handle = identity->file.GetHandle();
  if (os::replace_needs_closed_file()) {
    // Where an open file cannot be replaced (Windows), the handle of the
    // read is let go first; the identity is checked on a fresh handle.
    identity->file.Close();
    read_handle = os::invalid_file_handle;
  }
  os::replace_failure failure;
  os::opened_in where;
  const narrow_buffer::size_type slash =
      path.find_last_of(narrow_buffer::literal(os::path_separator));
  if (identity->folder && slash != narrow_buffer::npos) {
    where.folder = identity->folder->handle;
    where.name = path.c_str() + slash + 1;
  }
  const os::replace_result result =
      os::replace_file_contents(read_handle, identity->state, full_path.c_str(), data.c_str(),
                                data.length(), flush, failure, where);
  // The file is replaced or left alone: its lock goes.
  identity->file.Close();
  ThrowUnlessReplaced(result, full_path, failure);
}

namespace {

void ThrowUnlessReplaced(os::replace_result result, const narrow_buffer& full_path,
                         const os::replace_failure& failure) {
  switch (result) {
    case os::replace_result::replaced:
      return;
    case os::replace_result::changed:
      throw sysfileExp(9, message_builder("CDir::WriteFile - error replace file contents")
                              .detail("file name", full_path)
                              .detail("failed step", failure.step)
                              .detail("error desc",
                                      narrow_buffer("the file changed while it was being "
                                                    "processed: ") +
                                          narrow_buffer(failure.change))
                              .str());
    case os::replace_result::failed:
      throw sysfileExp(9, message_builder("CDir::WriteFile - error replace file contents")
                              .detail("file name", full_path)
                              .detail("failed step", failure.step)
                              .os_error("sys error", "error desc", failure.error)
                              .str());
  }
}

}  // namespace

void InstallWriteBackSignalHandlers() { os::install_replace_signal_handlers(); }
void ArmInterruptWindDown() { os::arm_wind_down(); }
int GetInterruptSignal() { return os::wind_down_signal(); }
int EndInterruptWindDown() { return os::end_wind_down(); }
void EndByInterrupt(int signal_number) { os::end_by_signal(signal_number); }

}  // namespace Velk

// --- CStreamedFile -------------------------------------------------------------

namespace Velk {

CStreamedFile::CStreamedFile() = default;
CStreamedFile::~CStreamedFile() = default;
CStreamedFile::CStreamedFile(CStreamedFile&&) noexcept = default;
CStreamedFile& CStreamedFile::operator=(CStreamedFile&&) noexcept = default;

bool CStreamedFile::IsSupported() { return os::streamed_replace_supported(); }

void CStreamedFile::Attach(FILE_IDENTITY& opened) {
  Reset();
  file_ = opened;
  opened = FILE_IDENTITY();
}

void CStreamedFile::Reset() {
  rewrite_.reset();
  file_ = FILE_IDENTITY();
  read_ = 0;
}

std::size_t CStreamedFile::Read(char* dest, std::size_t room) {
  const std::uint32_t count =
      file_.file.Read(dest, std::uint32_t(std::min<std::size_t>(room, 1u << 30)));
  read_ += count;
  return count;
}

void CStreamedFile::BeginRewrite(std::uint64_t unchanged) {
  rewrite_ = std::make_unique<os::streamed_replacement>(file_.file.GetHandle(),
                                                         GetPath().c_str());
  os::replace_failure failure;
  if (!rewrite_->begin(unchanged, failure)) {
    rewrite_.reset();
    ThrowUnlessReplaced(os::replace_result::failed, GetPath(), failure);
  }
}

void CStreamedFile::Write(const char* data, std::size_t size) {
  os::replace_failure failure;
  if (!rewrite_->write(data, size, failure))
    ThrowUnlessReplaced(os::replace_result::failed, GetPath(), failure);
}

void CStreamedFile::FinishRewrite(bool flush) {
  // What was read, not what the file held when it was opened: one that grew
  // or shrank meanwhile no longer matches and is not overwritten.
  os::file_identity read = file_.state;
  read.size = read_;
  os::replace_failure failure;
  const os::replace_result result = rewrite_->finish(read, flush, failure);
  const narrow_buffer path = GetPath();
  // The file is replaced or left alone: its lock goes.
  Reset();
  ThrowUnlessReplaced(result, path, failure);
}

}  // namespace Velk
