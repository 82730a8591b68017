// The priority a thread object is given reaches Linux as the thread's nice value.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>

#include "platform/framework/application.h"
#include "tests/platform/body_thread.h"

namespace {

TEST(ThreadPriorityTest, PriorityReachesTheOperatingSystem) {
  platform::EnsureToolkit();
  TEvent ready, go;
  std::atomic<int> nice_seen{-100};
  TBodyThread t([&](TBodyThread&) {
    ready.SetEvent();
    go.WaitFor(INFINITE);
    errno = 0;
    nice_seen = getpriority(PRIO_PROCESS, 0);
  });
  // Set before the start: applied when the thread starts.
  t.SetPlatformPriority(THREAD_PRIORITY_LOWEST);
  t.Start();
  ASSERT_EQ(ready.WaitFor(5000), wrSignaled);
  go.SetEvent();
  t.WaitFor();
  EXPECT_EQ(t.GetPlatformPriority(), THREAD_PRIORITY_LOWEST);
  EXPECT_EQ(nice_seen.load(), platform::NiceForPriority(THREAD_PRIORITY_LOWEST));
  EXPECT_EQ(platform::NiceForPriority(THREAD_PRIORITY_IDLE), 19);
  EXPECT_EQ(platform::NiceForPriority(THREAD_PRIORITY_NORMAL), 0);
  EXPECT_LT(platform::NiceForPriority(THREAD_PRIORITY_TIME_CRITICAL), 0);
  // Raising without privileges is not an error.
  TBodyThread high([](TBodyThread&) {});
  high.SetPlatformPriority(THREAD_PRIORITY_TIME_CRITICAL);
  high.Start();
  high.WaitFor();
  EXPECT_EQ(high.GetPlatformPriority(), THREAD_PRIORITY_TIME_CRITICAL);
}

}  // namespace
