// Process set-up for the safe write-back of CDir::WriteFile.
//
// Call InstallWriteBackSignalHandlers once, early in main: an interrupt
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT) that arrives while a named temporary
// file of a write-back exists then removes it before the process ends the
// way the signal would have ended it, and a file-size limit makes the
// write fail with an error (EFBIG) instead of killing the process (SIGXFSZ
// ignored). Signals that are already ignored or handled are left alone.
// An interrupt during an in-place rewrite waits until the file is whole,
// with or without the handlers.
#pragma once

namespace Velk {

void InstallWriteBackSignalHandlers();

}  // namespace Velk
