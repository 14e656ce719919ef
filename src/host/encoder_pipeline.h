#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "base/thread_annotations.h"
#include "encoder/hardware_encoder.h"

namespace Sorvane {

// Owns one instance's video encoder and changes its settings without a gap: by default a
// reconfigured copy warms up beside the current encoder and takes over at its first keyframe.
class EncoderPipeline {
 public:
  enum class Mode : int32_t { Seamless = 0, Conservative = 1 };

  explicit EncoderPipeline(std::shared_ptr<IHardwareEncoder> encoder);
  ~EncoderPipeline();
  EncoderPipeline(const EncoderPipeline&) = delete;
  EncoderPipeline& operator=(const EncoderPipeline&) = delete;

  void SetOutputCallback(EncodedFrameCallback callback);
  void Encode(const uint8_t* pixels, int width, int height, int rowBytes);
  bool Configure(int width, int height, uint32_t bitrateBps, int fps);
  void Reconfigure(const EncoderSettings& settings);

  // Forwarded to the current encoder and to a warming copy.
  void RequestKeyframe();
  void SetGopSize(int frames);
  void SetCodec(Codec codec);
  void SetRateControl(RateControlMode mode, float quality);
  // Current encoder only.
  void CompressEmergency(int frames);

  bool IsReady() const;
  int Width() const;
  int Height() const;
  int FrameRate() const;
  std::string Description() const;
  int GopSize() const;
  Codec GetCodec() const;
  RateControlMode GetRateControl() const;
  uint32_t Bitrate() const;
  uint32_t FrameCap() const;

  // Where the pipeline is heading: a requested transition's target, else the current encoder's.
  int TargetWidth() const;
  int TargetHeight() const;
  int TargetFps() const;

  void Shutdown();

  Mode CurrentMode() const { return static_cast<Mode>(mode_.load()); }
  void SetMode(Mode mode) { mode_.store(static_cast<int32_t>(mode)); }

 private:
  // Implementation-defined members live in encoder_pipeline.cpp's companion state.
  struct State;
  std::unique_ptr<State> state_;
  std::atomic<int32_t> mode_{0};
};

}  // namespace Sorvane
