#pragma once

// BT.709 limited range in Q8 fixed point: the one set of constants the CPU conversion and the
// GPU shader are both built from, so both give the same bytes.
namespace Sorvane::bt709 {

inline constexpr int kYR = 47, kYG = 157, kYB = 16;
inline constexpr int kCbR = -26, kCbG = -87, kCbB = 112;
inline constexpr int kCrR = 112, kCrG = -102, kCrB = -10;
inline constexpr int kYOff = 16;
inline constexpr int kCOff = 128;

}  // namespace Sorvane::bt709
