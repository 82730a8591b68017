#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/framework/layout_reader.h"
#include "tests/stream/test_components.h"
#include "tests/support/sub_format.h"

using namespace streamtest;

namespace {

class ChainTest : public ::testing::Test {
 protected:
  void SetUp() override { Journal().clear(); }
  std::unique_ptr<TChainRoot> root = std::make_unique<TChainRoot>(nullptr);
};

WAVEFORMATEX Pcm(int bits, int channels) {
  WAVEFORMATEX fmt{};
  BuildPCMFormat(fmt, bits, channels, 44100);
  return fmt;
}

TEST_F(ChainTest, LinksAreSymmetricAndRepointingReleasesTheOldPartner) {
  auto* a = Make<TPlain>(root.get(), "A");
  auto* b = Make<TPlain>(root.get(), "B");
  auto* c = Make<TPlain>(root.get(), "C");

  a->SetOutput(b);
  EXPECT_EQ(b->GetInput(), a);
  EXPECT_EQ(a->OutputLinkName(), "Input");
  EXPECT_EQ(b->InputLinkName(), "Output");
  // The chain's questions are answered from the published properties.
  TComponent* held = nullptr;
  EXPECT_TRUE(PublishesLink(*a, "Output", &held));
  EXPECT_EQ(held, b);
  EXPECT_FALSE(PublishesLink(*a, "Channels"));

  b->SetInput(nullptr);
  EXPECT_EQ(a->GetOutput(), nullptr);
  EXPECT_EQ(b->GetInput(), nullptr);
  EXPECT_EQ(a->OutputLinkName(), "");

  // With A -> B, C.Input := A leaves A -> C and B without Input.
  a->SetOutput(b);
  c->SetInput(a);
  EXPECT_EQ(a->GetOutput(), c);
  EXPECT_EQ(c->GetInput(), a);
  EXPECT_EQ(b->GetInput(), nullptr);

  // Re-pointing the downstream end: B.Input := A takes A away from C.
  b->SetInput(a);
  EXPECT_EQ(a->GetOutput(), b);
  EXPECT_EQ(c->GetInput(), nullptr);
}

TEST_F(ChainTest, RingsSelfLinksAndUnpublishedLinksAreRefused) {
  auto* a = Make<TPlain>(root.get(), "A");
  auto* b = Make<TPlain>(root.get(), "B");
  auto* c = Make<TPlain>(root.get(), "C");
  a->SetOutput(b);
  b->SetOutput(c);

  c->SetOutput(a);
  a->SetInput(c);
  a->SetInput(a);
  b->SetOutput(b);
  EXPECT_EQ(a->GetInput(), nullptr);
  EXPECT_EQ(c->GetOutput(), nullptr);
  EXPECT_EQ(a->GetOutput(), b);
  EXPECT_EQ(b->GetOutput(), c);
  EXPECT_FALSE(c->CanConnectOutput(a));
  EXPECT_FALSE(a->CanConnectInput(b));
  EXPECT_FALSE(a->CanConnectInput(root.get()));  // not a stream component

  // A sink publishes no Output link: it cannot feed anyone ...
  auto* sink = Make<TTail>(root.get(), "Sink");
  auto* d = Make<TPlain>(root.get(), "D");
  d->SetInput(sink);
  EXPECT_EQ(d->GetInput(), nullptr);
  EXPECT_EQ(sink->GetOutput(), nullptr);
  // ... unless it accepts being used as one.
  sink->SetAcceptAsInput(true);
  d->SetInput(sink);
  EXPECT_EQ(d->GetInput(), sink);
  EXPECT_EQ(sink->GetOutput(), d);

  // A source publishes no Input link: it cannot be fed.
  auto* source = Make<THead>(root.get(), "Source");
  auto* e = Make<TPlain>(root.get(), "E");
  e->SetOutput(source);
  EXPECT_EQ(e->GetOutput(), nullptr);
  EXPECT_EQ(source->GetInput(), nullptr);
}

TEST_F(ChainTest, DestroyingAComponentUnlinksItsNeighbours) {
  auto* a = Make<TPlain>(root.get(), "A");
  auto* b = Make<TPlain>(root.get(), "B");
  auto* c = Make<TPlain>(root.get(), "C");
  a->SetOutput(b);
  b->SetOutput(c);
  delete b;
  EXPECT_EQ(a->GetOutput(), nullptr);
  EXPECT_EQ(c->GetInput(), nullptr);

  // Components of different owners, too.
  auto other = std::make_unique<TChainRoot>(nullptr);
  auto* d = Make<TPlain>(other.get(), "D");
  a->SetOutput(d);
  ASSERT_EQ(d->GetInput(), a);
  delete a;
  EXPECT_EQ(d->GetInput(), nullptr);

  // The registry goes with the last stream component.
  ASSERT_NE(StreamComponents(), nullptr);
  root.reset();
  other.reset();
  EXPECT_EQ(StreamComponents(), nullptr);
}

// 16-bit PCM of `channels` in the extensible header with this channel mask.
WAVEFORMATEXTENSIBLE Extensible(int channels, std::uint32_t mask) {
  WAVEFORMATEXTENSIBLE x{};
  x.Format = Pcm(16, channels);
  x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  x.wValidBitsPerSample = 16;
  x.dwChannelMask = mask;
  wavetest::SetSubFormat(x, WAVE_FORMAT_PCM);
  return x;
}

// The speakers the head names reach the end of the chain while the channel count stays;
// a stage that changes the channels, a plain head or a mask of 0 gives the usual layout.
TEST_F(ChainTest, ChannelMaskFollowsTheChannelsDown) {
  auto* a = Make<TPlain>(root.get(), "A");
  auto* b = Make<TPlain>(root.get(), "B");
  auto* c = Make<TPlain>(root.get(), "C");
  EXPECT_EQ(c->ChannelMask(), 0u);
  a->SetOutput(b);
  b->SetOutput(c);
  const WAVEFORMATEXTENSIBLE quad = Extensible(4, 0x60C);
  a->SetPWaveFormat(&quad.Format);
  EXPECT_EQ(c->ChannelMask(), 0x60Cu);
  // A stage that makes plain PCM of the same channels keeps the speakers.
  const WAVEFORMATEX plain_quad = Pcm(16, 4);
  b->SetPWaveFormat(&plain_quad);
  EXPECT_EQ(c->GetPWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(c->ChannelMask(), 0x60Cu);
  const WAVEFORMATEX stereo = Pcm(16, 2);
  b->SetPWaveFormat(&stereo);
  EXPECT_EQ(b->ChannelMask(), 0u);
  EXPECT_EQ(c->ChannelMask(), 0u);
  const WAVEFORMATEXTENSIBLE unnamed = Extensible(4, 0);
  a->SetPWaveFormat(&unnamed.Format);
  EXPECT_EQ(c->ChannelMask(), 0u);
  a->SetPWaveFormat(&plain_quad);
  EXPECT_EQ(c->ChannelMask(), 0u);
  // A header whose subformat is not a known identifier names no speakers.
  WAVEFORMATEXTENSIBLE odd = quad;
  odd.SubFormat[15] ^= 1;
  a->SetPWaveFormat(&odd.Format);
  EXPECT_EQ(c->ChannelMask(), 0u);
}

TEST_F(ChainTest, FormatFlowsDownAsPrivateCopies) {
  auto* a = Make<TPlain>(root.get(), "A");
  auto* b = Make<TPlain>(root.get(), "B");
  auto* c = Make<TPlain>(root.get(), "C");
  WAVEFORMATEX fmt = Pcm(16, 2);
  a->SetPWaveFormat(&fmt);
  ASSERT_NE(a->GetPWaveFormat(), nullptr);
  EXPECT_NE(a->GetPWaveFormat(), &fmt);

  // Linking hands the format down the whole chain.
  b->SetOutput(c);
  a->SetOutput(b);
  ASSERT_NE(c->GetPWaveFormat(), nullptr);
  EXPECT_NE(c->GetPWaveFormat(), a->GetPWaveFormat());
  EXPECT_EQ(c->GetPWaveFormat()->nBlockAlign, 4);

  // A new format at the head reaches the end at once.
  WAVEFORMATEX mono = Pcm(8, 1);
  a->SetPWaveFormat(&mono);
  EXPECT_EQ(c->GetPWaveFormat()->nBlockAlign, 1);

  // Cutting a link takes the format from what was downstream.
  a->SetOutput(nullptr);
  EXPECT_EQ(b->GetPWaveFormat(), nullptr);
  EXPECT_EQ(c->GetPWaveFormat(), nullptr);
  EXPECT_NE(a->GetPWaveFormat(), nullptr);

  // A started component is stopped by a format change.
  a->Opened();
  a->Started();
  ASSERT_TRUE(a->IsStarted());
  a->SetPWaveFormat(&fmt);
  EXPECT_FALSE(a->IsStarted());
  EXPECT_TRUE(a->IsOpened());
}

TEST_F(ChainTest, LayoutSetsLinksAndPassesFormatsOnceLoaded) {
  RegisterClass(TPlain::StaticClassInfo());
  RegisterClass(THead::StaticClassInfo());
  RegisterClass(TTail::StaticClassInfo());
  ReadLayout(*root,
             "object Root: TChainRoot\n"
             "  object Src: THead\n"
             "    Channels = 2\n"
             "  end\n"
             "  object Mid: TPlain\n"
             "    Input = Src\n"
             "  end\n"
             "  object Sink: TTail\n"
             "  end\n"
             "  object Mid2: TPlain\n"
             "    Input = Mid\n"
             "    Output = Sink\n"
             "  end\n"
             "end\n");
  auto* src = root->FindAs<THead>("Src");
  auto* mid = root->FindAs<TPlain>("Mid");
  auto* mid2 = root->FindAs<TPlain>("Mid2");
  auto* sink = root->FindAs<TTail>("Sink");
  EXPECT_EQ(src->GetOutput(), mid);
  EXPECT_EQ(mid->GetOutput(), mid2);
  EXPECT_EQ(mid2->GetOutput(), sink);
  EXPECT_EQ(sink->GetInput(), mid2);
  ASSERT_NE(sink->GetPWaveFormat(), nullptr);
  EXPECT_EQ(sink->GetPWaveFormat()->nChannels, 2);
  EXPECT_EQ(ReadPropertyText(*mid2, "Output"), "Sink");
}

TEST_F(ChainTest, BufferSizeIsFixedToWholeFramesWhenOpened) {
  auto* a = Make<TPlain>(root.get(), "A");
  EXPECT_EQ(a->GetBufferSize(), 2048);
  WAVEFORMATEX fmt = Pcm(16, 2);
  a->SetPWaveFormat(&fmt);
  a->Opened();
  EXPECT_EQ(a->GetBufferSize(), 2048);
  a->Closed();

  a->SetBufferSize(2);
  a->Opened();
  EXPECT_EQ(a->GetBufferSize(), 4);  // never below one frame
  // A second Opened keeps the size of the first.
  a->SetBufferSize(4000);
  a->Opened();
  EXPECT_EQ(a->GetBufferSize(), 4);
  a->Closed();
  EXPECT_EQ(a->GetBufferSize(), 4000);

  // 1000 bytes with 24-byte blocks give 984.
  WAVEFORMATEX wide{};
  BuildPCMFormat(wide, 16, 12, 44100);
  a->SetPWaveFormat(&wide);
  a->SetBufferSize(1000);
  a->Opened();
  EXPECT_EQ(a->GetBufferSize(), 984);
  a->Closed();

  // No format, or one without a block size: the requested size.
  a->SetPWaveFormat(nullptr);
  a->Opened();
  EXPECT_EQ(a->GetBufferSize(), 1000);
  a->Closed();
  WAVEFORMATEX broken = Pcm(16, 2);
  broken.nBlockAlign = 0;
  a->SetPWaveFormat(&broken);
  a->Opened();
  EXPECT_EQ(a->GetBufferSize(), 1000);
}

TEST_F(ChainTest, BaseStateFollowsTheNotifications) {
  auto* a = Make<TPlain>(root.get(), "A");
  a->Started();
  EXPECT_FALSE(a->IsStarted());  // not opened
  a->Opened();
  a->Started();
  a->Paused();
  EXPECT_TRUE(a->IsStarted() && a->IsPaused());
  a->Restarted();
  EXPECT_FALSE(a->IsPaused());
  a->Paused();
  a->Stopped();
  EXPECT_FALSE(a->IsStarted() || a->IsPaused());
  a->Paused();
  a->Stopped();  // not started: nothing changes
  EXPECT_TRUE(a->IsPaused());
  // Changing the requested size of a started component stops it.
  a->Restarted();
  a->Started();
  a->SetBufferSize(512);
  EXPECT_FALSE(a->IsStarted());
  a->Closed();
  EXPECT_FALSE(a->IsOpened());
}

TEST_F(ChainTest, BuffersArePushedDownAndPulledUp) {
  auto* a = Make<TPlain>(root.get(), "A");
  auto* b = Make<TPlain>(root.get(), "B");
  auto* c = Make<TPlain>(root.get(), "C");
  a->SetOutput(b);
  b->SetOutput(c);
  std::vector<std::string> seen;
  TMMWaveHdr hdr;
  for (TPlain* p : {a, b, c}) {
    p->OnBufferReady = [&](TComponent* sender, PWaveHdr h) {
      seen.push_back("ready " + sender->GetName() + (h == &hdr ? "" : " wrong header"));
    };
    p->OnBufferLoad = [&](TComponent* sender, PWaveHdr, bool& more) {
      seen.push_back("load " + sender->GetName());
      if (sender->GetName() == "A") more = false;
    };
  }
  a->BufferReady(&hdr);
  bool more = true;
  c->BufferLoad(&hdr, more);
  EXPECT_EQ(seen, (std::vector<std::string>{"ready A", "ready B", "ready C", "load C", "load B",
                                            "load A"}));
  EXPECT_FALSE(more);
}

TEST(WaveHdr, BeginsWithTheWaveHeaderAndKeepsTheFieldOrder) {
  TMMWaveHdr h;
  auto at = [&](const void* field) {
    return static_cast<const char*>(field) - reinterpret_cast<const char*>(&h);
  };
  EXPECT_EQ(static_cast<void*>(static_cast<WAVEHDR*>(&h)), static_cast<void*>(&h));
  EXPECT_EQ(at(&h.lpDevice), static_cast<std::ptrdiff_t>(sizeof(WAVEHDR)));
  EXPECT_LT(at(&h.lpDevice), at(&h.dwSavedLength));
  EXPECT_LT(at(&h.dwSavedLength), at(&h.lpNextBuffer));
  EXPECT_LT(at(&h.lpNextBuffer), at(&h.bLooping));
  EXPECT_LT(at(&h.bLooping), at(&h.dwLoopCount));
  EXPECT_LT(at(&h.dwLoopCount), at(&h.dwLoopsLeft));
  EXPECT_LT(at(&h.dwLoopsLeft), at(&h.bLoopDone));
  EXPECT_EQ(kWaveHdrSize, sizeof(TMMWaveHdr));
  EXPECT_EQ(kWaveHdrSize % alignof(std::max_align_t) % 8, 0u);
  EXPECT_EQ(h.lpDevice, nullptr);
  EXPECT_EQ(h.bLoopDone, 0);
}

}  // namespace
