// The driver's vocabulary: the name of every switch rplc knows, in one
// table. A switch named on the command line that is not in it is an error,
// and on POSIX an argument that begins with "/" is a switch only when its
// name is in it (otherwise it is an absolute path). A new switch is added
// here and read in run_settings.cpp.
#pragma once

#include "support/core/basic_buffer.h"

namespace Velk {

// True when name (compared ignoring ASCII case) is a known switch.
bool IsKnownSwitch(const narrow_buffer& name);

}  // namespace Velk
