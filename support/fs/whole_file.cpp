// CDir: whole-file read and write.
#include "support/core/exceptions.h"
#include "support/fs/dir.h"

namespace Velk {

void CDir::ReadFile(const narrow_buffer&, narrow_buffer&) { throw sysfileExp(7, "not yet"); }
void CDir::WriteFile(const narrow_buffer&, const narrow_buffer&, bool, bool) {
  throw sysfileExp(9, "not yet");
}

}  // namespace Velk
