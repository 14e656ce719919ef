#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sv-host/test_scene.h"
#include "sv-receiver/app/latency_stats.h"
#include "sv-receiver/app/reference_pictures.h"
#include "sv-receiver/app/video_decoder.h"
#include "sv-receiver/lib/frame_assembler.h"

namespace Sorvane::receiver {

struct VideoSinkStats {
  uint64_t framesReceived = 0;
  uint64_t keyframes = 0;
  uint64_t bytesReceived = 0;
  uint64_t framesDecoded = 0;
  uint64_t decodeErrors = 0;
  uint64_t stampsRead = 0;
  uint64_t outOfOrder = 0;
  uint64_t repeats = 0;
  uint64_t skippedIndices = 0;
  uint64_t firstFrameIndex = 0;
  uint64_t lastFrameIndex = 0;
  uint64_t snapshots = 0;
  uint64_t psnrSamples = 0;
  double psnrMinDb = 0;
  double psnrSumDb = 0;
  uint64_t h264Frames = 0;
  uint64_t hevcFrames = 0;
  int lastWidth = 0, lastHeight = 0;
  // The stamped frame indices decoded, as runs of consecutive ones [first, last], in order (at
  // most kMaxDecodedRuns; later ones are left out).
  std::vector<std::pair<uint64_t, uint64_t>> decodedRuns;
  static constexpr size_t kMaxDecodedRuns = 4096;
  LatencyStats endToEndUs;  // push → decoded
  LatencyStats hostSideUs;  // push → last datagram sent
  LatencyStats decodeUs;
};

// Takes reassembled video frames: keeps the elementary stream, decodes, reads the scene's stamp
// from each picture (latency, order), compares it with the regenerated source picture, and
// writes PNG snapshots.
class VideoSink {
 public:
  VideoSink(std::filesystem::path outDir, double snapshotEverySeconds);
  ~VideoSink();
  // Keeps the frame in the elementary stream and, when `decode`, decodes it; true when a picture
  // came out (a frame not decoded is one a phone waiting for a keyframe would drop).
  bool OnFrame(const AssembledFrame& frame, bool decode = true);
  // The source size the plug-in announced (for regenerating the scene).
  void SetSourceSize(int width, int height);
  VideoSinkStats Stats() const;
  // Called from the decoding thread with every decoded picture and the time it was decoded; set
  // before frames arrive. Must not block for long: reception waits on it.
  using PictureObserver = std::function<void(const DecodedPicture&, int64_t nowNs)>;
  void AddPictureObserver(PictureObserver observer);
  // Compare pictures with this video file (what the host pushes) instead of the test scene.
  void SetReferenceFile(const std::string& path);
  std::string StreamFileName() const;

 private:
  void OnPicture(const DecodedPicture& picture);
  double Psnr(const DecodedPicture& picture, const hostsim::SceneStamp& stamp);
  void NoteDecodedIndex(uint64_t index);

  std::filesystem::path outDir_;
  double snapshotEverySeconds_;
  mutable std::mutex lock_;
  VideoDecoder decoder_;
  std::optional<VideoDecoder::Codec> codec_;
  std::FILE* stream_ = nullptr;
  std::string streamName_;
  int sourceWidth_ = 0, sourceHeight_ = 0;
  int64_t lastSnapshotNs_ = 0;
  bool haveIndex_ = false;
  uint32_t lastIndex_ = 0;
  uint32_t currentSendTime_ = 0;
  bool currentHasSendTime_ = false;
  int64_t decodeStartNs_ = 0;
  VideoSinkStats stats_;
  std::vector<PictureObserver> observers_;
  std::unique_ptr<ReferencePictures> reference_;
};

}  // namespace Sorvane::receiver
