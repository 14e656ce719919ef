#pragma once
#include <cstdint>
#include <string>

namespace Sorvane {

// A Media Foundation / COM status for log lines: "NAME (0x%08lx)" for the codes the encoder
// meets often, else "0x%08lx".
std::string StatusText(uint32_t status);

}  // namespace Sorvane
