#include <gtest/gtest.h>

#include "app/app_classes.h"
#include "capture/wave_in.h"
#include "devices/mm_strings.h"
#include "platform/audio/audio_backend.h"
#include "platform/framework/layout_reader.h"
#include "platform/framework/properties.h"
#include "playback/wave_out.h"

namespace {

class TLayoutRoot : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TLayoutRoot>("TLayoutRoot", &TComponent::StaticClassInfo()).Build();
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

class DeviceComponentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterAppClasses();
    ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=Mic A|Mic B;out=Speakers"));
  }
  void TearDown() override { platform::SelectAudioBackend("virtual"); }
};

TEST_F(DeviceComponentsTest, LayoutsNameTheSpecialDevicesInAnyLetterCase) {
  TLayoutRoot root(nullptr);
  ReadLayout(root,
             "object Root: TLayoutRoot\n"
             "  object In1: TMMWaveIn\n"
             "    DeviceID = mapperid\n"
             "    ProductName = 'ignored'\n"
             "  end\n"
             "  object In2: TMMWaveIn\n"
             "    DeviceID = INVALIDID\n"
             "  end\n"
             "  object In3: TMMWaveIn\n"
             "    DeviceID = 1\n"
             "  end\n"
             "  object Out1: TMMWaveOut\n"
             "    DeviceID = MapperId\n"
             "  end\n"
             "end\n");
  auto* in1 = root.FindAs<TMMWaveIn>("In1");
  auto* in2 = root.FindAs<TMMWaveIn>("In2");
  auto* in3 = root.FindAs<TMMWaveIn>("In3");
  ASSERT_TRUE(in1 && in2 && in3);
  EXPECT_EQ(in1->GetDeviceID(), MapperId);
  EXPECT_EQ(in2->GetDeviceID(), InvalidId);
  EXPECT_EQ(in3->GetDeviceID(), 1);
  EXPECT_EQ(in3->GetProductName(), "Mic B");
  EXPECT_EQ(in2->GetProductName(), "No wave audio recording device found");
  EXPECT_EQ(ReadPropertyText(*in1, "DeviceID"), "MapperId");
  EXPECT_EQ(ReadPropertyText(*in2, "DeviceID"), "InvalidId");
  EXPECT_EQ(ReadPropertyText(*in3, "DeviceID"), "1");
  EXPECT_EQ(ReadPropertyText(*in1, "ProductName"), "'Default recording device'");
  EXPECT_EQ(root.FindAs<TMMWaveOut>("Out1")->GetNumDevs(), 1);

  TLayoutRoot bad(nullptr);
  EXPECT_THROW(ReadLayout(bad,
                          "object Root: TLayoutRoot\n  object X: TMMWaveIn\n    DeviceID = "
                          "Mapper\n  end\nend\n"),
               ELayoutError);
}

TEST_F(DeviceComponentsTest, DeviceSelectionOfTheComponents) {
  TMMWaveIn in(nullptr);
  EXPECT_EQ(in.GetNumDevs(), 2);
  EXPECT_EQ(in.GetDeviceID(), 0);  // the constructor selects device 0
  EXPECT_EQ(in.GetProductName(), "Mic A");
  EXPECT_EQ(in.DeviceState(), static_cast<std::uint32_t>(dsClosed));
  in.SetDeviceID(5);
  EXPECT_EQ(in.GetDeviceID(), InvalidId);
  EXPECT_EQ(in.GetProductName(), "No wave audio recording device found");
  EXPECT_EQ(in.GetDriverVersion(), 0u);

  // The count stays what it was when the component was created.
  ASSERT_TRUE(platform::SelectAudioBackend("virtual:in=;out="));
  EXPECT_EQ(in.GetNumDevs(), 2);
  TMMWaveIn none(nullptr);
  EXPECT_EQ(none.GetNumDevs(), 0);
  none.SetDeviceID(MapperId);
  EXPECT_EQ(none.GetDeviceID(), MapperId);
  none.SetDeviceID(0);
  EXPECT_EQ(none.GetDeviceID(), InvalidId);
  TMMWaveOut out(nullptr);
  EXPECT_EQ(out.GetDeviceID(), InvalidId);
  EXPECT_EQ(out.GetProductName(), "No wave audio playing device found");
}

TEST_F(DeviceComponentsTest, RaiseErrorFiresOnErrorFirst) {
  TMMWaveIn in(nullptr);
  int errors = 0;
  in.OnError = [&](TComponent* sender) {
    EXPECT_EQ(sender, &in);
    ++errors;
  };
  try {
    in.RaiseError(LoadMMString(kMMChangeWhileOpen));
    FAIL() << "no exception";
  } catch (const EMMWaveInError& e) {
    EXPECT_STREQ(e.what(), "Change to property while device was open");
  }
  EXPECT_EQ(errors, 1);
}

}  // namespace
