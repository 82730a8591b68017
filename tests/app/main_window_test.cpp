#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/app_classes.h"
#include "app/placement_store.h"
#include "app/window_placement.h"
#include "files/wave_io.h"
#include "platform/audio/audio_backend.h"
#include "platform/audio/virtual/virtual_backend.h"
#include "platform/framework/application.h"
#include "platform/framework/properties.h"
#include "platform/messages/messages.h"
#include "platform/mmtimer/mmtimer.h"
#include "tests/support/isolated_store.h"

namespace {

std::string VirtualInputs(int n) {
  std::string selection = "virtual:in=";
  for (int i = 1; i <= n; ++i)
    selection += (i > 1 ? "|" : "") + std::string("Input ") + std::to_string(i) + "@440:-6:-6";
  return selection + ";out=Speakers|Headset";
}

// The window tests run on a desktop of two screens side by side: 1600 × 1000
// and, right of it, 1280 × 1024. The off-screen platform reads them from a
// file named before the toolkit starts. (On Windows the tests' X server has
// the left one only.)
class TwoScreens : public ::testing::Environment {
 public:
  void SetUp() override {
    file_ = std::filesystem::temp_directory_path() /
            ("tessaline-screens-" + std::to_string(::getpid()) + ".json");
    std::ofstream(file_) << R"({"screens": [
      {"name": "left", "x": 0, "y": 0, "width": 1600, "height": 1000},
      {"name": "right", "x": 1600, "y": 0, "width": 1280, "height": 1024}]})";
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + file_.string()).c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove(file_); }

 private:
  std::filesystem::path file_;
};
const auto* const two_screens = ::testing::AddGlobalTestEnvironment(new TwoScreens);

std::string VirtualOutputs(int n) {
  std::string selection = "virtual:in=;out=";
  for (int i = 1; i <= n; ++i)
    selection += std::string(i > 1 ? "|" : "") + "Output " + std::to_string(i);
  return selection;
}

using Bytes = std::vector<std::uint8_t>;

bool Sounding(const Bytes& bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; });
}

// The PCM of the test sound beside the test program, where the window finds
// it.
Bytes TestSoundPcm() {
  PWaveIOBlock block = nullptr;
  const std::string path = Application->ExeDir() + "YesLR.wav";
  if (WaveOpen(block, path.c_str(), FOURCC_WAVE, wioRead) != 0) return {};
  Bytes pcm(static_cast<std::size_t>(block->DataSamples) * block->Format.nBlockAlign);
  const auto bytes = static_cast<std::int32_t>(pcm.size());
  if (WaveReopen(block) != 0 || WaveRead(block, pcm.data(), bytes) != bytes) pcm.clear();
  WaveFree(block);
  return pcm;
}

// Where in `pcm` the first `n` bytes of `played` lie, looked for at whole
// frames of 4 bytes within one buffer of 8196 bytes either side of `near`;
// pcm.size() when nowhere there.
std::size_t ContinuesAt(const Bytes& pcm, const Bytes& played, std::size_t near, std::size_t n) {
  if (played.size() < n) return pcm.size();
  const std::size_t from = near > 8196 ? (near - 8196) / 4 * 4 : 0;
  for (std::size_t at = from; at <= near + 8196 && at + n <= pcm.size(); at += 4)
    if (std::equal(played.begin(), played.begin() + static_cast<std::ptrdiff_t>(n),
                   pcm.begin() + static_cast<std::ptrdiff_t>(at)))
      return at;
  return pcm.size();
}

// Writes a wave file of IEEE float samples: `frames` frames of a 440 Hz sine
// at half scale on every channel.
void WriteFloatWave(const std::string& path, int channels, std::uint32_t rate,
                    std::uint32_t frames) {
  const auto le = [](Bytes& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const std::uint32_t block = static_cast<std::uint32_t>(channels) * 4;
  const std::uint32_t data = frames * block;
  Bytes file = {'R', 'I', 'F', 'F'};
  le(file, 4 + 8 + 16 + 8 + data, 4);
  for (char c : std::string("WAVEfmt ")) file.push_back(static_cast<std::uint8_t>(c));
  le(file, 16, 4);
  le(file, 3, 2);  // IEEE float
  le(file, static_cast<std::uint32_t>(channels), 2);
  le(file, rate, 4);
  le(file, rate * block, 4);
  le(file, block, 2);
  le(file, 32, 2);
  for (char c : std::string("data")) file.push_back(static_cast<std::uint8_t>(c));
  le(file, data, 4);
  for (std::uint32_t n = 0; n < frames; ++n) {
    const float v = 0.5f * static_cast<float>(std::sin(2 * 3.141592653589793 * 440 * n / rate));
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    for (int c = 0; c < channels; ++c) le(file, bits, 4);
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

// Virtual devices whose input `refusing` records no 44100 Hz 16-bit stereo and
// whose output `refusing_output` plays nothing.
class RefusingBackend : public platform::AudioBackend {
 public:
  RefusingBackend(const std::string& devices, std::string refusing,
                  std::string refusing_output = "")
      : inner_(platform::CreateAudioBackend(devices, nullptr)),
        refusing_(std::move(refusing)),
        refusing_output_(std::move(refusing_output)) {}
  platform::VirtualAudioBackend* Inner() const {
    return dynamic_cast<platform::VirtualAudioBackend*>(inner_.get());
  }
  std::string Name() const override { return "refusing"; }
  std::vector<platform::AudioEndpoint> Endpoints(platform::AudioDirection direction) override {
    return inner_->Endpoints(direction);
  }
  std::unique_ptr<platform::CaptureStream> OpenCapture(const std::string& endpoint_id,
                                                       const platform::PcmFormat& format,
                                                       std::size_t chunk,
                                                       platform::CaptureCallbacks callbacks,
                                                       std::string* reason) override {
    if (endpoint_id == refusing_ && format.rate == 44100 && format.bits == 16 &&
        format.channels == 2) {
      if (reason) *reason = "format not supported";
      return nullptr;
    }
    return inner_->OpenCapture(endpoint_id, format, chunk, std::move(callbacks), reason);
  }
  std::unique_ptr<platform::PlaybackStream> OpenPlayback(const std::string& endpoint_id,
                                                         const platform::PcmFormat& format,
                                                         const platform::PlaybackOptions& options,
                                                         platform::PlaybackCallbacks callbacks,
                                                         std::string* reason) override {
    if (endpoint_id == refusing_output_) {
      if (reason) *reason = "device busy";
      return nullptr;
    }
    return inner_->OpenPlayback(endpoint_id, format, options, std::move(callbacks), reason);
  }

 private:
  std::unique_ptr<platform::AudioBackend> inner_;
  std::string refusing_, refusing_output_;
};

// Pumps until the condition holds (at most 10 s); true when it did.
bool PumpUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    WaitAndPump(10, true);
  }
  return true;
}

bool Near(int value, int want) {
  return value >= want - 1 && value <= want + 1;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    RegisterAppClasses();
    config_ =
        std::filesystem::temp_directory_path() / ("tessaline-window-" + std::to_string(::getpid()));
    std::filesystem::remove_all(config_);
    ASSERT_TRUE(test_support::IsolateStore(config_));
    platform::SetMessageBoxHook([this](const std::string& text, const std::string&, UINT) {
      messages_.push_back(text);
      return IDOK;
    });
  }
  void TearDown() override {
    platform::SetMessageBoxHook(nullptr);
    platform::VirtualClock::SetManual(false);
    platform::SelectAudioBackend("virtual");
    test_support::EndIsolatedStore();
    std::filesystem::remove_all(config_);
  }
  std::unique_ptr<TForm1> Open(const std::string& audio) {
    EXPECT_TRUE(platform::SelectAudioBackend(audio));
    return Show();
  }
  std::unique_ptr<TForm1> Open(std::shared_ptr<platform::AudioBackend> backend) {
    platform::UseAudioBackend(std::move(backend));
    return Show();
  }
  std::unique_ptr<TForm1> Show() {
    auto form = std::make_unique<TForm1>(nullptr);
    form->Show();  // runs FormShow
    return form;
  }
  std::filesystem::path config_;
  std::vector<std::string> messages_;
};

TEST_F(MainWindowTest, LayoutPlacesTheWindowAndItsControls) {
  auto form = Open("virtual:in=;out=");
  EXPECT_EQ(form->GetCaption(), "TESSALINE AUDIO DRIVER");
  EXPECT_EQ(form->GetClientWidth(), 719);
  EXPECT_EQ(form->GetClientHeight(), 775);
  EXPECT_EQ(form->GetLeft(), 723);
  EXPECT_EQ(form->GetTop(), 129);
  EXPECT_EQ(form->GetBorderStyle(), bsToolWindow);
  EXPECT_EQ(form->GetBorderIcons(), 0u);
  EXPECT_EQ(form->Image1->GetLeft(), -8);
  EXPECT_EQ(form->Image1->PictureWidth(), 749);
  EXPECT_EQ(form->Image1->PictureHeight(), 779);
  EXPECT_EQ(form->Button[8]->GetTop(), 620);
  EXPECT_EQ(form->Button[0]->PictureWidth(), 45);
  EXPECT_EQ(form->btn_close->GetLeft(), 384);
  EXPECT_EQ(form->Lab[3]->GetTop(), 303);
  EXPECT_EQ(form->Lab[12]->GetLeft(), 386);
  EXPECT_EQ(form->Label1->Font().Color, RGB(255, 128, 0));
  EXPECT_EQ(form->Lab[0]->Font().Color, RGB(253, 196, 108));
  EXPECT_EQ(form->Lab[0]->Font().Height, -13);
  EXPECT_EQ(form->Bevel3->GetStyle(), bsRaised);

  // Every meter's settings, read back from the live meters.
  const std::pair<const char*, const char*> meter_settings[] = {
      {"Bevel.BevelInner", "bvNone"},
      {"Bevel.BevelOuter", "bvLowered"},
      {"Bevel.BevelInnerWidth", "1"},
      {"Bevel.BevelOuterWidth", "1"},
      {"Bevel.BorderStyle", "bsNone"},
      {"Bevel.BorderWidth", "0"},
      {"Bevel.BorderSpace", "0"},
      {"Bevel.BorderColor", "clBtnFace"},
      {"Bevel.BorderSpaceColor", "clBlack"},
      {"Bevel.InnerLightColor", "clBtnHighlight"},
      {"Bevel.OuterLightColor", "clBtnHighlight"},
      {"Bevel.InnerShadowColor", "clBtnShadow"},
      {"Bevel.OuterShadowColor", "clBtnShadow"},
      {"Bar1Color", "clSilver"},
      {"Bar2Color", "clSilver"},
      {"Bar3Color", "clRed"},
      {"Inactive1Color", "clBlack"},
      {"Inactive2Color", "clBlack"},
      {"Inactive3Color", "clBlack"},
      {"Point1", "50"},
      {"Point2", "95"},
      {"BitLength", "b16Bit"},
      {"Mode", "mStereo"},
      {"Sensitivy", "-72"},
      {"LogAmp", "False"},
      {"NumPeaks", "2"},
      {"PeakDelay", "50"},
      {"PeakSpeed", "1"},
      {"DecayMode", "dmStepUp"},
      {"Decay", "10"},
      {"Tag2", "0"},
      {"Width", "241"},
  };
  // Row geometry: left meter top, right meter top, input meter height.
  const int rows[9][3] = {{88, 118, 9},  {160, 190, 9}, {224, 254, 9}, {291, 321, 8}, {357, 387, 8},
                          {426, 456, 8}, {490, 520, 8}, {554, 584, 8}, {620, 650, 8}};
  for (int m = 0; m < 36; ++m) {
    const TMMLevel& meter = *form->MMLevel[static_cast<std::size_t>(m)];
    for (const auto& [property, value] : meter_settings)
      EXPECT_EQ(ReadPropertyText(meter, property), value) << meter.GetName() << "." << property;
    const bool input = m < 18, left = m % 2 == 0;
    const int* row = rows[(m % 18) / 2];
    EXPECT_EQ(ReadPropertyText(meter, "Channel"), left ? "chLeft" : "chRight") << m;
    EXPECT_EQ(meter.GetLeft(), input ? 69 : 386) << m;
    EXPECT_EQ(meter.GetTop(), left ? row[0] : row[1]) << m;
    EXPECT_EQ(meter.GetHeight(), input ? row[2] : 9) << m;
  }
  // Every capture chain: In k -> MMConnector k -> left and right meter of row k
  // (In10 -> MMConnector10, without meters), with their formats.
  for (std::size_t k = 0; k < 10; ++k) {
    const TMMWaveIn& in = *form->In[k];
    const TMMConnector& connector = *form->MMConnector[k];
    EXPECT_EQ(GetComponentProperty(in, "Output"), &connector) << k;
    EXPECT_EQ(GetComponentProperty(connector, "Input"), &in) << k;
    EXPECT_EQ(GetComponentProperty(connector, "Level1"), k < 9 ? form->MMLevel[2 * k] : nullptr);
    EXPECT_EQ(GetComponentProperty(connector, "Level2"),
              k < 9 ? form->MMLevel[2 * k + 1] : nullptr);
    EXPECT_EQ(ReadPropertyText(connector, "TriggerMode"), "tmDownFlank") << k;
    EXPECT_EQ(ReadPropertyText(connector, "EnterIdle"), "False") << k;
    EXPECT_EQ(ReadPropertyText(in, "DeviceID"), "MapperId") << k;
    EXPECT_EQ(ReadPropertyText(in, "Mode"), "mStereo") << k;
    EXPECT_EQ(ReadPropertyText(in, "Channels"), "2") << k;
    EXPECT_EQ(ReadPropertyText(in, "BitLength"), k < 9 ? "b16Bit" : "b8Bit") << k;
    EXPECT_EQ(ReadPropertyText(in, "SampleRate"), k < 9 ? "44100" : "11025") << k;
    EXPECT_EQ(ReadPropertyText(in, "BufferSize"), "2048") << k;
    EXPECT_EQ(ReadPropertyText(in, "NumBuffers"), "10") << k;
    EXPECT_EQ(ReadPropertyText(in, "CallBackMode"), "cmWindow") << k;
  }
}

TEST_F(MainWindowTest, NoInputsShowsZeroAndLeavesTheRowsUntouched) {
  auto form = Open("virtual:in=;out=");
  // A count of no devices reads 0, not the layout's placeholder 10.
  EXPECT_EQ(form->Label1->GetCaption(), "0");
  EXPECT_EQ(form->Label2->GetCaption(), "0");
  EXPECT_EQ(form->Lab[0]->GetCaption(), "_____");
  EXPECT_EQ(form->Lab[9]->GetCaption(), "____");
  for (TMMWaveIn* in : form->In) EXPECT_EQ(in->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_TRUE(messages_.empty());

  // A device that cannot record 44100 Hz 16-bit stereo leaves its row still,
  // without a message; the rows around it run.
  form.reset();
  form = Open(std::make_shared<RefusingBackend>(
      "virtual:in=Mic A@440:-6:-6|Odd Mic@440:-6:-6|Mic C@440:-6:-6;out=", "in:1"));
  EXPECT_EQ(form->Lab[1]->GetCaption(), "Odd Mic");
  EXPECT_TRUE(form->In[0]->DeviceState() & dsStarted);
  EXPECT_EQ(form->In[1]->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_TRUE(form->In[2]->DeviceState() & dsStarted);
  EXPECT_TRUE(PumpUntil([&] { return form->MMLevel[4]->Level() > 0; }));
  EXPECT_EQ(form->MMLevel[2]->Level(), 0);
  EXPECT_EQ(form->MMLevel[3]->Level(), 0);
  EXPECT_TRUE(messages_.empty()) << messages_.front();
}

TEST_F(MainWindowTest, ThreeInputsFillTheirRows) {
  auto form = Open(VirtualInputs(3));
  EXPECT_EQ(form->Label1->GetCaption(), "3");
  EXPECT_EQ(form->Label2->GetCaption(), "2");
  EXPECT_EQ(form->Lab[0]->GetCaption(), "Input 1");
  EXPECT_EQ(form->Lab[2]->GetCaption(), "Input 3");
  EXPECT_EQ(form->Lab[3]->GetCaption(), "_____");
  EXPECT_EQ(form->Lab[9]->GetCaption(), "Speakers");
  EXPECT_EQ(form->Lab[10]->GetCaption(), "Headset");
  EXPECT_EQ(form->Lab[11]->GetCaption(), "____");
}

TEST_F(MainWindowTest, InputRowsCaptureTheirOwnDevicesAndRefreshLeavesThemRunning) {
  // Each left meter follows its left channel and each right meter its right
  // one: -6 dBFS lights 60 of the 120 spots, -20 dBFS 12, -3 dBFS 85.
  auto form =
      Open("virtual:in=Mic A@440:-6:-20|Mic B@440:-20:-6|Mic C@440:-20:-20|Mic D@440:-3:-3;out=");
  for (int k = 0; k < 4; ++k) {
    EXPECT_TRUE(form->In[k]->DeviceState() & dsStarted) << k;
    EXPECT_EQ(form->In[k]->GetDeviceID(), k);
  }
  EXPECT_EQ(form->In[4]->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  const auto meters_read = [&](std::vector<int> want) {
    return PumpUntil([&] {
      for (std::size_t m = 0; m < want.size(); ++m)
        if (!Near(form->MMLevel[m]->Level(), want[m])) return false;
      return true;
    });
  };
  const auto levels = [&] {
    std::string text;
    for (std::size_t m = 0; m < 10; ++m) text += std::to_string(form->MMLevel[m]->Level()) + " ";
    return text;
  };
  EXPECT_TRUE(meters_read({60, 12, 12, 60, 12, 12, 85, 85, 0, 0})) << levels();

  // A refresh with the same devices changes nothing: no row closes or opens.
  int reopened = 0;
  for (TMMWaveIn* in : form->In) in->OnOpen = [&](TComponent*) { ++reopened; };
  auto* first = form->In[0];
  form->btn_refresh->Click();
  EXPECT_EQ(form->In[0], first);
  EXPECT_EQ(reopened, 0);
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(form->In[k]->DeviceState() & dsStarted) << k;

  // A row left open but still, on the same device, records again after a
  // refresh.
  form->In[0]->Stop();
  ASSERT_TRUE(form->In[0]->IsOpen());
  ASSERT_FALSE(form->In[0]->DeviceState() & dsStarted);
  form->btn_refresh->Click();
  EXPECT_EQ(reopened, 1);
  EXPECT_TRUE(form->In[0]->DeviceState() & dsStarted);
  EXPECT_TRUE(meters_read({60, 12, 12, 60, 12, 12, 85, 85, 0, 0})) << levels();
  reopened = 0;

  // Mic B is unplugged: after a refresh every row meters the device its label
  // names. Row 1 runs on untouched, row 2 now records Mic C and row 3 Mic D;
  // row 4 has no device any more and stays still.
  auto backend =
      std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
  ASSERT_NE(backend, nullptr);
  backend->RemoveInput("in:1");
  EXPECT_TRUE(PumpUntil([&] { return !form->In[1]->IsOpen(); }));
  form->btn_refresh->Click();
  EXPECT_EQ(form->Lab[1]->GetCaption(), "Mic C");
  EXPECT_EQ(form->Lab[2]->GetCaption(), "Mic D");
  EXPECT_EQ(form->Lab[3]->GetCaption(), "");
  EXPECT_EQ(reopened, 2);  // rows 2 and 3
  EXPECT_TRUE(form->In[0]->DeviceState() & dsStarted);
  EXPECT_TRUE(form->In[1]->DeviceState() & dsStarted);
  EXPECT_TRUE(form->In[2]->DeviceState() & dsStarted);
  EXPECT_EQ(form->In[3]->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_TRUE(meters_read({60, 12, 12, 12, 85, 85, 0, 0})) << levels();
}

// Every device going at once (the sound server stopped) while nine inputs
// record and a row plays: each component closes, and the window says so once. After the window
// has looked again a new loss is news.
TEST_F(MainWindowTest, DevicesLostTogetherMakeOneMessageUntilTheWindowLooksAgain) {
  auto form = Open(VirtualInputs(9));
  auto backend =
      std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
  ASSERT_NE(backend, nullptr);
  TMMAudioPlayer* player = form->MMAudioPlayer1;
  form->Button[0]->Click();
  ASSERT_TRUE(PumpUntil([&] { return Sounding(backend->Played("out:0")); }));
  for (int k = 0; k < 9; ++k) ASSERT_TRUE(form->In[k]->DeviceState() & dsStarted) << k;

  for (int k = 0; k < 9; ++k) backend->RemoveInput("in:" + std::to_string(k));
  backend->RemoveOutput("out:0");
  backend->RemoveOutput("out:1");
  EXPECT_TRUE(PumpUntil([&] {
    return player->DeviceState() == static_cast<std::uint32_t>(dsClosed) &&
           std::none_of(form->In.begin(), form->In.end(),
                        [](TMMWaveIn* in) { return in->DeviceState() != dsClosed; });
  })) <<
      [&] {
        std::string states = std::to_string(player->DeviceState());
        for (TMMWaveIn* in : form->In) states += " " + std::to_string(in->DeviceState());
        return states + " " + std::to_string(messages_.size());
      }();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].rfind("WaveIn", 0) == 0 || messages_[0].rfind("DSWaveOut", 0) == 0)
      << messages_[0];

  // The output is back and the window looks again: its loss is reported anew,
  // and a refresh while nothing fails says nothing.
  backend->PlugOutput("out:0");
  form->btn_refresh->Click();
  form->Button[0]->Click();
  ASSERT_TRUE(PumpUntil([&] { return (player->DeviceState() & dsStarted) != 0; }));
  backend->RemoveOutput("out:0");
  EXPECT_TRUE(
      PumpUntil([&] { return player->DeviceState() == static_cast<std::uint32_t>(dsClosed); }));
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1].rfind("DSWaveOut", 0), 0u) << messages_[1];

  // Other errors are never folded into a loss.
  platform::ShowException(std::runtime_error("not a device"));
  EXPECT_EQ(messages_.back(), "not a device");
}

TEST_F(MainWindowTest, TwelveInputsShowNineRowsAndRefreshKeepsTheCount) {
  auto form = Open(VirtualInputs(12));
  EXPECT_EQ(form->Label1->GetCaption(), "12");
  EXPECT_EQ(form->Lab[8]->GetCaption(), "Input 9");
  EXPECT_EQ(form->Lab[9]->GetCaption(), "Speakers");  // not Input 10

  // A refresh reads the names again but keeps the counts taken at start.
  platform::SelectAudioBackend("virtual:in=Renamed|Other;out=Speakers|Headset");
  form->btn_refresh->Click();
  EXPECT_EQ(form->Label1->GetCaption(), "12");
  EXPECT_EQ(form->Lab[0]->GetCaption(), "Renamed");
  EXPECT_EQ(form->Lab[1]->GetCaption(), "Other");
  EXPECT_EQ(form->Lab[2]->GetCaption(), "");  // no such device any more
}

TEST_F(MainWindowTest, PlacementRoundTrip) {
  {
    auto form = Open(VirtualInputs(1));
    form->SetBounds(100, 50, 735, 814);
    form->btn_close->Click();
    EXPECT_FALSE(form->GetVisible());
  }
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", 0).AsInteger(), 735);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "hei", 0).AsInteger(), 814);
  {
    auto form = Open(VirtualInputs(1));
    EXPECT_EQ(form->GetLeft(),
              ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", -1).AsInteger());
    EXPECT_EQ(form->GetTop(),
              ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", -1).AsInteger());
  }
  // A "top" stored as text is ignored, the other values still apply; sizes
  // are limited by the window's maximum size.
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", TVariant("40"));
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", 77);
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", 5000);
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "hei", 790);
  {
    auto form = Open(VirtualInputs(1));
    EXPECT_EQ(form->GetTop(), 129);
    EXPECT_EQ(form->GetLeft(), 77);
    EXPECT_EQ(form->GetWidth(), 735);
    EXPECT_EQ(form->GetHeight(), 790);
  }

  // A placement that would cut the window, or put its close button on no
  // screen, gives way to the layout's; the store keeps it until a close.
  const auto placed = [&](int top, int left, int wide, int hei) {
    WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", top);
    WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", left);
    WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", wide);
    WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "hei", hei);
    auto form = Open(VirtualInputs(1));
    return TWindowPlacement{form->GetTop(), form->GetLeft(), form->GetWidth(), form->GetHeight()};
  };
  EXPECT_EQ(placed(10, 20, 718, 774), (TWindowPlacement{10, 20, 735, 814}));
  EXPECT_EQ(placed(10, 20, 100, 900), (TWindowPlacement{10, 20, 735, 814}));
  EXPECT_EQ(placed(10, 20, 719, 775), (TWindowPlacement{10, 20, 719, 775}));
  // Places on the right screen are used where the desktop has it.
  const bool right_screen = ScreenRects().size() > 1;
  const TWindowPlacement layout{129, 723, 735, 814};
  EXPECT_EQ(placed(40, 1700, 735, 814),
            (right_screen ? TWindowPlacement{40, 1700, 735, 814} : layout));
  EXPECT_EQ(placed(40, 3000, 735, 814), (TWindowPlacement{129, 723, 735, 814}));
  EXPECT_EQ(placed(-800, 20, 735, 814), (TWindowPlacement{129, 723, 735, 814}));
  EXPECT_EQ(placed(200, -600, 735, 814), (TWindowPlacement{129, 723, 735, 814}));
  // The close button's centre lies 743 pixels below the top: at y 1013 only
  // the right screen reaches down.
  EXPECT_EQ(placed(270, 500, 735, 814), (TWindowPlacement{129, 723, 735, 814}));
  EXPECT_EQ(placed(270, 1200, 735, 814),
            (right_screen ? TWindowPlacement{270, 1200, 735, 814} : layout));
  {
    // Closing writes where the window really is.
    placed(3000, 3000, 10, 10);
    auto form = Open(VirtualInputs(1));
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", 0).AsInteger(), 10);
    form->btn_close->Click();
  }
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", 0).AsInteger(), 723);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", 0).AsInteger(), 129);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", 0).AsInteger(), 735);
}

TEST_F(MainWindowTest, EachPlayButtonPlaysTheTestSoundOnItsOwnRowsDevice) {
  for (int n : {0, 3, 12}) {
    SCOPED_TRACE(n);
    auto form = Open(VirtualOutputs(n));
    auto backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    ASSERT_NE(backend, nullptr);
    TMMAudioPlayer* player = form->MMAudioPlayer1;
    TMMConnector* connector = form->MMConnector[10];
    // The layout's player, with the test sound beside the program.
    EXPECT_EQ(player->GetFileName(), Application->ExeDir() + "YesLR.wav");
    EXPECT_FALSE(player->AudioFile()->IsEmpty());
    EXPECT_TRUE(player->GetUseDSound());
    EXPECT_EQ(player->GetBufferSize(), 8196);
    EXPECT_EQ(player->GetNumBuffers(), 10);
    EXPECT_EQ(player->GetCallBackMode(), cmWindow);
    EXPECT_EQ(player->GetDeviceID(), InvalidId);
    EXPECT_EQ(player->GetOutput(), connector);
    EXPECT_EQ(connector->GetInput(), player);
    EXPECT_EQ(connector->GetLevel1(), form->MMLevel[18]);
    EXPECT_EQ(connector->GetLevel2(), form->MMLevel[19]);

    for (int k = 1; k <= 9; ++k) {
      SCOPED_TRACE(k);
      // Each row here starts the sound from its beginning (a press otherwise
      // goes on from what was heard, which the next tests follow).
      if (k <= n) {
        player->Stop();
        player->SetPosition(0);
      }
      form->Button[static_cast<std::size_t>(k - 1)]->Click();
      if (k > n) {
        // No device: nothing changes, a sound playing on goes on.
        EXPECT_EQ(player->GetDeviceID(), n == 0 ? InvalidId : n);
        EXPECT_EQ(player->DeviceState() != dsClosed, n > 0);
        continue;
      }
      EXPECT_EQ(player->GetDeviceID(), k);
      EXPECT_TRUE(player->DeviceState() & dsStarted);
      EXPECT_EQ(connector->GetLevel1(), form->MMLevel[static_cast<std::size_t>(16 + 2 * k)]);
      EXPECT_EQ(connector->GetLevel2(), form->MMLevel[static_cast<std::size_t>(17 + 2 * k)]);
      // The row's meters light ("left" or "right", as far as the sound has got).
      EXPECT_TRUE(PumpUntil([&] {
        return form->MMLevel[static_cast<std::size_t>(16 + 2 * k)]->Level() > 0 ||
               form->MMLevel[static_cast<std::size_t>(17 + 2 * k)]->Level() > 0;
      }));
      // The meters follow the output's timers, and a busy machine may run
      // those ahead of the device's own thread: its sound is waited for too.
      EXPECT_TRUE(
          PumpUntil([&] { return Sounding(backend->Played("out:" + std::to_string(k - 1))); }));
    }
    // Each row's own device played, and no other.
    for (int j = 0; j < n; ++j)
      EXPECT_EQ(Sounding(backend->Played("out:" + std::to_string(j))), j < 9) << j;
    EXPECT_TRUE(messages_.empty());
  }
}

TEST_F(MainWindowTest, APressMovesTheSoundAndItsMetersWhichClearWhenItEnds) {
  const Bytes pcm = TestSoundPcm();
  ASSERT_GT(pcm.size(), 100000u);
  auto form = Open(VirtualOutputs(3));
  auto backend =
      std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
  ASSERT_NE(backend, nullptr);
  TMMAudioPlayer* player = form->MMAudioPlayer1;
  const auto lit = [&](std::size_t meter) { return form->MMLevel[meter]->Level() > 0; };

  form->Button[0]->Click();
  ASSERT_TRUE(PumpUntil([&] { return lit(18); }));
  // On row 2 the sound goes on from what row 1 heard; row 1's meters are
  // cleared at once.
  form->Button[1]->Click();
  EXPECT_EQ(form->MMLevel[18]->Level(), 0);
  EXPECT_EQ(form->MMLevel[19]->Level(), 0);
  const Bytes first = backend->Played("out:0");
  ASSERT_TRUE(Sounding(first));
  ASSERT_LE(first.size(), pcm.size());
  EXPECT_TRUE(std::equal(first.begin(), first.end(), pcm.begin()));
  EXPECT_TRUE(PumpUntil([&] { return lit(20) || lit(21); }));

  // It stops and closes its device by itself at the end, and row 2's meters
  // are cleared.
  ASSERT_TRUE(PumpUntil([&] { return player->DeviceState() == dsClosed; }));
  EXPECT_TRUE(PumpUntil([&] { return !lit(20) && !lit(21); }));
  const Bytes second = backend->Played("out:1");
  // The second device heard the rest of the sound from within one buffer of
  // where the first one stopped, then silence.
  const std::size_t from = ContinuesAt(pcm, second, first.size(), 4096);
  ASSERT_LT(from, pcm.size());
  ASSERT_GE(second.size(), pcm.size() - from);
  EXPECT_TRUE(
      std::equal(pcm.begin() + static_cast<std::ptrdiff_t>(from), pcm.end(), second.begin()));
  EXPECT_FALSE(Sounding(
      Bytes(second.begin() + static_cast<std::ptrdiff_t>(pcm.size() - from), second.end())));

  // The next press plays from the beginning.
  form->Button[2]->Click();
  ASSERT_TRUE(PumpUntil([&] { return player->DeviceState() == dsClosed; }));
  const Bytes third = backend->Played("out:2");
  ASSERT_GE(third.size(), pcm.size());
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), third.begin()));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, ARowSwitchGoesOnFromWhatWasHeardOnBothOutputs) {
  const Bytes pcm = TestSoundPcm();
  ASSERT_GT(pcm.size(), 2u * 176400);
  for (bool dsound : {true, false}) {
    SCOPED_TRACE(dsound);
    auto form = Open(VirtualOutputs(2));
    auto backend =
        std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
    ASSERT_NE(backend, nullptr);
    TMMAudioPlayer* player = form->MMAudioPlayer1;
    player->SetUseDSound(dsound);
    platform::VirtualClock::SetManual(true);
    const auto run = [](unsigned ms) {
      for (unsigned t = 0; t < ms; t += 10) {
        platform::VirtualClock::Advance(10);
        WaitAndPump(10, true);
      }
    };
    form->Button[0]->Click();
    run(1300);
    // 1.3 s in, the queue holds some 465 ms more than has been heard.
    const std::size_t heard = backend->Heard("out:0");
    ASSERT_GE(heard, 1200u * 176400 / 1000);
    ASSERT_LE(heard, 1400u * 176400 / 1000);
    form->Button[1]->Click();
    run(200);
    player->Stop();
    platform::VirtualClock::SetManual(false);
    // Row 2 goes on with the sound (not silence) from within one buffer of
    // what row 1 heard.
    const Bytes second = backend->Played("out:1");
    ASSERT_GE(second.size(), 16384u);
    EXPECT_TRUE(Sounding(Bytes(second.begin(), second.begin() + 16384)));
    EXPECT_LT(ContinuesAt(pcm, second, heard, 16384), pcm.size())
        << heard << " bytes heard on row 1";
    EXPECT_TRUE(messages_.empty());
  }
}

TEST_F(MainWindowTest, EachRowPlaysTheDeviceItsLabelNamesAsDevicesComeAndGo) {
  for (bool dsound : {true, false}) {
    SCOPED_TRACE(dsound);
    platform::VirtualDeviceSet devices;
    devices.outputs = {{"Out A"}, {"Out B"}, {"Out C"}, {"Out D", false}, {"Out E", false}};
    auto backend = std::make_shared<platform::VirtualAudioBackend>(devices);
    auto form = Open(backend);
    TMMAudioPlayer* player = form->MMAudioPlayer1;
    player->SetUseDSound(dsound);
    // Row k plays out:<index>, and no other device.
    const auto plays_on = [&](int k, int index) {
      SCOPED_TRACE(k);
      // Stopped first: the row played before may write on until it stops.
      player->Stop();
      player->SetPosition(0);
      for (int j = 0; j < 5; ++j) backend->ClearPlayed("out:" + std::to_string(j));
      form->Button[static_cast<std::size_t>(k - 1)]->Click();
      const std::string id = "out:" + std::to_string(index);
      EXPECT_TRUE(PumpUntil([&] { return Sounding(backend->Played(id)); }));
      for (int j = 0; j < 5; ++j) {
        if (j == index) continue;
        EXPECT_TRUE(backend->Played("out:" + std::to_string(j)).empty()) << j;
      }
    };
    // A press that finds no device of its row's starts nothing.
    const auto plays_nothing = [&](int k) {
      SCOPED_TRACE(k);
      player->Stop();
      form->Button[static_cast<std::size_t>(k - 1)]->Click();
      EXPECT_EQ(player->DeviceState(), static_cast<std::uint32_t>(dsClosed));
    };
    plays_on(2, 1);

    // Without Refresh, A goes and D comes: each label still names its row's
    // device, wherever that device now is in the list; A's row and the row
    // without a label play nothing.
    player->Stop();
    backend->RemoveOutput("out:0");
    backend->PlugOutput("out:3");
    EXPECT_EQ(form->Lab[9]->GetCaption(), "Out A");
    EXPECT_EQ(form->Lab[10]->GetCaption(), "Out B");
    plays_nothing(1);
    plays_on(2, 1);
    plays_on(3, 2);
    plays_nothing(4);
    backend->PlugOutput("out:0");

    // B goes, D and then E come; the count stays as it was at the start.
    player->Stop();
    backend->RemoveOutput("out:1");
    form->btn_refresh->Click();
    EXPECT_EQ(form->Label2->GetCaption(), "3");
    EXPECT_EQ(form->Lab[9]->GetCaption(), "Out A");
    EXPECT_EQ(form->Lab[10]->GetCaption(), "Out C");
    EXPECT_EQ(form->Lab[11]->GetCaption(), "Out D");
    plays_on(1, 0);
    plays_on(2, 2);
    plays_on(3, 3);
    // A fourth device is not counted without following the devices: the
    // fourth row keeps its empty label and plays nothing.
    backend->PlugOutput("out:4");
    form->btn_refresh->Click();
    EXPECT_EQ(form->Lab[12]->GetCaption(), "____");
    plays_nothing(4);
    player->Stop();
    EXPECT_TRUE(messages_.empty());
  }
}

TEST_F(MainWindowTest, AnOddTestSoundPlaysConvertedOrSaysWhyOnce) {
  auto form = Open(VirtualOutputs(2));
  auto backend =
      std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
  ASSERT_NE(backend, nullptr);
  TMMAudioPlayer* player = form->MMAudioPlayer1;
  std::filesystem::create_directories(config_);

  // Six channels of 32-bit float at 96 kHz play on the row's device as
  // 16-bit PCM of the same shape, with the row's meters.
  const std::string six = (config_ / "six.wav").string();
  // A second: long enough for the meters to be seen lit before the end
  // clears them, also on a busy machine.
  const std::uint32_t frames = 96000;
  WriteFloatWave(six, 6, 96000, frames);
  player->SetFileName(six);
  ASSERT_FALSE(player->AudioFile()->IsEmpty());
  int errors = 0;
  player->DSWaveOut()->OnError = [&](TComponent*) { ++errors; };
  form->Button[1]->Click();
  const WAVEFORMATEX* played = player->DSWaveOut()->GetPWaveFormat();
  ASSERT_NE(played, nullptr);
  EXPECT_EQ(played->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(played->nChannels, 6);
  EXPECT_EQ(played->nSamplesPerSec, 96000u);
  EXPECT_EQ(played->wBitsPerSample, 16);
  EXPECT_TRUE(PumpUntil([&] { return form->MMLevel[20]->Level() > 0; }));
  EXPECT_TRUE(PumpUntil([&] { return player->DeviceState() == dsClosed; }));
  const Bytes heard = backend->Played("out:1");
  ASSERT_GE(heard.size(), std::size_t{frames} * 12);
  int worst = 0;
  for (std::uint32_t n = 0; n < frames; ++n) {
    const double want = 0.5 * 32768 * std::sin(2 * 3.141592653589793 * 440 * n / 96000);
    for (int c = 0; c < 6; ++c) {
      std::int16_t v;
      std::memcpy(&v, heard.data() + (n * 6 + static_cast<std::uint32_t>(c)) * 2, 2);
      worst = std::max(worst, static_cast<int>(std::abs(v - want)));
    }
  }
  EXPECT_LE(worst, 2);
  EXPECT_EQ(errors, 0);
  EXPECT_TRUE(backend->Played("out:0").empty());
  EXPECT_TRUE(messages_.empty());

  // Ten channels are more than the device takes: the system's message, once,
  // and the window goes on.
  const std::string ten = (config_ / "ten.wav").string();
  WriteFloatWave(ten, 10, 44100, 4410);
  player->SetFileName(ten);
  form->Button[0]->Click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "DSWaveOutOpen:\n\rThe actual device can''t play this format");
  EXPECT_EQ(player->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  player->SetFileName(six);
  form->Button[0]->Click();
  EXPECT_TRUE(PumpUntil([&] { return Sounding(backend->Played("out:0")); }));
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(MainWindowTest, ARefusedDeviceReportsOnceAndAMissingTestSoundPlaysNothing) {
  auto refusing = std::make_shared<RefusingBackend>(VirtualOutputs(2), "", "out:1");
  auto form = Open(refusing);
  TMMAudioPlayer* player = form->MMAudioPlayer1;
  form->Button[1]->Click();
  ASSERT_EQ(messages_.size(), 1u);
  // The device refuses the stream already when asked whether it plays the format.
  EXPECT_EQ(messages_[0], "DSWaveOutOpen:\n\rThe actual device can''t play this format");
  EXPECT_EQ(player->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  // The window goes on: the next press plays.
  form->Button[0]->Click();
  EXPECT_TRUE(PumpUntil([&] { return Sounding(refusing->Inner()->Played("out:0")); }));
  EXPECT_EQ(messages_.size(), 1u);

  // Without the test sound the buttons stop the player and play nothing,
  // without a message.
  player->SetFileName((config_ / "YesLR.wav").string());
  EXPECT_EQ(player->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  refusing->Inner()->ClearPlayed("out:0");
  form->Button[0]->Click();
  EXPECT_EQ(player->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(player->GetDeviceID(), 1);
  WaitAndPump(100, true);
  EXPECT_FALSE(Sounding(refusing->Inner()->Played("out:0")));
  EXPECT_EQ(messages_.size(), 1u);
}

}  // namespace

TEST_F(MainWindowTest, FollowingTheDevicesRefreshesNamesAndCountsOnlyWhenAsked) {
  platform::VirtualDeviceSet devices;
  devices.inputs = {{"Mic 1"}, {"Mic 2"}};
  devices.outputs = {{"Out A"}, {"Out B"}, {"Out C"}, {"Out D", false}};
  auto backend = std::make_shared<platform::VirtualAudioBackend>(devices);
  auto form = Open(backend);
  ASSERT_EQ(form->Label2->GetCaption(), "3");
  const std::string unused_output = form->Lab[12]->GetCaption();
  const std::string unused_input = form->Lab[2]->GetCaption();

  // Without following, a device that comes changes nothing until Refresh.
  backend->PlugOutput("out:3");
  WaitAndPump(2 * TDeviceFollower::kFollowPause, true);
  EXPECT_EQ(form->Label2->GetCaption(), "3");
  EXPECT_EQ(form->Lab[12]->GetCaption(), unused_output);

  // Following: names and counts follow, and the rows of devices that went
  // show the layout's text again.
  form->FollowDevices();
  backend->RemoveOutput("out:1");
  backend->RemoveInput("in:0");
  EXPECT_TRUE(PumpUntil([&] { return form->Label1->GetCaption() == "1"; }));
  EXPECT_EQ(form->Label2->GetCaption(), "3");
  EXPECT_EQ(form->Lab[0]->GetCaption(), "Mic 2");
  EXPECT_EQ(form->Lab[1]->GetCaption(), unused_input);
  EXPECT_EQ(form->Lab[9]->GetCaption(), "Out A");
  EXPECT_EQ(form->Lab[10]->GetCaption(), "Out C");
  EXPECT_EQ(form->Lab[11]->GetCaption(), "Out D");
  backend->RemoveOutput("out:0");
  EXPECT_TRUE(PumpUntil([&] { return form->Label2->GetCaption() == "2"; }));
  EXPECT_EQ(form->Lab[9]->GetCaption(), "Out C");
  EXPECT_EQ(form->Lab[11]->GetCaption(), unused_output);
  // The recording input that went away says so once, as without following.
  ASSERT_LE(messages_.size(), 1u);
  for (const std::string& message : messages_) EXPECT_EQ(message.rfind("WaveIn", 0), 0u);
}

TEST_F(MainWindowTest, TheDeviceFollowerRunsOnceForABurstAndAtMostOncePerPause) {
  // A pause ends with the frame tick (about 8 ms apart) nearest its end.
  constexpr std::int64_t kPauseUs = (TDeviceFollower::kFollowPause - 8) * 1000;
  platform::VirtualDeviceSet devices;
  devices.outputs = {{"Out A"}, {"Out B"}};
  auto backend = std::make_shared<platform::VirtualAudioBackend>(devices);
  platform::UseAudioBackend(backend);
  std::vector<std::int64_t> runs;
  {
    TDeviceFollower follower([&] {
      runs.push_back(NowMicroseconds());
      return true;
    });
    for (int i = 0; i < 5; ++i) {
      backend->RemoveOutput("out:1");
      backend->PlugOutput("out:1");
    }
    EXPECT_TRUE(PumpUntil([&] { return !runs.empty(); }));
    WaitAndPump(2 * TDeviceFollower::kFollowPause, true);
    EXPECT_EQ(runs.size(), 1u);
    // Reports right after a run wait for a pause of their own.
    backend->RemoveOutput("out:1");
    EXPECT_TRUE(PumpUntil([&] { return runs.size() == 2; }));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_GE(runs[1] - runs[0], kPauseUs);
  }
  // Once the follower is gone, nothing more is posted for it.
  backend->PlugOutput("out:1");
  WaitAndPump(2 * TDeviceFollower::kFollowPause, true);
  EXPECT_EQ(runs.size(), 2u);

  // A handler that is not ready runs again a pause later; one that handles
  // messages does not run inside itself when a report comes meanwhile.
  runs.clear();
  int depth = 0;
  bool nested = false;
  TDeviceFollower follower([&] {
    nested = nested || depth > 0;
    ++depth;
    runs.push_back(NowMicroseconds());
    if (runs.size() == 2) {
      backend->RemoveOutput("out:1");
      WaitAndPump(3 * TDeviceFollower::kFollowPause, true);
    }
    --depth;
    return runs.size() > 1;
  });
  backend->PlugOutput("out:1");
  EXPECT_TRUE(PumpUntil([&] { return runs.size() == 3; }));
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_GE(runs[1] - runs[0], kPauseUs);
  EXPECT_FALSE(nested);
  WaitAndPump(2 * TDeviceFollower::kFollowPause, true);
  EXPECT_EQ(runs.size(), 3u);
}

TEST_F(MainWindowTest, KeyboardAndReadersReachEveryRowByItsDevice) {
  auto form = Open("virtual:in=Desk Mic@440:-6:-6|Line In@440:-6:-6;out=Speakers|Headset|Dock");
  auto backend =
      std::dynamic_pointer_cast<platform::VirtualAudioBackend>(platform::CurrentAudioBackend());
  ASSERT_NE(backend, nullptr);
  // Counts with their headings, devices by name, empty rows said as such.
  EXPECT_EQ(form->Label1->AccessibleName(), "2 Input Drivers");
  EXPECT_EQ(form->Label2->AccessibleName(), "3 Output Drivers");
  EXPECT_EQ(form->Lab[0]->AccessibleName(), "Desk Mic");
  EXPECT_EQ(form->Lab[2]->AccessibleName(), "Input row 3: no device");
  EXPECT_EQ(form->Lab[10]->AccessibleName(), "Headset");
  EXPECT_EQ(form->Lab[12]->AccessibleName(), "Output row 4: no device");
  EXPECT_EQ(form->MMLevel[0]->AccessibleName(), "Desk Mic, left");
  EXPECT_EQ(form->MMLevel[3]->AccessibleName(), "Line In, right");
  EXPECT_EQ(form->MMLevel[20]->AccessibleName(), "Headset, left");
  EXPECT_EQ(form->MMLevel[35]->AccessibleName(), "Output row 9, right: no device");
  EXPECT_EQ(form->Button[2]->AccessibleName(), "Play test sound on Dock");
  EXPECT_EQ(form->Button[3]->AccessibleName(), "Play test sound: no device in output row 4");
  EXPECT_EQ(form->btn_refresh->AccessibleName(), "Refresh");
  EXPECT_EQ(form->btn_close->AccessibleName(), "Close");
  // Headings are read with their counts; the background and the line are
  // decoration; every meter is there, with its level out of 100.
  std::vector<TControl*> seen = form->AccessibleChildren();
  for (TControl* c : std::vector<TControl*>{form->Label3, form->Label6, form->Image1, form->Bevel3})
    EXPECT_EQ(std::count(seen.begin(), seen.end(), c), 0) << c->GetName();
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                          [](TControl* c) { return c->AccessibleRole() == arLevelMeter; }),
            36);
  EXPECT_TRUE(PumpUntil([&] { return form->MMLevel[0]->GetValue() > 0; }));
  TAccessibleValue value;
  ASSERT_TRUE(form->MMLevel[0]->AccessibleValue(value));
  EXPECT_EQ(value.Minimum, 0);
  EXPECT_EQ(value.Maximum, 100);
  EXPECT_GT(value.Current, 0);
  EXPECT_EQ(value.Text, std::to_string(static_cast<int>(value.Current)) + "%");

  // Tab visits the three rows with a device top to bottom, then Refresh and
  // Close; the window opened at the first of them.
  const std::vector<TControl*> order = form->FocusOrder();
  EXPECT_EQ(order, (std::vector<TControl*>{form->Button[0], form->Button[1], form->Button[2],
                                           form->btn_refresh, form->btn_close}));
  EXPECT_EQ(form->FocusedControl(), form->Button[0]);
  EXPECT_TRUE(form->KeyDown(fkTab, false));
  EXPECT_EQ(form->FocusedControl(), form->Button[1]);
  // Space plays on that row's device, and on no other, with that row's meters.
  EXPECT_TRUE(form->KeyDown(fkSpace, false));
  EXPECT_EQ(form->MMAudioPlayer1->GetDeviceID(), 2);
  EXPECT_EQ(form->MMConnector[10]->GetLevel1(), form->MMLevel[20]);
  EXPECT_TRUE(PumpUntil([&] { return Sounding(backend->Played("out:1")); }));
  EXPECT_FALSE(Sounding(backend->Played("out:0")));
  EXPECT_FALSE(Sounding(backend->Played("out:2")));
  EXPECT_TRUE(messages_.empty());
}
