#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "controls/level_tick.h"
#include "controls/mm_dib.h"
#include "devices/mm_types.h"
#include "devices/wave_format.h"
#include "platform/messages/messages.h"

class EMMLevelError : public Exception {
 public:
  using Exception::Exception;
};

enum TMMLevelKind { lkHorizontal, lkVertical };
enum TMMLevelDirection { dirNormal, dirReversed, dirSymetric };

class TMMCustomLevel;

// While one of these lives on the calling thread, meters that change there
// only take note; when the outermost one ends, each asks once for a paint of
// all its changes. For showing many slices in one go.
class TLevelPaintHold {
 public:
  TLevelPaintHold();
  ~TLevelPaintHold();
  TLevelPaintHold(const TLevelPaintHold&) = delete;
  TLevelPaintHold& operator=(const TLevelPaintHold&) = delete;
};

using TMMLevelDrawBar =
    std::function<void(TComponent* sender, TMMDIBCanvas* dib, TRect& rect, int nSpots, int peak)>;

// A peak level meter: reduces each block of PCM samples to one peak, lets it
// decay, shows it as lit spots in three colour zones with a falling peak
// marker, and paints with the next display frame when the picture changes.
class TMMCustomLevel : public TMMDIBGraphicControl {
 public:
  explicit TMMCustomLevel(TComponent* owner);
  ~TMMCustomLevel() override;

  // Fed by a connector.
  void SetPWaveFormat(const WAVEFORMATEX* format);
  int BytesPerRefresh() const { return bytes_per_refresh_; }
  void RefreshPCMData(const void* data);
  void ResetData();
  void UpdateLevel(int raw);

  void SetBounds(int left, int top, int width, int height) override;
  void SetBitsPerPixel(int bits) override;
  void Loaded() override;

  // State, for the owner and for checks.
  int SpotCount() const { return num_spots_; }
  int Margin() const { return margin_; }
  int Point1Spots() const { return p1_; }
  int Point2Spots() const { return p2_; }
  int Level() const { return level_; }
  int Peak() const;
  int Countdown() const;
  TRect DrawingRect() const { return draw_rect_; }
  float DecayFactor() const { return decay_factor_; }
  int DecayWindow() const { return window_; }
  int LastRawValue() const { return last_raw_; }
  TMMDIBCanvas* BackgroundDIB() const { return background_.get(); }
  bool HasTickEntry() const { return tick_ != nullptr; }
  // Spot i (1 … N) in drawing-area coordinates.
  TRect SpotRect(int i) const;
  // One 25 ms tick of the peak marker (normally on the timer thread).
  void PeakTick();

  // Published properties.
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v);
  TMMLevelKind GetKind() const { return kind_; }
  void SetKind(TMMLevelKind v);
  int GetSpotSpace() const { return spot_space_; }
  void SetSpotSpace(int v);
  int GetSpotWidth() const { return spot_width_; }
  void SetSpotWidth(int v);
  TColor GetLevelColor(int index) const { return colors_[index]; }
  void SetLevelColor(int index, TColor v);
  bool GetInactiveDoted() const { return inactive_doted_; }
  void SetInactiveDoted(bool v);
  bool GetActiveDoted() const { return active_doted_; }
  void SetActiveDoted(bool v);
  int GetPoint(int index) const { return index == 0 ? point1_ : point2_; }
  void SetPoint(int index, int v);
  TMMLevelDirection GetDirection() const { return direction_; }
  void SetDirection(TMMLevelDirection v);
  TMMBits GetBitLength() const { return bits_; }
  void SetBitLength(TMMBits v);
  TMMChannel GetChannel() const { return channel_; }
  void SetChannel(TMMChannel v);
  TMMMode GetMode() const { return mode_; }
  void SetMode(TMMMode v);
  int GetGain() const { return gain_ - 8; }
  void SetGain(int v);
  int GetSamples() const { return samples_; }
  void SetSamples(int v);
  int GetSensitivy() const { return sensitivy_; }
  void SetSensitivy(int v);
  bool GetLogAmp() const { return log_amp_; }
  void SetLogAmp(bool v);
  int GetNumPeaks() const { return num_peaks_; }
  void SetNumPeaks(int v);
  int GetPeakDelay() const { return peak_delay_; }
  void SetPeakDelay(int v);
  int GetPeakSpeed() const { return peak_speed_; }
  void SetPeakSpeed(int v);
  TMMDecayMode GetDecayMode() const { return decay_mode_; }
  void SetDecayMode(TMMDecayMode v);
  int GetDecay() const { return decay_; }
  void SetDecay(int v);
  int GetValue() const;
  void SetValue(int v);
  int GetDCOffset(int index) const { return -dc_offset_[index]; }
  void SetDCOffset(int index, int v);
  void SetOnDrawBar(TMMLevelDrawBar handler);
  const TMMLevelDrawBar& GetOnDrawBar() const { return on_draw_bar_; }
  void SetColor(TColor c);

  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;
  TNotifyEvent OnPaint;

  // Readers are told Value, in percent of full scale.
  TAccessibleRole AccessibleRole() const override { return arLevelMeter; }
  bool AccessibleValue(TAccessibleValue& value) const override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  void Paint() override;
  void DoSetDesigning(bool on) override;
  void BevelChanged() override;
  virtual void GainOverflow();
  virtual void PcmOverflow();

 private:
  void RecalcGeometry(bool resize);
  void RebuildBackground();
  // Draws the spots that meet `within` (drawing-area coordinates).
  void DrawSpots(TMMDIBCanvas& dib, int n, bool background, int peak, const TRect& within);
  void PaintLevel();
  void ResetDecay();
  void CalcDecay();
  void CalcBytesPerRefresh();
  bool Live() const { return enabled_ && GetVisible(); }
  // Asks for the spots whose picture changed since the last request to be
  // painted with the next frame.
  void PaintSoonIfLive();
  friend class TLevelPaintHold;
  // Whether spot i is lit (drawn in its zone's colour) at level n and peak p.
  bool Lit(int i, int n, int p) const;
  static void TickCallback(void* owner);
  void HandleMessage(TMessage& msg);

  std::unique_ptr<TMMDIBCanvas> background_;
  TTickEntry* tick_ = nullptr;
  HWND window_handle_ = 0;
  std::atomic<bool> repaint_posted_{false};

  TRect draw_rect_{0, 0, 1, 1};
  int num_spots_ = 1, margin_ = 0, p1_ = 0, p2_ = 0;
  int level_ = 0;
  // The level and peak the screen shows once the paints asked for have run;
  // -1 when unknown (the next request paints the whole drawing area).
  int asked_level_ = -1, asked_peak_ = -1;
  // Shared with the tick thread.
  mutable std::mutex peak_lock_;
  int peak_ = 0;
  int countdown_ = 0;
  bool redraw_pending_ = false;

  int last_raw_ = 0;
  int gain_ = 8;
  int dc_offset_[2] = {0, 0};
  int bytes_per_refresh_ = 50;
  // Samples per frame: 1 mono, 2 stereo, the stream's count for more channels.
  int frame_channels_ = 1;
  float decay_factor_ = 0.01f;
  int window_ = 1;
  int ring_[32] = {};
  int ring_pos_ = 0, ring_count_ = 0, ring_sum_ = 0;
  float decay_state_ = 0.0f;

  bool enabled_ = true;
  TMMLevelKind kind_ = lkHorizontal;
  int spot_space_ = 1;
  int spot_width_ = 1;
  TColor colors_[6] = {16776960, 16776960, 255, 8421376, 8421376, 128};
  bool inactive_doted_ = false;
  bool active_doted_ = false;
  int point1_ = 50, point2_ = 85;
  TMMLevelDirection direction_ = dirNormal;
  TMMBits bits_ = b8Bit;
  TMMChannel channel_ = chBoth;
  TMMMode mode_ = mMono;
  int samples_ = 50;
  int sensitivy_ = -35;
  bool log_amp_ = true;
  int num_peaks_ = 1;
  int peak_delay_ = 20;
  int peak_speed_ = 0;
  TMMDecayMode decay_mode_ = dmNone;
  int decay_ = 1;
  TMMLevelDrawBar on_draw_bar_;
};

class TMMLevel : public TMMCustomLevel {
 public:
  explicit TMMLevel(TComponent* owner) : TMMCustomLevel(owner) {}
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// Makes TMMLevel (and its names) known to layouts.
void RegisterLevelControls();
