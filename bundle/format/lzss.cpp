#include "bundle/format/lzss.h"

#include <cassert>
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
  // Whole words first: several times faster than bytes on a block of
  // megabytes, and the compiler vectorises it.
  uint64_t wide = 0x0101010101010101ull * key;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t w;
    std::memcpy(&w, bytes + i, 8);
    w ^= wide;
    std::memcpy(bytes + i, &w, 8);
  }
  for (; i < length; ++i) bytes[i] ^= key;
}

// How the decoder works.
//
// Ring position x, read while output byte o is produced, holds the output
// byte produced last at a position j < o with (RING_START + j) mod 4096 == x,
// or zero when there is none. For a reference to position q read at output o
// that byte is output[o - d] with d = (RING_START + o - q) mod 4096, taken as
// 4096 when 0, or zero when o - d < 0; and d stays the same for every byte of
// the reference, because q and o advance together. So once 4096 bytes are
// out, every reference is a plain copy from d bytes back in the output, byte
// by byte when it overlaps itself (d < m).
//
// The decoder therefore runs in three modes over one flag state:
//   1. Ring mode, for the first 4096 output bytes (the whole of a smaller
//      output): the definition itself, through the caller's zero-filled ring,
//      checking every byte of input and output.
//   2. Fast mode, whole groups: entered at a group boundary while at least
//      FAST_INPUT_MARGIN stream bytes and FAST_OUTPUT_MARGIN output bytes are
//      left, so no item of the group needs a check. Every item is a copy of
//      24 bytes as three 8-byte pieces, of which the item keeps its length
//      (the bytes past it are rewritten by what follows): a literal copies
//      from the stream and keeps 1, a reference copies from d bytes back in
//      the output and keeps m. Pieces are exact for d >= 8, because each
//      8-byte source piece then ends before the piece being written starts.
//      For d < 8 the first 8 bytes go one at a time and the rest copy from
//      the smallest whole number of periods d back that is 8 or more, which
//      holds the same bytes. A flag byte of 0xFF (eight literals) moves as
//      one 8-byte copy.
//   3. Checked mode, one item at a time, copying from the output: the ends of
//      the stream and the output, and the items up to the next group boundary.
//
// Why 24 bytes. An item copies a fixed number of 8-byte pieces so that it
// never branches on its length, and three are the fewest that cover the
// longest reference, MAX_MATCH = 18 bytes (two cover 16). So every item
// writes 24 output bytes from where it starts, 24 - MAX_MATCH = 6 past the
// longest reference, and a literal, taking the same road, reads 24 stream
// bytes from where it starts: its own byte and 23 it never keeps.
//
// Short periods. For d < 8 a piece copied from d bytes back would read bytes
// that the same piece is writing. One at a time, each byte's source d back is
// already final, so the first 8 go that way. From the reference's source on,
// the output then repeats with period d, and so with any multiple P of d: for
// j >= 8, byte j equals byte j - P as long as j - P >= -d, which holds for
// the smallest P >= 8 because P < 8 + d. With P >= 8 each 8-byte source piece
// ends before the piece it is copied to begins, so pieces are exact again.
// P is at most 14 (d = 7): the source starts at most 6 bytes before the item.
//
// The margins. Fast mode checks them once per group, at its flag byte, so
// they bound what a whole group can read and write.
//   Stream: the flag byte, then items of at most 2 bytes, so item k (0 to 7)
//   starts at most 1 + 2k bytes in. A reference reads its 2 bytes, a literal
//   the 24 of its piece. The most a group reads is a literal placed last after
//   seven references: 1 + 2 * 7 + 24 = 39 bytes (a flag byte of 0xFF reads
//   9). FAST_INPUT_MARGIN is the group at its longest, 1 + 8 * 2, plus a
//   piece: 41. The 2 bytes over 39 are slack that no item needs: the margin
//   was the longest group while a literal read only its own byte, and the
//   literal's piece was added to the group's end instead of to the last
//   item's start. They were left in place: all they cost is that at most
//   one group per stream (a group is at least 9 bytes) goes through checked
//   mode instead.
//   Output: items of at most MAX_MATCH bytes, so item k starts at most 18k
//   bytes in and writes 24 from there; the last starts at most 126 bytes in,
//   so a group writes at most 7 * 18 + 24 = 150 = 8 * MAX_MATCH +
//   (24 - MAX_MATCH) bytes. That is exact: seven references of 18 and any
//   eighth item write all 150. What a group reads from the output lies
//   inside it: fast mode starts only once 4096 bytes are out, d is at most
//   4096, and a short period reads at most 6 bytes before its item.

namespace {

constexpr size_t FAST_INPUT_MARGIN = 1 + 8 * 2 + 24;
constexpr size_t FAST_OUTPUT_MARGIN = 8 * MAX_MATCH + (24 - MAX_MATCH);

// For a distance d from 1 to 7, the smallest multiple of d that is 8 or more.
constexpr uint8_t PERIOD_OF_AT_LEAST_8[8] = {0, 8, 8, 9, 8, 10, 12, 14};

inline void Copy8(uint8_t* to, const uint8_t* from) {
  uint64_t w;
  std::memcpy(&w, from, 8);
  std::memcpy(to, &w, 8);
}

// The distance back in the output of ring position q read at output position o.
inline size_t Distance(size_t o, uint32_t q) { return ((RING_START + o - q - 1) & RING_MASK) + 1; }

}  // namespace

LzssResult LzssDecodeStream(uint8_t* output, uint32_t decodedSize, const uint8_t* stream,
                            size_t streamLength, uint8_t* ring) {
  std::memset(ring, 0, RING_SIZE);
  const uint8_t* in = stream;
  const uint8_t* const inEnd = stream + streamLength;
  uint8_t* out = output;
  uint8_t* const outEnd = output + decodedSize;
  // The flag byte of the current group with 0xFF00 above it; the ones count
  // the group's items as they shift out. Bit 9 clear: the group is used up.
  unsigned flags = 0;

  // 1. Ring mode.
  uint32_t r = RING_START;
  while (out != outEnd && size_t(out - output) < RING_SIZE) {
    flags >>= 1;
    if ((flags & 0x100) == 0) {
      if (in == inEnd) goto done;
      flags = *in++ | 0xFF00u;
    }
    if (flags & 1) {
      if (in == inEnd) goto done;
      const uint8_t c = *in++;
      *out++ = c;
      ring[r] = c;
      r = (r + 1) & RING_MASK;
    } else {
      if (inEnd - in < 2) goto done;
      const uint32_t q = in[0] | uint32_t(in[1] & 0xF0) << 4;
      const uint32_t m = (in[1] & 15) + MIN_MATCH;
      in += 2;
      for (uint32_t k = 0; k < m; ++k) {
        const uint8_t c = ring[(q + k) & RING_MASK];
        *out++ = c;
        if (out == outEnd) goto done;
        ring[r] = c;
        r = (r + 1) & RING_MASK;
      }
    }
  }

  while (out != outEnd) {
    // 2. Fast mode.
    if ((flags & 0x200) == 0) {
      const uint8_t* fastIn = in;
      uint8_t* fastOut = out;
      while (size_t(inEnd - fastIn) >= FAST_INPUT_MARGIN && size_t(outEnd - fastOut) >= FAST_OUTPUT_MARGIN) {
        unsigned f = *fastIn++;
        if (f == 0xFF) {
          Copy8(fastOut, fastIn);
          fastIn += 8;
          fastOut += 8;
          continue;
        }
        for (int k = 0; k < 8; ++k, f >>= 1) {
          // What the group's entry check left: room for this item's 24-byte
          // stores and its two stream bytes, however the items before it went.
          assert(size_t(outEnd - fastOut) >= 24 && size_t(inEnd - fastIn) >= 2);
          // Literal and reference take the same road, without a branch on
          // the flag bit, which text makes unpredictable. The choices are
          // made with masks: compilers turn conditional expressions back
          // into a branch. For a literal, d and the reference's source are
          // computed from bytes that are no reference, and not used.
          const size_t literal = f & 1;
          const size_t all = size_t(0) - literal;  // all ones for a literal
          const uint32_t q = fastIn[0] | uint32_t(fastIn[1] & 0xF0) << 4;
          const size_t d = Distance(size_t(fastOut - output), q) | (all & 8);
          const size_t m = (((fastIn[1] & 15) + MIN_MATCH) & ~all) | literal;
          const uintptr_t back = reinterpret_cast<uintptr_t>(fastOut) - d;
          const uint8_t* from =
              reinterpret_cast<const uint8_t*>((reinterpret_cast<uintptr_t>(fastIn) & all) | (back & ~all));
          if (d >= 8) {
            Copy8(fastOut, from);
            Copy8(fastOut + 8, from + 8);
            Copy8(fastOut + 16, from + 16);
          } else {
            // A short period d: its first 8 bytes one at a time, then the
            // pattern from a whole number of periods back, at least 8.
            for (size_t j = 0; j < 8; ++j) fastOut[j] = from[j];
            const size_t period = PERIOD_OF_AT_LEAST_8[d];
            Copy8(fastOut + 8, fastOut + 8 - period);
            Copy8(fastOut + 16, fastOut + 16 - period);
          }
          fastOut += m;
          fastIn += 2 - literal;
        }
      }
      in = fastIn;
      out = fastOut;
      if (out == outEnd) break;
    }

    // 3. Checked mode: one item.
    flags >>= 1;
    if ((flags & 0x100) == 0) {
      if (in == inEnd) goto done;
      flags = *in++ | 0xFF00u;
    }
    if (flags & 1) {
      if (in == inEnd) goto done;
      *out++ = *in++;
    } else {
      if (inEnd - in < 2) goto done;
      const uint32_t q = in[0] | uint32_t(in[1] & 0xF0) << 4;
      size_t m = (in[1] & 15) + MIN_MATCH;
      in += 2;
      const uint8_t* from = out - Distance(size_t(out - output), q);
      if (m > size_t(outEnd - out)) m = size_t(outEnd - out);
      for (size_t j = 0; j < m; ++j) out[j] = from[j];
      out += m;
    }
  }

done:
  LzssResult result;
  result.produced = size_t(out - output);
  result.status = out == outEnd ? LzssStatus::Complete : LzssStatus::Truncated;
  result.consumed = size_t(in - stream);
  return result;
}

// Variants of fast mode that were measured, each slower than the kernel above
// on at least one kind of data and faster on none. Figures are decoded bytes
// per second relative to the kernel, for text / code / mixed data:
// decoder_bench's inputs (8 MiB each, greedy-encoded) with every variant a
// copy of this function in its own file beside the kernel; median of five
// runs, each the best of five interleaved repetitions; x86-64 host build
// (gcc 12, -O2) on 2 cores of an AMD EPYC shared with other work. The
// launcher's i686 build was not measured. An unchanged copy measured 1.01 /
// 1.00 / 0.99 (single runs 0.98 to 1.04), so a gap of a few hundredths says
// little.
//   - A branch on the flag bit, a literal as one byte and short periods byte
//     by byte (the kernel's earlier form): 0.56 / 0.57 / 0.58.
//   - The same branch with the short-period rule: 0.60 / 0.62 / 0.75. Text
//     and code are about half literals, in an order the predictor misses.
//   - The masks, but short periods byte by byte: 1.00 / 0.93 / 0.75. A fifth
//     of mixed data's references have d < 8, 6% of code's, 0.5% of text's.
//   - Two 8-byte pieces and a byte loop for bytes 16 and 17: 0.91 / 0.88 /
//     0.87.
//   - memcpy of the exact length, a byte loop where d < m: 0.28 / 0.39 /
//     0.43. The length varies, so every item calls the library's memcpy.
//   - A literal as one 8-byte piece, the other two pieces only for m > 8:
//     0.77 / 0.94 / 0.95.
//   - No path for a flag byte of 0xFF: 1.00 / 0.99 / 0.54. Two groups in
//     three of mixed data are eight literals.
//   - The margins checked before each item (25 stream bytes, 24 output bytes,
//     the 0xFF path kept) instead of each group: 0.93 / 0.93 / 0.97.

void* DecodeBlock(void* block, uint32_t length, uint32_t* decodedSize, BlockMemory& memory) {
  uint32_t size = 0;
  void* output = nullptr;
  if (HasBlockSignature(block, length)) {
    const BlockHeader header = ReadBlockHeader(block);
    size = header.decodedSize;
    output = memory.Allocate(size);
    if (output != nullptr) {
      // The header is scrambled along with the stream, after its fields were
      // taken: the caller's buffer is spent either way.
      XorBytes(block, length, header.key);
      const uint8_t* stream = static_cast<const uint8_t*>(block) + BLOCK_HEADER_SIZE;
      if (!LzssDecode(output, stream, length - BLOCK_HEADER_SIZE, size, memory)) {
        memory.Release(output);
        output = nullptr;
      }
    }
  }
  if (decodedSize != nullptr) *decodedSize = size;
  return output;
}

bool LzssDecode(void* output, const void* stream, uint32_t streamLength, uint32_t decodedSize,
                BlockMemory& memory) {
  uint8_t* ring = static_cast<uint8_t*>(memory.Allocate(RING_ALLOCATION_SIZE));
  if (ring == nullptr) return false;
  const LzssResult result = LzssDecodeStream(static_cast<uint8_t*>(output), decodedSize,
                                             static_cast<const uint8_t*>(stream), streamLength, ring);
  memory.Release(ring);
  return result.status == LzssStatus::Complete;
}

}  // namespace bundle
