#pragma once
#include <cstdint>
#include <string>

#include "encoder/libav_session.h"

// Which hardware encoders really work on this machine.
namespace Sorvane {

// The first DRM render node ("/dev/dri/renderD128", …), or empty when there is none.
std::string FirstRenderNode();

// PCI vendor id of a render node's device (0x8086 Intel, 0x1002 AMD, 0x10DE NVIDIA); 0 unknown.
uint32_t RenderNodeVendor(const std::string& node);

// Whether a hardware candidate opens here at a small size. Each candidate is tried once per
// process: the hardware does not change while we run, and a failed open is slow and noisy.
bool HardwareEncoderOpens(const EncoderCandidate& candidate);

}  // namespace Sorvane
