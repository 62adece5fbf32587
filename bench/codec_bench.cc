// Encode and decode of a scan-sized reply through the standard method codec,
// beside one plain pass over the same bytes as the baseline. Targets: encode
// <= 170 us and within 3x of the plain pass; decode <= 0.5 ms.
//
//   cmake --preset release && cmake --build --preset release --target codec_bench
//   build/release/bench/codec_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "platform/embedding/standard_method_codec.h"

namespace korvane {
namespace {

// A success reply whose "candidates" are 1,000 maps of six entries: a
// ~60-character path, an identity, a 64-bit build and three booleans.
EncodableValue scanReply() {
  EncodableList candidates;
  candidates.reserve(1000);
  for (int i = 0; i < 1000; ++i) {
    char path[64];  // 60 characters
    std::snprintf(path, sizeof path, "/home/user/Applications/Korvane Copies/Korvane-%04d.app", i);
    char identity[32];
    std::snprintf(identity, sizeof identity, "com.korvane.app.%04d", i);
    candidates.emplace_back(EncodableMap{
        {"path", std::string(path) + "/Subs"},
        {"identity", identity},
        {"build", int64_t{(int64_t{1} << 40) + i}},
        {"isQuarantined", i % 2 == 0},
        {"isRunning", false},
        {"isSigned", true},
    });
  }
  return EncodableMap{{"candidates", std::move(candidates)}};
}

const EncodableValue& reply() {
  static const EncodableValue value = scanReply();
  return value;
}

const std::vector<uint8_t>& replyBytes() {
  static const std::vector<uint8_t> bytes =
      StandardMethodCodec::instance().encodeSuccessEnvelope(reply());
  return bytes;
}

void BM_EncodeScanReply(benchmark::State& state) {
  const StandardMethodCodec& codec = StandardMethodCodec::instance();
  for (auto _ : state) {
    std::vector<uint8_t> bytes = codec.encodeSuccessEnvelope(reply());
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * replyBytes().size()));
  state.counters["bytes"] = static_cast<double>(replyBytes().size());
}
BENCHMARK(BM_EncodeScanReply)->Unit(benchmark::kMicrosecond);

void BM_DecodeScanReply(benchmark::State& state) {
  const StandardMethodCodec& codec = StandardMethodCodec::instance();
  const std::vector<uint8_t>& bytes = replyBytes();
  for (auto _ : state) {
    auto decoded = codec.decodeEnvelope(bytes);
    if (decoded.index() != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeScanReply)->Unit(benchmark::kMicrosecond);

// The baseline: read every byte of the reply once, in order, with the running
// sum kept observable so the loop is neither removed nor vectorised away.
void BM_PlainPassOverReply(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = replyBytes();
  for (auto _ : state) {
    uint64_t sum = 0;
    for (uint8_t b : bytes) {
      sum += b;
      benchmark::DoNotOptimize(sum);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_PlainPassOverReply)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace korvane

BENCHMARK_MAIN();
