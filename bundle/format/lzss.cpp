#include "bundle/format/lzss.h"

#include <cstring>

#include "bundle/format/bundle_layout.h"

namespace bundle {

bool HasBlockSignature(const void* block, size_t length) {
  return block != nullptr && length >= BLOCK_HEADER_SIZE &&
         std::memcmp(block, BLOCK_SIGNATURE, BLOCK_SIGNATURE_LENGTH) == 0;
}

BlockHeader ReadBlockHeader(const void* block) {
  const uint8_t* bytes = static_cast<const uint8_t*>(block);
  return BlockHeader{bytes[BLOCK_KEY_OFFSET], LoadLe32(bytes + BLOCK_DECODED_SIZE_OFFSET)};
}

void XorBytes(void* data, size_t length, uint8_t key) {
  uint8_t* bytes = static_cast<uint8_t*>(data);
  for (size_t i = 0; i < length; ++i) bytes[i] ^= key;
}

LzssResult LzssDecodeStream(uint8_t* output, uint32_t decodedSize, const uint8_t* stream,
                            size_t streamLength, uint8_t* ring) {
  std::memset(ring, 0, RING_SIZE);
  size_t in = 0;
  uint32_t out = 0;
  uint32_t r = RING_START;
  unsigned flags = 0;
  while (out < decodedSize) {
    flags >>= 1;
    if ((flags & 0x100) == 0) {
      if (in >= streamLength) break;
      flags = stream[in++] | 0xFF00u;
    }
    if (flags & 1) {
      if (in >= streamLength) break;
      uint8_t c = stream[in++];
      output[out++] = c;
      ring[r] = c;
      r = (r + 1) & RING_MASK;
    } else {
      if (streamLength - in < 2) break;
      uint32_t b1 = stream[in], b2 = stream[in + 1];
      in += 2;
      uint32_t q = b1 | (b2 >> 4) << 8;
      uint32_t m = (b2 & 15) + MIN_MATCH;
      for (uint32_t k = 0; k < m && out < decodedSize; ++k) {
        uint8_t c = ring[(q + k) & RING_MASK];
        output[out++] = c;
        ring[r] = c;
        r = (r + 1) & RING_MASK;
      }
    }
  }
  LzssResult result;
  result.status = out == decodedSize ? LzssStatus::Complete : LzssStatus::Truncated;
  result.produced = out;
  result.consumed = in;
  return result;
}

}  // namespace bundle
