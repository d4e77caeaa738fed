// The last-resort handlers, exercised for real in forked children: this
// test binary includes error_handlers.h, so the handlers are installed
// before main as in rplc.
#include "support/core/error_handlers.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <new>
#include <string>

#include "support/core/fault_description.h"
#include "support/core/logger.h"
#include "support/core/thread.h"
#include "tests/support/core/child_process.h"
#include "tests/support/core/sanitizers.h"

namespace Velk {
namespace {

using testing::ChildResult;
using testing::RunInChild;

volatile int* volatile bad_pointer = reinterpret_cast<int*>(0x10);
volatile int zero = 0;
volatile int recursion_limit = std::numeric_limits<int>::max();

__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = char(depth);
  if (depth >= recursion_limit) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

void Segfault() { *bad_pointer = 1; }
void OverflowStack() { std::printf("%d", Recurse(0)); }

// A library thread whose stack overflows: the handler runs on that
// thread's own alternate stack.
class CRecursingThread : public TThread {
 public:
  std::uint32_t Run() override { return std::uint32_t(Recurse(0)); }
};
void OverflowWorkerStack() {
  CRecursingThread worker;
  worker.Create();
  worker.Resume();
  worker.Wait(-1);
}
void FailAllocation() {
  volatile std::size_t huge = std::numeric_limits<std::size_t>::max() / 4;
  try {
    char* block = new char[huge];
    std::printf("allocated %p", static_cast<void*>(block));
  } catch (const std::bad_alloc&) {
    std::printf("bad_alloc reached the caller");
  }
}
void Terminate() { std::terminate(); }
void Trap() { raise(SIGTRAP); }
// The undefined-behaviour sanitizer would report the division itself.
__attribute__((no_sanitize("undefined"))) void DivideByZero() { std::printf("%d", 7 / zero); }

// Writes every record straight to standard output, ended by "|", and an
// "F" per flush, so the child's output shows what the handlers hand over.
// Each handler flushes twice: once inside LogText, once in its abort step.
class PipeLogger : public TLogger {
 public:
  bool Accepts(int severity) const override { return severity >= 5; }
  void Write(int severity, const char* source, const narrow_buffer& text) override {
    std::string line = std::to_string(severity) + " " + source + ": " +
                       std::string(text.c_str(), text.length()) + "|";
    ssize_t ignored = write(1, line.data(), line.size());
    (void)ignored;
  }
  void Flush() override {
    ssize_t ignored = write(1, "F", 1);
    (void)ignored;
  }
};

std::function<void()> WithLogger(void (*body)()) {
  return [body] {
    static PipeLogger logger;
    SetProcessLogger(&logger);
    body();
  };
}

TEST(ErrorHandlersTest, FailuresEndSilentlyWithStatus255) {
  struct Case {
    const char* name;
    void (*body)();
  } cases[] = {
      {"access violation", Segfault},
      {"stack overflow", OverflowStack},
      {"stack overflow on a library thread", OverflowWorkerStack},
      {"allocation failure inside new", FailAllocation},
      {"terminate", Terminate},
      {"breakpoint trap", Trap},
#if defined(__x86_64__) || defined(__i386__)
      {"integer division by zero", DivideByZero},
#endif
  };
  for (const Case& c : cases) {
#if defined(RPLC_ASAN) || defined(RPLC_TSAN)
    // The sanitizer's allocator reports a huge request itself.
    if (c.body == FailAllocation) continue;
#endif
    const ChildResult result = RunInChild([&] {
      std::printf("buffered output is lost");  // stdout is a pipe: fully buffered
      c.body();
    });
    EXPECT_TRUE(result.exited) << c.name << ": killed by signal " << result.signal;
    EXPECT_EQ(result.status, 255) << c.name;
#if !defined(RPLC_TSAN)  // its _exit flushes the streams
    EXPECT_EQ(result.output, "") << c.name;
#endif
  }
}

TEST(ErrorHandlersTest, AnInstalledLoggerReceivesTheTexts) {
  const std::string fault_head = "5 util.errhnd: unrecoverable underlaying error ocurred: ";
  struct Case {
    const char* name;
    void (*body)();
    std::string prefix;  // the output starts with this
    std::string suffix;  // and ends with this
  } cases[] = {
      {"allocation failure", FailAllocation,
       "5 util.errhnd: not enough memory, process aborted|", "FF"},
      {"terminate", Terminate,
       "5 util.errhnd: process has been terminated in an unexpected way|", "FF"},
      {"access violation", Segfault,
       fault_head + ExceptionCodeText(0xC0000005u) + "\n  exp. code  = 0xC0000005\n  pc address = ",
       "\n  parameters = 0x10|FF"},
      {"stack overflow", OverflowStack,
       fault_head + ExceptionCodeText(0xC00000FDu) + "\n  exp. code  = 0xC00000FD\n  pc address = ",
       "|FF"},
      {"stack overflow on a library thread", OverflowWorkerStack,
       fault_head + ExceptionCodeText(0xC00000FDu) + "\n  exp. code  = 0xC00000FD\n  pc address = ",
       "|FF"},
      {"breakpoint trap", Trap,
       fault_head + ExceptionCodeText(0x80000003u) + "\n  exp. code  = 0x80000003\n  pc address = ",
       "|FF"},
#if defined(__x86_64__) || defined(__i386__)
      {"integer division by zero", DivideByZero,
       fault_head + ExceptionCodeText(0xC0000094u) + "\n  exp. code  = 0xC0000094\n  pc address = ",
       "|FF"},
#endif
  };
  for (const Case& c : cases) {
#if defined(RPLC_ASAN)
    if (c.body == FailAllocation) continue;
#endif
#if defined(RPLC_TSAN)
    // With a logger installed the fault report is formatted in the signal
    // handler, which ThreadSanitizer reports as a signal-unsafe call; its
    // allocator also reports the huge request itself. Only terminate stays.
    if (c.body != Terminate) continue;
#endif
    const ChildResult result = RunInChild(WithLogger(c.body));
    EXPECT_EQ(result.status, 255) << c.name;
    EXPECT_EQ(result.output.compare(0, c.prefix.size(), c.prefix), 0)
        << c.name << ": " << result.output;
    ASSERT_GE(result.output.size(), c.suffix.size()) << c.name;
    EXPECT_EQ(result.output.substr(result.output.size() - c.suffix.size()), c.suffix)
        << c.name << ": " << result.output;
    if (c.body == Trap) {
      // A raised trap carries no fault address: no parameters line.
      EXPECT_EQ(result.output.find("parameters"), std::string::npos) << result.output;
    }
  }
}

TEST(ErrorHandlersTest, LaterConstructionsInstallNothing) {
  const ChildResult result = RunInChild([] {
    std::set_terminate([] {
      std::printf("replacement ran");
      std::fflush(stdout);
      std::_Exit(3);
    });
    CErrorHandlers again;
    std::terminate();
  });
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.output, "replacement ran");
}

}  // namespace
}  // namespace Velk
