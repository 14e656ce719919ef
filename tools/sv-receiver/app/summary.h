#pragma once
#include <string>

#include "sv-receiver/app/control_session.h"
#include "sv-receiver/app/lip_sync_meter.h"
#include "sv-receiver/app/media_receiver.h"
#include "sv-receiver/app/video_sink.h"

namespace Sorvane::receiver {

struct RunFacts {
  double seconds = 0;
  std::string outDir;
  std::string streamFile;
};

// The run's statistics as JSON (summary.json).
std::string SummaryJson(const RunFacts& run, const ControlSession& control,
                        const MediaReceiver& media, const VideoSinkStats& video,
                        const LipSyncReport* lipSync = nullptr);
// A short human summary for the terminal.
std::string SummaryText(const RunFacts& run, const ControlSession& control,
                        const MediaReceiver& media, const VideoSinkStats& video,
                        const LipSyncReport* lipSync = nullptr);

}  // namespace Sorvane::receiver
