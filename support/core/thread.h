// TThread: the base of the library's threads, and CThread_Imp, the holder of
// the OS thread behind it.
//
// Derive from TThread and supply Run (the thread's work; its result is the
// exit code). Create starts the thread suspended, Resume lets it run,
// TryStop asks it to stop (Run polls StopRequested), Wait waits for its end.
// States: 0 not created, 1 created and suspended, 2 running, 3 stop
// requested, 4 finished, 5 killed; Create may start the object again from 0,
// 4 or 5. When the thread ends it runs the registered thread-exit hooks
// (thread_exit_hooks.h), before it is marked finished: once Wait has seen
// it end, its per-thread state is released.
//
// Ownership: without auto-delete the creator owns the object and may delete
// it at any time; deleting a live thread kills it. With auto-delete the
// thread deletes its own object when Run returns; the creator must not touch
// it afterwards (not even Wait). A derived class whose Run uses its own
// members stops the thread in its own destructor: by the time ~TThread runs
// they are gone.
//
// Killing: POSIX has no safe way to end a thread from outside. Kill cancels
// the thread (deferred cancellation: it ends at its next wait, sleep or I/O,
// unwinding its stack) and waits for its end; a thread that never reaches
// such a point is never ended, and the caller keeps waiting.
//
// Error contract: threadExp with code 1 (start failed), 2 (already
// created), 3 (wrong state), 7 (resume), 8 (kill), 15 (priority refused).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "support/core/fast_lock.h"

namespace Velk {

namespace os {
struct thread;
}

class CThread_Imp {
 public:
  CThread_Imp() = default;
  ~CThread_Imp() { Close(); }
  CThread_Imp(const CThread_Imp&) = delete;
  CThread_Imp& operator=(const CThread_Imp&) = delete;

  // Starts routine(arg) suspended; false with errno set on failure.
  bool Start(std::uint32_t (*routine)(void*), void* arg, std::size_t stack_size);
  void Resume();
  // Ends the thread (see the header comment) and closes the handle, also
  // when ending it failed.
  void Kill();
  void SetPriority(int priority);
  // True when the thread has ended within the timeout (-1: no timeout).
  bool Wait(std::int32_t timeout_ms);
  void Close() noexcept;
  std::int32_t GetId() const { return id_; }

 private:
  os::thread* handle_ = nullptr;
  std::int32_t id_ = 0;
};

class TThread {
 public:
  enum : std::int32_t {
    state_not_created = 0,
    state_suspended = 1,
    state_running = 2,
    state_stop_requested = 3,
    state_finished = 4,
    state_killed = 5
  };

  TThread() = default;
  virtual ~TThread() noexcept(false);
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Hooks with no use in this program; they keep their default behaviour.
  virtual std::int32_t ReservedHook1() { return 0; }
  virtual std::int32_t ReservedHook2() { return 0; }
  // The thread's work; the result is the exit code.
  virtual std::uint32_t Run() = 0;
  // Asked when Run lets an exception escape; true when handled. Unhandled,
  // the process-wide callback runs when set, else the process is aborted.
  virtual bool OnException() { return false; }
  virtual void ReservedNotify(std::intptr_t) {}
  virtual std::intptr_t ReservedFilter(std::intptr_t value) { return value; }
  // States 0, 4, 5: true. States 1 to 3: the stop request is set (resuming
  // a suspended thread first) and false is returned, the thread still lives.
  virtual bool TryStop();

  void Create(bool auto_delete = false, std::size_t stack_size = 0);
  void Resume();
  // A Windows thread priority value (-15, -2 ... 2, 15).
  void SetPriority(int priority);
  // True when the thread has ended (or is not alive); false on time-out.
  bool Wait(std::int32_t timeout_ms = -1);

  std::int32_t GetState() const { return state_.load(); }
  std::uint32_t GetExitCode() const { return exit_code_.load(); }
  bool StopRequested() const { return stop_request_.load() != 0; }

 private:
  static std::uint32_t __StartRoutine(void* arg);
  static bool __Alive(std::int32_t state) { return state >= 1 && state <= 3; }
  void __FreeImp() noexcept;
  void __Unlock() { lock_.__Release(); }
  void __Lock() { lock_.__Acquire(); }

  CThread_Imp* imp_ = nullptr;
  std::atomic<std::int32_t> state_{state_not_created};
  std::atomic<std::uint32_t> exit_code_{0};
  std::atomic<std::int32_t> stop_request_{0};
  std::atomic<std::int32_t> auto_delete_{0};
  CFastLock lock_;
  std::int32_t waiters_ = 0;
};

// Called for a thread whose Run threw and whose OnException did not handle
// it; null (the default) means the process is aborted instead.
using ThreadExceptionCallback = void (*)(TThread& thread);
void SetThreadExceptionCallback(ThreadExceptionCallback callback) noexcept;

}  // namespace Velk
