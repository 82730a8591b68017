#include "playback/audio_player.h"

#include <algorithm>
#include <cmath>

#include "devices/mm_strings.h"
#include "platform/framework/properties.h"

namespace {

constexpr float kMaxPitch = 50.0f;
// The DirectSound output's full level (0 dB).
constexpr std::int32_t kDSMaxVolume = 16384;

}  // namespace

TMMAudioPlayer::TMMAudioPlayer(TComponent* owner) : TMMBaseAudioFile(owner) {
  audio_file_ = new TMMAudioFile(this);
  audio_file_->SetOwnerCallback([this](TComponent*) { FileChanged(); });
  pitch_stage_ = new TMMPitch(this);
  pitch_stage_->SetInput(audio_file_);
  wave_out_ = new TMMWaveOut(this);
  active_ = wave_out_;
  wave_out_->SetInput(pitch_stage_);
  wave_out_->SetTimeFormat(tfMillisecond);
  // Fails where the sound-buffer service is missing; the player then cannot
  // be created.
  ds_wave_out_ = new TMMDSWaveOut(this);
  ds_wave_out_->SetTimeFormat(tfMillisecond);
  AttachHandlers(wave_out_);
  AttachHandlers(ds_wave_out_);
  LinkToPlayer(wave_out_);
}

TMMAudioPlayer::~TMMAudioPlayer() {
  // Nothing is reported out of a player that is going away.
  SetState(csDestroying, true);
  OnStart = OnStop = OnPause = OnRestart = OnChange = nullptr;
  OnData = nullptr;
  try {
    Stop();
  } catch (const std::exception&) {
    // The output has closed itself on the way out.
  }
  delete audio_file_;
  audio_file_ = nullptr;
  delete pitch_stage_;
  pitch_stage_ = nullptr;
  active_ = nullptr;
  delete wave_out_;
  wave_out_ = nullptr;
  delete ds_wave_out_;
  ds_wave_out_ = nullptr;
}

void TMMAudioPlayer::AttachHandlers(TMMCustomWaveOutComponent* output) {
  output->OnStart = [this](TComponent*) {
    if (OnStart) OnStart(this);
  };
  output->OnStop = [this](TComponent*) { OutputStopped(); };
  output->OnClose = [this](TComponent*) { OutputClosed(); };
  output->OnPause = [this](TComponent*) {
    if (!seeking_ && OnPause) OnPause(this);
  };
  output->OnRestart = [this](TComponent*) {
    if (!seeking_ && OnRestart) OnRestart(this);
  };
  output->OnBufferReady = [this](TComponent*, PWaveHdr h) {
    if (OnData) OnData(this, h);
  };
}

void TMMAudioPlayer::LinkToPlayer(TMMCustomWaveOutComponent* output) {
  SetAcceptAsOutput(true);
  output->SetOutput(this);
  SetAcceptAsOutput(false);
}

// --- operations -------------------------------------------------------------

void TMMAudioPlayer::Play() {
  if (active_->DeviceState() & dsStarted) return;
  if (audio_file_->IsEmpty()) return;
  if (GetPosition() >= audio_file_->GetLength()) SetPosition(0);
  start_offset_ = GetPosition();
  stop_position_ = -1;
  reader_position_ = ReaderPosition();
  SetPitch(pitch_);
  SetVolume(volume_);
  SetPanning(panning_);
  active_->Start();
}

void TMMAudioPlayer::Stop() {
  stop_position_ = GetPosition();
  active_->Stop();
  active_->Close();
}

std::int32_t TMMAudioPlayer::GetPosition() {
  if (active_->DeviceState() & dsStarted)
    return static_cast<std::int32_t>(active_->GetPosition()) + start_offset_;
  return audio_file_->GetPosition();
}

void TMMAudioPlayer::SetPosition(std::int32_t ms) {
  if (!active_->IsOpen()) {
    audio_file_->SetPosition(ms);
    return;
  }
  // The audio file limits the position to its length; the run counts from
  // where the reader really stands.
  ms = std::clamp(ms, 0, std::max(audio_file_->GetLength(), 0));
  seeking_ = true;
  try {
    const std::uint32_t state = active_->DeviceState();
    active_->Pause();
    audio_file_->SetPosition(ms);
    start_offset_ = ms;
    active_->Requeue();
    if (!(state & dsPaused)) active_->Restart();
  } catch (...) {
    seeking_ = false;
    throw;
  }
  seeking_ = false;
}

// --- handlers on the outputs ------------------------------------------------

std::int32_t TMMAudioPlayer::ReaderPosition() const {
  TMMCustomFile* file = audio_file_->FileObject();
  return file == nullptr ? -1 : file->GetPosition();
}

void TMMAudioPlayer::OutputStopped() {
  // -1: the run ended by itself, at the end of the data.
  if (stop_position_ == -1) stop_position_ = GetPosition();
  reader_position_ = ReaderPosition();
  active_->Close();
}

void TMMAudioPlayer::OutputClosed() {
  // A run that never got as far as a stop (its device could not be started)
  // keeps the reader where it stands.
  if (stop_position_ == -1) stop_position_ = GetPosition();
  if (!reset_position_) {
    SetPosition(stop_position_);
  } else if (TMMCustomFile* file = audio_file_->FileObject(); file && reader_position_ >= 0) {
    // Closing the chain rewinds the file; the next run goes on from where the
    // reader stood, to the sample.
    file->SetPosition(reader_position_);
  }
  reader_position_ = -1;
  if (OnStop) OnStop(this);
}

void TMMAudioPlayer::FileChanged() {
  Stop();
  if (OnChange) OnChange(this);
}

// --- properties -------------------------------------------------------------

void TMMAudioPlayer::SetVolume(std::int32_t value) {
  if (use_dsound_) {
    volume_ = std::clamp(value, 0, kDSMaxVolume);
    // 20 log10(v / 16384) dB in hundredths; silence is -110 dB, which the
    // output limits to its own floor.
    const double db = volume_ == 0 ? -110.0 : 20.0 * std::log10(volume_ / double{kDSMaxVolume});
    ds_wave_out_->SetVolume(static_cast<std::int32_t>(std::trunc(100.0 * db)));
    audio_file_->SetVolume(kDSMaxVolume);
    return;
  }
  volume_ = std::clamp(value, 0, kMMMaxVolume);
  audio_file_->SetVolume(volume_);
}

void TMMAudioPlayer::SetPanning(std::int32_t value) {
  panning_ = std::clamp(value, -kMMMaxPanning, kMMMaxPanning);
  if (use_dsound_) {
    ds_wave_out_->SetPan(static_cast<std::int32_t>(std::int64_t{panning_} * 10000 / kMMMaxPanning));
    audio_file_->SetPanning(0);
    return;
  }
  audio_file_->SetPanning(panning_);
}

void TMMAudioPlayer::SetPitch(float value) {
  pitch_ = std::isnan(value) ? 0.0f : std::clamp(value, -kMaxPitch, kMaxPitch);
  if (!use_dsound_) {
    pitch_stage_->SetPitch(pitch_);
    return;
  }
  if (pitch_ == 0.0f) {
    // The format's own rate, whatever it is: a file plays at its own speed.
    ds_wave_out_->SetFrequency(static_cast<std::int32_t>(DSBFREQUENCY_ORIGINAL));
  } else if (const WAVEFORMATEX* format = ds_wave_out_->GetPWaveFormat()) {
    const double rate = std::trunc(format->nSamplesPerSec * (double{pitch_} + 100.0) / 100.0);
    ds_wave_out_->SetFrequency(static_cast<std::int32_t>(
        std::clamp(rate, double{DSBFREQUENCY_MIN}, double{DSBFREQUENCY_MAX})));
  }
}

void TMMAudioPlayer::SetUseDSound(bool value) {
  if (active_->IsOpen()) throw EMMAudioPlayerError(LoadMMString(kMMChangeWhileOpen));
  if (value == use_dsound_) return;
  if (value) {
    ds_wave_out_->SetBufferSize(wave_out_->GetBufferSize());
    ds_wave_out_->SetNumBuffers(wave_out_->GetNumBuffers());
    ds_wave_out_->SetCallBackMode(wave_out_->GetCallBackMode());
    ds_wave_out_->SetDeviceID(wave_out_->GetDeviceID() + 1);
    pitch_stage_->SetInput(nullptr);
    pitch_stage_->SetOutput(nullptr);
    ds_wave_out_->SetInput(audio_file_);
    wave_out_->SetOutput(nullptr);
    LinkToPlayer(ds_wave_out_);
    active_ = ds_wave_out_;
  } else {
    wave_out_->SetBufferSize(ds_wave_out_->GetBufferSize());
    wave_out_->SetNumBuffers(ds_wave_out_->GetNumBuffers());
    wave_out_->SetCallBackMode(ds_wave_out_->GetCallBackMode());
    wave_out_->SetDeviceID(ds_wave_out_->GetDeviceID() - 1);
    pitch_stage_->SetInput(audio_file_);
    wave_out_->SetInput(pitch_stage_);
    ds_wave_out_->SetOutput(nullptr);
    LinkToPlayer(wave_out_);
    active_ = wave_out_;
  }
  use_dsound_ = value;
}

// --- class ------------------------------------------------------------------

const TClassInfo& TMMAudioPlayer::StaticClassInfo() {
  using P = TMMAudioPlayer;
  static const TClassInfo info =
      TClassInfoBuilder<P>("TMMAudioPlayer", &TMMBaseAudioFile::StaticClassInfo())
          .Creatable()
          .Enum<TMMAudioFileType>("FileType",
                                  {"ftNone", "ftWave", "ftMpeg", "ftWMA", "ftVorbis", "ftCDA"},
                                  &P::GetFileType, &P::SetFileType)
          .Ref<TMMDSPComponent>("Output", &P::GetOutput, &P::SetOutput)
          .Int<std::int32_t>("BufferSize", &P::GetBufferSize, &P::SetBufferSize)
          .Int<std::int32_t>("NumBuffers", &P::GetNumBuffers, &P::SetNumBuffers)
          .Int<TMMDeviceId>("DeviceID", &P::GetDeviceID, &P::SetDeviceID, "TMMDeviceId")
          .Enum<TMMCBMode>("CallBackMode", {"cmWindow", "cmCallback", "cmThread"},
                           &P::GetCallBackMode, &P::SetCallBackMode)
          .Str<const std::string&>("ProductName", &P::GetProductName, &P::SetProductName)
          .Bool("ResetPosition", &P::GetResetPosition, &P::SetResetPosition)
          .Int<std::int32_t>("Volume", &P::GetVolume, &P::SetVolume)
          .Int<std::int32_t>("Panning", &P::GetPanning, &P::SetPanning)
          .Float("Pitch", &P::GetPitch, &P::SetPitch)
          .Bool("UseDSound", &P::GetUseDSound, &P::SetUseDSound)
          .Event("OnStart", &P::OnStart)
          .Event("OnStop", &P::OnStop)
          .Event("OnPause", &P::OnPause)
          .Event("OnRestart", &P::OnRestart)
          .Event<void(TComponent*, PWaveHdr)>("OnData", &P::OnData)
          .Event("OnChange", &P::OnChange)
          .Build();
  return info;
}
