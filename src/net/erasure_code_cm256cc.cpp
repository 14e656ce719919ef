#include <cm256cc/cm256.h>

#include <vector>

#include "net/erasure_code.h"

namespace Sorvane::fec {
namespace {

CM256& Codec() {
  static CM256 codec;
  return codec;
}

// Set once, when the module loads.
const bool gInitialised = Codec().isInitialized();

}  // namespace

bool Initialised() {
  return gInitialised;
}

bool Encode(const uint8_t* const* originals, int originalCount, int recoveryCount,
            uint8_t* recovery) {
  if (!gInitialised || !Fits(originalCount, recoveryCount))
    return false;
  // The code reads the originals only; its descriptors are merely typed for writing.
  std::vector<CM256::cm256_block> blocks(static_cast<size_t>(originalCount));
  for (int i = 0; i < originalCount; ++i) {
    blocks[i].Block = const_cast<uint8_t*>(originals[i]);
    blocks[i].Index = static_cast<unsigned char>(i);
  }
  const CM256::cm256_encoder_params params{originalCount, recoveryCount, kBlockBytes};
  return Codec().cm256_encode(params, blocks.data(), recovery) == 0;
}

bool Decode(int originalCount, int recoveryCount, Block* blocks) {
  if (!gInitialised || originalCount < 1 || recoveryCount < 0 ||
      originalCount + recoveryCount > kMaxBlocks) {
    return false;
  }
  std::vector<CM256::cm256_block> descriptors(static_cast<size_t>(originalCount));
  for (int i = 0; i < originalCount; ++i) {
    descriptors[i].Block = blocks[i].data;
    descriptors[i].Index = blocks[i].index;
  }
  const CM256::cm256_encoder_params params{originalCount, recoveryCount, kBlockBytes};
  if (Codec().cm256_decode(params, descriptors.data()) != 0)
    return false;
  for (int i = 0; i < originalCount; ++i)
    blocks[i].index = descriptors[i].Index;
  return true;
}

}  // namespace Sorvane::fec
