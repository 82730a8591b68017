#pragma once

#include <exception>

// Folds the failures of devices that go away together into one message: a
// sound server that stops takes every recording input and the playing output
// with it, and each of them closes its device and reports. The first device
// failure shows as usual, with the system's text; those after it are not
// shown until the next loss begins (NextLoss). Other errors show as usual.
// Made and destroyed on the GUI thread, one at a time; it takes part in the
// application's error report while it lives.
class TDeviceFailureReport {
 public:
  TDeviceFailureReport();
  ~TDeviceFailureReport();
  TDeviceFailureReport(const TDeviceFailureReport&) = delete;
  TDeviceFailureReport& operator=(const TDeviceFailureReport&) = delete;

  // The window has shown its devices afresh, or the user asks a device for
  // something: a device failure from now on is news and shows. Nothing while
  // a message box is open, as failures of the loss it shows may still come.
  void NextLoss();
  // The device failures not shown since the last one that was.
  int Folded() const { return folded_; }

 private:
  // ShowException's offer; true when the failure is folded.
  bool Report(const std::exception& e);

  bool standing_ = false;  // a device failure was shown for the present loss
  int folded_ = 0;
};
