#pragma once

#include <array>
#include <memory>
#include <string>

#include "app/device_failure_report.h"
#include "app/device_follower.h"
#include "capture/wave_in.h"
#include "controls/level.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/form.h"
#include "playback/audio_player.h"
#include "playback/wave_out.h"
#include "stream/connector.h"

// Where the main window keeps its placement in the current user's store.
inline constexpr const char* kPlacementKey = "Quorvane\\Tessaline";

// The main window: the input and output devices with their counts and names,
// a play button per output, a refresh and a close button. Its layout creates
// and wires every component; the window only labels them, starts the input
// rows, moves the player and its meters to the row played, and keeps its
// placement.
class TForm1 : public TForm {
 public:
  explicit TForm1(TComponent* owner);
  ~TForm1() override;

  // Restores the placement.
  void FormCreate(TComponent* sender);
  // Writes the device counts and names, starts the input rows and gives the
  // player the test sound that lies beside the program.
  void FormShow(TComponent* sender);
  // Button1Click ... Button9Click: plays the test sound on output row k
  // (1 ... 9) with that row's meters, on the device its label names wherever
  // that device has moved in the list; nothing for a row without a device or
  // whose device has gone.
  void ButtonClick(int k);
  void btn_refreshClick(TComponent* sender);
  // From now on does what btn_refreshClick does whenever an input or output
  // is added or removed, reading the device counts afresh each time.
  void FollowDevices();
  void btn_closeClick(TComponent* sender);
  // Saves the placement; the position only where the platform reports it.
  void FormClose(TComponent* sender, TCloseAction& action);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  TImage* Image1 = nullptr;
  TLabel* Label1 = nullptr;
  TLabel* Label2 = nullptr;
  TLabel* Label3 = nullptr;
  TLabel* Label6 = nullptr;
  // Lab[0] ... Lab[17] are Lab1 ... Lab18: input names, then output names.
  std::array<TLabel*, 18> Lab{};
  // Button[0] ... Button[8] are Button1 ... Button9.
  std::array<TPictureButton*, 9> Button{};
  TPictureButton* btn_refresh = nullptr;
  TPictureButton* btn_close = nullptr;
  TBevel* Bevel3 = nullptr;
  TMMWaveIn* MMWaveIn1 = nullptr;
  TMMWaveIn* MMWaveIn2 = nullptr;
  TMMWaveOut* MMWaveOut1 = nullptr;
  // MMLevel[0] ... MMLevel[35] are MMLevel1 ... MMLevel36.
  std::array<TMMLevel*, 36> MMLevel{};
  // In[0] ... In[9] are In1 ... In10.
  std::array<TMMWaveIn*, 10> In{};
  // MMConnector[0] ... MMConnector[10] are MMConnector1 ... MMConnector11.
  std::array<TMMConnector*, 11> MMConnector{};
  TMMAudioPlayer* MMAudioPlayer1 = nullptr;

 protected:
  void Loaded() override;

 private:
  // Input row i captures from input device i-1; each start is on its own,
  // so a device that fails leaves only its row still. A running row whose
  // device is still at its index keeps running; one whose device went away or
  // moved is started again on the device now at its index.
  void StartInputRows(int n_in);
  // Names the counts, rows, meters and play buttons for screen readers; a
  // play button of a row without a device is no tab stop
  // (main_window_reach.cpp).
  void NameForReaders(int n_in, int n_out);
  template <class T>
  T* Field(const std::string& name);

  // The back-end's key of the device each input row was started on; empty
  // for a row that does not run or whose device is not known.
  std::array<std::string, 10> row_devices_;
  // The device each output row's label names (its key as in row_devices_);
  // an empty key for a row without one.
  std::array<platform::AudioEndpoint, 9> output_devices_{};
  std::unique_ptr<TDeviceFollower> follower_;
  // The devices' failures of one loss (a sound server that stops) make one
  // message; the window's components report through it while they live.
  TDeviceFailureReport failures_;
  // The layout's texts of Lab1 ... Lab18, for rows whose device has gone.
  std::array<std::string, 18> initial_captions_;
  // The first showing says on standard error when the test sound is missing.
  bool looked_for_test_sound_ = false;
};
