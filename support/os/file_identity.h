// The identity of a file as it was read: which file it is (volume and file
// number), its size and change times, and where it lives (its full path
// with every symbolic link resolved, taken from the open handle, so a link
// is resolved once, when the file is read).
//
// A write-back compares the record with the file it is about to replace to
// tell whether another process changed, removed or replaced the file
// meanwhile (see file_replace.h). The record is filled by the OS layer;
// callers above it only carry it from the read to the write.
#pragma once

#include <cstdint>
#include <string>

#include "support/os/file.h"

namespace Velk::os {

struct file_identity {
  std::uint64_t volume = 0;
  std::uint64_t file_number = 0;
  std::uint64_t size = 0;        // bytes the reader took in
  std::int64_t modified_ns = 0;  // last change of the contents
  std::int64_t changed_ns = 0;   // last change of the contents or the attributes
  std::string location;          // empty when it could not be found
};

// Fills out for the open file handle, which was opened through path. The
// size is the file's current size; a reader that took in another count
// sets its own. Returns the OS error number, 0 on success.
int get_file_identity(file_handle handle, const char* path, file_identity& out);

}  // namespace Velk::os
