// CSysFile: the OS file handle and its thin operations.
#include "support/fs/sys_file.h"

#include <exception>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/fs/dir.h"
#include "support/text/text_conv_pass.h"

namespace Velk {

namespace {

// The common tail of every sysfileExp: number and text of the OS error.
message_builder& WithError(message_builder& message, int error) {
  return message.os_error("sys error", "error desc", error);
}

[[noreturn]] void ThrowFileError(std::int32_t code, const char* head, int error) {
  message_builder message(head);
  throw sysfileExp(code, WithError(message, error).str());
}

os::file_creation ToCreation(std::uint32_t creation) {
  switch (creation) {
    case CREATE_NEW: return os::file_creation::create_new;
    case CREATE_ALWAYS: return os::file_creation::create_always;
    case OPEN_ALWAYS: return os::file_creation::open_always;
    case TRUNCATE_EXISTING: return os::file_creation::truncate_existing;
    default: return os::file_creation::open_existing;
  }
}

}  // namespace

std::uint64_t SeekFile(os::file_handle handle, std::int64_t distance, std::uint32_t method) {
  std::uint64_t position = 0;
  if (const int error = os::seek_file(handle, distance, int(method), position))
    ThrowFileError(13, "SeekFile - error seek file pointer", error);
  return position;
}

void CSysFile::CLOSE_QUIETLY::operator()(FILE_HANDLE* handle) const noexcept {
  if (handle->value != os::invalid_file_handle) os::close_file(handle->value);
  delete handle;
}

CSysFile::~CSysFile() noexcept(false) {
  path_ = narrow_buffer();
  __Release();
}

// Drops this holder's share; the last holder closes through __Close so
// that a failed close is reported.
void CSysFile::__Release() {
  if (!handle_.is_unique()) {
    handle_.release();
    return;
  }
  const os::file_handle handle = handle_->value;
  handle_->value = os::invalid_file_handle;
  handle_.release();
  __Close(handle);
}

void CSysFile::__Close(os::file_handle handle) {
  if (handle == os::invalid_file_handle) return;
  const int error = os::close_file(handle);
  if (error != 0 && std::uncaught_exceptions() == 0)
    ThrowFileError(6, "CSysFile::__Close - error close file handle", error);
}

void CSysFile::Open(const narrow_buffer& name, std::uint32_t access, std::uint32_t creation,
                    std::uint32_t share, std::uint32_t flags, std::uint32_t extra) {
  (void)share;  // no sharing modes on POSIX
  (void)flags;
  path_ = narrow_buffer();
  narrow_buffer full = PassArgumentText(name);
  try {
    CDir::ConvToFullPath(full);
  } catch (const dirExp& inner) {
    throw sysfileExp(4, message_builder("CSysFile::Open - failed determine the file path to open")
                            .label_width(10)
                            .detail("file name", name)
                            .cause(inner.GetMessage())
                            .str());
  }
  os::file_handle handle = os::invalid_file_handle;
  const int error = os::open_file(full.c_str(), (access & GENERIC_READ) != 0,
                                  (access & GENERIC_WRITE) != 0, ToCreation(creation), handle,
                                  (extra & FILE_FLAG_OPEN_REPARSE_POINT) == 0);
  __Hold(handle, error, full);
}

void CSysFile::OpenIn(os::folder_handle folder, const char* name, const narrow_buffer& path,
                      std::uint32_t access, std::uint32_t creation, std::uint32_t extra) {
  path_ = narrow_buffer();
  os::file_handle handle = os::invalid_file_handle;
  const int error = os::open_file_in(folder, name, (access & GENERIC_READ) != 0,
                                     (access & GENERIC_WRITE) != 0, ToCreation(creation), handle,
                                     (extra & FILE_FLAG_OPEN_REPARSE_POINT) == 0);
  __Hold(handle, error, path);
}

// Holds the handle an open returned (or throws the open's error) in place
// of the one held before.
void CSysFile::__Hold(os::file_handle handle, int error, const narrow_buffer& path) {
  __Release();
  if (error != 0) {
    message_builder message("CSysFile::Open - error open file");
    message.detail("file name", path);
    throw sysfileExp(4, WithError(message, error).str());
  }
  share_counter* counter = new_share_counter();
  FILE_HANDLE* object = counter ? new (std::nothrow) FILE_HANDLE{handle} : nullptr;
  if (!object) {
    if (counter) delete_share_counter(counter);
    os::close_file(handle);
    throw std::bad_alloc();
  }
  handle_ = shared_ref<FILE_HANDLE, CLOSE_QUIETLY>(object, counter);
  path_ = path;
}

std::uint32_t CSysFile::Read(void* dest, std::uint32_t count) {
  std::size_t done = 0;
  const int error = os::read_file(GetHandle(), dest, count, done);
  // A pipe whose writer has gone simply has no more data.
  if (error != 0 && error != os::broken_pipe_error())
    ThrowFileError(7, "CSysFile::Read - error reading file", error);
  return std::uint32_t(done);
}

std::uint32_t CSysFile::Write(const void* src, std::uint32_t count) {
  std::size_t done = 0;
  const int error = os::write_file(GetHandle(), src, count, done);
  if (error == os::broken_pipe_error())
    ThrowFileError(34, "CSysFile::Write - error writing pipe", error);
  if (error != 0) ThrowFileError(9, "CSysFile::Write - error writing file", error);
  return std::uint32_t(done);
}

void CSysFile::ResizeToCurrentPos() {
  if (const int error = os::truncate_at_position(GetHandle()))
    ThrowFileError(23, "CSysFile::ResizeToCurrentPos - error set end of file", error);
}

void CSysFile::Flush() {
  if (const int error = os::sync_file(GetHandle()))
    ThrowFileError(15, "CSysFile::Flush - error flush file buffer", error);
}

std::uint64_t CSysFile::GetSize() {
  os::file_status status;
  if (const int error = os::get_file_status(GetHandle(), status))
    ThrowFileError(17, "CSysFile::GetSize - error getting file size", error);
  return status.size;
}

bool CSysFile::IsRegularFile(const char*& kind, std::uint64_t* size,
                             os::file_identity* identity, bool* unlinked) {
  os::file_status status;
  if (const int error = os::get_file_status(GetHandle(), status))
    ThrowFileError(17, "CSysFile::GetSize - error getting file size", error);
  if (size) *size = status.size;
  if (identity) *identity = status.identity;
  if (unlinked) *unlinked = status.links == 0;
  switch (status.kind) {
    case os::file_kind::regular: kind = "regular file"; return true;
    case os::file_kind::directory: kind = "directory"; break;
    case os::file_kind::fifo: kind = "FIFO"; break;
    case os::file_kind::character_device: kind = "character device"; break;
    case os::file_kind::block_device: kind = "block device"; break;
    case os::file_kind::socket: kind = "socket"; break;
    case os::file_kind::other: kind = "special file"; break;
  }
  return false;
}

}  // namespace Velk
