// The LZSS kernel and the block header: the format's definition case by case,
// then the kernel against the plain byte-by-byte ring decoder on streams that
// exercise every mode, and damaged streams that must stop at their end.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bundle/format/lzss.h"
#include "lzss_test_codec.h"

using bundle::LzssStatus;
using Bytes = std::vector<uint8_t>;

namespace {

// Bytes after the output in a guarded decode, and what they hold.
constexpr size_t GUARD_SIZE = 256;
constexpr uint8_t GUARD_BYTE = 0xA5;

struct Decoded {
  Bytes output;
  bundle::LzssResult result;
  // Guarded decodes only: the guard after the output was left as it was.
  bool guardUntouched = true;
};

// Decodes from a heap copy of exactly the stream's length into an output of
// exactly D bytes, so that a sanitizer build catches any access past either.
// guarded: the output is followed by GUARD_SIZE bytes of GUARD_BYTE instead,
// checked afterwards, so that every tree sees a write past it.
Decoded Decode(const Bytes& stream, uint32_t decodedSize, bool guarded = false) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[stream.size() + (stream.empty() ? 1 : 0)]);
  if (!stream.empty()) std::memcpy(in.get(), stream.data(), stream.size());
  const size_t guard = guarded ? GUARD_SIZE : 0;
  std::unique_ptr<uint8_t[]> out(new uint8_t[decodedSize + guard + (decodedSize + guard == 0 ? 1 : 0)]);
  std::memset(out.get() + decodedSize, GUARD_BYTE, guard);
  std::vector<uint8_t> ring(bundle::RING_SIZE, 0xEE);  // the kernel must clear it
  Decoded d;
  d.result = bundle::LzssDecodeStream(out.get(), decodedSize, in.get(), stream.size(), ring.data());
  d.output.assign(out.get(), out.get() + d.result.produced);
  for (size_t i = 0; i < guard; ++i) d.guardUntouched = d.guardUntouched && out[decodedSize + i] == GUARD_BYTE;
  return d;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A reference item to ring position q of length m.
void Ref(Bytes& s, uint32_t q, uint32_t m) {
  s.push_back(uint8_t(q & 0xFF));
  s.push_back(uint8_t((q >> 8) << 4 | (m - 3)));
}

}  // namespace

TEST(LzssKernel, DecodesTheWorkedExample) {
  const Decoded d = Decode({7, 97, 98, 99, 238, 240}, 6);
  EXPECT_EQ(Text(d.output), "abcabc");
  EXPECT_EQ(d.result.status, LzssStatus::Complete);
  EXPECT_EQ(d.result.consumed, 6u);
}

TEST(LzssKernel, RingStartsZeroAndTheFirstByteLandsAt4078) {
  // A reference before any literal, to a position never written: zeros.
  Bytes s = {0x00};
  Ref(s, 0, 5);
  Decoded d = Decode(s, 5);
  EXPECT_EQ(d.output, Bytes(5, 0));

  // A literal lands at 4078; 4077 and 4080 are still zero when read.
  s = {0x01, 'Q'};
  Ref(s, 4077, 3);
  d = Decode(s, 4);
  EXPECT_EQ(Text(d.output), std::string("Q\0Q\0", 4));
  s = {0x01, 'Q'};
  Ref(s, 4080, 3);
  d = Decode(s, 4);
  EXPECT_EQ(Text(d.output), std::string("Q\0\0\0", 4));
}

TEST(LzssKernel, OverlappingReferenceRepeatsWhatItJustWrote) {
  Bytes s = {0x03, 'x', 'y'};
  Ref(s, 4078, 18);  // starts two bytes behind the write position
  const Decoded d = Decode(s, 20);
  EXPECT_EQ(Text(d.output), "xyxyxyxyxyxyxyxyxyxy");
}

TEST(LzssKernel, LengthsThreeAndEighteen) {
  Bytes s = {0x00};
  Ref(s, 0, 3);
  Ref(s, 0, 18);
  const Decoded zeros = Decode(s, 100);
  EXPECT_EQ(zeros.result.produced, 21u);  // the stream ends after them
  EXPECT_EQ(zeros.result.status, LzssStatus::Truncated);
  // Eight references in one flag byte 0x00, each of length 3 over literals
  // written by a group of eight (flag 0xFF).
  s = {0xFF, '1', '2', '3', '4', '5', '6', '7', '8', 0x00};
  for (int k = 0; k < 8; ++k) Ref(s, 4078 + k, 3);
  const Decoded d = Decode(s, 8 + 24);
  // The seventh and eighth reach the bytes the first one stored at 4086.
  EXPECT_EQ(Text(d.output), "12345678123234345456567678781812");
  EXPECT_EQ(d.result.status, LzssStatus::Complete);
}

TEST(LzssKernel, StopsAtDInsideAReferenceAndReportsLeftovers) {
  Bytes s = {0x01, 'z'};
  Ref(s, 4078, 18);
  s.push_back(0xFF);  // a flag byte that is never reached
  const Decoded d = Decode(s, 7);
  EXPECT_EQ(Text(d.output), "zzzzzzz");
  EXPECT_EQ(d.result.status, LzssStatus::Complete);
  EXPECT_EQ(d.result.consumed, 4u);  // flag, literal, the two reference bytes
  EXPECT_LT(d.result.consumed, s.size());
}

TEST(LzssKernel, ZeroDecodedSizeReadsAndWritesNothing) {
  uint8_t out = 0x5A;
  uint8_t ring[bundle::RING_SIZE];
  const uint8_t stream[1] = {0xFF};
  const auto r = bundle::LzssDecodeStream(&out, 0, stream, 1, ring);
  EXPECT_EQ(r.status, LzssStatus::Complete);
  EXPECT_EQ(r.produced, 0u);
  EXPECT_EQ(r.consumed, 0u);
  EXPECT_EQ(out, 0x5A);
  EXPECT_EQ(bundle::LzssDecodeStream(&out, 0, nullptr, 0, ring).status, LzssStatus::Complete);
}

// Every prefix of a real stream, decoded with the full D: stops at the end of
// the prefix (the sanitizer build catches a read past it) with exactly what
// the plain decoder produces from the same prefix.
TEST(LzssKernel, TruncatedStreamsStopAtTheirEnd) {
  const Bytes data = test_codec::MakeText(9000, 3);
  const Bytes stream = test_codec::GreedyEncode(data);
  for (size_t cut = 0; cut < stream.size(); cut += (cut < 64 || stream.size() - cut < 64) ? 1 : 37) {
    const Bytes prefix(stream.begin(), stream.begin() + cut);
    const Decoded d = Decode(prefix, uint32_t(data.size()));
    ASSERT_EQ(d.result.status, LzssStatus::Truncated) << cut;
    ASSERT_LE(d.result.consumed, cut);
    ASSERT_EQ(d.output, test_codec::PlainRingDecode(prefix, uint32_t(data.size()))) << cut;
    ASSERT_EQ(d.output, Bytes(data.begin(), data.begin() + d.output.size())) << cut;
  }
}

// Random bytes taken as a stream: any flag pattern, ring position and length,
// short overlapping distances and the zero ring included, across the point
// where the kernel leaves its ring for the output and with D ending anywhere.
TEST(LzssKernel, MatchesThePlainRingDecoderOnArbitraryStreams) {
  test_codec::Random rng(11);
  for (int round = 0; round < 400; ++round) {
    Bytes stream(rng.Below(6000) + 1);
    // Bias some rounds towards references near the write position, which
    // make short distances and overlaps.
    const bool nearby = rng.Below(2) == 0;
    for (auto& b : stream) b = uint8_t(rng.Next());
    if (nearby) {
      for (size_t i = 0; i + 1 < stream.size(); i += 2) stream[i + 1] = uint8_t(stream[i + 1] | 0xF0);
    }
    const uint32_t decodedSize = rng.Below(3) == 0 ? rng.Below(70000) : rng.Below(20000);
    const Decoded d = Decode(stream, decodedSize);
    const Bytes expected = test_codec::PlainRingDecode(stream, decodedSize);
    ASSERT_EQ(d.output, expected) << "round " << round;
    ASSERT_EQ(d.result.status == LzssStatus::Complete, expected.size() == decodedSize);
  }
}

// Groups whose longest items end right at the output margin of the kernel's
// whole-group mode, past the ring, with stray bytes after the stream: a group
// taken whole when fewer than 7 * 18 + 24 bytes are left would write past the
// output, and one taken item by item must still give the plain decoder's
// bytes. Each stream is decoded twice: into an output of exactly D bytes,
// for the sanitizer tree (and the asserts) to catch an access past it; and
// into one followed by a guard, checked untouched, for the trees without
// them. Short and long distances take the kernel's two copy roads.
TEST(LzssKernel, GroupsEndingAtTheOutputMarginStayInsideTheOutput) {
  for (uint32_t before : {4096u, 4104u, 8192u}) {
    for (uint32_t left = 140; left <= 152; ++left) {
      for (uint32_t distance : {1u, 7u, 100u, 4096u}) {
        for (bool lastIsLiteral : {false, true}) {
          const test_codec::MarginStream m =
              test_codec::StreamEndingAtTheOutputMargin(before, left, distance, lastIsLiteral);
          const Decoded d = Decode(m.stream, m.decodedSize);
          const std::string where = "before " + std::to_string(before) + ", left " + std::to_string(left) +
                                    ", distance " + std::to_string(distance) + (lastIsLiteral ? ", literal" : "");
          ASSERT_EQ(d.result.status, LzssStatus::Complete) << where;
          ASSERT_LT(d.result.consumed, m.stream.size()) << where;
          ASSERT_EQ(d.output, test_codec::PlainRingDecode(m.stream, m.decodedSize)) << where;
          const Decoded guarded = Decode(m.stream, m.decodedSize, true);
          ASSERT_TRUE(guarded.guardUntouched) << "written past the output: " << where;
          ASSERT_EQ(guarded.output, d.output) << where;
        }
      }
    }
  }
}

TEST(LzssKernel, RoundTripsEncodedTextCodeAndMixedData) {
  for (const Bytes& data : {test_codec::MakeText(300000, 1), test_codec::MakeExecutable(300000, 2),
                            test_codec::MakeMixed(300000, 3), Bytes(100000, 0), Bytes()}) {
    const Bytes stream = test_codec::GreedyEncode(data);
    const Decoded d = Decode(stream, uint32_t(data.size()));
    ASSERT_EQ(d.result.status, LzssStatus::Complete);
    EXPECT_EQ(d.result.consumed, stream.size());
    ASSERT_TRUE(d.output == data);
  }
}

TEST(BlockHeader, SignatureIsTheFirst13BytesExactly) {
  Bytes block = test_codec::MakeBlock({}, 0, 0x42);
  EXPECT_TRUE(bundle::HasBlockSignature(block.data(), block.size()));
  block[13] = 'X';
  block[14] = 0xFF;
  EXPECT_TRUE(bundle::HasBlockSignature(block.data(), block.size()));

  Bytes upper = block;
  upper[0] = 'C';
  EXPECT_FALSE(bundle::HasBlockSignature(upper.data(), upper.size()));
  Bytes withNul = block;
  withNul[12] = 0;
  EXPECT_FALSE(bundle::HasBlockSignature(withNul.data(), withNul.size()));

  // Shorter than a header: not a block, and nothing is read.
  EXPECT_FALSE(bundle::HasBlockSignature(block.data(), 19));
  EXPECT_FALSE(bundle::HasBlockSignature(nullptr, 100));
  std::unique_ptr<uint8_t[]> shortBlock(new uint8_t[13]);
  std::memcpy(shortBlock.get(), bundle::BLOCK_SIGNATURE, 13);
  EXPECT_FALSE(bundle::HasBlockSignature(shortBlock.get(), 13));

  const Bytes sized = test_codec::MakeBlock({}, 0xA1B2C3D4u, 0x5C);
  const bundle::BlockHeader header = bundle::ReadBlockHeader(sized.data());
  EXPECT_EQ(header.key, 0x5C);
  EXPECT_EQ(header.decodedSize, 0xA1B2C3D4u);
}

TEST(BlockHeader, XorBytesMatchesByteByByte) {
  for (size_t length : {0, 1, 7, 8, 9, 63, 1000}) {
    Bytes data(length), expected(length);
    for (size_t i = 0; i < length; ++i) {
      data[i] = uint8_t(i * 7);
      expected[i] = uint8_t(data[i] ^ 0x9D);
    }
    bundle::XorBytes(data.data(), length, 0x9D);
    EXPECT_EQ(data, expected);
  }
}
