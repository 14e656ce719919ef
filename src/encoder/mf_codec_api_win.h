#pragma once
#include <strmif.h>

#include <vector>

#include "encoder/mf_codec_properties.h"

namespace Sorvane {

// Sets one property: VT_BOOL for the low-latency switch, VT_UI4 for the rest.
HRESULT SetCodecProperty(ICodecAPI* api, CodecProperty property, uint32_t value);

// Sets each in order; results are ignored, as a transform may refuse any of them.
void SetCodecProperties(ICodecAPI* api, const std::vector<CodecPropertyValue>& values);

}  // namespace Sorvane
