// Compressed blocks of the bundle (layout in bundle/format/lzss.h) and the
// private heap their decoded bytes live in.
//
// Decoded output and the decoder's ring come from one private heap that exists
// exactly while blocks allocated from it are alive: the first allocation
// creates it, the release of the last one destroys it, so each decoded entry's
// memory goes back to the system at once. For one DecodeBlock the live count
// goes 1 (output), 2 (ring), 1 (ring released) and the caller's
// PrivateHeapFree of the output destroys the heap. The heap state is
// process-wide and unlocked: one thread decodes at a time.
#pragma once

#include <windows.h>

#include <cstdint>

// True when the block's first 13 bytes are "compress v1.0" byte for byte.
// Reads up to 13 bytes: a caller whose buffer may be shorter than a block
// header uses the overload with a length instead.
bool IsCompressedBlock(const void* block);
// The same test, false for a block shorter than the 20-byte header (nothing is
// read then) or a null block.
bool IsCompressedBlock(const void* block, uint32_t length);

enum class DecodeStatus {
  Decoded,
  NotBlock,  // null, shorter than a block header, or without the signature
  NoMemory,  // the private heap gave no output or no ring
  Damaged,   // the stream ends before the decoded size is reached
};

struct BlockDecoding {
  DecodeStatus status;
  void* bytes;    // Decoded: the decoded block, released with PrivateHeapFree; else null
  uint32_t size;  // the header's decoded size; 0 for NotBlock
};

// bundle::DecodeBlock and bundle::LzssDecode (bundle/format/lzss.h) with
// the private heap as their memory, telling a failed allocation from a
// damaged block. The block is left as bundle::DecodeBlock leaves it.
BlockDecoding DecodeBlock(void* block, uint32_t length);
DecodeStatus LzssDecode(void* output, const void* stream, uint32_t streamLength, uint32_t decodedSize);

// A zero-filled block of size bytes from the private heap, creating the heap
// when none exists; null when the heap cannot be created or the allocation
// fails (a heap created for it is destroyed again).
void* PrivateHeapAlloc(uint32_t size);
// Releases a block from PrivateHeapAlloc; destroys the heap with the last one.
// Does nothing for null or while no block is alive. Leaves GetLastError() as
// it was.
void PrivateHeapFree(void* pointer);

// For tests.
namespace private_heap_testing {
// Blocks alive in the private heap.
int32_t LiveCount();
// The private heap, or null while none exists.
HANDLE Heap();
// After `successes` more successful allocations, every allocation fails as a
// failed HeapAlloc would, until this is called with a negative value.
void FailAllocationAfter(int32_t successes);
}  // namespace private_heap_testing
