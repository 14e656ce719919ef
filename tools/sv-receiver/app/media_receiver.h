#pragma once
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "net/socket_ops.h"
#include "sv-receiver/app/video_sink.h"
#include "sv-receiver/app/wav_writer.h"
#include "sv-receiver/lib/frame_assembler.h"

namespace Sorvane::receiver {

struct AudioStats {
  uint64_t packets = 0;
  uint64_t malformed = 0;
  uint64_t sampleFrames = 0;
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
};

// Receives the media datagrams on the two UDP ports, drops some on purpose when asked, and feeds
// the assemblers, whose frames go to the video sink and the WAV file.
class MediaReceiver {
 public:
  MediaReceiver(uint16_t videoPort, uint16_t audioPort, double dropRate, uint32_t seed,
                VideoSink& video, std::filesystem::path outDir);
  ~MediaReceiver();
  bool Start();  // false when a port cannot be bound
  void Stop();
  AssemblerStats VideoAssembly() const;
  AssemblerStats AudioAssembly() const;
  AudioStats Audio() const;
  uint64_t DroppedOnPurpose() const { return droppedOnPurpose_.load(); }
  // Called from the audio thread with every well-formed packet's interleaved samples and its
  // arrival time; set before Start.
  using AudioObserver = std::function<void(const float* interleaved, size_t frames,
                                           uint32_t channels, uint32_t sampleRate, int64_t nowNs)>;
  void SetAudioObserver(AudioObserver observer) { audioObserver_ = std::move(observer); }

 private:
  void Loop(net::SocketHandle socket, FrameAssembler& assembler, std::mutex& lock, uint32_t seed);
  void OnAudio(const AssembledFrame& frame);

  uint16_t videoPort_, audioPort_;
  double dropRate_;
  uint32_t seed_;
  VideoSink& video_;
  std::filesystem::path outDir_;
  net::SocketHandle videoSocket_ = net::kInvalidSocket;
  net::SocketHandle audioSocket_ = net::kInvalidSocket;
  std::atomic<bool> running_{false};
  std::thread videoThread_, audioThread_;
  mutable std::mutex videoLock_, audioLock_;  // each guards its assembler (and the audio state)
  FrameAssembler videoAssembler_;
  FrameAssembler audioAssembler_;
  WavWriter wav_;
  AudioStats audio_;
  std::atomic<uint64_t> droppedOnPurpose_{0};
  AudioObserver audioObserver_;  // set before the threads start
};

}  // namespace Sorvane::receiver
