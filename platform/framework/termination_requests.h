#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

// While it lives, a request to end the program (SIGTERM, as a session that
// ends or `kill` sends; SIGINT, as Ctrl+C sends) runs on_request on the GUI
// thread instead of ending the process at once, so that the program can close
// the way its window's close request does. Each signal is taken once: the
// same signal again ends the program as it would have by default. One at a
// time; the signals' previous handling comes back when it goes.
class TerminationRequests {
 public:
  explicit TerminationRequests(std::function<void()> on_request);
  ~TerminationRequests();
  TerminationRequests(const TerminationRequests&) = delete;
  TerminationRequests& operator=(const TerminationRequests&) = delete;

 private:
  std::function<void()> on_request_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
