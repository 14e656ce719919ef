#include "sv-receiver/app/video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace Sorvane::receiver {

struct VideoDecoder::State {
  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  Codec codec = Codec::H264;
  ~State() {
    avcodec_free_context(&context);
    av_packet_free(&packet);
    av_frame_free(&frame);
  }
};

VideoDecoder::VideoDecoder(PictureCallback onPicture) : onPicture_(std::move(onPicture)) {}
VideoDecoder::~VideoDecoder() = default;

bool VideoDecoder::Open(Codec codec) {
  state_ = std::make_unique<State>();
  state_->codec = codec;
  const AVCodec* decoder =
      avcodec_find_decoder(codec == Codec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC);
  if (decoder == nullptr)
    return false;
  state_->context = avcodec_alloc_context3(decoder);
  state_->packet = av_packet_alloc();
  state_->frame = av_frame_alloc();
  if (!state_->context || !state_->packet || !state_->frame)
    return false;
  state_->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  state_->context->thread_count = 1;
  return avcodec_open2(state_->context, decoder, nullptr) == 0;
}

bool VideoDecoder::Decode(Codec codec, const uint8_t* data, size_t size) {
  if (!state_ || state_->codec != codec) {
    if (!Open(codec)) {
      state_.reset();
      ++errors_;
      return false;
    }
  }
  AVPacket* packet = state_->packet;
  if (av_new_packet(packet, static_cast<int>(size)) < 0)
    return false;
  std::copy(data, data + size, packet->data);
  const int sent = avcodec_send_packet(state_->context, packet);
  av_packet_unref(packet);
  if (sent < 0) {
    ++errors_;
    return false;
  }
  bool any = false;
  while (avcodec_receive_frame(state_->context, state_->frame) == 0) {
    AVFrame* f = state_->frame;
    DecodedPicture picture;
    picture.width = f->width;
    picture.height = f->height;
    picture.luma = f->data[0];
    picture.lumaStride = f->linesize[0];
    picture.keyframe = f->key_frame != 0;
    picture.hevc = codec == Codec::HEVC;
    picture.avFrame = f;
    ++pictures_;
    any = true;
    if (onPicture_)
      onPicture_(picture);
    av_frame_unref(f);
  }
  return any;
}

std::optional<VideoDecoder::Codec> CodecOfKeyframe(const uint8_t* data, size_t size) {
  size_t header = 0;
  if (size >= 5 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1) {
    header = 4;
  } else if (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1) {
    header = 3;
  } else {
    return std::nullopt;
  }
  const uint8_t b = data[header];
  const uint8_t hevcType = (b >> 1) & 0x3F;
  if ((b & 0x81) == 0 && hevcType >= 32 && hevcType <= 34)
    return VideoDecoder::Codec::HEVC;
  if ((b & 0x1F) == 7)
    return VideoDecoder::Codec::H264;
  return std::nullopt;
}

}  // namespace Sorvane::receiver
