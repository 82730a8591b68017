#include "app/loopback_check.h"

#include <algorithm>
#include <vector>

#include "app/play_origin.h"
#include "app/sample_tap.h"
#include "capture/wave_in.h"
#include "devices/wave_devices.h"
#include "platform/messages/messages.h"
#include "platform/mmtimer/mmtimer.h"
#include "playback/audio_player.h"

namespace {

constexpr std::int32_t kRate = 44100;

// Pumps the GUI thread until done() holds or ms have passed, or a failure was
// reported.
template <typename Done>
void PumpUntil(Done done, std::int64_t ms, const std::string& reported) {
  const std::int64_t limit = NowMicroseconds() + ms * 1000;
  while (!done() && reported.empty() && NowMicroseconds() < limit) WaitAndPump(5, true);
}

}  // namespace

bool RunLoopbackCheck(int output, int input, bool wave, const std::string& sound,
                      double max_delay_ms, LoopbackCheck* check, std::string* error) {
  // A failure while the sound plays or the input records is reported as a
  // message box; here it ends the check.
  std::string reported;
  platform::SetMessageBoxHook([&reported](const std::string& text, const std::string&, UINT) {
    if (reported.empty()) reported = text;
    return IDOK;
  });
  struct Unhook {
    ~Unhook() { platform::SetMessageBoxHook(nullptr); }
  } unhook;

  check->output_name = WaveOutDeviceName(output);
  check->input_name = WaveInDeviceName(input);
  TSampleTap sent(nullptr);
  TSampleTap recorded(nullptr);
  std::size_t recorded_before_play = 0;
  // Both devices' own counts (what the output has played, what the input
  // has recorded, by its driver, which moves in smaller steps than the
  // buffers handed on), read many times while the sound plays: they place
  // the sound's first frame in the recording.
  std::vector<PositionReading> readings;
  try {
    TMMWaveIn in(nullptr);
    in.SetMode(mStereo);
    in.SetBitLength(b16Bit);
    in.SetSampleRate(kRate);
    // A second and a half of buffers at the driver: nothing recorded is lost
    // while the GUI thread is busy elsewhere.
    in.SetBufferSize(8192);
    in.SetNumBuffers(32);
    in.SetDeviceID(input);
    in.SetOutput(&recorded);

    TMMAudioPlayer player(nullptr);
    player.SetBufferSize(8196);
    player.SetNumBuffers(10);
    player.SetDeviceID(InvalidId);
    player.SetCallBackMode(cmWindow);
    player.SetUseDSound(!wave);
    player.SetFileName(sound);
    if (player.AudioFile()->IsEmpty()) {
      *error = "nothing to play in " + sound;
      return false;
    }
    player.SetOutput(&sent);
    bool ended = false;
    player.OnStop = [&ended](TComponent*) { ended = true; };
    player.Stop();
    // The sound-buffer output counts the default device as 0.
    player.SetDeviceID(static_cast<TMMDeviceId>(wave ? output : output + 1));

    in.Start();
    PumpUntil([&] { return recorded.Frames() > 0; }, 10000, reported);
    if (reported.empty() && recorded.Frames() == 0) reported = "the input delivered nothing";
    if (reported.empty()) {
      recorded_before_play = recorded.Frames();
      player.Play();
      // While the sound plays: how far the input had recorded when the
      // output had played how much, at the same moment.
      const std::int32_t length_ms = player.AudioFile()->GetLength();
      PumpUntil(
          [&] {
            const std::int32_t played_ms = player.GetPosition();
            if (played_ms > 0 && played_ms < length_ms) {
              PositionReading reading;
              reading.played_us = NowMicroseconds();
              reading.played_frames = played_ms * (kRate / 1000.0);
              std::int64_t frames = in.RecordedFrames();
              reading.recorded_us = NowMicroseconds();
              if (frames < 0) frames = static_cast<std::int64_t>(recorded.Frames());
              reading.recorded_frames =
                  static_cast<double>(frames) - static_cast<double>(recorded_before_play);
              readings.push_back(reading);
            }
            return ended;
          },
          length_ms + 30000, reported);
      if (reported.empty() && !ended) reported = "the sound did not end";
      // What was heard last may still be on its way to the input.
      if (reported.empty()) {
        PumpUntil([] { return false; }, static_cast<std::int64_t>(max_delay_ms) + 500, reported);
      }
    }
    player.Stop();
    in.Close();
  } catch (const std::exception& e) {
    if (reported.empty()) reported = e.what();
  }
  if (!reported.empty()) {
    *error = reported;
    return false;
  }
  if (sent.SampleRate() != static_cast<std::uint32_t>(kRate)) {
    *error = "the sound is not played at 44100 Hz";
    return false;
  }

  StereoSamples heard = recorded.Samples();
  const auto skip = static_cast<std::ptrdiff_t>(std::min(recorded_before_play, heard.left.size()));
  heard.left.erase(heard.left.begin(), heard.left.begin() + skip);
  heard.right.erase(heard.right.begin(), heard.right.begin() + skip);
  check->result = AnalyseLoopback(sent.Samples(), heard, kRate, max_delay_ms);
  if (check->result.verdict != LoopbackVerdict::silent && !readings.empty()) {
    const double played_at = RecordingFrameAtPlayStart(readings, kRate);
    check->delay_ms = check->result.arrival_ms - played_at * 1000.0 / kRate;
  }
  return true;
}
