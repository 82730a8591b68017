#include "platform/framework/toolkit_platform.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/framework/application.h"
#include "platform/framework/termination_requests.h"

// The toolkit's platform choice and the end-of-program signals: Linux's.

namespace {

TEST(ToolkitPlatform, XWhereverNamedThenWaylandAndTheUsersChoiceKept) {
  using platform::ToolkitPlatformFor;
  // A Wayland session with XWayland: X, with Wayland should X not open.
  EXPECT_EQ(ToolkitPlatformFor(":0", "wayland-0", nullptr), "xcb;wayland");
  EXPECT_EQ(ToolkitPlatformFor(":0", "", ""), "xcb");
  EXPECT_EQ(ToolkitPlatformFor("", "wayland-0", ""), "wayland");
  EXPECT_EQ(ToolkitPlatformFor(nullptr, nullptr, nullptr), "offscreen");
  EXPECT_EQ(ToolkitPlatformFor(":0", "wayland-0", "wayland"), "");
  EXPECT_EQ(ToolkitPlatformFor(nullptr, nullptr, "offscreen"), "");
  // The tests' off-screen platform keeps the positions it is given.
  platform::EnsureToolkit();
  EXPECT_TRUE(platform::WindowPositionsKnown());
}

TEST(TerminationRequests, EachSignalIsTakenOnceOnTheGuiThreadAndTheOldHandlingComesBack) {
  platform::EnsureToolkit();
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  const auto gui_thread = std::this_thread::get_id();
  int requests = 0;
  bool on_gui_thread = false;
  const auto pump_until = [&](int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (requests < count && std::chrono::steady_clock::now() < deadline)
      Application->ProcessMessages();
    return requests == count;
  };
  {
    platform::TerminationRequests watch([&] {
      ++requests;
      on_gui_thread = std::this_thread::get_id() == gui_thread;
    });
    // Caught on another thread, which lives until the request has come: a
    // thread that ends may take a signal still pending with it under
    // ThreadSanitizer, which hands signals on at the thread's next call.
    std::atomic<bool> taken{false};
    std::thread catcher([&] {
      while (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    pthread_kill(catcher.native_handle(), SIGTERM);
    const bool got = pump_until(1);
    taken = true;
    catcher.join();
    ASSERT_TRUE(got);
    EXPECT_TRUE(on_gui_thread);
    // Taken once: a second SIGTERM would end the process; SIGINT is still asked.
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    raise(SIGINT);
    ASSERT_TRUE(pump_until(2));
  }
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  Application->ProcessMessages();
  EXPECT_EQ(requests, 2);
}

}  // namespace
