#include "core/download/Mp3Frames.h"

#include <algorithm>
#include <array>

namespace melo::download {
namespace {

struct Frame {
  std::size_t bytes = 0;
  int samples = 0;
  int sampleRate = 0;
};

// kbit/s by [table][index]: MPEG-1 layers I, II, III; MPEG-2/2.5 layer I;
// MPEG-2/2.5 layers II and III.
constexpr std::array<std::array<int, 15>, 5> kBitRates{{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};
constexpr std::array<int, 3> kSampleRates{44100, 48000, 32000};

std::optional<Frame> FrameAt(std::string_view bytes, std::size_t at) {
  if (at + 4 > bytes.size())
    return std::nullopt;
  const auto b1 = static_cast<unsigned char>(bytes[at + 1]);
  const auto b2 = static_cast<unsigned char>(bytes[at + 2]);
  if (static_cast<unsigned char>(bytes[at]) != 0xFF || (b1 & 0xE0) != 0xE0)
    return std::nullopt;
  const int version = (b1 >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  const int layer = 4 - ((b1 >> 1) & 3);
  const int rateIndex = b2 >> 4, sampleIndex = (b2 >> 2) & 3;
  if (version == 1 || layer == 4 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3)
    return std::nullopt;
  const bool mpeg1 = version == 3;
  const int table = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
  const int bitRate = kBitRates[table][rateIndex] * 1000;
  const int sampleRate = kSampleRates[sampleIndex] >> (mpeg1 ? 0 : (version == 2 ? 1 : 2));
  const int padding = (b2 >> 1) & 1;
  Frame frame;
  frame.sampleRate = sampleRate;
  if (layer == 1) {
    frame.samples = 384;
    frame.bytes = static_cast<std::size_t>((12 * bitRate / sampleRate + padding) * 4);
  } else {
    frame.samples = layer == 3 && !mpeg1 ? 576 : 1152;
    frame.bytes = static_cast<std::size_t>(frame.samples / 8 * bitRate / sampleRate + padding);
  }
  return frame;
}

std::size_t Id3v2Bytes(std::string_view bytes) {
  if (bytes.size() < 10 || bytes.substr(0, 3) != "ID3")
    return 0;
  std::size_t size = 0;
  for (int i = 6; i < 10; ++i)
    size = (size << 7) | (static_cast<unsigned char>(bytes[i]) & 0x7F);
  return 10 + size + ((bytes[5] & 0x10) != 0 ? 10 : 0);  // footer
}

std::size_t BigEndian(std::string_view bytes, bool syncSafe) {
  std::size_t value = 0;
  for (const char byte : bytes)
    value = syncSafe ? (value << 7) | (static_cast<unsigned char>(byte) & 0x7F)
                     : (value << 8) | static_cast<unsigned char>(byte);
  return value;
}

}  // namespace

std::optional<std::int64_t> Id3LengthMs(std::string_view head) {
  const std::size_t end = std::min(Id3v2Bytes(head), head.size());
  const int version = end > 0 ? head[3] : 0;
  if (version != 3 && version != 4)
    return std::nullopt;
  for (std::size_t at = 10; at + 10 <= end;) {
    const std::string_view id = head.substr(at, 4);
    const std::size_t size = BigEndian(head.substr(at + 4, 4), version == 4);
    if (id[0] == '\0' || at + 10 + size > end)
      return std::nullopt;  // padding, or a frame that does not fit
    if (id == "TLEN" && size > 1) {
      // Text in ISO-8859-1 or UTF-8: the digits read the same.
      std::int64_t ms = 0;
      bool digits = false;
      for (const char c : head.substr(at + 11, size - 1)) {
        if (c < '0' || c > '9' || ms > 1'000'000'000)
          break;
        ms = ms * 10 + (c - '0');
        digits = true;
      }
      return digits && ms > 0 ? std::optional(ms) : std::nullopt;
    }
    at += 10 + size;
  }
  return std::nullopt;
}

std::optional<std::int64_t> Mp3PlayingMs(std::string_view bytes) {
  std::int64_t samples = 0;
  int sampleRate = 0;
  for (std::size_t at = Id3v2Bytes(bytes); at < bytes.size();) {
    const std::optional<Frame> frame = FrameAt(bytes, at);
    if (!frame) {
      ++at;
      continue;
    }
    if (sampleRate == 0)
      sampleRate = frame->sampleRate;
    samples += frame->samples;
    at += frame->bytes;
  }
  if (sampleRate == 0)
    return std::nullopt;
  return samples * 1000 / sampleRate;
}

}  // namespace melo::download
