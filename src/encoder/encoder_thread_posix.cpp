#include "encoder/encoder_thread.h"

namespace Sorvane {

// The Linux encoders need no per-thread set-up.
EncoderThreadScope::EncoderThreadScope() = default;
EncoderThreadScope::~EncoderThreadScope() = default;

}  // namespace Sorvane
