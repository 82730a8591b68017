#pragma once

#include <string>

// One channel's meter in the terminal, as the window's level meter shows it:
// the peak of the latest slice of sound, linear in amplitude (half scale
// lights half the bar), and a peak marker that holds the highest level and
// falls back by a fixed step each frame.
class TMeterBar {
 public:
  // How far the marker falls per frame, as a fraction of full scale.
  static constexpr double kMarkerFall = 0.02;

  // The peak of the sound since the last frame, 0 ... 1 of full scale.
  void Update(double peak);
  void Clear();
  double Level() const { return level_; }
  double Marker() const { return marker_; }

  // In a bar of `width` cells: how many are lit, and the marker's cell (-1
  // where it does not show: at or under the lit cells).
  int LitCells(int width) const;
  int MarkerCell(int width) const;

  // The bar in `width` cells: '#' lit, '|' the marker (where it stands above
  // the lit cells), ' ' unlit.
  std::string Render(int width) const;

 private:
  double level_ = 0;
  double marker_ = 0;
};

// `text` cut to at most `columns` characters without splitting a UTF-8
// sequence, padded with spaces to `columns`.
std::string FitColumns(const std::string& text, int columns);
