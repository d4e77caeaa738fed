// PrintHelp: the help screen, the tool's only documentation. Fixed text:
// nothing in it depends on the command line or the environment.
#pragma once

namespace Velk {

// Writes the screen to standard output in one pass and flushes the stream.
void PrintHelp();

}  // namespace Velk
