#include "support/core/logger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "support/core/fast_lock.h"

namespace Velk {

namespace {

// The logger lock; constexpr-constructed, so free before any code runs.
CFastLock logger_lock;
// Read without the lock only by HasProcessLogger.
std::atomic<TLogger*> process_logger{nullptr};

void write_record(TLogger& logger, const char* source, const narrow_buffer& text) {
  try {
    logger.Write(kLogSeverityFatal, source, text);
  } catch (...) {
  }
}

}  // namespace

void SetProcessLogger(TLogger* logger) {
  CFastLockGuard guard(logger_lock);
  process_logger.store(logger);
}

bool HasProcessLogger() noexcept { return process_logger.load() != nullptr; }

void LogText(const char* source, const narrow_buffer& text) {
  CFastLockGuard guard(logger_lock);
  TLogger* logger = process_logger.load();
  if (!logger || !logger->Accepts(kLogSeverityFatal)) return;
  write_record(*logger, source, text);
  FlushLog();  // the lock is recursive
}

void LogFormat(const char* source, const char* format, ...) {
  CFastLockGuard guard(logger_lock);
  TLogger* logger = process_logger.load();
  if (!logger || !logger->Accepts(kLogSeverityFatal)) return;
  narrow_buffer text;
  {
    va_list args;
    va_start(args, format);
    va_list size_args;
    va_copy(size_args, args);
    const int needed = std::vsnprintf(nullptr, 0, format, size_args);
    va_end(size_args);
    if (needed > 0) {
      std::uint32_t length = std::uint32_t(needed);
      if (length > logger->MaxLength()) length = logger->MaxLength();
      text.reserve_exact(std::size_t(length) + 1);  // room for the terminator
      std::vsnprintf(text.data(), std::size_t(length) + 1, format, args);
      text.set_length(length);
    }
    va_end(args);
  }
  write_record(*logger, source, text);
  FlushLog();
}

void FlushLog() {
  CFastLockGuard guard(logger_lock);
  TLogger* logger = process_logger.load();
  if (!logger) return;
  try {
    logger->Flush();
  } catch (...) {
  }
}

}  // namespace Velk
