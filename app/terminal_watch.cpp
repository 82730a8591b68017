// tessaline-devices --watch: live meters in a terminal (ncurses), fed by the
// same capture and player components as the window.

#include "app/terminal_watch.h"

#include <cstdio>

#if defined(_WIN32)

int RunTerminalWatch(const WatchOptions&) {
  std::fprintf(stderr, "tessaline-devices: --watch is not available on Windows\n");
  return 1;
}

#else

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/meter_bar.h"
#include "app/peak_probe.h"
#include "app/terminal_text.h"
#include "capture/wave_in.h"
#include "devices/wave_devices.h"
#include "platform/framework/application.h"
#include "platform/framework/termination_requests.h"
#include "platform/messages/messages.h"
#include "platform/messages/pump_until.h"
#include "platform/wave/wave_caps.h"
#include "playback/audio_player.h"

// Last: its macros (OK, ERR, timeout, ...) would clash with the names above.
#include <curses.h>

namespace {

// The window's number of rows per side.
constexpr int kWindowRows = 9;
// A frame follows the sound that came for any meter (only sound moves them),
// at most one every 40 ms: 25 redraws a second while sound comes. Without
// sound, keys and resizes are looked at every 100 ms.
constexpr auto kFrame = std::chrono::milliseconds(40);
constexpr unsigned kIdleMs = 100;

// One meter pair fed by a peak probe. A frame in which no sound arrived
// (buffers come in pieces of about 12 ms, not evenly spread) leaves the
// meters as they stand.
struct MeterPair {
  TMeterBar left, right;
  void Update(TPeakProbe& probe) {
    if (probe.BytesSeen() == 0) return;
    left.Update(probe.PeakLeft());
    right.Update(probe.PeakRight());
    probe.ResetPeaks();
  }
  // What the pair shows in bars of `width` cells.
  void Note(int width, std::vector<int>& state) const {
    state.insert(state.end(), {left.LitCells(width), left.MarkerCell(width), right.LitCells(width),
                               right.MarkerCell(width)});
  }
};

struct InputRow {
  std::string name;
  std::unique_ptr<TMMWaveIn> in;
  std::unique_ptr<TPeakProbe> probe;
  MeterPair meters;
  std::string error;  // the device's message when it cannot record
};

// Starts recording input `index` into its probe, as the window's rows do.
void StartInput(InputRow& row, int index) {
  row.in = std::make_unique<TMMWaveIn>(nullptr);
  row.probe = std::make_unique<TPeakProbe>(nullptr);
  try {
    row.in->SetMode(mStereo);
    row.in->SetBitLength(b16Bit);
    row.in->SetSampleRate(44100);
    row.in->SetDeviceID(index);
    row.in->SetOutput(row.probe.get());
    row.probe->SetInput(row.in.get());
    row.in->Start();
  } catch (const std::exception& e) {
    row.error = OneLine(e.what());
  }
}

// Draws one line of text at `y`, cut to the screen's width.
void Line(int y, const std::string& text) {
  if (y >= LINES) return;
  mvaddnstr(y, 0, text.c_str(), static_cast<int>(text.size()));
  clrtoeol();
}

// The cells of a bar after a name column of `name_columns`: to one column
// short of the edge (a line that filled the last column would wrap).
int BarColumns(int name_columns) {
  return std::max(0, COLS - name_columns - 6);
}

// "Name  L [#####   |  ]": the name column, the side, the bar.
std::string MeterLine(const std::string& label, int name_columns, const char* side,
                      const TMeterBar& bar) {
  return FitColumns(label, name_columns) + " " + side + " [" +
         bar.Render(BarColumns(name_columns)) + "]";
}

}  // namespace

int RunTerminalWatch(const WatchOptions& options) {
  platform::EnsureToolkit();
  const int count = static_cast<int>(waveInGetNumDevs());
  const int shown = options.all ? count : std::min(count, kWindowRows);
  std::vector<InputRow> inputs(static_cast<std::size_t>(shown));
  for (int i = 0; i < shown; ++i) {
    inputs[static_cast<std::size_t>(i)].name = WaveInDeviceName(i);
    StartInput(inputs[static_cast<std::size_t>(i)], i);
  }
  std::vector<std::string> outputs;
  const int output_count = std::min(static_cast<int>(waveOutGetNumDevs()), kWindowRows);
  for (int i = 0; i < output_count; ++i) outputs.push_back(WaveOutDeviceName(i));

  // The player as the window sets it up, its meters fed by a probe.
  std::string player_error;
  int playing = 0;  // the output played on (1 ... 9), 0 for none yet
  TMMAudioPlayer player(nullptr);
  TPeakProbe player_probe(nullptr);
  MeterPair player_meters;
  player.SetBufferSize(8196);
  player.SetNumBuffers(10);
  player.SetDeviceID(InvalidId);
  player.SetCallBackMode(cmWindow);
  player.SetUseDSound(!options.wave);
  player.SetOutput(&player_probe);
  player_probe.SetInput(&player);
  player.SetFileName(Application->ExeDir() + "YesLR.wav");
  // At the end of the sound its meters go dark, as the window's do.
  player.OnStop = [&player_meters](TComponent*) {
    player_meters.left.Clear();
    player_meters.right.Clear();
  };
  // A failure is reported as a message box; here it shows on the line of
  // what failed: an input that failed while recording (a lost device) has
  // closed before it reports; anything else is the player's. GUI thread.
  int message_changes = 0;  // messages shown or cleared
  platform::SetMessageBoxHook([&](const std::string& text, const std::string&, UINT) {
    ++message_changes;
    for (InputRow& row : inputs) {
      if (row.in && row.error.empty() && !row.in->IsOpen()) {
        row.error = OneLine(text);
        return IDOK;
      }
    }
    player_error = OneLine(text);
    return IDOK;
  });

  bool quit = false;
  platform::TerminationRequests requests([&quit] { quit = true; });
  initscr();
  cbreak();
  noecho();
  nodelay(stdscr, TRUE);
  keypad(stdscr, TRUE);
  curs_set(0);

  int name_columns = 0;
  for (const InputRow& row : inputs) name_columns = std::max<int>(name_columns, row.name.size());
  for (const std::string& name : outputs) name_columns = std::max<int>(name_columns, name.size());
  name_columns += 3;  // "9: " before each name
  // What the screen shows and what the next frame would show, as numbers:
  // a frame that would look the same is not drawn. Kept between frames so
  // that a frame allocates nothing.
  std::vector<int> drawn, state;
  state.reserve(4 * (inputs.size() + 1) + 4);
  const auto sound_came = [&] {
    for (const InputRow& row : inputs) {
      if (row.probe && row.probe->BytesSeen() > 0) return true;
    }
    return player_probe.BytesSeen() > 0;
  };
  auto next_frame = std::chrono::steady_clock::now();
  while (!quit) {
    // Until sound came for a meter, and no sooner than a frame after the
    // last one; keys and resizes are looked at after kIdleMs at the latest.
    PumpMessagesUntil(kIdleMs, [&] {
      return quit || (std::chrono::steady_clock::now() >= next_frame && sound_came());
    });
    // Frames keep to their schedule, 25 a second while sound comes; after a
    // pause the schedule starts anew.
    const auto now = std::chrono::steady_clock::now();
    next_frame = std::max(next_frame + kFrame, now);
    for (int key = getch(); key != ERR; key = getch()) {
      if (key == 'q' || key == 'Q') {
        quit = true;
      } else if (key >= '1' && key <= '9' && key - '0' <= output_count) {
        const int k = key - '0';
        player_error.clear();
        ++message_changes;
        try {
          player.Stop();
          // The sound-buffer output counts the default device first.
          player.SetDeviceID(player.GetUseDSound() ? k : k - 1);
          player_meters.left.Clear();
          player_meters.right.Clear();
          player_probe.ResetPeaks();
          playing = k;
          player.Play();
        } catch (const std::exception& e) {
          player_error = OneLine(e.what());
        }
      } else if (key == KEY_RESIZE) {
        clear();
        drawn.clear();
      }
    }
    if (quit) break;
    // Meters and markers whose cells stand still are not drawn again.
    const int names = std::min(name_columns, std::max(8, COLS / 3));
    const int bar_columns = BarColumns(names);
    state.clear();
    for (InputRow& row : inputs) {
      if (row.probe) row.meters.Update(*row.probe);
      row.meters.Note(bar_columns, state);
    }
    player_meters.Update(player_probe);
    player_meters.Note(bar_columns, state);
    state.insert(state.end(), {playing, message_changes, COLS, LINES});
    if (state == drawn) continue;
    drawn.swap(state);

    int y = 0;
    Line(y++, "Input Drivers: " + std::to_string(count) +
                  "   (q quits; 1-9 play the test sound on that output)");
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const InputRow& row = inputs[i];
      const std::string label = std::to_string(i + 1) + ": " + row.name;
      if (!row.error.empty()) {
        Line(y++, FitColumns(label, names) + " " + row.error);
        continue;
      }
      Line(y++, MeterLine(label, names, "L", row.meters.left));
      Line(y++, MeterLine("", names, "R", row.meters.right));
    }
    Line(y++, "Output Drivers: " + std::to_string(waveOutGetNumDevs()));
    for (int k = 1; k <= output_count; ++k) {
      const std::string label = std::to_string(k) + ": " + outputs[static_cast<std::size_t>(k - 1)];
      if (k != playing) {
        Line(y++, label);
      } else if (!player_error.empty()) {
        Line(y++, FitColumns(label, names) + " " + player_error);
      } else {
        Line(y++, MeterLine(label, names, "L", player_meters.left));
        Line(y++, MeterLine("", names, "R", player_meters.right));
      }
    }
    clrtobot();
    refresh();
  }
  endwin();
  platform::SetMessageBoxHook(nullptr);
  player.Stop();
  for (InputRow& row : inputs) {
    if (row.in) row.in->Close();
  }
  return 0;
}

#endif
