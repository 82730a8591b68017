#include "app/device_failure_report.h"

#include "capture/wave_in.h"
#include "platform/messages/messages.h"
#include "platform/threads/thread.h"
#include "playback/ds_wave_out.h"
#include "playback/wave_out.h"

namespace {

// The errors the device components raise when their device fails.
bool DeviceFailure(const std::exception& e) {
  return dynamic_cast<const EMMWaveInError*>(&e) || dynamic_cast<const EMMWaveOutError*>(&e) ||
         dynamic_cast<const EMMDSWaveOutError*>(&e);
}

}  // namespace

TDeviceFailureReport::TDeviceFailureReport() {
  // Reports from other threads (which show no box) go on as usual, and so
  // never touch this object.
  platform::SetExceptionReport(
      [this](const std::exception& e) { return platform::IsGuiThread() && Report(e); });
}

TDeviceFailureReport::~TDeviceFailureReport() {
  platform::SetExceptionReport(nullptr);
}

void TDeviceFailureReport::NextLoss() {
  if (platform::OpenMessageBoxes() > 0) return;
  standing_ = false;
  folded_ = 0;
}

bool TDeviceFailureReport::Report(const std::exception& e) {
  if (!DeviceFailure(e)) return false;
  if (standing_) {
    ++folded_;
    return true;
  }
  standing_ = true;
  return false;
}
