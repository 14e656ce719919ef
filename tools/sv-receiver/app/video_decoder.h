#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Sorvane::receiver {

// A decoded picture: planar 8-bit luma plus the decoder's own frame for conversions.
struct DecodedPicture {
  int width = 0;
  int height = 0;
  const uint8_t* luma = nullptr;
  int lumaStride = 0;
  bool keyframe = false;
  bool hevc = false;              // else H.264
  const void* avFrame = nullptr;  // the AVFrame, valid during the callback only
};

// Decodes H.264 or HEVC access units (Annex B) with libavcodec, one picture out per unit (the
// stream has no reordering).
class VideoDecoder {
 public:
  enum class Codec { H264, HEVC };
  using PictureCallback = std::function<void(const DecodedPicture&)>;

  explicit VideoDecoder(PictureCallback onPicture);
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  // Decodes one access unit; the decoder is (re)opened when the codec changes. False when the
  // unit could not be decoded (the next keyframe recovers).
  bool Decode(Codec codec, const uint8_t* data, size_t size);
  uint64_t picturesDecoded() const { return pictures_; }
  uint64_t decodeErrors() const { return errors_; }

 private:
  struct State;
  bool Open(Codec codec);
  std::unique_ptr<State> state_;
  PictureCallback onPicture_;
  uint64_t pictures_ = 0;
  uint64_t errors_ = 0;
};

// The codec of a keyframe, told by the parameter set that leads it (HEVC VPS/SPS/PPS or H.264
// SPS); nullopt when the first unit is neither.
std::optional<VideoDecoder::Codec> CodecOfKeyframe(const uint8_t* data, size_t size);

}  // namespace Sorvane::receiver
