#include "encoder/adapter_choice.h"

#include <cctype>

namespace Sorvane {
namespace {

constexpr uint32_t kNvidia = 0x10DE;

}  // namespace

int ChooseAdapter(const std::vector<AdapterSummary>& adapters) {
  int best = -1;
  for (size_t i = 0; i < adapters.size(); ++i) {
    const AdapterSummary& candidate = adapters[i];
    if (!candidate.readable || candidate.software)
      continue;
    if (best < 0) {
      best = static_cast<int>(i);
      continue;
    }
    const AdapterSummary& current = adapters[static_cast<size_t>(best)];
    const bool candidateNvidia = candidate.vendorId == kNvidia;
    const bool currentNvidia = current.vendorId == kNvidia;
    if ((candidateNvidia && !currentNvidia) ||
        (candidateNvidia == currentNvidia &&
         candidate.dedicatedVideoMemory > current.dedicatedVideoMemory))
      best = static_cast<int>(i);
  }
  return best;
}

EncoderVendor VendorFromId(const std::string& vendorId) {
  if (vendorId.empty())
    return EncoderVendor::None;
  std::string upper = vendorId;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("10DE") != std::string::npos)
    return EncoderVendor::Nvidia;
  if (upper.find("8086") != std::string::npos)
    return EncoderVendor::Intel;
  if (upper.find("1002") != std::string::npos)
    return EncoderVendor::Amd;
  return EncoderVendor::Other;
}

}  // namespace Sorvane
