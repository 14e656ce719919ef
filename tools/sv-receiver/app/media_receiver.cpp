#include "sv-receiver/app/media_receiver.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/clock.h"

namespace Sorvane::receiver {
namespace {

constexpr int kPollMs = 50;

int64_t NowUs() {
  return SteadyNowNs() / 1000;
}

// How long a later frame waits for a missing one, as a phone sizes its jitter buffer to the link:
// the datagrams of two frames can swap places by at most the spread of the link's delay. Without
// a known link, a margin for an ordinary network.
int64_t ReorderHoldUs(const std::optional<LinkProfile>& link) {
  if (!link)
    return 10'000;
  return 1'000 + static_cast<int64_t>(2 * link->jitterMs * 1000);
}

}  // namespace

MediaReceiver::MediaReceiver(const MediaSettings& settings, VideoSink& video)
    : settings_(settings),
      video_(video),
      videoAssembler_([this](const AssembledFrame& f) { orderer_.OnFrame(f, videoNowUs_); }),
      audioAssembler_([this](const AssembledFrame& f) { OnAudio(f); }),
      orderer_([this](const AssembledFrame& f) { OnOrderedVideo(f); },
               [this](uint16_t, uint32_t count) { recovery_.OnLost(count, videoNowUs_); },
               ReorderHoldUs(settings.link)),
      recovery_([this] {
        if (requestKeyframe_)
          requestKeyframe_();
      }),
      videoPath_{&videoAssembler_, &videoLock_, nullptr, true},
      audioPath_{&audioAssembler_, &audioLock_, nullptr, false} {
  if (settings.link) {
    if (settings.link->rateMbit > 0)
      policer_ = std::make_unique<RatePolicer>(settings.link->rateMbit * 1e6,
                                               settings.link->burstMs / 1000);
    videoPath_.weather =
        std::make_unique<LinkWeather>(*settings.link, settings.seed + 2, policer_.get());
    audioPath_.weather =
        std::make_unique<LinkWeather>(*settings.link, settings.seed + 3, policer_.get());
  }
}

MediaReceiver::~MediaReceiver() {
  Stop();
}

bool MediaReceiver::Start() {
  net::SocketLibraryAcquire();
  videoSocket_ = net::CreateUdpReceiver(settings_.videoPort);
  audioSocket_ = net::CreateUdpReceiver(settings_.audioPort);
  if (videoSocket_ == net::kInvalidSocket || audioSocket_ == net::kInvalidSocket)
    return false;
  running_.store(true);
  videoThread_ =
      std::thread(&MediaReceiver::Loop, this, videoSocket_, std::ref(videoPath_), settings_.seed);
  audioThread_ = std::thread(&MediaReceiver::Loop, this, audioSocket_, std::ref(audioPath_),
                             settings_.seed + 1);
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
      videoNowUs_ = NowUs();
      videoAssembler_.Flush();
      orderer_.Flush();
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

bool MediaReceiver::FromPeer(uint32_t from) {
  const uint32_t peer = peer_ ? peer_() : 0;
  if (peer != 0 && from == peer)
    return true;
  foreign_.fetch_add(1);
  return false;
}

void MediaReceiver::Loop(net::SocketHandle socket, Path& path, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::vector<uint8_t> buffer(2048);
  while (running_.load()) {
    // Wake for the next delayed datagram, and for a hole the phone gives up on.
    std::optional<int64_t> due;
    {
      std::lock_guard<std::mutex> guard(*path.lock);
      for (const std::optional<int64_t> next :
           {path.weather ? path.weather->NextDueUs() : std::nullopt,
            path.video ? orderer_.NextDeadlineUs() : std::nullopt}) {
        if (next && (!due || *next < *due))
          due = next;
      }
    }
    const int timeoutMs =
        due ? static_cast<int>(std::clamp<int64_t>((*due - NowUs() + 999) / 1000, 0, kPollMs))
            : kPollMs;
    uint32_t from = 0;
    const int n = net::ReceiveDatagramFrom(socket, buffer.data(), buffer.size(), timeoutMs, &from);
    const int64_t now = NowUs();
    std::lock_guard<std::mutex> guard(*path.lock);
    if (n > 0 && FromPeer(from)) {
      if (settings_.dropRate > 0 && chance(rng) < settings_.dropRate) {
        droppedOnPurpose_.fetch_add(1);
      } else if (path.weather) {
        path.weather->Arrive(buffer.data(), static_cast<size_t>(n), now);
      } else {
        Deliver(path, buffer.data(), static_cast<size_t>(n), now);
      }
    }
    if (path.weather) {
      path.weather->Release(
          now, [&](const uint8_t* data, size_t size) { Deliver(path, data, size, now); });
    }
    if (path.video) {
      videoNowUs_ = now;
      orderer_.OnTick(now);
      recovery_.OnTick(now);
    }
  }
}

// Called with the path's lock held.
void MediaReceiver::Deliver(Path& path, const uint8_t* data, size_t size, int64_t nowUs) {
  if (path.video)
    videoNowUs_ = nowUs;
  path.assembler->Push(data, size, static_cast<uint32_t>(nowUs));
}

// Called with videoLock_ held, frames in order.
void MediaReceiver::OnOrderedVideo(const AssembledFrame& frame) {
  const bool decode = recovery_.ShouldDecode(frame.keyframe, videoNowUs_);
  if (!video_.OnFrame(frame, decode)) {
    if (decode)
      recovery_.OnNotShown(NowUs());
    return;
  }
  recovery_.OnShown(frame.keyframe, NowUs());
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
  if (!settings_.outDir.empty()) {
    wav_.Append(settings_.outDir / "audio.wav", audio_.sampleRate, audio_.channels,
                interleaved.data(), samples);
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

LossRecovery::Stats MediaReceiver::Recovery() const {
  std::lock_guard<std::mutex> lock(videoLock_);
  return recovery_.stats();
}

FrameOrderer::Stats MediaReceiver::Ordering() const {
  std::lock_guard<std::mutex> lock(videoLock_);
  return orderer_.stats();
}

LinkWeather::Stats MediaReceiver::Weather() const {
  LinkWeather::Stats total;
  for (const Path* path : {&videoPath_, &audioPath_}) {
    std::lock_guard<std::mutex> lock(*path->lock);
    if (!path->weather)
      continue;
    const LinkWeather::Stats& s = path->weather->stats();
    total.arrived += s.arrived;
    total.lostInBursts += s.lostInBursts;
    total.lostToRate += s.lostToRate;
    total.delivered += s.delivered;
    total.reordered += s.reordered;
  }
  return total;
}

}  // namespace Sorvane::receiver
