#pragma once
#include <mftransform.h>
#include <strmif.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "encoder/com_ref_win.h"
#include "encoder/mf_codec_properties.h"

namespace Sorvane {

// The transform's codec interface, when it has one.
ComRef<ICodecAPI> CodecApiOf(IMFTransform* transform);

// Sets one property with the type the codec API gives it: VT_BOOL for the low-latency switch,
// VT_UI8 for the quantiser, VT_UI4 for the rest.
HRESULT SetCodecProperty(ICodecAPI* api, CodecProperty property, uint64_t value);

// The property's current value, else its default; nothing when the transform tells neither.
std::optional<uint64_t> CodecPropertyValueOf(ICodecAPI* api, CodecProperty property);

// The properties one Configure could not set, each logged once. A property the transform took
// before its types were set is not reported when it refuses the repeat afterwards.
class PropertyRejections {
 public:
  // A new transform: what the last one took says nothing about it.
  void NewCandidate() { accepted_ = 0; }
  void Note(CodecProperty property, HRESULT result);

 private:
  uint32_t accepted_ = 0;  // bits by CodecProperty
  uint32_t logged_ = 0;
};

// Sets each in order; a refusal is noted (logged once) and the rest are still set.
void SetCodecProperties(ICodecAPI* api, const std::vector<CodecPropertyValue>& values,
                        PropertyRejections& rejections);

}  // namespace Sorvane
