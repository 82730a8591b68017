#include "app/main_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/app_classes.h"
#include "app/placement_store.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/application.h"

namespace {

std::string VirtualInputs(int n) {
  std::string selection = "virtual:in=";
  for (int i = 1; i <= n; ++i)
    selection += (i > 1 ? "|" : "") + std::string("Input ") + std::to_string(i) + "@440:-6:-6";
  return selection + ";out=Speakers|Headset";
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    RegisterAppClasses();
    config_ =
        std::filesystem::temp_directory_path() / ("tessaline-window-" + std::to_string(::getpid()));
    std::filesystem::remove_all(config_);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  void TearDown() override {
    platform::SelectAudioBackend("virtual");
    std::filesystem::remove_all(config_);
  }
  std::unique_ptr<TForm1> Open(const std::string& audio) {
    EXPECT_TRUE(platform::SelectAudioBackend(audio));
    auto form = std::make_unique<TForm1>(nullptr);
    form->Show();  // runs FormShow
    return form;
  }
  std::filesystem::path config_;
};

TEST_F(MainWindowTest, LayoutPlacesTheWindowAndItsControls) {
  auto form = Open("virtual:in=;out=");
  EXPECT_EQ(form->GetCaption(), "TESSALINE AUDIO DRIVER");
  EXPECT_EQ(form->GetClientWidth(), 719);
  EXPECT_EQ(form->GetClientHeight(), 775);
  EXPECT_EQ(form->GetLeft(), 723);
  EXPECT_EQ(form->GetTop(), 129);
  EXPECT_EQ(form->GetBorderStyle(), bsToolWindow);
  EXPECT_EQ(form->GetBorderIcons(), 0u);
  EXPECT_EQ(form->Image1->GetLeft(), -8);
  EXPECT_EQ(form->Image1->PictureWidth(), 749);
  EXPECT_EQ(form->Image1->PictureHeight(), 779);
  EXPECT_EQ(form->Button[8]->GetTop(), 620);
  EXPECT_EQ(form->Button[0]->PictureWidth(), 45);
  EXPECT_EQ(form->btn_close->GetLeft(), 384);
  EXPECT_EQ(form->Lab[3]->GetTop(), 303);
  EXPECT_EQ(form->Lab[12]->GetLeft(), 386);
  EXPECT_EQ(form->Label1->Font().Color, RGB(255, 128, 0));
  EXPECT_EQ(form->Lab[0]->Font().Color, RGB(253, 196, 108));
  EXPECT_EQ(form->Lab[0]->Font().Height, -13);
  EXPECT_EQ(form->Bevel3->GetStyle(), bsRaised);
}

TEST_F(MainWindowTest, NoInputsLeavesTheCountAndRowsUntouched) {
  auto form = Open("virtual:in=;out=");
  EXPECT_EQ(form->Label1->GetCaption(), "10");
  EXPECT_EQ(form->Label2->GetCaption(), "10");
  EXPECT_EQ(form->Lab[0]->GetCaption(), "_____");
  EXPECT_EQ(form->Lab[9]->GetCaption(), "____");
}

TEST_F(MainWindowTest, ThreeInputsFillTheirRows) {
  auto form = Open(VirtualInputs(3));
  EXPECT_EQ(form->Label1->GetCaption(), "3");
  EXPECT_EQ(form->Label2->GetCaption(), "2");
  EXPECT_EQ(form->Lab[0]->GetCaption(), "Input 1");
  EXPECT_EQ(form->Lab[2]->GetCaption(), "Input 3");
  EXPECT_EQ(form->Lab[3]->GetCaption(), "_____");
  EXPECT_EQ(form->Lab[9]->GetCaption(), "Speakers");
  EXPECT_EQ(form->Lab[10]->GetCaption(), "Headset");
  EXPECT_EQ(form->Lab[11]->GetCaption(), "____");
}

TEST_F(MainWindowTest, InputRowsCaptureTheirOwnDevicesAndRefreshLeavesThemRunning) {
  auto form = Open(VirtualInputs(3));
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(form->In[k]->DeviceState() & dsStarted) << k;
    EXPECT_EQ(form->In[k]->GetDeviceID(), k);
    EXPECT_EQ(form->MMConnector[k]->GetLevel1(), form->MMLevel[2 * k]);
    EXPECT_EQ(form->MMConnector[k]->GetInput(), form->In[k]);
  }
  EXPECT_EQ(form->In[3]->DeviceState(), static_cast<std::uint32_t>(dsClosed));
  EXPECT_EQ(form->In[9]->GetOutput(), form->MMConnector[9]);
  EXPECT_EQ(form->MMConnector[10]->GetLevel2(), form->MMLevel[19]);
  auto* first = form->In[0];
  form->btn_refresh->Click();
  EXPECT_EQ(form->In[0], first);
  EXPECT_TRUE(form->In[0]->DeviceState() & dsStarted);
  EXPECT_EQ(form->In[0]->GetDeviceID(), 0);
  // The rows' meters come alive.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (form->MMLevel[0]->Level() == 0 && std::chrono::steady_clock::now() < deadline)
    WaitAndPump(10, true);
  EXPECT_GT(form->MMLevel[0]->Level(), 0);
}

TEST_F(MainWindowTest, TwelveInputsShowNineRowsAndRefreshKeepsTheCount) {
  auto form = Open(VirtualInputs(12));
  EXPECT_EQ(form->Label1->GetCaption(), "12");
  EXPECT_EQ(form->Lab[8]->GetCaption(), "Input 9");
  EXPECT_EQ(form->Lab[9]->GetCaption(), "Speakers");  // not Input 10

  // A refresh reads the names again but keeps the counts taken at start.
  platform::SelectAudioBackend("virtual:in=Renamed|Other;out=Speakers|Headset");
  form->btn_refresh->Click();
  EXPECT_EQ(form->Label1->GetCaption(), "12");
  EXPECT_EQ(form->Lab[0]->GetCaption(), "Renamed");
  EXPECT_EQ(form->Lab[1]->GetCaption(), "Other");
  EXPECT_EQ(form->Lab[2]->GetCaption(), "");  // no such device any more
}

TEST_F(MainWindowTest, PlacementRoundTrip) {
  {
    auto form = Open(VirtualInputs(1));
    form->SetBounds(100, 50, 735, 814);
    form->btn_close->Click();
    EXPECT_FALSE(form->GetVisible());
  }
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", 0).AsInteger(), 735);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "hei", 0).AsInteger(), 814);
  {
    auto form = Open(VirtualInputs(1));
    EXPECT_EQ(form->GetLeft(),
              ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", -1).AsInteger());
    EXPECT_EQ(form->GetTop(),
              ReadRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", -1).AsInteger());
  }
  // A "top" stored as text is ignored, the other values still apply; sizes
  // are limited by the window's maximum size.
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "top", TVariant("40"));
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "left", 77);
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "wide", 5000);
  WriteRegValue(HKEY_CURRENT_USER, kPlacementKey, "hei", 700);
  auto form = Open(VirtualInputs(1));
  EXPECT_EQ(form->GetTop(), 129);
  EXPECT_EQ(form->GetLeft(), 77);
  EXPECT_EQ(form->GetWidth(), 735);
  EXPECT_EQ(form->GetHeight(), 700);
}

}  // namespace
