#pragma once
#include <mfobjects.h>

#include "encoder/mf_transform_walk_win.h"

namespace Sorvane {

// The acceptance test of one activated transform: asynchronous ones need the user's consent and
// an unlock, the device manager is offered, then the output type and an NV12 input type must be
// accepted (output first). Logs why a transform is skipped.
bool AcceptTransform(const TransformRequest& request, IMFDXGIDeviceManager* manager,
                     CandidateTransform& candidate);

}  // namespace Sorvane
