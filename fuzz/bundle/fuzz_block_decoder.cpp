// The launcher's block decoder over arbitrary input, two ways:
//   - the input as a compressed block, through DecodeBlock as the launcher
//     calls it (signature and length guard, output of the decoded size D,
//     XOR, ring, stream up to the block's end), with memory that refuses
//     more than MAX_FUZZ_DECODED bytes, so that a hostile header asking for
//     gigabytes takes the allocation-failure path;
//   - the input as a raw stream, its first two bytes giving D, through
//     LzssDecode and the decode kernel.
// Every decode must equal the plain byte-by-byte ring decoder's, produced
// count and bytes, and give back all the memory it took.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bundle/format/lzss.h"
#include "fuzz_target.h"
#include "lzss_test_codec.h"

namespace {

constexpr uint32_t MAX_FUZZ_DECODED = 1 << 20;

// Exact-size heap blocks, so that the sanitizers see any access past one.
class CountingMemory : public bundle::BlockMemory {
 public:
  void* Allocate(uint32_t size) override {
    if (size > MAX_FUZZ_DECODED || allocations++ == failAt) return nullptr;
    ++live;
    return std::calloc(size == 0 ? 1 : size, 1);
  }
  void Release(void* pointer) override {
    if (pointer == nullptr) return;
    --live;
    std::free(pointer);
  }
  int live = 0;
  int allocations = 0;
  int failAt = -1;  // the allocation (counted from 0) that fails
};

void CheckBlock(const uint8_t* data, size_t size) {
  CountingMemory memory;
  // One input in sixteen finds no memory for the ring (the second
  // allocation), which must fail the block as a damaged one.
  const bool noRing = size > 0 && data[size - 1] % 16 == 0;
  if (noRing) memory.failAt = 1;
  std::unique_ptr<uint8_t[]> block(new uint8_t[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(block.get(), data, size);
  uint32_t decodedSize = 0xDEADBEEF;
  void* output = bundle::DecodeBlock(block.get(), uint32_t(size), &decodedSize, memory);

  if (!bundle::HasBlockSignature(data, size)) {
    FuzzCheck(output == nullptr && decodedSize == 0, "a block without signature was decoded");
    FuzzCheck(size == 0 || std::memcmp(block.get(), data, size) == 0, "a refused block was changed");
    FuzzCheck(memory.live == 0, "memory taken for a refused block");
    return;
  }
  const bundle::BlockHeader header = bundle::ReadBlockHeader(data);
  FuzzCheck(decodedSize == header.decodedSize, "decoded size not reported");
  if (header.decodedSize > MAX_FUZZ_DECODED) {
    FuzzCheck(output == nullptr && std::memcmp(block.get(), data, size) == 0,
              "a block whose output cannot be allocated was decoded or changed");
    FuzzCheck(memory.live == 0, "memory kept after a failed allocation");
    return;
  }
  std::vector<uint8_t> stream(data + bundle::BLOCK_HEADER_SIZE, data + size);
  bundle::XorBytes(stream.data(), stream.size(), header.key);
  std::vector<uint8_t> expected(header.decodedSize + 1);
  const size_t produced =
      test_codec::PlainRingDecode(expected.data(), header.decodedSize, stream.data(), stream.size());
  if (produced < header.decodedSize || noRing) {
    FuzzCheck(output == nullptr, "a truncated stream was decoded, or one without a ring");
    FuzzCheck(memory.live == 0, "memory kept after a failed decode");
  } else {
    FuzzCheck(output != nullptr, "a complete stream was refused");
    FuzzCheck(std::memcmp(output, expected.data(), produced) == 0, "DecodeBlock output differs");
    FuzzCheck(memory.live == 1, "memory other than the output kept");
    memory.Release(output);
  }
  // Either way, once the output was allocated the caller's block is spent:
  // XORed with the key, header included.
  for (size_t i = 0; i < size; ++i) {
    if (block[i] != uint8_t(data[i] ^ header.key)) FuzzCheck(false, "block not XORed as a whole");
  }
}

void CheckStream(const uint8_t* stream, size_t length, uint32_t decodedSize) {
  // Exactly D bytes, as the launcher allocates them: a byte written past the
  // output must meet the sanitizers, not a spare byte.
  std::unique_ptr<uint8_t[]> out(new uint8_t[decodedSize]);
  std::unique_ptr<uint8_t[]> expected(new uint8_t[decodedSize + 1]);
  std::unique_ptr<uint8_t[]> ring(new uint8_t[bundle::RING_SIZE]);
  const bundle::LzssResult r = bundle::LzssDecodeStream(out.get(), decodedSize, stream, length, ring.get());
  const size_t produced = test_codec::PlainRingDecode(expected.get(), decodedSize, stream, length);
  FuzzCheck(r.produced == produced, "produced count differs from the plain decoder");
  FuzzCheck(std::memcmp(out.get(), expected.get(), produced) == 0, "output differs from the plain decoder");
  FuzzCheck((r.status == bundle::LzssStatus::Complete) == (produced == decodedSize), "status wrong");
  FuzzCheck(r.consumed <= length, "consumed more than the stream");
  // The launcher refuses a block whose size is above this bound as damaged
  // without trying it: no stream may reach further.
  FuzzCheck(r.produced <= bundle::MaxDecodedSize(length), "a stream decoded past MaxDecodedSize");

  CountingMemory memory;
  const bool complete = bundle::LzssDecode(out.get(), stream, uint32_t(length), decodedSize, memory);
  FuzzCheck(complete == (produced == decodedSize), "LzssDecode result wrong");
  FuzzCheck(std::memcmp(out.get(), expected.get(), produced) == 0, "LzssDecode output differs");
  FuzzCheck(memory.live == 0, "LzssDecode kept its ring");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckBlock(data, size);
  if (size >= 2) CheckStream(data + 2, size - 2, uint32_t(data[0]) | uint32_t(data[1]) << 8);
  return 0;
}
