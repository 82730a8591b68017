#pragma once

#include "controls/level.h"
#include "platform/framework/graphics.h"

// A level meter set up as the main window's input rows set theirs: 241 x 9,
// silver bars on black, 16-bit stereo, -72 dB linear, two peak markers held
// for 50 ticks, step-up decay of 10.
inline void SetUpLikeMainWindow(TMMLevel& m, TMMChannel channel) {
  m.SetBounds(1, 1, 241, 9);
  m.SetLevelColor(0, clSilver);
  m.SetLevelColor(1, clSilver);
  for (int i = 3; i < 6; ++i) m.SetLevelColor(i, clBlack);
  m.SetPoint(1, 95);
  m.SetBitLength(b16Bit);
  m.SetMode(mStereo);
  m.SetChannel(channel);
  m.SetSensitivy(-72);
  m.SetLogAmp(false);
  m.SetNumPeaks(2);
  m.SetPeakDelay(50);
  m.SetPeakSpeed(1);
  m.SetDecayMode(dmStepUp);
  m.SetDecay(10);
}
