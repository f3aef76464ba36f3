// crc32_bench [benchmark flags]
//
// The CRC-32 that checks every entry the launcher writes, by each of its
// paths, against the classic byte-at-a-time table, on a 4 KiB piece (what the
// streamed route checks at a time, in cache) and on 8 MiB (a decoded program,
// from memory). Every path's result is compared with the table's first. After
// the benchmark's own table it prints GB/s (best of five repetitions) and the
// ratios to the byte-at-a-time table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "best_rates.h"
#include "bundle/format/crc32.h"
#include "lzss_test_codec.h"

namespace {

uint32_t Bytewise(const void* data, size_t length, uint32_t crc) {
  static const std::vector<uint32_t> table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

using Path = uint32_t (*)(const void*, size_t, uint32_t);
uint32_t Dispatching(const void* data, size_t length, uint32_t crc) { return bundle::Crc32(data, length, crc); }

const struct {
  const char* name;
  Path path;
} PATHS[] = {{"crc32", Dispatching},
             {"carryless", bundle::crc32_paths::CarrylessFold},
             {"slicing8", bundle::crc32_paths::SlicingBy8},
             {"bytewise", Bytewise}};

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = test_codec::MakeMixed(8u << 20, 7);
  return data;
}

void Run(benchmark::State& state, Path path, size_t size) {
  const std::vector<uint8_t>& data = Data();
  uint32_t crc = 0;
  for (auto _ : state) {
    crc = path(data.data(), size, crc);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const size_t sizes[] = {4096, Data().size()};
  for (size_t size : sizes) {
    const uint32_t expected = Bytewise(Data().data(), size, 0);
    for (const auto& p : PATHS) {
      if (p.path(Data().data(), size, 0) != expected) {
        std::fprintf(stderr, "%s gives another CRC over %zu bytes\n", p.name, size);
        return 1;
      }
      benchmark::RegisterBenchmark((std::string(p.name) + "/" + std::to_string(size)).c_str(), Run, p.path, size)
          ->Repetitions(5);
    }
  }
  BestRates rates;
  benchmark::RunSpecifiedBenchmarks(&rates);

  std::printf("\ncarry-less multiply %s on this processor\n",
              bundle::crc32_paths::CarrylessAvailable() ? "available" : "not available (crc32 takes slicing8)");
  std::printf("Best of 5 repetitions, GB/s (10^9 bytes per second); ratios to bytewise\n");
  std::printf("%-10s", "bytes");
  for (const auto& p : PATHS) std::printf(" %12s", p.name);
  for (const auto& p : PATHS) std::printf(" %10s/b", p.name);
  std::printf("\n");
  for (size_t size : sizes) {
    const double base = rates.rates["bytewise/" + std::to_string(size)];
    if (base == 0) continue;  // filtered out
    std::printf("%-10zu", size);
    for (const auto& p : PATHS) std::printf(" %12.2f", rates.rates[std::string(p.name) + "/" + std::to_string(size)] / 1e9);
    for (const auto& p : PATHS) std::printf(" %11.1fx", rates.rates[std::string(p.name) + "/" + std::to_string(size)] / base);
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}
