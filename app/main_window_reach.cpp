#include <string>

#include "app/main_window.h"

// What a screen reader hears of the main window: the counts with their
// headings, each row's device (or that it has none), each meter by its device
// and channel, each play button by the device it plays on.

namespace {

constexpr int kRows = 9;

// The device a row's label names, or empty for a row without one.
std::string RowDevice(const TLabel* label, int row, int count) {
  return row < count ? label->GetCaption() : std::string();
}

void NameRow(TLabel* label, TMMLevel* left, TMMLevel* right, const std::string& device,
             const std::string& row) {
  if (device.empty()) {
    label->SetAccessibleName(row + ": no device");
    left->SetAccessibleName(row + ", left: no device");
    right->SetAccessibleName(row + ", right: no device");
  } else {
    label->SetAccessibleName(device);
    left->SetAccessibleName(device + ", left");
    right->SetAccessibleName(device + ", right");
  }
}

}  // namespace

void TForm1::NameForReaders(int n_in, int n_out) {
  Label1->SetAccessibleName(Label1->GetCaption() + " " + Label3->GetCaption());
  Label2->SetAccessibleName(Label2->GetCaption() + " " + Label6->GetCaption());
  for (int k = 0; k < kRows; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const std::string number = std::to_string(k + 1);
    NameRow(Lab[i], MMLevel[2 * i], MMLevel[2 * i + 1], RowDevice(Lab[i], k, n_in),
            "Input row " + number);
    const std::string output = RowDevice(Lab[kRows + i], k, n_out);
    NameRow(Lab[kRows + i], MMLevel[18 + 2 * i], MMLevel[19 + 2 * i], output,
            "Output row " + number);
    // A row without a device plays nothing: Tab passes its button by and
    // readers hear it as unavailable.
    Button[i]->SetAccessibleName(output.empty()
                                     ? "Play test sound: no device in output row " + number
                                     : "Play test sound on " + output);
    Button[i]->SetTabStop(!output.empty());
  }
}
