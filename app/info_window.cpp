#include "app/info_window.h"

#include <cstdio>
#include <ctime>

#include "platform/framework/properties.h"
#include "platform/shell/shell.h"

TFrmInfo::TFrmInfo(TComponent* owner, TInfoLinks links) : TForm(owner), links_(std::move(links)) {
  PublishMethod("FormShow", [this](TComponent* s) { FormShow(s); });
  PublishMethod("MMLabel3Click", [this](TComponent* s) { MMLabel3Click(s); });
  PublishMethod("MMLabel7Click", [this](TComponent* s) { MMLabel7Click(s); });
  PublishMethod("Image2Click", [this](TComponent* s) { Image2Click(s); });
  PublishMethod("Button1Click", [this](TComponent* s) { Button1Click(s); });
  CreateFromLayout(":/layouts/info.layout");
}

TFrmInfo::~TFrmInfo() {
  DestroyComponents();
}

void TFrmInfo::Loaded() {
  TForm::Loaded();
  Bevel4 = FindRequired<TBevel>("Bevel4");
  Image1 = FindRequired<TImage>("Image1");
  StatusBar3 = FindRequired<TStatusBar>("StatusBar3");
  StatusBar1 = FindRequired<TStatusBar>("StatusBar1");
  Label9 = FindRequired<TLabel>("Label9");
  Label12 = FindRequired<TLabel>("Label12");
  Label1 = FindRequired<TLabel>("Label1");
  Label2 = FindRequired<TLabel>("Label2");
  Label5 = FindRequired<TLabel>("Label5");
  Bevel3 = FindRequired<TBevel>("Bevel3");
  Label4 = FindRequired<TLabel>("Label4");
  Label6 = FindRequired<TLabel>("Label6");
  Label3 = FindRequired<TLabel>("Label3");
  Image2 = FindRequired<TPictureButton>("Image2");
  Button1 = FindRequired<TButton>("Button1");
  Label9->SetCaption(links_.Mail);
  Label9->SetVisible(!links_.Mail.empty());
  Label12->SetCaption(links_.WebText);
}

void TFrmInfo::FormShow(TComponent*) {
  Label3->SetCaption(kNoticePrefix + CurrentYear());
}

void TFrmInfo::MMLabel3Click(TComponent*) {
  Open(links_.Web);
}

void TFrmInfo::MMLabel7Click(TComponent*) {
  if (!links_.Mail.empty()) Open("mailto:" + links_.Mail);
}

void TFrmInfo::Image2Click(TComponent*) {
  Open(links_.Donation);
}

void TFrmInfo::Button1Click(TComponent*) {
  Close();
}

void TFrmInfo::Open(const std::string& address) {
  ShellExecuteA(Handle(), "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

const TClassInfo& TFrmInfo::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TFrmInfo>("TFrmInfo", &TForm::StaticClassInfo()).Build();
  return info;
}

std::string CurrentYear() {
  const std::time_t now = std::time(nullptr);
  // The C library's shared result: the info window is made on the GUI thread only.
  const std::tm* local = std::localtime(&now);
  char year[16];
  std::snprintf(year, sizeof year, "%04d", local ? local->tm_year + 1900 : 1970);
  return year;
}
