#include "support/core/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/core/fatal.h"
#include "tests/support/core/child_process.h"
#include "tests/support/core/sanitizers.h"

namespace Velk {
namespace {

class RecordingLogger : public TLogger {
 public:
  int threshold = 5;
  bool throw_on_write = false;
  std::uint32_t max_length = 4096;
  std::vector<std::string> events;

  bool Accepts(int severity) const override { return severity >= threshold; }
  void Write(int severity, const char* source, const narrow_buffer& text) override {
    if (throw_on_write) throw std::runtime_error("sink failed");
    events.push_back(std::to_string(severity) + " " + source + " " +
                     std::string(text.c_str(), text.length()));
  }
  void Flush() override { events.push_back("flush"); }
  std::uint32_t MaxLength() const override { return max_length; }
};

// Installs a logger for one test and always removes it again.
struct ScopedLogger {
  explicit ScopedLogger(TLogger* logger) { SetProcessLogger(logger); }
  ~ScopedLogger() { SetProcessLogger(nullptr); }
};

TEST(LoggerTest, WithoutLoggerEveryEntryPointReturns) {
  EXPECT_FALSE(HasProcessLogger());
  LogText("util.errhnd", narrow_buffer::literal("x"));
  LogFormat("util.errhnd", "%s %d", "y", 1);
  FlushLog();
}

TEST(LoggerTest, TextIsWrittenAtSeverity5ThenFlushed) {
  RecordingLogger logger;
  ScopedLogger scope(&logger);
  EXPECT_TRUE(HasProcessLogger());
  LogText("util.trd", narrow_buffer::literal("invalid thread handle, program aborted"));
  LogFormat("util.errhnd", "unrecoverable underlaying error ocurred: %s", "boom");
  FlushLog();
  EXPECT_EQ(logger.events, (std::vector<std::string>{
                               "5 util.trd invalid thread handle, program aborted", "flush",
                               "5 util.errhnd unrecoverable underlaying error ocurred: boom",
                               "flush", "flush"}));
}

TEST(LoggerTest, ThresholdAboveFiveWritesNothing) {
  RecordingLogger logger;
  logger.threshold = 6;
  ScopedLogger scope(&logger);
  LogText("util.errhnd", narrow_buffer::literal("x"));
  LogFormat("util.errhnd", "%d", 1);
  EXPECT_TRUE(logger.events.empty());
}

TEST(LoggerTest, FormatIsCutAtTheLoggersMaximumLength) {
  RecordingLogger logger;
  logger.max_length = 5;
  ScopedLogger scope(&logger);
  LogFormat("s", "%s-%d", "abcdef", 42);
  ASSERT_FALSE(logger.events.empty());
  EXPECT_EQ(logger.events[0], "5 s abcde");
}

TEST(LoggerTest, WriteFailureIsSwallowed) {
  RecordingLogger logger;
  logger.throw_on_write = true;
  ScopedLogger scope(&logger);
  EXPECT_NO_THROW(LogText("s", narrow_buffer::literal("x")));
  EXPECT_EQ(logger.events, std::vector<std::string>{"flush"});
}

TEST(AbortProcessTest, EndsAtOnceWithStatus255) {
  const testing::ChildResult plain = testing::RunInChild([] {
    std::printf("never flushed");
    AbortProcess(false);
  });
  EXPECT_EQ(plain.status, 255);
#if !defined(RPLC_TSAN)  // its _exit flushes the streams
  EXPECT_EQ(plain.output, "");
#endif

  // With the flag set the logger is flushed first.
  const testing::ChildResult flushed = testing::RunInChild([] {
    struct FlushProbe : TLogger {
      bool Accepts(int) const override { return true; }
      void Write(int, const char*, const narrow_buffer&) override {}
      void Flush() override { std::fputs("flushed", stderr); }  // unbuffered
    };
    static FlushProbe logger;
    SetProcessLogger(&logger);
    AbortProcess(true);
  });
  EXPECT_EQ(flushed.status, 255);
  EXPECT_EQ(flushed.output, "flushed");
}

}  // namespace
}  // namespace Velk
