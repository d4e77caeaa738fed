// File handles of the operating system: open, read, write, seek, resize,
// sync, status and close.
//
// A handle is the system's own, owned by whoever opened it: a file
// descriptor on POSIX, a HANDLE held as an integer on Windows; close_file
// releases it. Every operation returns the OS error number (errno on POSIX,
// GetLastError on Windows), 0 on success, and never throws. Reads and writes loop over short transfers and
// interrupted calls, so one call moves the whole count or fails (a read
// also stops at the end of the data).
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/os/file_identity.h"

namespace Velk::os {

#if defined(_WIN32)
using file_handle = std::intptr_t;  // INVALID_HANDLE_VALUE is -1
#else
using file_handle = int;
#endif
constexpr file_handle invalid_file_handle = -1;

enum class file_creation {
  open_existing,      // fail when missing
  open_always,        // create when missing, keep the contents
  create_new,         // fail when present
  create_always,      // create or cut to zero
  truncate_existing,  // fail when missing, cut to zero
};

// Opens for reading and/or writing. The handle is not inherited by child
// processes, and opening never blocks (a FIFO without a partner does not
// hang); check the kind with file_status before using such a file. Without
// follow_link, a symbolic link as the last component is not followed and
// opening fails (ELOOP on POSIX); on Windows links are always followed.
int open_file(const char* path, bool read, bool write, file_creation creation,
              file_handle& out, bool follow_link = true);
// Opens name, a plain name without a folder part, in the open folder
// (dir.h) as open_file would open it by its path. Only for a valid folder
// handle, which Windows never has.
int open_file_in(int folder, const char* name, bool read, bool write, file_creation creation,
                 file_handle& out, bool follow_link = true);
int close_file(file_handle handle);

int read_file(file_handle handle, void* dest, std::size_t count, std::size_t& done);
int write_file(file_handle handle, const void* src, std::size_t count, std::size_t& done);

// origin: 0 from the start, 1 from the current position, 2 from the end.
int seek_file(file_handle handle, std::int64_t distance, int origin,
              std::uint64_t& position);
// Cuts or extends the file to the current position.
int truncate_at_position(file_handle handle);
int sync_file(file_handle handle);

enum class file_kind { regular, directory, fifo, character_device, block_device, socket, other };
struct file_status {
  file_kind kind;
  std::uint64_t size;
  file_identity identity;
  // Names the file has: 0 once it was removed or another file was renamed
  // over its last name, while it stays open here.
  std::uint64_t links = 1;
};
int get_file_status(file_handle handle, file_status& out);

// Waits for the exclusive lock of the file open as handle, which every
// rplc that rewrites the file takes too (an advisory lock of the open file
// description, flock on POSIX; nothing on Windows, where the sharing mode
// keeps writers out). Closing the handle releases it. Returns 0 when
// locked, the OS error number where the file system has no such lock.
int lock_file(file_handle handle);

// Error numbers the portable code needs to tell apart.
int broken_pipe_error();   // a pipe without a reader
int file_too_big_error();  // a file larger than the caller can take

}  // namespace Velk::os
