// Fuzz target: a wave image played whole through an audio file, as the player plays a file:
// the wave type probes and loads it, and its chain (file object, ADPCM stage, PCM converter,
// audio file) is opened, started and pulled to its end with a buffer of exactly the size the
// chain asks for; then once more from the middle. The image lies in an in-memory file named
// by its descriptor. Whatever the image, loading and playing either end with the system's
// error or deliver whole buffers that never exceed the buffer, and the end stays the end.

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "files/audio_file.h"
#include "platform/framework/exception.h"
#include "stream/mm_wave_hdr.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

#ifdef _WIN32
// Windows has no file in memory that a name reaches: a temporary file holds the
// image, removed with the object.
class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size)
      : path_(
            std::filesystem::temp_directory_path() /
            ("tessaline-fuzz-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".wav")) {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(out.good());
  }
  ~MemoryFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  std::string Name() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};
#else
// An in-memory file holding the image; closed with the object.
class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size)
      : fd_(memfd_create("fuzz-wave", MFD_CLOEXEC)) {
    FUZZ_CHECK(fd_ >= 0);
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = write(fd_, data + done, size - done);
      FUZZ_CHECK(n > 0);
      done += static_cast<std::size_t>(n);
    }
  }
  ~MemoryFile() { close(fd_); }
  std::string Name() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};
#endif

// A stream buffer record followed by exactly `size` bytes of data.
struct Buffer {
  explicit Buffer(std::size_t size) : block(kWaveHdrSize + size) {
    hdr = new (block.data()) TMMWaveHdr();
    hdr->lpData = WaveHdrData(hdr);
    hdr->dwBufferLength = static_cast<DWORD>(size);
  }
  std::vector<char> block;
  TMMWaveHdr* hdr;
};

// The bytes the audio file delivers once at the end of its data.
DWORD FillBytes(const Buffer& buffer) {
  return std::min<DWORD>(4, buffer.hdr->dwBufferLength);
}

// Pulls until the chain says no more follows; the bytes delivered.
std::uint64_t PlayToEnd(TMMAudioFile& file, Buffer& buffer) {
  std::uint64_t total = 0;
  bool more = true;
  // A chain that never ends is caught after many pulls that gave nothing, or after far
  // more bytes than any input here decodes to; a small buffer may take many pulls.
  for (int pulls = 0; more && (pulls < 20000 || (total > 0 && total < (64u << 20))); ++pulls) {
    buffer.hdr->dwBytesRecorded = 0;
    buffer.hdr->bLoopDone = 0;
    more = false;
    file.BufferLoad(buffer.hdr, more);
    FUZZ_CHECK(buffer.hdr->dwBytesRecorded <= buffer.hdr->dwBufferLength);
    total += buffer.hdr->dwBytesRecorded;
  }
  FUZZ_CHECK(!more);
  // Past the end: once the fill bytes that mark it (4, or fewer in a smaller buffer; unless
  // the last buffer held them), then nothing.
  for (int pull = 0; pull < 2; ++pull) {
    buffer.hdr->dwBytesRecorded = 0;
    file.BufferLoad(buffer.hdr, more);
    FUZZ_CHECK(!more);
    FUZZ_CHECK(buffer.hdr->dwBytesRecorded == 0 ||
               (pull == 0 && buffer.hdr->dwBytesRecorded == FillBytes(buffer)));
    total += buffer.hdr->dwBytesRecorded;
  }
  return total;
}

void Play(TMMAudioFile& file, std::int32_t requested) {
  file.OpenChain(requested);
  try {
    file.StartChain();
    // The chain may need more than was asked for (a whole frame of a wide format).
    const std::int32_t size = std::max(file.GetBufferSize(), requested);
    Buffer buffer(static_cast<std::size_t>(size));
    const std::uint64_t total = PlayToEnd(file, buffer);
    const WAVEFORMATEX* pcm = file.GetPWaveFormat();
    FUZZ_CHECK(pcm != nullptr && pcm->wFormatTag == WAVE_FORMAT_PCM && pcm->nBlockAlign > 0);
    // Whole frames, and once the bytes that mark the end.
    const DWORD fill = FillBytes(buffer);
    FUZZ_CHECK(total % pcm->nBlockAlign == 0 ||
               (total >= fill && (total - fill) % pcm->nBlockAlign == 0));
    FUZZ_CHECK(file.GetPosition() >= 0);

    file.SetPosition(file.GetLength() / 2);
    PlayToEnd(file, buffer);
  } catch (...) {
    file.StopChain();
    file.CloseChain();
    throw;
  }
  file.StopChain();
  file.CloseChain();
}

}  // namespace

int fuzz::AudioFileChain(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  const MemoryFile image(data, size);
  TMMAudioFile file(nullptr);
  try {
    file.SetFileName(image.Name());
  } catch (const Exception&) {
    return 0;  // refused with the system's message
  }
  if (file.IsEmpty()) return 0;
  FUZZ_CHECK(file.GetLength() >= 0);
  // Buffer sizes from odd to the player's.
  const auto requested = static_cast<std::int32_t>(1 + (size * 2654435761u) % 8196);
  try {
    Play(file, requested);
  } catch (const Exception&) {
    // A format that cannot be converted fails with the system's message.
  }
  return 0;
}
