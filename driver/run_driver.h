// The run driver: the whole of a run from the argument vector to the exit
// status. Settings are read in a fixed order, the help screen is shown when
// the command line names no usable find and replace operation, then every
// input (standard input, or the files the patterns name) is rewritten and
// reported.
//
// Exit status: 0 for a normal run and for the help screen; -1 (255 to the
// shell) when a fatal error ended the run, when the regular expression is
// invalid, when no file matched, and for a read or write failure under
// "-errstop".
#pragma once

namespace Velk {

int RunDriver(int argc, const char* const* argv);

}  // namespace Velk
