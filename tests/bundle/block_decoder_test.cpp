// DecodeBlock, LzssDecode and the private heap.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bundle/block_decoder.h"
#include "lzss_test_codec.h"

using Bytes = std::vector<uint8_t>;
namespace heap = private_heap_testing;

namespace {

class BlockDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(heap::LiveCount(), 0); }
  void TearDown() override {
    heap::FailAllocationAfter(-1);
    EXPECT_EQ(heap::LiveCount(), 0);
    EXPECT_EQ(heap::Heap(), nullptr);
  }
};

const Bytes WORKED_STREAM = {7, 97, 98, 99, 238, 240};

Bytes Xored(Bytes bytes, uint8_t key) {
  for (auto& b : bytes) b ^= key;
  return bytes;
}

}  // namespace

TEST_F(BlockDecoderTest, DecodesAndLeavesTheBlockXored) {
  Bytes block = test_codec::MakeBlock(WORKED_STREAM, 6, 0x5A);
  const Bytes stored = block;
  EXPECT_TRUE(IsCompressedBlock(block.data()));
  const BlockDecoding decoded = DecodeBlock(block.data(), uint32_t(block.size()));
  void* out = decoded.bytes;
  ASSERT_EQ(decoded.status, DecodeStatus::Decoded);
  EXPECT_EQ(decoded.size, 6u);
  EXPECT_EQ(std::string(static_cast<char*>(out), 6), "abcabc");
  EXPECT_EQ(heap::LiveCount(), 1);  // the output; the ring is gone
  EXPECT_NE(heap::Heap(), nullptr);
  PrivateHeapFree(out);
  EXPECT_EQ(heap::Heap(), nullptr);
  // Header included, and never restored.
  EXPECT_EQ(block, Xored(stored, 0x5A));
  EXPECT_FALSE(IsCompressedBlock(block.data()));
}

TEST_F(BlockDecoderTest, LargeBlockRoundTrips) {
  const Bytes data = test_codec::MakeMixed(1 << 20, 5);
  Bytes block = test_codec::MakeBlock(test_codec::GreedyEncode(data), uint32_t(data.size()), 0xC3);
  const BlockDecoding decoded = DecodeBlock(block.data(), uint32_t(block.size()));
  void* out = decoded.bytes;
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(decoded.size, data.size());
  EXPECT_EQ(std::memcmp(out, data.data(), data.size()), 0);
  PrivateHeapFree(out);
}

TEST_F(BlockDecoderTest, NotABlockLeavesItUntouched) {
  Bytes block = test_codec::MakeBlock(WORKED_STREAM, 6, 0x11);
  block[0] = 'C';  // "Compress v1.0"
  const Bytes stored = block;
  EXPECT_FALSE(IsCompressedBlock(block.data()));
  EXPECT_EQ(DecodeBlock(block.data(), uint32_t(block.size())).status, DecodeStatus::NotBlock);
  EXPECT_EQ(block, stored);
  EXPECT_EQ(DecodeBlock(nullptr, 100).status, DecodeStatus::NotBlock);

  // Shorter than the header: nothing past it is read (the copy has exactly 19
  // bytes), even though its first 13 bytes are the signature.
  Bytes header = test_codec::MakeBlock({}, 0, 0);
  std::unique_ptr<uint8_t[]> shortBlock(new uint8_t[19]);
  std::memcpy(shortBlock.get(), header.data(), 19);
  EXPECT_FALSE(IsCompressedBlock(shortBlock.get(), 19));
  EXPECT_TRUE(IsCompressedBlock(header.data(), 20));
  EXPECT_EQ(DecodeBlock(shortBlock.get(), 19).status, DecodeStatus::NotBlock);
}

TEST_F(BlockDecoderTest, FailedOutputAllocationGivesDAndAnUntouchedBlock) {
  Bytes block = test_codec::MakeBlock(WORKED_STREAM, 6, 0x22);
  const Bytes stored = block;
  heap::FailAllocationAfter(0);
  BlockDecoding refused = DecodeBlock(block.data(), uint32_t(block.size()));
  EXPECT_EQ(refused.status, DecodeStatus::NoMemory);
  EXPECT_EQ(refused.size, 6u);
  EXPECT_EQ(block, stored);

  // A decoded size no 32-bit heap can give; a 64-bit one may, and the short
  // stream then fails it.
  heap::FailAllocationAfter(-1);
  block = test_codec::MakeBlock(WORKED_STREAM, 0xFFFFFFF0u, 0x22);
  refused = DecodeBlock(block.data(), uint32_t(block.size()));
  EXPECT_EQ(refused.bytes, nullptr);
  EXPECT_EQ(refused.size, 0xFFFFFFF0u);
}

TEST_F(BlockDecoderTest, FailedRingAllocationFailsTheBlock) {
  Bytes block = test_codec::MakeBlock(WORKED_STREAM, 6, 0x33);
  heap::FailAllocationAfter(1);  // the output succeeds, the ring does not
  EXPECT_EQ(DecodeBlock(block.data(), uint32_t(block.size())).status, DecodeStatus::NoMemory);

  heap::FailAllocationAfter(0);
  char out[6] = {'-', '-', '-', '-', '-', '-'};
  EXPECT_EQ(LzssDecode(out, WORKED_STREAM.data(), uint32_t(WORKED_STREAM.size()), 6), DecodeStatus::NoMemory);
  EXPECT_EQ(std::string(out, 6), "------");
}

TEST_F(BlockDecoderTest, TruncatedBlockFailsWithoutReadingPastIt) {
  const Bytes data = test_codec::MakeText(20000, 9);
  const Bytes full = test_codec::MakeBlock(test_codec::GreedyEncode(data), uint32_t(data.size()), 0x44);
  for (size_t length : {size_t(20), size_t(21), full.size() / 2, full.size() - 1}) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[length]);
    std::memcpy(block.get(), full.data(), length);
    const BlockDecoding cut = DecodeBlock(block.get(), uint32_t(length));
    EXPECT_EQ(cut.status, DecodeStatus::Damaged) << length;
    EXPECT_EQ(cut.size, data.size());
  }
}

TEST_F(BlockDecoderTest, EmptyBlockDecodesToNoBytes) {
  Bytes block = test_codec::MakeBlock({}, 0, 0x55);
  const BlockDecoding empty = DecodeBlock(block.data(), uint32_t(block.size()));
  ASSERT_NE(empty.bytes, nullptr);
  EXPECT_EQ(empty.size, 0u);
  EXPECT_EQ(heap::LiveCount(), 1);
  PrivateHeapFree(empty.bytes);
}

TEST_F(BlockDecoderTest, HeapLivesExactlyWhileBlocksAreAlive) {
  void* a = PrivateHeapAlloc(100);
  ASSERT_NE(a, nullptr);
  const HANDLE first = heap::Heap();
  EXPECT_NE(first, nullptr);
  void* b = PrivateHeapAlloc(4113);
  EXPECT_EQ(heap::LiveCount(), 2);
  EXPECT_EQ(heap::Heap(), first);
  EXPECT_EQ(static_cast<uint8_t*>(b)[4112], 0);  // zero-filled
  PrivateHeapFree(a);  // either order
  EXPECT_EQ(heap::LiveCount(), 1);
  PrivateHeapFree(nullptr);
  EXPECT_EQ(heap::LiveCount(), 1);
  SetLastError(ERROR_DISK_FULL);
  PrivateHeapFree(b);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
  EXPECT_EQ(heap::Heap(), nullptr);

  // A release while no heap exists changes nothing.
  PrivateHeapFree(a);
  EXPECT_EQ(heap::LiveCount(), 0);

  // A failed first allocation leaves no heap behind.
  heap::FailAllocationAfter(0);
  EXPECT_EQ(PrivateHeapAlloc(10), nullptr);
  EXPECT_EQ(heap::Heap(), nullptr);
  heap::FailAllocationAfter(-1);
  // So does a request that the heap refuses after it was created. Only a
  // 32-bit address space is too small for some 32-bit size; a 64-bit process
  // is given any of them.
  if (sizeof(void*) == 4) {
    EXPECT_EQ(PrivateHeapAlloc(0x7FFFFFF0u), nullptr);
    EXPECT_EQ(heap::Heap(), nullptr);
  }
}
