#include "support/core/thread_exit_hooks.h"

#include <atomic>

#include "support/os/thread.h"

namespace Velk {

namespace {
// Constant-initialised, so registration works from static constructors too.
std::atomic<ThreadExitHook> hooks[thread_exit_hook_slots] = {};
}  // namespace

void RegisterThreadExitHook(ThreadExitHookSlot slot, ThreadExitHook hook) noexcept {
  if (slot < thread_exit_hook_slots) hooks[slot].store(hook, std::memory_order_release);
}

void RunThreadExitHooks() {
  for (auto& each : hooks) {
    ThreadExitHook hook = each.load(std::memory_order_acquire);
    if (!hook) continue;
    try {
      hook();
    } catch (...) {
      os::rethrow_if_thread_cancelled();
    }
  }
}

}  // namespace Velk
