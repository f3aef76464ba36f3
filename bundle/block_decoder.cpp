#include "bundle/block_decoder.h"

#include <cstring>

#include "bundle/format/lzss.h"
#include "ui/last_error.h"

namespace {

HANDLE g_heap = nullptr;
int32_t g_liveCount = 0;
int32_t g_failAfter = -1;

}  // namespace

bool IsCompressedBlock(const void* block) {
  return block != nullptr &&
         std::memcmp(block, bundle::BLOCK_SIGNATURE, bundle::BLOCK_SIGNATURE_LENGTH) == 0;
}

bool IsCompressedBlock(const void* block, uint32_t length) { return bundle::HasBlockSignature(block, length); }

void* DecodeBlock(void* block, uint32_t length, uint32_t* decodedSize) {
  uint32_t size = 0;
  void* output = nullptr;
  if (bundle::HasBlockSignature(block, length)) {
    const bundle::BlockHeader header = bundle::ReadBlockHeader(block);
    size = header.decodedSize;
    output = PrivateHeapAlloc(size);
    if (output != nullptr) {
      // The header is scrambled along with the stream, after its fields were
      // taken: the caller's buffer is spent either way.
      bundle::XorBytes(block, length, header.key);
      const uint8_t* stream = static_cast<const uint8_t*>(block) + bundle::BLOCK_HEADER_SIZE;
      if (!LzssDecode(output, stream, length - bundle::BLOCK_HEADER_SIZE, size)) {
        PrivateHeapFree(output);
        output = nullptr;
      }
    }
  }
  if (decodedSize != nullptr) *decodedSize = size;
  return output;
}

bool LzssDecode(void* output, const void* stream, uint32_t streamLength, uint32_t decodedSize) {
  uint8_t* ring = static_cast<uint8_t*>(PrivateHeapAlloc(bundle::RING_ALLOCATION_SIZE));
  if (ring == nullptr) return false;
  const bundle::LzssResult result = bundle::LzssDecodeStream(
      static_cast<uint8_t*>(output), decodedSize, static_cast<const uint8_t*>(stream), streamLength, ring);
  PrivateHeapFree(ring);
  return result.status == bundle::LzssStatus::Complete;
}

void* PrivateHeapAlloc(uint32_t size) {
  if (g_failAfter == 0) return nullptr;
  const bool created = g_liveCount == 0;
  if (created) {
    g_heap = HeapCreate(0, 0, 0);
    if (g_heap == nullptr) return nullptr;
  }
  void* block = HeapAlloc(g_heap, HEAP_ZERO_MEMORY, size);
  if (block == nullptr) {
    // No block is alive, so no heap may exist either.
    if (created) {
      PreserveLastError keep;
      HeapDestroy(g_heap);
      g_heap = nullptr;
    }
    return nullptr;
  }
  ++g_liveCount;
  if (g_failAfter > 0) --g_failAfter;
  return block;
}

void PrivateHeapFree(void* pointer) {
  if (g_liveCount <= 0 || pointer == nullptr) return;
  PreserveLastError keep;
  if (!HeapFree(g_heap, 0, pointer)) return;
  if (--g_liveCount == 0) {
    HeapDestroy(g_heap);
    g_heap = nullptr;
  }
}

namespace private_heap_testing {

int32_t LiveCount() { return g_liveCount; }
HANDLE Heap() { return g_heap; }
void FailAllocationAfter(int32_t successes) { g_failAfter = successes < 0 ? -1 : successes; }

}  // namespace private_heap_testing
