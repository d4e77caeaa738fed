#include "support/core/thread.h"

#include <exception>
#include <memory>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/core/fatal.h"
#include "support/core/logger.h"
#include "support/core/system_info.h"
#include "support/core/thread_exit_hooks.h"
#include "support/os/error.h"
#include "support/os/thread.h"

namespace Velk {

namespace {

std::atomic<ThreadExceptionCallback> exception_callback{nullptr};

[[noreturn]] void throw_invalid_state(const char* head, std::int32_t state) {
  narrow_buffer text(head);
  text.append(" - invalid state : ");
  if (state < 0) text.push_back('-');
  text.append_number(std::uint32_t(state < 0 ? -std::int64_t(state) : state));
  throw threadExp(3, text);
}

[[noreturn]] void throw_imp_error(std::int32_t code, const char* head, int error_number) {
  throw threadExp(code, message_builder(head).os_error("system error", "description",
                                                       error_number));
}

}  // namespace

void SetThreadExceptionCallback(ThreadExceptionCallback callback) noexcept {
  exception_callback.store(callback);
}

// ---- CThread_Imp -------------------------------------------------------------

bool CThread_Imp::Start(std::uint32_t (*routine)(void*), void* arg, std::size_t stack_size) {
  handle_ = os::create_thread(routine, arg, stack_size, true);
  if (!handle_) return false;
  id_ = os::thread_id(handle_);
  return true;
}

void CThread_Imp::Resume() {
  if (!os::resume_thread(handle_))
    throw_imp_error(7, "CThread_Imp::Resume - error resume thread", os::last_error());
}

void CThread_Imp::Kill() {
  const bool killed = os::kill_thread(handle_);
  const int error_number = os::last_error();
  Close();
  if (!killed) throw_imp_error(8, "CThread_Imp::Kill - error kill thread", error_number);
}

void CThread_Imp::SetPriority(int priority) {
  if (!os::set_thread_priority(handle_, priority))
    throw threadExp(15, message_builder("CThread_Imp::SetPriority - failed setting thread priority")
                            .os_error("sys error code", "sys error desc", os::last_error()));
}

bool CThread_Imp::Wait(std::int32_t timeout_ms) {
  return os::wait_thread(handle_, timeout_ms) == os::wait_result::signalled;
}

void CThread_Imp::Close() noexcept {
  os::close_thread(handle_);
  handle_ = nullptr;
}

// ---- TThread -----------------------------------------------------------------

void TThread::__FreeImp() noexcept {
  delete imp_;
  imp_ = nullptr;
}

void TThread::Create(bool auto_delete, std::size_t stack_size) {
  CFastLockGuard guard(lock_);
  // A finished thread is restarted only once everybody waiting has seen it end.
  for (std::int32_t s = state_; waiters_ > 0 && !__Alive(s); s = state_) {
    __Unlock();
    YieldThread();
    __Lock();
  }
  if (imp_) throw threadExp(2, narrow_buffer("TThread::Create - the thread was already created"));

  auto_delete_ = auto_delete ? 1 : 0;
  exit_code_ = 0;
  // A restarted thread must not see the previous run's stop request.
  stop_request_ = 0;
  try {
    imp_ = new CThread_Imp;
    if (!imp_->Start(&TThread::__StartRoutine, this, stack_size))
      throw threadExp(1, message_builder("TThread::Create - failed create the thread")
                             .os_error("sys error code", "sys error desc", os::last_error()));
    state_ = state_suspended;
  } catch (...) {
    __FreeImp();
    state_ = state_not_created;
    throw;
  }
}

void TThread::Resume() {
  CFastLockGuard guard(lock_);
  const std::int32_t state = state_;
  if (state == state_running) return;
  if (state != state_suspended) throw_invalid_state("TThread::Resume", state);
  imp_->Resume();
  state_ = state_running;
}

void TThread::SetPriority(int priority) {
  CFastLockGuard guard(lock_);
  const std::int32_t state = state_;
  if (!__Alive(state)) throw_invalid_state("TThread::SetPriority", state);
  imp_->SetPriority(priority);
}

bool TThread::TryStop() {
  CFastLockGuard guard(lock_);
  switch (std::int32_t state = state_) {
    case state_not_created:
    case state_finished:
    case state_killed:
      return true;
    case state_suspended:
      Resume();
      [[fallthrough]];
    case state_running:
    case state_stop_requested:
      state_ = state_stop_requested;
      stop_request_ = 1;
      return false;
    default:
      throw_invalid_state("TThread::TryStop", state);
  }
}

bool TThread::Wait(std::int32_t timeout_ms) {
  CFastLockGuard guard(lock_);
  if (!__Alive(state_)) return true;
  // While a waiter is counted nobody frees imp_; the last waiter to leave
  // after the end does.
  ++waiters_;
  CThread_Imp* imp = imp_;
  __Unlock();
  bool ended = false;
  try {
    ended = imp->Wait(timeout_ms);
  } catch (...) {
    __Lock();
    --waiters_;
    throw;
  }
  __Lock();
  if (--waiters_ == 0 && !__Alive(state_)) __FreeImp();
  return ended;
}

TThread::~TThread() noexcept(false) {
  try {
    CFastLockGuard guard(lock_);
    for (;;) {
      if (__Alive(state_)) {
        state_ = state_killed;
        // Kill closes the handle even when it fails.
        CThread_Imp* imp = imp_;
        imp_ = nullptr;
        std::unique_ptr<CThread_Imp> owner(imp);
        imp->Kill();
      }
      if (waiters_ == 0) break;
      __Unlock();
      YieldThread();
      __Lock();
    }
    __FreeImp();
  } catch (...) {
    __FreeImp();
    if (!std::uncaught_exceptions()) throw;
  }
}

std::uint32_t TThread::__StartRoutine(void* arg) {
  TThread* self = static_cast<TThread*>(arg);
  if (!self || !self->imp_) {
    LogText("util.trd", narrow_buffer::literal("invalid thread handle, program aborted"));
    AbortProcess(true);
  }

  std::uint32_t exit_code = 0;
  bool hooks_done = false;
  try {
    exit_code = self->Run();
  } catch (...) {
    os::rethrow_if_thread_cancelled();
    RunThreadExitHooks();
    hooks_done = true;
    bool handled = false;
    try {
      handled = self->OnException();
    } catch (...) {
      os::rethrow_if_thread_cancelled();
    }
    if (!handled) {
      if (ThreadExceptionCallback callback = exception_callback.load())
        callback(*self);
      else
        AbortProcess(true);
    }
    exit_code = 0;
  }

  // The exit hooks run before the thread is marked finished, so that a
  // waiter that sees it finished also sees its per-thread state released.
  if (!hooks_done) RunThreadExitHooks();

  bool delete_self = false;
  {
    CFastLockGuard guard(self->lock_);
    self->exit_code_ = exit_code;
    self->state_ = state_finished;
    if (self->auto_delete_)
      delete_self = true;
    else if (self->waiters_ == 0)
      self->__FreeImp();
  }
  // The lock is released before the object (and the lock with it) goes.
  if (delete_self) delete self;
  return exit_code;
}

}  // namespace Velk
