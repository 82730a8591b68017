#include "app/main_window.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/placement_store.h"
#include "app/window_placement.h"
#include "devices/wave_devices.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/application.h"
#include "platform/framework/properties.h"
#include "platform/framework/toolkit_platform.h"
#include "platform/text/console.h"
#include "platform/text/file_names.h"
#include "platform/wave/wave_caps.h"

namespace {

constexpr int kRows = 9;
// The test sound, beside the program.
constexpr char kTestSound[] = "YesLR.wav";

// Every device of a direction, in catalogue order, each with a key of its own:
// the back-end's key of the device, within that back-end.
std::vector<platform::AudioEndpoint> KeyedDevices(platform::AudioDirection direction) {
  std::shared_ptr<platform::AudioBackend> backend = platform::CurrentAudioBackend();
  if (!backend) return {};
  const std::string prefix = std::to_string(reinterpret_cast<std::uintptr_t>(backend.get())) + "/";
  std::vector<platform::AudioEndpoint> devices = backend->Endpoints(direction);
  for (platform::AudioEndpoint& e : devices) e.id = prefix + e.id;
  return devices;
}

std::vector<std::string> InputDeviceKeys() {
  std::vector<std::string> keys;
  for (const platform::AudioEndpoint& e : KeyedDevices(platform::AudioDirection::kInput))
    keys.push_back(e.id);
  return keys;
}

// Where the device is in today's list: by its key and name; else, where a
// back-end's keys are positions that moved, by its name where exactly one
// device carries it. -1 when it has gone.
int IndexOfDevice(const std::vector<platform::AudioEndpoint>& devices,
                  const platform::AudioEndpoint& device) {
  int by_name = -1, named = 0;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].name != device.name) continue;
    if (devices[i].id == device.id) return static_cast<int>(i);
    by_name = static_cast<int>(i);
    ++named;
  }
  return named == 1 ? by_name : -1;
}

}  // namespace

TForm1::TForm1(TComponent* owner) : TForm(owner) {
  PublishMethod("FormCreate", [this](TComponent* s) { FormCreate(s); });
  PublishMethod("FormShow", [this](TComponent* s) { FormShow(s); });
  PublishMethod("btn_refreshClick", [this](TComponent* s) { btn_refreshClick(s); });
  PublishMethod("btn_closeClick", [this](TComponent* s) { btn_closeClick(s); });
  for (int k = 1; k <= kRows; ++k)
    PublishMethod("Button" + std::to_string(k) + "Click",
                  [this, k](TComponent*) { ButtonClick(k); });
  PublishMethod("FormClose", [this](TComponent* s, TCloseAction& a) { FormClose(s, a); });
  CreateFromLayout(":/layouts/main.layout");
}

TForm1::~TForm1() {
  // Closing the devices below may deliver messages: none may refresh the
  // window while it goes.
  follower_.reset();
  // Every input stops first, so that none goes on handing buffers to the
  // window while the others close; then they close in the order they opened.
  // A driver that ends a stream at the stream's next period (Wine's, which
  // serves its devices one at a time) then waits little for each: their
  // periods follow one another in that order.
  for (TMMWaveIn* in : In) in->Stop();
  for (TMMWaveIn* in : In) in->Close();
  DestroyComponents();
}

template <class T>
T* TForm1::Field(const std::string& name) {
  T* c = FindAs<T>(name);
  if (!c) throw Exception("The main window's layout lacks " + name);
  return c;
}

void TForm1::Loaded() {
  TForm::Loaded();
  Image1 = Field<TImage>("Image1");
  Label1 = Field<TLabel>("Label1");
  Label2 = Field<TLabel>("Label2");
  Label3 = Field<TLabel>("Label3");
  Label6 = Field<TLabel>("Label6");
  for (std::size_t i = 0; i < Lab.size(); ++i) {
    Lab[i] = Field<TLabel>("Lab" + std::to_string(i + 1));
    initial_captions_[i] = Lab[i]->GetCaption();
  }
  for (std::size_t i = 0; i < Button.size(); ++i)
    Button[i] = Field<TPictureButton>("Button" + std::to_string(i + 1));
  btn_refresh = Field<TPictureButton>("btn_refresh");
  btn_close = Field<TPictureButton>("btn_close");
  Bevel3 = Field<TBevel>("Bevel3");
  MMWaveIn1 = Field<TMMWaveIn>("MMWaveIn1");
  MMWaveIn2 = Field<TMMWaveIn>("MMWaveIn2");
  MMWaveOut1 = Field<TMMWaveOut>("MMWaveOut1");
  for (std::size_t i = 0; i < MMLevel.size(); ++i)
    MMLevel[i] = Field<TMMLevel>("MMLevel" + std::to_string(i + 1));
  for (std::size_t i = 0; i < In.size(); ++i)
    In[i] = Field<TMMWaveIn>("In" + std::to_string(i + 1));
  for (std::size_t i = 0; i < MMConnector.size(); ++i)
    MMConnector[i] = Field<TMMConnector>("MMConnector" + std::to_string(i + 1));
  MMAudioPlayer1 = Field<TMMAudioPlayer>("MMAudioPlayer1");
}

void TForm1::FormCreate(TComponent*) {
  // Each value defaults to where the window is now, so a missing or unusable
  // value leaves that coordinate as the layout put it.
  const TWindowPlacement layout{GetTop(), GetLeft(), GetWidth(), GetHeight()};
  TWindowPlacement stored;
  stored.Top = ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", layout.Top).AsInteger();
  stored.Left = ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", layout.Left).AsInteger();
  stored.Width = ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", layout.Width).AsInteger();
  stored.Height = ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "hei", layout.Height).AsInteger();
  // A placement that would cut the window or hide its close button is not used;
  // the store keeps it until the next close writes the real one.
  const TScreenRect close_button{ClientOriginX() + btn_close->GetLeft(),
                                 ClientOriginY() + btn_close->GetTop(), btn_close->GetWidth(),
                                 btn_close->GetHeight()};
  const TWindowPlacement usable = UsablePlacement(stored, layout, GetClientWidth(),
                                                  GetClientHeight(), close_button, ScreenRects());
  SetTop(usable.Top);
  SetLeft(usable.Left);
  SetWidth(usable.Width);
  SetHeight(usable.Height);
}

void TForm1::FormShow(TComponent*) {
  // The devices are read afresh: a failure from now on is a loss of its own.
  failures_.NextLoss();
  // The counts are those taken when the counting components were created
  // (read afresh while following the devices); a count of 0 is shown too
  // rather than the layout's placeholder.
  const int n_in = follower_ ? static_cast<int>(waveInGetNumDevs()) : MMWaveIn1->GetNumDevs();
  Label1->SetCaption(std::to_string(n_in));
  for (int k = 0; k < n_in && k < kRows; ++k) Lab[k]->SetCaption(WaveInDeviceName(k));

  const int n_out = follower_ ? static_cast<int>(waveOutGetNumDevs()) : MMWaveOut1->GetNumDevs();
  Label2->SetCaption(std::to_string(n_out));
  const std::vector<platform::AudioEndpoint> outputs =
      KeyedDevices(platform::AudioDirection::kOutput);
  for (int k = 0; k < kRows; ++k) {
    auto& device = output_devices_[static_cast<std::size_t>(k)];
    device = {};
    if (k >= n_out) continue;
    Lab[kRows + k]->SetCaption(WaveOutDeviceName(k));
    // The row plays the device its label names, wherever that device goes.
    if (k < static_cast<int>(outputs.size())) device = outputs[static_cast<std::size_t>(k)];
  }

  if (follower_) {
    // Rows whose device has gone show the layout's text again, and their
    // inputs stop recording.
    for (int k = std::max(n_in, 0); k < kRows; ++k) {
      Lab[k]->SetCaption(initial_captions_[k]);
      In[static_cast<std::size_t>(k)]->Close();
      row_devices_[static_cast<std::size_t>(k)].clear();
    }
    for (int k = std::max(n_out, 0); k < kRows; ++k) {
      Lab[kRows + k]->SetCaption(initial_captions_[kRows + k]);
    }
  }

  NameForReaders(n_in, n_out);
  StartInputRows(n_in);
  // A missing file loads nothing and says nothing; a file no type takes
  // raises the audio file's error.
  const std::string test_sound = Application->ExeDir() + kTestSound;
  if (!looked_for_test_sound_ && !std::filesystem::exists(platform::PathFromUtf8(test_sound)))
    platform::PrintText(stderr, "tessaline: no test sound at %s; the play buttons play nothing\n",
                        test_sound.c_str());
  looked_for_test_sound_ = true;
  MMAudioPlayer1->SetFileName(test_sound);
}

void TForm1::ButtonClick(int k) {
  const platform::AudioEndpoint& device = output_devices_[static_cast<std::size_t>(k - 1)];
  // A row without a device, or whose device has gone, plays nothing.
  if (device.id.empty()) return;
  // What the press asks of the device is reported, whatever failed before.
  failures_.NextLoss();
  const int index = IndexOfDevice(KeyedDevices(platform::AudioDirection::kOutput), device);
  if (index < 0) return;
  // The sound goes on from what has been heard, not from the reader, which
  // runs a queue of buffers ahead. Stopping clears the meters of the row
  // played before.
  const bool playing = MMAudioPlayer1->DeviceState() & dsStarted;
  const std::int32_t heard = MMAudioPlayer1->GetPosition();
  MMAudioPlayer1->Stop();
  if (playing) MMAudioPlayer1->SetPosition(heard);
  // The device's place in the catalogue: the DirectSound output counts the
  // default device first.
  MMAudioPlayer1->SetDeviceID(MMAudioPlayer1->GetUseDSound() ? index + 1 : index);
  TMMConnector* connector = MMConnector[10];
  connector->SetLevel1(MMLevel[static_cast<std::size_t>(16 + 2 * k)]);
  connector->SetLevel2(MMLevel[static_cast<std::size_t>(17 + 2 * k)]);
  MMAudioPlayer1->Play();
}

void TForm1::StartInputRows(int n_in) {
  const std::vector<std::string> now = InputDeviceKeys();
  const auto key_at = [](const std::vector<std::string>& keys, int index) {
    return index < static_cast<int>(keys.size()) ? keys[static_cast<std::size_t>(index)]
                                                 : std::string();
  };
  const int rows = std::min(n_in, static_cast<int>(row_devices_.size()));
  for (int i = 1; i <= rows; ++i) {
    std::string& device = row_devices_[static_cast<std::size_t>(i - 1)];
    try {
      auto* row = dynamic_cast<TMMWaveIn*>(FindComponent("In" + std::to_string(i)));
      if (!row) continue;
      const std::string key = key_at(now, i - 1);
      // A row still closing (a refresh from a message loop inside its close)
      // is left to the next refresh: one started now would be closed under it.
      if (row->IsClosing()) {
        device.clear();
        continue;
      }
      if (row->IsOpen()) {
        // Its label names the device at its index: a row still recording that
        // device runs on untouched. One left open but still (a device lost
        // while it stopped) starts again.
        if (!key.empty() && key == device && (row->DeviceState() & dsStarted)) continue;
        row->Close();
      }
      device.clear();
      row->SetDeviceID(i - 1);
      row->Start();
      device = key;
    } catch (const std::exception&) {
      // A row that cannot run stays still; the others go on.
    }
  }
  // A device list that changed while the rows started leaves those rows to
  // the next refresh.
  const std::vector<std::string> after = InputDeviceKeys();
  for (int i = 1; i <= rows; ++i) {
    std::string& device = row_devices_[static_cast<std::size_t>(i - 1)];
    if (device != key_at(after, i - 1)) device.clear();
  }
}

void TForm1::btn_refreshClick(TComponent*) {
  FormShow(this);
}

void TForm1::FollowDevices() {
  if (follower_) return;
  follower_ = std::make_unique<TDeviceFollower>([this] {
    // A row's close waits for its driver, and the messages that come
    // meanwhile (other rows failing with a lost server, the server back) are
    // handled inside it: the refresh waits until no row is closing.
    if (std::any_of(In.begin(), In.end(), [](TMMWaveIn* in) { return in->IsClosing(); }))
      return false;
    btn_refreshClick(this);
    return true;
  });
}

void TForm1::btn_closeClick(TComponent*) {
  Close();
}

void TForm1::FormClose(TComponent*, TCloseAction&) {
  SyncFromScreen();
  // Where the desktop keeps window positions to itself, the window does not
  // know where it was: the stored position stays for a desktop that can use it.
  // One record, so that windows closed at the same time never leave a mix of
  // their placements.
  std::vector<std::pair<std::string, std::int32_t>> placement;
  if (platform::WindowPositionsKnown()) placement = {{"top", GetTop()}, {"left", GetLeft()}};
  placement.emplace_back("wide", GetWidth());
  placement.emplace_back("hei", GetHeight());
  WriteRegIntegers(HKEY_CURRENT_USER, kPlacementKey, placement);
}

const TClassInfo& TForm1::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TForm1>("TForm1", &TForm::StaticClassInfo()).Build();
  return info;
}
