// Framer and assembler throughput, against a plain copy of the same bytes into datagrams.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "net/erasure_code.h"
#include "net/framer.h"
#include "sv-receiver/lib/frame_assembler.h"

namespace {

using namespace Sorvane;

std::vector<uint8_t> Frame(size_t size) {
  std::vector<uint8_t> data(size);
  std::mt19937 rng(1);
  for (auto& b : data)
    b = static_cast<uint8_t>(rng());
  return data;
}

// The frames of the video path: a 1080p keyframe, a P-frame, and a full 255-fragment frame.
size_t SizeFor(int64_t arg) {
  return arg == 0 ? 300000 : arg == 1 ? 30000 : 232 * 1440;
}

// Through the sink, as the framer's callers may use it: each datagram is staged, then copied out.
void BM_FramerWithParitySink(benchmark::State& state) {
  const auto data = Frame(SizeFor(state.range(0)));
  const size_t n = (data.size() + 1439) / 1440;
  const auto parity = static_cast<uint8_t>(VideoParityFor(n));
  std::vector<std::vector<uint8_t>> out;
  out.reserve(n + parity);
  for (auto _ : state) {
    out.clear();
    BuildDatagrams(
        StreamKind::Video, true, parity, 1, 0, 0, data.data(), data.size(),
        [&](const uint8_t* d, size_t len) { out.emplace_back(d, d + len); }, true);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
  state.counters["data+parity"] = static_cast<double>(n + parity);
}
BENCHMARK(BM_FramerWithParitySink)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Straight into the list the pacer takes: every byte written once.
void BM_FramerWithParity(benchmark::State& state) {
  const auto data = Frame(SizeFor(state.range(0)));
  const size_t n = (data.size() + 1439) / 1440;
  const auto parity = static_cast<uint8_t>(VideoParityFor(n));
  for (auto _ : state) {
    DatagramList out;
    BuildDatagrams(StreamKind::Video, true, parity, 1, 0, 0, data.data(), data.size(), out, true);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
  state.counters["data+parity"] = static_cast<double>(n + parity);
}
BENCHMARK(BM_FramerWithParity)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Without parity (audio, frames of 256 fragments or more): headers plus one copy of the frame.
void BM_FramerNoParity(benchmark::State& state) {
  const auto data = Frame(SizeFor(state.range(0)));
  for (auto _ : state) {
    DatagramList out;
    BuildDatagrams(StreamKind::Video, true, 0, 1, 0, 0, data.data(), data.size(), out, true);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_FramerNoParity)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The erasure code alone on the same blocks: the part of the framer no implementation avoids.
void BM_ErasureCodeOnly(benchmark::State& state) {
  const auto data = Frame(SizeFor(state.range(0)));
  const size_t n = (data.size() + 1439) / 1440;
  const auto parity = static_cast<int>(VideoParityFor(n));
  std::vector<uint8_t> padded(n * 1440, 0), recovery(static_cast<size_t>(parity) * 1440);
  std::memcpy(padded.data(), data.data(), data.size());
  std::vector<const uint8_t*> blocks(n);
  for (size_t i = 0; i < n; ++i)
    blocks[i] = padded.data() + i * 1440;
  for (auto _ : state) {
    fec::Encode(blocks.data(), static_cast<int>(n), parity, recovery.data());
    benchmark::DoNotOptimize(recovery.data());
  }
}
BENCHMARK(BM_ErasureCodeOnly)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The floor: the same bytes copied into datagram-sized buffers, no header, no parity.
void BM_PlainCopy(benchmark::State& state) {
  const auto data = Frame(SizeFor(state.range(0)));
  for (auto _ : state) {
    std::vector<std::vector<uint8_t>> out;
    for (size_t at = 0; at < data.size(); at += 1440) {
      const size_t len = std::min<size_t>(1440, data.size() - at);
      out.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + len));
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_PlainCopy)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Reassembly with every parity fragment standing in for a lost data fragment.
void BM_AssemblerParityRecovery(benchmark::State& state) {
  const auto data = Frame(SizeFor(state.range(0)));
  const size_t n = (data.size() + 1439) / 1440;
  const auto parity = static_cast<uint8_t>(VideoParityFor(n));
  std::vector<std::vector<uint8_t>> datagrams;
  BuildDatagrams(
      StreamKind::Video, true, parity, 1, 0, 0, data.data(), data.size(),
      [&](const uint8_t* d, size_t len) { datagrams.emplace_back(d, d + len); }, true);
  datagrams.erase(datagrams.begin(), datagrams.begin() + parity);  // lose the first p data
  uint16_t id = 0;
  size_t rebuilt = 0;
  receiver::FrameAssembler assembler(
      [&](const receiver::AssembledFrame& f) { rebuilt += f.rebuiltByParity; });
  for (auto _ : state) {
    ++id;
    for (auto& d : datagrams) {
      d[6] = static_cast<uint8_t>(id);
      d[7] = static_cast<uint8_t>(id >> 8);
      assembler.Push(d.data(), d.size(), 0);
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
  state.counters["rebuilt"] = static_cast<double>(rebuilt);
}
BENCHMARK(BM_AssemblerParityRecovery)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Reassembly when every data fragment arrives (parity fragments then come late and are counted).
void BM_AssemblerAllData(benchmark::State& state) {
  const auto data = Frame(SizeFor(state.range(0)));
  const size_t n = (data.size() + 1439) / 1440;
  const auto parity = static_cast<uint8_t>(VideoParityFor(n));
  DatagramList datagrams;
  BuildDatagrams(StreamKind::Video, true, parity, 1, 0, 0, data.data(), data.size(), datagrams,
                 true);
  uint16_t id = 0;
  size_t delivered = 0;
  receiver::FrameAssembler assembler([&](const receiver::AssembledFrame&) { ++delivered; });
  for (auto _ : state) {
    ++id;
    for (auto& d : datagrams) {
      d[6] = static_cast<uint8_t>(id);
      d[7] = static_cast<uint8_t>(id >> 8);
      assembler.Push(d.data(), d.size(), 0);
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
  state.counters["delivered"] = static_cast<double>(delivered);
}
BENCHMARK(BM_AssemblerAllData)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
