#include "platform/framework/termination_requests.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <utility>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};
struct sigaction previous_actions[std::size(kSignals)];
// The signal handler's end of a pipe whose other end the GUI thread watches.
int request_pipe[2] = {-1, -1};

// Runs on whichever thread the signal interrupts: only async-signal-safe calls.
void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(request_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TerminationRequests::TerminationRequests(std::function<void()> on_request)
    : on_request_(std::move(on_request)) {
  // Without the pipe, the signals keep their default effect.
  if (pipe2(request_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(request_pipe[0], QSocketNotifier::Read);
  // Runs on the GUI thread.
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char bytes[16];
    bool requested = false;
    while (read(request_pipe[0], bytes, sizeof bytes) > 0) requested = true;
    if (requested && on_request_) on_request_();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    sigaction(kSignals[i], &action, &previous_actions[i]);
}

TerminationRequests::~TerminationRequests() {
  if (!notifier_) return;
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    sigaction(kSignals[i], &previous_actions[i], nullptr);
  notifier_.reset();
  close(request_pipe[0]);
  close(request_pipe[1]);
  request_pipe[0] = request_pipe[1] = -1;
}

}  // namespace platform
