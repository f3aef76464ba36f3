#include "bundle/block_decoder.h"

#include <cstring>

#include "bundle/format/lzss.h"
#include "common/last_error.h"

namespace {

HANDLE heap = nullptr;
int32_t liveCount = 0;
int32_t failAfter = -1;

class PrivateHeapMemory : public bundle::BlockMemory {
 public:
  void* Allocate(uint32_t size) override { return PrivateHeapAlloc(size); }
  void Release(void* pointer) override { PrivateHeapFree(pointer); }
};

}  // namespace

bool IsCompressedBlock(const void* block) {
  return block != nullptr &&
         std::memcmp(block, bundle::BLOCK_SIGNATURE, bundle::BLOCK_SIGNATURE_LENGTH) == 0;
}

bool IsCompressedBlock(const void* block, uint32_t length) { return bundle::HasBlockSignature(block, length); }

void* DecodeBlock(void* block, uint32_t length, uint32_t* decodedSize) {
  PrivateHeapMemory memory;
  return bundle::DecodeBlock(block, length, decodedSize, memory);
}

bool LzssDecode(void* output, const void* stream, uint32_t streamLength, uint32_t decodedSize) {
  PrivateHeapMemory memory;
  return bundle::LzssDecode(output, stream, streamLength, decodedSize, memory);
}

void* PrivateHeapAlloc(uint32_t size) {
  if (failAfter == 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const bool created = liveCount == 0;
  if (created) {
    heap = HeapCreate(0, 0, 0);
    if (heap == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  void* block = HeapAlloc(heap, HEAP_ZERO_MEMORY, size);
  if (block == nullptr) {
    // No block is alive, so no heap may exist either.
    if (created) {
      HeapDestroy(heap);
      heap = nullptr;
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  ++liveCount;
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
}

namespace private_heap_testing {

int32_t LiveCount() { return liveCount; }
HANDLE Heap() { return heap; }
void FailAllocationAfter(int32_t successes) { failAfter = successes < 0 ? -1 : successes; }

}  // namespace private_heap_testing
