#include <cm256.h>

#include <vector>

#include "net/erasure_code.h"

namespace Sorvane::fec {
namespace {

// Set once, when the module loads (cm256_init returns 0 on success).
const bool gInitialised = cm256_init() == 0;

}  // namespace

bool Initialised() {
  return gInitialised;
}

bool Encode(const uint8_t* const* originals, int originalCount, int recoveryCount,
            uint8_t* recovery) {
  if (!gInitialised || !Fits(originalCount, recoveryCount))
    return false;
  // The code reads the originals only; its descriptors are merely typed for writing.
  std::vector<cm256_block> blocks(static_cast<size_t>(originalCount));
  for (int i = 0; i < originalCount; ++i) {
    blocks[i].Block = const_cast<uint8_t*>(originals[i]);
    blocks[i].Index = static_cast<unsigned char>(i);
  }
  const cm256_encoder_params params{originalCount, recoveryCount, kBlockBytes};
  return cm256_encode(params, blocks.data(), recovery) == 0;
}

bool Decode(int originalCount, int recoveryCount, Block* blocks) {
  if (!gInitialised || originalCount < 1 || recoveryCount < 0 ||
      originalCount + recoveryCount > kMaxBlocks) {
    return false;
  }
  std::vector<cm256_block> descriptors(static_cast<size_t>(originalCount));
  for (int i = 0; i < originalCount; ++i) {
    descriptors[i].Block = blocks[i].data;
    descriptors[i].Index = blocks[i].index;
  }
  const cm256_encoder_params params{originalCount, recoveryCount, kBlockBytes};
  if (cm256_decode(params, descriptors.data()) != 0)
    return false;
  for (int i = 0; i < originalCount; ++i)
    blocks[i].index = descriptors[i].Index;
  return true;
}

}  // namespace Sorvane::fec
