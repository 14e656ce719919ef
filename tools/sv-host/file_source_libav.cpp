#include <algorithm>
#include <cstring>
#include <vector>

#include "sv-host/file_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace Sorvane::hostsim {
namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// One stream of a file: demuxes its packets, decodes them and starts over at the end. Video and
// audio each get their own reader, so neither has to buffer the other's packets.
class StreamReader {
 public:
  ~StreamReader() { Close(); }

  bool Open(const std::string& path, AVMediaType type, std::string* error) {
    path_ = path;
    type_ = type;
    int r = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
    if (r < 0)
      return Fail(error, "cannot open " + path + ": " + AvError(r));
    r = avformat_find_stream_info(format_, nullptr);
    if (r < 0)
      return Fail(error, "cannot read the streams of " + path + ": " + AvError(r));
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, type, -1, -1, &decoder, 0);
    if (stream_ < 0 || decoder == nullptr) {
      return Fail(error, path + " has no decodable " +
                             (type == AVMEDIA_TYPE_VIDEO ? "video" : "audio") + " stream");
    }
    codec_ = avcodec_alloc_context3(decoder);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (codec_ == nullptr || packet_ == nullptr || frame_ == nullptr)
      return Fail(error, "out of memory");
    avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar);
    codec_->thread_count = 2;
    r = avcodec_open2(codec_, decoder, nullptr);
    if (r < 0)
      return Fail(error,
                  std::string("cannot open the ") + decoder->name + " decoder: " + AvError(r));
    return true;
  }

  // The next decoded frame (valid until the next call), starting over after the last one;
  // nullptr when a whole pass over the file gave none.
  AVFrame* Next() {
    if (codec_ == nullptr)
      return nullptr;  // a reopen failed
    for (;;) {
      const int r = avcodec_receive_frame(codec_, frame_);
      if (r == 0) {
        producedThisPass_ = true;
        return frame_;
      }
      if (r == AVERROR_EOF) {
        if (!producedThisPass_ || !Rewind())
          return nullptr;
        continue;
      }
      Feed();
    }
  }

  AVStream* stream() const { return format_->streams[stream_]; }
  const AVCodecContext* codec() const { return codec_; }
  const char* containerName() const { return format_->iformat->name; }

 private:
  static bool Fail(std::string* error, const std::string& text) {
    if (error)
      *error = text;
    return false;
  }

  // Sends the decoder the stream's next packet, or the end-of-stream signal at the file's end.
  void Feed() {
    const int r = av_read_frame(format_, packet_);
    if (r < 0) {
      avcodec_send_packet(codec_, nullptr);
      return;
    }
    if (packet_->stream_index == stream_)
      avcodec_send_packet(codec_, packet_);  // a bad packet only costs its picture
    av_packet_unref(packet_);
  }

  bool Rewind() {
    producedThisPass_ = false;
    if (avformat_seek_file(format_, -1, INT64_MIN, 0, INT64_MAX, 0) >= 0) {
      avcodec_flush_buffers(codec_);
      return true;
    }
    // Not seekable: open the file again.
    Close();
    return Open(path_, type_, nullptr);
  }

  void Close() {
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
  }

  std::string path_;
  AVMediaType type_ = AVMEDIA_TYPE_VIDEO;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  bool producedThisPass_ = false;
};

// Converts decoded pictures of any format and size to BGRA at the output size.
class PictureConverter {
 public:
  ~PictureConverter() { sws_freeContext(scaler_); }

  bool Convert(const AVFrame* frame, uint8_t* bgra, int rowBytes, int width, int height) {
    scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height,
                                   static_cast<AVPixelFormat>(frame->format), width, height,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr)
      return false;
    uint8_t* planes[4] = {bgra, nullptr, nullptr, nullptr};
    int strides[4] = {rowBytes, 0, 0, 0};
    return sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, planes, strides) ==
           height;
  }

 private:
  SwsContext* scaler_ = nullptr;
};

// Resamples decoded sound of any layout, format and rate into planar float stereo at 48 kHz
// and queues it until the host asks for it.
class SoundQueue {
 public:
  SoundQueue() : queued_(kSourceChannels), out_(kSourceChannels), pointers_(kSourceChannels) {}
  ~SoundQueue() { swr_free(&resampler_); }

  bool Append(const AVFrame* frame) {
    if (!Configure(frame))
      return false;
    const int capacity = swr_get_out_samples(resampler_, frame->nb_samples);
    if (capacity <= 0)
      return true;
    std::vector<std::vector<float>> converted(kSourceChannels, std::vector<float>(capacity));
    uint8_t* planes[kSourceChannels];
    for (uint32_t c = 0; c < kSourceChannels; ++c)
      planes[c] = reinterpret_cast<uint8_t*>(converted[c].data());
    const int n = swr_convert(resampler_, planes, capacity,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n < 0)
      return false;
    for (uint32_t c = 0; c < kSourceChannels; ++c)
      queued_[c].insert(queued_[c].end(), converted[c].begin(), converted[c].begin() + n);
    return true;
  }

  size_t queued() const { return queued_[0].size() - readOffset_; }

  // Takes `frames` samples per channel, padding with silence when fewer are queued.
  float** Take(uint32_t frames) {
    const size_t available = std::min<size_t>(frames, queued());
    for (uint32_t c = 0; c < kSourceChannels; ++c) {
      out_[c].assign(frames, 0.0f);
      std::copy_n(queued_[c].begin() + readOffset_, available, out_[c].begin());
      pointers_[c] = out_[c].data();
    }
    readOffset_ += available;
    if (readOffset_ > (1u << 16)) {
      for (auto& q : queued_)
        q.erase(q.begin(), q.begin() + readOffset_);
      readOffset_ = 0;
    }
    return pointers_.data();
  }

 private:
  bool Configure(const AVFrame* frame) {
    if (resampler_ != nullptr && frame->format == inFormat_ && frame->sample_rate == inRate_ &&
        av_channel_layout_compare(&frame->ch_layout, &inLayout_) == 0) {
      return true;
    }
    swr_free(&resampler_);
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, kSourceChannels);
    AVChannelLayout inLayout;
    if (frame->ch_layout.nb_channels > 0)
      av_channel_layout_copy(&inLayout, &frame->ch_layout);
    else
      av_channel_layout_default(&inLayout, 2);
    const int r = swr_alloc_set_opts2(
        &resampler_, &outLayout, AV_SAMPLE_FMT_FLTP, kSourceSampleRate, &inLayout,
        static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    if (r < 0 || swr_init(resampler_) < 0) {
      swr_free(&resampler_);
      av_channel_layout_uninit(&inLayout);
      return false;
    }
    av_channel_layout_uninit(&inLayout_);
    inLayout_ = inLayout;
    inFormat_ = frame->format;
    inRate_ = frame->sample_rate;
    return true;
  }

  SwrContext* resampler_ = nullptr;
  AVChannelLayout inLayout_{};
  int inFormat_ = -1;
  int inRate_ = 0;
  std::vector<std::vector<float>> queued_;
  size_t readOffset_ = 0;
  std::vector<std::vector<float>> out_;
  std::vector<float*> pointers_;
};

class LibavFileSource final : public FileSource {
 public:
  bool Open(const std::string& path, int width, int height, std::string* error) {
    if (!video_.Open(path, AVMEDIA_TYPE_VIDEO, error))
      return false;
    const AVFrame* first = video_.Next();
    if (first == nullptr) {
      *error = "no picture of " + path + " could be decoded";
      return false;
    }
    info_.width = width > 0 ? width : first->width;
    info_.height = height > 0 ? height : first->height;
    const AVRational rate = av_guess_frame_rate(nullptr, video_.stream(), nullptr);
    info_.fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 30.0;
    last_.assign(static_cast<size_t>(info_.width) * info_.height * 4, 0);
    if (!converter_.Convert(first, last_.data(), info_.width * 4, info_.width, info_.height)) {
      *error = "cannot convert the pictures of " + path + " to BGRA";
      return false;
    }
    firstPending_ = true;
    info_.hasAudio = OpenAudio(path);
    info_.description = std::string(video_.containerName()) + ", " + video_.codec()->codec->name +
                        " " + std::to_string(first->width) + "x" + std::to_string(first->height) +
                        (info_.hasAudio ? std::string(", ") + audio_.codec()->codec->name + " sound"
                                        : std::string(", no usable sound"));
    return true;
  }

  const Info& info() const override { return info_; }

  void NextPicture(uint8_t* bgra, int rowBytes) override {
    if (!firstPending_) {
      const AVFrame* frame = video_.Next();
      if (frame == nullptr ||
          !converter_.Convert(frame, last_.data(), info_.width * 4, info_.width, info_.height)) {
        ++repeated_;
      }
    }
    firstPending_ = false;
    for (int y = 0; y < info_.height; ++y) {
      std::memcpy(bgra + static_cast<size_t>(y) * rowBytes,
                  last_.data() + static_cast<size_t>(y) * info_.width * 4,
                  static_cast<size_t>(info_.width) * 4);
    }
  }

  void SkipPicture() override {
    if (!firstPending_ && video_.Next() == nullptr)
      ++repeated_;
    firstPending_ = false;
  }

  float** NextAudio(uint32_t frames) override {
    while (audioUsable_ && sound_.queued() < frames) {
      const AVFrame* frame = audio_.Next();
      audioUsable_ = frame != nullptr && sound_.Append(frame);
    }
    return sound_.Take(frames);
  }

  uint64_t repeatedPictures() const override { return repeated_; }

 private:
  bool OpenAudio(const std::string& path) {
    if (!audio_.Open(path, AVMEDIA_TYPE_AUDIO, nullptr))
      return false;
    const AVFrame* first = audio_.Next();
    audioUsable_ = first != nullptr && sound_.Append(first);
    return audioUsable_;
  }

  Info info_;
  StreamReader video_, audio_;
  PictureConverter converter_;
  SoundQueue sound_;
  std::vector<uint8_t> last_;
  bool firstPending_ = false;
  bool audioUsable_ = false;
  uint64_t repeated_ = 0;
};

}  // namespace

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, int width, int height,
                                             std::string* error) {
  std::string ignored;
  std::string& why = error ? *error : ignored;
  // The one error returned says what went wrong; FFmpeg's own lines would only repeat it.
  const int level = av_log_get_level();
  av_log_set_level(AV_LOG_FATAL);
  auto source = std::make_unique<LibavFileSource>();
  const bool opened = source->Open(path, width, height, &why);
  av_log_set_level(level);
  if (!opened)
    return nullptr;
  return source;
}

}  // namespace Sorvane::hostsim
