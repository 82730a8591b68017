// tessaline-decode IN OUT.wav: loads IN with the audio file component, as the player does,
// and records every buffer it delivers into OUT with the wave file recorder. Prints the
// source format and the delivered PCM format on one line, e.g.
//   in.wav: IMA ADPCM 1 ch 8000 Hz -> PCM 16 bit 1 ch 8000 Hz, 6144 samples
// and exits non-zero with the system's message when the file cannot be played.

#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "devices/wave_format.h"
#include "files/audio_file.h"
#include "files/wave_file.h"
#include "platform/text/arguments.h"
#include "platform/text/console.h"
#include "platform/text/file_names.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessaline-decode IN OUT.wav\n"
    "Plays IN through the program's audio file source, as the play buttons do, and\n"
    "writes the PCM it delivers into OUT.wav; prints the source format and the\n"
    "delivered format. Exit code 1 with the program's message when IN cannot be\n"
    "played.\n"
    "--help prints this text, --version the program's version.\n";

// Bytes per buffer asked for, as the player's output asks for them.
constexpr std::int32_t kBufferSize = 8196;

// "IMA ADPCM 1 ch 8000 Hz"; PCM also names its depth: "PCM 16 bit 1 ch 8000 Hz".
std::string Describe(const WAVEFORMATEX* f) {
  std::string text = WaveFormatTagName(f);
  if (f->wFormatTag == WAVE_FORMAT_PCM) text += " " + std::to_string(f->wBitsPerSample) + " bit";
  return text + " " + std::to_string(f->nChannels) + " ch " + std::to_string(f->nSamplesPerSec) +
         " Hz";
}

// The chain from its head (the audio file's file object) to its end (the recorder).
std::vector<TMMDSPComponent*> Chain(TMMDSPComponent* end) {
  std::vector<TMMDSPComponent*> chain;
  for (TMMDSPComponent* c = end; c != nullptr; c = c->GetInput()) chain.insert(chain.begin(), c);
  return chain;
}

// Opens, starts and pulls the chain to its end like an output device; the delivered bytes.
// A file without samples delivers none: the audio file's end marker is no sound.
std::int64_t Record(TMMAudioFile& file, TMMWaveFile& recorder) {
  const std::vector<TMMDSPComponent*> chain = Chain(&recorder);
  std::int64_t total = 0;
  try {
    for (TMMDSPComponent* c : chain) {
      c->SetBufferSize(kBufferSize);
      c->Opened();
    }
    for (TMMDSPComponent* c : chain) c->Started();
    // Opening may have raised the size to one whole frame of the format.
    const std::int32_t size = recorder.GetBufferSize();
    std::vector<char> block(kWaveHdrSize + static_cast<std::size_t>(size));
    auto* h = new (block.data()) TMMWaveHdr();
    h->lpData = WaveHdrData(h);
    for (bool more = !file.IsEmpty(); more;) {
      h->dwBufferLength = static_cast<DWORD>(size);
      h->dwBytesRecorded = 0;
      more = false;
      recorder.BufferLoad(h, more);
      total += h->dwBytesRecorded;
    }
  } catch (...) {
    for (TMMDSPComponent* c : chain) c->Stopped();
    for (TMMDSPComponent* c : chain) c->Closed();
    throw;
  }
  for (TMMDSPComponent* c : chain) c->Stopped();
  for (TMMDSPComponent* c : chain) c->Closed();
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  platform::Utf8Arguments arguments(argc, argv);
  argv = arguments.Values();
  if (const int code = AnswerHelpOrVersion(argc, argv, "tessaline-decode", kUsage); code >= 0) {
    return code;
  }
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-' && argv[i][1] != '\0' && std::string(argv[i]) != "--") {
      return UsageError("tessaline-decode", std::string("unknown option: ") + argv[i], kUsage);
    }
    if (std::string(argv[i]) != "--") files.push_back(argv[i]);
  }
  if (files.size() != 2) return UsageError("tessaline-decode", "needs IN and OUT.wav", kUsage);
  const std::string in = files[0];
  const std::string out = files[1];
  try {
    TMMAudioFile file(nullptr);
    file.SetFileName(in);
    if (file.FileObject() == nullptr) {
      platform::PrintText(stderr, "%s: no such file\n", in.c_str());
      return 1;
    }
    TMMWaveFile recorder(nullptr);
    recorder.GetWave().SetFileMustExist(false);
    recorder.GetWave().SetFileName(out);
    recorder.SetInput(&file);
    std::int64_t bytes = 0;
    try {
      bytes = Record(file, recorder);
    } catch (...) {
      std::error_code ec;
      std::filesystem::remove(platform::PathFromUtf8(out), ec);
      throw;
    }
    const WAVEFORMATEX* source = file.FileObject()->GetPWaveFormat();
    const WAVEFORMATEX* pcm = file.GetPWaveFormat();
    if (source == nullptr || pcm == nullptr || pcm->nBlockAlign == 0) {
      platform::PrintText(stderr, "%s: %s\n", in.c_str(), kMMNotAnAudioFile);
      return 1;
    }
    platform::PrintText(stdout, "%s: %s -> %s, %lld samples\n", in.c_str(),
                        Describe(source).c_str(), Describe(pcm).c_str(),
                        static_cast<long long>(bytes / pcm->nBlockAlign));
    return 0;
  } catch (const Exception& e) {
    platform::PrintText(stderr, "%s: %s\n", in.c_str(), e.what());
    return 1;
  }
}
