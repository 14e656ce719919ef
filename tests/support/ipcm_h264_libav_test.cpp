// libavcodec, a decoder that knows nothing of our reader, rebuilds exactly the NV12 pictures the
// I_PCM writer was given: the stream is real H.264.
#include <gtest/gtest.h>

#include <random>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "support/ipcm_h264.h"

namespace Sorvane::test {
namespace {

struct Decoder {
  Decoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    context = avcodec_alloc_context3(codec);
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    opened = avcodec_open2(context, codec, nullptr) == 0;
    frame = av_frame_alloc();
    packet = av_packet_alloc();
  }
  ~Decoder() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
  }
  // The picture of one access unit, as NV12 (the decoder gives planar 4:2:0).
  std::optional<Nv12Image> Decode(const std::vector<uint8_t>& au) {
    av_new_packet(packet, static_cast<int>(au.size()));
    std::copy(au.begin(), au.end(), packet->data);
    const int sent = avcodec_send_packet(context, packet);
    av_packet_unref(packet);
    if (sent < 0 || avcodec_receive_frame(context, frame) < 0)
      return std::nullopt;
    EXPECT_EQ(frame->format, AV_PIX_FMT_YUV420P);
    Nv12Image image(frame->width, frame->height);
    for (int y = 0; y < image.height; ++y)
      std::copy_n(frame->data[0] + y * frame->linesize[0], image.width, &image.y[y * image.width]);
    for (int y = 0; y < image.ChromaRows(); ++y)
      for (int x = 0; x < image.ChromaRowBytes() / 2; ++x) {
        image.uv[y * image.ChromaRowBytes() + 2 * x] = frame->data[1][y * frame->linesize[1] + x];
        image.uv[y * image.ChromaRowBytes() + 2 * x + 1] =
            frame->data[2][y * frame->linesize[2] + x];
      }
    keyframe = frame->key_frame != 0;
    return image;
  }
  AVCodecContext* context = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  bool opened = false;
  bool keyframe = false;
};

Nv12Image RandomImage(int width, int height, uint32_t seed) {
  std::mt19937 random(seed);
  Nv12Image image(width, height);
  for (auto& v : image.y)
    v = static_cast<uint8_t>(random() % 3 == 0 ? 0 : random());
  for (auto& v : image.uv)
    v = static_cast<uint8_t>(random());
  return image;
}

TEST(IpcmH264Libav, DecodesEveryPictureToTheSamplesWritten) {
  for (auto [width, height] : {std::pair{480, 270}, {240, 136}, {64, 48}, {18, 18}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    Decoder decoder;
    ASSERT_TRUE(decoder.opened);
    IpcmH264Writer writer(width, height);
    // An IDR, intra pictures after it, a second IDR, and one more intra picture.
    const std::vector<bool> idr = {true, false, false, true, false};
    for (size_t i = 0; i < idr.size(); ++i) {
      SCOPED_TRACE(i);
      const Nv12Image image = RandomImage(width, height, static_cast<uint32_t>(i + width));
      const std::optional<Nv12Image> decoded =
          decoder.Decode(writer.EncodePicture(Nv12View::Of(image), idr[i]));
      ASSERT_TRUE(decoded) << "no picture out of the decoder";
      EXPECT_TRUE(*decoded == image);
      EXPECT_EQ(decoder.keyframe, idr[i]);
    }
  }
}

}  // namespace
}  // namespace Sorvane::test
