#include "platform/audio/virtual/virtual_backend.h"

#include <gtest/gtest.h>

#include "platform/audio/audio_backend.h"

namespace platform {
namespace {

std::vector<std::string> Names(AudioBackend& backend, AudioDirection direction) {
  std::vector<std::string> names;
  for (const AudioEndpoint& endpoint : backend.Endpoints(direction)) names.push_back(endpoint.name);
  return names;
}

TEST(VirtualDeviceList, ParsesInputsWithTonesAndOutputs) {
  std::string reason;
  auto set = ParseVirtualDeviceList("in=Desk Mic@440:-6:-12|Line In;out=Speakers|Headset", &reason);
  ASSERT_TRUE(set) << reason;
  ASSERT_EQ(set->inputs.size(), 2u);
  EXPECT_EQ(set->inputs[0].name, "Desk Mic");
  EXPECT_TRUE(set->inputs[0].has_tone);
  EXPECT_DOUBLE_EQ(set->inputs[0].frequency_hz, 440);
  EXPECT_DOUBLE_EQ(set->inputs[0].left_dbfs, -6);
  EXPECT_DOUBLE_EQ(set->inputs[0].right_dbfs, -12);
  EXPECT_EQ(set->inputs[1].name, "Line In");
  EXPECT_FALSE(set->inputs[1].has_tone);
  ASSERT_EQ(set->outputs.size(), 2u);
  EXPECT_EQ(set->outputs[0].name, "Speakers");
  EXPECT_EQ(set->outputs[1].name, "Headset");

  // Order of the parts does not matter; fractions and a '+' sign are numbers.
  set = ParseVirtualDeviceList("out=A;in=B@997.5:+0:-0.5", &reason);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->inputs[0].name, "B");
  EXPECT_DOUBLE_EQ(set->inputs[0].frequency_hz, 997.5);
  EXPECT_DOUBLE_EQ(set->inputs[0].left_dbfs, 0);
  EXPECT_DOUBLE_EQ(set->inputs[0].right_dbfs, -0.5);
}

TEST(VirtualDeviceList, NamesAreVerbatim) {
  auto set = ParseVirtualDeviceList(
      "in=Mic, left side|Mikrofon über Tür ♫|Mic @ home|a@b@1000:-3:-3|  padded  "
      ";out=Lautsprecher, "
      "groß",
      nullptr);
  ASSERT_TRUE(set);
  ASSERT_EQ(set->inputs.size(), 5u);
  EXPECT_EQ(set->inputs[0].name, "Mic, left side");
  EXPECT_EQ(set->inputs[1].name, "Mikrofon über Tür ♫");
  EXPECT_EQ(set->inputs[2].name, "Mic @ home");
  EXPECT_FALSE(set->inputs[2].has_tone);
  // Only the last '@' starts a suffix.
  EXPECT_EQ(set->inputs[3].name, "a@b");
  EXPECT_TRUE(set->inputs[3].has_tone);
  EXPECT_EQ(set->inputs[4].name, "  padded  ");
  ASSERT_EQ(set->outputs.size(), 1u);
  EXPECT_EQ(set->outputs[0].name, "Lautsprecher, groß");
}

TEST(VirtualDeviceList, MalformedSuffixIsPartOfTheName) {
  for (const char* entry : {"Mic@440:-6", "Mic@440:-6:-6:-6", "Mic@440:loud:-6", "Mic@:-6:-6",
                            "Mic@440:-6:", "Mic@0:-6:-6", "Mic@-440:-6:-6", "Mic@440:3:-6",
                            "Mic@440:-6:0.5", "Mic@1e3:-6:-6", "Mic@440:-6.:-6", "Mic@440:-inf:-6",
                            "Mic@nan:-6:-6", "Mic@ 440:-6:-6", "@440:-6:-6", "Mic@440:--6:-6"}) {
    VirtualInput input = ParseVirtualInput(entry);
    EXPECT_EQ(input.name, entry);
    EXPECT_FALSE(input.has_tone) << entry;
  }
}

TEST(VirtualDeviceList, EmptyAndMissingLists) {
  auto set = ParseVirtualDeviceList("in=;out=Speakers", nullptr);
  ASSERT_TRUE(set);
  EXPECT_TRUE(set->inputs.empty());
  EXPECT_EQ(set->outputs.size(), 1u);

  set = ParseVirtualDeviceList("in=Mic", nullptr);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->inputs.size(), 1u);
  EXPECT_TRUE(set->outputs.empty());

  set = ParseVirtualDeviceList("", nullptr);
  ASSERT_TRUE(set);
  EXPECT_TRUE(set->inputs.empty() && set->outputs.empty());

  // Empty entries are skipped rather than becoming unnamed devices.
  set = ParseVirtualDeviceList("in=|A||B|;out=|", nullptr);
  ASSERT_TRUE(set);
  ASSERT_EQ(set->inputs.size(), 2u);
  EXPECT_EQ(set->inputs[1].name, "B");
  EXPECT_TRUE(set->outputs.empty());
}

TEST(VirtualDeviceList, StructuralErrorsAreRefusedWithAReason) {
  for (const char* list : {"inputs=A", "in=A;out=B;in=C", "A|B", "in=A;x", "IN=A"}) {
    std::string reason;
    EXPECT_FALSE(ParseVirtualDeviceList(list, &reason)) << list;
    EXPECT_FALSE(reason.empty()) << list;
  }
}

TEST(AudioBackendSelection, FactoryAndSelection) {
  std::string reason;
  std::unique_ptr<AudioBackend> backend =
      CreateAudioBackend("virtual:in=Desk Mic@440:-6:-12|Line In;out=Speakers|Headset", &reason);
  ASSERT_TRUE(backend) << reason;
  EXPECT_EQ(backend->Name(), "virtual");
  EXPECT_EQ(Names(*backend, AudioDirection::kInput),
            (std::vector<std::string>{"Desk Mic", "Line In"}));
  std::vector<AudioEndpoint> outputs = backend->Endpoints(AudioDirection::kOutput);
  ASSERT_EQ(outputs.size(), 2u);
  EXPECT_TRUE(outputs[0].is_default);
  EXPECT_FALSE(outputs[1].is_default);
  EXPECT_NE(outputs[0].id, outputs[1].id);

  backend = CreateAudioBackend("virtual", &reason);
  ASSERT_TRUE(backend);
  EXPECT_EQ(backend->Endpoints(AudioDirection::kInput).size(), 3u);
  EXPECT_EQ(backend->Endpoints(AudioDirection::kOutput).size(), 2u);

  backend = CreateAudioBackend("none", &reason);
  ASSERT_TRUE(backend);
  EXPECT_TRUE(backend->Endpoints(AudioDirection::kInput).empty());

  reason.clear();
  EXPECT_FALSE(CreateAudioBackend("oss", &reason));
  EXPECT_NE(reason.find("oss"), std::string::npos);
#if defined(_WIN32)
  EXPECT_FALSE(CreateAudioBackend("alsa", &reason));
#else
  // ALSA is had by name also where it lists no devices.
  backend = CreateAudioBackend("alsa", &reason);
  ASSERT_TRUE(backend);
  EXPECT_EQ(backend->Name(), "alsa");
#endif
  EXPECT_FALSE(CreateAudioBackend("virtual:bogus", &reason));

  // Switching at run time; a failed selection leaves no devices.
  ASSERT_TRUE(SelectAudioBackend("virtual:in=One;out="));
  std::shared_ptr<AudioBackend> held = CurrentAudioBackend();
  EXPECT_EQ(Names(*held, AudioDirection::kInput), std::vector<std::string>{"One"});
  ASSERT_TRUE(SelectAudioBackend("virtual:in=Two|Three"));
  EXPECT_EQ(CurrentAudioBackend()->Endpoints(AudioDirection::kInput).size(), 2u);
  // A back-end handed out earlier stays usable after the switch.
  EXPECT_EQ(Names(*held, AudioDirection::kInput), std::vector<std::string>{"One"});
  EXPECT_FALSE(SelectAudioBackend("nonsense", &reason));
  EXPECT_EQ(CurrentAudioBackend(), nullptr);
}

}  // namespace
}  // namespace platform
