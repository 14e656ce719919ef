// Our erasure code against cm256 on the same blocks in the same run (their ratio is printed at the
// end), then framer and assembler throughput against a plain copy of the same bytes.
#include <benchmark/benchmark.h>
#include <cm256cc/cm256.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fec/cauchy_code.h"
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

// n originals of 1440 random bytes, and room for m recovery blocks.
struct CodeInput {
  std::vector<uint8_t> originals;
  std::vector<const uint8_t*> blocks;
  std::vector<uint8_t> recovery;
  CodeInput(int n, int m)
      : originals(Frame(static_cast<size_t>(n) * kFragmentBytes)),
        blocks(static_cast<size_t>(n)),
        recovery(static_cast<size_t>(m) * kFragmentBytes) {
    for (int i = 0; i < n; ++i)
      blocks[i] = originals.data() + i * kFragmentBytes;
  }
};

CM256& Cm256() {
  static CM256 codec;
  return codec;
}

bool Cm256Encode(const CodeInput& in, int n, int m, uint8_t* recovery) {
  std::vector<CM256::cm256_block> blocks(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    blocks[i] = {const_cast<uint8_t*>(in.blocks[i]), static_cast<unsigned char>(i)};
  const CM256::cm256_encoder_params params{n, m, static_cast<int>(kFragmentBytes)};
  return Cm256().cm256_encode(params, blocks.data(), recovery) == 0;
}

// Ours: the vector kernel this processor supports.
void BM_EncodeOurs(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int m = static_cast<int>(state.range(1));
  CodeInput in(n, m);
  const fec::CodeShape shape{n, m, kFragmentBytes};
  for (auto _ : state) {
    fec::Encode(shape, in.blocks.data(), in.recovery.data());
    benchmark::DoNotOptimize(in.recovery.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.originals.size()));
}
BENCHMARK(BM_EncodeOurs)->Args({232, 23})->Args({10, 1})->Unit(benchmark::kMicrosecond);

// Ours held to one level: SSSE3 as on a processor without AVX2 (cm256's package uses SSSE3 as
// well), and the plain fallback.
void BM_EncodeOursAtLevel(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int m = static_cast<int>(state.range(1));
  const auto level = static_cast<fec::SimdLevel>(state.range(2));
  CodeInput in(n, m);
  const fec::CodeShape shape{n, m, kFragmentBytes};
  for (auto _ : state) {
    fec::Encode(shape, in.blocks.data(), in.recovery.data(), level);
    benchmark::DoNotOptimize(in.recovery.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.originals.size()));
}
BENCHMARK(BM_EncodeOursAtLevel)
    ->Args({232, 23, static_cast<int>(fec::SimdLevel::Ssse3)})
    ->Args({232, 23, static_cast<int>(fec::SimdLevel::Scalar)})
    ->Unit(benchmark::kMicrosecond);

// cm256 as Debian packages it, including its per-call descriptor set-up, as a caller pays it.
void BM_EncodeCm256(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int m = static_cast<int>(state.range(1));
  CodeInput in(n, m);
  for (auto _ : state) {
    Cm256Encode(in, n, m, in.recovery.data());
    benchmark::DoNotOptimize(in.recovery.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.originals.size()));
}
BENCHMARK(BM_EncodeCm256)->Args({232, 23})->Args({10, 1})->Unit(benchmark::kMicrosecond);

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

// Keeps each benchmark's CPU time per iteration (steadier than wall time on a shared machine).
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  double TimeOf(const std::string& name) const {
    const auto it = times_.find(name);
    return it == times_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> times_;
};

// The two codes must agree before their speeds mean anything.
bool SameParity(int n, int m) {
  CodeInput in(n, m);
  std::vector<uint8_t> theirs(in.recovery.size());
  return fec::Encode({n, m, kFragmentBytes}, in.blocks.data(), in.recovery.data()) &&
         Cm256Encode(in, n, m, theirs.data()) && theirs == in.recovery;
}

// Prints ours / cm256 per shape; the full 255-fragment frame must not be slower. 0 when it holds.
int ReportRatios(const RecordingReporter& reporter) {
  int status = 0;
  for (const char* shape : {"232/23", "10/1"}) {
    const double ours = reporter.TimeOf(std::string("BM_EncodeOurs/") + shape);
    const double theirs = reporter.TimeOf(std::string("BM_EncodeCm256/") + shape);
    if (ours <= 0 || theirs <= 0)
      continue;  // filtered out
    const double ratio = ours / theirs;
    const bool gated = std::string(shape) == "232/23";
    const bool ok = !gated || ratio <= 1.0;
    std::printf(
        "erasure code %s blocks of 1440 B: ours %.2f us, cm256 %.2f us (CPU), ratio %.3f%s\n",
        shape, ours, theirs, ratio, gated ? (ok ? " (<= 1.0: ok)" : " (> 1.0: SLOWER)") : "");
    if (!ok)
      status = 1;
  }
  const double theirs = reporter.TimeOf("BM_EncodeCm256/232/23");
  for (const auto& [name, level] : {std::pair{"SSSE3", "1"}, std::pair{"the plain kernel", "0"}}) {
    const double ours = reporter.TimeOf(std::string("BM_EncodeOursAtLevel/232/23/") + level);
    if (ours > 0 && theirs > 0) {
      std::printf("erasure code 232/23 blocks of 1440 B at %s: ours %.2f us, ratio %.3f\n", name,
                  ours, ours / theirs);
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  for (const auto& [n, m] : {std::pair{232, 23}, std::pair{10, 1}}) {
    if (!SameParity(n, m)) {
      std::fprintf(stderr, "sv-bench-framer: our parity differs from cm256's at %d+%d\n", n, m);
      return 1;
    }
  }
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return ReportRatios(reporter);
}
