// The processor-time watchdog: it ends a busy thread's process with the
// message and status 255, counts processor time rather than waiting, and
// does nothing once disarmed.
#include "support/os/cpu_deadline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>

namespace Velk::os {
namespace {

// Burns processor time until at least ns of it are spent.
void Spin(std::uint64_t ns) {
  const std::uint64_t start = thread_cpu_time_ns();
  volatile std::uint64_t sink = 0;
  while (thread_cpu_time_ns() - start < ns) sink = sink + 1;
}

TEST(CpuDeadlineTest, EndsTheProcessWithTheMessageWhenTheTimeIsSpent) {
  EXPECT_EXIT(
      {
        if (!arm_cpu_deadline(50000000u, "[FATAL ERROR] too slow\n")) _exit(3);
        Spin(5000000000u);
        _exit(0);
      },
      ::testing::ExitedWithCode(255), "^\\[FATAL ERROR\\] too slow\n$");
}

TEST(CpuDeadlineTest, CountsProcessorTimeNotSleepAndStopsWhenDisarmed) {
  EXPECT_EXIT(
      {
        if (!arm_cpu_deadline(200000000u, "fired\n")) _exit(3);
        ::usleep(400000);  // sleeping spends no processor time
        Spin(20000000u);
        disarm_cpu_deadline();
        Spin(400000000u);
        // Arming again replaces the deadline.
        if (!arm_cpu_deadline(300000000u, "fired\n")) _exit(3);
        if (!arm_cpu_deadline(5000000000u, "fired\n")) _exit(3);
        Spin(400000000u);
        disarm_cpu_deadline();
        _exit(7);
      },
      ::testing::ExitedWithCode(7), "^$");
}

TEST(CpuDeadlineTest, ThreadTimeGrowsWithWork) {
  const std::uint64_t before = thread_cpu_time_ns();
  Spin(10000000u);
  EXPECT_GE(thread_cpu_time_ns() - before, 10000000u);
}

}  // namespace
}  // namespace Velk::os
