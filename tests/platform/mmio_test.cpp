#include "platform/mmio/mmio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/resources/resources.h"

namespace {

constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kInfo = mmioFOURCC('I', 'N', 'F', 'O');

std::string TempPath(const std::string& tag) {
  return (std::filesystem::temp_directory_path() /
          ("mmio_test_" + std::to_string(::getpid()) + "_" + tag))
      .string();
}

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

HMMIO Open(const std::string& path, DWORD flags) {
  std::string copy = path;
  return mmioOpenA(copy.data(), nullptr, flags);
}

std::vector<char> Le32(DWORD v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

}  // namespace

TEST(Mmio, WritesRiffChunksWithSizesAndPadBytesAndFindsThemAgain) {
  const std::string path = TempPath("chunks");
  HMMIO h = Open(path, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
  ASSERT_NE(h, nullptr);
  MMCKINFO riff{};
  riff.fccType = kWave;
  ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
  EXPECT_EQ(riff.ckid, FOURCC_RIFF);
  EXPECT_EQ(riff.dwDataOffset, 8u);
  MMCKINFO odd{};
  odd.ckid = kFmt;
  ASSERT_EQ(mmioCreateChunk(h, &odd, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioWrite(h, "abc", 3), 3);
  ASSERT_EQ(mmioAscend(h, &odd, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(odd.cksize, 3u);
  MMCKINFO list{};
  list.fccType = kInfo;
  ASSERT_EQ(mmioCreateChunk(h, &list, MMIO_CREATELIST), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioAscend(h, &list, 0), MMSYSERR_NOERROR);
  MMCKINFO data{};
  data.ckid = kData;
  ASSERT_EQ(mmioCreateChunk(h, &data, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioWrite(h, "0123", 4), 4);
  ASSERT_EQ(mmioAscend(h, &data, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

  std::vector<char> expected;
  auto add = [&](const std::string& s) { expected.insert(expected.end(), s.begin(), s.end()); };
  auto add32 = [&](DWORD v) {
    const auto b = Le32(v);
    expected.insert(expected.end(), b.begin(), b.end());
  };
  add("RIFF");
  add32(4 + 8 + 4 + 12 + 12);
  add("WAVEfmt ");
  add32(3);
  add(std::string("abc\0", 4));
  add("LIST");
  add32(4);
  add("INFOdata");
  add32(4);
  add("0123");
  EXPECT_EQ(ReadAll(path), expected);

  h = Open(path, MMIO_READ);
  ASSERT_NE(h, nullptr);
  MMCKINFO found{};
  found.fccType = mmioFOURCC('A', 'V', 'I', ' ');
  EXPECT_EQ(mmioDescend(h, &found, nullptr, MMIO_FINDRIFF), MMIOERR_CHUNKNOTFOUND);
  ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
  found.fccType = kWave;
  ASSERT_EQ(mmioDescend(h, &found, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
  MMCKINFO inner{};
  inner.fccType = kInfo;
  ASSERT_EQ(mmioDescend(h, &inner, &found, MMIO_FINDLIST), MMSYSERR_NOERROR);
  EXPECT_EQ(inner.dwDataOffset, 32u);
  ASSERT_EQ(mmioAscend(h, &inner, 0), MMSYSERR_NOERROR);
  inner.ckid = kData;
  ASSERT_EQ(mmioDescend(h, &inner, &found, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
  EXPECT_EQ(inner.cksize, 4u);
  char buf[8] = {};
  EXPECT_EQ(mmioRead(h, buf, 8), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(mmioRead(h, buf, 8), 0);
  // Nothing more inside the parent; the position is left where the search started.
  ASSERT_EQ(mmioAscend(h, &inner, 0), MMSYSERR_NOERROR);
  inner.ckid = kFmt;
  EXPECT_EQ(mmioDescend(h, &inner, &found, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
  // The fmt chunk comes before the data chunk: searching from the start finds it.
  ASSERT_EQ(mmioSeek(h, 12, SEEK_SET), 12);
  ASSERT_EQ(mmioDescend(h, &inner, &found, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
  EXPECT_EQ(inner.cksize, 3u);
  // A read-only file refuses writes and chunk creation.
  EXPECT_EQ(mmioWrite(h, "x", 1), -1);
  MMCKINFO created{};
  EXPECT_EQ(mmioCreateChunk(h, &created, 0), MMIOERR_CANNOTWRITE);
  EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
  std::filesystem::remove(path);
}

TEST(Mmio, BufferedAccessGivesTheSameResultsAsUnbuffered) {
  const std::string plainPath = TempPath("plain"), bufferedPath = TempPath("buffered");
  HMMIO plain = Open(plainPath, MMIO_CREATE | MMIO_READWRITE);
  HMMIO buffered = Open(bufferedPath, MMIO_CREATE | MMIO_READWRITE);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(buffered, nullptr);
  std::mt19937 rng(1234);
  const LONG sizes[] = {1, 7, 16, 100};
  for (int step = 0; step < 4000; ++step) {
    if (step % 500 == 0) {
      ASSERT_EQ(mmioSetBuffer(buffered, nullptr, sizes[(step / 500) % 4], 0), MMSYSERR_NOERROR);
    }
    const int op = static_cast<int>(rng() % 4);
    const LONG n = static_cast<LONG>(rng() % 40);
    if (op == 0) {
      const LONG offset = static_cast<LONG>(rng() % 300);
      ASSERT_EQ(mmioSeek(plain, offset, SEEK_SET), mmioSeek(buffered, offset, SEEK_SET));
    } else if (op == 1) {
      std::vector<char> a(n, 'x'), b(n, 'x');
      const LONG got = mmioRead(plain, a.data(), n);
      ASSERT_EQ(got, mmioRead(buffered, b.data(), n)) << step;
      ASSERT_EQ(a, b) << step;
    } else if (op == 2) {
      std::vector<char> data(n);
      for (char& c : data) c = static_cast<char>(rng());
      ASSERT_EQ(mmioWrite(plain, data.data(), n), mmioWrite(buffered, data.data(), n));
    } else {
      ASSERT_EQ(mmioSeek(plain, 0, SEEK_END), mmioSeek(buffered, 0, SEEK_END)) << step;
    }
    ASSERT_EQ(mmioSeek(plain, 0, SEEK_CUR), mmioSeek(buffered, 0, SEEK_CUR));
  }
  ASSERT_EQ(mmioClose(plain, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioClose(buffered, 0), MMSYSERR_NOERROR);
  const auto a = ReadAll(plainPath), b = ReadAll(bufferedPath);
  EXPECT_GT(a.size(), 100u);
  EXPECT_EQ(a, b);
  std::filesystem::remove(plainPath);
  std::filesystem::remove(bufferedPath);
}

TEST(Mmio, SeekingReadingAtTheEndAndTruncatedHeaders) {
  char image[] = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E', 'd', 'a', 't'};
  MMIOINFO info{};
  info.fccIOProc = FOURCC_MEM;
  info.pchBuffer = image;
  info.cchBuffer = sizeof(image);
  HMMIO h = mmioOpenA(nullptr, &info, MMIO_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 15);
  EXPECT_EQ(mmioSeek(h, -1, SEEK_SET), -1);
  EXPECT_EQ(mmioSeek(h, -16, SEEK_END), -1);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 15) << "a failed seek does not move";
  EXPECT_EQ(mmioSeek(h, 100, SEEK_SET), 100);
  char buf[4];
  EXPECT_EQ(mmioRead(h, buf, 4), 0);
  ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
  MMCKINFO riff{};
  ASSERT_EQ(mmioDescend(h, &riff, nullptr, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(riff.fccType, kWave);
  MMCKINFO ck{};
  EXPECT_EQ(mmioDescend(h, &ck, &riff, 0), MMIOERR_CHUNKNOTFOUND);
  EXPECT_EQ(mmioDescend(h, &ck, nullptr, 0), MMIOERR_CHUNKNOTFOUND) << "3-byte header";
  // Opened for reading: the caller's image is never written.
  EXPECT_EQ(mmioWrite(h, "zz", 2), -1);
  EXPECT_EQ(image[0], 'R');
  EXPECT_EQ(mmioSetBuffer(h, nullptr, 1000, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
  EXPECT_NE(mmioClose(h, 0), MMSYSERR_NOERROR) << "a closed handle is refused";
  EXPECT_EQ(mmioRead(h, buf, 1), -1);
  EXPECT_EQ(mmioSeek(nullptr, 0, SEEK_SET), -1);

  // A file from 2 GiB up (sparse: no disk used). 64-bit positions reach all of it; mmioSeek
  // refuses what its LONG result cannot report and stays where it was. Chunks past 2 GiB
  // are found and stepped over.
  const std::string path = TempPath("large");
  constexpr std::int64_t kAt = (std::int64_t{1} << 31) + 6;
  const char chunks[] =
      "junk\x03\0\0\0abc\0data\x04\0\0\0"
      "0123";
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, kAt + 100), 0);
  ASSERT_EQ(::pwrite(fd, chunks, 24, kAt), 24);
  ::close(fd);
  h = Open(path, MMIO_READWRITE | MMIO_ALLOCBUF);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_END), -1);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 0) << "a refused seek does not move";
  EXPECT_EQ(platform::MmioSeek64(h, 0, SEEK_END), kAt + 100);
  EXPECT_EQ(platform::MmioSeek64(h, -100, SEEK_CUR), kAt);
  MMIOINFO state{};
  ASSERT_EQ(mmioGetInfo(h, &state, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(state.lDiskOffset, 0x7FFFFFFF) << "clamped, not wrapped";
  ASSERT_EQ(mmioDescend(h, &ck, nullptr, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(ck.ckid, mmioFOURCC('j', 'u', 'n', 'k'));
  EXPECT_EQ(ck.dwDataOffset, kAt + 8);
  ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(platform::MmioSeek64(h, 0, SEEK_CUR), kAt + 12) << "behind the pad byte";
  ASSERT_EQ(mmioDescend(h, &ck, nullptr, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(ck.ckid, kData);
  EXPECT_EQ(mmioRead(h, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(platform::MmioSeek64(h, -1, SEEK_SET), -1);
  EXPECT_EQ(platform::MmioSeek64(h, std::int64_t{1} << 34, SEEK_SET), -1);
  EXPECT_EQ(platform::MmioSeek64(h, 0, SEEK_CUR), kAt + 24);
  // A chunk whose data offset would not fit its 32-bit field is not created.
  ASSERT_EQ(platform::MmioSeek64(h, 0xFFFFFFFFLL - 4, SEEK_SET), 0xFFFFFFFFLL - 4);
  MMCKINFO beyond{};
  EXPECT_EQ(mmioCreateChunk(h, &beyond, 0), MMIOERR_CANNOTSEEK);
  EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(kAt + 100));
  std::filesystem::remove(path);
}

TEST(Mmio, MemoryImagesWriteInPlaceAndGrowOnlyWhenOwned) {
  char image[6] = {};
  MMIOINFO info{};
  info.fccIOProc = FOURCC_MEM;
  info.pchBuffer = image;
  info.cchBuffer = sizeof(image);
  HMMIO h = mmioOpenA(nullptr, &info, MMIO_READWRITE);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(mmioWrite(h, "hello", 5), 5);
  EXPECT_EQ(std::string(image, 5), "hello");
  EXPECT_EQ(mmioWrite(h, "!!", 2), -1) << "a caller's image has a fixed size";
  EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

  MMIOINFO grow{};
  grow.fccIOProc = FOURCC_MEM;
  grow.adwInfo[0] = 16;
  h = mmioOpenA(nullptr, &grow, MMIO_READWRITE);
  ASSERT_NE(h, nullptr);
  std::string text(100, 'q');
  EXPECT_EQ(mmioWrite(h, text.data(), 100), 100);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 112) << "grown in steps of 16";
  ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
  std::string back(100, '\0');
  EXPECT_EQ(mmioRead(h, back.data(), 100), 100);
  EXPECT_EQ(back, text);
  EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
}

TEST(Mmio, ExistDeleteParseAndOpenErrors) {
  const std::string path = TempPath("exist");
  MMIOINFO info{};
  std::string copy = path;
  EXPECT_EQ(mmioOpenA(copy.data(), &info, MMIO_READ), nullptr);
  EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
  EXPECT_EQ(mmioOpenA(copy.data(), nullptr, MMIO_EXIST), nullptr);
  HMMIO h = mmioOpenA(copy.data(), nullptr, MMIO_CREATE | MMIO_WRITE);
  ASSERT_NE(h, nullptr);
  char buf[1];
  EXPECT_EQ(mmioRead(h, buf, 1), -1) << "opened for writing only";
  ASSERT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(mmioOpenA(copy.data(), nullptr, MMIO_EXIST), MMIO_SUCCESS_HANDLE);
  EXPECT_EQ(mmioClose(MMIO_SUCCESS_HANDLE, 0), 5u) << "not an open file";
  EXPECT_EQ(mmioOpenA(copy.data(), nullptr, MMIO_DELETE), MMIO_SUCCESS_HANDLE);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(mmioOpenA(copy.data(), nullptr, MMIO_DELETE), nullptr);

  char name[128] = "some/dir/../file.wav";
  ASSERT_EQ(mmioOpenA(name, nullptr, MMIO_PARSE), MMIO_SUCCESS_HANDLE);
  EXPECT_EQ(std::string(name),
            (std::filesystem::current_path() / "some/file.wav").lexically_normal().string());
  // MMIO_PARSE fills a 128-character buffer; the name check behind it takes 260 characters.
  const std::string longest = "/" + std::string(253, 'n') + "/x.wav";
  ASSERT_EQ(longest.size(), 260u);
  std::string full;
  ASSERT_TRUE(platform::MmioParseName(longest.c_str(), full));
  EXPECT_EQ(full, longest);
  EXPECT_FALSE(platform::MmioParseName(("/" + longest).c_str(), full)) << "261 characters";
  EXPECT_FALSE(platform::MmioParseName("", full));
  std::vector<char> buffer(longest.begin(), longest.end());
  buffer.resize(300, '\0');
  EXPECT_EQ(mmioOpenA(buffer.data(), nullptr, MMIO_PARSE), nullptr);
  EXPECT_EQ(std::string(buffer.data()), longest) << "a buffer it cannot fill is left alone";

  MMIOINFO custom{};
  custom.fccIOProc = mmioFOURCC('Z', 'I', 'P', ' ');
  EXPECT_EQ(mmioOpenA(copy.data(), &custom, MMIO_READ), nullptr);
  EXPECT_EQ(custom.wErrorRet, MMIOERR_CANNOTOPEN);
  MMIOINFO huge{};
  huge.cchBuffer = MMIO_MAXBUFFER + 1;
  h = mmioOpenA(copy.data(), &huge, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(huge.wErrorRet, MMIOERR_OUTOFMEMORY);
  std::filesystem::remove(path);
}

// A file whose full name is longer than Windows' classic limit of 259
// characters is written, found, read and deleted like any other, also named
// through "..".
TEST(Mmio, FilesWithLongNamesAreWrittenReadAndDeleted) {
  const std::filesystem::path top = TempPath("deep");
  const std::filesystem::path deep = top / std::string(120, 'd') / std::string(120, 'e');
  std::filesystem::create_directories(deep);
  std::string far = (deep / ".." / std::string(120, 'e') / "long name.wav").string();
  ASSERT_GT(far.size(), 300u);
  HMMIO h = mmioOpenA(far.data(), nullptr, MMIO_CREATE | MMIO_WRITE);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(mmioWrite(h, "RIFF", 4), 4);
  ASSERT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(mmioOpenA(far.data(), nullptr, MMIO_EXIST), MMIO_SUCCESS_HANDLE);
  h = mmioOpenA(far.data(), nullptr, MMIO_READ);
  ASSERT_NE(h, nullptr);
  char riff[4] = {};
  EXPECT_EQ(mmioRead(h, riff, 4), 4);
  EXPECT_EQ(std::string(riff, 4), "RIFF");
  mmioClose(h, 0);
  EXPECT_EQ(mmioOpenA(far.data(), nullptr, MMIO_DELETE), MMIO_SUCCESS_HANDLE);
  EXPECT_EQ(mmioOpenA(far.data(), nullptr, MMIO_EXIST), nullptr);
  std::error_code ignored;
  for (auto folder = deep; folder != top.parent_path(); folder = folder.parent_path())
    std::filesystem::remove(folder, ignored);
}

TEST(Resources, RegisteredDataIsFoundByNameAndTypeInAnyCase) {
  static const char kBytes[] = "resource bytes";
  static platform::ResourceRegistration registration("TestSound", "wave", kBytes, sizeof(kBytes));
  HRSRC r = FindResourceA(nullptr, "TESTSOUND", "WAVE");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, r), sizeof(kBytes));
  EXPECT_EQ(LockResource(LoadResource(nullptr, r)), static_cast<const void*>(kBytes));
  EXPECT_EQ(FindResourceA(nullptr, "TestSound", "DATA"), nullptr);
  EXPECT_EQ(FindResourceA(nullptr, "Other", "WAVE"), nullptr);
  EXPECT_EQ(FindResourceA(nullptr, nullptr, "WAVE"), nullptr);
  platform::RegisterResource("Temp", "WAVE", kBytes, 3);
  EXPECT_EQ(SizeofResource(nullptr, FindResourceA(nullptr, "temp", "wave")), 3u);
  EXPECT_TRUE(platform::UnregisterResource("TEMP", "WAVE"));
  EXPECT_EQ(FindResourceA(nullptr, "temp", "wave"), nullptr);
}
