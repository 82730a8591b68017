#include "controls/level.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/framework/application.h"
#include "platform/framework/form.h"
#include "platform/framework/properties.h"
#include "platform/mmtimer/mmtimer.h"

namespace {

class Controls : public ::testing::Test {
 protected:
  void SetUp() override { platform::EnsureToolkit(); }
};

// The main window's meter settings.
void MainWindowSettings(TMMLevel& m) {
  m.SetBounds(69, 88, 241, 9);
  m.SetLevelColor(0, clSilver);
  m.SetLevelColor(1, clSilver);
  for (int k = 3; k < 6; ++k) m.SetLevelColor(k, clBlack);
  m.SetPoint(1, 95);
  m.SetBitLength(b16Bit);
  m.SetMode(mStereo);
  m.SetSensitivy(-72);
  m.SetLogAmp(false);
  m.SetNumPeaks(2);
  m.SetPeakDelay(50);
  m.SetPeakSpeed(1);
  m.SetDecayMode(dmStepUp);
  m.SetDecay(10);
  m.SetChannel(chLeft);
}

TEST_F(Controls, BevelExtentAndPainting) {
  TMMBevel b;
  EXPECT_EQ(b.BevelExtent(), 1);
  int changes = 0;
  b.OnChange = [&](TMMObject*) { ++changes; };
  b.SetBevelOuter(bvSpace);
  b.SetBevelOuterWidth(2);
  EXPECT_EQ(changes, 2);
  b.SetBevelOuterWidth(2);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(b.BevelExtent(), 2);
  platform::TImageDC img(10, 10, clWhite);
  TRect inner;
  b.PaintBevel(img.Handle(), Rect(0, 0, 10, 10), inner, true);
  EXPECT_EQ(inner, Rect(0, 0, 10, 10));
  EXPECT_EQ(img.Pixel(0, 0), clWhite);

  // Lowered width 1: top/left shadow (grey), right/bottom light (white).
  TMMBevel lowered;
  platform::TImageDC pic(6, 5, clRed);
  lowered.PaintBevel(pic.Handle(), Rect(0, 0, 6, 5), inner, true);
  EXPECT_EQ(inner, Rect(1, 1, 5, 4));
  EXPECT_EQ(pic.Pixel(0, 0), clGray);
  EXPECT_EQ(pic.Pixel(3, 0), clGray);
  EXPECT_EQ(pic.Pixel(0, 4), clGray);   // bottom-left corner: top colour
  EXPECT_EQ(pic.Pixel(5, 0), clWhite);  // top-right corner: bottom colour
  EXPECT_EQ(pic.Pixel(5, 4), clWhite);
  EXPECT_EQ(pic.Pixel(2, 4), clWhite);
  EXPECT_EQ(pic.Pixel(2, 2), clRed);  // inside untouched

  // Assign copies everything as one change; single border style adds one pixel.
  TMMBevel other;
  other.SetBorderStyle(bsSingle);
  other.SetBevelInner(bvRaised);
  other.SetBorderWidth(2);
  changes = 0;
  b.Assign(other);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.BevelExtent(), 1 + 1 + 2 + 1);
}

TEST_F(Controls, DIBCanvasPaletteDepthAndSize) {
  TMMLevel owner(nullptr);
  TMMDIBCanvas c(&owner);
  c.BeginDraw();
  c.SetDrawColor(clSilver);
  EXPECT_EQ(c.DrawValue(), 7u);
  c.SetDrawColor(clBlack);
  EXPECT_EQ(c.DrawValue(), 0u);
  c.SetDrawColor(clRed);
  EXPECT_EQ(c.DrawValue(), 249u);
  // A rebuild inside a pass is refused.
  EXPECT_THROW(c.SetBitsPerPixel(24), EMMDIBError);
  c.EndDraw();
  try {
    c.SetBitsPerPixel(16);
    FAIL();
  } catch (const EMMDIBError& e) {
    EXPECT_STREQ(e.what(), "Bitlength not supported yet");
  }
  EXPECT_EQ(c.GetBitsPerPixel(), 8);
  c.SetBounds(0, 0, 7, 3);
  EXPECT_TRUE(c.Dirty());
  c.Surface();
  EXPECT_FALSE(c.Dirty());
  c.SetBounds(0, 0, 7, 3);
  EXPECT_FALSE(c.Dirty());

  // 24 bits keep RGB; pixels stored blue, green, red, bottom-up.
  c.SetBitsPerPixel(24);
  c.BeginDraw();
  c.SetDrawColor(RGB(1, 2, 3));
  c.FillRect(Rect(0, 0, 1, 1));
  c.SetDrawColor(clLime);
  c.FillRectDotted(Rect(2, 0, 6, 3));
  EXPECT_EQ(c.GetPixel(0, 0), RGB(1, 2, 3));
  EXPECT_EQ(c.GetPixel(9, 0), -1);
  c.EndDraw();
  const std::uint8_t* bits = c.Surface()->Bits();
  const int stride = c.Surface()->Stride();
  EXPECT_EQ(stride, 24);  // 7*3 rounded up to 4
  EXPECT_EQ(bits[2 * stride + 0], 3);
  EXPECT_EQ(bits[2 * stride + 2], 1);
  EXPECT_EQ(c.PixelColor(2, 0), clLime);
  EXPECT_EQ(c.PixelColor(3, 0), clBlack);
  EXPECT_EQ(c.PixelColor(4, 2), clLime);
  EXPECT_EQ(c.PixelColor(4, 1), clBlack);
}

TEST_F(Controls, MainWindowMeterGeometryAndPicture) {
  TMMLevel m(nullptr);
  MainWindowSettings(m);
  EXPECT_EQ(m.DrawingRect(), Rect(1, 1, 240, 8));
  EXPECT_EQ(m.SpotCount(), 120);
  EXPECT_EQ(m.Margin(), 0);
  EXPECT_EQ(m.Point1Spots(), 60);
  EXPECT_EQ(m.Point2Spots(), 114);
  EXPECT_EQ(m.DIBCanvas()->Width(), 239);
  EXPECT_EQ(m.SpotRect(1), Rect(0, 0, 1, 7));
  EXPECT_EQ(m.SpotRect(120), Rect(238, 0, 239, 7));

  m.SetValue(100);  // full scale lights every spot
  EXPECT_EQ(m.Level(), 120);
  platform::TImageDC img(241, 9, clWhite);
  m.PaintTo(img.Handle());
  EXPECT_EQ(img.Pixel(1, 1), clSilver);         // spot 1
  EXPECT_EQ(img.Pixel(2, 1), clBlack);          // space
  EXPECT_EQ(img.Pixel(1 + 2 * 114, 4), clRed);  // spot 115 in the top zone
  EXPECT_EQ(img.Pixel(0, 0), clGray);           // bevel

  // Reversed direction: spot 1 at the right end.
  m.SetDirection(dirReversed);
  EXPECT_EQ(m.SpotRect(1), Rect(238, 0, 239, 7));
  TMMLevel v(nullptr);
  v.SetKind(lkVertical);  // 200 × 17 becomes 17 × 200
  EXPECT_EQ(v.GetWidth(), 17);
  EXPECT_EQ(v.GetHeight(), 200);
  EXPECT_EQ(v.SpotRect(1).Bottom, v.DrawingRect().Height() - v.Margin());

  // Narrower than a spot: still one spot, negative margin.
  TMMLevel n(nullptr);
  n.SetBounds(0, 0, 20, 9);
  n.SetSpotWidth(6);
  EXPECT_EQ(n.GetSpotWidth(), 6);
  n.SetBounds(0, 0, 6, 9);
  EXPECT_EQ(n.SpotCount(), 1);
  EXPECT_EQ(n.Margin(), -1);
}

TEST_F(Controls, SpotCountsDecayAndOverflow) {
  TMMLevel m(nullptr);
  MainWindowSettings(m);
  m.SetDecayMode(dmNone);
  m.UpdateLevel(32767);
  EXPECT_EQ(m.Level(), 120);
  m.UpdateLevel(16384);
  EXPECT_EQ(m.Level(), 60);
  m.UpdateLevel(3277);
  EXPECT_EQ(m.Level(), 12);
  m.UpdateLevel(100);
  EXPECT_EQ(m.Level(), 0);
  EXPECT_EQ(m.GetValue(), 0);
  m.UpdateLevel(16384);
  EXPECT_EQ(m.GetValue(), 50);

  m.SetLogAmp(true);
  m.SetSensitivy(-35);
  m.UpdateLevel(16384);
  EXPECT_EQ(m.Level(), 99);

  m.SetDecay(10);
  EXPECT_FLOAT_EQ(m.DecayFactor(), 0.99104583f);
  EXPECT_EQ(m.DecayWindow(), 18);
  TMMLevel fresh(nullptr);
  EXPECT_FLOAT_EQ(fresh.DecayFactor(), 0.01f);
  EXPECT_EQ(fresh.DecayWindow(), 1);

  // Step-up decay: a drop falls slowly.
  m.SetLogAmp(false);
  m.SetSensitivy(-72);
  m.SetDecayMode(dmStepUp);
  m.UpdateLevel(32767);
  EXPECT_EQ(m.Level(), 120);
  m.UpdateLevel(0);
  EXPECT_EQ(m.Level(), 119);  // 32767 * 0.99104583 = 32473

  // Gain 32 (factor 5) overflows.
  int gain_overflows = 0, pcm_overflows = 0;
  m.OnGainOverflow = [&](TComponent*) { ++gain_overflows; };
  m.OnPcmOverflow = [&](TComponent*) { ++pcm_overflows; };
  m.SetDecayMode(dmNone);
  m.SetGain(32);
  m.UpdateLevel(16384);
  EXPECT_EQ(gain_overflows, 1);
  EXPECT_EQ(m.Level(), 120);
  m.SetGain(33);  // out of range: ignored
  EXPECT_EQ(m.GetGain(), 32);
  m.SetGain(0);

  // Stereo 16-bit data: the left channel with a DC offset, a full-scale right.
  std::vector<std::int16_t> data(100);
  for (int i = 0; i < 50; ++i) {
    data[2 * i] = static_cast<std::int16_t>(i == 7 ? 16000 : 100);
    data[2 * i + 1] = 32767;
  }
  m.SetDCOffset(0, -384);  // stored negated: +384 added
  m.RefreshPCMData(data.data());
  EXPECT_EQ(m.LastRawValue(), 16384);
  EXPECT_EQ(pcm_overflows, 0);
  m.SetChannel(chRight);
  m.RefreshPCMData(data.data());
  EXPECT_EQ(pcm_overflows, 1);
  m.SetChannel(chBoth);
  m.SetDCOffset(0, 0);
  m.RefreshPCMData(data.data());
  EXPECT_EQ(m.LastRawValue(), (16000 + 32767) / 2);

  // 8-bit mono.
  std::vector<std::uint8_t> bytes(50, 128);
  bytes[3] = 0;
  m.SetBitLength(b8Bit);
  m.SetMode(mMono);
  m.RefreshPCMData(bytes.data());
  EXPECT_EQ(m.LastRawValue(), 32768);
  EXPECT_EQ(pcm_overflows, 2);
  EXPECT_EQ(m.BytesPerRefresh(), 50);

  WAVEFORMATEX f{};
  BuildPCMFormat(f, 16, 2, 44100);
  m.SetPWaveFormat(&f);
  EXPECT_EQ(m.BytesPerRefresh(), 200);
  // Four channels: a frame spans all four, the first two are read.
  BuildPCMFormat(f, 16, 4, 44100);
  m.SetPWaveFormat(&f);
  EXPECT_EQ(m.GetMode(), mMultiChannel);
  EXPECT_EQ(m.BytesPerRefresh(), 400);
  std::vector<std::int16_t> quad(200, 0);
  quad[4 * 10 + 1] = 8000;   // right of frame 10
  quad[4 * 11 + 3] = 30000;  // fourth channel: not read
  m.SetChannel(chRight);
  m.RefreshPCMData(quad.data());
  EXPECT_EQ(m.LastRawValue(), 8000);
  // Six channels at 96 kHz: the first two are read likewise.
  BuildPCMFormat(f, 16, 6, 96000);
  m.SetPWaveFormat(&f);
  EXPECT_EQ(m.BytesPerRefresh(), 600);
  std::vector<std::int16_t> six(300, 0);
  six[6 * 20 + 1] = 9000;
  six[6 * 21 + 2] = 30000;
  m.RefreshPCMData(six.data());
  EXPECT_EQ(m.LastRawValue(), 9000);
  BuildPCMFormat(f, 16, 2, 44100);
  m.SetPWaveFormat(&f);
  EXPECT_EQ(m.BytesPerRefresh(), 200);
  f.wBitsPerSample = 12;
  EXPECT_THROW(m.SetPWaveFormat(&f), EMMLevelError);
  BuildPCMFormat(f, 16, 2, 44100);
  f.nChannels = 0;
  EXPECT_THROW(m.SetPWaveFormat(&f), EMMLevelError);
  EXPECT_EQ(m.GetBitLength(), b16Bit);
}

TEST_F(Controls, PeakHoldsThenFalls) {
  TMMLevel m(nullptr);
  MainWindowSettings(m);
  m.SetDecayMode(dmNone);
  m.UpdateLevel(16384);
  EXPECT_EQ(m.Peak(), 60);
  EXPECT_EQ(m.Countdown(), 101);
  m.UpdateLevel(3277);
  EXPECT_EQ(m.Peak(), 60);
  for (int i = 0; i < 100; ++i) m.PeakTick();
  EXPECT_EQ(m.Peak(), 60);
  m.PeakTick();
  EXPECT_EQ(m.Peak(), 59);
  m.PeakTick();
  EXPECT_EQ(m.Peak(), 58);
  m.ResetData();
  EXPECT_EQ(m.Peak(), 0);
  EXPECT_EQ(m.Level(), 0);

  m.SetPeakSpeed(0);
  m.UpdateLevel(16384);
  for (int i = 0; i < 101; ++i) m.PeakTick();
  EXPECT_EQ(m.Peak(), 0);

  // The peak marker is drawn beyond the level: spots 60 and 59 lit at level 12.
  m.UpdateLevel(16384);
  m.UpdateLevel(3277);
  platform::TImageDC img(241, 9, clWhite);
  m.PaintTo(img.Handle());
  EXPECT_EQ(img.Pixel(1 + 2 * 59, 3), clSilver);
  EXPECT_EQ(img.Pixel(1 + 2 * 58, 3), clSilver);
  EXPECT_EQ(img.Pixel(1 + 2 * 57, 3), clBlack);

  // Without peaks no marker is drawn and no new peak is captured.
  m.SetNumPeaks(0);
  m.UpdateLevel(32767);
  m.UpdateLevel(3277);
  EXPECT_EQ(m.Level(), 12);
  platform::TImageDC none(241, 9, clWhite);
  m.PaintTo(none.Handle());
  EXPECT_EQ(none.Pixel(1 + 2 * 11, 3), clSilver);
  EXPECT_EQ(none.Pixel(1 + 2 * 59, 3), clBlack);
  EXPECT_EQ(none.Pixel(1 + 2 * 119, 3), clBlack);
}

TEST_F(Controls, SharedTickRunsOnTheTimerThreadAndStops) {
  EXPECT_EQ(TickEntryCount(), 0);
  {
    TMMLevel a(nullptr), b(nullptr);
    EXPECT_EQ(TickEntryCount(), 2);
    EXPECT_TRUE(a.HasTickEntry());
    a.SetPeakDelay(0);
    a.UpdateLevel(32767);
    ASSERT_GT(a.Peak(), 0);
    for (int i = 0; i < 400 && a.Peak() != 0; ++i) WaitAndPump(5, true);
    EXPECT_EQ(a.Peak(), 0);
    b.SetEnabled(false);
  }
  EXPECT_EQ(TickEntryCount(), 0);
  EXPECT_EQ(platform::ActiveTimerCount(), 0);
}

TEST_F(Controls, PaintsOncePerFrameOnAShownWindowAndTheTickRepaintsThroughTheGuiThread) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 400, 200);
  auto* m = new TMMLevel(&form);
  m->SetParent(&form);
  MainWindowSettings(*m);
  m->SetDecayMode(dmNone);
  form.Show();
  WaitAndPump(20, true);
  ASSERT_TRUE(m->Showing());
  int paints = 0;
  m->OnPaint = [&](TComponent*) { ++paints; };
  // Many changes before the next frame give one paint, of the last state.
  m->UpdateLevel(16384);
  m->UpdateLevel(32767);
  m->UpdateLevel(3277);  // level falls below the held peak
  EXPECT_EQ(paints, 0);
  for (int i = 0; i < 200 && paints == 0; ++i) WaitAndPump(5, true);
  WaitAndPump(20, true);
  EXPECT_EQ(paints, 1);
  m->UpdateLevel(3277);  // same picture: nothing
  WaitAndPump(30, true);
  EXPECT_EQ(paints, 1);
  // The frame DIB holds the composed picture: 12 spots lit, the peak marker
  // on spots 120 and 119, the rest dark.
  EXPECT_EQ(m->DIBCanvas()->PixelColor(2 * 11, 3), clSilver);
  EXPECT_EQ(m->DIBCanvas()->PixelColor(2 * 12, 3), clBlack);
  EXPECT_EQ(m->DIBCanvas()->PixelColor(2 * 119, 3), clRed);
  EXPECT_EQ(m->DIBCanvas()->PixelColor(2 * 117, 3), clBlack);

  // A falling peak reaches the screen through a posted message; once no
  // marker is held, the shared tick stops, and a new peak starts it again.
  m->SetPeakDelay(0);
  m->SetPeakSpeed(0);
  m->UpdateLevel(32767);
  m->UpdateLevel(100);
  EXPECT_TRUE(TickRunning());
  int before = paints;
  for (int i = 0; i < 400 && m->Peak() != 0; ++i) WaitAndPump(5, true);
  WaitAndPump(60, true);
  EXPECT_EQ(m->Peak(), 0);
  EXPECT_GT(paints, before);
  EXPECT_FALSE(TickRunning());
  m->UpdateLevel(16384);
  EXPECT_TRUE(TickRunning());
  for (int i = 0; i < 400 && m->Peak() != 0; ++i) WaitAndPump(5, true);
  EXPECT_EQ(m->Peak(), 0);

  // Only the spots that change are painted, yet the screen always ends up
  // with the whole picture: rising, falling under a held peak, a marker
  // falling a spot a tick, a full reset, and an area exposed again.
  const TRect area = Rect(m->GetLeft(), m->GetTop(), m->GetLeft() + 241, m->GetTop() + 9);
  auto fresh = [&] {
    platform::TImageDC img(241, 9, clWhite);
    m->PaintTo(img.Handle());
    std::vector<TColor> pixels;
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 241; ++x) pixels.push_back(img.Pixel(x, y));
    return pixels;
  };
  auto settles = [&] {
    for (int i = 0; i < 400; ++i) {
      if (form.ShownPixels(area) == fresh()) return true;
      WaitAndPump(5, true);
    }
    return false;
  };
  ASSERT_EQ(form.ShownPixels(area).size(), 241u * 9u);
  m->SetPeakDelay(0);
  m->SetPeakSpeed(1);
  for (int raw : {20000, 3000, 32767, 500, 0, 12000, 12100, 30000}) {
    m->UpdateLevel(raw);
    EXPECT_TRUE(settles()) << raw;
  }
  for (int i = 0; i < 400 && m->Peak() > m->Level(); ++i) WaitAndPump(5, true);
  EXPECT_TRUE(settles());
  m->UpdateLevel(32767);
  m->ResetData();
  EXPECT_TRUE(settles());
  m->UpdateLevel(25000);
  m->Invalidate();
  m->UpdateLevel(8000);
  EXPECT_TRUE(settles());
  // Under a paint hold changes ask for nothing until the hold ends; then
  // one paint shows them all.
  {
    TLevelPaintHold hold;
    m->UpdateLevel(32767);
    m->UpdateLevel(9000);
    const int held = paints;
    WaitAndPump(30, true);
    EXPECT_EQ(paints, held);
  }
  EXPECT_TRUE(settles());

  // Hidden meters do not paint.
  m->SetVisible(false);
  before = paints;
  m->UpdateLevel(32767);
  WaitAndPump(30, true);
  EXPECT_EQ(paints, before);
}

TEST_F(Controls, PublishedPropertiesForLayouts) {
  RegisterLevelControls();
  const TClassInfo* info = FindClass("TMMLevel");
  ASSERT_NE(info, nullptr);
  TComponent* c = info->create(nullptr);
  auto* m = dynamic_cast<TMMLevel*>(c);
  ASSERT_NE(m, nullptr);
  m->FindProperty("Point2")->set(*m, std::int64_t{95});
  m->FindProperty("Sensitivy")->set(*m, std::int64_t{-120});
  m->FindProperty("Bevel.BevelOuter")->set(*m, std::int64_t{bvNone});
  m->FindProperty("Bar3Color")->set(*m, std::int64_t{clLime});
  EXPECT_EQ(m->GetPoint(1), 95);
  EXPECT_EQ(m->GetSensitivy(), -90);
  EXPECT_EQ(m->Bevel()->BevelExtent(), 0);
  EXPECT_EQ(m->DrawingRect().Width(), 200);
  EXPECT_EQ(m->GetLevelColor(2), clLime);
  EXPECT_EQ(std::get<std::int64_t>(m->FindProperty("Decay")->get(*m)), 1);
  delete c;
}

}  // namespace

namespace {

TEST_F(Controls, BackgroundPictureIsStretchedOrTiledUnderTheDrawing) {
  TMMLevel owner(nullptr);
  owner.SetBounds(0, 0, 4, 2);
  auto picture = std::make_shared<platform::TDIBSection>(2, 1, 24);
  // Picture line 0 (the only row): red, lime (stored blue, green, red).
  std::uint8_t* p = picture->Bits();
  p[2] = 255;
  p[4] = 255;
  owner.SetUseBitmap(true);  // no picture yet: stays off
  EXPECT_FALSE(owner.GetUseBitmap());
  owner.SetBitmap(picture);
  EXPECT_TRUE(owner.GetUseBitmap());
  EXPECT_TRUE(owner.DIBCanvas()->GetPaletteRealize());
  TMMDIBCanvas& c = *owner.DIBCanvas();
  c.SetBounds(0, 0, 4, 2);
  c.BeginDraw();
  owner.ClearDIB();
  c.EndDraw();
  EXPECT_EQ(c.PixelColor(0, 0), clRed);  // stretched: two pixels per source pixel
  EXPECT_EQ(c.PixelColor(1, 1), clRed);
  EXPECT_EQ(c.PixelColor(2, 0), clLime);
  c.SetStretchBackGround(false);
  c.BeginDraw();
  owner.ClearDIB();
  c.EndDraw();
  EXPECT_EQ(c.PixelColor(1, 0), clLime);  // tiled
  EXPECT_EQ(c.PixelColor(2, 0), clRed);
  owner.SetUseBitmap(false);
  EXPECT_EQ(c.GetBackGroundBitmap(), nullptr);
  c.BeginDraw();
  owner.ClearDIB();  // the control's colour (black) again
  c.EndDraw();
  EXPECT_EQ(c.PixelColor(2, 0), clBlack);
}

}  // namespace

namespace {

TEST_F(Controls, DecayModesAndSymmetricMarker) {
  TMMLevel m(nullptr);
  MainWindowSettings(m);
  m.SetNumPeaks(0);
  // Exponential: state = state * f + (1 - f) * b, single precision, floored.
  m.SetDecayMode(dmExponential);
  m.SetDecay(1);  // f = 0.01
  m.UpdateLevel(10000);
  EXPECT_EQ(m.Level(), 36);  // 9900 -> (9900 - 8.23) * 120 / 32758.77 = 36.2
  m.UpdateLevel(0);          // 99 -> 0.33 spots
  EXPECT_EQ(m.Level(), 0);
  // Uniform: the mean of the last window values (window 2 at Decay 2).
  m.SetDecayMode(dmUniform);
  m.SetDecay(2);
  EXPECT_EQ(m.DecayWindow(), 2);
  m.UpdateLevel(32767);
  EXPECT_EQ(m.Level(), 120);  // ring count 1: the value itself
  m.UpdateLevel(1);           // (32767 + 1) / 2 = 16384
  EXPECT_EQ(m.Level(), 60);
  m.UpdateLevel(1);  // (1 + 1) / 2
  EXPECT_EQ(m.Level(), 0);

  // Symmetric: half the spots, shown as a five-spot marker around the level.
  m.SetDecayMode(dmNone);
  m.SetDirection(dirSymetric);
  m.UpdateLevel(16384);
  EXPECT_EQ(m.Level(), 30);
  platform::TImageDC img(241, 9, clWhite);
  m.PaintTo(img.Handle());
  // Spot i lies at x = 1 + 239 - 1 - 2 * (i - 1) (from the right).
  auto x_of = [](int i) { return 1 + 238 - 2 * (i - 1); };
  for (int i = 28; i <= 32; ++i) EXPECT_EQ(img.Pixel(x_of(i), 4), clSilver) << i;
  EXPECT_EQ(img.Pixel(x_of(27), 4), clBlack);
  EXPECT_EQ(img.Pixel(x_of(33), 4), clBlack);
  EXPECT_EQ(img.Pixel(x_of(1), 4), clBlack);
}

TEST_F(Controls, DisabledMeterIgnoresDataAndDepthAppliesToBothPictures) {
  TMMLevel m(nullptr);
  MainWindowSettings(m);
  m.SetDecayMode(dmNone);
  m.UpdateLevel(32767);
  m.SetEnabled(false);
  EXPECT_EQ(m.Level(), 0);
  EXPECT_EQ(m.Peak(), 0);
  std::vector<std::int16_t> loud(100, 32767);
  m.RefreshPCMData(loud.data());
  EXPECT_EQ(m.Level(), 0);
  EXPECT_EQ(m.LastRawValue(), 0);
  m.SetEnabled(true);
  m.RefreshPCMData(loud.data());
  EXPECT_EQ(m.Level(), 120);

  EXPECT_THROW(m.SetBitsPerPixel(16), EMMDIBError);
  EXPECT_EQ(m.DIBCanvas()->GetBitsPerPixel(), 8);
  EXPECT_EQ(m.BackgroundDIB()->GetBitsPerPixel(), 8);
  m.SetBitsPerPixel(24);
  EXPECT_EQ(m.DIBCanvas()->GetBitsPerPixel(), 24);
  EXPECT_EQ(m.BackgroundDIB()->GetBitsPerPixel(), 24);
  // The rebuilt background shows the inactive spots in exact RGB.
  m.SetLevelColor(3, RGB(10, 20, 30));
  EXPECT_EQ(m.BackgroundDIB()->PixelColor(0, 0), RGB(10, 20, 30));
  EXPECT_EQ(m.BackgroundDIB()->PixelColor(1, 0), clBlack);

  // A drawing handler replaces the spots.
  int calls = 0, spots = -1;
  TRect area;
  m.SetOnDrawBar([&](TComponent*, TMMDIBCanvas* dib, TRect& r, int n, int) {
    ++calls;
    spots = n;
    area = r;
    dib->SetDrawColor(clYellow);
    dib->Clear();
  });
  platform::TImageDC img(241, 9, clWhite);
  m.PaintTo(img.Handle());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(spots, 120);
  EXPECT_EQ(area, Rect(0, 0, 239, 7));
  EXPECT_EQ(img.Pixel(5, 5), clYellow);
}

}  // namespace

namespace {

void CountTick(void* owner) {
  ++*static_cast<std::atomic<int>*>(owner);
}

TEST_F(Controls, TickEntriesPauseResumeAndTheTimerStopsWithTheLast) {
  std::atomic<int> fast{0}, slow{0};
  TTickEntry* a = AddTick(10, CountTick, &fast);  // raised to 25 ms
  TTickEntry* b = AddTick(100, CountTick, &slow);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(platform::RequestedTimerPeriod(), 25u);
  for (int i = 0; i < 1000 && fast < 12; ++i) WaitAndPump(5, false);
  ASSERT_GE(fast, 12);
  // Four 25 ms ticks per slow call: never more than a quarter of the fast ones (+1).
  EXPECT_LE(slow, fast / 4 + 1);
  EXPECT_GE(slow, 1);
  PauseTick(a);
  PauseTick(a);
  int paused = fast;
  WaitAndPump(100, false);
  EXPECT_EQ(fast, paused);
  ResumeTick(a);
  WaitAndPump(100, false);
  EXPECT_EQ(fast, paused);  // still paused once
  ResumeTick(a);
  for (int i = 0; i < 1000 && fast == paused; ++i) WaitAndPump(5, false);
  EXPECT_GT(fast, paused);
  RemoveTick(a);
  int removed = fast;
  EXPECT_EQ(platform::ActiveTimerCount(), 1);
  RemoveTick(b);
  EXPECT_EQ(platform::ActiveTimerCount(), 0);
  EXPECT_EQ(platform::RequestedTimerPeriod(), 0u);
  WaitAndPump(60, false);
  EXPECT_EQ(fast, removed);
  EXPECT_EQ(AddTick(25, nullptr, nullptr), nullptr);
}

}  // namespace
