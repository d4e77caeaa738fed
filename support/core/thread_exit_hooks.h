// The per-thread release operations run when a library thread ends (by the
// start routine of TThread), after its work and before it returns.
//
// Core cannot know the modules above it, so each module registers its own
// hook, into a fixed slot that sets the order: the cached matchers' release
// (narrow, then wide), the regular-expression engine's per-thread state,
// then the thread's default text converter. Modules
// register when they first create per-thread state; registering the same
// slot again just replaces the function. An empty slot is skipped.
// Exceptions from hooks are swallowed.
#pragma once

namespace Velk {

enum ThreadExitHookSlot : unsigned {
  thread_exit_cached_match_narrow = 0,
  thread_exit_cached_match_wide = 1,
  thread_exit_regex_engine = 2,
  thread_exit_text_conv = 3,
  thread_exit_hook_slots = 4
};

using ThreadExitHook = void (*)();

void RegisterThreadExitHook(ThreadExitHookSlot slot, ThreadExitHook hook) noexcept;

// Runs the registered hooks in slot order on the calling thread. Only the
// unwinding of a cancelled thread passes through.
void RunThreadExitHooks();

}  // namespace Velk
