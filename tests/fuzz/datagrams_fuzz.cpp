// Datagrams in any order and shape: each is a u16 little-endian length and that many bytes; every
// one goes through the header parser and then the frame assembler, whose memory must stay within
// its bound.
#include <cstddef>
#include <cstdint>

#include "net/datagram_header.h"
#include "sv-receiver/lib/frame_assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Sorvane;
  receiver::FrameAssembler::Options options;
  options.windowFrames = 8;
  options.maxBufferedBytes = 256 * 1024;
  size_t delivered = 0;
  receiver::FrameAssembler assembler(
      [&delivered](const receiver::AssembledFrame& frame) { delivered += frame.data.size(); },
      options);
  uint32_t now = 0;
  size_t at = 0;
  while (at + 2 <= size) {
    const size_t length = data[at] | static_cast<size_t>(data[at + 1]) << 8;
    at += 2;
    const size_t take = length < size - at ? length : size - at;
    (void)ParseDatagramHeader(data + at, take);
    assembler.Push(data + at, take, now += 1000);
    if (assembler.BufferedBytes() > options.maxBufferedBytes)
      __builtin_trap();
    at += take;
  }
  assembler.Flush();
  if (assembler.BufferedBytes() != 0 || assembler.PendingFrames() != 0)
    __builtin_trap();  // Flush gives up on everything
  return 0;
}
