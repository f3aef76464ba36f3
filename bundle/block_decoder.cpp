#include "bundle/block_decoder.h"

#include <cassert>
#include <cstring>

#include "bundle/format/lzss.h"
#include "common/last_error.h"

namespace {

HANDLE heap = nullptr;
int32_t liveCount = 0;
int32_t failAfter = -1;

// Remembers a refused allocation: the one way a decode fails other than on
// the block itself.
class PrivateHeapMemory : public bundle::BlockMemory {
 public:
  void* Allocate(uint32_t size) override {
    void* block = PrivateHeapAlloc(size);
    if (block == nullptr) refused = true;
    return block;
  }
  void Release(void* pointer) override { PrivateHeapFree(pointer); }

  bool refused = false;
};

// The heap exists exactly while blocks allocated from it are alive.
[[maybe_unused]] bool HeapMatchesLiveCount() { return liveCount >= 0 && (heap != nullptr) == (liveCount > 0); }

}  // namespace

bool IsCompressedBlock(const void* block) {
  return block != nullptr &&
         std::memcmp(block, bundle::BLOCK_SIGNATURE, bundle::BLOCK_SIGNATURE_LENGTH) == 0;
}

bool IsCompressedBlock(const void* block, uint32_t length) { return bundle::HasBlockSignature(block, length); }

BlockDecoding DecodeBlock(void* block, uint32_t length) {
  if (!IsCompressedBlock(block, length)) return {DecodeStatus::NotBlock, nullptr, 0};
  PrivateHeapMemory memory;
  uint32_t size = 0;
  void* decoded = bundle::DecodeBlock(block, length, &size, memory);
  if (decoded != nullptr) return {DecodeStatus::Decoded, decoded, size};
  return {memory.refused ? DecodeStatus::NoMemory : DecodeStatus::Damaged, nullptr, size};
}

DecodeStatus LzssDecode(void* output, const void* stream, uint32_t streamLength, uint32_t decodedSize) {
  PrivateHeapMemory memory;
  if (bundle::LzssDecode(output, stream, streamLength, decodedSize, memory)) return DecodeStatus::Decoded;
  return memory.refused ? DecodeStatus::NoMemory : DecodeStatus::Damaged;
}

void* PrivateHeapAlloc(uint32_t size) {
  assert(HeapMatchesLiveCount());
  if (failAfter == 0) return nullptr;
  const bool created = liveCount == 0;
  if (created) {
    heap = HeapCreate(0, 0, 0);
    if (heap == nullptr) return nullptr;
  }
  void* block = HeapAlloc(heap, HEAP_ZERO_MEMORY, size);
  if (block == nullptr) {
    // No block is alive, so no heap may exist either.
    if (created) {
      HeapDestroy(heap);
      heap = nullptr;
    }
    return nullptr;
  }
  ++liveCount;
  assert(HeapMatchesLiveCount());
  if (failAfter > 0) --failAfter;
  return block;
}

void PrivateHeapFree(void* pointer) {
  if (liveCount <= 0 || pointer == nullptr) return;
  PreserveLastError keep;
  if (!HeapFree(heap, 0, pointer)) return;
  if (--liveCount == 0) {
    HeapDestroy(heap);
    heap = nullptr;
  }
  assert(HeapMatchesLiveCount());
}

namespace private_heap_testing {

int32_t LiveCount() { return liveCount; }
HANDLE Heap() { return heap; }
void FailAllocationAfter(int32_t successes) { failAfter = successes < 0 ? -1 : successes; }

}  // namespace private_heap_testing
