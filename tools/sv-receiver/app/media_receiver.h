#pragma once
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "net/socket_ops.h"
#include "sv-receiver/app/video_sink.h"
#include "sv-receiver/app/wav_writer.h"
#include "sv-receiver/lib/frame_assembler.h"
#include "sv-receiver/lib/frame_orderer.h"
#include "sv-receiver/lib/link_weather.h"
#include "sv-receiver/lib/loss_recovery.h"

namespace Sorvane::receiver {

struct AudioStats {
  uint64_t packets = 0;
  uint64_t malformed = 0;
  uint64_t sampleFrames = 0;
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
};

// How the media are received: the local ports, datagrams dropped on purpose, the link's weather.
struct MediaSettings {
  uint16_t videoPort = 47101;
  uint16_t audioPort = 47102;
  double dropRate = 0;
  uint32_t seed = 1;
  std::filesystem::path outDir;
  std::optional<LinkProfile> link;
};

// Receives the media datagrams on the two UDP ports (from the plug-in's address only), passes them
// through the link's weather when there is one, and feeds the assemblers. Video frames then go in
// order to the decoder as a phone handles them: after a frame lost for good it asks for a
// keyframe and decodes nothing until one comes. Audio goes to the WAV file.
class MediaReceiver {
 public:
  MediaReceiver(const MediaSettings& settings, VideoSink& video);
  ~MediaReceiver();
  // Set before Start. The plug-in's IPv4 address (network order, 0 while unknown): datagrams
  // from anywhere else are dropped.
  void SetPeerAddress(std::function<uint32_t()> peer) { peer_ = std::move(peer); }
  // Set before Start: how to ask the plug-in for a keyframe (from the video thread).
  void SetKeyframeRequest(std::function<void()> request) { requestKeyframe_ = std::move(request); }
  bool Start();  // false when a port cannot be bound
  void Stop();
  // The local video port (the system's choice when asked for 0).
  uint16_t VideoPort() const { return net::LocalPort(videoSocket_); }
  AssemblerStats VideoAssembly() const;
  AssemblerStats AudioAssembly() const;
  AudioStats Audio() const;
  LossRecovery::Stats Recovery() const;
  FrameOrderer::Stats Ordering() const;
  // The weather's toll on both streams (zeros without a link profile).
  LinkWeather::Stats Weather() const;
  const std::optional<LinkProfile>& Link() const { return settings_.link; }
  uint64_t DroppedOnPurpose() const { return droppedOnPurpose_.load(); }
  uint64_t ForeignDatagrams() const { return foreign_.load(); }
  // Called from the audio thread with every well-formed packet's interleaved samples and its
  // arrival time; set before Start.
  using AudioObserver = std::function<void(const float* interleaved, size_t frames,
                                           uint32_t channels, uint32_t sampleRate, int64_t nowNs)>;
  void SetAudioObserver(AudioObserver observer) { audioObserver_ = std::move(observer); }

 private:
  struct Path {  // one stream's way in; guarded by its lock
    FrameAssembler* assembler;
    std::mutex* lock;
    std::unique_ptr<LinkWeather> weather;
    bool video;
  };
  void Loop(net::SocketHandle socket, Path& path, uint32_t seed);
  bool FromPeer(uint32_t from);
  void Deliver(Path& path, const uint8_t* data, size_t size, int64_t nowUs);
  void OnOrderedVideo(const AssembledFrame& frame);
  void OnAudio(const AssembledFrame& frame);

  const MediaSettings settings_;
  VideoSink& video_;
  net::SocketHandle videoSocket_ = net::kInvalidSocket;
  net::SocketHandle audioSocket_ = net::kInvalidSocket;
  std::atomic<bool> running_{false};
  std::thread videoThread_, audioThread_;
  mutable std::mutex videoLock_, audioLock_;  // each guards its path (and the audio state)
  int64_t videoNowUs_ = 0;                    // the video thread's time of the frame at hand
  FrameAssembler videoAssembler_;
  FrameAssembler audioAssembler_;
  FrameOrderer orderer_;                  // guarded by videoLock_
  LossRecovery recovery_;                 // guarded by videoLock_
  std::unique_ptr<RatePolicer> policer_;  // shared by both paths (locks itself)
  Path videoPath_, audioPath_;
  WavWriter wav_;
  AudioStats audio_;
  std::atomic<uint64_t> droppedOnPurpose_{0};
  std::atomic<uint64_t> foreign_{0};
  std::function<uint32_t()> peer_;         // set before the threads start
  std::function<void()> requestKeyframe_;  // set before the threads start
  AudioObserver audioObserver_;            // set before the threads start
};

}  // namespace Sorvane::receiver
