#include "files/wave_io.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/acm/msacm.h"
#include "tests/files/temp_files.h"

namespace {

using Bytes = std::vector<char>;

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
}
void Put16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<char>(v));
  b.push_back(static_cast<char>(v >> 8));
}

// A chunk with its real size (or a given size field) and its pad byte.
Bytes Chunk(const std::string& id, const Bytes& data, std::int64_t sizeField = -1) {
  Bytes b(id.begin(), id.end());
  Put32(b, sizeField < 0 ? static_cast<std::uint32_t>(data.size())
                         : static_cast<std::uint32_t>(sizeField));
  b.insert(b.end(), data.begin(), data.end());
  if (data.size() & 1) b.push_back(0);
  return b;
}

Bytes Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint32_t avg,
          std::uint16_t align, std::uint16_t bits, int extra = -1) {
  Bytes b;
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, avg);
  Put16(b, align);
  Put16(b, bits);
  if (extra >= 0) Put16(b, static_cast<std::uint16_t>(extra));
  return Chunk("fmt ", b);
}

Bytes Pcm16Stereo() {
  return Fmt(1, 2, 44100, 176400, 4, 16);
}

Bytes Riff(const std::vector<Bytes>& chunks, std::int64_t sizeField = -1) {
  Bytes body{'W', 'A', 'V', 'E'};
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return Chunk("RIFF", body, sizeField);
}

Bytes Samples(std::size_t n, int seed = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<char>(i * 7 + seed);
  return b;
}

int OpenImage(const Bytes& image, PWaveIOBlock& block) {
  return WaveOpenMemory(block, image.data(), static_cast<std::int32_t>(image.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads everything left, in pieces of `piece` bytes.
Bytes ReadRest(PWaveIOBlock block, std::int32_t piece) {
  Bytes out, buf(static_cast<std::size_t>(piece));
  std::int32_t n;
  while ((n = WaveRead(block, buf.data(), piece)) > 0)
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  return out;
}

}  // namespace

TEST(WaveIO, RecordedFileReadsBackWithItsFormatDataTagsAndDisplayItems) {
  WAVEFORMATEX format{};
  BuildPCMFormat(format, 16, 2, 8000);
  PWaveIOBlock writer = nullptr;
  ASSERT_EQ(WaveCreate(writer, &format), 0);
  ASSERT_EQ(WaveInfoSetText(writer->InfoList, 14, "Test tone"), 0);  // INAM
  ASSERT_EQ(WaveInfoSetText(writer->InfoList, 3, "odd"), 0);         // ICMT
  ASSERT_EQ(WaveDispAdd(writer->DispList, CF_TEXT, "Title", 6), 0);
  ASSERT_EQ(WaveDispAdd(writer->DispList, 2, "bitmap handle", 13), 0);  // not written back
  const std::string path = TempPath("roundtrip");
  ASSERT_EQ(WaveCreateFile(writer, path.c_str()), 0);
  const Bytes data = Samples(402);
  ASSERT_EQ(WaveWrite(writer, data.data(), 100), 100);
  EXPECT_EQ(writer->SamplePos, 25);
  ASSERT_EQ(WaveWrite(writer, data.data() + 100, 302), 302);
  EXPECT_EQ(writer->DataBytes, 402u);
  EXPECT_EQ(writer->DataSamples, 101);  // 100.5 rounds up
  EXPECT_EQ(WaveWrite(writer, data.data(), 0), -1);
  ASSERT_EQ(WaveFinish(writer), 0);
  EXPECT_EQ(writer->Handle, nullptr);
  EXPECT_EQ(writer->FileSize, ReadFile(path).size());
  EXPECT_EQ(WaveWrite(writer, data.data(), 4), -1) << "finished blocks are closed";
  WaveFree(writer);
  EXPECT_EQ(writer, nullptr);

  const Bytes image = ReadFile(path);
  ASSERT_EQ(std::string(image.begin(), image.begin() + 4), "RIFF");
  EXPECT_EQ(image.size() % 2, 0u);
  PWaveIOBlock reader = nullptr;
  ASSERT_EQ(OpenImage(image, reader), 0);
  EXPECT_EQ(reader->Format.nSamplesPerSec, 8000u);
  EXPECT_EQ(reader->Format.nBlockAlign, 4);
  EXPECT_EQ(reader->DataBytes, 400u);
  EXPECT_EQ(reader->DataSamples, 100);
  EXPECT_EQ(reader->DataOffset, 44u);
  EXPECT_EQ(WaveInfoGetText(reader->InfoList, 14), "Test tone");
  EXPECT_EQ(WaveInfoGetText(reader->InfoList, 3), "odd");
  EXPECT_EQ(WaveInfoGetText(reader->InfoList, 0), "");
  ASSERT_NE(reader->DispList->First, nullptr);
  EXPECT_EQ(reader->DispList->First->Type, CF_TEXT);
  EXPECT_STREQ(static_cast<const char*>(reader->DispList->First->Data), "Title");
  EXPECT_EQ(reader->DispList->First->Next, nullptr);
  EXPECT_EQ(reader->Handle, nullptr) << "opening leaves the block closed";
  EXPECT_EQ(WaveRead(reader, nullptr, 4), -1);
  ASSERT_EQ(WaveReopen(reader), 0);
  EXPECT_EQ(reader->BytesLeft, 400);
  EXPECT_EQ(ReadRest(reader, 64), Bytes(data.begin(), data.begin() + 400));
  EXPECT_EQ(reader->SamplePos, 100);
  // At the end nothing is read and nothing changes.
  char buf[8];
  EXPECT_EQ(WaveRead(reader, buf, 8), -1);
  EXPECT_EQ(reader->SamplePos, 100);
  EXPECT_EQ(reader->BytesLeft, 0);
  ASSERT_EQ(WaveFinish(reader), 0);
  WaveFree(reader);

  // The same file through the file path, with differently sized I/O buffers.
  for (std::int32_t size : {0, 3, 32768}) {
    PWaveIOBlock block = nullptr;
    ASSERT_EQ(WaveOpen(block, path.c_str(), FOURCC_WAVE, wioRead), 0);
    EXPECT_EQ(WaveSetIOBuffer(block, size), 101) << "not open yet";
    ASSERT_EQ(WaveReopen(block), 0);
    EXPECT_EQ(WaveSetIOBuffer(block, -1), 101);
    ASSERT_EQ(WaveSetIOBuffer(block, size), 0);
    ASSERT_EQ(WaveSeek(block, 10), 0);
    EXPECT_EQ(ReadRest(block, 7), Bytes(data.begin() + 40, data.begin() + 400)) << size;
    WaveFree(block);
  }
  EXPECT_TRUE(WaveIsValid(path.c_str(), wioRead));
  EXPECT_TRUE(WaveFileExists(path.c_str()));
  EXPECT_TRUE(WaveFileDelete(path.c_str()));
  EXPECT_FALSE(WaveFileExists(path.c_str()));
  EXPECT_FALSE(WaveIsValid(path.c_str(), wioRead));
  EXPECT_FALSE(WaveIsValid("", wioRead));
}

TEST(WaveIO, NonPcmRecordingGetsAFactChunkAndWriterMovesDoNotLoseData) {
  WAVEFORMATEX format{};
  format.wFormatTag = 0x11;
  format.nChannels = 1;
  format.nSamplesPerSec = 8000;
  format.nAvgBytesPerSec = 4000;
  format.nBlockAlign = 256;
  format.wBitsPerSample = 4;
  PWaveIOBlock writer = nullptr;
  ASSERT_EQ(WaveCreate(writer, &format), 0);
  const std::string path = TempPath("nonpcm");
  ASSERT_EQ(WaveCreateFile(writer, path.c_str()), 0);
  const Bytes data = Samples(512, 3);
  ASSERT_EQ(WaveWrite(writer, data.data(), 512), 512);
  EXPECT_EQ(writer->DataSamples, 1024);
  // Moving back before finishing must not cut the data chunk.
  ASSERT_EQ(WaveSeek(writer, 0), 0);
  ASSERT_EQ(WaveFinish(writer), 0);
  WaveFree(writer);
  const Bytes image = ReadFile(path);
  const std::string text(image.begin(), image.end());
  const auto fact = text.find("fact");
  ASSERT_NE(fact, std::string::npos);
  std::uint32_t count = 0;
  std::memcpy(&count, image.data() + fact + 8, 4);
  EXPECT_EQ(count, 1024u);
  PWaveIOBlock reader = nullptr;
  ASSERT_EQ(OpenImage(image, reader), 0);
  EXPECT_EQ(reader->Format.wFormatTag, 0x11);
  EXPECT_EQ(reader->Format.nAvgBytesPerSec, 4000u) << "kept for formats other than PCM";
  EXPECT_EQ(reader->DataBytes, 512u);
  ASSERT_EQ(WaveReopen(reader), 0);
  EXPECT_EQ(ReadRest(reader, 100), data);
  WaveFree(reader);
  std::filesystem::remove(path);

  PWaveIOBlock none = nullptr;
  EXPECT_EQ(WaveCreate(none, nullptr), 104);
  EXPECT_EQ(WaveCreateFile(nullptr, "x"), 104);
  EXPECT_EQ(WaveFree(none), 104);
  ASSERT_EQ(WaveCreate(none, &format), 0);
  EXPECT_EQ(WaveCreateFile(none, nullptr), 104);
  EXPECT_EQ(WaveCreateFile(none, "/nonexistent-dir/x.wav"), 106);
  format.nBlockAlign = 0;
  PWaveIOBlock zero = nullptr;
  ASSERT_EQ(WaveCreate(zero, &format), 0);
  EXPECT_EQ(WaveCreateFile(zero, TempPath("zero").c_str()), 106);
  EXPECT_FALSE(std::filesystem::exists(TempPath("zero")));
  WaveFree(zero);
  WaveFree(none);
}

TEST(WaveIO, RatesThatDoNotFit31BitsAreRefused) {
  PWaveIOBlock b = nullptr;
  // PCM whose recomputed average rate would wrap around 32 bits.
  EXPECT_EQ(OpenImage(Riff({Fmt(1, 2, 0x8000AC44u, 176400, 4, 16), Chunk("data", Samples(8))}), b),
            106);
  EXPECT_EQ(OpenImage(Riff({Fmt(1, 2, 0x20000000u, 176400, 4, 16), Chunk("data", Samples(8))}), b),
            106);
  // A compressed format that claims a negative rate as a signed value.
  EXPECT_EQ(
      OpenImage(Riff({Fmt(2, 1, 8000, 0x90000000u, 256, 4, 0), Chunk("data", Samples(8))}), b),
      106);
  EXPECT_EQ(b, nullptr);
  // The largest PCM rate that still fits.
  ASSERT_EQ(OpenImage(Riff({Fmt(1, 2, 0x1FFFFFFFu, 0, 4, 16), Chunk("data", Samples(8))}), b), 0);
  EXPECT_EQ(b->Format.nAvgBytesPerSec, 0x7FFFFFFCu);
  EXPECT_EQ(b->DataSamples, 2);
  WaveFree(b);
}

TEST(WaveIO, DataSizesAreCutToTheFileAndToWholeBlocks) {
  PWaveIOBlock b = nullptr;
  // A "data" size beyond the file: up to the end of the file, whole blocks only.
  ASSERT_EQ(OpenImage(Riff({Pcm16Stereo(), Chunk("data", Samples(22), 1000)}), b), 0);
  EXPECT_EQ(b->DataBytes, 20u);
  EXPECT_EQ(b->DataSamples, 5);
  WaveFree(b);
  // The pad byte of an odd "data" chunk is no sample, whether a chunk follows or not.
  ASSERT_EQ(
      OpenImage(Riff({Pcm16Stereo(), Chunk("data", Samples(7)), Chunk("junk", Samples(4))}), b), 0);
  EXPECT_EQ(b->DataBytes, 4u);
  WaveFree(b);
  // ADPCM keeps a partial last block (its decoder gives the samples it holds: 249 of IMA's
  // 128 bytes, 244 of Microsoft ADPCM's); the same size of another compressed format is cut
  // to whole blocks (GSM: three 320-sample frames in a 256-byte block). The samples are
  // counted by the blocks, not by the stored rate.
  for (std::uint16_t tag : {WAVE_FORMAT_IMA_ADPCM, WAVE_FORMAT_ADPCM, WAVE_FORMAT_GSM610}) {
    ASSERT_EQ(OpenImage(Riff({Fmt(tag, 1, 8000, 4055, 256, 4, 0), Chunk("data", Samples(384))}), b),
              0);
    EXPECT_EQ(b->DataBytes, tag == WAVE_FORMAT_GSM610 ? 256u : 384u) << tag;
    EXPECT_EQ(b->DataSamples, tag == WAVE_FORMAT_GSM610  ? 960
                              : tag == WAVE_FORMAT_ADPCM ? 744
                                                         : 754)
        << tag;
    WaveFree(b);
  }
  for (bool chunkFollows : {false, true}) {
    std::vector<Bytes> chunks{Fmt(1, 1, 8000, 8000, 1, 8), Chunk("data", Samples(7))};
    if (chunkFollows) chunks.push_back(Chunk("junk", Samples(4)));
    ASSERT_EQ(OpenImage(Riff(chunks), b), 0);
    EXPECT_EQ(b->DataBytes, 7u);
    EXPECT_EQ(b->DataSamples, 7);
    WaveFree(b);
  }
  // A recording that was never finished (both sizes 0), a RIFF size below 4 and the sizes
  // that streaming writers leave: the data reaches to the end of the file.
  for (std::uint32_t riffSize : {0u, 2u, 0xFFFFFFFFu, 0x7FFFF000u}) {
    for (std::uint32_t dataSize : {0u, 0xFFFFFFFFu, 0x7FFFF000u}) {
      SCOPED_TRACE(std::to_string(riffSize) + " " + std::to_string(dataSize));
      const Bytes image = Riff({Pcm16Stereo(), Chunk("data", Samples(22), dataSize)}, riffSize);
      ASSERT_EQ(OpenImage(image, b), 0);
      EXPECT_EQ(b->DataBytes, 20u);
      EXPECT_EQ(b->DataSamples, 5);
      ASSERT_EQ(WaveReopen(b), 0);
      EXPECT_EQ(ReadRest(b, 7), Samples(20));
      WaveFree(b);
    }
  }
  // An empty "data" chunk that another chunk follows stays empty.
  const Bytes tags{'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 2, 0, 0, 0, 'a', 0};
  ASSERT_EQ(OpenImage(Riff({Pcm16Stereo(), Chunk("data", {}), Chunk("LIST", tags)}, 0), b), 0);
  EXPECT_EQ(b->DataBytes, 0u);
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 14), "a");
  WaveFree(b);
  // What the recorder leaves when it is stopped before finishing: all it wrote reads back.
  {
    WAVEFORMATEX format{};
    BuildPCMFormat(format, 16, 2, 8000);
    PWaveIOBlock writer = nullptr;
    ASSERT_EQ(WaveCreate(writer, &format), 0);
    const std::string path = TempPath("interrupted");
    ASSERT_EQ(WaveCreateFile(writer, path.c_str()), 0);
    const Bytes data = Samples(400, 1);
    ASSERT_EQ(WaveWrite(writer, data.data(), 400), 400);
    ASSERT_EQ(mmioClose(writer->Handle, 0), MMSYSERR_NOERROR);
    writer->Handle = nullptr;
    WaveFree(writer);
    const Bytes image = ReadFile(path);
    ASSERT_EQ(image.size(), 444u);
    EXPECT_EQ(Bytes(image.begin() + 4, image.begin() + 8), Bytes(4, 0));
    EXPECT_EQ(Bytes(image.begin() + 40, image.begin() + 44), Bytes(4, 0));
    ASSERT_EQ(WaveOpen(b, path.c_str(), FOURCC_WAVE, wioRead), 0);
    EXPECT_EQ(b->DataBytes, 400u);
    ASSERT_EQ(WaveReopen(b), 0);
    EXPECT_EQ(ReadRest(b, 64), data);
    WaveFree(b);
    std::filesystem::remove(path);
  }
  // 10 bytes of 16-bit stereo.
  ASSERT_EQ(OpenImage(Riff({Pcm16Stereo(), Chunk("data", Samples(10))}), b), 0);
  EXPECT_EQ(b->DataBytes, 8u);
  EXPECT_EQ(b->DataSamples, 2);
  WaveFree(b);
  // A RIFF size too small: a chunk behind it is not sample data.
  ASSERT_EQ(OpenImage(Riff({Pcm16Stereo(), Chunk("data", Samples(8)), Chunk("LIST", Samples(40))},
                           4 + 24 + 16),
                      b),
            0);
  EXPECT_EQ(b->DataBytes, 8u);
  WaveFree(b);
  // Wrong header values: PCM's are recomputed, a wrong "fact" count changes nothing, and the
  // block is taken from the recomputed format.
  Bytes fact;
  Put32(fact, 99999);
  ASSERT_EQ(OpenImage(Riff({Fmt(1, 2, 44100, 1234, 1, 16), Chunk("fact", fact),
                            Chunk("data", Samples(14))}),
                      b),
            0);
  EXPECT_EQ(b->Format.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(b->Format.nBlockAlign, 4);
  EXPECT_EQ(b->DataBytes, 12u);
  EXPECT_EQ(b->DataSamples, 3);
  EXPECT_EQ(b->LastSample, 3);
  WaveFree(b);
  // A second "fmt " or "data" ends the walk; what came before stays.
  ASSERT_EQ(OpenImage(Riff({Pcm16Stereo(), Chunk("data", Samples(16)), Fmt(1, 1, 8000, 0, 0, 8),
                            Chunk("data", Samples(40))}),
                      b),
            0);
  EXPECT_EQ(b->Format.nChannels, 2);
  EXPECT_EQ(b->DataBytes, 16u);
  WaveFree(b);
  ASSERT_EQ(OpenImage(Riff({Pcm16Stereo(), Chunk("data", Samples(16)), Chunk("data", Samples(40)),
                            Chunk("LIST", Samples(4))}),
                      b),
            0);
  EXPECT_EQ(b->DataBytes, 16u);
  WaveFree(b);
  // Extra format data that the chunk does not hold is not claimed.
  ASSERT_EQ(OpenImage(Riff({Fmt(2, 1, 8000, 4000, 256, 4, 500), Chunk("data", Samples(512))}), b),
            0);
  EXPECT_EQ(b->Format.cbSize, 0);
  EXPECT_EQ(WaveFormatSize(&b->Format), 18);
  WaveFree(b);
}

TEST(WaveIO, RefusedSources) {
  PWaveIOBlock b = nullptr;
  auto code = [&](const Bytes& image) {
    const int r = OpenImage(image, b);
    EXPECT_EQ(b == nullptr, r != 0);
    if (b != nullptr) WaveFree(b);
    return r;
  };
  const Bytes data = Chunk("data", Samples(16));
  EXPECT_EQ(code(Riff({data})), 101) << "no fmt chunk";
  EXPECT_EQ(code(Riff({Pcm16Stereo()})), 106) << "no data chunk";
  EXPECT_EQ(code(Riff({Fmt(2, 2, 44100, 176400, 0, 4), data})), 106) << "block align 0";
  EXPECT_EQ(code(Riff({Fmt(1, 2, 44100, 176400, 4, 0), data})), 106) << "PCM of 0 bits";
  EXPECT_EQ(code(Riff({Fmt(1, 2, 0, 176400, 4, 16), data})), 106) << "rate 0";
  EXPECT_EQ(code(Riff({Fmt(2, 2, 44100, 0, 4, 4), data})), 106) << "average rate 0, no count";
  // PCM whose frames cannot be read whole: no channels, more than 32 bits, a frame that the
  // 16-bit block alignment cannot hold (it would wrap to a small one).
  const Bytes frame = Chunk("data", Samples(10000));
  EXPECT_EQ(code(Riff({Fmt(1, 0, 44100, 0, 0, 16), data})), 106) << "no channels";
  EXPECT_EQ(code(Riff({Fmt(1, 2, 8000, 80000, 10, 40), frame})), 106) << "40 bits";
  EXPECT_EQ(code(Riff({Fmt(1, 2, 8000, 0, 10000, 40000), frame})), 106) << "40000 bits";
  EXPECT_EQ(code(Riff({Fmt(1, 65535, 8000, 0, 65532, 32), frame})), 106) << "frame wraps";
  EXPECT_EQ(code(Riff({Fmt(1, 16384, 8000, 0, 0, 32), frame})), 106) << "frame of 65536";
  // Oddities that still read correctly stay accepted: the largest frame, wrong header sums.
  ASSERT_EQ(OpenImage(Riff({Fmt(1, 16383, 100, 0, 0, 32), Chunk("data", Samples(65532))}), b), 0);
  EXPECT_EQ(b->Format.nBlockAlign, 65532);
  EXPECT_EQ(b->DataSamples, 1);
  WaveFree(b);
  Bytes shortFmt = Chunk("fmt ", Samples(30), 30);
  shortFmt.resize(20);
  EXPECT_EQ(code(Riff({shortFmt})), 106) << "fmt chunk cut short";
  Bytes notWave = Riff({Pcm16Stereo(), data});
  std::memcpy(notWave.data() + 8, "AVI ", 4);
  EXPECT_EQ(code(notWave), 106);
  EXPECT_EQ(code(Bytes{'R', 'I', 'F', 'F', 0, 0}), 106);
  EXPECT_EQ(WaveOpenMemory(b, nullptr, 10), 106);
  EXPECT_EQ(WaveOpenMemory(b, "RIFF", 0), 106);
  EXPECT_EQ(WaveOpen(b, nullptr, FOURCC_WAVE, wioRead), 104);
  EXPECT_EQ(WaveOpen(b, "/nonexistent/file.wav", FOURCC_WAVE, wioRead), 106);
  EXPECT_EQ(WaveOpen(b, "NoSuchResource", FOURCC_WAVE, wioRead | wioResource), 106);
  EXPECT_EQ(WaveSeek(nullptr, 0), 106);
  EXPECT_EQ(WaveReopen(nullptr), 104);
  EXPECT_EQ(WaveSetIOBuffer(nullptr, 10), 104);
  EXPECT_EQ(WaveFinish(nullptr), 104);
}

// A Layer-3 frame (MPEG-2, 8 kbit/s at 16000 Hz: 36 bytes, 576 samples) with a marked body.
Bytes MpegFrame(char mark) {
  Bytes frame(36, mark);
  const char header[4] = {'\xFF', '\xF3', '\x18', '\x00'};
  std::memcpy(frame.data(), header, 4);
  return frame;
}

// The "fmt " chunk of MPEG Layer-3 mono with its 12 bytes of extra data.
Bytes Mpeg3Fmt(std::uint32_t rate, std::uint32_t avg, std::uint16_t align) {
  Bytes b;
  for (std::uint16_t v : {std::uint16_t{0x55}, std::uint16_t{1}}) Put16(b, v);
  Put32(b, rate);
  Put32(b, avg);
  for (std::uint16_t v : {align, std::uint16_t{0}, std::uint16_t{12}, std::uint16_t{1}}) {
    Put16(b, v);
  }
  Put32(b, 2);
  for (std::uint16_t v : {align, std::uint16_t{1}, std::uint16_t{0}}) Put16(b, v);
  return Chunk("fmt ", b);
}

TEST(WaveIO, CompressedDataReadsWholeWithOrWithoutAnAverageRate) {
  PWaveIOBlock b = nullptr;
  Bytes frames;
  for (char mark : {'a', 'b', 'c'}) {
    const Bytes f = MpegFrame(mark);
    frames.insert(frames.end(), f.begin(), f.end());
  }
  frames.insert(frames.end(), {'x', 'y', 'z'});  // a cut last frame still belongs to the data
  auto readAll = [&](const Bytes& image) {
    EXPECT_EQ(OpenImage(image, b), 0);
    if (b == nullptr) return Bytes();
    EXPECT_EQ(WaveReopen(b), 0);
    Bytes got = ReadRest(b, 50);
    return got;
  };

  // A frame's sample count as the block (as some writers store it) does not cut the data; a
  // variable rate (0) takes the count from "fact", then from the frames themselves.
  Bytes fact;
  Put32(fact, 1500);
  EXPECT_EQ(readAll(Riff({Mpeg3Fmt(16000, 0, 576), Chunk("fact", fact), Chunk("data", frames)})),
            frames);
  EXPECT_EQ(b->Format.nBlockAlign, 1);
  EXPECT_EQ(b->DataSamples, 1500);
  EXPECT_EQ(b->Format.nAvgBytesPerSec, 1184u);  // 111 bytes for 1500 samples at 16000 Hz
  WaveFree(b);
  EXPECT_EQ(readAll(Riff({Mpeg3Fmt(16000, 0, 576), Chunk("data", frames)})), frames);
  EXPECT_EQ(b->DataSamples, 3 * 576);  // the cut frame's bytes hold no header
  WaveFree(b);
  // No frames and no count: nothing to play, and no rate of 0 to divide by.
  ASSERT_EQ(OpenImage(Riff({Mpeg3Fmt(16000, 0, 576), Chunk("data", {})}), b), 0);
  EXPECT_EQ(b->DataSamples, 0);
  EXPECT_NE(b->Format.nAvgBytesPerSec, 0u);
  WaveFree(b);
  EXPECT_EQ(OpenImage(Riff({Mpeg3Fmt(16000, 0, 576), Chunk("data", Samples(100))}), b), 106);

  // Codecs of fixed-size blocks without a stored rate take it from their block: IMA mono of
  // 256-byte blocks holds 505 samples a block, mu-law one sample of each channel a block.
  ASSERT_EQ(OpenImage(Riff({Fmt(0x11, 1, 8000, 0, 256, 4, 2), Chunk("data", Samples(512))}), b), 0);
  EXPECT_EQ(b->Format.nAvgBytesPerSec, 4055u);
  EXPECT_EQ(b->DataSamples, 1010);
  WaveFree(b);
  ASSERT_EQ(OpenImage(Riff({Fmt(7, 2, 8000, 0, 2, 8, 0), Chunk("data", Samples(100))}), b), 0);
  EXPECT_EQ(b->Format.nAvgBytesPerSec, 16000u);
  EXPECT_EQ(b->DataSamples, 50);
  WaveFree(b);

  // A fixed rate whose samples do not map back onto the data's last byte (2.5 bytes a
  // sample: 1001 bytes are 400 samples, and 400 samples 1000 bytes) still reads to the end.
  const Bytes odd = Samples(1001);
  EXPECT_EQ(readAll(Riff({Mpeg3Fmt(8000, 20000, 1), Chunk("data", odd)})), odd);
  EXPECT_EQ(b->DataSamples, 400);
  WaveFree(b);
}

// Codecs of fixed-size blocks count their samples by "fact" where the count fits the data's
// blocks (the last block may be padded), else by the blocks; a stored average rate, which
// writers get wrong (one writer stores 16000 for any ADPCM at 22050 Hz), counts nothing.
TEST(WaveIO, CompressedSampleCountsComeFromFactWhereItFitsTheBlocks) {
  const struct {
    const char* what;
    Bytes fmt;
    std::size_t dataBytes;
    std::int64_t fact;  // -1: no chunk
    std::int32_t samples;
  } cases[] = {
      // IMA mono, 256-byte blocks of 505 samples, two blocks.
      {"IMA, fact in the last block", Fmt(0x11, 1, 22050, 16000, 256, 4, 2), 512, 1000, 1000},
      {"IMA, fact of every sample", Fmt(0x11, 1, 22050, 16000, 256, 4, 2), 512, 1010, 1010},
      {"IMA, no fact", Fmt(0x11, 1, 22050, 16000, 256, 4, 2), 512, -1, 1010},
      {"IMA, fact beyond the blocks", Fmt(0x11, 1, 22050, 16000, 256, 4, 2), 512, 5000, 1010},
      {"IMA, fact a block short", Fmt(0x11, 1, 22050, 16000, 256, 4, 2), 512, 505, 1010},
      {"IMA, fact of 0", Fmt(0x11, 1, 22050, 16000, 256, 4, 2), 512, 0, 1010},
      // A partial last block of 132 bytes: its header's sample and 32 words of 8.
      {"IMA, partial block", Fmt(0x11, 1, 22050, 16000, 256, 4, 2), 388, -1, 505 + 257},
      {"IMA, partial block and fact", Fmt(0x11, 1, 22050, 16000, 256, 4, 2), 388, 700, 700},
      // Microsoft ADPCM stereo, 512-byte blocks of 500 samples, three blocks.
      {"MS ADPCM, fact", Fmt(2, 2, 22050, 16000, 512, 4, 32), 1536, 1400, 1400},
      {"MS ADPCM, no fact", Fmt(2, 2, 22050, 16000, 512, 4, 32), 1536, -1, 1500},
      // mu-law: a block is one sample of each channel, so fact must match exactly.
      {"mu-law, fact", Fmt(7, 2, 8000, 16000, 2, 8, 0), 100, 50, 50},
      {"mu-law, fact short", Fmt(7, 2, 8000, 16000, 2, 8, 0), 100, 49, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Bytes> chunks = {c.fmt};
    if (c.fact >= 0) {
      Bytes fact;
      Put32(fact, static_cast<std::uint32_t>(c.fact));
      chunks.push_back(Chunk("fact", fact));
    }
    chunks.push_back(Chunk("data", Samples(c.dataBytes)));
    PWaveIOBlock b = nullptr;
    ASSERT_EQ(OpenImage(Riff(chunks), b), 0);
    EXPECT_EQ(b->DataSamples, c.samples);
    EXPECT_EQ(b->LastSample, c.samples);
    EXPECT_EQ(b->Format.nAvgBytesPerSec, 16000u);  // reported as stored
    WaveFree(b);
  }
}

TEST(WaveIO, SeekingClampsToTheDataAndKeepsCountersInStep) {
  const Bytes samples = Samples(40);
  const Bytes image = Riff({Pcm16Stereo(), Chunk("data", samples), Chunk("LIST", Samples(8))});
  PWaveIOBlock b = nullptr;
  ASSERT_EQ(OpenImage(image, b), 0);
  ASSERT_EQ(b->DataSamples, 10);
  EXPECT_EQ(WaveSeek(b, 4), 0) << "a closed block remembers the position";
  EXPECT_EQ(b->SamplePos, 4);
  ASSERT_EQ(WaveReopen(b), 0);
  EXPECT_EQ(b->BytesLeft, 24);
  EXPECT_EQ(WaveSetIOBuffer(b, 100), 0) << "memory images need no buffer";
  char buf[64];
  ASSERT_EQ(WaveRead(b, buf, 4), 4);
  EXPECT_EQ(0, std::memcmp(buf, samples.data() + 16, 4));
  EXPECT_EQ(b->SamplePos, 5);
  EXPECT_EQ(WaveSeek(b, -1), 106);
  EXPECT_EQ(b->SamplePos, 5) << "a refused seek changes nothing";
  ASSERT_EQ(WaveSeek(b, 1000), 0);
  EXPECT_EQ(b->SamplePos, 9) << "beyond the end lands on the last sample";
  EXPECT_EQ(b->BytesLeft, 4);
  EXPECT_EQ(WaveRead(b, buf, 64), 4) << "reads stop at the end of the data";
  EXPECT_EQ(0, std::memcmp(buf, samples.data() + 36, 4));
  EXPECT_EQ(WaveRead(b, buf, 64), -1);
  ASSERT_EQ(WaveSeek(b, 0), 0);
  EXPECT_EQ(ReadRest(b, 6), samples);
  EXPECT_EQ(WaveWrite(b, buf, 4), -1) << "memory sources are read-only";
  ASSERT_EQ(WaveFinish(b), 0);
  EXPECT_EQ(b->SamplePos, 0);
  EXPECT_EQ(WaveRead(b, buf, 4), -1);
  WaveFree(b);
}

TEST(WaveIO, HeaderOnlyAndResourceSources) {
  Bytes info{'I', 'N', 'F', 'O'};
  const Bytes name = Chunk("INAM", {'N', 'a', 'm', 'e', 0});
  const Bytes bogus = Chunk("ICMT", {'x'}, 9999);  // runs past the list: ignored
  info.insert(info.end(), name.begin(), name.end());
  info.insert(info.end(), bogus.begin(), bogus.end());
  Bytes disp;
  Put32(disp, CF_TEXT);
  for (char c : std::string("Shown")) disp.push_back(c);
  disp.push_back(0);
  const Bytes headerOnly = Riff({Chunk("LIST", info), Chunk("DISP", disp)});
  PWaveIOBlock b = nullptr;
  EXPECT_EQ(OpenImage(headerOnly, b), 101);
  MMIOINFO descriptor{};
  descriptor.pchBuffer = const_cast<char*>(headerOnly.data());
  descriptor.cchBuffer = static_cast<LONG>(headerOnly.size());
  ASSERT_EQ(WaveOpen(b, reinterpret_cast<const char*>(&descriptor), FOURCC_WAVE,
                     wioRead | wioMemory | wioHeaderOnly),
            0);
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 14), "Name");
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 3), "");
  ASSERT_NE(b->DispList->First, nullptr);
  EXPECT_STREQ(static_cast<const char*>(b->DispList->First->Data), "Shown");
  EXPECT_EQ(b->Format.nBlockAlign, 0);
  EXPECT_EQ(WaveReopen(b), 106) << "no format to read with";
  EXPECT_EQ(b->Handle, nullptr);
  WaveFree(b);

  // Two lists merge, the later one's tags winning. An odd-sized tag hides none behind it,
  // whether it was written with its pad byte or without.
  auto tag = [](const std::string& id, const std::string& text, bool pad) {
    Bytes b(id.begin(), id.end());
    Put32(b, static_cast<std::uint32_t>(text.size()));
    b.insert(b.end(), text.begin(), text.end());
    if (pad && (text.size() & 1)) b.push_back(0);
    return b;
  };
  auto list = [](const std::vector<Bytes>& entries) {
    Bytes body{'I', 'N', 'F', 'O'};
    for (const Bytes& e : entries) body.insert(body.end(), e.begin(), e.end());
    return Chunk("LIST", body);
  };
  using namespace std::string_literals;
  const Bytes twoLists =
      Riff({list({tag("INAM", "Old name\0"s, true), tag("IART", "Artist\0"s, false),
                  tag("ICOP", "(c)\0"s, false)}),
            Pcm16Stereo(), Chunk("data", Samples(8)),
            list({tag("INAM", "New\0"s, true), tag("ICMT", "Note\0"s, false),
                  tag("ISFT", "Tool\0"s, true), tag("IENG", "Me\0"s, false)})});
  ASSERT_EQ(OpenImage(twoLists, b), 0);
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 14), "New");
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 1), "Artist");
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 4), "(c)");
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 3), "Note");
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 18), "Tool");
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 9), "Me");
  EXPECT_EQ(b->DataBytes, 8u);
  WaveFree(b);

  static const Bytes resource = Riff({Pcm16Stereo(), Chunk("data", Samples(12, 5))});
  platform::RegisterResource("Beep", "WAVE", resource.data(), resource.size());
  EXPECT_TRUE(WaveIsValid("beep", wioRead | wioResource));
  ASSERT_EQ(WaveOpen(b, "BEEP", FOURCC_WAVE, wioRead | wioResource), 0);
  ASSERT_EQ(WaveReopen(b), 0);
  EXPECT_NE(b->ResourceHandle, nullptr);
  EXPECT_EQ(ReadRest(b, 5), Samples(12, 5));
  ASSERT_EQ(WaveFinish(b), 0);
  EXPECT_EQ(b->ResourceHandle, nullptr);
  ASSERT_EQ(WaveReopen(b), 0);
  EXPECT_EQ(ReadRest(b, 100), Samples(12, 5));
  WaveFree(b);
  platform::UnregisterResource("Beep", "WAVE");
}

TEST(WaveIO, DamagedImagesNeverReadOutsideTheirData) {
  const Bytes valid = Riff(
      {Pcm16Stereo(), Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 2, 0, 0, 0, 'a', 0}),
       Chunk("data", Samples(64)), Chunk("DISP", {1, 0, 0, 0, 'x', 0})});
  std::mt19937 rng(99);
  int opened = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes image = valid;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % image.size();
      image[at] = static_cast<char>(rng() % 3 == 0 ? 0xFF : rng());
    }
    if (rng() % 4 == 0) image.resize(rng() % image.size() + 1);
    PWaveIOBlock b = nullptr;
    if (OpenImage(image, b) != 0) {
      ASSERT_EQ(b, nullptr);
      continue;
    }
    ++opened;
    ASSERT_LE(std::uint64_t{b->DataOffset} + b->DataBytes, image.size());
    ASSERT_EQ(b->DataBytes % b->Format.nBlockAlign, 0u);
    if (WaveReopen(b) == 0) {
      const Bytes got = ReadRest(b, 13);
      ASSERT_LE(got.size(), b->DataBytes);
      ASSERT_EQ(Bytes(image.begin() + b->DataOffset, image.begin() + b->DataOffset + got.size()),
                got);
    }
    WaveFree(b);
  }
  EXPECT_GT(opened, 100);
}

TEST(WaveIO, AppendingToAnOpenedFileRewritesBothSizes) {
  WAVEFORMATEX format{};
  BuildPCMFormat(format, 16, 2, 8000);
  PWaveIOBlock b = nullptr;
  ASSERT_EQ(WaveCreate(b, &format), 0);
  ASSERT_EQ(WaveInfoSetText(b->InfoList, 1, "Artist name"), 0);
  const std::string path = TempPath("append");
  ASSERT_EQ(WaveCreateFile(b, path.c_str()), 0);
  const Bytes first = Samples(40, 1), more = Samples(12, 9);
  ASSERT_EQ(WaveWrite(b, first.data(), 40), 40);
  ASSERT_EQ(WaveFinish(b), 0);
  WaveFree(b);

  ASSERT_EQ(WaveOpen(b, path.c_str(), FOURCC_WAVE, wioRead), 0);
  ASSERT_EQ(WaveReopen(b), 0);
  ASSERT_EQ(WaveSeek(b, 1000), 0);  // the last sample
  ASSERT_EQ(WaveWrite(b, more.data(), 12), 12);
  EXPECT_EQ(b->DataBytes, 48u);
  EXPECT_EQ(b->DataSamples, 12);
  ASSERT_EQ(WaveFinish(b), 0);
  WaveFree(b);

  ASSERT_EQ(WaveOpen(b, path.c_str(), FOURCC_WAVE, wioRead), 0);
  EXPECT_EQ(b->DataBytes, 48u);
  EXPECT_EQ(WaveInfoGetText(b->InfoList, 1), "Artist name");
  ASSERT_EQ(WaveReopen(b), 0);
  Bytes expected(first.begin(), first.begin() + 36);
  expected.insert(expected.end(), more.begin(), more.end());
  EXPECT_EQ(ReadRest(b, 10), expected);
  WaveFree(b);
  std::filesystem::remove(path);
}

TEST(WaveIO, FilesFrom2GiBUpTo4GiBReadWholeAndReportClampedCounts) {
  constexpr std::int64_t kGiB = std::int64_t{1} << 30;
  const std::string path = TempPath("large");
  auto header = [](const Bytes& fmt, std::uint32_t riffSize, std::uint32_t dataSize) {
    return Riff({fmt, Chunk("data", {}, dataSize)}, riffSize);
  };
  const Bytes middle = Samples(8, 5), tail = Samples(16, 3);
  // 3 GiB of 16-bit stereo (sparse, no disk used), known samples past 2 GiB and at the end;
  // once with its real sizes, once as an interrupted recording leaves it.
  const std::int64_t data = 3 * kGiB, size = 44 + data;
  for (bool interrupted : {false, true}) {
    const Bytes head = interrupted ? header(Pcm16Stereo(), 0, 0)
                                   : header(Pcm16Stereo(), static_cast<std::uint32_t>(size - 8),
                                            static_cast<std::uint32_t>(data));
    ASSERT_EQ(head.size(), 44u);
    ASSERT_TRUE(
        WriteSparseFile(path, size, {{0, head}, {44 + 2 * kGiB + 4, middle}, {size - 16, tail}}));
    for (DWORD flags : {wioRead, wioRead | wioRawFile}) {
      SCOPED_TRACE(std::to_string(interrupted) + " " + std::to_string(flags));
      PWaveIOBlock b = nullptr;
      ASSERT_EQ(WaveOpen(b, path.c_str(), FOURCC_WAVE, flags), 0);
      EXPECT_EQ(b->FileSize, static_cast<std::uint32_t>(size));
      EXPECT_EQ(b->DataBytes, static_cast<std::uint32_t>(data));
      EXPECT_EQ(b->DataSamples, data / 4);
      EXPECT_EQ(b->LastSample, data / 4);
      ASSERT_EQ(WaveReopen(b), 0);
      EXPECT_EQ(b->BytesLeft, static_cast<std::uint32_t>(data));
      ASSERT_EQ(WaveSeek(b, static_cast<std::int32_t>((2 * kGiB + 4) / 4)), 0);
      EXPECT_EQ(b->SamplePos, (2 * kGiB + 4) / 4);
      EXPECT_EQ(b->BytesLeft, static_cast<std::uint32_t>(data - 2 * kGiB - 4));
      Bytes got(8);
      ASSERT_EQ(WaveRead(b, got.data(), 8), 8);
      EXPECT_EQ(got, middle);
      EXPECT_EQ(b->SamplePos, (2 * kGiB + 12) / 4);
      ASSERT_EQ(WaveSeek(b, b->DataSamples - 4), 0);
      EXPECT_EQ(ReadRest(b, 5), tail);
      EXPECT_EQ(b->SamplePos, b->DataSamples);
      WaveFree(b);
    }
  }

  // Beyond 4 GiB, with the sizes of a streaming writer: the counts are clamped, and the data
  // reads up to the last whole block a 32-bit size holds.
  const std::int64_t huge = 4 * kGiB + 100;
  const std::int64_t lastBlocks = 44 + 0xFFFFFFFCLL - 16;
  ASSERT_TRUE(WriteSparseFile(
      path, huge, {{0, header(Pcm16Stereo(), 0xFFFFFFFFu, 0xFFFFFFFFu)}, {lastBlocks, tail}}));
  PWaveIOBlock b = nullptr;
  ASSERT_EQ(WaveOpen(b, path.c_str(), FOURCC_WAVE, wioRead), 0);
  EXPECT_EQ(b->FileSize, 0xFFFFFFFFu);
  EXPECT_EQ(b->DataBytes, 0xFFFFFFFCu);
  EXPECT_EQ(b->DataSamples, 0x3FFFFFFF);
  ASSERT_EQ(WaveReopen(b), 0);
  ASSERT_EQ(WaveSeek(b, b->DataSamples - 4), 0);
  EXPECT_EQ(ReadRest(b, 16), tail);
  WaveFree(b);

  // 8-bit mono beyond 2^31 samples: the sample counts stop at the largest 32-bit value.
  const Bytes mono8 = Fmt(1, 1, 8000, 8000, 1, 8);
  ASSERT_TRUE(WriteSparseFile(path, size, {{0, header(mono8, 0, 0)}}));
  ASSERT_EQ(WaveOpen(b, path.c_str(), FOURCC_WAVE, wioRead), 0);
  EXPECT_EQ(b->DataBytes, static_cast<std::uint32_t>(data));
  EXPECT_EQ(b->DataSamples, 0x7FFFFFFF);
  EXPECT_EQ(b->LastSample, 0x7FFFFFFF);
  ASSERT_EQ(WaveReopen(b), 0);
  ASSERT_EQ(WaveSeek(b, 0x7FFFFFFF), 0);
  EXPECT_EQ(b->SamplePos, 0x7FFFFFFE);
  EXPECT_EQ(b->BytesLeft, 1u);
  WaveFree(b);

  // Writing: the data grows past 2 GiB, but the file never beyond what the RIFF chunk's
  // 32-bit size holds, pad byte included.
  WAVEFORMATEX format{};
  BuildPCMFormat(format, 16, 2, 44100);
  PWaveIOBlock writer = nullptr;
  ASSERT_EQ(WaveCreate(writer, &format), 0);
  ASSERT_EQ(WaveCreateFile(writer, path.c_str()), 0);
  ASSERT_EQ(platform::MmioSeek64(writer->Handle, 44 + data, SEEK_SET), 44 + data);
  ASSERT_EQ(WaveWrite(writer, tail.data(), 16), 16);
  EXPECT_EQ(writer->DataBytes, static_cast<std::uint32_t>(data + 16));
  EXPECT_EQ(writer->SamplePos, (data + 16) / 4);
  EXPECT_EQ(writer->DataSamples, (data + 16) / 4);
  const std::int64_t lastEnd = 0xFFFFFFFFLL + 7;  // file size 4 GiB + 6, RIFF size 4 GiB - 2
  ASSERT_EQ(platform::MmioSeek64(writer->Handle, lastEnd - 16, SEEK_SET), lastEnd - 16);
  EXPECT_EQ(WaveWrite(writer, tail.data(), 16), 16);
  EXPECT_EQ(WaveWrite(writer, tail.data(), 1), -1);
  EXPECT_EQ(writer->DataBytes, static_cast<std::uint32_t>(lastEnd - 44));
  ASSERT_EQ(WaveFinish(writer), 0);
  WaveFree(writer);
  ASSERT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(lastEnd));
  ASSERT_EQ(WaveOpen(b, path.c_str(), FOURCC_WAVE, wioRead), 0);
  EXPECT_EQ(b->FileSize, 0xFFFFFFFFu) << "4 GiB + 6, clamped";
  EXPECT_EQ(b->DataBytes, static_cast<std::uint32_t>(lastEnd - 44) / 4 * 4);
  ASSERT_EQ(WaveReopen(b), 0);
  ASSERT_EQ(WaveSeek(b, static_cast<std::int32_t>(data / 4)), 0);
  Bytes written(16);
  ASSERT_EQ(WaveRead(b, written.data(), 16), 16);
  EXPECT_EQ(written, tail);
  WaveFree(b);
  std::filesystem::remove(path);
}
