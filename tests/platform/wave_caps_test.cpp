#include "platform/wave/wave_caps.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/audio/audio_backend.h"
#include "platform/wave/text_cut.h"
#include "platform/wave/wave_error_text.h"

namespace {

void Select(const std::string& selection) {
  std::string reason;
  ASSERT_TRUE(platform::SelectAudioBackend(selection, &reason)) << reason;
}

TEST(WaveCaps, CountsAndRecords) {
  Select("virtual:in=Desk Mic@440:-6:-12|Line In|Third;out=Speakers");
  EXPECT_EQ(waveInGetNumDevs(), 3u);
  EXPECT_EQ(waveOutGetNumDevs(), 1u);

  WAVEINCAPSA in;
  std::memset(&in, 0xAB, sizeof(in));
  ASSERT_EQ(waveInGetDevCapsA(1, &in, sizeof(in)), MMSYSERR_NOERROR);
  EXPECT_STREQ(in.szPname, "Line In");
  EXPECT_EQ(in.vDriverVersion, platform::kWaveDriverVersion);
  EXPECT_EQ(in.wChannels, 2);
  EXPECT_EQ(in.dwFormats & WAVE_FORMAT_4S16, WAVE_FORMAT_4S16);
  EXPECT_EQ(in.dwFormats & WAVE_FORMAT_1M08, WAVE_FORMAT_1M08);
  EXPECT_EQ(in.dwFormats & WAVE_FORMAT_96S16, WAVE_FORMAT_96S16);
  // The rest of the name field is cleared, not left as it was.
  for (size_t i = std::strlen(in.szPname); i < sizeof(in.szPname); ++i) EXPECT_EQ(in.szPname[i], 0);

  WAVEOUTCAPSA out;
  ASSERT_EQ(waveOutGetDevCapsA(0, &out, sizeof(out)), MMSYSERR_NOERROR);
  EXPECT_STREQ(out.szPname, "Speakers");
  EXPECT_EQ(out.wChannels, 2);
  EXPECT_EQ(out.dwSupport, 0u);
  // A larger buffer is fine.
  unsigned char big[sizeof(WAVEOUTCAPSA) + 8] = {};
  EXPECT_EQ(waveOutGetDevCapsA(0, reinterpret_cast<WAVEOUTCAPSA*>(big), sizeof(big)),
            MMSYSERR_NOERROR);
}

TEST(WaveCaps, BadIdsAndParameters) {
  Select("virtual:in=A|B;out=C");
  WAVEINCAPSA in{};
  std::strcpy(in.szPname, "untouched");
  EXPECT_EQ(waveInGetDevCapsA(2, &in, sizeof(in)), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInGetDevCapsA(1000, &in, sizeof(in)), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInGetDevCapsA(static_cast<UINT_PTR>(-2), &in, sizeof(in)), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInGetDevCapsA(0xFFFFFFFEu, &in, sizeof(in)), MMSYSERR_BADDEVICEID);
  EXPECT_STREQ(in.szPname, "untouched");  // a failed call leaves the record alone
  EXPECT_EQ(waveInGetDevCapsA(0, nullptr, sizeof(in)), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInGetDevCapsA(0, &in, sizeof(in) - 1), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInGetDevCapsA(0, &in, 0), MMSYSERR_INVALPARAM);
  WAVEOUTCAPSA out{};
  EXPECT_EQ(waveOutGetDevCapsA(1, &out, sizeof(out)), MMSYSERR_BADDEVICEID);
  // The input record is too small for an output query.
  EXPECT_EQ(waveOutGetDevCapsA(0, &out, sizeof(WAVEINCAPSA)), MMSYSERR_INVALPARAM);
}

TEST(WaveCaps, MapperExistsWhileADeviceExists) {
  Select("virtual:in=A|B;out=C");
  WAVEINCAPSA in{};
  ASSERT_EQ(waveInGetDevCapsA(WAVE_MAPPER, &in, sizeof(in)), MMSYSERR_NOERROR);
  EXPECT_STREQ(in.szPname, "Default recording device");
  // The 32-bit -1 and the pointer-wide -1 both mean the mapper.
  ASSERT_EQ(waveInGetDevCapsA(static_cast<UINT_PTR>(-1), &in, sizeof(in)), MMSYSERR_NOERROR);
  EXPECT_STREQ(in.szPname, "Default recording device");
  WAVEOUTCAPSA out{};
  ASSERT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &out, sizeof(out)), MMSYSERR_NOERROR);
  EXPECT_STREQ(out.szPname, "Default playback device");

  Select("virtual:in=;out=C");
  EXPECT_EQ(waveInGetNumDevs(), 0u);
  EXPECT_EQ(waveInGetDevCapsA(WAVE_MAPPER, &in, sizeof(in)), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &out, sizeof(out)), MMSYSERR_NOERROR);

  Select("none");
  EXPECT_EQ(waveOutGetNumDevs(), 0u);
  EXPECT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &out, sizeof(out)), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutGetDevCapsA(0, &out, sizeof(out)), MMSYSERR_BADDEVICEID);
}

TEST(WaveCaps, LongUtf8NamesAreCutAtACharacterBoundary) {
  // 30 ASCII bytes, then a two-byte character that ends at byte 32: it must
  // go whole, leaving 30 bytes.
  std::string thirty(30, 'x');
  Select("virtual:in=" + thirty + "ü tail|" + std::string(29, 'y') + "ü|" + thirty +
         "€;out=" + std::string(31, 'z') + "q");
  WAVEINCAPSA in{};
  ASSERT_EQ(waveInGetDevCapsA(0, &in, sizeof(in)), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(in.szPname), thirty);
  // 29 + 2 bytes fit exactly in 31.
  ASSERT_EQ(waveInGetDevCapsA(1, &in, sizeof(in)), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(in.szPname), std::string(29, 'y') + "ü");
  // A three-byte character starting at byte 30 goes whole.
  ASSERT_EQ(waveInGetDevCapsA(2, &in, sizeof(in)), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(in.szPname), thirty);
  WAVEOUTCAPSA out{};
  ASSERT_EQ(waveOutGetDevCapsA(0, &out, sizeof(out)), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(out.szPname), std::string(31, 'z'));
  EXPECT_EQ(out.szPname[31], 0);

  // Cuts fall between characters as the reader sees them: a character and the
  // marks, joiners and modifiers that belong to it go together or not at all.
  const struct {
    std::string text;
    std::size_t limit;
    std::size_t kept;
  } cuts[] = {
      {"abcdef", 4, 4},
      {"ab", 4, 2},
      {"ab\u00fc", 3, 2},                                    // inside a UTF-8 sequence
      {"abe\u0301x", 4, 2},                                  // before a combining accent
      {"abe\u0301x", 5, 5},                                  // after it
      {"a\U0001F468\u200D\U0001F469x", 8, 1},                // after a zero-width joiner
      {"a\U0001F468\u200D\U0001F469x", 12, 12},              // the whole sequence
      {"a\U0001F44D\U0001F3FDx", 6, 1},                      // before a skin tone
      {"a\u2764\uFE0Fx", 4, 1},                              // before a variation selector
      {"a\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 12, 9},  // flags in pairs
      {"\U0001F1E9\U0001F1EA\U0001F1EB", 6, 0},              // half a flag
      {"ab\r\nc", 3, 2},                                     // a line end whole
      {"a\xFF\xFE"
       "b",
       3, 3},  // no UTF-8: byte by byte
  };
  for (const auto& cut : cuts) {
    EXPECT_EQ(platform::CharacterCut(cut.text.data(), cut.text.size(), cut.limit), cut.kept)
        << cut.text << " within " << cut.limit;
  }
}

TEST(WaveErrorText, TextsAndUnknownCodes) {
  char text[MAXERRORLENGTH];
  ASSERT_EQ(waveInGetErrorTextA(MMSYSERR_BADDEVICEID, text, sizeof(text)), MMSYSERR_NOERROR);
  EXPECT_NE(std::string(text).find("out of range"), std::string::npos);
  for (MMRESULT code = MMSYSERR_NOERROR; code <= MMSYSERR_LASTERROR; ++code) {
    EXPECT_EQ(waveOutGetErrorTextA(code, text, sizeof(text)), MMSYSERR_NOERROR) << code;
    EXPECT_GT(std::strlen(text), 10u) << code;
  }
  for (MMRESULT code = WAVERR_BASE; code <= WAVERR_LASTERROR; ++code) {
    EXPECT_EQ(waveInGetErrorTextA(code, text, sizeof(text)), MMSYSERR_NOERROR) << code;
  }
  EXPECT_EQ(waveInGetErrorTextA(MMSYSERR_LASTERROR + 1, text, sizeof(text)), MMSYSERR_BADERRNUM);
  EXPECT_EQ(waveInGetErrorTextA(WAVERR_LASTERROR + 1, text, sizeof(text)), MMSYSERR_BADERRNUM);
  EXPECT_EQ(waveOutGetErrorTextA(12345, text, sizeof(text)), MMSYSERR_BADERRNUM);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(waveOutGetErrorTextA(MMSYSERR_NOMEM, nullptr, 10), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutGetErrorTextA(MMSYSERR_NOMEM, text, 0), MMSYSERR_INVALPARAM);
  // A short buffer gets a cut, terminated text.
  char small[8];
  std::memset(small, 'Q', sizeof(small));
  ASSERT_EQ(waveOutGetErrorTextA(MMSYSERR_NOMEM, small, sizeof(small)), MMSYSERR_NOERROR);
  EXPECT_EQ(std::strlen(small), 7u);
}

TEST(WaveCaps, SelectionIsSafeWhileOtherThreadsQuery) {
  Select("virtual:in=One");
  std::atomic<bool> stop{false};
  std::atomic<int> queries{0};
  std::thread reader([&] {
    WAVEINCAPSA in{};
    while (!stop) {
      UINT n = waveInGetNumDevs();
      EXPECT_TRUE(n == 1 || n == 2) << n;
      MMRESULT result = waveInGetDevCapsA(0, &in, sizeof(in));
      EXPECT_EQ(result, MMSYSERR_NOERROR);
      if (result == MMSYSERR_NOERROR) {
        std::string name = in.szPname;
        EXPECT_TRUE(name == "One" || name == "Two") << name;
      }
      ++queries;
    }
  });
  for (int i = 0; i < 200 || queries < 50; ++i) {
    Select(i % 2 ? "virtual:in=One" : "virtual:in=Two|Three");
  }
  stop = true;
  reader.join();
}

}  // namespace
