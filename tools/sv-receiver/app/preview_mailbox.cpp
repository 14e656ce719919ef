#include "sv-receiver/app/preview_mailbox.h"

#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace Sorvane::receiver {
namespace {

void CopyPlane(const uint8_t* from, int fromStride, uint8_t* to, int width, int height) {
  for (int row = 0; row < height; ++row) {
    std::memcpy(to + static_cast<size_t>(row) * width, from + static_cast<size_t>(row) * fromStride,
                static_cast<size_t>(width));
  }
}

}  // namespace

PreviewMailbox::PreviewMailbox()
    : back_(std::make_unique<PreviewPicture>()),
      slot_(std::make_unique<PreviewPicture>()),
      front_(std::make_unique<PreviewPicture>()) {}

PreviewMailbox::~PreviewMailbox() {
  sws_freeContext(converter_);
}

bool PreviewMailbox::CopyInto(const DecodedPicture& picture, PreviewPicture& into) {
  const auto* frame = static_cast<const AVFrame*>(picture.avFrame);
  if (frame == nullptr || picture.width < 1 || picture.height < 1)
    return false;
  into.width = picture.width;
  into.height = picture.height;
  into.hevc = picture.hevc;
  const int cw = into.ChromaWidth(), ch = into.ChromaHeight();
  into.y.resize(static_cast<size_t>(into.width) * into.height);
  into.u.resize(static_cast<size_t>(cw) * ch);
  into.v.resize(static_cast<size_t>(cw) * ch);
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) {
    CopyPlane(frame->data[0], frame->linesize[0], into.y.data(), into.width, into.height);
    CopyPlane(frame->data[1], frame->linesize[1], into.u.data(), cw, ch);
    CopyPlane(frame->data[2], frame->linesize[2], into.v.data(), cw, ch);
    return true;
  }
  converter_ =
      sws_getCachedContext(converter_, into.width, into.height, format, into.width, into.height,
                           AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
  if (converter_ == nullptr)
    return false;
  uint8_t* planes[4] = {into.y.data(), into.u.data(), into.v.data(), nullptr};
  const int strides[4] = {into.width, cw, cw, 0};
  sws_scale(converter_, frame->data, frame->linesize, 0, into.height, planes, strides);
  return true;
}

bool PreviewMailbox::Offer(const DecodedPicture& picture) {
  if (!CopyInto(picture, *back_))
    return false;
  std::lock_guard<std::mutex> lock(slotLock_);
  std::swap(back_, slot_);
  fresh_ = true;
  return true;
}

const PreviewPicture* PreviewMailbox::TakeNewest() {
  std::lock_guard<std::mutex> lock(slotLock_);
  if (!fresh_)
    return nullptr;
  std::swap(front_, slot_);
  fresh_ = false;
  return front_.get();
}

}  // namespace Sorvane::receiver
