#pragma once
#include <string>

namespace Sorvane {

// The compute shader's HLSL text, with the shared BT.709 constants written in.
std::string BgraToNv12ShaderSource();

}  // namespace Sorvane
