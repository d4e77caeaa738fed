// The run driver: the whole of a run from the argument vector to the exit
// status. The command line is checked first (unknown switches, an empty
// file pattern, a missing find or replacement), then settings are read in a
// fixed order, and every input (standard input, or the files the patterns
// name) is rewritten and reported.
//
// Exit status: 0 for a clean run and for asked-for help ("-h", "-?", no
// argument at all); -1 (255 to the shell) for every failure: a refused
// command line, a fatal error, an invalid regular expression, no matching
// file, an input too large, and any file that could not be read or written
// (reported when all other files are done, or at once under "-errstop").
#pragma once

namespace Velk {

int RunDriver(int argc, const char* const* argv);

}  // namespace Velk
