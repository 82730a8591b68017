#include "platform/audio/pulse/pulse_backend.h"

#include <gtest/gtest.h>
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/pulse/pulse_loop.h"

namespace platform {
#include "tests/support/sound_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// Points libpulse at `server` for the life of the object.
class ScopedPulseServer {
 public:
  explicit ScopedPulseServer(const std::string& server) {
    const char* old = std::getenv("PULSE_SERVER");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("PULSE_SERVER", server.c_str(), 1);
  }
  ~ScopedPulseServer() {
    if (had_old_) {
      setenv("PULSE_SERVER", old_.c_str(), 1);
    } else {
      unsetenv("PULSE_SERVER");
    }
  }

 private:
  bool had_old_ = false;
  std::string old_;
};

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(PulseBackend, UnreachableServerIsNotAvailableAtOnce) {
  ScopedPulseServer server("unix:/nonexistent-tessaline/native");
  Clock::time_point start = Clock::now();
  std::string reason;
  EXPECT_EQ(CreateAudioBackend("pulse", &reason), nullptr);
  EXPECT_FALSE(reason.empty());
  // The automatic choice falls back to no devices.
  std::unique_ptr<AudioBackend> automatic = CreateAudioBackend("", &reason);
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(automatic->Name(), "none");
  EXPECT_LT(SecondsSince(start), 1.0);
}

// The back-end's event loop runs the library's events as its own loop would:
// timers once at their time (on either clock), deferred events while enabled
// (and nothing else meanwhile), descriptors when ready and asked for; a change
// made from another thread wakes it while it sleeps; freed events and those
// left at the end get their destroy callbacks.
TEST(PulseBackend, EventLoopRunsTheLibrarysEvents) {
  struct Log {
    PulseLoop* loop;
    std::vector<std::string> seen;
    std::vector<Clock::time_point> when;
    int destroyed = 0;
    int defer_runs = 0;
    void Add(const std::string& what) {
      seen.push_back(what);
      when.push_back(Clock::now());
      loop->Signal();
    }
  };
  auto loop = std::make_unique<PulseLoop>();
  Log log;
  log.loop = loop.get();
  pa_mainloop_api* api = loop->Api();
  ASSERT_TRUE(loop->Start());
  // Lets go of the loop's lock when a step fails, before the loop goes.
  struct Held {
    PulseLoop* loop;
    ~Held() { loop->Unlock(); }
  };
  auto wait_for = [&](std::size_t n) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (log.seen.size() < n && Clock::now() < deadline) loop->Wait();
    return log.seen.size() >= n;
  };
  auto on_time = [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* d) {
    static_cast<Log*>(d)->Add("time");
  };
  auto destroyed_time = [](pa_mainloop_api*, pa_time_event*, void* d) {
    ++static_cast<Log*>(d)->destroyed;
  };

  // Added from this thread while the loop sleeps without a timeout: a wall
  // clock time 30 ms ahead, and one on the monotonic clock (the library's
  // mark in tv_usec) 60 ms ahead.
  int fds[2] = {-1, -1};
  ASSERT_EQ(pipe(fds), 0);
  {
    loop->Lock();
    Held held{loop.get()};
    const Clock::time_point start = Clock::now();
    struct timeval wall;
    pa_gettimeofday(&wall);
    pa_timeval_add(&wall, 30000);
    const pa_usec_t mono = pa_rtclock_now() + 60000;
    struct timeval marked;
    marked.tv_sec = static_cast<time_t>(mono / 1000000);
    marked.tv_usec = static_cast<suseconds_t>(mono % 1000000) | (1 << 30);
    pa_time_event* late = api->time_new(api, &marked, on_time, &log);
    pa_time_event* early = api->time_new(api, &wall, on_time, &log);
    api->time_set_destroy(early, destroyed_time);
    ASSERT_TRUE(wait_for(2));
    EXPECT_GE(log.when[0] - start, std::chrono::milliseconds(29));
    EXPECT_GE(log.when[1] - start, std::chrono::milliseconds(59));
    EXPECT_LT(log.when[1] - start, std::chrono::seconds(2));
    // A fired timer stays off until restarted; a freed one is destroyed.
    api->time_free(early);
    pa_gettimeofday(&wall);
    api->time_restart(late, &wall);
    ASSERT_TRUE(wait_for(3));
    EXPECT_EQ(log.destroyed, 1);

    // A pipe with data: its input event runs while asked for, and not once
    // switched off; a deferred event runs, and holds the input back, until it
    // turns itself off.
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    auto on_io = [](pa_mainloop_api* a, pa_io_event* e, int fd, pa_io_event_flags_t f, void* d) {
      static_cast<Log*>(d)->Add((f & PA_IO_EVENT_INPUT) ? "input" : "other");
      a->io_enable(e, PA_IO_EVENT_NULL);
      char c;
      [[maybe_unused]] ssize_t n = read(fd, &c, 1);
    };
    auto on_defer = [](pa_mainloop_api* a, pa_defer_event* e, void* d) {
      auto* l = static_cast<Log*>(d);
      if (++l->defer_runs == 3) {
        l->Add("deferred");
        a->defer_enable(e, 0);
      }
    };
    pa_defer_event* deferred = api->defer_new(api, on_defer, &log);
    pa_io_event* input = api->io_new(api, fds[0], PA_IO_EVENT_INPUT, on_io, &log);
    ASSERT_TRUE(wait_for(5));
    EXPECT_EQ(log.seen[3], "deferred");
    EXPECT_EQ(log.seen[4], "input");
    ASSERT_EQ(write(fds[1], "y", 1), 1);
    pa_gettimeofday(&wall);
    pa_timeval_add(&wall, 40000);
    api->time_restart(late, &wall);
    ASSERT_TRUE(wait_for(6));
    EXPECT_EQ(log.seen[5], "time");  // the switched-off input stayed quiet
    api->io_enable(input, PA_IO_EVENT_INPUT);
    ASSERT_TRUE(wait_for(7));
    EXPECT_EQ(log.seen[6], "input");
    api->defer_free(deferred);
    api->io_free(input);
    // Events still alive when the loop goes are destroyed with it.
    api->time_restart(late, nullptr);
    api->time_set_destroy(late, destroyed_time);
  }
  loop.reset();
  EXPECT_EQ(log.destroyed, 2);
  EXPECT_EQ(log.defer_runs, 3);
  close(fds[0]);
  close(fds[1]);
}

// A socket that accepts connections but never answers: a hung server.
TEST(PulseBackend, SilentServerTimesOut) {
  char folder[] = "/tmp/tessaline-pulse-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/native";
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 8), 0);

  {
    ScopedPulseServer server("unix:" + path);
    Clock::time_point start = Clock::now();
    std::string reason;
    EXPECT_EQ(PulseAudioBackend::Connect(&reason), nullptr);
    double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 1.5);
    EXPECT_LT(seconds, 3.0);
    EXPECT_NE(reason.find("in time"), std::string::npos) << reason;
  }
  close(listener);
  unlink(path.c_str());
  rmdir(folder);
}

std::vector<std::string> Names(AudioBackend& backend, AudioDirection direction) {
  std::vector<std::string> names;
  for (const AudioEndpoint& endpoint : backend.Endpoints(direction)) names.push_back(endpoint.name);
  return names;
}

// One connection follows the server: it lists sources without monitors and
// sinks in index order, gives empty lists while the server is gone, and
// reconnects when it is back.
TEST(PulseBackendWithSoundServer, ListsAndReconnects) {
  char folder[] = "/tmp/tessaline-pulse-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string dir = std::string(folder) + "/server";
  const std::string devices =
      " --sink 'Desk Speakers' --sine 'Desk Mic' 440 0.5 --sink 'Head Set' --pipe 'Line In'";
  std::string server = SoundServer("start " + dir + devices);
  if (server.empty()) {
    rmdir(folder);
    GTEST_SKIP() << "no private sound server could be started";
  }
  ScopedPulseServer scoped(server);
  std::string reason;
  std::unique_ptr<PulseAudioBackend> backend = PulseAudioBackend::Connect(&reason);
  ASSERT_NE(backend, nullptr) << reason;
  EXPECT_EQ(Names(*backend, AudioDirection::kInput),
            (std::vector<std::string>{"Desk Mic", "Line In"}));
  std::vector<AudioEndpoint> outputs = backend->Endpoints(AudioDirection::kOutput);
  ASSERT_EQ(outputs.size(), 2u);
  EXPECT_EQ(outputs[0].name, "Desk Speakers");
  EXPECT_TRUE(outputs[0].is_default);
  EXPECT_EQ(outputs[1].name, "Head Set");
  EXPECT_FALSE(outputs[1].is_default);

  // A server too busy to answer an enumeration keeps the connection and the
  // streams on it: the list is the last full answer, given at once while the
  // server stays busy, and recording goes on when it answers again.
  std::atomic<std::size_t> recorded{0};
  std::atomic<bool> lost{false};
  CaptureCallbacks callbacks;
  callbacks.data = [&](const std::uint8_t*, std::size_t bytes) { recorded += bytes; };
  callbacks.lost = [&] { lost = true; };
  std::unique_ptr<CaptureStream> stream = backend->OpenCapture(
      backend->Endpoints(AudioDirection::kInput)[0].id, PcmFormat{}, 1764, callbacks, &reason);
  ASSERT_NE(stream, nullptr) << reason;
  stream->Start();
  auto wait_for = [](auto condition) {
    Clock::time_point limit = Clock::now() + std::chrono::seconds(20);
    while (!condition() && Clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
  };
  ASSERT_TRUE(wait_for([&] { return recorded > 0; }));
  pid_t pid = 0;
  std::ifstream(dir + "/server.pid") >> pid;
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  Clock::time_point busy = Clock::now();
  EXPECT_EQ(Names(*backend, AudioDirection::kInput),
            (std::vector<std::string>{"Desk Mic", "Line In"}));
  EXPECT_GE(SecondsSince(busy), 1.5);
  busy = Clock::now();
  EXPECT_EQ(Names(*backend, AudioDirection::kOutput),
            (std::vector<std::string>{"Desk Speakers", "Head Set"}));
  EXPECT_LT(SecondsSince(busy), 0.5);
  ASSERT_EQ(kill(pid, SIGCONT), 0);
  const std::size_t before = recorded;
  EXPECT_TRUE(wait_for([&] { return recorded > before + 44100 * 4 / 10; }));
  EXPECT_FALSE(lost);
  stream.reset();

  // The server going is a change of the devices, and so is its return, which
  // a watcher hears of without asking for the devices.
  std::atomic<int> changes{0};
  backend->WatchEndpoints([&] { ++changes; });
  SoundServer("stop " + dir);
  EXPECT_TRUE(wait_for([&] { return changes > 0; }));
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(backend->Endpoints(AudioDirection::kInput).empty());
  EXPECT_TRUE(backend->Endpoints(AudioDirection::kOutput).empty());
  EXPECT_LT(SecondsSince(start), 1.0);
  const int while_gone = changes;

  ASSERT_EQ(SoundServer("start " + dir + " --sine 'Back Again' 1000 0.5"), server);
  EXPECT_TRUE(wait_for([&] { return changes > while_gone; }));
  EXPECT_EQ(Names(*backend, AudioDirection::kInput), std::vector<std::string>{"Back Again"});
  EXPECT_TRUE(backend->Endpoints(AudioDirection::kOutput).empty());

  backend->WatchEndpoints(nullptr);
  SoundServer("stop " + dir);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace platform
