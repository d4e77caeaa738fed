// The process logger: one process-wide logger reference and its three entry
// points, LogText, LogFormat and FlushLog, used by the fatal-error handlers
// and the thread start routine.
//
// The reference is empty unless SetProcessLogger fills it; rplc never fills
// it, so every entry point takes the logger lock, finds no logger and
// returns. Records are written with severity 5 (the fatal level) only.
//
// Ownership: the logger is not owned; whoever installs it keeps it alive
// until it is removed again (SetProcessLogger(nullptr)).
// Error contract: the entry points swallow the exceptions of the logger's
// Write and Flush; taking the logger lock may throw semExp under contention.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

// The severity of every record the entry points write.
constexpr int kLogSeverityFatal = 5;

// What a logger offers the entry points.
class TLogger {
 public:
  virtual ~TLogger() = default;
  // Whether a record of this severity is written: the threshold is at or
  // below it, there is a sink and the logger is active.
  virtual bool Accepts(int severity) const = 0;
  virtual void Write(int severity, const char* source, const narrow_buffer& text) = 0;
  virtual void Flush() = 0;
  // Longest text LogFormat composes.
  virtual std::uint32_t MaxLength() const { return 4096; }
};

// Installs (or, with nullptr, removes) the process logger.
void SetProcessLogger(TLogger* logger);
// Whether a logger is installed. Lock-free and async-signal-safe, for paths
// that must not compose anything when nobody would read it.
bool HasProcessLogger() noexcept;

// Writes text under the source name (a dotted module name such as
// "util.errhnd") when a logger is installed and accepts it, then flushes.
void LogText(const char* source, const narrow_buffer& text);
// The same with the text formatted printf-style, up to the logger's
// MaxLength; nothing is formatted when no logger would take it.
void LogFormat(const char* source, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Flushes the installed logger, if any.
void FlushLog();

}  // namespace Velk
