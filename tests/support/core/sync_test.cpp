// CSem, CEvent and CTlsSlot.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "support/core/error_message.h"
#include "support/core/event.h"
#include "support/core/exceptions.h"
#include "support/core/sem.h"
#include "support/core/tls_slot.h"
#include "tests/support/os_error_numbers.h"

namespace Velk {
namespace {

using clock_type = std::chrono::steady_clock;

long elapsed_ms(clock_type::time_point since) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - since)
                  .count());
}

std::string os_lines(const char* number_label, const char* text_label, int error_number) {
  return std::string(number_label) + std::to_string(error_number) + "\n" + text_label +
         GetSysErrorDesc(error_number).c_str();
}

TEST(Sem, CountsDownFromTheInitialCount) {
  CSem sem(2, 3);
  EXPECT_TRUE(sem.P(0));
  EXPECT_TRUE(sem.P(0));
  EXPECT_FALSE(sem.P(0));
  sem.V(3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(sem.P(0));
  EXPECT_FALSE(sem.P(0));
}

TEST(Sem, ZeroTimeoutOnAnEmptySemaphoreReturnsAtOnce) {
  CSem sem(0, 1);
  EXPECT_FALSE(sem.P(0));
}

TEST(Sem, TimesOutAfterRoughlyTheTimeout) {
  CSem sem(0, 1);
  auto start = clock_type::now();
  EXPECT_FALSE(sem.P(60));
  EXPECT_GE(elapsed_ms(start), 55);
}

TEST(Sem, ReleaseFromAnotherThreadWakesAnInfiniteWait) {
  CSem sem(0, 1);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sem.V(1);
  });
  EXPECT_TRUE(sem.P(-1));
  releaser.join();
}

TEST(Sem, ReleaseBeyondTheMaximumFailsAndKeepsTheCount) {
  CSem sem(1, 1);
  try {
    sem.V(1);
    FAIL() << "V beyond the maximum must fail";
  } catch (const semExp& e) {
    EXPECT_EQ(e.GetCode(), 5);
    EXPECT_EQ(std::string(e.GetMessage().c_str()),
              "CSem::V - failed V a semaphore\n" +
                  os_lines("  system error = ", "  error desc   = ", test_errors::kCountOverflow));
  }
  EXPECT_TRUE(sem.P(0));
  EXPECT_FALSE(sem.P(0));
}

TEST(Sem, InvalidCountsFailCreation) {
  try {
    CSem sem(2, 1);
    FAIL() << "an initial count above the maximum must fail";
  } catch (const semExp& e) {
    EXPECT_EQ(e.GetCode(), 1);
    EXPECT_EQ(std::string(e.GetMessage().c_str()),
              "CSem::__Init - failed create semaphore\n" +
                  os_lines("  sys error code = ", "  sys error desc = ", test_errors::kInvalidArgument));
  }
}

TEST(Event, StaysSignalledUntilReset) {
  CEvent ev(false);
  EXPECT_FALSE(ev.Wait(0));
  ev.Raise();
  EXPECT_TRUE(ev.Wait(0));
  EXPECT_TRUE(ev.Wait(10));
  ev.Reset();
  EXPECT_FALSE(ev.Wait(0));
  CEvent initially(true);
  EXPECT_TRUE(initially.Wait(0));
}

TEST(Event, RaiseReleasesEveryWaiter) {
  CEvent ev(false);
  std::atomic<int> released{0};
  std::thread a([&] { released += ev.Wait(-1); });
  std::thread b([&] { released += ev.Wait(-1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ev.Raise();
  a.join();
  b.join();
  EXPECT_EQ(released.load(), 2);
}

TEST(TlsSlot, EachThreadSeesItsOwnValueAndStartsEmpty) {
  CTlsSlot slot;
  EXPECT_EQ(slot.GetValue(), nullptr);
  int here = 0, there = 0;
  slot.SetValue(&here);
  void* seen_before = &here;
  void* seen_after = nullptr;
  std::thread other([&] {
    seen_before = slot.GetValue();
    slot.SetValue(&there);
    seen_after = slot.GetValue();
  });
  other.join();
  EXPECT_EQ(seen_before, nullptr);
  EXPECT_EQ(seen_after, &there);
  EXPECT_EQ(slot.GetValue(), &here);
  slot.SetValue(nullptr);
  EXPECT_EQ(slot.GetValue(), nullptr);
}

TEST(TlsSlot, SlotsAreIndependent) {
  CTlsSlot a, b;
  int x = 0;
  a.SetValue(&x);
  EXPECT_EQ(b.GetValue(), nullptr);
  EXPECT_EQ(a.GetValue(), &x);
}

}  // namespace
}  // namespace Velk
