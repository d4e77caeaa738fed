// PrintHelp: the help screen, the tool's only documentation. Fixed text:
// nothing in it depends on the command line or the environment.
#pragma once

namespace Velk {

// Writes the screen in one pass to standard output (asked-for help) or to
// standard error (after the line that says what the command line lacks).
// A failed write to standard output throws sysfileExp, so a lost screen is
// a failure; standard error reports nothing when it fails.
enum class help_stream { output, error };
void PrintHelp(help_stream stream = help_stream::output);

}  // namespace Velk
