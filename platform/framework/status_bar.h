#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/framework/controls.h"

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TStatusPanelBevel { pbNone, pbLowered, pbRaised };

class TStatusBar;

// One panel of a status bar: a text in a sunken (or raised, or flat) field.
// Panels are items of their bar's Panels collection, owned by the bar.
class TStatusPanel : public TComponent {
 public:
  explicit TStatusPanel(TStatusBar* bar);

  const std::string& GetText() const { return text_; }
  void SetText(const std::string& v);
  int GetWidth() const { return width_; }
  void SetWidth(int v);
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  TStatusPanelBevel GetBevel() const { return bevel_; }
  void SetBevel(TStatusPanelBevel v);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  TStatusBar* bar_;
  std::string text_;
  int width_ = 50;
  TAlignment alignment_ = taLeftJustify;
  TStatusPanelBevel bevel_ = pbLowered;
};

// A status bar: panels side by side from its left edge, each as wide as its
// Width, the last one reaching to the bar's right edge. With SimplePanel it
// shows SimpleText in one field instead.
class TStatusBar : public TControl {
 public:
  explicit TStatusBar(TComponent* owner);
  ~TStatusBar() override;

  int PanelCount() const { return static_cast<int>(panels_.size()); }
  TStatusPanel* Panels(int i) const { return panels_.at(static_cast<std::size_t>(i)).get(); }
  TStatusPanel* AddPanel();
  void ClearPanels();
  // Left and right edge (exclusive) of panel i in the bar.
  int PanelLeft(int i) const;
  int PanelRight(int i) const;

  bool GetSimplePanel() const { return simple_panel_; }
  void SetSimplePanel(bool v);
  const std::string& GetSimpleText() const { return simple_text_; }
  void SetSimpleText(const std::string& v);

  // Read as one text: its panels' texts, or the simple text.
  TAccessibleRole AccessibleRole() const override { return arStaticText; }

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  std::string DefaultAccessibleName() const override;

 private:
  std::vector<std::unique_ptr<TStatusPanel>> panels_;
  bool simple_panel_ = false;
  std::string simple_text_;
};
