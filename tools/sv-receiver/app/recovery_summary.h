#pragma once
#include <optional>
#include <string>

#include "sv-receiver/app/json_writer.h"
#include "sv-receiver/lib/frame_orderer.h"
#include "sv-receiver/lib/link_weather.h"
#include "sv-receiver/lib/loss_recovery.h"

namespace Sorvane::receiver {

// How the stream looked to the phone, and what the link's weather took: the summary's
// "recovery" and "link" objects and their lines.
struct RecoveryFacts {
  LossRecovery::Stats recovery;
  FrameOrderer::Stats ordering;
  std::optional<LinkProfile> link;
  LinkWeather::Stats weather;
  uint64_t foreignDatagrams = 0;
};

void Recovery(JsonWriter& json, const RecoveryFacts& facts);
std::string RecoveryText(const RecoveryFacts& facts);

}  // namespace Sorvane::receiver
