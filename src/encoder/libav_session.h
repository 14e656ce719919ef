#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "encoder/hardware_encoder.h"
#include "encoder/libav_rate_control.h"

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace Sorvane {

enum class EncoderFamily { Nvenc, Vaapi, Qsv, X264, X265 };

// One libavcodec encoder the Linux encoder may open.
struct EncoderCandidate {
  const char* name;  // libavcodec encoder name
  EncoderFamily family;
  Codec codec;
  bool hardware;
};

// The candidates for a codec in the order they are tried: NVENC, VAAPI, Quick Sync, software.
const std::vector<EncoderCandidate>& EncoderCandidates(Codec codec);

struct SessionSettings {
  int width = 0;  // coded size, even
  int height = 0;
  int fps = 30;
  int gopFrames = 1;
  RateFields rates;
  std::string softwarePreset;  // libx264 / libx265 preset; empty = the tuned default
};

// One open libavcodec encoder with its input picture, tuned for zero latency: no B-frames and no
// lookahead, so the access unit of frame N comes out before frame N + 1 goes in.
class LibavSession {
 public:
  // Opens the encoder, or returns null with the reason in `error`.
  static std::unique_ptr<LibavSession> Open(const EncoderCandidate& candidate,
                                            const SessionSettings& settings, std::string* error);
  ~LibavSession();
  LibavSession(const LibavSession&) = delete;
  LibavSession& operator=(const LibavSession&) = delete;

  const EncoderCandidate& Candidate() const { return candidate_; }
  // Whether rate changes reach the open encoder (libx264 and NVENC re-read them every frame);
  // the others take them at the next open.
  bool LiveRates() const;
  // The global header (extradata) as the encoder wrote it.
  std::vector<uint8_t> Extradata() const;

  // Converts a BGRA picture of the coded size into the next input frame; false on failure.
  bool WritePicture(const uint8_t* bgra, int strideBytes);
  // Submits the picture written last. Returns 0 or a negative libavcodec error.
  int Submit(int64_t pts, bool keyframe, bool coarsest);
  // Whether a Submit result means "drain the output first, then submit again".
  static bool MustDrainFirst(int status);
  // Hands every packet that is ready to `sink` (data, size, encoder's key flag).
  void Drain(const std::function<void(const uint8_t*, size_t, bool)>& sink);
  // Applies new rates to the open encoder (see LiveRates).
  void UpdateRates(const RateFields& rates);

 private:
  explicit LibavSession(const EncoderCandidate& candidate);
  bool OpenCodec(const SessionSettings& settings, std::string* error);
  bool SetUpHardwareFrames(int width, int height, std::string* error);

  EncoderCandidate candidate_;
  AVCodecContext* context_ = nullptr;
  AVFrame* picture_ = nullptr;  // system-memory input (NV12, or 4:2:0 planar for libx265)
  AVFrame* upload_ = nullptr;   // GPU surface for VAAPI
  AVPacket* packet_ = nullptr;
  AVBufferRef* device_ = nullptr;
  AVBufferRef* frames_ = nullptr;
};

// Sends libavcodec's warnings and errors to the encoder log instead of standard error (once per
// process).
void RouteLibavLog();

// "<code> (<text>)" for a libavcodec error.
std::string LibavErrorText(int error);

}  // namespace Sorvane
