// Ending the process at once.
//
// exit_now ends the calling process with the given status without running
// static destructors or atexit functions and without flushing the buffers
// of the standard streams: whatever they still hold is lost. It is
// async-signal-safe, so fault handlers may call it.
#pragma once

namespace Velk::os {

// A negative status reaches the parent as its low eight bits (-1 is 255).
[[noreturn]] void exit_now(int status) noexcept;

}  // namespace Velk::os
