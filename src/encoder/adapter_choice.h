#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Sorvane {

// What the encoder needs to know of one graphics adapter to pick the one it creates its device on.
struct AdapterSummary {
  bool readable = true;  // its description could be read
  bool software = false;
  uint32_t vendorId = 0;
  uint64_t dedicatedVideoMemory = 0;
};

// Index of the adapter to use, -1 for none: hardware adapters only, NVIDIA before others, then
// the most dedicated video memory; the first of equals wins.
int ChooseAdapter(const std::vector<AdapterSummary>& adapters);

// The graphics vendor an encoder transform's vendor id names ("VEN_10DE&DEV_…", any case).
enum class EncoderVendor { None, Nvidia, Intel, Amd, Other };
EncoderVendor VendorFromId(const std::string& vendorId);

}  // namespace Sorvane
