#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "sv-receiver/app/media_receiver.h"
#include "sv-receiver/app/preview_status_line.h"
#include "sv-receiver/app/preview_window.h"
#include "sv-receiver/app/video_sink.h"

namespace Sorvane::receiver {

// The live preview: the decoding thread hands every picture over (a copy and a buffer swap, so
// reception never waits for the window), and the thread that opened the window shows the newest
// one with the status line.
class Preview {
 public:
  // Null, with the reason in `why`, when no window can be opened (no display). `media` must
  // outlive the preview; the picture feed keeps itself alive for as long as `video` calls it.
  static std::unique_ptr<Preview> Open(VideoSink& video, const MediaReceiver& media,
                                       std::string* why);
  // Handles input and shows what arrived; false once the viewer ended the run.
  bool Pump();

 private:
  struct Feed;
  Preview(std::unique_ptr<PreviewWindow> window, std::shared_ptr<Feed> feed,
          const MediaReceiver& media);
  void RefreshStatus(int64_t nowNs);

  std::unique_ptr<PreviewWindow> window_;
  std::shared_ptr<Feed> feed_;
  const MediaReceiver& media_;
  PreviewStatus status_;
  int64_t nextRefreshNs_ = 0;
};

}  // namespace Sorvane::receiver
