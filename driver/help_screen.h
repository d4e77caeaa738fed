// PrintHelp: the help screen, the tool's only documentation. Fixed text:
// nothing in it depends on the command line or the environment.
#pragma once

namespace Velk {

// Writes the screen in one pass to standard output. A failed write throws
// sysfileExp, so a lost screen is a failure.
void PrintHelp();

}  // namespace Velk
