#include "sv-receiver/app/snapshot_writer.h"

#include <cstdio>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace Sorvane::receiver {
namespace {

struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

std::unique_ptr<AVFrame, FrameDeleter> ToRgb(const AVFrame* source) {
  std::unique_ptr<AVFrame, FrameDeleter> rgb(av_frame_alloc());
  rgb->format = AV_PIX_FMT_RGB24;
  rgb->width = source->width;
  rgb->height = source->height;
  if (av_frame_get_buffer(rgb.get(), 0) < 0)
    return nullptr;
  SwsContext* sws = sws_getContext(
      source->width, source->height, static_cast<AVPixelFormat>(source->format), source->width,
      source->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (sws == nullptr)
    return nullptr;
  sws_scale(sws, source->data, source->linesize, 0, source->height, rgb->data, rgb->linesize);
  sws_freeContext(sws);
  return rgb;
}

}  // namespace

bool WritePngSnapshot(const DecodedPicture& picture, const std::filesystem::path& file) {
  const auto* source = static_cast<const AVFrame*>(picture.avFrame);
  if (source == nullptr)
    return false;
  auto rgb = ToRgb(source);
  if (!rgb)
    return false;
  const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (png == nullptr)
    return false;
  std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(png));
  context->width = rgb->width;
  context->height = rgb->height;
  context->pix_fmt = AV_PIX_FMT_RGB24;
  context->time_base = AVRational{1, 25};
  if (avcodec_open2(context.get(), png, nullptr) < 0)
    return false;
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (avcodec_send_frame(context.get(), rgb.get()) < 0 ||
      avcodec_receive_packet(context.get(), packet.get()) < 0) {
    return false;
  }
  FILE* out = std::fopen(file.string().c_str(), "wb");
  if (out == nullptr)
    return false;
  const bool ok =
      std::fwrite(packet->data, 1, packet->size, out) == static_cast<size_t>(packet->size);
  std::fclose(out);
  return ok;
}

}  // namespace Sorvane::receiver
