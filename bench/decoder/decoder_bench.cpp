// decoder_bench [benchmark flags]
//
// Decodes the same streams with the launcher's LZSS kernel and with a plain
// byte-by-byte ring decoder written straight from the format's definition, and
// copies the decoded bytes with memcpy, on 8 MiB each of text, x86-like code
// and mixed data (streams from a greedy encoder). Every decoder's output is
// checked against the original data first. After the benchmark's own table it
// prints decoded GB/s per input (best of five repetitions) and the ratios
// kernel / plain and kernel / memcpy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "best_rates.h"
#include "bundle/format/lzss.h"
#include "lzss_test_codec.h"

namespace {

struct Input {
  const char* name;
  std::vector<uint8_t> data;
  std::vector<uint8_t> stream;
};

std::vector<Input>& Inputs() {
  static std::vector<Input> inputs = [] {
    const size_t size = 8u << 20;
    std::vector<Input> list;
    list.push_back({"text", test_codec::MakeText(size, 1), {}});
    list.push_back({"exe", test_codec::MakeExecutable(size, 2), {}});
    list.push_back({"mixed", test_codec::MakeMixed(size, 3), {}});
    for (Input& in : list) in.stream = test_codec::GreedyEncode(in.data.data(), in.data.size(), 32);
    return list;
  }();
  return inputs;
}

void Kernel(benchmark::State& state, const Input* in) {
  std::vector<uint8_t> out(in->data.size());
  std::vector<uint8_t> ring(bundle::RING_SIZE);
  for (auto _ : state) {
    bundle::LzssDecodeStream(out.data(), uint32_t(out.size()), in->stream.data(), in->stream.size(), ring.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}

void Plain(benchmark::State& state, const Input* in) {
  std::vector<uint8_t> out(in->data.size());
  for (auto _ : state) {
    test_codec::PlainRingDecode(out.data(), uint32_t(out.size()), in->stream.data(), in->stream.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}

void Memcpy(benchmark::State& state, const Input* in) {
  std::vector<uint8_t> out(in->data.size());
  for (auto _ : state) {
    std::memcpy(out.data(), in->data.data(), out.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}

bool Verify() {
  bool ok = true;
  for (const Input& in : Inputs()) {
    std::vector<uint8_t> a(in.data.size()), b(in.data.size()), ring(bundle::RING_SIZE);
    const auto r = bundle::LzssDecodeStream(a.data(), uint32_t(a.size()), in.stream.data(), in.stream.size(), ring.data());
    const size_t n = test_codec::PlainRingDecode(b.data(), uint32_t(b.size()), in.stream.data(), in.stream.size());
    if (r.status != bundle::LzssStatus::Complete || a != in.data || n != b.size() || b != in.data) {
      std::fprintf(stderr, "decoded %s differs from its data\n", in.name);
      ok = false;
    }
    std::printf("%-6s %zu bytes, stream %zu bytes (%.1f%%)\n", in.name, in.data.size(), in.stream.size(),
                100.0 * double(in.stream.size()) / double(in.data.size()));
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!Verify()) return 1;
  for (const Input& in : Inputs()) {
    benchmark::RegisterBenchmark((std::string("kernel/") + in.name).c_str(), Kernel, &in)->Repetitions(5);
    benchmark::RegisterBenchmark((std::string("plain_ring/") + in.name).c_str(), Plain, &in)->Repetitions(5);
    benchmark::RegisterBenchmark((std::string("memcpy/") + in.name).c_str(), Memcpy, &in)->Repetitions(5);
  }
  BestRates collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf("\nBest of 5 repetitions, GB/s of decoded bytes (10^9 bytes per second)\n");
  std::printf("%-6s %14s %14s %14s %16s %16s\n", "input", "kernel GB/s", "plain GB/s", "memcpy GB/s",
              "kernel/plain", "kernel/memcpy");
  for (const Input& in : Inputs()) {
    const double k = collector.rates["kernel/" + std::string(in.name)] / 1e9;
    const double p = collector.rates["plain_ring/" + std::string(in.name)] / 1e9;
    const double m = collector.rates["memcpy/" + std::string(in.name)] / 1e9;
    if (k == 0 || p == 0 || m == 0) continue;  // filtered out
    std::printf("%-6s %14.3f %14.3f %14.3f %15.2fx %15.3fx\n", in.name, k, p, m, k / p, k / m);
  }
  benchmark::Shutdown();
  return 0;
}
