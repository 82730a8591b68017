#include "platform/audio/pulse/pulse_loop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace platform {

struct PulseLoop::IoEvent {
  PulseLoop* loop;
  int fd;
  pa_io_event_flags_t events;
  pa_io_event_cb_t callback;
  void* userdata;
  pa_io_event_destroy_cb_t destroy = nullptr;
  bool dead = false;
};

struct PulseLoop::TimeEvent {
  PulseLoop* loop;
  bool enabled = false;
  std::uint64_t due_us = 0;  // on the monotonic clock
  struct timeval when {};    // as given, handed back to the callback
  pa_time_event_cb_t callback;
  void* userdata;
  pa_time_event_destroy_cb_t destroy = nullptr;
  bool dead = false;
};

struct PulseLoop::DeferEvent {
  PulseLoop* loop;
  bool enabled = true;
  pa_defer_event_cb_t callback;
  void* userdata;
  pa_defer_event_destroy_cb_t destroy = nullptr;
  bool dead = false;
};

namespace {

// libpulse marks a time on the monotonic clock with this bit of tv_usec;
// other times are on the wall clock.
constexpr long kMonotonicMark = 1L << 30;

std::uint64_t Microseconds(const struct timespec& ts) {
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

std::uint64_t MonotonicNow() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return Microseconds(ts);
}

// A library time as microseconds on the monotonic clock.
std::uint64_t DueMicroseconds(const struct timeval& tv) {
  if ((tv.tv_usec & kMonotonicMark) != 0) {
    return static_cast<std::uint64_t>(tv.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(tv.tv_usec & ~kMonotonicMark);
  }
  struct timespec wall;
  clock_gettime(CLOCK_REALTIME, &wall);
  const std::int64_t at = static_cast<std::int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
  const std::int64_t ahead = at - static_cast<std::int64_t>(Microseconds(wall));
  const std::int64_t now = static_cast<std::int64_t>(MonotonicNow());
  return static_cast<std::uint64_t>(std::max<std::int64_t>(0, now + ahead));
}

short ToPoll(pa_io_event_flags_t f) {
  return static_cast<short>(
      ((f & PA_IO_EVENT_INPUT) ? POLLIN : 0) | ((f & PA_IO_EVENT_OUTPUT) ? POLLOUT : 0) |
      ((f & PA_IO_EVENT_HANGUP) ? POLLHUP : 0) | ((f & PA_IO_EVENT_ERROR) ? POLLERR : 0));
}

pa_io_event_flags_t FromPoll(short revents) {
  return static_cast<pa_io_event_flags_t>(
      ((revents & POLLIN) ? PA_IO_EVENT_INPUT : 0) |
      ((revents & POLLOUT) ? PA_IO_EVENT_OUTPUT : 0) |
      ((revents & POLLHUP) ? PA_IO_EVENT_HANGUP : 0) |
      ((revents & (POLLERR | POLLNVAL)) ? PA_IO_EVENT_ERROR : 0));
}

PulseLoop* Of(pa_mainloop_api* api) {
  return static_cast<PulseLoop*>(api->userdata);
}

template <class E>
E* Own(void* e) {
  return reinterpret_cast<E*>(e);
}

}  // namespace

PulseLoop::PulseLoop() {
  api_.userdata = this;
  api_.io_new = IoNew;
  api_.io_enable = IoEnable;
  api_.io_free = IoFree;
  api_.io_set_destroy = IoSetDestroy;
  api_.time_new = TimeNew;
  api_.time_restart = TimeRestart;
  api_.time_free = TimeFree;
  api_.time_set_destroy = TimeSetDestroy;
  api_.defer_new = DeferNew;
  api_.defer_enable = DeferEnable;
  api_.defer_free = DeferFree;
  api_.defer_set_destroy = DeferSetDestroy;
  api_.quit = Quit;
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

PulseLoop::~PulseLoop() {
  Stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Collect(true);
  }
  if (wake_fd_ >= 0) close(wake_fd_);
}

bool PulseLoop::Start() {
  if (wake_fd_ < 0 || thread_.joinable()) return wake_fd_ >= 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void PulseLoop::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    Changed();
  }
  thread_.join();
}

void PulseLoop::Lock() {
  mutex_.lock();
}

void PulseLoop::Unlock() {
  mutex_.unlock();
}

void PulseLoop::Wait() {
  std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
  signal_.wait(lock);
  lock.release();
}

void PulseLoop::Signal() {
  signal_.notify_all();
}

void PulseLoop::Changed() {
  if (!sleeping_ || wake_pending_) return;
  wake_pending_ = true;
  const std::uint64_t one = 1;
  // A full counter (never, in practice) still leaves the descriptor readable.
  [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
}

void PulseLoop::Run() {
  pthread_setname_np(pthread_self(), "pulse-loop");  // told apart in measurements
  std::unique_lock<std::mutex> lock(mutex_);
  std::vector<struct pollfd> fds;
  std::vector<IoEvent*> owners;  // the event of each entry of fds after the first
  while (!quit_) {
    if (rebuild_) {
      fds.assign(1, {wake_fd_, POLLIN, 0});
      owners.assign(1, nullptr);
      for (IoEvent* e : io_) {
        if (e->dead) continue;
        fds.push_back({e->fd, ToPoll(e->events), 0});
        owners.push_back(e);
      }
      rebuild_ = false;
    }
    // Like the library's own loop: while deferred events are enabled the
    // poll only looks, and they are all that runs after it.
    const bool deferred = enabled_deferred_ > 0;
    std::uint64_t next = deferred ? 0 : std::numeric_limits<std::uint64_t>::max();
    for (const TimeEvent* t : timers_)
      if (t->enabled && !t->dead) next = std::min(next, t->due_us);
    struct timespec wait {};
    struct timespec* timeout = nullptr;
    if (next != std::numeric_limits<std::uint64_t>::max()) {
      const std::uint64_t now = MonotonicNow();
      const std::uint64_t left = next > now ? next - now : 0;
      wait.tv_sec = static_cast<time_t>(left / 1000000u);
      wait.tv_nsec = static_cast<long>(left % 1000000u) * 1000;
      timeout = &wait;
    }
    sleeping_ = true;
    lock.unlock();
    const int ready = ppoll(fds.data(), fds.size(), timeout, nullptr);
    lock.lock();
    sleeping_ = false;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t n = read(wake_fd_, &count, sizeof count);
      wake_pending_ = false;
    }
    if (quit_) break;
    if (deferred) {
      DispatchDeferred();
      Collect(false);
      continue;
    }
    DispatchTimers();
    if (ready > 0) {
      for (std::size_t i = 1; i < fds.size(); ++i) {
        IoEvent* e = owners[i];
        // Only what is still asked for: an earlier callback may have freed
        // the event or changed what it waits for.
        const short revents =
            static_cast<short>(fds[i].revents & (ToPoll(e->events) | POLLHUP | POLLERR | POLLNVAL));
        if (revents == 0 || e->dead) continue;
        e->callback(&api_, reinterpret_cast<pa_io_event*>(e), e->fd, FromPoll(revents),
                    e->userdata);
        if (quit_) break;
      }
    }
    Collect(false);
  }
}

void PulseLoop::DispatchDeferred() {
  // Events added by a callback wait for the next round; indices stay valid
  // because events are only appended until Collect.
  const std::size_t n = deferred_.size();
  for (std::size_t i = 0; i < n && !quit_; ++i) {
    DeferEvent* e = deferred_[i];
    if (e->dead || !e->enabled) continue;
    e->callback(&api_, reinterpret_cast<pa_defer_event*>(e), e->userdata);
  }
}

void PulseLoop::DispatchTimers() {
  const std::uint64_t now = MonotonicNow();
  const std::size_t n = timers_.size();
  for (std::size_t i = 0; i < n && !quit_; ++i) {
    TimeEvent* t = timers_[i];
    if (t->dead || !t->enabled || t->due_us > now) continue;
    t->enabled = false;  // a callback that wants more restarts it
    t->callback(&api_, reinterpret_cast<pa_time_event*>(t), &t->when, t->userdata);
  }
}

void PulseLoop::Collect(bool all) {
  if (!dead_ && !all) return;
  dead_ = false;
  // The destroy callbacks run after the lists are tidy: they may free more.
  std::vector<IoEvent*> io;
  std::vector<TimeEvent*> timers;
  std::vector<DeferEvent*> deferred;
  auto split = [all](auto& list, auto& out) {
    auto keep = std::stable_partition(list.begin(), list.end(),
                                      [all](const auto* e) { return !all && !e->dead; });
    out.assign(keep, list.end());
    list.erase(keep, list.end());
  };
  split(io_, io);
  split(timers_, timers);
  split(deferred_, deferred);
  if (!io.empty()) rebuild_ = true;
  for (IoEvent* e : io) {
    if (e->destroy) e->destroy(&api_, reinterpret_cast<pa_io_event*>(e), e->userdata);
    delete e;
  }
  for (TimeEvent* e : timers) {
    if (e->destroy) e->destroy(&api_, reinterpret_cast<pa_time_event*>(e), e->userdata);
    delete e;
  }
  for (DeferEvent* e : deferred) {
    if (e->destroy) e->destroy(&api_, reinterpret_cast<pa_defer_event*>(e), e->userdata);
    delete e;
  }
}

// --- the library's calls; all with the lock held --------------------------------

pa_io_event* PulseLoop::IoNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events,
                              pa_io_event_cb_t cb, void* userdata) {
  PulseLoop* loop = Of(api);
  auto* e = new IoEvent{loop, fd, events, cb, userdata};
  loop->io_.push_back(e);
  loop->rebuild_ = true;
  loop->Changed();
  return reinterpret_cast<pa_io_event*>(e);
}

void PulseLoop::IoEnable(pa_io_event* event, pa_io_event_flags_t events) {
  auto* e = Own<IoEvent>(event);
  if (e->events == events) return;
  e->events = events;
  e->loop->rebuild_ = true;
  e->loop->Changed();
}

void PulseLoop::IoFree(pa_io_event* event) {
  auto* e = Own<IoEvent>(event);
  e->dead = true;
  e->loop->dead_ = true;
  e->loop->rebuild_ = true;
  e->loop->Changed();
}

void PulseLoop::IoSetDestroy(pa_io_event* event, pa_io_event_destroy_cb_t cb) {
  Own<IoEvent>(event)->destroy = cb;
}

pa_time_event* PulseLoop::TimeNew(pa_mainloop_api* api, const struct timeval* tv,
                                  pa_time_event_cb_t cb, void* userdata) {
  PulseLoop* loop = Of(api);
  auto* e = new TimeEvent{loop, false, 0, {}, cb, userdata};
  loop->timers_.push_back(e);
  TimeRestart(reinterpret_cast<pa_time_event*>(e), tv);
  return reinterpret_cast<pa_time_event*>(e);
}

void PulseLoop::TimeRestart(pa_time_event* event, const struct timeval* tv) {
  auto* e = Own<TimeEvent>(event);
  e->enabled = tv != nullptr;
  if (tv) {
    e->when = *tv;
    e->due_us = DueMicroseconds(*tv);
  }
  e->loop->Changed();
}

void PulseLoop::TimeFree(pa_time_event* event) {
  auto* e = Own<TimeEvent>(event);
  e->dead = true;
  e->enabled = false;
  e->loop->dead_ = true;
}

void PulseLoop::TimeSetDestroy(pa_time_event* event, pa_time_event_destroy_cb_t cb) {
  Own<TimeEvent>(event)->destroy = cb;
}

pa_defer_event* PulseLoop::DeferNew(pa_mainloop_api* api, pa_defer_event_cb_t cb, void* userdata) {
  PulseLoop* loop = Of(api);
  auto* e = new DeferEvent{loop, true, cb, userdata};
  loop->deferred_.push_back(e);
  ++loop->enabled_deferred_;
  loop->Changed();
  return reinterpret_cast<pa_defer_event*>(e);
}

void PulseLoop::DeferEnable(pa_defer_event* event, int b) {
  auto* e = Own<DeferEvent>(event);
  const bool on = b != 0;
  if (e->dead || e->enabled == on) return;
  e->enabled = on;
  e->loop->enabled_deferred_ += on ? 1 : -1;
  if (on) e->loop->Changed();
}

void PulseLoop::DeferFree(pa_defer_event* event) {
  auto* e = Own<DeferEvent>(event);
  if (e->dead) return;
  if (e->enabled) --e->loop->enabled_deferred_;
  e->enabled = false;
  e->dead = true;
  e->loop->dead_ = true;
}

void PulseLoop::DeferSetDestroy(pa_defer_event* event, pa_defer_event_destroy_cb_t cb) {
  Own<DeferEvent>(event)->destroy = cb;
}

void PulseLoop::Quit(pa_mainloop_api* api, int) {
  PulseLoop* loop = Of(api);
  loop->quit_ = true;
  loop->Changed();
}

}  // namespace platform
