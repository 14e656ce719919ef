#include "sv-receiver/app/video_sink.h"

#include <cmath>
#include <vector>

#include "base/clock.h"
#include "encoder/color_convert.h"
#include "sv-host/sync_marks.h"
#include "sv-receiver/app/snapshot_writer.h"

namespace Sorvane::receiver {

VideoSink::VideoSink(std::filesystem::path outDir, double snapshotEverySeconds)
    : outDir_(std::move(outDir)),
      snapshotEverySeconds_(snapshotEverySeconds),
      decoder_([this](const DecodedPicture& picture) { OnPicture(picture); }) {}

VideoSink::~VideoSink() {
  if (stream_ != nullptr)
    std::fclose(stream_);
}

void VideoSink::SetSourceSize(int width, int height) {
  std::lock_guard<std::mutex> lock(lock_);
  sourceWidth_ = width;
  sourceHeight_ = height;
}

std::string VideoSink::StreamFileName() const {
  std::lock_guard<std::mutex> lock(lock_);
  return streamName_;
}

bool VideoSink::OnFrame(const AssembledFrame& frame, bool decode) {
  std::lock_guard<std::mutex> lock(lock_);
  ++stats_.framesReceived;
  stats_.bytesReceived += frame.data.size();
  if (frame.keyframe) {
    ++stats_.keyframes;
    if (auto codec = CodecOfKeyframe(frame.data.data(), frame.data.size()))
      codec_ = codec;
  }
  if (!codec_)
    return false;  // nothing decodable before the first keyframe
  (*codec_ == VideoDecoder::Codec::H264 ? stats_.h264Frames : stats_.hevcFrames)++;
  if (!outDir_.empty()) {
    const std::string name = *codec_ == VideoDecoder::Codec::H264 ? "stream.h264" : "stream.hevc";
    if (stream_ == nullptr || name != streamName_) {
      if (stream_ != nullptr)
        std::fclose(stream_);
      stream_ = std::fopen((outDir_ / name).string().c_str(), streamName_.empty() ? "wb" : "ab");
      streamName_ = name;
    }
    if (stream_ != nullptr)
      std::fwrite(frame.data.data(), 1, frame.data.size(), stream_);
  }
  if (!decode)
    return false;
  currentSendTime_ = frame.lastSendTimeUs;
  currentHasSendTime_ = frame.hasSendTime;
  decodeStartNs_ = SteadyNowNs();
  const uint64_t before = decoder_.picturesDecoded();
  decoder_.Decode(*codec_, frame.data.data(), frame.data.size());
  return decoder_.picturesDecoded() > before;
}

void VideoSink::AddPictureObserver(PictureObserver observer) {
  std::lock_guard<std::mutex> lock(lock_);
  observers_.push_back(std::move(observer));
}

void VideoSink::SetReferenceFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(lock_);
  reference_ = std::make_unique<ReferencePictures>(path);
}

void VideoSink::OnPicture(const DecodedPicture& picture) {
  const int64_t nowNs = SteadyNowNs();
  for (const auto& observer : observers_)
    observer(picture, nowNs);
  ++stats_.framesDecoded;
  stats_.decodeUs.Add((nowNs - decodeStartNs_) / 1000.0);
  stats_.lastWidth = picture.width;
  stats_.lastHeight = picture.height;
  const auto stamp =
      hostsim::ReadSceneStamp(picture.luma, picture.width, picture.height, picture.lumaStride);
  if (stamp) {
    ++stats_.stampsRead;
    stats_.endToEndUs.Add(static_cast<double>(nowNs / 1000) -
                          static_cast<double>(stamp->pushTimeUs));
    if (currentHasSendTime_) {
      stats_.hostSideUs.Add(
          static_cast<int32_t>(currentSendTime_ - static_cast<uint32_t>(stamp->pushTimeUs)));
    }
    if (!haveIndex_) {
      stats_.firstFrameIndex = stamp->frameIndex;
    } else if (stamp->frameIndex == lastIndex_) {
      ++stats_.repeats;
    } else if (stamp->frameIndex < lastIndex_) {
      ++stats_.outOfOrder;
    } else {
      stats_.skippedIndices += stamp->frameIndex - lastIndex_ - 1;
    }
    NoteDecodedIndex(stamp->frameIndex);
    haveIndex_ = true;
    lastIndex_ = stamp->frameIndex;
    stats_.lastFrameIndex = stamp->frameIndex;
    if (stats_.stampsRead % 5 == 1) {
      const double psnr = Psnr(picture, *stamp);
      if (psnr > 0) {
        stats_.psnrMinDb = stats_.psnrSamples == 0 ? psnr : std::min(stats_.psnrMinDb, psnr);
        stats_.psnrSumDb += psnr;
        ++stats_.psnrSamples;
      }
    }
  }
  const bool due = lastSnapshotNs_ == 0 ||
                   nowNs - lastSnapshotNs_ >= static_cast<int64_t>(snapshotEverySeconds_ * 1e9);
  if (!outDir_.empty() && due) {
    char name[64];
    std::snprintf(name, sizeof name, "snapshot-%03llu.png",
                  static_cast<unsigned long long>(stats_.snapshots));
    if (WritePngSnapshot(picture, outDir_ / name))
      ++stats_.snapshots;
    lastSnapshotNs_ = nowNs;
  }
}

void VideoSink::NoteDecodedIndex(uint64_t index) {
  auto& runs = stats_.decodedRuns;
  if (!runs.empty() && index <= runs.back().second)
    return;  // a repeat or out of order: already counted, or before the last run
  if (!runs.empty() && index == runs.back().second + 1)
    runs.back().second = index;
  else if (runs.size() < VideoSinkStats::kMaxDecodedRuns)
    runs.emplace_back(index, index);
}

// Luma PSNR against the scene regenerated from the stamp, scaled the way the encoder scales.
double VideoSink::Psnr(const DecodedPicture& picture, const hostsim::SceneStamp& stamp) {
  const int sw = sourceWidth_ > 0 ? sourceWidth_ : picture.width;
  const int sh = sourceHeight_ > 0 ? sourceHeight_ : picture.height;
  const int w = picture.width, h = picture.height;
  std::vector<uint8_t> source(static_cast<size_t>(sw) * sh * 4);
  if (reference_ != nullptr) {
    if (!reference_->Draw(stamp, sw, sh, source.data()))
      return 0;
  } else {
    hostsim::RenderTestScene(source.data(), sw, sh, sw * 4, stamp);
  }
  if (reference_ == nullptr && hostsim::ReadSyncMarker(picture.luma, w, h, picture.lumaStride))
    hostsim::DrawSyncMarker(source.data(), sw, sh, sw * 4, true);
  std::vector<uint8_t> scaled;
  const uint8_t* bgra = source.data();
  if (sw != w || sh != h) {
    scaled.resize(static_cast<size_t>(w) * h * 4);
    ScaleNearest(source.data(), sw * 4, sw, sh, scaled.data(), w * 4, w, h);
    bgra = scaled.data();
  }
  std::vector<uint8_t> luma(static_cast<size_t>(w) * h),
      chroma(static_cast<size_t>(w) * (h / 2 + 1));
  ConvertCpu(bgra, w * 4, luma.data(), chroma.data(), w, h);
  double squared = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* decoded = picture.luma + static_cast<size_t>(y) * picture.lumaStride;
    const uint8_t* expected = luma.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      const double d = static_cast<double>(decoded[x]) - expected[x];
      squared += d * d;
    }
  }
  const double mse = squared / (static_cast<double>(w) * h);
  return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

VideoSinkStats VideoSink::Stats() const {
  std::lock_guard<std::mutex> lock(lock_);
  VideoSinkStats copy = stats_;
  copy.decodeErrors = decoder_.decodeErrors();
  return copy;
}

}  // namespace Sorvane::receiver
