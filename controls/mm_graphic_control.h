#pragma once

#include "controls/mm_bevel.h"
#include "platform/framework/graphic_control.h"

// A windowless control inside a bevel: paints the bevel and fills the area
// inside it with its colour.
class TMMGraphicControl : public TGraphicControl {
 public:
  explicit TMMGraphicControl(TComponent* owner);
  ~TMMGraphicControl() override;

  TMMBevel* Bevel() const { return bevel_; }
  // Copies the values of bevel; the control keeps its own object.
  void SetBevel(const TMMBevel& bevel) { bevel_->Assign(bevel); }

  // Switches design mode; the work is done only on an actual change.
  void SetDesigning(bool on);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  virtual void DoSetDesigning(bool on);
  virtual void BevelChanged() { Invalidate(); }
  void Paint() override;
  bool skip_background_fill_ = false;

 private:
  TMMBevel* bevel_;
};
