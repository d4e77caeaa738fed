// The walk of a file search (CDir::WalkFiles, dir.h): every file found is
// handed to a sink at once, while the walk goes on, together with which
// file it is and how it was found.
//
// The walk reads each folder once through a handle and opens each
// sub-folder from its parent's handle without following a symbolic link,
// so a folder swapped for a link while the walk runs is never entered.
// Symbolic links met in a listing are never followed, to files or to
// folders (a link may lead out of the tree), and neither are FIFOs,
// devices or sockets reported: only regular files. Only a bounded number
// of folder handles is open at any depth; a folder left behind is opened
// again from its child's handle (its "..") and checked to be the same
// folder. Order: a folder's matches in listing order, then its
// sub-folders' trees in listing order (depth-first pre-order).
#pragma once

#include <cstdint>
#include <memory>

#include "support/core/basic_buffer.h"
#include "support/core/exceptions.h"
#include "support/os/dir.h"

namespace Velk {

// A folder a walk keeps open for the files it found there, so that each
// is opened relative to it rather than by its whole path (which the system
// would look up again, folder by folder). The last holder closes it.
struct OPEN_FOLDER {
  explicit OPEN_FOLDER(os::folder_handle folder);
  ~OPEN_FOLDER();
  OPEN_FOLDER(const OPEN_FOLDER&) = delete;
  OPEN_FOLDER& operator=(const OPEN_FOLDER&) = delete;
  const os::folder_handle handle;
};
using FolderRef = std::shared_ptr<const OPEN_FOLDER>;

// Folders kept open for their files by all walks at once: beyond this many
// the files are opened by their paths, so that a consumer far behind the
// walk never runs the process out of handles.
inline constexpr int kSharedFolderLimit = 64;

struct WALK_ENTRY {
  narrow_buffer path;                  // full name: the folder's path and the name
  narrow_buffer::size_type name_offset = 0;  // where the name begins in path
  // Which file it is, from the listing (no system call of its own) or, for
  // a name given without wildcards, from the status call that found it.
  // Unknown where the system does not tell it cheaply (Windows).
  os::file_id identity;
  // Found by listing a folder (a wildcard, a folder named as a pattern, or
  // the walk of sub-folders) rather than named exactly.
  bool by_wildcard = true;
  // The folder it is in, kept open when the system allows (not on
  // Windows) and not too many are held already; null otherwise.
  FolderRef folder;
};

class TWalkSink {
 public:
  virtual ~TWalkSink() = default;
  // One file (or with GetAllSubDirs one folder) found; entry may be moved
  // from.
  virtual void Found(WALK_ENTRY& entry) = 0;
  // The folder (full, ending in "/") could not be opened, listed, closed
  // or returned to; the message says why. true goes on without it (what it
  // held so far stays found); false ends the walk by throwing error.
  virtual bool FolderFailed(const narrow_buffer& folder, const dirExp& error) = 0;
  // Whether the entries should come with their folder kept open (see
  // WALK_ENTRY::folder); a sink that keeps many entries should not ask.
  virtual bool WantsFolders() const { return false; }
};

// At most this many folder handles of one walk are open at once.
inline constexpr std::size_t kWalkOpenFolderLimit = 16;

}  // namespace Velk
