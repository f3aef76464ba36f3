// The block header and the LZSS kernel over arbitrary input, two ways:
//   - the input as a compressed block, decoded as the launcher decodes one
//     (signature and length guard, XOR, stream up to the block's end), with
//     the decoded size capped so that a hostile header cannot ask for
//     gigabytes;
//   - the input as a raw stream, its first two bytes giving D.
// Each decode goes into an output of exactly D bytes and must equal the plain
// byte-by-byte ring decoder's, produced count and bytes.
#include <cstring>
#include <memory>

#include "bundle/format/lzss.h"
#include "fuzz_target.h"
#include "lzss_test_codec.h"

namespace {

constexpr uint32_t MAX_FUZZ_DECODED = 1 << 20;

void DecodeAndCompare(const uint8_t* stream, size_t length, uint32_t decodedSize) {
  std::unique_ptr<uint8_t[]> out(new uint8_t[decodedSize + 1]);
  std::unique_ptr<uint8_t[]> expected(new uint8_t[decodedSize + 1]);
  std::unique_ptr<uint8_t[]> ring(new uint8_t[bundle::RING_SIZE]);
  const bundle::LzssResult r = bundle::LzssDecodeStream(out.get(), decodedSize, stream, length, ring.get());
  const size_t produced = test_codec::PlainRingDecode(expected.get(), decodedSize, stream, length);
  FuzzCheck(r.produced == produced, "produced count differs from the plain decoder");
  FuzzCheck(std::memcmp(out.get(), expected.get(), produced) == 0, "output differs from the plain decoder");
  FuzzCheck((r.status == bundle::LzssStatus::Complete) == (produced == decodedSize), "status wrong");
  FuzzCheck(r.consumed <= length, "consumed more than the stream");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (bundle::HasBlockSignature(data, size)) {
    const bundle::BlockHeader header = bundle::ReadBlockHeader(data);
    std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
    std::memcpy(block.get(), data, size);
    bundle::XorBytes(block.get(), size, header.key);
    const uint32_t d = header.decodedSize < MAX_FUZZ_DECODED ? header.decodedSize : MAX_FUZZ_DECODED;
    DecodeAndCompare(block.get() + bundle::BLOCK_HEADER_SIZE, size - bundle::BLOCK_HEADER_SIZE, d);
  } else {
    FuzzCheck(size < bundle::BLOCK_HEADER_SIZE || std::memcmp(data, bundle::BLOCK_SIGNATURE, 13) != 0,
              "signature missed");
  }
  if (size >= 2) DecodeAndCompare(data + 2, size - 2, uint32_t(data[0]) | uint32_t(data[1]) << 8);
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  const std::vector<uint8_t> text = test_codec::MakeText(6000, 1);
  const std::vector<uint8_t> code = test_codec::MakeExecutable(3000, 2);
  seeds.push_back(test_codec::MakeBlock(test_codec::GreedyEncode(text), uint32_t(text.size()), 0x5A));
  seeds.push_back(test_codec::MakeBlock(test_codec::GreedyEncode(code), uint32_t(code.size()), 0));
  seeds.push_back(test_codec::MakeBlock({7, 97, 98, 99, 238, 240}, 6, 0x11));
  seeds.push_back(test_codec::MakeBlock({}, 0, 0x22));
  std::vector<uint8_t> raw = {0x00, 0x20};  // D = 8192
  const std::vector<uint8_t> stream = test_codec::GreedyEncode(text);
  raw.insert(raw.end(), stream.begin(), stream.end());
  seeds.push_back(raw);
  seeds.push_back({0x10, 0x00, 0x00, 0xEE, 0xFF, 0x00, 0xF0});
  return seeds;
}
