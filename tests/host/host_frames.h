#pragma once
#include <vector>

#include "host/transmit_instance.h"
#include "sv-host/host_suites.h"

namespace Sorvane::test {

// Pushes `frames` new host frames of one size in one call, as the host's render thread does.
inline void PushFrames(TransmitInstance& instance, int width, int height, int frames = 1) {
  std::vector<sdk::tmLabeledFrame> labeled;
  for (int i = 0; i < frames; ++i)
    labeled.push_back(
        {hostsim::HostSuites::Instance().NewFrame(width, height, width * 4), nullptr});
  const sdk::tmPushVideo push{-1, sdk::playmode_Playing, sdk::kPrRenderQuality_High, labeled.data(),
                              labeled.size()};
  instance.PushVideo(&push);
}

}  // namespace Sorvane::test
