// The identity of a file as it was read: which file it is (volume and file
// number), its size and its change times. Filled by get_file_status
// (file.h) with the same system call that tells the file's kind.
//
// A write-back compares it with the file it is about to replace, to tell
// whether another process changed, removed or replaced the file meanwhile
// (see file_replace.h). Callers above the OS layer only carry it from the
// read to the write.
#pragma once

#include <cstdint>

namespace Velk::os {

struct file_identity {
  std::uint64_t volume = 0;
  std::uint64_t file_number = 0;
  std::uint64_t size = 0;        // a reader sets the count it took in
  std::int64_t modified_ns = 0;  // last change of the contents
  std::int64_t changed_ns = 0;   // last change of the contents or the attributes
};

}  // namespace Velk::os
