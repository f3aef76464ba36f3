// Compressed blocks: a 20-byte header and an LZSS stream, every stream byte
// XORed with a key from the header.
//
//   offset  0  13 bytes  signature "compress v1.0", no NUL
//          13   2 bytes  zero, not examined
//          15   1 byte   key
//          16   4 bytes  decoded size D, unsigned little-endian
//          20   rest     the LZSS stream, XORed with the key
//
// The stream is a sequence of groups: a flag byte, then up to eight items,
// flag bits used from the least significant upward. Bit 1: a literal byte.
// Bit 0: two bytes b1, b2 naming the absolute ring position
// b1 + 256 * (b2 >> 4) and the length (b2 & 15) + 3. The ring holds 4096
// bytes, all zero at the start; the write position starts at 4078; every
// output byte is stored there and the position advances modulo 4096. A
// reference copies byte by byte, so one that overlaps the write position
// repeats what it has just produced. There is no end code: decoding stops the
// moment D bytes are out, even inside a reference.
//
// No Windows calls; the launcher's decoder, the host tools, the tests and the
// fuzzers all run this code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bundle {

constexpr char BLOCK_SIGNATURE[] = "compress v1.0";
constexpr uint32_t BLOCK_SIGNATURE_LENGTH = 13;
constexpr uint32_t BLOCK_KEY_OFFSET = 15;
constexpr uint32_t BLOCK_DECODED_SIZE_OFFSET = 16;
constexpr uint32_t BLOCK_HEADER_SIZE = 20;

constexpr uint32_t RING_SIZE = 4096;
constexpr uint32_t RING_MASK = RING_SIZE - 1;
constexpr uint32_t RING_START = 4078;
constexpr uint32_t MIN_MATCH = 3;
constexpr uint32_t MAX_MATCH = 18;
// The launcher allocates its ring with 17 spare bytes that are never addressed.
constexpr uint32_t RING_ALLOCATION_SIZE = RING_SIZE + MAX_MATCH - 1;

// True when block holds at least a whole header (length >= 20) and its first
// 13 bytes are the signature, byte for byte (so case-sensitive; a NUL among
// them fails). Reads nothing when length is short.
bool HasBlockSignature(const void* block, size_t length);

struct BlockHeader {
  uint8_t key;
  uint32_t decodedSize;
};
// The key and D of a block for which HasBlockSignature is true.
BlockHeader ReadBlockHeader(const void* block);

// The most bytes a stream of streamLength bytes can decode to: a flag byte
// and eight references of 18 bytes, 17 stream bytes, give 144. A block whose
// decoded size is larger is damaged, whatever its stream holds.
inline uint64_t MaxDecodedSize(uint64_t streamLength) { return (streamLength + 16) / 17 * 144; }

// XORs length bytes in place with key.
void XorBytes(void* data, size_t length, uint8_t key);

enum class LzssStatus {
  Complete,   // exactly decodedSize bytes were produced
  Truncated,  // the stream ended first; produced < decodedSize
};

struct LzssResult {
  LzssStatus status;
  size_t produced;  // output bytes written, at most decodedSize
  size_t consumed;  // stream bytes read; less than streamLength means the
                    // stream carries bytes that decoding never reached
};

// Decodes an unscrambled stream of streamLength bytes into output, which holds
// decodedSize bytes. ring is RING_SIZE bytes of working memory that the caller
// owns; the decoder zero-fills it itself. Reads no stream byte at or past
// streamLength and writes no output byte at or past decodedSize; D = 0 reads
// and writes nothing. The first `produced` output bytes are exact to the
// byte-by-byte definition above for every input, however damaged; when the
// stream ends early the bytes after them may hold anything.
LzssResult LzssDecodeStream(uint8_t* output, uint32_t decodedSize, const uint8_t* stream,
                            size_t streamLength, uint8_t* ring);

// Where a decoded block and the decoder's ring live: the launcher's private
// heap (bundle/block_decoder.h), a plain heap in host code and fuzzers.
class BlockMemory {
 public:
  virtual ~BlockMemory() = default;
  // size zero-filled bytes, or null when they cannot be had.
  virtual void* Allocate(uint32_t size) = 0;
  // Releases what Allocate gave; nothing for null.
  virtual void Release(void* pointer) = 0;
};

// Decodes the block of length bytes into a new buffer of the decoded size D
// from memory, which the caller releases there. On success the block is left
// XORed with its key, header included: the caller's buffer is spent. Returns
// null when:
//   - the block is null, shorter than its header or lacks the signature:
//     decodedSize receives 0 and the block is untouched;
//   - the output cannot be allocated: decodedSize receives D, block untouched;
//   - the ring cannot be allocated, or the stream ends before D bytes are
//     decoded (a damaged block): decodedSize receives D, the block is XORed.
// D = 0 decodes to an empty (non-null) buffer. Stream bytes left over after D
// bytes are ignored. The output is allocated before the ring and released
// after it, so the two are alive together only while decoding.
void* DecodeBlock(void* block, uint32_t length, uint32_t* decodedSize, BlockMemory& memory);

// Decodes an unscrambled stream of streamLength bytes into the decodedSize
// bytes at output, with a ring of RING_ALLOCATION_SIZE bytes taken from
// memory and released before it returns. True when exactly decodedSize bytes
// were produced; false when the ring cannot be allocated (nothing is
// written) or the stream ends first (what was decoded stays in output).
// Never reads past streamLength.
bool LzssDecode(void* output, const void* stream, uint32_t streamLength, uint32_t decodedSize,
                BlockMemory& memory);

}  // namespace bundle
