#include "playback/wave_out.h"

#include <algorithm>
#include <mutex>

#include "devices/mm_strings.h"
#include "devices/wave_format.h"
#include "platform/framework/properties.h"
#include "platform/sysinfo/platform_flags.h"
#include "platform/wave/wave_error_text.h"
#include "platform/wave/wave_out.h"

namespace {

constexpr std::int64_t kWrapDistance = 65534;

}  // namespace

TMMWaveOut::TMMWaveOut(TComponent* owner) : TMMCustomWaveOutComponent(owner) {
  device_.Select(0);
}

TMMWaveOut::~TMMWaveOut() {
  SetState(csDestroying, true);
  if (Handle()) Close();
}

// --- errors -----------------------------------------------------------------

void TMMWaveOut::RaiseError(const std::string& message) {
  FireError();
  throw EMMWaveOutError(message);
}

const char* TMMWaveOut::CallName(TOutputCall call) const {
  static constexpr const char* kNames[] = {"WaveOut:",
                                           "WaveOutOpen:",
                                           "WaveOutClose:",
                                           "WaveOutStart:",
                                           "WaveOutPause:",
                                           "WaveOutRestart:",
                                           "WaveOutReset:",
                                           "WaveOutWrite:",
                                           "WaveOutGetPosition:",
                                           "WaveOutUnprepareHeader:"};
  return kNames[call];
}

void TMMWaveOut::Check(TOutputCall call, std::uint32_t result) {
  last_result_ = result;
  if (result == MMSYSERR_NOERROR) return;
  char text[255] = {};
  if (waveOutGetErrorTextA(result, text, sizeof(text)) == MMSYSERR_NOERROR)
    RaiseError(std::string(CallName(call)) + "\n\r" + text);
  RaiseError(Prefixed(call, kMMUnknownErrorNumber));
}

// --- properties -------------------------------------------------------------

void TMMWaveOut::SetDeviceID(TMMDeviceId value) {
  CheckNotOpen();
  // Counted again, so that a number reaches a device added since.
  device_.Recount();
  device_.Select(value);
}

void TMMWaveOut::SetNumBuffers(std::int32_t value) {
  if (value == num_buffers_ || value <= 1) return;
  CheckNotOpen();
  num_buffers_ = std::min(value, kMaxWaveOutBuffers);
}

void TMMWaveOut::SetCallBackMode(TMMCBMode value) {
  if (value == callback_mode_) return;
  CheckNotOpen();
  if (!TakesCallBackMode(value, "TMMWaveOut")) return;
  callback_mode_ = value;
}

void TMMWaveOut::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  CheckNotOpen();
  allocator_.FreeAll();
  std::fill(ring_.begin(), ring_.end(), nullptr);
  TMMCustomWaveOutComponent::SetBufferSize(std::max(value, 32));
}

void TMMWaveOut::SetPriority(TThreadPriority value) {
  priority_ = value;
  ApplyWorkerPriority(value);
}

bool TMMWaveOut::QueryFormat(TMMDeviceId device, const WAVEFORMATEX* format) {
  if (device < MapperId || device >= GetNumDevs() || !format) return false;
  return waveOutOpen(nullptr, static_cast<UINT>(device), format, 0, 0, WAVE_FORMAT_QUERY) ==
         MMSYSERR_NOERROR;
}

// --- device primitives ------------------------------------------------------

void TMMWaveOut::CheckOpenable() {
  if (GetNumDevs() == 0) RaiseError(LoadMMString(kMMNoWaveOutDevice));
  if (GetDeviceID() == InvalidId) RaiseError(LoadMMString(kMMInvalidDeviceId));
  if (!GetPWaveFormat()) RaiseError(Prefixed(ocOpen, kMMInvalidWaveFormat));
}

std::uint32_t TMMWaveOut::DeviceOpen() {
  const DWORD flags = mapped_ && GetDeviceID() >= 0 ? WAVE_MAPPED : 0;
  const auto id = static_cast<UINT>(GetDeviceID());
  HWAVEOUT d = nullptr;
  const WAVEFORMATEX* format = DeviceFormat();
  MMRESULT r;
  if (FunctionCallbacks)
    r = waveOutOpen(&d, id, format, DriverCallbackParam(), CallbackInstance(),
                    flags | CALLBACK_FUNCTION);
  else
    r = waveOutOpen(&d, id, format, window_, 0, flags | CALLBACK_WINDOW);
  handle_ = d;
  return r;
}

std::uint32_t TMMWaveOut::DeviceClose() {
  const MMRESULT r = waveOutClose(Device());
  if (r == MMSYSERR_NOERROR) {
    stop_position_ = 0;
    Locked([this] { wrap_count_ = wrap_size_ = 0; });
  }
  return r;
}

std::uint32_t TMMWaveOut::DevicePause() {
  return waveOutPause(Device());
}

std::uint32_t TMMWaveOut::DeviceRestart() {
  return waveOutRestart(Device());
}

std::uint32_t TMMWaveOut::DeviceReset() {
  return waveOutReset(Device());
}

bool TMMWaveOut::PumpsWhileWaiting() const {
  return !FunctionCallbacks;
}

std::uint32_t TMMWaveOut::DeviceWrite(PWaveHdr h) {
  h->dwFlags = (h->dwFlags | WHDR_PREPARED) & ~WHDR_DONE;
  h->dwSavedLength = h->dwBytesRecorded;
  const MMRESULT r = waveOutWrite(Device(), h, sizeof(WAVEHDR));
  h->dwBytesRecorded = h->dwSavedLength;
  return r;
}

PWaveHdr TMMWaveOut::NewRingBlock(std::int32_t size) {
  void* block = allocator_.AllocBlock(
      GMEM_ZEROINIT, static_cast<std::uint32_t>(kWaveHdrSize) + static_cast<std::uint32_t>(size));
  if (!block) RaiseError(LoadMMString(kMMCannotAllocateHeader));
  return static_cast<PWaveHdr>(block);
}

void TMMWaveOut::PrepareHeader(PWaveHdr h) {
  waveOutPrepareHeader(Device(), h, sizeof(WAVEHDR));
}

std::uint32_t TMMWaveOut::UnprepareHeader(PWaveHdr h) {
  waveOutUnprepareHeader(Device(), h, sizeof(WAVEHDR));
  return MMSYSERR_NOERROR;
}

void TMMWaveOut::PrepareHandOn(PWaveHdr h, PWaveHdr next) {
  h->dwBytesRecorded = h->dwSavedLength;
  next->dwBytesRecorded = next->dwSavedLength;
}

// --- positions --------------------------------------------------------------

std::uint32_t TMMWaveOut::DevicePosition(std::int64_t& samples) {
  samples = 0;
  HWAVEOUT d = Device();
  if (!IsOpen() || !d) return MMSYSERR_NOERROR;
  MMTIME t;
  t.wType = TIME_SAMPLES;
  MMRESULT result = waveOutGetPosition(d, &t, sizeof(t));
  if (result == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES) {
    samples = t.u.sample;
    return result;
  }
  t.wType = TIME_BYTES;
  result = waveOutGetPosition(d, &t, sizeof(t));
  if (result == MMSYSERR_NOERROR)
    samples = BytesToSamples(GetPWaveFormat(), static_cast<std::int32_t>(t.u.cb));
  return result;
}

std::int64_t TMMWaveOut::InTimeFormat(std::int64_t samples) const {
  switch (time_format_.load()) {
    case tfMillisecond:
      return SamplesToMs64(GetPWaveFormat(), samples);
    case tfByte:
      return SamplesToBytes64(GetPWaveFormat(), samples);
    case tfSample:
      break;
  }
  return samples;
}

std::int64_t TMMWaveOut::GetPosition() {
  if (!IsOpen() || !GetPWaveFormat() || handshake_.close_pending) return 0;
  return Locked([this] {
    return InTimeFormat(Position() + accumulated_ + wrap_count_ * wrap_size_ - loop_start_);
  });
}

void TMMWaveOut::ZeroPositions() {
  TMMCustomWaveOutComponent::ZeroPositions();
  last_position_ = 0;
  wrap_count_ = wrap_size_ = 0;
}

void TMMWaveOut::BeforeStopReset() {
  std::lock_guard<TCriticalSection> lock(lock_);
  std::int64_t samples = 0;
  // A device that went away has no position: the last one read stands.
  if (DevicePosition(samples) != MMSYSERR_NOERROR) samples = last_position_;
  stop_position_ = InTimeFormat(samples + accumulated_ + wrap_count_ * wrap_size_ - loop_start_);
  wrap_count_ = wrap_size_ = 0;
}

std::int64_t TMMWaveOut::PositionAtReturn() {
  const std::int64_t p = Position();
  Locked([&] {
    const auto now = static_cast<std::uint32_t>(p);
    if (now < last_position_ && last_position_ - now > kWrapDistance) {
      wrap_size_ = last_position_ | 0xFFFFFu;
      ++wrap_count_;
    }
    last_position_ = now;
  });
  return p;
}

// --- class ------------------------------------------------------------------

const TClassInfo& TMMWaveOut::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMWaveOut>("TMMWaveOut", &TMMCustomWaveOutComponent::StaticClassInfo())
          .Creatable()
          .Bool("ShowHourGlass", &TMMWaveOut::GetShowHourGlass, &TMMWaveOut::SetShowHourGlass)
          .Bool("Mapped", &TMMWaveOut::GetMapped, &TMMWaveOut::SetMapped)
          .Enum("Priority",
                {"tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest",
                 "tpTimeCritical"},
                &TMMWaveOut::GetPriority, &TMMWaveOut::SetPriority)
          .Build();
  return info;
}
