// The other compressed wave formats to 16-bit PCM over libavcodec: A-law, mu-law and GSM 6.10
// block by block, MPEG Layer-3 frame by frame through its parser.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/acm/codecs/av_codecs.h"
#include "platform/acm/msacm.h"

namespace platform {

namespace {

AVCodecID CodecFor(std::uint16_t tag) {
  switch (tag) {
    case WAVE_FORMAT_ALAW:
      return AV_CODEC_ID_PCM_ALAW;
    case WAVE_FORMAT_MULAW:
      return AV_CODEC_ID_PCM_MULAW;
    case WAVE_FORMAT_GSM610:
      return AV_CODEC_ID_GSM_MS;
    case WAVE_FORMAT_MPEGLAYER3:
      return AV_CODEC_ID_MP3;
    default:
      return AV_CODEC_ID_NONE;
  }
}

std::int16_t FloatTo16(float x) {
  const long v = std::lrint(static_cast<double>(x) * 32768.0);
  return static_cast<std::int16_t>(std::clamp(v, -32768L, 32767L));
}

// Sample i of channel c of a decoded frame, as 16 bits.
std::int16_t FrameSample(const AVFrame& f, int c, int i, int channels) {
  const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(f.format)) != 0;
  const int plane = planar ? c : 0;
  const int index = planar ? i : i * channels + c;
  switch (f.format) {
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
      return reinterpret_cast<const std::int16_t*>(f.extended_data[plane])[index];
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
      return static_cast<std::int16_t>(
          reinterpret_cast<const std::int32_t*>(f.extended_data[plane])[index] >> 16);
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
      return FloatTo16(reinterpret_cast<const float*>(f.extended_data[plane])[index]);
    default:
      return 0;
  }
}

class AvDecoder final : public AcmCodec {
 public:
  ~AvDecoder() override {
    av_parser_close(parser_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&ctx_);
  }

  bool Open(const WAVEFORMATEX& src) {
    const AVCodecID id = CodecFor(src.wFormatTag);
    const AVCodec* codec = avcodec_find_decoder(id);
    if (codec == nullptr) return false;
    ctx_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (ctx_ == nullptr || packet_ == nullptr || frame_ == nullptr) return false;
    channels_ = src.nChannels;
    rate_ = src.nSamplesPerSec;
    avgBytes_ = src.nAvgBytesPerSec;
    av_channel_layout_default(&ctx_->ch_layout, channels_);
    ctx_->sample_rate = static_cast<int>(rate_);
    ctx_->block_align = src.nBlockAlign;
    ctx_->bits_per_coded_sample = src.wBitsPerSample;
    if (avcodec_open2(ctx_, codec, nullptr) < 0) return false;
    switch (src.wFormatTag) {
      case WAVE_FORMAT_MPEGLAYER3:
        // Frames are found by the parser, whatever the block size says.
        block_ = 1;
        parser_ = av_parser_init(id);
        return parser_ != nullptr;
      case WAVE_FORMAT_ALAW:
      case WAVE_FORMAT_MULAW:
        block_ = src.nBlockAlign;
        samplesPerBlock_ = 1;
        return true;
      default:  // GSM 6.10: two frames in 65 bytes
        block_ = src.nBlockAlign;
        samplesPerBlock_ = 320;
        return block_ == 65;
    }
  }

  std::uint32_t SourceBlock() const override { return block_; }

  std::uint64_t OutputBound(std::uint64_t sourceBytes) const override {
    const std::uint64_t frame = static_cast<std::uint64_t>(channels_) * 2;
    if (parser_ != nullptr) {
      // From the bit rate, with room for two whole frames held back by the parser.
      const std::uint64_t avg = std::max<std::uint64_t>(avgBytes_, 1000);
      return sourceBytes * rate_ / avg * frame + 2 * 1152 * frame;
    }
    const std::uint64_t blocks = (sourceBytes + block_ - 1) / block_;
    return blocks * static_cast<std::uint64_t>(samplesPerBlock_) * frame;
  }

  std::uint64_t InputFor(std::uint64_t destBytes) const override {
    const std::uint64_t frame = static_cast<std::uint64_t>(channels_) * 2;
    if (parser_ != nullptr) {
      return destBytes / frame * std::max<std::uint64_t>(avgBytes_, 1000) / rate_;
    }
    return destBytes / (frame * static_cast<std::uint64_t>(samplesPerBlock_)) * block_;
  }

  bool Convert(const std::uint8_t* src, std::uint32_t bytes, AcmBytes& out) override {
    if (parser_ != nullptr) return Parse(src, bytes, out);
    // G.711 has one-sample blocks: everything is one packet. The others: a packet a block.
    const std::uint32_t step = samplesPerBlock_ == 1 ? bytes : block_;
    for (std::uint32_t at = 0; at + step <= bytes && step > 0; at += step) {
      if (!Decode(src + at, static_cast<int>(step), out)) return false;
    }
    return true;
  }

  // A partial block of G.711 or GSM holds no whole frame; the parser keeps no blocks.
  bool Flush(const std::uint8_t*, std::uint32_t, AcmBytes& out) override {
    if (parser_ == nullptr) return true;
    return Parse(nullptr, 0, out);
  }

  void Restart() override {
    avcodec_flush_buffers(ctx_);
    if (parser_ != nullptr) {
      av_parser_close(parser_);
      parser_ = av_parser_init(AV_CODEC_ID_MP3);
    }
  }

 private:
  // Cuts frames out of the byte stream; no data means the end: the last frame is given out.
  bool Parse(const std::uint8_t* data, std::uint32_t bytes, AcmBytes& out) {
    if (parser_ == nullptr) return false;
    const bool flushing = bytes == 0;
    const std::uint8_t* src = Padded(parserInput_, data, bytes);
    do {
      std::uint8_t* frame = nullptr;
      int frameSize = 0;
      const int used = av_parser_parse2(parser_, ctx_, &frame, &frameSize, src,
                                        static_cast<int>(bytes), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
      if (used < 0) return false;
      src += used;
      bytes -= static_cast<std::uint32_t>(used);
      if (frameSize > 0 && !Decode(frame, frameSize, out)) return false;
      if (frameSize == 0 && (flushing || used == 0)) break;
    } while (bytes > 0 || flushing);
    return true;
  }

  // One packet; undecodable data gives nothing and is skipped.
  bool Decode(const std::uint8_t* data, int size, AcmBytes& out) {
    packet_->data = Padded(packetData_, data, static_cast<std::uint32_t>(size));
    packet_->size = size;
    const int sent = avcodec_send_packet(ctx_, packet_);
    if (sent == AVERROR(ENOMEM)) return false;
    while (avcodec_receive_frame(ctx_, frame_) == 0) {
      Append(out);
      av_frame_unref(frame_);
    }
    return true;
  }

  // The frame as interleaved 16-bit samples of the stream's channels; a frame with fewer
  // channels repeats its last one.
  void Append(AcmBytes& out) {
    const int have = frame_->ch_layout.nb_channels;
    if (have < 1) return;
    const int n = frame_->nb_samples;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(n) * channels_ * 2);
    std::uint8_t* dst = out.data() + start;
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < channels_; ++c, dst += 2) {
        const std::int16_t s = FrameSample(*frame_, std::min(c, have - 1), i, have);
        dst[0] = static_cast<std::uint8_t>(s & 0xFF);
        dst[1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
      }
    }
  }

  // The library reads ahead of the data it is given: what it parses and decodes is copied
  // into `buffer` with the zero bytes it may read behind the end. Null for no bytes.
  static std::uint8_t* Padded(AcmBytes& buffer, const std::uint8_t* data, std::uint32_t bytes) {
    if (bytes == 0) return nullptr;
    buffer.assign(data, data + bytes);
    buffer.resize(std::size_t{bytes} + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    return buffer.data();
  }

  AVCodecContext* ctx_ = nullptr;
  AVCodecParserContext* parser_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int channels_ = 0;
  std::uint32_t rate_ = 0;
  std::uint32_t avgBytes_ = 0;
  std::uint32_t block_ = 1;
  int samplesPerBlock_ = 1;
  AcmBytes parserInput_;
  AcmBytes packetData_;
};

}  // namespace

std::unique_ptr<AcmCodec> MakeAvDecoder(const WAVEFORMATEX& src) {
  // The library's own diagnostics would reach the user's terminal for every damaged frame.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  auto decoder = std::make_unique<AvDecoder>();
  if (!decoder->Open(src)) return nullptr;
  return decoder;
}

}  // namespace platform
