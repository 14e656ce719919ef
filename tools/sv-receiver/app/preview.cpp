#include "sv-receiver/app/preview.h"

#include <mutex>

#include "base/clock.h"
#include "base/thread_annotations.h"
#include "sv-host/test_scene.h"
#include "sv-receiver/app/preview_mailbox.h"
#include "sv-receiver/app/preview_meter.h"

namespace Sorvane::receiver {
namespace {

constexpr int64_t kStatusRefreshNs = 250'000'000;

}  // namespace

struct Preview::Feed {
  PreviewMailbox mailbox;
  std::mutex meterLock;  // guards only the meter
  RollingMeter meter GUARDED_BY(meterLock);

  // Decoding thread.
  void OnPicture(const DecodedPicture& picture, int64_t nowNs) {
    mailbox.Offer(picture);
    std::optional<double> latencyMs;
    if (const auto stamp = hostsim::ReadSceneStamp(picture.luma, picture.width, picture.height,
                                                   picture.lumaStride)) {
      latencyMs =
          (static_cast<double>(nowNs / 1000) - static_cast<double>(stamp->pushTimeUs)) / 1000.0;
    }
    std::lock_guard<std::mutex> lock(meterLock);
    meter.OnPicture(nowNs, latencyMs);
  }
};

std::unique_ptr<Preview> Preview::Open(VideoSink& video, const MediaReceiver& media,
                                       std::string* why) {
  auto window = PreviewWindow::Open(why);
  if (window == nullptr)
    return nullptr;
  auto feed = std::make_shared<Feed>();
  video.AddPictureObserver(
      [feed](const DecodedPicture& picture, int64_t nowNs) { feed->OnPicture(picture, nowNs); });
  return std::unique_ptr<Preview>(new Preview(std::move(window), std::move(feed), media));
}

Preview::Preview(std::unique_ptr<PreviewWindow> window, std::shared_ptr<Feed> feed,
                 const MediaReceiver& media)
    : window_(std::move(window)), feed_(std::move(feed)), media_(media) {}

bool Preview::Pump() {
  if (!window_->HandleEvents())
    return false;
  const PreviewPicture* picture = feed_->mailbox.TakeNewest();
  if (picture != nullptr) {
    status_.havePicture = true;
    status_.hevc = picture->hevc;
    status_.width = picture->width;
    status_.height = picture->height;
  }
  const int64_t nowNs = SteadyNowNs();
  if (nowNs >= nextRefreshNs_) {
    RefreshStatus(nowNs);
    nextRefreshNs_ = nowNs + kStatusRefreshNs;
  }
  window_->Show(picture, PreviewStatusLine(status_));
  return true;
}

void Preview::RefreshStatus(int64_t nowNs) {
  {
    std::lock_guard<std::mutex> lock(feed_->meterLock);
    status_.readings = feed_->meter.Read(nowNs);
  }
  const AssemblerStats assembly = media_.VideoAssembly();
  status_.framesLost = assembly.framesLost;
  status_.framesRebuilt = assembly.framesRebuiltByParity;
}

}  // namespace Sorvane::receiver
