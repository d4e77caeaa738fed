// TWalkFilter: what a recursive file search (CDir::GetAllFiles) asks before
// it reports a file or enters a sub-folder. The search tells the filter
// each folder it enters and leaves, in depth-first order, so a filter can
// keep per-folder state (such as the folder's ignore files).
//
// Folders are full paths ending in "/"; an entry's full path is its
// folder's path followed by its name. The filter is used on the thread that
// runs the search only.
#pragma once

#include "support/core/basic_buffer.h"

namespace Velk {

class TWalkFilter {
 public:
  virtual ~TWalkFilter() = default;
  // Called before the folder's entries are looked at, and after its whole
  // tree is done (also when its search ends by an exception).
  virtual void EnterFolder(const narrow_buffer& folder) = 0;
  virtual void LeaveFolder() noexcept = 0;
  // True when the entry of the folder entered last is to be left out: a
  // file not reported, a folder not entered.
  virtual bool Skips(const narrow_buffer& full_path, bool is_folder) = 0;
};

}  // namespace Velk
