#include "encoder/libav_session.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/hwcontext.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include "diag/log_channels.h"
#include "encoder/color_convert.h"
#include "encoder/libav_probe.h"

namespace Sorvane {
namespace {

// The fastest x264 preset, the only one that keeps 1080p60 in real time on a 2-core machine,
// still gives more than 40 dB on the moving test scene at 15 Mbit/s (sv-encode --psnr). It
// turns adaptive quantisation off; it is turned back on because the coarsest-quantiser frames
// ride on it.
constexpr const char* kX264Preset = "ultrafast";
constexpr const char* kX265Preset = "ultrafast";
constexpr int kCoarsestQp = 51;

void SetOption(AVCodecContext* context, const char* key, const char* value) {
  av_opt_set(context, key, value, AV_OPT_SEARCH_CHILDREN);
}

void SetIntOption(AVCodecContext* context, const char* key, int64_t value) {
  av_opt_set_int(context, key, value, AV_OPT_SEARCH_CHILDREN);
}

// Zero latency per family: no B-frames, no lookahead, forced keyframes are IDR, and the
// encoder's own keyframes come only from its interval (no scene-cut keyframes).
void ApplyLowLatency(AVCodecContext* context, EncoderFamily family, const std::string& preset) {
  context->max_b_frames = 0;
  context->qmax = kCoarsestQp;
  SetIntOption(context, "forced-idr", 1);
  switch (family) {
    case EncoderFamily::X264:
      // tune zerolatency: no lookahead, sliced threads, no frame delay.
      SetOption(context, "preset", preset.empty() ? kX264Preset : preset.c_str());
      SetOption(context, "tune", "zerolatency");
      SetOption(context, "x264-params", "scenecut=0:aq-mode=1");
      break;
    case EncoderFamily::X265:
      SetOption(context, "preset", preset.empty() ? kX265Preset : preset.c_str());
      SetOption(context, "tune", "zerolatency");
      // Quantiser offsets (the coarsest-quantiser frames) act only with adaptive quantisation
      // at a non-zero strength, which ultrafast turns off: x265's default strength is back.
      SetOption(context, "x265-params",
                "log-level=error:open-gop=0:info=0:scenecut=0:aq-mode=1:aq-strength=1.0");
      break;
    case EncoderFamily::Nvenc:
      SetOption(context, "preset", "p1");
      SetOption(context, "tune", "ull");
      SetIntOption(context, "zerolatency", 1);
      SetIntOption(context, "delay", 0);
      SetIntOption(context, "no-scenecut", 1);
      break;
    case EncoderFamily::Vaapi:
      SetIntOption(context, "async_depth", 1);
      break;
    case EncoderFamily::Qsv:
      SetIntOption(context, "async_depth", 1);
      SetIntOption(context, "look_ahead", 0);
      SetIntOption(context, "forced_idr", 1);
      break;
  }
}

void ApplyRates(AVCodecContext* context, EncoderFamily family, const RateFields& rates) {
  context->bit_rate = rates.bitRate;
  context->rc_min_rate = rates.minRate;
  context->rc_max_rate = rates.maxRate;
  context->rc_buffer_size = static_cast<int>(std::min<int64_t>(rates.bufferSize, INT32_MAX));
  const bool quality = rates.crf >= 0;
  switch (family) {
    case EncoderFamily::X264:
    case EncoderFamily::X265:
      av_opt_set_double(context->priv_data, "crf", rates.crf, 0);  // −1 = off
      break;
    case EncoderFamily::Nvenc:
      SetOption(context, "rc", quality ? "vbr" : (rates.minRate != 0 ? "cbr" : "vbr"));
      av_opt_set_double(context->priv_data, "cq", quality ? rates.crf : 0.0, 0);
      break;
    case EncoderFamily::Vaapi:
      SetOption(context, "rc_mode", quality ? "CQP" : (rates.minRate != 0 ? "CBR" : "VBR"));
      context->global_quality = quality ? static_cast<int>(rates.crf + 0.5) : 0;
      break;
    case EncoderFamily::Qsv:
      context->global_quality = quality ? static_cast<int>(rates.crf + 0.5) : 0;
      break;
  }
}

void LogFromLibav(void* object, int level, const char* format, va_list args) {
  if (level > AV_LOG_WARNING)
    return;
  char line[512];
  int printPrefix = 1;
  av_log_format_line2(object, level, format, args, line, sizeof line, &printPrefix);
  size_t length = std::char_traits<char>::length(line);
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
    line[--length] = '\0';
  if (length > 0)
    Log(channels::kEncoder, kLogInfo, "libav: %s", line);
}

}  // namespace

std::string LibavErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  char out[160];
  std::snprintf(out, sizeof out, "%d (%s)", error, text);
  return out;
}

void RouteLibavLog() {
  // The callback lives in this module: libavutil gets its own back when the module unloads, so
  // a host that keeps libavutil loaded never calls into unmapped code.
  struct Route {
    Route() { av_log_set_callback(&LogFromLibav); }
    ~Route() { av_log_set_callback(&av_log_default_callback); }
  };
  static Route route;
}

const std::vector<EncoderCandidate>& EncoderCandidates(Codec codec) {
  static const std::vector<EncoderCandidate> h264 = {
      {"h264_nvenc", EncoderFamily::Nvenc, Codec::H264, true},
      {"h264_vaapi", EncoderFamily::Vaapi, Codec::H264, true},
      {"h264_qsv", EncoderFamily::Qsv, Codec::H264, true},
      {"libx264", EncoderFamily::X264, Codec::H264, false},
  };
  static const std::vector<EncoderCandidate> hevc = {
      {"hevc_nvenc", EncoderFamily::Nvenc, Codec::HEVC, true},
      {"hevc_vaapi", EncoderFamily::Vaapi, Codec::HEVC, true},
      {"hevc_qsv", EncoderFamily::Qsv, Codec::HEVC, true},
      {"libx265", EncoderFamily::X265, Codec::HEVC, false},
  };
  return codec == Codec::H264 ? h264 : hevc;
}

LibavSession::LibavSession(const EncoderCandidate& candidate) : candidate_(candidate) {}

LibavSession::~LibavSession() {
  avcodec_free_context(&context_);
  av_frame_free(&picture_);
  av_frame_free(&upload_);
  av_packet_free(&packet_);
  av_buffer_unref(&frames_);
  av_buffer_unref(&device_);
}

std::unique_ptr<LibavSession> LibavSession::Open(const EncoderCandidate& candidate,
                                                 const SessionSettings& settings,
                                                 std::string* error) {
  RouteLibavLog();
  std::unique_ptr<LibavSession> session(new LibavSession(candidate));
  if (!session->OpenCodec(settings, error))
    return nullptr;
  return session;
}

bool LibavSession::SetUpHardwareFrames(int width, int height, std::string* error) {
  const std::string node = FirstRenderNode();
  if (node.empty()) {
    *error = "no DRM render node";
    return false;
  }
  int status = av_hwdevice_ctx_create(&device_, AV_HWDEVICE_TYPE_VAAPI, node.c_str(), nullptr, 0);
  if (status < 0) {
    *error = "VAAPI device " + node + ": " + LibavErrorText(status);
    return false;
  }
  frames_ = av_hwframe_ctx_alloc(device_);
  if (frames_ == nullptr) {
    *error = "no VAAPI frame pool";
    return false;
  }
  auto* pool = reinterpret_cast<AVHWFramesContext*>(frames_->data);
  pool->format = AV_PIX_FMT_VAAPI;
  pool->sw_format = AV_PIX_FMT_NV12;
  pool->width = width;
  pool->height = height;
  pool->initial_pool_size = 8;
  status = av_hwframe_ctx_init(frames_);
  if (status < 0) {
    *error = "VAAPI frame pool: " + LibavErrorText(status);
    return false;
  }
  context_->hw_frames_ctx = av_buffer_ref(frames_);
  upload_ = av_frame_alloc();
  return context_->hw_frames_ctx != nullptr && upload_ != nullptr;
}

bool LibavSession::OpenCodec(const SessionSettings& s, std::string* error) {
  const AVCodec* codec = avcodec_find_encoder_by_name(candidate_.name);
  if (codec == nullptr) {
    *error = "not in this libavcodec";
    return false;
  }
  context_ = avcodec_alloc_context3(codec);
  picture_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (context_ == nullptr || picture_ == nullptr || packet_ == nullptr) {
    *error = "out of memory";
    return false;
  }
  const bool vaapi = candidate_.family == EncoderFamily::Vaapi;
  // libx265 takes 4:2:0 planar only; everything else takes NV12 as it is converted.
  const AVPixelFormat inputFormat =
      candidate_.family == EncoderFamily::X265 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NV12;
  context_->width = s.width;
  context_->height = s.height;
  context_->pix_fmt = vaapi ? AV_PIX_FMT_VAAPI : inputFormat;
  context_->time_base = AVRational{1, s.fps};
  context_->framerate = AVRational{s.fps, 1};
  context_->gop_size = EncoderKeyframeInterval(s.gopFrames);
  context_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER | AV_CODEC_FLAG_LOW_DELAY;
  context_->color_primaries = AVCOL_PRI_BT709;
  context_->color_trc = AVCOL_TRC_BT709;
  context_->colorspace = AVCOL_SPC_BT709;
  context_->color_range = AVCOL_RANGE_MPEG;
  context_->sample_aspect_ratio = AVRational{1, 1};
  ApplyLowLatency(context_, candidate_.family, s.softwarePreset);
  ApplyRates(context_, candidate_.family, s.rates);
  if (vaapi && !SetUpHardwareFrames(s.width, s.height, error))
    return false;
  const int status = avcodec_open2(context_, codec, nullptr);
  if (status < 0) {
    *error = LibavErrorText(status);
    return false;
  }
  picture_->format = inputFormat;
  picture_->width = s.width;
  picture_->height = s.height;
  if (av_frame_get_buffer(picture_, 0) < 0) {
    *error = "no input frame";
    return false;
  }
  return true;
}

bool LibavSession::LiveRates() const {
  return candidate_.family == EncoderFamily::X264 || candidate_.family == EncoderFamily::Nvenc;
}

std::vector<uint8_t> LibavSession::Extradata() const {
  if (context_->extradata == nullptr || context_->extradata_size <= 0)
    return {};
  return std::vector<uint8_t>(context_->extradata, context_->extradata + context_->extradata_size);
}

bool LibavSession::WritePicture(const uint8_t* bgra, int strideBytes) {
  // The encoder may still hold the previous picture (hardware queues); never write into it.
  if (av_frame_make_writable(picture_) < 0)
    return false;
  if (picture_->format == AV_PIX_FMT_YUV420P) {
    ConvertCpuI420(bgra, strideBytes, picture_->data[0], picture_->linesize[0], picture_->data[1],
                   picture_->linesize[1], picture_->data[2], picture_->linesize[2], picture_->width,
                   picture_->height);
  } else {
    ConvertCpuNv12(bgra, strideBytes, picture_->data[0], picture_->linesize[0], picture_->data[1],
                   picture_->linesize[1], picture_->width, picture_->height);
  }
  return true;
}

int LibavSession::Submit(int64_t pts, bool keyframe, bool coarsest) {
  av_frame_remove_side_data(picture_, AV_FRAME_DATA_REGIONS_OF_INTEREST);
  // libx265 sizes a pooled picture's offset table only when its first use carries offsets, and
  // copies into the missing table later: it gets a zero offset on every other frame.
  if (coarsest || candidate_.family == EncoderFamily::X265) {
    // libavcodec has no per-frame quantiser; the largest quantiser offset over the whole
    // picture drives every block to the ceiling (qmax 51) where the encoder honours offsets.
    AVFrameSideData* side = av_frame_new_side_data(picture_, AV_FRAME_DATA_REGIONS_OF_INTEREST,
                                                   sizeof(AVRegionOfInterest));
    if (side != nullptr) {
      auto* roi = reinterpret_cast<AVRegionOfInterest*>(side->data);
      *roi = AVRegionOfInterest{};
      roi->self_size = sizeof(AVRegionOfInterest);
      roi->bottom = picture_->height;
      roi->right = picture_->width;
      roi->qoffset = AVRational{coarsest ? 1 : 0, 1};
    }
  }
  picture_->pts = pts;
  picture_->pict_type = keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (upload_ == nullptr)
    return avcodec_send_frame(context_, picture_);
  int status = av_hwframe_get_buffer(frames_, upload_, 0);
  if (status >= 0)
    status = av_hwframe_transfer_data(upload_, picture_, 0);
  if (status >= 0)
    status = av_frame_copy_props(upload_, picture_);
  if (status >= 0)
    status = avcodec_send_frame(context_, upload_);
  av_frame_unref(upload_);
  return status;
}

bool LibavSession::MustDrainFirst(int status) {
  return status == AVERROR(EAGAIN);
}

void LibavSession::Drain(const std::function<void(const uint8_t*, size_t, bool)>& sink) {
  while (avcodec_receive_packet(context_, packet_) == 0) {
    sink(packet_->data, static_cast<size_t>(packet_->size),
         (packet_->flags & AV_PKT_FLAG_KEY) != 0);
    av_packet_unref(packet_);
  }
}

void LibavSession::UpdateRates(const RateFields& rates) {
  ApplyRates(context_, candidate_.family, rates);
}

}  // namespace Sorvane
