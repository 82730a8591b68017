// Feeds the sound server's pipe sources in real time, measures how long a
// window takes to show a sudden sound on one of them, and reads level meters
// back from the screen.
//
//   live_feed feed PIPE...
//       Writes 10 ms chunks (s16le stereo 44100 Hz) to every pipe, paced by
//       the clock, until it is stopped: a sine per pipe whose level jumps to
//       a new value (-45 ... -1 dBFS) every 50 ms.
//   live_feed latency WINDOW ONSETS PIPE...
//       Feeds the same way, with the first pipe as the probe. It first finds
//       where the window shows the probe: a picture of the window with
//       everything silent, and one with the probe loud; the changed pixels
//       mark the probe's meter, and its left tenth (lit by any level) is
//       watched. Then the other pipes play their changing levels while the
//       probe is silent until the watched area has been dark for 300 ms and
//       then turns loud (-3 dBFS) for 150 ms. The onset is the moment the
//       first loud chunk has been written; the picture is read back from the
//       X server's screen every 0.5 ms until the area lights. Prints one
//       latency per line (milliseconds), then "p50 p95 max misses".
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kChunkFrames = kRate / 100;  // 10 ms
constexpr double kPi = 3.14159265358979323846;

std::atomic<bool> stop{false};

std::int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepUntil(std::int64_t ns) {
  timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && !stop) {
  }
}

// What the probe pipe plays (the others always play their live levels).
enum class Probe { kLive, kSilent, kLoud };

struct Pipe {
  int fd = -1;
  double freq = 440, phase = 0;
  double amplitude = 0;
  std::uint32_t seed = 1;
  int chunks_at_level = 0;
};

class Feeder {
 public:
  explicit Feeder(const std::vector<std::string>& paths) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      Pipe p;
      p.fd = open(paths[i].c_str(), O_WRONLY);
      if (p.fd < 0) {
        std::perror(paths[i].c_str());
        std::exit(1);
      }
      p.freq = 300 + 110 * static_cast<double>(i);
      p.seed = 2654435761u * static_cast<std::uint32_t>(i + 1);
      pipes_.push_back(p);
    }
  }

  void SetProbe(Probe probe) { probe_ = probe; }
  void SetOthersSilent(bool v) { others_silent_ = v; }
  // Time the first loud chunk of the current onset was written (0: not yet).
  std::int64_t OnsetNs() const { return onset_ns_; }
  void ArmOnset() {
    onset_ns_ = 0;
    probe_ = Probe::kLoud;
  }

  void Run() {
    std::vector<std::int16_t> chunk(2 * kChunkFrames);
    std::int64_t next = NowNs();
    while (!stop) {
      for (std::size_t i = 0; i < pipes_.size(); ++i) {
        Pipe& p = pipes_[i];
        const Probe mode = i == 0 ? probe_.load() : Probe::kLive;
        double amplitude;
        if (mode == Probe::kLoud) {
          amplitude = 0.7;
        } else if (mode == Probe::kSilent || (i > 0 && others_silent_)) {
          amplitude = 0;
        } else {
          if (p.chunks_at_level-- <= 0) {
            p.seed = p.seed * 1664525u + 1013904223u;
            const double db = -45.0 + 44.0 * static_cast<double>(p.seed >> 8) / (1 << 24);
            p.amplitude = std::pow(10.0, db / 20);
            p.chunks_at_level = 4;  // five chunks: 50 ms
          }
          amplitude = p.amplitude;
        }
        for (int f = 0; f < kChunkFrames; ++f) {
          const auto s =
              static_cast<std::int16_t>(std::lround(32767 * amplitude * std::sin(p.phase)));
          chunk[2 * f] = s;
          chunk[2 * f + 1] = s;
          p.phase += 2 * kPi * p.freq / kRate;
          if (p.phase > 2 * kPi) p.phase -= 2 * kPi;
        }
        const char* data = reinterpret_cast<const char*>(chunk.data());
        std::size_t left = chunk.size() * sizeof(std::int16_t);
        while (left > 0) {
          const ssize_t n = write(p.fd, data, left);
          if (n < 0) {
            if (errno == EINTR) continue;
            return;  // the server went away
          }
          data += n;
          left -= static_cast<std::size_t>(n);
        }
        if (i == 0 && mode == Probe::kLoud && onset_ns_ == 0) onset_ns_ = NowNs();
      }
      next += 10000000;
      // After a stall, go on from now rather than writing a burst.
      if (NowNs() > next + 50000000) next = NowNs();
      SleepUntil(next);
    }
  }

 private:
  std::vector<Pipe> pipes_;
  std::atomic<Probe> probe_{Probe::kLive};
  std::atomic<bool> others_silent_{false};
  std::atomic<std::int64_t> onset_ns_{0};
};

void OnSignal(int) {
  stop = true;
}

struct Area {
  int x = 0, y = 0, w = 0, h = 0;
};

// Pixels of a root-window area, as 0x00RRGGBB.
std::vector<std::uint32_t> Grab(Display* d, const Area& a) {
  XImage* img = XGetImage(d, DefaultRootWindow(d), a.x, a.y, static_cast<unsigned>(a.w),
                          static_cast<unsigned>(a.h), AllPlanes, ZPixmap);
  std::vector<std::uint32_t> px;
  if (!img) return px;
  px.reserve(static_cast<std::size_t>(a.w) * a.h);
  for (int y = 0; y < a.h; ++y)
    for (int x = 0; x < a.w; ++x)
      px.push_back(static_cast<std::uint32_t>(XGetPixel(img, x, y)) & 0xFFFFFF);
  XDestroyImage(img);
  return px;
}

int Distance(std::uint32_t a, std::uint32_t b) {
  int d = 0;
  for (int s = 0; s < 24; s += 8)
    d += std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF));
  return d;
}

// True when enough pixels of the area differ clearly from the dark picture.
bool Lit(const std::vector<std::uint32_t>& now, const std::vector<std::uint32_t>& dark) {
  if (now.size() != dark.size() || now.empty()) return false;
  std::size_t changed = 0;
  for (std::size_t i = 0; i < now.size(); ++i)
    if (Distance(now[i], dark[i]) > 60) ++changed;
  return changed * 20 >= now.size() || changed >= 4;
}

int Latency(Window window, int onsets, const std::vector<std::string>& paths) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "live_feed: no display\n");
    return 1;
  }
  XWindowAttributes wa;
  if (!XGetWindowAttributes(d, window, &wa)) return 1;
  int wx = 0, wy = 0;
  Window child;
  XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &wx, &wy, &child);
  const Area whole{wx, wy, std::min(wa.width, DisplayWidth(d, 0) - wx),
                   std::min(wa.height, DisplayHeight(d, 0) - wy)};

  Feeder feeder(paths);
  feeder.SetOthersSilent(true);
  feeder.SetProbe(Probe::kSilent);
  std::thread feeding([&] { feeder.Run(); });
  auto pause_ms = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };

  // Where the probe shows: silent against loud.
  pause_ms(3500);
  const std::vector<std::uint32_t> silent = Grab(d, whole);
  feeder.SetProbe(Probe::kLoud);
  pause_ms(600);
  const std::vector<std::uint32_t> loud = Grab(d, whole);
  feeder.SetProbe(Probe::kSilent);
  // The changed pixels of the topmost band of changed rows: the probe's
  // first meter (a band ends at 6 unchanged rows).
  auto changed = [&](int x, int y) {
    const std::size_t i = static_cast<std::size_t>(y) * whole.w + x;
    return Distance(silent[i], loud[i]) > 60;
  };
  int x0 = whole.w, y0 = -1, x1 = -1, y1 = -1;
  if (!silent.empty() && !loud.empty()) {
    int quiet_rows = 0;
    for (int y = 0; y < whole.h && quiet_rows < 6; ++y) {
      bool any = false;
      for (int x = 0; x < whole.w; ++x)
        if (changed(x, y)) {
          any = true;
          x0 = std::min(x0, x), x1 = std::max(x1, x);
        }
      if (any) {
        if (y0 < 0) y0 = y;
        y1 = y;
        quiet_rows = 0;
      } else if (y0 >= 0) {
        ++quiet_rows;
      }
    }
  }
  int status = 0;
  std::vector<double> results;
  int misses = 0;
  if (x1 < 0) {
    std::fprintf(stderr, "live_feed: the window did not change with the probe's sound\n");
    status = 1;
  } else {
    const Area watch{whole.x + x0, whole.y + y0, std::max(2, (x1 - x0 + 1) / 10), y1 - y0 + 1};
    std::fprintf(stderr, "live_feed: probe shows in %dx%d at +%d+%d; watching %dx%d\n", x1 - x0 + 1,
                 y1 - y0 + 1, x0, y0, watch.w, watch.h);
    feeder.SetOthersSilent(false);
    pause_ms(1500);
    const std::vector<std::uint32_t> dark = Grab(d, watch);
    for (int k = 0; k < onsets && !stop; ++k) {
      // Dark for 300 ms in a row (at most 10 s).
      std::int64_t dark_since = 0;
      const std::int64_t give_up = NowNs() + 10000000000;
      while (NowNs() < give_up) {
        if (Lit(Grab(d, watch), dark))
          dark_since = 0;
        else if (dark_since == 0)
          dark_since = NowNs();
        else if (NowNs() - dark_since > 300000000)
          break;
        pause_ms(5);
      }
      // Onsets fall anywhere in a chunk and in a display frame.
      pause_ms(static_cast<int>(rand() % 17));
      feeder.ArmOnset();
      std::int64_t onset = 0;
      while ((onset = feeder.OnsetNs()) == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      std::int64_t seen = 0;
      while (NowNs() - onset < 1000000000) {
        // The look that finds it lit ends after the picture changed: an
        // upper bound, at most one look (about 0.5 ms) late.
        if (Lit(Grab(d, watch), dark)) {
          seen = NowNs();
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
      if (seen == 0) {
        ++misses;
      } else {
        const double ms = static_cast<double>(seen - onset) / 1e6;
        results.push_back(ms);
        std::printf("%.2f\n", ms);
        std::fflush(stdout);
      }
      pause_ms(150);
      feeder.SetProbe(Probe::kSilent);
    }
  }
  stop = true;
  feeding.join();
  XCloseDisplay(d);
  if (status != 0) return status;
  std::sort(results.begin(), results.end());
  auto pct = [&](double p) {
    if (results.empty()) return 0.0;
    std::size_t i =
        static_cast<std::size_t>(std::ceil(p * static_cast<double>(results.size()))) - 1;
    return results[std::min(i, results.size() - 1)];
  };
  std::printf("%.2f %.2f %.2f %d\n", pct(0.5), pct(0.95), results.empty() ? 0.0 : results.back(),
              misses);
  return results.size() >= 1 ? 0 : 1;
}

// The bar of a meter's middle line: lit pixels from the left end up to the
// first two dark ones in a row (the spots are one pixel apart).
int BarSpots(const std::vector<std::uint32_t>& line) {
  int spots = 0, dark = 0;
  for (const std::uint32_t p : line) {
    const int bright = static_cast<int>(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3;
    if (bright > 100) {
      ++spots;
      dark = 0;
    } else if (++dark == 2) {
      break;
    }
  }
  return spots;
}

int Meters(Window window, const std::vector<std::string>& points) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "live_feed: no display\n");
    return 1;
  }
  int wx = 0, wy = 0;
  Window child;
  if (!XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &wx, &wy, &child)) return 1;
  // The inside of a meter is 239 pixels wide, one in from its frame; its
  // middle line is 4 down.
  std::vector<Area> lines;
  for (const std::string& point : points) {
    int x = 0, y = 0;
    if (std::sscanf(point.c_str(), "%d,%d", &x, &y) != 2) {
      std::fprintf(stderr, "live_feed: not a point: %s\n", point.c_str());
      return 2;
    }
    lines.push_back(Area{wx + x + 1, wy + y + 4, 239, 1});
  }
  std::vector<int> last;
  std::int64_t previous = NowNs();
  std::int64_t next = previous;
  while (!stop) {
    std::vector<int> now;
    for (const Area& line : lines) now.push_back(BarSpots(Grab(d, line)));
    const std::int64_t seen = NowNs();
    if (now != last) {
      std::printf("%lld %lld", static_cast<long long>(previous), static_cast<long long>(seen));
      for (const int spots : now) std::printf(" %d", spots);
      std::printf("\n");
      std::fflush(stdout);
      last = now;
    }
    previous = seen;
    next += 2000000;
    if (seen > next) next = seen;
    SleepUntil(next);
  }
  XCloseDisplay(d);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  if (argc >= 3 && std::strcmp(argv[1], "feed") == 0) {
    Feeder feeder(std::vector<std::string>(argv + 2, argv + argc));
    feeder.Run();
    return 0;
  }
  if (argc >= 5 && std::strcmp(argv[1], "latency") == 0) {
    const Window window = std::strtoul(argv[2], nullptr, 0);
    const int onsets = std::atoi(argv[3]);
    return Latency(window, onsets, std::vector<std::string>(argv + 4, argv + argc));
  }
  if (argc >= 4 && std::strcmp(argv[1], "meters") == 0) {
    const Window window = std::strtoul(argv[2], nullptr, 0);
    return Meters(window, std::vector<std::string>(argv + 3, argv + argc));
  }
  std::fprintf(stderr,
               "usage: live_feed feed PIPE... | live_feed latency WINDOW ONSETS PIPE... |\n"
               "       live_feed meters WINDOW X,Y...\n");
  return 2;
}
