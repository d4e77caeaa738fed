// CSysFile: the owner of one operating-system file handle, with the thin
// operations beneath the whole-file read and write of CDir.
//
// Copies share the handle through a counted reference; the last copy
// destroyed closes it. Every failure throws sysfileExp with the operation's
// code and a message naming the OS error number and text. Closing from the
// destructor throws only when no other exception is propagating.
//
// The open flags carry the names and values of the Windows interface so
// that callers read alike on every system; on POSIX, share modes and
// attribute flags have no meaning and are ignored, except
// FILE_FLAG_OPEN_REPARSE_POINT (below). Opening never blocks on
// a FIFO and never leaks the handle into child processes.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"
#include "support/core/shared_ref.h"
#include "support/os/dir.h"
#include "support/os/file.h"

namespace Velk {

// Desired access.
constexpr std::uint32_t GENERIC_READ = 0x80000000u;
constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
// Creation disposition.
constexpr std::uint32_t CREATE_NEW = 1;
constexpr std::uint32_t CREATE_ALWAYS = 2;
constexpr std::uint32_t OPEN_EXISTING = 3;
constexpr std::uint32_t OPEN_ALWAYS = 4;
constexpr std::uint32_t TRUNCATE_EXISTING = 5;
// Share mode.
constexpr std::uint32_t FILE_SHARE_READ = 1;
constexpr std::uint32_t FILE_SHARE_WRITE = 2;
// Flags and attributes.
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
// Extra flag: a symbolic link as the last component is not followed; on
// POSIX opening one then fails (on Windows it is ignored: links there are
// followed as always).
constexpr std::uint32_t FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
// Move methods of SeekFile.
constexpr std::uint32_t FILE_BEGIN = 0;
constexpr std::uint32_t FILE_CURRENT = 1;
constexpr std::uint32_t FILE_END = 2;

// Moves the file position of handle; returns the new position.
std::uint64_t SeekFile(os::file_handle handle, std::int64_t distance, std::uint32_t method);

class CSysFile {
 public:
  CSysFile() = default;
  ~CSysFile() noexcept(false);
  CSysFile(const CSysFile&) = default;
  CSysFile& operator=(const CSysFile&) = default;

  // Opens name (made a full path first). Replaces the handle held before.
  void Open(const narrow_buffer& name, std::uint32_t access, std::uint32_t creation,
            std::uint32_t share, std::uint32_t flags, std::uint32_t extra);

  // Opens name (a plain name) in the open folder, as Open would open path,
  // the same file's full name, which the object then holds.
  void OpenIn(os::folder_handle folder, const char* name, const narrow_buffer& path,
              std::uint32_t access, std::uint32_t creation, std::uint32_t extra);

  // Reads count bytes, fewer only at the end of the data; returns how many.
  std::uint32_t Read(void* dest, std::uint32_t count);
  // Writes all count bytes or throws; returns count.
  std::uint32_t Write(const void* src, std::uint32_t count);
  std::uint64_t Seek(std::int64_t distance) { return SeekFile(GetHandle(), distance, FILE_BEGIN); }
  std::uint64_t SeekFromEnd(std::int64_t distance) {
    return SeekFile(GetHandle(), distance, FILE_END);
  }
  void ResizeToCurrentPos();
  void Flush();
  std::uint64_t GetSize();
  // Whether the open file is a regular file (not a folder, FIFO, device or
  // socket), and a short name of what it is otherwise; optionally its size,
  // its identity and whether it lost its last name (removed, or renamed
  // over) while open here.
  bool IsRegularFile(const char*& kind, std::uint64_t* size = nullptr,
                     os::file_identity* identity = nullptr, bool* unlinked = nullptr);

  // Lets go of the file now instead of at destruction: the last holder
  // closes the handle, and a failure to close throws.
  void Close() {
    path_ = narrow_buffer();
    __Release();
  }

  os::file_handle GetHandle() const {
    return handle_ ? handle_->value : os::invalid_file_handle;
  }
  const narrow_buffer& GetPath() const { return path_; }

  // Closes handle; an invalid handle is ignored. Throws on failure unless
  // an exception is already propagating.
  static void __Close(os::file_handle handle);

 private:
  struct FILE_HANDLE {
    os::file_handle value;
  };
  // Closes quietly: used only by a holder released while another one is
  // being destroyed; the last holder closes through __Close.
  struct CLOSE_QUIETLY {
    void operator()(FILE_HANDLE* handle) const noexcept;
  };

  void __Release();
  void __Hold(os::file_handle handle, int error, const narrow_buffer& path);

  shared_ref<FILE_HANDLE, CLOSE_QUIETLY> handle_;
  narrow_buffer path_;
};

}  // namespace Velk
