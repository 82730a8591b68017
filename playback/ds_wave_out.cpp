#include "playback/ds_wave_out.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "devices/mm_strings.h"
#include "devices/wave_format.h"
#include "platform/framework/form.h"
#include "platform/framework/properties.h"
#include "platform/sysinfo/platform_flags.h"

namespace {

constexpr char kNoDevices[] = "No DirectSound playing devices found";
constexpr auto kStopWait = std::chrono::milliseconds(500);

BOOL CollectDevice(LPGUID guid, LPCSTR description, LPCSTR module, LPVOID context) {
  auto* devices = static_cast<std::vector<TMMDSDevice>*>(context);
  TMMDSDevice device;
  if (guid) device.guid = *guid;
  device.description = description ? description : "";
  device.module = module ? module : "";
  devices->push_back(std::move(device));
  return TRUE;
}

}  // namespace

TMMDSWaveOut::TMMDSWaveOut(TComponent* owner) : TMMCustomWaveOutComponent(owner) {
  if (IsNT3)
    throw EMMDSWaveOutError("Directsound is currently only supported under Windows 95 and NT 4.0");
  if (!DSLoad()) throw EMMDSWaveOutError("Unable to load");
  SetDeviceID(0);
}

TMMDSWaveOut::~TMMDSWaveOut() {
  SetState(csDestroying, true);
  if (Handle()) Close();
  ReleaseRing();
}

// --- errors -----------------------------------------------------------------

void TMMDSWaveOut::RaiseError(const std::string& message) {
  FireError();
  throw EMMDSWaveOutError(message);
}

void TMMDSWaveOut::CheckLayer(DWORD result, const std::string& prefix, const std::string& text) {
  if (result != kDSOk) RaiseError(prefix + "\n\r" + text);
}

namespace {

// Name and fixed text of each call, in TOutputCall order; a text of the
// string table where the id is not 0.
struct TLayerCall {
  const char* name;
  const char* text;
  int id;
};
constexpr TLayerCall kLayerCalls[] = {
    {"DSWaveOut:", "", kMMCannotCreateThread},
    {"DSWaveOutOpen:", "", kMMCannotOpenDevice},
    {"DSWaveOutClose:", "", kMMCannotCloseDevice},
    {"DSWaveOutStarted:", "", kMMCannotStartDevice},
    {"DSWaveOutPause:", "Unable to pause device", 0},
    {"DSWaveOutRestart:", "Unabele to restart device", 0},
    {"DSWaveOutReset:", "Unable to reset device", 0},
    {"DSWaveOutWrite:", "Unable to write to device", 0},
    {"DSWaveOutGetPosition:", "Unable to get device position", 0},
    {"DSWaveOutUnprepareHeader:", "Unable to unprepare waveheaders", 0}};

}  // namespace

const char* TMMDSWaveOut::CallName(TOutputCall call) const {
  return kLayerCalls[call].name;
}

void TMMDSWaveOut::Check(TOutputCall call, std::uint32_t result) {
  const TLayerCall& c = kLayerCalls[call];
  if (result != kDSOk)
    RaiseError(std::string(c.name) + "\n\r" + (c.id ? LoadMMString(c.id) : c.text));
}

// --- properties -------------------------------------------------------------

void TMMDSWaveOut::SetDeviceID(TMMDeviceId value) {
  CheckNotOpen();
  // The list is read again at each choice: a number names the device now at
  // that place, also after devices came or went.
  devices_.clear();
  DirectSoundEnumerateA(CollectDevice, &devices_);
  const bool listed = value >= 0 && value < static_cast<TMMDeviceId>(devices_.size());
  device_id_ = listed ? value : InvalidId;
  product_name_ = listed ? devices_[static_cast<std::size_t>(value)].description : kNoDevices;
}

LPCGUID TMMDSWaveOut::Key() const {
  const auto& guid = devices_[static_cast<std::size_t>(device_id_)].guid;
  return guid ? &*guid : nullptr;
}

void TMMDSWaveOut::SetNumBuffers(std::int32_t value) {
  if (value == num_buffers_ || value < 2 || value > kMaxWaveOutBuffers) return;
  CheckNotOpen();
  num_buffers_ = value;
}

void TMMDSWaveOut::SetCallBackMode(TMMCBMode value) {
  if (value == callback_mode_) return;
  CheckNotOpen();
  if (value == cmCallback) {
    MessageBox("\"CallBacks\" are not supported with DirectSound", "TMMDSWaveOut", MB_OK);
    return;
  }
  callback_mode_ = value;
}

void TMMDSWaveOut::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  CheckNotOpen();
  TMMCustomWaveOutComponent::SetBufferSize(std::max(value, 256));
}

void TMMDSWaveOut::SetVolume(std::int32_t value) {
  value = std::clamp(value, -10000, 0);
  if (value == volume_) return;
  volume_ = value;
  if (IsOpen() && Context()) DSWaveOutSetVolume(Context(), value);
}

void TMMDSWaveOut::SetPan(std::int32_t value) {
  value = std::clamp(value, -10000, 10000);
  if (value == pan_) return;
  pan_ = value;
  if (IsOpen() && Context()) DSWaveOutSetPan(Context(), value);
}

void TMMDSWaveOut::SetFrequency(std::int32_t value) {
  // 0 keeps the format's own rate; any other rate within what the device takes.
  value = value <= 0 ? 0
                     : std::clamp(value, static_cast<std::int32_t>(DSBFREQUENCY_MIN),
                                  static_cast<std::int32_t>(DSBFREQUENCY_MAX));
  if (value == frequency_) return;
  frequency_ = value;
  if (IsOpen() && Context()) DSWaveOutSetPlayBackRate(Context(), static_cast<DWORD>(value));
}

// --- device primitives ------------------------------------------------------

void TMMDSWaveOut::CheckOpenable() {
  if (devices_.empty()) RaiseError(kNoDevices);
  if (device_id_ == InvalidId) RaiseError(LoadMMString(kMMInvalidDeviceId));
  if (!GetPWaveFormat()) RaiseError(LoadMMString(kMMInvalidWaveFormat));
}

bool TMMDSWaveOut::CanPlayFormat() {
  PDSWaveOut probe = nullptr;
  return DSWaveOutOpen(probe, Key(), DeviceFormat(), 0, 0, WAVE_FORMAT_QUERY) == kDSOk;
}

std::uint32_t TMMDSWaveOut::DeviceOpen() {
  // The service sets the device's cooperative level with a window: the form
  // that owns this output, else the form that owns its owner (the player's
  // output: the main window).
  HWND window = 0;
  if (TComponent* owner = GetOwner()) {
    auto* form = dynamic_cast<TCustomForm*>(owner);
    if (form == nullptr && owner->GetOwner() != nullptr) {
      form = dynamic_cast<TCustomForm*>(owner->GetOwner());
    }
    if (form != nullptr) window = form->Handle();
  }
  SetCooperativeWindow(window);
  PDSWaveOut context = nullptr;
  const DWORD opened =
      DSWaveOutOpen(context, Key(), DeviceFormat(), DriverCallbackParam(), CallbackInstance(),
                    CALLBACK_FUNCTION | DSWAVE_CTRLVOLUME | DSWAVE_CTRLPAN | DSWAVE_CTRLFREQUENCY);
  if (opened != kDSOk) return opened;
  handle_ = context;
  CheckLayer(DSCreatePrimary(context, GetPWaveFormat()),
             "DSWaveOutOpen:", "Unable to create primary buffer");
  CheckLayer(DSWaveOutSetVolume(context, volume_), "DSWaveOutSetVolume:", "Unable to set volume");
  CheckLayer(DSWaveOutSetPan(context, pan_), "DSWaveOutSetPan:", "Unable to set pan");
  CheckLayer(DSWaveOutSetPlayBackRate(context, static_cast<DWORD>(frequency_)),
             "DSWaveOutSetPlayBackRate:", "Unable to set playbackrate");
  return kDSOk;
}

std::uint32_t TMMDSWaveOut::DeviceWrite(PWaveHdr h) {
  h->dwFlags = WHDR_PREPARED;
  return DSWaveOutWrite(Context(), h);
}

std::uint32_t TMMDSWaveOut::DevicePosition(std::int64_t& samples) {
  MMTIME time;
  time.wType = TIME_SAMPLES;
  const DWORD result = DSWaveOutGetPosition(Context(), time);
  samples = time.u.sample;
  return result;
}

PWaveHdr TMMDSWaveOut::NewRingBlock(std::int32_t size) {
  void* block = nullptr;
  try {
    block = AllocZeroedBlock(kWaveHdrSize + static_cast<std::size_t>(size));
  } catch (const EOutOfMemory&) {
    RaiseError(LoadMMString(kMMCannotAllocateHeader));
  }
  return static_cast<PWaveHdr>(block);
}

void TMMDSWaveOut::PrepareHeader(PWaveHdr h) {
  CheckLayer(DSWaveOutPrepareHeader(Context(), h),
             "DSWaveOutPrepareHeader:", "Unable to prepare waveheader");
}

std::uint32_t TMMDSWaveOut::UnprepareHeader(PWaveHdr h) {
  return Context() ? DSWaveOutUnprepareHeader(Context(), h) : kDSOk;
}

std::int32_t TMMDSWaveOut::RingSize() const {
  const PDSWaveOut context = Context();
  const std::int64_t size = GetBufferSize();
  if (!context || size <= 0) return num_buffers_;
  // The layer's whole buffer and the chunk it writes ahead: with less, a
  // format of many bytes a second would find the queue dry and play silence
  // in the middle of the sound.
  const std::int64_t needed =
      (std::int64_t{context->buffer_size} + context->chunk_size + size - 1) / size;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(needed, num_buffers_, kMaxWaveOutBuffers));
}

void TMMDSWaveOut::AwaitOutstanding() {
  const auto deadline = std::chrono::steady_clock::now() + kStopWait;
  while (outstanding_ > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
}

std::int64_t TMMDSWaveOut::GetPosition() {
  const WAVEFORMATEX* format = GetPWaveFormat();
  if (!IsOpen() || !format || handshake_.closing) return 0;
  const auto samples = Locked([this] {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(Position()) +
                                     static_cast<std::uint32_t>(accumulated_) -
                                     static_cast<std::uint32_t>(loop_start_));
  });
  switch (time_format_.load()) {
    case tfMillisecond:
      return SamplesToMs(format, samples);
    case tfByte:
      return SamplesToBytes(format, samples);
    case tfSample:
      break;
  }
  return samples;
}

void TMMDSWaveOut::WorkerFailed(const std::exception& e) {
  thread_failed_ = true;
  platform::ShowException(e);
  if (IsOpen()) Close();
}

// --- class ------------------------------------------------------------------

const TClassInfo& TMMDSWaveOut::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TMMDSWaveOut>("TMMDSWaveOut", &TMMCustomWaveOutComponent::StaticClassInfo())
          .Creatable()
          .Build();
  return info;
}
