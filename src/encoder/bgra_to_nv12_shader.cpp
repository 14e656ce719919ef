#include <cstdio>
#include <string>

#include "encoder/bgra_to_nv12_shader.h"
#include "encoder/bt709_q8.h"

namespace Sorvane {

// One thread per 2 × 2 block: four luma samples and one chroma pair. UNORM views read and
// write 8-bit values exactly, so the integer arithmetic matches the CPU routine.
std::string BgraToNv12ShaderSource() {
  static const char kTemplate[] = R"(Texture2D<float4> Source : register(t0);
RWTexture2D<unorm float> Luma : register(u0);
RWTexture2D<unorm float2> Chroma : register(u1);

int LumaOf(int3 c) { return min(((%d * c.r + %d * c.g + %d * c.b + 128) >> 8) + %d, 255); }

[numthreads(8, 8, 1)]
void main(uint3 id : SV_DispatchThreadID) {
  uint width, height;
  Source.GetDimensions(width, height);
  uint2 origin = id.xy * 2;
  if (origin.x + 1 >= width || origin.y + 1 >= height)
    return;
  int3 sum = int3(0, 0, 0);
  [unroll] for (uint i = 0; i < 4; ++i) {
    uint2 p = origin + uint2(i & 1, i >> 1);
    int3 c = int3(round(Source.Load(int3(p, 0)).rgb * 255.0));
    Luma[p] = LumaOf(c) / 255.0;
    sum += c;
  }
  int3 a = sum >> 2;
  int u = clamp(((%d * a.r + %d * a.g + %d * a.b + 128) >> 8) + %d, 0, 255);
  int v = clamp(((%d * a.r + %d * a.g + %d * a.b + 128) >> 8) + %d, 0, 255);
  Chroma[id.xy] = float2(u, v) / 255.0;
}
)";
  char text[2048];
  using namespace bt709;
  std::snprintf(text, sizeof text, kTemplate, kYR, kYG, kYB, kYOff, kCbR, kCbG, kCbB, kCOff, kCrR,
                kCrG, kCrB, kCOff);
  return text;
}

}  // namespace Sorvane
