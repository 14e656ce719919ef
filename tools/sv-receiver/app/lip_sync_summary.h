#pragma once
#include <string>

#include "sv-receiver/app/json_writer.h"
#include "sv-receiver/app/lip_sync_meter.h"

namespace Sorvane::receiver {

// The lip-sync figures as the summary's "lipSync" object and as its closing line.
void LipSync(JsonWriter& json, const LipSyncReport& report);
std::string LipSyncText(const LipSyncReport& report);

}  // namespace Sorvane::receiver
