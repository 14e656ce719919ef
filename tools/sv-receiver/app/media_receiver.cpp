#include "sv-receiver/app/media_receiver.h"

#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/clock.h"

namespace Sorvane::receiver {

MediaReceiver::MediaReceiver(uint16_t videoPort, uint16_t audioPort, double dropRate, uint32_t seed,
                             VideoSink& video, std::filesystem::path outDir)
    : videoPort_(videoPort),
      audioPort_(audioPort),
      dropRate_(dropRate),
      seed_(seed),
      video_(video),
      outDir_(std::move(outDir)),
      videoAssembler_([this](const AssembledFrame& f) { video_.OnFrame(f); }),
      audioAssembler_([this](const AssembledFrame& f) { OnAudio(f); }) {}

MediaReceiver::~MediaReceiver() {
  Stop();
}

bool MediaReceiver::Start() {
  net::SocketLibraryAcquire();
  videoSocket_ = net::CreateUdpReceiver(videoPort_);
  audioSocket_ = net::CreateUdpReceiver(audioPort_);
  if (videoSocket_ == net::kInvalidSocket || audioSocket_ == net::kInvalidSocket)
    return false;
  running_.store(true);
  videoThread_ = std::thread(&MediaReceiver::Loop, this, videoSocket_, std::ref(videoAssembler_),
                             std::ref(videoLock_), seed_);
  audioThread_ = std::thread(&MediaReceiver::Loop, this, audioSocket_, std::ref(audioAssembler_),
                             std::ref(audioLock_), seed_ + 1);
  return true;
}

void MediaReceiver::Stop() {
  if (running_.exchange(false)) {
    if (videoThread_.joinable())
      videoThread_.join();
    if (audioThread_.joinable())
      audioThread_.join();
    {
      std::lock_guard<std::mutex> lock(videoLock_);
      videoAssembler_.Flush();
    }
    {
      std::lock_guard<std::mutex> lock(audioLock_);
      audioAssembler_.Flush();
      wav_.Close();
    }
  }
  for (net::SocketHandle* s : {&videoSocket_, &audioSocket_}) {
    if (*s != net::kInvalidSocket) {
      net::CloseSocket(*s);
      *s = net::kInvalidSocket;
      net::SocketLibraryRelease();
    }
  }
}

void MediaReceiver::Loop(net::SocketHandle socket, FrameAssembler& assembler, std::mutex& lock,
                         uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::vector<uint8_t> buffer(2048);
  while (running_.load()) {
    const int n = net::ReceiveDatagram(socket, buffer.data(), buffer.size(), 50);
    if (n <= 0)
      continue;
    if (dropRate_ > 0 && chance(rng) < dropRate_) {
      droppedOnPurpose_.fetch_add(1);
      continue;
    }
    std::lock_guard<std::mutex> guard(lock);
    assembler.Push(buffer.data(), static_cast<size_t>(n),
                   static_cast<uint32_t>(SteadyNowNs() / 1000));
  }
}

// Called with audioLock_ held (from the audio assembler).
void MediaReceiver::OnAudio(const AssembledFrame& frame) {
  const std::vector<uint8_t>& p = frame.data;
  if (p.size() < 8 || p[5] != 32 || p[4] == 0 || (p.size() - 8) % (4u * p[4]) != 0) {
    ++audio_.malformed;
    return;
  }
  ++audio_.packets;
  audio_.sampleRate = GetU32LE(p.data());
  audio_.channels = p[4];
  const size_t samples = (p.size() - 8) / 4;
  std::vector<float> interleaved(samples);
  std::memcpy(interleaved.data(), p.data() + 8, samples * 4);
  audio_.sampleFrames += samples / audio_.channels;
  if (audioObserver_) {
    audioObserver_(interleaved.data(), samples / audio_.channels, audio_.channels,
                   audio_.sampleRate, SteadyNowNs());
  }
  if (!outDir_.empty()) {
    wav_.Append(outDir_ / "audio.wav", audio_.sampleRate, audio_.channels, interleaved.data(),
                samples);
  }
}

AssemblerStats MediaReceiver::VideoAssembly() const {
  std::lock_guard<std::mutex> lock(videoLock_);
  return videoAssembler_.stats();
}

AssemblerStats MediaReceiver::AudioAssembly() const {
  std::lock_guard<std::mutex> lock(audioLock_);
  return audioAssembler_.stats();
}

AudioStats MediaReceiver::Audio() const {
  std::lock_guard<std::mutex> lock(audioLock_);
  return audio_;
}

}  // namespace Sorvane::receiver
