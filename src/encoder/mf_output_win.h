#pragma once
#include <mfidl.h>
#include <mftransform.h>

#include <cstdint>
#include <vector>

#include "encoder/encoded_output.h"

namespace Sorvane {

// The parameter sets of the transform's current output type (its sequence header), Annex B.
std::vector<uint8_t> ParameterSetsOfOutput(IMFTransform* transform, Codec codec);

// One output sample through the delivery routine: its clean-point flag and its bytes.
void DeliverSample(IMFSample* sample, uint64_t timestampUs, EncodedOutput& output);

enum class OutputStep { Delivered, NeedMoreInput, StreamChanged, Failed };

// One ProcessOutput round. A stream change takes the first offered output type and refreshes
// the parameter sets; a sample goes out with `timestampUs`, or with its own sample time when
// that is negative. The status of a failure is left in *status.
OutputStep ProcessOneOutput(IMFTransform* transform, Codec codec, EncodedOutput& output,
                            int64_t timestampUs, HRESULT* status);

}  // namespace Sorvane
