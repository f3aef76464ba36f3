// The encoder of LZSS streams and compressed blocks (layout in lzss.h).
//
// What the decoder does, restated as the encoder models it: the ring is a
// window over the output that is preceded by 4096 zero bytes. Ring position q
// read while output byte i is produced holds output byte i - d, where
// d = (RING_START + i - q) mod 4096, or 4096 when that is 0 (q is the write
// position itself, read before it is overwritten); an index below zero is one
// of the zero bytes. Since the distance d stays the same for every byte of a
// reference, a reference is exactly an LZ77 copy at a distance of 1 to 4096
// over "4096 zeros, then the data", overlapping copies included. The encoder
// matches over that buffer and turns each distance back into the absolute ring
// position the stream stores.
//
// Costs: a literal takes 9 bits (8 and its flag bit), a reference 17, so a
// stream of L literals and R references takes ceil((9L + 17R) / 8) bytes: the
// fewest bits give the fewest bytes. The optimal level finds the longest match
// at every position exactly (binary trees over the window, no depth limit)
// and takes the shortest path over positions; since the cost of a reference
// depends neither on its length nor on its distance, the longest match at each
// position is all the path needs. It also uses that decoding stops at D: a
// last reference may run past the end, so the final two bytes can be one
// reference (17 bits) instead of two literals (18).
//
// The fast level is greedy with one step of lookahead over hash chains of
// bounded depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace bundle {

enum class LzssLevel {
  Optimal,  // the shortest stream this format allows
  Fast,     // greedy, several times faster, a few percent larger
};

// Called now and then with the number of input bytes dealt with so far and the
// total; the last call reports done == total.
using LzssProgress = std::function<void(size_t done, size_t total)>;

// The raw (unscrambled) stream that decodes to size bytes of data.
std::vector<uint8_t> LzssEncode(const uint8_t* data, size_t size, LzssLevel level,
                                const LzssProgress& progress = nullptr);

// The key a block is scrambled with unless the caller picks another.
constexpr uint8_t DEFAULT_BLOCK_KEY = 0xA5;

// A whole compressed block: signature, two zero bytes, key, D, and the stream
// XORed with the key. size must be below 4 GiB.
std::vector<uint8_t> BuildCompressedBlock(const uint8_t* data, size_t size, uint8_t key,
                                          LzssLevel level, const LzssProgress& progress = nullptr);

// ---- For comparisons (the benchmark, the tests).

// The longest match at one position: length in [0, 18] (0 when there is none of
// MIN_MATCH bytes; near the end of the data it may be 1 or 2 when the match
// reaches the end exactly) and its distance in [1, 4096].
struct LzssMatch {
  uint8_t length;
  uint16_t distance;
};

// The longest match at every position of data, as the optimal level sees it.
std::vector<LzssMatch> FindLongestMatches(const uint8_t* data, size_t size);

// One step of a parse: a literal (length 0) or a reference of length bytes (at
// most the bytes left) at the given distance.
struct LzssItem {
  uint8_t length;
  uint16_t distance;
};

// Writes the stream for a parse of size bytes of data, which must describe
// every byte exactly once. Used by the encoder itself and by comparisons.
std::vector<uint8_t> WriteLzssStream(const uint8_t* data, size_t size,
                                     const std::vector<LzssItem>& items);

// The stream size in bytes of a parse of literals and references.
inline size_t LzssStreamSize(size_t literals, size_t references) {
  return (9 * literals + 17 * references + 7) / 8;
}

}  // namespace bundle
