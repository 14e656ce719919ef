#pragma once
#include <cstdint>

#include "encoder/d3d11_device_win.h"

namespace Sorvane {

// BGRA → NV12 off the CPU for one encoder, on the device of its configuration; a false answer
// leaves the frame to the CPU routine.
class GpuNv12Converter {
 public:
  virtual ~GpuNv12Converter() = default;
  // The device of this configuration; not owned, outlives the converter's use of it.
  virtual void Attach(const EncoderDevice* device) = 0;
  // True when both planes were written (luma pitch width, chroma pitch width).
  virtual bool Convert(const uint8_t* src, int srcStride, uint8_t* dstY, uint8_t* dstUV, int width,
                       int height) = 0;
  // Every GPU object of the configuration; the next one tries again.
  virtual void Release() = 0;
};

}  // namespace Sorvane
