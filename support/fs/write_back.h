// Process set-up for the safe write-back of CDir::WriteFile.
//
// Call InstallWriteBackSignalHandlers once, early in main: an interrupt
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT) that arrives while a named temporary
// file of a write-back exists then removes it before the process ends the
// way the signal would have ended it, and a file-size limit makes the
// write fail with an error (EFBIG) instead of killing the process (SIGXFSZ
// ignored). Signals that are already ignored or handled are left alone.
// An interrupt during an in-place rewrite waits until the file is whole,
// with or without the handlers. A closed standard output (SIGPIPE, unless
// handled, is ignored) fails the write to it with EPIPE.
//
// A run that rewrites files winds down on an interrupt: between
// ArmInterruptWindDown and EndInterruptWindDown the first SIGINT, SIGTERM
// or SIGHUP only records itself (GetInterruptSignal then returns it), so
// that the run starts no more files and reports those it wrote; a second
// one, or SIGQUIT, ends the process at once. EndInterruptWindDown returns
// the recorded signal (0: none); EndByInterrupt removes every temporary
// file and ends the process as that signal would have.
#pragma once

namespace Velk {

void InstallWriteBackSignalHandlers();
void ArmInterruptWindDown();
int GetInterruptSignal();
int EndInterruptWindDown();
[[noreturn]] void EndByInterrupt(int signal_number);

}  // namespace Velk
