#include "app/meter_bar.h"

#include <algorithm>
#include <cmath>

#include "app/utf8.h"

void TMeterBar::Update(double peak) {
  level_ = std::clamp(peak, 0.0, 1.0);
  marker_ = std::max(level_, marker_ - kMarkerFall);
}

void TMeterBar::Clear() {
  level_ = 0;
  marker_ = 0;
}

int TMeterBar::LitCells(int width) const {
  return width > 0 ? static_cast<int>(std::lround(level_ * width)) : 0;
}

int TMeterBar::MarkerCell(int width) const {
  const int cell = width > 0 ? static_cast<int>(std::lround(marker_ * width)) - 1 : -1;
  return cell >= LitCells(width) ? cell : -1;
}

std::string TMeterBar::Render(int width) const {
  if (width <= 0) return "";
  const int lit = LitCells(width);
  const int mark = MarkerCell(width);
  std::string bar(static_cast<std::size_t>(width), ' ');
  for (int i = 0; i < lit; ++i) bar[static_cast<std::size_t>(i)] = '#';
  if (mark >= 0) bar[static_cast<std::size_t>(mark)] = '|';
  return bar;
}

std::string FitColumns(const std::string& text, int columns) {
  std::string fitted;
  int used = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t at = 0; at < text.size() && used < columns; ++used) {
    // A byte that starts no well-formed sequence counts as one character.
    const std::size_t length = std::max<std::size_t>(1, Utf8Length(bytes + at, text.size() - at));
    fitted.append(text, at, length);
    at += length;
  }
  fitted.append(static_cast<std::size_t>(std::max(0, columns - used)), ' ');
  return fitted;
}
