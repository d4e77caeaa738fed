// Replacing a file's contents so that they are never lost: the new contents
// go to a temporary file in the same folder, which takes the original's
// permission bits, owner and group and is then renamed over it in one step.
// Where a rename would change what others rely on (more hard links, an
// owner that cannot be kept, a folder that refuses the temporary file) the
// file is rewritten in place instead, with the new size reserved before
// the first byte changes and the file cut only at the end.
//
// On failure the original contents are intact (except for an I/O error in
// the middle of an in-place rewrite, which no order of steps can prevent),
// no temporary file is left behind, and the failed step and error number
// are returned. Several threads may replace files at once (different
// files); the signal handlers know every temporary file that exists.
#pragma once

#include <cstddef>

#include "support/os/file.h"

namespace Velk::os {

struct replace_failure {
  const char* step = "";  // what was being done, for the message
  int error = 0;          // errno
};

// original is the file, already open for writing at path (which proves the
// caller may write it); it must be a regular file. If path is a symbolic
// link, the link's final target is replaced and the link stays. flush syncs
// the new contents to the device before they replace the old ones.
bool replace_file_contents(file_handle original, const char* path, const void* data,
                           std::size_t size, bool flush, replace_failure& failure);

// Call once at start-up: SIGINT, SIGTERM and SIGHUP (unless ignored) then
// remove every live temporary file, of any thread, before ending the
// process as they would have; SIGXFSZ is ignored so that a file-size limit fails the write with
// EFBIG instead of killing the process half way.
void install_replace_signal_handlers();

}  // namespace Velk::os
