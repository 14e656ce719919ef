#pragma once
#include <mftransform.h>

#include <functional>
#include <string>

#include "encoder/com_ref_win.h"
#include "encoder/d3d11_device_win.h"
#include "encoder/hardware_encoder.h"
#include "encoder/mf_codec_api_win.h"

namespace Sorvane {

// What the transform must encode.
struct TransformRequest {
  Codec codec = Codec::HEVC;
  int width = 0;   // even
  int height = 0;  // even
  int fps = 30;
  uint32_t bitrate = kDefaultBitrateBps;
  bool allowAsync = false;                   // the user's "enableAsyncHwEncoders"
  RateSettings rates;                        // the static ones are given before the types
  PropertyRejections* rejections = nullptr;  // this Configure's; not null
};

// A transform that passed the acceptance test.
struct CandidateTransform {
  ComRef<IMFTransform> transform;
  std::string name;
  // What the transform's own attributes say it is ("HW-sync", "HW-async", "SW"); the
  // enumeration round's label until it is activated, and when it has no attributes.
  const char* category = "";
  bool asyncCategory = false;  // enumerated as asynchronous
  bool hwGpu = false;          // took our DXGI device manager
  bool async = false;          // driven by events; must be shut down before it is released
};

enum class CandidateVerdict { Take, Next, Stop };

// Walks hardware synchronous, hardware asynchronous, then software encoder transforms for the
// codec, in the order Media Foundation returns them, and stops at the first that passes the
// acceptance test (types accepted, asynchronous ones unlocked when allowed) and that `finish`
// takes. `finish` may also move on to the next candidate or stop the whole walk. A hardware
// transform that names its adapter gets a device on that adapter first.
bool WalkTransforms(const TransformRequest& request, EncoderDevice& device,
                    const std::function<CandidateVerdict(CandidateTransform&)>& finish,
                    CandidateTransform* chosen);

// Releases the transform; one that can be shut down (every asynchronous one) is shut down first,
// or its event queue, threads and hardware session outlive it.
void ReleaseTransform(CandidateTransform& candidate);
void ShutDownAsyncTransform(IMFTransform* transform);

}  // namespace Sorvane
