#pragma once

#include <string>

#include "app/info_links.h"
#include "platform/framework/application.h"
#include "platform/framework/button.h"
#include "platform/framework/form.h"
#include "platform/framework/status_bar.h"

// What the notice line shows before the year.
inline constexpr const char* kNoticePrefix = "\u00a9 Quorvane ";

// The info window: the product's title, the maker's particulars, a logo, the
// donation appeal with its button, the web and mail links and a close button.
// Its layout shows it at once, centred on the screen and above other windows.
class TFrmInfo : public TForm {
 public:
  explicit TFrmInfo(TComponent* owner, TInfoLinks links = BuiltInfoLinks(Application->ExeDir()));
  ~TFrmInfo() override;

  // Writes the notice line with the current year.
  void FormShow(TComponent* sender);
  // The web link.
  void MMLabel3Click(TComponent* sender);
  // The mail link.
  void MMLabel7Click(TComponent* sender);
  // The donation button.
  void Image2Click(TComponent* sender);
  // Hides the window.
  void Button1Click(TComponent* sender);

  const TInfoLinks& Links() const { return links_; }

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  TBevel* Bevel4 = nullptr;
  TImage* Image1 = nullptr;
  TStatusBar* StatusBar3 = nullptr;
  TStatusBar* StatusBar1 = nullptr;
  TLabel* Label9 = nullptr;
  TLabel* Label12 = nullptr;
  TLabel* Label1 = nullptr;
  TLabel* Label2 = nullptr;
  TLabel* Label5 = nullptr;
  TBevel* Bevel3 = nullptr;
  TLabel* Label4 = nullptr;
  TLabel* Label6 = nullptr;
  TLabel* Label3 = nullptr;
  TPictureButton* Image2 = nullptr;
  TButton* Button1 = nullptr;

 protected:
  // Finds the controls and puts the build's addresses on the links.
  void Loaded() override;

 private:
  // Hands an address to the desktop; a link that cannot be opened does nothing.
  void Open(const std::string& address);

  TInfoLinks links_;
};

// The current year in four digits, local time.
std::string CurrentYear();
