#include "bundle/format/lzss_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bundle/format/lzss.h"

namespace bundle {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Decode(const Bytes& stream, size_t decodedSize, LzssResult* result = nullptr) {
  Bytes out(decodedSize);
  uint8_t ring[RING_SIZE];
  LzssResult r = LzssDecodeStream(out.data(), uint32_t(decodedSize), stream.data(), stream.size(), ring);
  if (result) *result = r;
  out.resize(r.produced);
  return out;
}

// Bits of a stream that decodes to decodedSize bytes: 9 per literal, 17 per
// reference, counted by walking the items the decoder reads.
uint64_t StreamBits(const Bytes& stream, size_t decodedSize) {
  uint64_t bits = 0;
  size_t in = 0, out = 0;
  unsigned flags = 0;
  while (out < decodedSize) {
    flags >>= 1;
    if ((flags & 0x100) == 0) flags = stream.at(in++) | 0xFF00u;
    if (flags & 1) {
      ++in;
      ++out;
      bits += 9;
    } else {
      out += (stream.at(in + 1) & 15) + 3;
      in += 2;
      bits += 17;
    }
  }
  return bits;
}

void ExpectRoundTrip(const Bytes& data, LzssLevel level, const char* what) {
  const Bytes stream = LzssEncode(data.data(), data.size(), level);
  LzssResult result;
  const Bytes decoded = Decode(stream, data.size(), &result);
  EXPECT_EQ(result.status, LzssStatus::Complete) << what;
  EXPECT_EQ(result.consumed, stream.size()) << what << ": the stream carries bytes decoding never reaches";
  EXPECT_TRUE(decoded == data) << what << ": decoded bytes differ";
}

Bytes Random(size_t size, unsigned seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& c : b) c = uint8_t(rng() % alphabet);
  return b;
}

Bytes TextLike(size_t size, unsigned seed) {
  static const char* const words[] = {"the ", "launcher ", "bundle ", "entry ", "of ", "and ", "a ", "file ",
                                      "install", "ed ", "setup ", "data\r\n", "ring ", "window ", "0x", "12"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) s += words[rng() % 16];
  s.resize(size);
  return Bytes(s.begin(), s.end());
}

Bytes ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(LzssEncoder, RoundTripsEveryKindOfInputAtBothLevels) {
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"empty", {}},
      {"one byte", {0x41}},
      {"one zero byte", {0}},
      {"two bytes", {7, 7}},
      {"zeros", Bytes(100000, 0)},
      {"run of one letter", Bytes(70000, 'x')},
      {"random", Random(300000, 1)},
      {"text", TextLike(200000, 2)},
      {"three letters", Random(50000, 3, 3)},
      {"executable", ReadFile("/proc/self/exe")},
  };
  // Periods around the window size: the farthest reference reads the ring
  // position about to be overwritten.
  for (size_t period : {4095u, 4096u, 4097u, 18u, 17u}) {
    Bytes unit = Random(period, unsigned(period));
    Bytes b;
    while (b.size() < 3 * 4096 + 100) b.insert(b.end(), unit.begin(), unit.end());
    inputs.push_back({"period " + std::to_string(period), b});
  }
  Bytes zerosThenData(5000, 0);
  zerosThenData.push_back(1);
  inputs.push_back({"zeros then a byte", zerosThenData});
  for (const auto& [name, data] : inputs) {
    ExpectRoundTrip(data, LzssLevel::Optimal, ("optimal, " + name).c_str());
    ExpectRoundTrip(data, LzssLevel::Fast, ("fast, " + name).c_str());
  }
}

TEST(LzssEncoder, ShortInputsRoundTripAtEveryLength) {
  for (size_t n = 0; n < 80; ++n) {
    for (unsigned seed = 0; seed < 4; ++seed) {
      const Bytes data = Random(n, seed * 100 + unsigned(n), seed + 1);
      ExpectRoundTrip(data, LzssLevel::Optimal, ("optimal, length " + std::to_string(n)).c_str());
      ExpectRoundTrip(data, LzssLevel::Fast, ("fast, length " + std::to_string(n)).c_str());
    }
  }
}

TEST(LzssEncoder, ReproducesTheWorkedExample) {
  const Bytes data = {'a', 'b', 'c', 'a', 'b', 'c'};
  EXPECT_EQ(LzssEncode(data.data(), data.size(), LzssLevel::Optimal), (Bytes{7, 97, 98, 99, 238, 240}));
}

TEST(LzssEncoder, LeadingZerosComeFromTheRingWithoutLiterals) {
  const Bytes data(18, 0);
  const Bytes stream = LzssEncode(data.data(), data.size(), LzssLevel::Optimal);
  EXPECT_EQ(stream.size(), 3u);  // one flag byte, one reference of 18
  EXPECT_EQ(Decode(stream, data.size()), data);
}

TEST(LzssEncoder, LastTwoBytesTakeOneReferenceThatRunsPastTheEnd) {
  const Bytes data = {'q', 'q', 'q'};
  // 'q', then two bytes copied from distance 1: 9 + 17 bits.
  const Bytes stream = LzssEncode(data.data(), data.size(), LzssLevel::Optimal);
  EXPECT_EQ(StreamBits(stream, data.size()), 26u);
  EXPECT_EQ(Decode(stream, data.size()), data);
}

// The longest match at each position by trying every ring position the way
// the decoder reads it, for comparison with the trees.
TEST(LzssEncoder, LongestMatchesEqualABruteForceSearch) {
  for (int alphabet : {2, 3, 5}) {
    Bytes data = Random(12000, unsigned(alphabet), alphabet);
    for (size_t i = 6000; i < 6100; ++i) data[i] = 0;  // a run for the zero-ring case
    const std::vector<LzssMatch> matches = FindLongestMatches(data.data(), data.size());
    ASSERT_EQ(matches.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) {
      const size_t cap = std::min<size_t>(18, data.size() - i);
      size_t best = 0;
      for (size_t d = 1; d <= 4096 && best < cap; ++d) {
        size_t len = 0;
        while (len < cap && data[i + len] == (i + len >= d ? data[i + len - d] : 0)) ++len;
        best = std::max(best, len);
      }
      const size_t expected = best >= 3 || best == data.size() - i ? best : 0;
      ASSERT_EQ(matches[i].length, expected) << "alphabet " << alphabet << ", position " << i;
      if (expected == 0) continue;
      const size_t d = matches[i].distance;
      for (size_t k = 0; k < expected; ++k) {
        ASSERT_EQ(data[i + k], i + k >= d ? data[i + k - d] : 0) << "position " << i << ", distance " << d;
      }
    }
  }
}

// Fewest bits for data over every stream the decoder accepts: every literal and
// every reference (all 4096 ring positions, all 16 lengths) tried on a ring
// simulated as the decoder keeps it. The ring after producing data[0..i) is
// the same whichever stream produced it, so the search memoises by position.
uint64_t ExhaustiveBits(const Bytes& data) {
  const size_t n = data.size();
  std::vector<uint64_t> best(n + 1, UINT64_MAX);
  best[n] = 0;
  for (size_t i = n; i-- > 0;) {
    uint8_t ring[4096] = {};
    for (size_t k = 0; k < i; ++k) ring[(4078 + k) & 4095] = data[k];
    best[i] = 9 + best[i + 1];
    const uint32_t w0 = uint32_t(4078 + i) & 4095;
    for (uint32_t q = 0; q < 4096; ++q) {
      // Decode a reference of 18 from q, reading back what it has stored so
      // far where it reads the positions it has written.
      size_t good = 0;
      while (good < 18 && i + good < n) {
        const uint32_t p = (q + uint32_t(good)) & 4095;
        const uint32_t written = (p - w0) & 4095;
        const uint8_t c = written < good ? data[i + written] : ring[p];
        if (c != data[i + good]) break;
        ++good;
      }
      for (size_t m = 3; m <= 18; ++m) {
        const size_t produced = std::min(m, n - i);
        if (produced <= good) best[i] = std::min(best[i], 17 + best[i + produced]);
      }
    }
  }
  return best[0];
}

TEST(LzssEncoder, OptimalLevelMatchesAnExhaustiveSearchOnSmallInputs) {
  std::vector<Bytes> inputs;
  const uint8_t letters[2] = {0, 'a'};
  for (size_t n = 1; n <= 10; ++n) {
    for (uint32_t bits = 0; bits < (1u << n); ++bits) {
      Bytes b(n);
      for (size_t k = 0; k < n; ++k) b[k] = letters[(bits >> k) & 1];
      inputs.push_back(b);
    }
  }
  std::mt19937 rng(7);
  for (int t = 0; t < 120; ++t) {
    Bytes b(9 + rng() % 14);
    for (auto& c : b) c = letters[rng() & 1];
    if (t % 3 == 0) for (auto& c : b) c = c ? 'b' : 'a';  // no zero bytes
    inputs.push_back(b);
  }
  for (const Bytes& data : inputs) {
    const Bytes stream = LzssEncode(data.data(), data.size(), LzssLevel::Optimal);
    ASSERT_EQ(Decode(stream, data.size()), data);
    const uint64_t bits = StreamBits(stream, data.size());
    const uint64_t fewest = ExhaustiveBits(data);
    ASSERT_EQ(bits, fewest) << "input of " << data.size() << " bytes, first " << int(data[0]);
    ASSERT_EQ(stream.size(), (fewest + 7) / 8);
  }
}

TEST(LzssEncoder, OptimalIsNeverLargerThanFast) {
  for (const Bytes& data : {TextLike(100000, 9), Random(60000, 4, 4), ReadFile("/proc/self/exe")}) {
    const size_t optimal = LzssEncode(data.data(), data.size(), LzssLevel::Optimal).size();
    const size_t fast = LzssEncode(data.data(), data.size(), LzssLevel::Fast).size();
    EXPECT_LE(optimal, fast);
  }
}

TEST(LzssEncoder, BlockCarriesHeaderKeyAndScrambledStream) {
  const Bytes data = TextLike(5000, 5);
  const Bytes stream = LzssEncode(data.data(), data.size(), LzssLevel::Optimal);
  Bytes block = BuildCompressedBlock(data.data(), data.size(), 0x3C, LzssLevel::Optimal);
  ASSERT_EQ(block.size(), 20 + stream.size());
  EXPECT_EQ(std::string(block.begin(), block.begin() + 13), "compress v1.0");
  EXPECT_EQ(block[13], 0);
  EXPECT_EQ(block[14], 0);
  ASSERT_TRUE(HasBlockSignature(block.data(), block.size()));
  const BlockHeader header = ReadBlockHeader(block.data());
  EXPECT_EQ(header.key, 0x3C);
  EXPECT_EQ(header.decodedSize, data.size());
  XorBytes(block.data() + 20, block.size() - 20, header.key);
  EXPECT_TRUE(std::equal(stream.begin(), stream.end(), block.begin() + 20));

  const Bytes defaultKeyed = BuildCompressedBlock(data.data(), data.size(), DEFAULT_BLOCK_KEY, LzssLevel::Optimal);
  EXPECT_EQ(defaultKeyed, BuildCompressedBlock(data.data(), data.size(), DEFAULT_BLOCK_KEY, LzssLevel::Optimal))
      << "same input, same bytes";
}

TEST(LzssEncoder, EmptyBlockHasAHeaderOnly) {
  const Bytes block = BuildCompressedBlock(nullptr, 0, DEFAULT_BLOCK_KEY, LzssLevel::Fast);
  EXPECT_EQ(block.size(), 20u);
  EXPECT_EQ(ReadBlockHeader(block.data()).decodedSize, 0u);
}

}  // namespace
}  // namespace bundle
