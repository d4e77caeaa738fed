// AbortProcess: the library's immediate process exit with status -1 (the
// shell sees 255).
//
// No static destructors, no atexit functions and no flushing of the
// standard streams run: output still held in their buffers is lost. Used by
// the last-resort error handlers and the thread start routine.
#pragma once

namespace Velk {

// flush_log: flush the process logger first, swallowing any exception.
[[noreturn]] void AbortProcess(bool flush_log) noexcept;

}  // namespace Velk
