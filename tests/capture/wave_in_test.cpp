#include "capture/wave_in.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/threads/thread.h"
#include "platform/wave/wave_caps.h"
#include "stream/connector.h"
#include "stream/dsp_thread.h"

namespace {

// The end of a capture chain: keeps every byte it is given and notes the
// thread the buffers arrive on.
class TSink : public TMMDSPComponent {
 public:
  explicit TSink(TComponent* owner) : TMMDSPComponent(owner) {}
  void BufferReady(PWaveHdr h) override {
    inside = true;
    bytes.insert(bytes.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    on_gui = platform::IsGuiThread();
    if (on_buffer) on_buffer(h);
    TMMDSPComponent::BufferReady(h);
    inside = false;
  }
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TSink>("TSink", &TMMDSPComponent::StaticClassInfo())
            .Ref<TMMDSPComponent>("Input", &TSink::GetInput, &TSink::SetInput)
            .Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  std::vector<char> bytes;
  std::atomic<bool> inside{false};
  std::atomic<bool> on_gui{true};
  std::function<void(PWaveHdr)> on_buffer;
};

class WaveInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=Tone@1000:-6:-12|Quiet;out=Speakers"));
    platform::VirtualClock::SetManual(true);
  }
  void TearDown() override {
    platform::VirtualClock::SetManual(false);
    platform::SelectAudioBackend("virtual");
  }

  // Advances the manual clock in 10 ms steps, processing messages, until
  // cond holds (or 20 s of pumping have passed).
  template <class Cond>
  bool RunUntil(Cond cond, unsigned step_ms = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!cond() && std::chrono::steady_clock::now() < deadline) {
      platform::VirtualClock::Advance(step_ms);
      WaitAndPump(2, true);
    }
    return cond();
  }

  // Advances the manual clock by ms in 10 ms steps, processing messages.
  void RunFor(unsigned ms) {
    for (unsigned t = 0; t < ms; t += 10) {
      platform::VirtualClock::Advance(10);
      WaitAndPump(2, true);
    }
  }

  static void Stereo16(TMMCustomWaveIn& in) {
    in.SetMode(mStereo);
    in.SetBitLength(b16Bit);
    in.SetSampleRate(44100);
  }
};

// Driver calls whose device reports no standard formats.
MMRESULT NoFormatsCaps(UINT_PTR id, WAVEINCAPSA* caps, UINT size) {
  MMRESULT r = waveInGetDevCapsA(id, caps, size);
  if (r == MMSYSERR_NOERROR) caps->dwFormats = 0;
  return r;
}

class TPickyWaveIn : public TMMCustomWaveIn {
 public:
  explicit TPickyWaveIn(TComponent* owner) : TMMCustomWaveIn(owner, Calls()) {}
  static const TWaveInDriverCalls& Calls() {
    static TWaveInDriverCalls calls = [] {
      TWaveInDriverCalls c = TMMWaveIn::DriverCalls();
      c.GetDevCaps = NoFormatsCaps;
      return c;
    }();
    return calls;
  }
};

// Driver calls of which one, chosen by the test, fails once with a chosen
// result after letting `skip` calls of its kind through.
enum TDriverCall {
  dcNone,
  dcOpen,
  dcSilentOpen,
  dcPrepare,
  dcAddBuffer,
  dcStart,
  dcStop,
  dcReset,
  dcUnprepare,
  dcClose,
  dcUnnoticedClose
};
std::atomic<TDriverCall> fault_call{dcNone};
std::atomic<int> fault_skip{0};
std::atomic<MMRESULT> fault_result{MMSYSERR_NOMEM};

void InjectFault(TDriverCall call, MMRESULT result, int skip = 0) {
  fault_skip = skip;
  fault_result = result;
  fault_call = call;
}
const TWaveInDriverCalls& Real() {
  return TMMWaveIn::DriverCalls();
}
bool Fails(TDriverCall call) {
  if (fault_call != call || fault_skip-- > 0) return false;
  fault_call = dcNone;
  return true;
}

// The window the last device was opened to notify.
HWND notified_window = 0;

MMRESULT FaultyOpen(LPHWAVEIN h, UINT id, const WAVEFORMATEX* f, DWORD_PTR cb, DWORD_PTR inst,
                    DWORD flags) {
  if ((flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW) notified_window = static_cast<HWND>(cb);
  if (!(flags & WAVE_FORMAT_QUERY)) {
    if (Fails(dcOpen)) return fault_result;
    // Opens without notifications: the open is never confirmed.
    if (Fails(dcSilentOpen)) return Real().Open(h, id, f, 0, 0, CALLBACK_NULL);
  }
  return Real().Open(h, id, f, cb, inst, flags);
}
MMRESULT FaultyPrepare(HWAVEIN h, LPWAVEHDR hdr, UINT size) {
  return Fails(dcPrepare) ? fault_result.load() : Real().PrepareHeader(h, hdr, size);
}
MMRESULT FaultyUnprepare(HWAVEIN h, LPWAVEHDR hdr, UINT size) {
  return Fails(dcUnprepare) ? fault_result.load() : Real().UnprepareHeader(h, hdr, size);
}
MMRESULT FaultyAddBuffer(HWAVEIN h, LPWAVEHDR hdr, UINT size) {
  return Fails(dcAddBuffer) ? fault_result.load() : Real().AddBuffer(h, hdr, size);
}
MMRESULT FaultyStart(HWAVEIN h) {
  return Fails(dcStart) ? fault_result.load() : Real().Start(h);
}
MMRESULT FaultyStop(HWAVEIN h) {
  return Fails(dcStop) ? fault_result.load() : Real().Stop(h);
}
MMRESULT FaultyReset(HWAVEIN h) {
  return Fails(dcReset) ? fault_result.load() : Real().Reset(h);
}
MMRESULT FaultyClose(HWAVEIN h) {
  if (Fails(dcClose)) return fault_result;
  const MMRESULT result = Real().Close(h);
  // Closed, but its notice never reaches the window.
  if (Fails(dcUnnoticedClose)) RemovePendingMessages(notified_window, MM_WIM_CLOSE);
  return result;
}

class TFaultyWaveIn : public TMMCustomWaveIn {
 public:
  explicit TFaultyWaveIn(TComponent* owner) : TMMCustomWaveIn(owner, Calls()) {}
  static const TWaveInDriverCalls& Calls() {
    static TWaveInDriverCalls calls = [] {
      TWaveInDriverCalls c = TMMWaveIn::DriverCalls();
      c.Open = FaultyOpen;
      c.PrepareHeader = FaultyPrepare;
      c.UnprepareHeader = FaultyUnprepare;
      c.AddBuffer = FaultyAddBuffer;
      c.Start = FaultyStart;
      c.Stop = FaultyStop;
      c.Reset = FaultyReset;
      c.Close = FaultyClose;
      return c;
    }();
    return calls;
  }
};

constexpr char kNoMemory[] =
    "\n\rThere is not enough memory for this operation; close some programs and try again.";

// Collects message boxes instead of showing them while it lives.
struct TBoxes {
  TBoxes() {
    platform::SetMessageBoxHook([this](const std::string& text, const std::string&, UINT) {
      texts.push_back(text);
      if (on_box) on_box();
      return IDOK;
    });
  }
  ~TBoxes() { platform::SetMessageBoxHook(nullptr); }
  std::vector<std::string> texts;
  std::function<void()> on_box;
};

TEST_F(WaveInTest, BytesReachingTheChainAreTheGeneratedSignal) {
  TMMWaveIn in(nullptr);
  TSink sink(nullptr);
  Stereo16(in);
  in.SetOutput(&sink);
  EXPECT_EQ(sink.GetInput(), &in);
  in.Start();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted));
  EXPECT_TRUE(sink.IsStarted());
  ASSERT_TRUE(RunUntil([&] { return sink.bytes.size() >= 5 * 2048; }));

  // A pause records nothing; the restart goes on with the signal where it
  // stopped, so the comparison below covers the seam.
  int pauses = 0, restarts = 0;
  in.OnPause = [&](TComponent*) { ++pauses; };
  in.OnRestart = [&](TComponent*) { ++restarts; };
  in.Pause();
  in.Pause();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted | dsPaused));
  EXPECT_TRUE(sink.IsPaused());
  RunFor(30);
  const std::size_t paused_at = sink.bytes.size();
  RunFor(200);
  EXPECT_EQ(sink.bytes.size(), paused_at);
  in.Restart();
  in.Restart();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted));
  EXPECT_FALSE(sink.IsPaused());
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(restarts, 1);
  ASSERT_TRUE(RunUntil([&] { return sink.bytes.size() >= paused_at + 5 * 2048; }));

  // Buffers filled in one go wait for the GUI thread, which handles them all
  // without the clock moving on; the comparison below covers their order.
  WaitAndPump(30, true);
  const std::size_t before = sink.bytes.size();
  platform::VirtualClock::Advance(60);
  EXPECT_EQ(sink.bytes.size(), before);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sink.bytes.size() < before + 5 * 2048 && std::chrono::steady_clock::now() < deadline)
    WaitAndPump(5, true);
  EXPECT_GE(sink.bytes.size(), before + 5 * 2048);
  // The buffer being filled when the capture ends still reaches the chain:
  // the clock makes 1764 bytes per step, the buffers hold 2048.
  platform::VirtualClock::Advance(10);
  in.Close();
  EXPECT_EQ(sink.bytes.size() % 1764, 0u) << sink.bytes.size();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_FALSE(sink.IsOpened());
  EXPECT_TRUE(sink.on_gui);

  auto input = platform::ParseVirtualInput("Tone@1000:-6:-12");
  const auto* samples = reinterpret_cast<const std::int16_t*>(sink.bytes.data());
  std::size_t frames = sink.bytes.size() / 4;
  for (std::size_t n = 0; n < frames; ++n) {
    ASSERT_EQ(samples[2 * n], platform::VirtualSampleValue(input, 0, n, 44100, 16)) << n;
    ASSERT_EQ(samples[2 * n + 1], platform::VirtualSampleValue(input, 1, n, 44100, 16)) << n;
  }
}

TEST_F(WaveInTest, RecordingLimitDeliversExactBytesAndStopsAfterTheHandler) {
  TMMWaveIn in(nullptr);
  TSink sink(nullptr);
  Stereo16(in);
  in.SetOutput(&sink);
  in.SetTimeFormat(tfMillisecond);
  in.SetMaxRecordTime(1000);
  int stops = 0;
  bool stopped_inside_handler = false;
  in.OnStop = [&](TComponent*) {
    ++stops;
    stopped_inside_handler = sink.inside;
  };
  in.Start();
  EXPECT_EQ(in.MaxRecordBytes(), 176400);
  ASSERT_TRUE(RunUntil([&] { return stops > 0; }));
  // Further time delivers nothing more.
  RunFor(200);
  EXPECT_EQ(sink.bytes.size(), 176400u);
  EXPECT_EQ(stops, 1);
  EXPECT_FALSE(stopped_inside_handler);
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  in.Close();
}

TEST_F(WaveInTest, StopFromABufferHandlerAndPropertyChangesWhileCapturing) {
  TMMWaveIn in(nullptr);
  TSink sink(nullptr);
  Stereo16(in);
  in.SetOutput(&sink);
  std::vector<std::string> errors;
  int buffers = 0;
  int stops = 0;
  in.OnStop = [&](TComponent*) { ++stops; };
  in.OnBufferReady = [&](TComponent*, PWaveHdr) {
    ++buffers;
    if (buffers == 2) {
      try {
        in.SetDeviceID(1);
      } catch (const EMMWaveInError& e) {
        errors.push_back(e.what());
      }
    }
    if (buffers == 6) in.Stop();
  };
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return buffers >= 3; }));
  EXPECT_EQ(errors, std::vector<std::string>{"Change to property while device was open"});
  EXPECT_EQ(in.GetDeviceID(), 0);
  EXPECT_TRUE(in.DeviceState() & dsStarted);  // capture goes on

  ASSERT_TRUE(RunUntil([&] { return stops == 1; }));
  EXPECT_FALSE(in.DeviceState() & dsStarted);
  std::size_t after_stop = sink.bytes.size();
  RunFor(200);
  EXPECT_EQ(sink.bytes.size(), after_stop);
  // It can start again.
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.bytes.size() > after_stop; }));

  // A new Output while capturing stops the driver too: the next Start
  // records into the new chain.
  TSink other(nullptr);
  in.SetOutput(&other);
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  EXPECT_EQ(stops, 2);
  EXPECT_FALSE(sink.IsStarted());
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return other.bytes.size() >= 2 * 2048; }));

  // Close from inside the handler finishes once the handler has unwound.
  int closes = 0;
  bool closed_inside_handler = false;
  in.OnClose = [&](TComponent*) {
    ++closes;
    closed_inside_handler = other.inside;
  };
  in.OnBufferReady = [&](TComponent*, PWaveHdr) { in.Close(); };
  ASSERT_TRUE(RunUntil([&] { return closes == 1; }));
  EXPECT_FALSE(closed_inside_handler);
  EXPECT_EQ(stops, 3);
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_FALSE(other.IsOpened());
  const std::size_t after_close = other.bytes.size();
  RunFor(200);
  EXPECT_EQ(other.bytes.size(), after_close);
  EXPECT_EQ(closes, 1);

  // Paused before the start: the buffers are queued but nothing is recorded
  // until the restart.
  in.OnBufferReady = nullptr;
  in.Pause();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsPaused));
  in.Start();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted | dsPaused));
  RunFor(200);
  EXPECT_EQ(other.bytes.size(), after_close);
  in.Restart();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen | dsStarted));
  ASSERT_TRUE(RunUntil([&] { return other.bytes.size() >= after_close + 2 * 2048; }));

  // Chain notifications that reach the device run its own operations: a
  // Stopped stops the driver and the chain, a Closed closes the device.
  auto& as_component = static_cast<TMMDSPComponent&>(in);
  as_component.Stopped();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsOpen));
  EXPECT_EQ(stops, 4);
  EXPECT_FALSE(other.IsStarted());
  const std::size_t after_stopped = other.bytes.size();
  RunFor(200);
  EXPECT_EQ(other.bytes.size(), after_stopped);
  as_component.Closed();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_FALSE(other.IsOpened());
  EXPECT_EQ(closes, 2);
  in.Close();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
}

TEST_F(WaveInTest, ThreadModeHandlesBuffersOnTheWorkerThread) {
  TMMWaveIn in(nullptr);
  TSink sink(nullptr);
  Stereo16(in);
  in.SetCallBackMode(cmThread);
  in.SetOutput(&sink);
  std::atomic<int> buffers{0};
  in.OnBufferReady = [&](TComponent*, PWaveHdr) { ++buffers; };
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return buffers >= 4; }));
  EXPECT_FALSE(sink.on_gui);
  in.Close();
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));

  // Destroyed while the worker is inside buffer handling (and waits for the
  // GUI thread there): the handling ends before anything it uses goes.
  std::atomic<bool> inside{false}, left{false}, synchronized{false};
  auto* doomed = new TMMWaveIn(nullptr);
  Stereo16(*doomed);
  doomed->SetCallBackMode(cmThread);
  doomed->SetOutput(&sink);
  doomed->OnBufferReady = [&](TComponent*, PWaveHdr) {
    left = false;
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    CallSynchronized([&] { synchronized = platform::IsGuiThread(); });
    inside = false;
    left = true;
  };
  doomed->Start();
  ASSERT_TRUE(RunUntil([&] { return inside.load(); }));
  delete doomed;
  EXPECT_TRUE(left);
  EXPECT_TRUE(synchronized);
  EXPECT_FALSE(sink.IsOpened());

  // A worker thread that fails: the device is closed on the GUI thread, with
  // the chain's walks and the events there, and the error is reported once.
  TBoxes boxes;
  TFaultyWaveIn failing(nullptr);
  TMMConnector connector(nullptr);
  Stereo16(failing);
  failing.SetCallBackMode(cmThread);
  failing.SetOutput(&connector);
  std::atomic<int> errors{0};
  int stops = 0, closes = 0;
  bool events_on_gui = true;
  failing.OnError = [&](TComponent*) { ++errors; };
  failing.OnStop = [&](TComponent*) {
    ++stops;
    events_on_gui = events_on_gui && platform::IsGuiThread();
  };
  failing.OnClose = [&](TComponent*) {
    ++closes;
    events_on_gui = events_on_gui && platform::IsGuiThread();
  };
  // The ten buffers of the start go to the driver; the first one given back
  // fails.
  InjectFault(dcAddBuffer, MMSYSERR_NOMEM, 10);
  failing.Start();
  ASSERT_TRUE(RunUntil([&] { return closes == 1; }));
  EXPECT_EQ(boxes.texts, std::vector<std::string>{std::string("WaveInAddBuffer:") + kNoMemory});
  EXPECT_GE(errors, 1);
  EXPECT_EQ(stops, 1);
  EXPECT_TRUE(events_on_gui);
  EXPECT_EQ(failing.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_FALSE(connector.IsOpened());
  EXPECT_FALSE(connector.Running());
  EXPECT_EQ(TMMConnector::RunningCount(), 0);
  // The ended thread is no longer referred to.
  failing.SetPriority(tpLowest);
  ASSERT_TRUE(RunUntil([] { return DSPThreadCount() == 0; }));
  // It records again on a new worker.
  buffers = 0;
  failing.OnBufferReady = [&](TComponent*, PWaveHdr) { ++buffers; };
  failing.Start();
  EXPECT_EQ(DSPThreadCount(), 1);
  ASSERT_TRUE(RunUntil([&] { return buffers >= 4; }));
  failing.Close();
  EXPECT_EQ(closes, 2);
  EXPECT_EQ(boxes.texts.size(), 1u);
}

// Devices that vanish together: each row's chain stops, and its meters
// clear, before any of the error reports is shown.
TEST_F(WaveInTest, VanishingDevicesClearTheirMetersBeforeAnyReport) {
  ASSERT_TRUE(platform::SelectAudioBackend(
      "virtual:in=A@1000:-6:-6|B@1000:-6:-6|C@1000:-6:-6;out=Speakers"));
  struct TRow {
    TMMWaveIn in{nullptr};
    TMMConnector connector{nullptr};
    TMMLevel left{nullptr}, right{nullptr};
    int errors = 0;
  };
  std::vector<std::unique_ptr<TRow>> rows;
  for (int i = 0; i < 3; ++i) {
    auto row = std::make_unique<TRow>();
    row->left.SetMode(mStereo);
    row->left.SetChannel(chLeft);
    row->right.SetMode(mStereo);
    row->right.SetChannel(chRight);
    row->connector.SetLevel1(&row->left);
    row->connector.SetLevel2(&row->right);
    Stereo16(row->in);
    row->in.SetOutput(&row->connector);
    row->in.SetDeviceID(i);
    TRow* r = row.get();
    row->in.OnError = [r](TComponent*) { ++r->errors; };
    rows.push_back(std::move(row));
  }
  TBoxes boxes;
  std::vector<std::string> seen;
  boxes.on_box = [&] {
    std::string lit;
    for (auto& row : rows)
      lit += std::to_string(row->left.Level() + row->right.Level()) +
             (row->connector.IsStarted() ? "s " : "- ");
    seen.push_back(lit);
  };
  for (auto& row : rows) row->in.Start();
  ASSERT_TRUE(RunUntil([&] {
    for (auto& row : rows)
      if (row->left.Level() == 0 || row->right.Level() == 0) return false;
    return true;
  }));
  auto backend =
      std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
  ASSERT_NE(backend, nullptr);
  for (const char* id : {"in:0", "in:1", "in:2"}) backend->RemoveInput(id);
  ASSERT_TRUE(RunUntil([&] { return boxes.texts.size() == 3; }));
  RunFor(100);
  const std::string gone = "WaveInAddBuffer:\n\rNo audio driver is available for this device.";
  EXPECT_EQ(boxes.texts, std::vector<std::string>(3, gone));
  EXPECT_EQ(seen, std::vector<std::string>(3, "0- 0- 0- "));
  for (auto& row : rows) {
    EXPECT_EQ(row->in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
    EXPECT_GE(row->errors, 1);
  }
}

std::string OpenError(TMMCustomWaveIn& in) {
  try {
    in.Start();
  } catch (const EMMWaveInError& e) {
    return e.what();
  }
  return "no error";
}

TEST_F(WaveInTest, RefusalsLeaveTheDeviceClosedWithTheExactText) {
  TPickyWaveIn picky(nullptr);
  picky.SetMode(mStereo);
  picky.SetBitLength(b16Bit);
  picky.SetSampleRate(44100);
  int errors = 0;
  picky.OnError = [&](TComponent*) { ++errors; };
  EXPECT_EQ(OpenError(picky), "WaveInOpen:\n\rThe actual device can''t record this format");
  EXPECT_EQ(picky.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_GE(errors, 1);
  // Rates outside the standard families are left to the driver.
  picky.SetSampleRate(96000);
  EXPECT_TRUE(picky.QueryFormat(0, picky.GetPWaveFormat()));
  EXPECT_FALSE(picky.QueryFormat(2, picky.GetPWaveFormat()));

  TMMWaveIn invalid(nullptr);
  invalid.SetDeviceID(7);
  EXPECT_EQ(OpenError(invalid), "Invalid DeviceID");

  // Each guarded step that the driver fails reports the call, fires OnError
  // and leaves the device and its chain closed.
  TFaultyWaveIn faulty(nullptr);
  TSink sink(nullptr);
  Stereo16(faulty);
  faulty.SetOutput(&sink);
  errors = 0;
  faulty.OnError = [&](TComponent*) { ++errors; };
  const std::string nomem = kNoMemory;
  auto failure = [&](TDriverCall call, int skip, const std::function<void()>& step,
                     MMRESULT result = MMSYSERR_NOMEM) {
    InjectFault(call, result, skip);
    errors = 0;
    std::string text = "no error";
    try {
      step();
    } catch (const EMMWaveInError& e) {
      text = e.what();
    }
    EXPECT_EQ(fault_call, dcNone) << text;
    EXPECT_GE(errors, 1) << text;
    EXPECT_EQ(faulty.DeviceState(), static_cast<std::uint32_t>(dsClosed)) << text;
    EXPECT_FALSE(sink.IsOpened()) << text;
    return text;
  };
  auto start = [&] { faulty.Start(); };
  EXPECT_EQ(failure(dcOpen, 0, start), "WaveInOpen:" + nomem);
  EXPECT_EQ(failure(dcPrepare, 3, start), "WaveInPrepareHeader:" + nomem);
  EXPECT_EQ(failure(dcAddBuffer, 9, start), "WaveInAddBuffer:" + nomem);
  EXPECT_EQ(failure(dcStart, 0, start), "WaveInStart:" + nomem);
  faulty.Start();
  EXPECT_EQ(failure(dcStop, 0, [&] { faulty.Pause(); }), "WaveInPause:" + nomem);
  faulty.Start();
  faulty.Pause();
  EXPECT_EQ(failure(dcStart, 0, [&] { faulty.Restart(); }), "WaveInRestart:" + nomem);
  faulty.Start();
  EXPECT_EQ(failure(dcReset, 0, [&] { faulty.Stop(); }), "WaveInReset:" + nomem);
  // A code the platform has no text for.
  faulty.Start();
  EXPECT_EQ(failure(
                dcStop, 0, [&] { faulty.Stop(); }, 0x7777),
            "WaveInStop:\n\rSpecified error number is out of range (unknown error)");
  // An open the driver never confirms.
  EXPECT_EQ(failure(dcSilentOpen, 0, start), "WaveInOpen:\n\rUnable to open device");

  // Close never raises: a refused close leaves the device open, to be closed
  // by the next Close.
  faulty.Start();
  for (TDriverCall call : {dcUnprepare, dcClose}) {
    InjectFault(call, MMSYSERR_NOMEM);
    errors = 0;
    EXPECT_NO_THROW(faulty.Close());
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(faulty.IsOpen());
  }
  faulty.Close();
  EXPECT_EQ(faulty.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_FALSE(sink.IsOpened());
  // A close the driver made whose notice never came is told of, and the
  // device counts as closed all the same.
  faulty.Start();
  InjectFault(dcUnnoticedClose, MMSYSERR_NOERROR);
  errors = 0;
  faulty.Close();
  EXPECT_EQ(fault_call, dcNone);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(faulty.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  // Nothing half-open stays behind: it records again.
  faulty.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.bytes.size() >= 2048; }));
  faulty.Close();

  ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=;out="));
  TMMWaveIn none(nullptr);
  EXPECT_EQ(OpenError(none), "No wave audio recording device found");
  EXPECT_EQ(none.DeviceState(), static_cast<std::uint32_t>(dsClosed));
}

TEST_F(WaveInTest, PropertiesClampAndKeepTheirRules) {
  TMMWaveIn in(nullptr);
  EXPECT_EQ(in.GetNumBuffers(), 10);
  in.SetNumBuffers(1);
  EXPECT_EQ(in.GetNumBuffers(), 10);
  in.SetNumBuffers(5000);
  EXPECT_EQ(in.GetNumBuffers(), 4096);
  in.SetChannels(12);
  EXPECT_EQ(in.GetChannels(), 8);
  EXPECT_EQ(in.GetMode(), mMultiChannel);
  in.SetMode(mMultiChannel);
  EXPECT_EQ(in.GetChannels(), 8);
  in.SetSampleRate(200000);
  EXPECT_EQ(in.GetSampleRate(), 100000);
  in.SetBufferSize(10);
  EXPECT_EQ(in.GetBufferSize(), 32);
  // The format follows the properties down the chain at once.
  TSink sink(nullptr);
  in.SetOutput(&sink);
  in.SetMode(mStereo);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(44100);
  ASSERT_NE(sink.GetPWaveFormat(), nullptr);
  EXPECT_EQ(sink.GetPWaveFormat()->nAvgBytesPerSec, 176400u);

  // The limit in other units.
  in.SetTimeFormat(tfSample);
  in.SetMaxRecordTime(44100);
  EXPECT_EQ(in.MaxRecordBytes(), 176400);
  in.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(in.GetMaxRecordTime(), 1000);
  in.SetMaxRecordTime(0);
  EXPECT_EQ(in.MaxRecordBytes(), 0);  // 0 records without a limit

  std::vector<std::string> boxes;
  platform::SetMessageBoxHook([&](const std::string& text, const std::string& caption, UINT) {
    boxes.push_back(caption + "|" + text);
    return IDOK;
  });
  in.SetCallBackMode(cmCallback);
  platform::SetMessageBoxHook(nullptr);
  EXPECT_EQ(in.GetCallBackMode(), cmWindow);
  EXPECT_EQ(boxes, std::vector<std::string>{
                       "TMMWaveIn|\"CallBacks\" are called at interrupt time !\n\rThis is "
                       "currently only supported under Windows 95"});
}

}  // namespace
