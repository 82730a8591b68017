#include "controls/level.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/framework/properties.h"

namespace {

// The calling thread's paint holds and the meters waiting for them to end.
thread_local int paint_holds = 0;
thread_local std::vector<TMMCustomLevel*> held_meters;

constexpr int kFullScale = 32767;
constexpr UINT WM_LEVELREPAINT = WM_USER + 0x101;

int Nint(double x) {
  return static_cast<int>(std::nearbyint(x));  // default rounding: halves to even
}

}  // namespace

TMMCustomLevel::TMMCustomLevel(TComponent* owner)
    : TMMDIBGraphicControl(owner), background_(std::make_unique<TMMDIBCanvas>(this)) {
  TControl::SetColor(clBlack);
  TFont font;
  font.Name = "Small Fonts";
  font.Height = -9;  // 7 points; not drawn
  SetFont(font);
  window_handle_ = AllocateHWnd([this](TMessage& m) { HandleMessage(m); });
  SetBounds(GetLeft(), GetTop(), 200, 17);
  CalcDecay();
  CalcBytesPerRefresh();
  if (!HasState(csDesigning)) {
    tick_ = AddTick(kTickInterval, &TMMCustomLevel::TickCallback, this);
    SetTickIdle(tick_, true);  // no peak held yet
  }
}

TMMCustomLevel::~TMMCustomLevel() {
  RemoveTick(tick_);  // the tick no longer runs for this meter after this
  tick_ = nullptr;
  DeallocateHWnd(window_handle_);
  std::erase(held_meters, this);
}

TLevelPaintHold::TLevelPaintHold() {
  ++paint_holds;
}

TLevelPaintHold::~TLevelPaintHold() {
  if (--paint_holds > 0) return;
  // A meter asked here may go on changing; it is taken off first.
  while (!held_meters.empty()) {
    TMMCustomLevel* m = held_meters.back();
    held_meters.pop_back();
    m->PaintSoonIfLive();
  }
}

// --- feeding ------------------------------------------------------------------

void TMMCustomLevel::SetPWaveFormat(const WAVEFORMATEX* format) {
  // Any 8- or 16-bit PCM stream can be shown, whatever its channel count or
  // rate, so that a sound of many channels plays with its meters.
  if (!Is8Or16BitPCMFormat(format)) throw EMMLevelError("Invalid WaveFormat");
  SetBitLength(static_cast<TMMBits>(format->wBitsPerSample / 8 - 1));
  // Streams of more than two channels are read as their first two channels;
  // a frame still spans all of them.
  frame_channels_ = format->nChannels;
  SetMode(ChannelCountToMMMode(format->nChannels));
  CalcBytesPerRefresh();
}

void TMMCustomLevel::CalcBytesPerRefresh() {
  bytes_per_refresh_ = (static_cast<int>(bits_) + 1) * frame_channels_ * samples_;
}

void TMMCustomLevel::RefreshPCMData(const void* data) {
  if (!Live() || !data) return;
  const int off_l = dc_offset_[0], off_r = dc_offset_[1];
  const int channels = frame_channels_;
  int a = 0;
  if (bits_ == b16Bit) {
    const auto* p = static_cast<const std::int16_t*>(data);
    for (int i = 0; i < samples_; ++i, p += channels) {
      int x;
      if (mode_ == mMono || channel_ == chLeft)
        x = p[0] + off_l;
      else if (channel_ == chRight)
        x = p[1] + off_r;
      else
        x = (p[0] + off_l + p[1] + off_r) / 2;
      a = std::max(a, std::abs(x));
    }
  } else {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (int i = 0; i < samples_; ++i, p += channels) {
      int x;
      if (mode_ == mMono || channel_ == chLeft)
        x = (p[0] + off_l - 128) * 256;
      else if (channel_ == chRight)
        x = (p[1] + off_r - 128) * 256;
      else
        x = ((p[0] + off_l + p[1] + off_r) / 2 - 128) * 256;
      a = std::max(a, std::abs(x));
    }
  }
  if (a >= kFullScale) PcmOverflow();
  UpdateLevel(a);
}

void TMMCustomLevel::UpdateLevel(int raw) {
  int b = std::abs(raw);
  last_raw_ = b;
  {
    std::lock_guard<std::mutex> lock(peak_lock_);
    if (b == 0 && level_ == 0 && !redraw_pending_) return;
  }
  if (decay_mode_ != dmNone) {
    if (++ring_pos_ >= window_) ring_pos_ = 0;
    ring_count_ = std::min(ring_count_ + 1, window_);
    switch (decay_mode_) {
      case dmStepUp:
        decay_state_ = decay_state_ * decay_factor_;
        if (static_cast<float>(b) > decay_state_)
          decay_state_ = static_cast<float>(b);
        else
          b = static_cast<int>(decay_state_);
        break;
      case dmExponential:
        decay_state_ =
            decay_state_ * decay_factor_ + (1.0f - decay_factor_) * static_cast<float>(b);
        b = static_cast<int>(std::floor(decay_state_));
        break;
      case dmUniform:
        ring_sum_ = ring_sum_ + b - ring_[ring_pos_];
        ring_[ring_pos_] = b;
        b = ring_sum_ / ring_count_;
        break;
      case dmNone:
        break;
    }
  }
  const std::int64_t d = static_cast<std::int64_t>(b) * gain_ / 8;
  const int n = num_spots_;
  int c;
  if (log_amp_) {
    const float db = static_cast<float>(
        20.0 * std::log10(std::max(static_cast<double>(d) / kFullScale, 0.000001)));
    c = std::max(Nint((static_cast<double>(db) - sensitivy_) * n / (-sensitivy_)), 0);
  } else {
    const float floor = static_cast<float>(kFullScale / std::pow(10.0, -sensitivy_ / 20.0));
    c = std::max(Nint((static_cast<double>(d) - floor) * n / (kFullScale - floor)), 0);
  }
  if (direction_ == dirSymetric) c /= 2;
  if (c > n) {
    GainOverflow();
    c = n;
  }
  bool held = false;
  {
    std::lock_guard<std::mutex> lock(peak_lock_);
    if (c >= peak_ && c > 0 && num_peaks_ > 0) {
      // The hold starts again; the picture changes only with a new peak.
      if (c != peak_) redraw_pending_ = true;
      peak_ = c;
      countdown_ = 2 * peak_delay_ + 1;
      held = true;
    }
  }
  // The marker has to fall: the tick runs (outside the peak lock, which
  // ticks take under the tick list's lock).
  if (held) SetTickIdle(tick_, false);
  {
    std::lock_guard<std::mutex> lock(peak_lock_);
    if (c == level_ && !redraw_pending_) return;
    redraw_pending_ = false;
  }
  level_ = c;
  PaintSoonIfLive();
  AccessibleValueChanged();
}

void TMMCustomLevel::ResetData() {
  const bool was_lit = level_ != 0;
  level_ = 0;
  {
    std::lock_guard<std::mutex> lock(peak_lock_);
    peak_ = 0;
    countdown_ = 0;
    SetTickIdle(tick_, true);
  }
  last_raw_ = 0;
  ResetDecay();
  PaintSoonIfLive();
  if (was_lit) AccessibleValueChanged();
}

// Changes reach the screen with the next paint: many changes within one
// display frame give one paint, which shows the latest state. Only the spots
// that change between what was last asked for and now are painted: a meter
// seldom moves more than a few spots a frame, and the rest of its picture
// need not travel to the display again.
void TMMCustomLevel::PaintSoonIfLive() {
  if (paint_holds > 0) {
    if (std::find(held_meters.begin(), held_meters.end(), this) == held_meters.end())
      held_meters.push_back(this);
    return;
  }
  if (!Live() || !Showing()) {
    asked_level_ = -1;  // nothing is painted: the next time, all of it
    return;
  }
  const int peak = Peak();
  const int old_level = std::exchange(asked_level_, level_);
  const int old_peak = std::exchange(asked_peak_, peak);
  if (old_level < 0 || on_draw_bar_ || direction_ == dirSymetric) {
    PaintSoon(draw_rect_);
    return;
  }
  // Each run of changed spots is one area.
  for (int i = 1; i <= num_spots_; ++i) {
    if (Lit(i, old_level, old_peak) == Lit(i, level_, peak)) continue;
    int last = i;
    while (last < num_spots_ && Lit(last + 1, old_level, old_peak) != Lit(last + 1, level_, peak))
      ++last;
    TRect a = SpotRect(i), b = SpotRect(last);
    const TRect area = Rect(std::min(a.Left, b.Left), std::min(a.Top, b.Top),
                            std::max(a.Right, b.Right), std::max(a.Bottom, b.Bottom));
    PaintSoon(OffsetRect(area, draw_rect_.Left, draw_rect_.Top));
    i = last;
  }
}

bool TMMCustomLevel::Lit(int i, int n, int p) const {
  return i <= n || (num_peaks_ > 0 && p > n && i <= p && i > p - num_peaks_);
}

int TMMCustomLevel::Peak() const {
  std::lock_guard<std::mutex> lock(peak_lock_);
  return peak_;
}

int TMMCustomLevel::Countdown() const {
  std::lock_guard<std::mutex> lock(peak_lock_);
  return countdown_;
}

// --- tick ---------------------------------------------------------------------

void TMMCustomLevel::TickCallback(void* owner) {
  static_cast<TMMCustomLevel*>(owner)->PeakTick();
}

void TMMCustomLevel::PeakTick() {
  bool moved = false;
  {
    std::lock_guard<std::mutex> lock(peak_lock_);
    if (peak_ > 0) {
      if (--countdown_ <= 0) {
        if (peak_speed_ == 0) {
          peak_ = 0;
          countdown_ = 0;
        } else {
          --peak_;
          countdown_ = peak_speed_;
        }
        if (peak_ == 0) SetTickIdle(tick_, true);
        redraw_pending_ = true;
        moved = true;
      }
    }
  }
  // The GUI thread shows the moved marker with its next frame; one request
  // at a time.
  if (moved && !repaint_posted_.exchange(true))
    if (!platform::PostMessageDeferred(window_handle_, WM_LEVELREPAINT, 0, 0))
      repaint_posted_ = false;
}

void TMMCustomLevel::HandleMessage(TMessage& msg) {
  if (msg.Msg != WM_LEVELREPAINT) return;
  repaint_posted_ = false;
  {
    std::lock_guard<std::mutex> lock(peak_lock_);
    if (!redraw_pending_ || !Live() || !Showing()) return;
    redraw_pending_ = false;
  }
  PaintSoonIfLive();
}

// --- geometry and painting ------------------------------------------------------

void TMMCustomLevel::SetBounds(int left, int top, int width, int height) {
  TMMDIBGraphicControl::SetBounds(left, top, width, height);
  if (background_) RecalcGeometry(true);
}

void TMMCustomLevel::BevelChanged() {
  RecalcGeometry(true);
  Invalidate();
}

void TMMCustomLevel::RecalcGeometry(bool resize) {
  if (resize) {
    const int e = Bevel()->BevelExtent();
    draw_rect_ = Rect(e, e, GetWidth() - e, GetHeight() - e);
    const int w = std::max(draw_rect_.Width(), 1), h = std::max(draw_rect_.Height(), 1);
    draw_rect_.Right = draw_rect_.Left + w;
    draw_rect_.Bottom = draw_rect_.Top + h;
    DIBCanvas()->SetBounds(0, 0, w, h);
    background_->SetBounds(0, 0, w, h);
  }
  spot_width_ = std::max(spot_width_, 1);
  const int length = kind_ == lkHorizontal ? draw_rect_.Width() : draw_rect_.Height();
  num_spots_ = std::max((length + spot_space_) / (spot_width_ + spot_space_), 1);
  margin_ = (length + spot_space_ - num_spots_ * (spot_width_ + spot_space_)) / 2;
  p1_ = point1_ * num_spots_ / 100;
  p2_ = point2_ * num_spots_ / 100;
  RebuildBackground();
  const int n = num_spots_;
  if (HasState(csDesigning) && enabled_) {
    if (p2_ < n)
      level_ = p2_ + (n - p2_) / 2;
    else if (p1_ < n)
      level_ = p1_ + (n - p1_) / 2;
    else
      level_ = n - n / 4;
  } else {
    std::lock_guard<std::mutex> lock(peak_lock_);
    peak_ = 0;
    level_ = 0;
    SetTickIdle(tick_, true);
  }
  asked_level_ = -1;
}

TRect TMMCustomLevel::SpotRect(int i) const {
  const int w = draw_rect_.Width(), h = draw_rect_.Height();
  const int step = spot_width_ + spot_space_;
  const int k = (i - 1) * step;
  const bool normal = direction_ == dirNormal;
  if (kind_ == lkHorizontal) {
    const int x = normal ? margin_ + k : w - margin_ - spot_width_ - k;
    return Rect(x, 0, x + spot_width_, h);
  }
  const int y = normal ? h - margin_ - spot_width_ - k : margin_ + k;
  return Rect(0, y, w, y + spot_width_);
}

void TMMCustomLevel::DrawSpots(TMMDIBCanvas& dib, int n, bool background, int peak,
                               const TRect& within) {
  const int offset = background ? 3 : 0;
  const bool dotted = background ? inactive_doted_ : active_doted_;
  auto zone = [&](int i) { return colors_[offset + (i > p2_ ? 2 : i > p1_ ? 1 : 0)]; };
  auto fill = [&](int i, TColor color) {
    if (IntersectRect(SpotRect(i), within).IsEmpty()) return;
    dib.SetDrawColor(color);
    if (dotted)
      dib.FillRectDotted(SpotRect(i));
    else
      dib.FillRect(SpotRect(i));
  };
  if (direction_ != dirSymetric || background) {
    for (int i = 1; i <= n; ++i) fill(i, zone(i));
  } else {
    n = std::clamp(n, 1, num_spots_);
    const TColor color = zone(n);
    for (int i = n - 2; i <= n + 2; ++i) fill(i, color);
  }
  if (num_peaks_ > 0 && peak > n)
    for (int i = peak; i > peak - num_peaks_; --i) fill(i, zone(i));
}

void TMMCustomLevel::RebuildBackground() {
  if (HasState(csLoading) || on_draw_bar_) return;
  background_->BeginDraw();
  background_->SetDrawColor(GetColor());
  background_->Clear();
  DrawSpots(*background_, num_spots_, true, 0, Rect(0, 0, draw_rect_.Width(), draw_rect_.Height()));
  background_->EndDraw();
}

void TMMCustomLevel::PaintLevel() {
  if (OnPaint) OnPaint(this);
  TMMDIBCanvas& frame = *DIBCanvas();
  int peak;
  {
    std::lock_guard<std::mutex> lock(peak_lock_);
    peak = peak_;
  }
  frame.BeginDraw();
  try {
    if (on_draw_bar_) {
      TRect r = Rect(0, 0, draw_rect_.Width(), draw_rect_.Height());
      on_draw_bar_(this, &frame, r, level_, peak);
    } else {
      // Only the part the paint covers is composed again: the rest of the
      // picture is on the screen already.
      const TRect part =
          IntersectRect(OffsetRect(GdiGetClip(Canvas()), -draw_rect_.Left, -draw_rect_.Top),
                        Rect(0, 0, frame.Width(), frame.Height()));
      frame.CopyBits(part, background_->Surface()->Bits());
      if (enabled_) DrawSpots(frame, level_, false, peak, part);
    }
    frame.DrawTo(Canvas(), draw_rect_, 0, 0);
  } catch (...) {
    frame.EndDraw();
    throw;
  }
  frame.EndDraw();
}

void TMMCustomLevel::Paint() {
  TMMDIBGraphicControl::Paint();
  PaintLevel();
}

void TMMCustomLevel::Loaded() {
  TMMDIBGraphicControl::Loaded();
  RebuildBackground();
  Invalidate();
}

void TMMCustomLevel::SetBitsPerPixel(int bits) {
  if (bits != 8 && bits != 24) throw EMMDIBError("Bitlength not supported yet");
  DIBCanvas()->SetBitsPerPixel(bits);
  background_->SetBitsPerPixel(bits);
  RebuildBackground();
  Invalidate();
}

void TMMCustomLevel::DoSetDesigning(bool on) {
  TMMDIBGraphicControl::DoSetDesigning(on);
  if (!on && !tick_) {
    tick_ = AddTick(kTickInterval, &TMMCustomLevel::TickCallback, this);
    SetTickIdle(tick_, Peak() == 0);
  }
}

void TMMCustomLevel::GainOverflow() {
  if (OnGainOverflow) OnGainOverflow(this);
}

void TMMCustomLevel::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

// --- decay --------------------------------------------------------------------

void TMMCustomLevel::ResetDecay() {
  std::memset(ring_, 0, sizeof ring_);
  ring_pos_ = ring_count_ = ring_sum_ = 0;
  decay_state_ = 0.0f;
}

void TMMCustomLevel::CalcDecay() {
  double f = 0.0001;
  for (int i = 0; i < decay_; ++i) f = static_cast<float>(std::sqrt(f));
  decay_factor_ = static_cast<float>(f);
  window_ = std::clamp(2 * decay_ - 2, 1, 32);
}

// --- properties -----------------------------------------------------------------

void TMMCustomLevel::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  if (v) {
    RecalcGeometry(false);
    ResumeTick(tick_);
  } else {
    ResetData();
    PauseTick(tick_);
  }
  Invalidate();
}

void TMMCustomLevel::SetKind(TMMLevelKind v) {
  if (v == kind_) return;
  kind_ = v;
  const int w = GetWidth(), h = GetHeight();
  if ((v == lkHorizontal && w < h) || (v == lkVertical && h < w))
    SetBounds(GetLeft(), GetTop(), h, w);
  else
    RecalcGeometry(false);
  Invalidate();
}

void TMMCustomLevel::SetSpotSpace(int v) {
  v = std::clamp(v, 0, 10);
  if (v == spot_space_) return;
  spot_space_ = v;
  RecalcGeometry(false);
  Invalidate();
}

void TMMCustomLevel::SetSpotWidth(int v) {
  const int length = kind_ == lkHorizontal ? draw_rect_.Width() : draw_rect_.Height();
  v = std::clamp(v, 1, std::max(length / 3, 1));
  if (v == spot_width_) return;
  spot_width_ = v;
  RecalcGeometry(false);
  Invalidate();
}

void TMMCustomLevel::SetLevelColor(int index, TColor v) {
  if (index < 0 || index > 5 || v == colors_[index]) return;
  colors_[index] = v;
  RebuildBackground();
  Invalidate();
}

void TMMCustomLevel::SetInactiveDoted(bool v) {
  if (v == inactive_doted_) return;
  inactive_doted_ = v;
  RebuildBackground();
  Invalidate();
}

void TMMCustomLevel::SetActiveDoted(bool v) {
  if (v == active_doted_) return;
  active_doted_ = v;
  RebuildBackground();
  Invalidate();
}

void TMMCustomLevel::SetPoint(int index, int v) {
  v = std::clamp(v, 1, 100);
  int& point = index == 0 ? point1_ : point2_;
  if (v == point) return;
  point = v;
  RecalcGeometry(false);
  Invalidate();
}

void TMMCustomLevel::SetDirection(TMMLevelDirection v) {
  if (v == direction_) return;
  direction_ = v;
  RebuildBackground();
  Invalidate();
}

void TMMCustomLevel::SetColor(TColor c) {
  if (c == GetColor()) return;
  TControl::SetColor(c);
  RebuildBackground();
  Invalidate();
}

void TMMCustomLevel::SetBitLength(TMMBits v) {
  if (v == bits_) return;
  bits_ = v;
  CalcBytesPerRefresh();
  Invalidate();
}

void TMMCustomLevel::SetChannel(TMMChannel v) {
  if (v == channel_) return;
  channel_ = v;
  CalcBytesPerRefresh();
  Invalidate();
}

void TMMCustomLevel::SetMode(TMMMode v) {
  if (v == mode_) return;
  mode_ = v;
  if (v == mMono)
    frame_channels_ = 1;
  else if (v == mStereo)
    frame_channels_ = 2;
  else if (frame_channels_ <= 2)
    frame_channels_ = 4;
  CalcBytesPerRefresh();
  Invalidate();
}

void TMMCustomLevel::SetGain(int v) {
  if (v < -8 || v > 32 || v + 8 == gain_) return;
  gain_ = v + 8;
  Invalidate();
}

void TMMCustomLevel::SetSamples(int v) {
  v = std::max(v, 1);
  if (v == samples_) return;
  samples_ = v;
  CalcBytesPerRefresh();
}

void TMMCustomLevel::SetSensitivy(int v) {
  sensitivy_ = std::clamp(v, -90, -9);
}

void TMMCustomLevel::SetLogAmp(bool v) {
  if (v == log_amp_) return;
  log_amp_ = v;
  Invalidate();
}

void TMMCustomLevel::SetNumPeaks(int v) {
  v = std::clamp(v, 0, 5);
  if (v == num_peaks_) return;
  {
    std::lock_guard<std::mutex> lock(peak_lock_);
    num_peaks_ = v;
    countdown_ = 0;
  }
  if (v == 0)
    PauseTick(tick_);
  else if (enabled_)
    ResumeTick(tick_);
  Invalidate();
}

void TMMCustomLevel::SetPeakDelay(int v) {
  v = std::clamp(v, 0, 50);
  std::lock_guard<std::mutex> lock(peak_lock_);
  if (v == peak_delay_) return;
  peak_delay_ = v;
  countdown_ = 0;
  Invalidate();
}

void TMMCustomLevel::SetPeakSpeed(int v) {
  v = std::clamp(v, 0, 50);
  std::lock_guard<std::mutex> lock(peak_lock_);
  if (v == peak_speed_) return;
  peak_speed_ = v;
  countdown_ = 0;
  Invalidate();
}

void TMMCustomLevel::SetDecayMode(TMMDecayMode v) {
  if (v == decay_mode_) return;
  decay_mode_ = v;
  ResetDecay();
}

void TMMCustomLevel::SetDecay(int v) {
  v = std::clamp(v, 1, 16);
  if (v == decay_) return;
  decay_ = v;
  CalcDecay();
  if (decay_mode_ == dmUniform) ResetDecay();
}

int TMMCustomLevel::GetValue() const {
  if (level_ == 0) return 0;
  if (!log_amp_) return Nint(static_cast<double>(level_) * 100 / num_spots_);
  const double s = sensitivy_;
  return Nint(std::pow(10.0, (s - s * level_ / num_spots_) / 20.0) * 8 / gain_ * 100);
}

bool TMMCustomLevel::AccessibleValue(TAccessibleValue& value) const {
  value.Current = GetValue();
  value.Minimum = 0;
  value.Maximum = 100;
  value.Text = std::to_string(GetValue()) + "%";
  return true;
}

void TMMCustomLevel::SetValue(int v) {
  v = std::clamp(v, 0, 100);
  UpdateLevel(Nint(static_cast<double>(v) * kFullScale / 100));
}

void TMMCustomLevel::SetDCOffset(int index, int v) {
  if (index < 0 || index > 1) return;
  dc_offset_[index] = -v;
}

void TMMCustomLevel::SetOnDrawBar(TMMLevelDrawBar handler) {
  on_draw_bar_ = std::move(handler);
  if (!on_draw_bar_) RebuildBackground();
  Invalidate();
}
