#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Sorvane {

enum class Codec : uint32_t { HEVC = 0, H264 = 1 };
enum class RateControlMode : uint32_t { Bitrate = 0, Quality = 1, VBR = 2 };
// What an open encoder runs on. A hardware encoder's copy that could only open in software is
// another kind: it would silently cost the stream its speed and quality.
enum class EncoderKind : uint32_t { Unknown = 0, Software = 1, Hardware = 2 };

const char* CodecLabel(Codec codec);                 // "HEVC", "H264"
const char* RateControlLabel(RateControlMode mode);  // "Bitrate", "Quality", "VBR"

inline constexpr uint32_t kDefaultBitrateBps = 15000000;
inline constexpr uint32_t kDefaultFrameCap = 340000;
inline constexpr uint32_t kMinFrameCap = 100000;
inline constexpr uint32_t kMaxFrameCap = 20000000;

// An encoder's complete configuration; what the pipeline clones an encoder from.
struct EncoderSettings {
  int32_t width = 0;
  int32_t height = 0;
  int32_t fps = 30;
  uint32_t bitrateBps = 0;      // 0 = the encoder's default of 15 000 000
  uint32_t peakBitrateBps = 0;  // VBR peak; 0 = none given
  int32_t gopFrames = 1;        // values below 1 count as 1
  Codec codec = Codec::HEVC;
  RateControlMode rateControl = RateControlMode::Bitrate;
  float quality = 0.75f;                 // 0..1, used in Quality mode
  uint32_t frameCap = kDefaultFrameCap;  // 0 = 340 000
};

// One encoded access unit in Annex B form (parameter sets first on keyframes). The bytes are
// valid only during the call; timestampUs is on the encoder's own time line.
using EncodedFrameCallback =
    std::function<void(const uint8_t* data, size_t size, bool keyframe, uint64_t timestampUs)>;

// Every video encoder sits behind this interface.
class IHardwareEncoder {
 public:
  virtual ~IHardwareEncoder() = default;
  virtual bool Configure(int width, int height, uint32_t bitrateBps, int fps) = 0;
  virtual void Shutdown() = 0;
  virtual bool IsConfigured() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int FrameRate() const = 0;
  virtual std::string Description() const { return std::string(); }
  virtual void EncodeFrame(const uint8_t* bgra, int width, int height, int strideBytes) = 0;
  virtual void RequestKeyframe() = 0;
  virtual void SetBitrate(uint32_t bps) = 0;
  virtual uint32_t Bitrate() const = 0;
  virtual void SetPeakBitrate(uint32_t bps) = 0;
  virtual void SetGopSize(int frames) = 0;
  virtual int GopSize() const = 0;
  virtual void SetCodec(Codec codec) = 0;
  virtual Codec GetCodec() const = 0;
  virtual void SetRateControl(RateControlMode mode, float quality) = 0;
  virtual RateControlMode GetRateControl() const = 0;
  virtual void CompressEmergency(int frames) = 0;
  virtual void SetFrameCap(uint32_t cap) = 0;
  virtual uint32_t FrameCap() const = 0;
  virtual void SetOutputCallback(EncodedFrameCallback callback) = 0;
  virtual std::unique_ptr<IHardwareEncoder> Clone(const EncoderSettings& settings) = 0;
  virtual bool HasProducedKeyframe() const = 0;
  virtual void ForceKeyframe() { RequestKeyframe(); }
  virtual void SetQualityMode(float quality) {}
  virtual void SetHrdBufferBits(int64_t bufferBits, int64_t avgBitrateBps) {}
  // What the open encoder runs on; Unknown when closed or when it cannot tell.
  virtual EncoderKind Kind() const { return EncoderKind::Unknown; }
  // True once the encoder has lost what it encodes with (its device was removed or reset, or its
  // transform stopped answering): it must be configured again before it encodes anything.
  virtual bool NeedsReopen() const { return false; }
};

// The frame cap a settings record carries: 0 means the default of 340 000; otherwise clamped to
// 100 000..20 000 000 (SetFrameCap itself clamps 0 up to 100 000).
uint32_t ClampFrameCap(uint32_t cap);

}  // namespace Sorvane
