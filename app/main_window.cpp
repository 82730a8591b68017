#include "app/main_window.h"

#include "app/placement_store.h"
#include "devices/wave_devices.h"
#include "platform/framework/properties.h"

namespace {

constexpr int kRows = 9;

}  // namespace

TForm1::TForm1(TComponent* owner) : TForm(owner) {
  PublishMethod("FormCreate", [this](TComponent* s) { FormCreate(s); });
  PublishMethod("FormShow", [this](TComponent* s) { FormShow(s); });
  PublishMethod("btn_refreshClick", [this](TComponent* s) { btn_refreshClick(s); });
  PublishMethod("btn_closeClick", [this](TComponent* s) { btn_closeClick(s); });
  PublishMethod("FormClose", [this](TComponent* s, TCloseAction& a) { FormClose(s, a); });
  CreateFromLayout(":/layouts/main.layout");
}

TForm1::~TForm1() {
  DestroyComponents();
}

template <class T>
T* TForm1::Field(const std::string& name) {
  T* c = FindAs<T>(name);
  if (!c) throw Exception("The main window's layout lacks " + name);
  return c;
}

void TForm1::Loaded() {
  TForm::Loaded();
  Image1 = Field<TImage>("Image1");
  Label1 = Field<TLabel>("Label1");
  Label2 = Field<TLabel>("Label2");
  Label3 = Field<TLabel>("Label3");
  Label6 = Field<TLabel>("Label6");
  for (std::size_t i = 0; i < Lab.size(); ++i)
    Lab[i] = Field<TLabel>("Lab" + std::to_string(i + 1));
  for (std::size_t i = 0; i < Button.size(); ++i)
    Button[i] = Field<TPictureButton>("Button" + std::to_string(i + 1));
  btn_refresh = Field<TPictureButton>("btn_refresh");
  btn_close = Field<TPictureButton>("btn_close");
  Bevel3 = Field<TBevel>("Bevel3");
  MMWaveIn1 = Field<TMMWaveIn>("MMWaveIn1");
  MMWaveIn2 = Field<TMMWaveIn>("MMWaveIn2");
  MMWaveOut1 = Field<TMMWaveOut>("MMWaveOut1");
  for (std::size_t i = 0; i < MMLevel.size(); ++i)
    MMLevel[i] = Field<TMMLevel>("MMLevel" + std::to_string(i + 1));
  for (std::size_t i = 0; i < In.size(); ++i)
    In[i] = Field<TMMWaveIn>("In" + std::to_string(i + 1));
  for (std::size_t i = 0; i < MMConnector.size(); ++i)
    MMConnector[i] = Field<TMMConnector>("MMConnector" + std::to_string(i + 1));
}

void TForm1::FormCreate(TComponent*) {
  // Each value defaults to where the window is now, so a missing or unusable
  // value leaves that coordinate as the layout put it.
  SetTop(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", GetTop()).AsInteger());
  SetLeft(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", GetLeft()).AsInteger());
  SetWidth(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", GetWidth()).AsInteger());
  SetHeight(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "hei", GetHeight()).AsInteger());
}

void TForm1::FormShow(TComponent*) {
  // The counts are those taken when the counting components were created.
  const int n_in = MMWaveIn1->GetNumDevs();
  if (n_in > 0) Label1->SetCaption(std::to_string(n_in));
  for (int k = 0; k < n_in && k < kRows; ++k) Lab[k]->SetCaption(WaveInDeviceName(k));

  const int n_out = MMWaveOut1->GetNumDevs();
  if (n_out > 0) Label2->SetCaption(std::to_string(n_out));
  for (int k = 0; k < n_out && k < kRows; ++k) Lab[kRows + k]->SetCaption(WaveOutDeviceName(k));

  StartInputRows(n_in);
}

void TForm1::StartInputRows(int n_in) {
  for (int i = 1; i <= n_in; ++i) {
    try {
      auto* row = dynamic_cast<TMMWaveIn*>(FindComponent("In" + std::to_string(i)));
      if (!row) continue;
      row->SetDeviceID(i - 1);
      row->Start();
    } catch (const std::exception&) {
      // A row that cannot run stays still; the others go on.
    }
  }
}

void TForm1::btn_refreshClick(TComponent*) {
  FormShow(this);
}

void TForm1::btn_closeClick(TComponent*) {
  Close();
}

void TForm1::FormClose(TComponent*, TCloseAction&) {
  SyncFromScreen();
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", GetTop());
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", GetLeft());
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", GetWidth());
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "hei", GetHeight());
}

const TClassInfo& TForm1::StaticClassInfo() {
  static const TClassInfo info =
      TClassInfoBuilder<TForm1>("TForm1", &TForm::StaticClassInfo()).Build();
  return info;
}
