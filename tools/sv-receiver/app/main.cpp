// sv-receiver: the reference client (the phone's stand-in).
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "sv-receiver/app/control_session.h"
#include "sv-receiver/app/lip_sync_meter.h"
#include "sv-receiver/app/media_receiver.h"
#include "sv-receiver/app/preview.h"
#include "sv-receiver/app/receiver_options.h"
#include "sv-receiver/app/service_browser.h"
#include "sv-receiver/app/service_watch.h"
#include "sv-receiver/app/summary.h"
#include "sv-receiver/app/video_sink.h"

using namespace Sorvane::receiver;

int main(int argc, char** argv) {
  std::string error;
  auto options = ParseReceiverOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!options) {
    std::cerr << "sv-receiver: " << error << "\n" << ReceiverUsage();
    return 1;
  }
  if (options->help) {
    std::cout << ReceiverUsage();
    return 0;
  }
  if (options->list)
    return options->watchSeconds > 0 ? WatchServices(options->watchSeconds) : ListServices();
  if (options->discover && !DiscoverTarget(*options))
    return 4;
  std::error_code ec;
  if (!options->outDir.empty())
    std::filesystem::create_directories(options->outDir, ec);

  VideoSink video(options->outDir, options->snapshotEverySeconds);
  if (!options->referenceFile.empty())
    video.SetReferenceFile(options->referenceFile);
  MediaSettings settings;
  settings.videoPort = options->videoPort;
  settings.audioPort = options->audioPort;
  settings.dropRate = options->dropRate;
  settings.seed = options->seed;
  settings.outDir = options->outDir;
  settings.link = options->link;
  MediaReceiver media(settings, video);
  ControlSession control(*options);
  media.SetPeerAddress([&control] { return control.PeerAddress(); });
  media.SetKeyframeRequest([&control] { control.RequestKeyframe(); });
  if (options->link)
    std::cout << "sv-receiver: link " << DescribeLinkProfile(*options->link) << "\n";
  LipSyncMeter lipSync;
  video.AddPictureObserver([&lipSync](const DecodedPicture& p, int64_t nowNs) {
    lipSync.OnPicture(p.luma, p.width, p.height, p.lumaStride, nowNs / 1000);
  });
  media.SetAudioObserver([&lipSync](const float* samples, size_t frames, uint32_t channels,
                                    uint32_t rate, int64_t nowNs) {
    lipSync.OnAudio(samples, frames, channels, rate, nowNs / 1000);
  });
  std::unique_ptr<Preview> preview;
  if (options->preview) {
    std::string why;
    preview = Preview::Open(video, media, &why);
    if (!preview)
      std::cout << "sv-receiver: no display for the preview (" << why
                << "); receiving without the window\n";
  }
  if (!media.Start()) {
    std::cerr << "sv-receiver: cannot bind the media ports " << options->videoPort << "/"
              << options->audioPort << "\n";
    return 1;
  }
  std::cout << "sv-receiver: connecting to " << options->host << ":" << options->port << "\n";
  const bool paired = control.ConnectAndPair();
  std::cout << "sv-receiver: pairing " << control.outcome() << "\n";
  const auto started = std::chrono::steady_clock::now();
  if (paired) {
    control.StartServing();
    const auto end = started + std::chrono::duration<double>(options->seconds);
    while (std::chrono::steady_clock::now() < end && !control.connectionLost()) {
      const auto d = control.Description();
      if (d.sourceWidth > 0)
        video.SetSourceSize(d.sourceWidth, d.sourceHeight);
      if (preview && !preview->Pump()) {
        std::cout << "sv-receiver: preview closed, ending the run\n";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(preview ? 4 : 20));
    }
  }
  media.Stop();  // first: its last keyframe requests still need the connection
  control.Close();
  preview.reset();

  RunFacts run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  run.outDir = options->outDir;
  run.streamFile = video.StreamFileName();
  const VideoSinkStats stats = video.Stats();
  const LipSyncReport lipSyncReport = lipSync.Report();
  std::string summaryPath = options->summaryJson;
  if (summaryPath.empty() && !options->outDir.empty()) {
    summaryPath = (std::filesystem::path(options->outDir) / "summary.json").string();
  }
  if (!summaryPath.empty()) {
    std::ofstream(summaryPath) << SummaryJson(run, control, media, stats, &lipSyncReport);
  }
  std::cout << SummaryText(run, control, media, stats, &lipSyncReport);
  if (!paired)
    return 2;
  if (control.connectionLost())
    return 3;
  return 0;
}
