#include "encoder/libav_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include "diag/log_channels.h"
#include "encoder/color_convert.h"

namespace Sorvane {
namespace {

constexpr double kHevcSoftwarePixelCap = 6'000'000;

std::mutex gDescriptionLock;
std::string gCurrentDescription;  // guarded by gDescriptionLock

bool IsSoftware(const std::string& name) {
  return name == "libx264" || name == "libx265";
}

// Constant-quality mapping: CRF 40 − 30 × quality, so the client's 70 % gives CRF 19 and the
// default 0.75 gives 17.5 — the range x264 and x265 treat as visually transparent — while 0 %
// (CRF 40) still yields a watchable picture.
double CrfFor(float quality) {
  return 40.0 - 30.0 * std::clamp(quality, 0.0f, 1.0f);
}

void SetOption(AVCodecContext* context, const char* key, const char* value) {
  av_opt_set(context, key, value, AV_OPT_SEARCH_CHILDREN);
}

// Zero latency for each encoder family; options an encoder does not have are ignored.
void ApplyLowLatency(AVCodecContext* context, const std::string& name) {
  if (name == "libx264") {
    // The fastest preset that keeps adaptive quantisation (needed for emergency compression).
    SetOption(context, "preset", "superfast");
    SetOption(context, "tune", "zerolatency");
  } else if (name == "libx265") {
    SetOption(context, "preset", "ultrafast");
    SetOption(context, "tune", "zerolatency");
    SetOption(context, "x265-params", "log-level=error:bframes=0:rc-lookahead=0");
  } else if (name.find("nvenc") != std::string::npos) {
    SetOption(context, "preset", "p1");
    SetOption(context, "tune", "ull");
    SetOption(context, "zerolatency", "1");
    SetOption(context, "delay", "0");
  } else if (name.find("qsv") != std::string::npos) {
    SetOption(context, "async_depth", "1");
    SetOption(context, "low_power", "1");
  }
  SetOption(context, "forced-idr", "1");
  SetOption(context, "forced_idr", "1");
}

// Quiets libavcodec while probing encoders that cannot open on this machine.
struct QuietLog {
  int previous = av_log_get_level();
  QuietLog() { av_log_set_level(AV_LOG_QUIET); }
  ~QuietLog() { av_log_set_level(previous); }
};

}  // namespace

std::string CurrentEncoderDescription() {
  std::lock_guard<std::mutex> lock(gDescriptionLock);
  return gCurrentDescription;
}

std::vector<std::string> LibavEncoder::CandidateNames(Codec codec) {
  if (codec == Codec::H264)
    return {"h264_nvenc", "h264_vaapi", "h264_qsv", "libx264"};
  return {"hevc_nvenc", "hevc_vaapi", "hevc_qsv", "libx265"};
}

bool LibavEncoder::EncoderOpens(const std::string& name, Codec codec) {
  static std::mutex probeLock;
  static std::map<std::string, bool> probed;  // hardware does not change while we run
  std::lock_guard<std::mutex> lock(probeLock);
  if (const auto it = probed.find(name); it != probed.end())
    return it->second;
  bool opens = false;
  if (const AVCodec* encoder = avcodec_find_encoder_by_name(name.c_str())) {
    QuietLog quiet;
    AVCodecContext* context = avcodec_alloc_context3(encoder);
    context->width = 256;
    context->height = 144;
    context->pix_fmt = AV_PIX_FMT_NV12;
    context->time_base = AVRational{1, 30};
    context->bit_rate = 1'000'000;
    opens = avcodec_open2(context, encoder, nullptr) == 0;
    avcodec_free_context(&context);
  }
  static_cast<void>(codec);
  probed[name] = opens;
  return opens;
}

LibavEncoder::LibavEncoder() = default;

LibavEncoder::~LibavEncoder() {
  std::lock_guard<std::mutex> lock(lock_);
  TearDownLocked();
}

bool LibavEncoder::Configure(int width, int height, uint32_t bitrateBps, int fps) {
  std::lock_guard<std::mutex> lock(lock_);
  return ConfigureLocked(width, height, bitrateBps, fps);
}

void LibavEncoder::TearDownLocked() {
  if (context_ != nullptr)
    avcodec_free_context(&context_);
  if (frame_ != nullptr)
    av_frame_free(&frame_);
  if (packet_ != nullptr)
    av_packet_free(&packet_);
  configured_.store(false);
  std::lock_guard<std::mutex> lock(descriptionLock_);
  description_.clear();
}

bool LibavEncoder::ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps) {
  TearDownLocked();
  if (width < 16 || height < 16 || fps < 1) {
    Log(channels::kEncoder, kLogError, "Configure: invalid %dx%d@%d", width, height, fps);
    return false;
  }
  if (bitrateBps == 0)
    bitrateBps = kDefaultBitrateBps;
  width_.store(width);
  height_.store(height);
  fps_.store(fps);
  bitrate_.store(bitrateBps);
  keyframeProduced_.store(false);
  keyframeRequested_.store(true);
  const Codec codec = codec_.load();
  for (const std::string& name : CandidateNames(codec)) {
    if (!IsSoftware(name) && !EncoderOpens(name, codec))
      continue;
    if (name == "libx265" && static_cast<double>(width) * height > kHevcSoftwarePixelCap) {
      Log(channels::kEncoder, kLogError,
          "Refusing %dx%d on SW HEVC encoder \"%s\" — above %.1f MPx cap (no hardware HEVC "
          "encoder here)",
          width, height, name.c_str(), kHevcSoftwarePixelCap / 1e6);
      break;
    }
    Log(channels::kEncoder, kLogInfo, "trying %s encoder: \"%s\"", IsSoftware(name) ? "SW" : "HW",
        name.c_str());
    if (OpenEncoder(name))
      break;
  }
  if (context_ == nullptr) {
    Log(channels::kEncoder, kLogError,
        "No encoder accepted our settings (codec=%s %dx%d@%d %u bps)", CodecLabel(codec), width,
        height, fps, bitrateBps);
    TearDownLocked();
    return false;
  }
  nextPts_ = 0;
  framesSinceKey_ = 0;
  output_.SetCodec(codec);
  output_.SetParameterSets(ParameterSetsFromExtradata(
      codec, context_->extradata, static_cast<size_t>(context_->extradata_size)));
  char text[256];
  std::snprintf(text, sizeof text, "%s [%s, %dx%d %s @ %d fps, %u Mbps]", encoderName_.c_str(),
                hardware_ ? "HW" : "SW", width, height, codec == Codec::H264 ? "H.264" : "HEVC",
                fps, bitrateBps / 1'000'000);
  {
    std::lock_guard<std::mutex> lock(descriptionLock_);
    description_ = text;
  }
  {
    std::lock_guard<std::mutex> lock(gDescriptionLock);
    gCurrentDescription = text;
  }
  configured_.store(true);
  Log(channels::kEncoder, kLogInfo, "Configure OK %s ps=%zuB", text,
      output_.ParameterSets().size());
  return true;
}

bool LibavEncoder::OpenEncoder(const std::string& name) {
  const AVCodec* encoder = avcodec_find_encoder_by_name(name.c_str());
  if (encoder == nullptr)
    return false;
  AVCodecContext* context = avcodec_alloc_context3(encoder);
  if (context == nullptr)
    return false;
  const int fps = fps_.load();
  context->width = width_.load();
  context->height = height_.load();
  // libx265 takes planar 4:2:0 only; everything else takes NV12 as it is converted.
  context->pix_fmt = name == "libx265" ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NV12;
  context->time_base = AVRational{1, fps};
  context->framerate = AVRational{fps, 1};
  // One more than the forced spacing, so the encoder's own interval never puts a keyframe just
  // before the one the GOP rule forces.
  const int gop = std::max(gopFrames_.load(), 1);
  context->gop_size = gop > 1 ? gop + 1 : 1;
  context->max_b_frames = 0;
  context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER | AV_CODEC_FLAG_LOW_DELAY;
  context->color_primaries = AVCOL_PRI_BT709;
  context->color_trc = AVCOL_TRC_BT709;
  context->colorspace = AVCOL_SPC_BT709;
  context->color_range = AVCOL_RANGE_MPEG;
  ApplyLowLatency(context, name);
  ApplyRateControl(context);
  int opened = 0;
  {
    QuietLog quiet;
    opened = avcodec_open2(context, encoder, nullptr);
  }
  if (opened < 0) {
    char reason[128];
    av_strerror(opened, reason, sizeof reason);
    Log(channels::kEncoder, kLogInfo, "  [%s] open \"%s\" failed %s",
        IsSoftware(name) ? "SW" : "HW", name.c_str(), reason);
    avcodec_free_context(&context);
    return false;
  }
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  frame_->format = context->pix_fmt;
  frame_->width = context->width;
  frame_->height = context->height;
  if (!frame_ || !packet_ || av_frame_get_buffer(frame_, 0) < 0) {
    avcodec_free_context(&context);
    return false;
  }
  context_ = context;
  encoderName_ = name;
  hardware_ = !IsSoftware(name);
  Log(channels::kEncoder, kLogInfo, "  -> using %s \"%s\"", hardware_ ? "HW" : "SW", name.c_str());
  return true;
}

void LibavEncoder::ApplyRateControl(AVCodecContext* context) {
  const int64_t bitrate = bitrate_.load();
  switch (rateControl_.load()) {
    case RateControlMode::Quality:
      av_opt_set_double(context->priv_data, "crf", CrfFor(quality_), 0);
      context->bit_rate = 0;
      context->rc_max_rate = bitrate;  // a ceiling so one frame cannot flood the link
      context->rc_buffer_size = static_cast<int>(bitrate);
      break;
    case RateControlMode::VBR: {
      const int64_t peak =
          (peakBitrate_ != 0 && peakBitrate_ >= bitrate) ? peakBitrate_ : bitrate * 13 / 10;
      context->bit_rate = bitrate;
      context->rc_max_rate = peak;
      context->rc_buffer_size = static_cast<int>(std::min<int64_t>(peak, INT32_MAX));
      break;
    }
    default:
      context->bit_rate = bitrate;
      context->rc_min_rate = bitrate;
      context->rc_max_rate = bitrate;
      context->rc_buffer_size = static_cast<int>(bitrate / 2);
      break;
  }
}

void LibavEncoder::Shutdown() {
  std::lock_guard<std::mutex> lock(lock_);
  TearDownLocked();
  width_.store(0);
  height_.store(0);
  fps_.store(30);
}

std::string LibavEncoder::Description() const {
  std::lock_guard<std::mutex> lock(descriptionLock_);
  return description_;
}

bool LibavEncoder::DecideKeyframe() {
  const int gop = gopFrames_.load();
  const bool dueByGop = gop > 1 && framesSinceKey_ >= gop;
  const bool requested = keyframeRequested_.exchange(false);
  if (requested || gop <= 1 || dueByGop) {
    framesSinceKey_ = 0;
    return true;
  }
  ++framesSinceKey_;
  return false;
}

void LibavEncoder::EncodeFrame(const uint8_t* bgra, int width, int height, int strideBytes) {
  std::lock_guard<std::mutex> lock(lock_);
  if (context_ == nullptr || bgra == nullptr || width < 1 || height < 1 || strideBytes <= 0)
    return;
  if (static_cast<int64_t>(strideBytes) < static_cast<int64_t>(width) * 4) {
    // Rows shorter than the width would make us read past the caller's buffer.
    if (!shortRowLogged_) {
      shortRowLogged_ = true;
      Log(channels::kEncoder, kLogError, "EncodeFrame: stride %d < width %d × 4 — frame dropped",
          strideBytes, width);
    }
    return;
  }
  const int w = context_->width, h = context_->height;
  if (width != w || height != h) {
    scaled_.resize(static_cast<size_t>(w) * h * 4);
    ScaleNearest(bgra, strideBytes, width, height, scaled_.data(), w * 4, w, h);
    bgra = scaled_.data();
    strideBytes = w * 4;
  }
  if (av_frame_make_writable(frame_) < 0)
    return;
  WritePicture(bgra, strideBytes, w, h);
  av_frame_remove_side_data(frame_, AV_FRAME_DATA_REGIONS_OF_INTEREST);
  if (emergencyFrames_.load() > 0) {
    emergencyFrames_.fetch_sub(1);
    // The coarsest quantiser libavcodec lets us ask for per frame: the largest quality offset
    // over the whole picture.
    if (AVFrameSideData* side = av_frame_new_side_data(frame_, AV_FRAME_DATA_REGIONS_OF_INTEREST,
                                                       sizeof(AVRegionOfInterest))) {
      auto* roi = reinterpret_cast<AVRegionOfInterest*>(side->data);
      *roi = AVRegionOfInterest{sizeof(AVRegionOfInterest), 0, h, 0, w, AVRational{1, 1}};
    }
  }
  const bool keyframe = DecideKeyframe();
  frame_->pict_type = keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  frame_->pts = nextPts_;
  const uint64_t timestampUs = static_cast<uint64_t>(nextPts_) * 1'000'000 / fps_.load();
  const int sent = avcodec_send_frame(context_, frame_);
  if (sent < 0) {
    char reason[128];
    av_strerror(sent, reason, sizeof reason);
    Log(channels::kEncoder, kLogError, "avcodec_send_frame failed %s", reason);
    return;
  }
  ++nextPts_;
  Drain(timestampUs);
}

// Converts into the encoder's input frame: straight into NV12 planes whose pitch is the width,
// else through a scratch NV12 picture copied (and, for planar input, de-interleaved) row by row.
void LibavEncoder::WritePicture(const uint8_t* bgra, int stride, int w, int h) {
  const bool planar = frame_->format == AV_PIX_FMT_YUV420P;
  if (!planar && frame_->linesize[0] == w && frame_->linesize[1] == w) {
    ConvertCpu(bgra, stride, frame_->data[0], frame_->data[1], w, h);
    return;
  }
  nv12_.resize(static_cast<size_t>(w) * h + static_cast<size_t>(w) * (h / 2));
  uint8_t* y = nv12_.data();
  uint8_t* uv = y + static_cast<size_t>(w) * h;
  ConvertCpu(bgra, stride, y, uv, w, h);
  for (int row = 0; row < h; ++row) {
    std::copy_n(y + static_cast<size_t>(row) * w, w,
                frame_->data[0] + static_cast<size_t>(row) * frame_->linesize[0]);
  }
  for (int row = 0; row < h / 2; ++row) {
    const uint8_t* pairs = uv + static_cast<size_t>(row) * w;
    if (!planar) {
      std::copy_n(pairs, w, frame_->data[1] + static_cast<size_t>(row) * frame_->linesize[1]);
      continue;
    }
    uint8_t* u = frame_->data[1] + static_cast<size_t>(row) * frame_->linesize[1];
    uint8_t* v = frame_->data[2] + static_cast<size_t>(row) * frame_->linesize[2];
    for (int i = 0; i < w / 2; ++i) {
      u[i] = pairs[2 * i];
      v[i] = pairs[2 * i + 1];
    }
  }
}

void LibavEncoder::Drain(uint64_t timestampUs) {
  while (avcodec_receive_packet(context_, packet_) == 0) {
    const bool key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    output_.Deliver(packet_->data, static_cast<size_t>(packet_->size), key, timestampUs, callback_,
                    keyframeProduced_);
    av_packet_unref(packet_);
  }
}

void LibavEncoder::SetOutputCallback(EncodedFrameCallback callback) {
  callback_ = std::move(callback);
}

void LibavEncoder::SetBitrate(uint32_t bps) {
  if (bps == 0)
    return;
  if (bitrate_.exchange(bps) == bps)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  // libx264 picks a changed bitrate up at its next frame without reopening.
  if (context_ != nullptr && rateControl_.load() != RateControlMode::Quality) {
    context_->bit_rate = bps;
    if (rateControl_.load() == RateControlMode::Bitrate) {
      context_->rc_min_rate = context_->rc_max_rate = bps;
      context_->rc_buffer_size = static_cast<int>(bps / 2);
    }
  }
}

void LibavEncoder::SetPeakBitrate(uint32_t bps) {
  if (bps == 0 || rateControl_.load() != RateControlMode::VBR)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  if (context_ == nullptr)
    return;
  const uint32_t mean = bitrate_.load();
  if (mean != 0 && bps < mean)
    bps = mean;
  peakBitrate_ = bps;
  context_->rc_max_rate = bps;
  context_->rc_buffer_size = static_cast<int>(bps);
  Log(channels::kEncoder, kLogInfo, "SetPeakBitrate: max=%u bps (mean=%u, ratio=%.2f)", bps, mean,
      mean != 0 ? static_cast<double>(bps) / mean : 0.0);
}

void LibavEncoder::SetQualityMode(float quality) {
  quality = std::clamp(quality, 0.0f, 1.0f);
  std::lock_guard<std::mutex> lock(lock_);
  if (std::fabs(quality_ - quality) < 0.005f)
    return;
  quality_ = quality;
  if (context_ == nullptr)
    return;
  if (rateControl_.load() == RateControlMode::Quality) {
    av_opt_set_double(context_->priv_data, "crf", CrfFor(quality), 0);
    Log(channels::kEncoder, kLogInfo, "SetQualityMode q=%.2f → crf=%.1f", quality, CrfFor(quality));
  } else {
    Log(channels::kEncoder, kLogInfo, "SetQualityMode q=%.2f stored (not in Quality mode)",
        quality);
  }
}

void LibavEncoder::SetHrdBufferBits(int64_t bufferBits, int64_t avgBitrateBps) {
  if (bufferBits < 1 || avgBitrateBps <= 0)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  if (context_ == nullptr)
    return;
  const int64_t mean = std::min<int64_t>(avgBitrateBps, 4'000'000'000);
  const int64_t max = std::min<int64_t>(2 * avgBitrateBps, 4'000'000'000);
  context_->bit_rate = mean;
  context_->rc_max_rate = max;
  context_->rc_buffer_size = static_cast<int>(std::min<int64_t>(bufferBits, INT32_MAX));
  Log(channels::kEncoder, kLogInfo, "SetHrdBufferBits: buf=%lld avg=%lld → mean=%u max=%u",
      static_cast<long long>(bufferBits), static_cast<long long>(avgBitrateBps),
      static_cast<unsigned>(mean), static_cast<unsigned>(max));
}

void LibavEncoder::Reopen() {
  if (context_ != nullptr && width_.load() > 0) {
    ConfigureLocked(width_.load(), height_.load(), bitrate_.load(), fps_.load());
  }
}

void LibavEncoder::SetGopSize(int frames) {
  frames = std::max(frames, 1);
  std::lock_guard<std::mutex> lock(lock_);
  if (gopFrames_.exchange(frames) != frames)
    Reopen();
}

void LibavEncoder::SetCodec(Codec codec) {
  std::lock_guard<std::mutex> lock(lock_);
  if (codec_.exchange(codec) != codec)
    Reopen();
}

void LibavEncoder::SetRateControl(RateControlMode mode, float quality) {
  std::lock_guard<std::mutex> lock(lock_);
  if (mode == rateControl_.load() && std::fabs(quality_ - quality) < 0.005f)
    return;
  rateControl_.store(mode);
  quality_ = std::clamp(quality, 0.0f, 1.0f);
  Reopen();
}

void LibavEncoder::CompressEmergency(int frames) {
  if (frames <= 0)
    return;
  emergencyFrames_.store(frames);
  keyframeRequested_.store(true);
  Log(channels::kEncoder, kLogInfo, "emergency compression: %d frames at the coarsest quantiser",
      frames);
}

void LibavEncoder::SetFrameCap(uint32_t cap) {
  frameCap_.store(std::clamp(cap, kMinFrameCap, kMaxFrameCap));
}

std::unique_ptr<IHardwareEncoder> LibavEncoder::Clone(const EncoderSettings& s) {
  auto clone = std::make_unique<LibavEncoder>();
  clone->codec_.store(s.codec);
  clone->rateControl_.store(s.rateControl);
  {
    std::lock_guard<std::mutex> lock(clone->lock_);
    clone->quality_ = std::clamp(s.quality, 0.0f, 1.0f);
    clone->peakBitrate_ = s.peakBitrateBps;
  }
  clone->gopFrames_.store(std::max(s.gopFrames, 1));
  clone->frameCap_.store(ClampFrameCap(s.frameCap));
  if (!clone->Configure(s.width, s.height, s.bitrateBps, s.fps)) {
    Log(channels::kEncoder, kLogError,
        "Clone: Configure failed (%dx%d@%d bps=%u) — pipeline will fall back to Conservative",
        s.width, s.height, s.fps, s.bitrateBps);
    return nullptr;
  }
  return clone;
}

}  // namespace Sorvane
