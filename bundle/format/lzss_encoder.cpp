#include "bundle/format/lzss_encoder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/lzss.h"

namespace bundle {

namespace {

// Distances run from 1 to WINDOW; the trees and chains keep one node per
// position of [pos - WINDOW, pos] in CYCLE slots (a power of two, so that a
// slot is a mask away).
constexpr uint32_t WINDOW = RING_SIZE;
constexpr uint32_t CYCLE = 2 * WINDOW;
static_assert(CYCLE > WINDOW && (CYCLE & (CYCLE - 1)) == 0, "slots of the window's positions stay apart");
constexpr uint32_t NIL = 0xFFFFFFFFu;
constexpr int HASH_BITS = 16;
constexpr size_t PROGRESS_STEP = size_t(1) << 20;

// Bytes after the data that comparisons eight at a time may read: a compare
// that starts within the data runs on to MAX_MATCH and reads whole words.
constexpr size_t SLACK = MAX_MATCH + 8;

// The data behind WINDOW zero bytes, so that references into the ring's
// initial zeros are plain matches, and SLACK zeros after it. Buffer positions
// are data positions plus WINDOW; the data ends at WINDOW + size.
std::vector<uint8_t> PadInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> padded(WINDOW + size + SLACK, 0);
  if (size > 0) std::copy(data, data + size, padded.begin() + WINDOW);
  return padded;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "word compares take the first difference from the low end");

// Length of the common prefix of a and b, from known up to at most MAX_MATCH.
// Reads up to MAX_MATCH + 7 bytes at each.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t known) {
  uint32_t length = known;
  while (length < MAX_MATCH) {
    uint64_t x, y;
    std::memcpy(&x, a + length, 8);
    std::memcpy(&y, b + length, 8);
    const uint64_t difference = x ^ y;
    if (difference != 0) {
      length += uint32_t(__builtin_ctzll(difference)) / 8;  // little-endian: first differing byte
      break;
    }
    length += 8;
  }
  return std::min(length, MAX_MATCH);
}

inline uint32_t Hash3(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
  return (v * 2654435761u) >> (32 - HASH_BITS);
}

// The zero positions worth matching against: the ring's first write position
// and after. Every earlier zero position starts the same MAX_MATCH bytes as
// the one at RING_START and leaves the window earlier, so it never matches
// better.
constexpr uint32_t FIRST_ZERO_NODE = RING_START;

// Hash of the first keyLength bytes at p (at most 8; reads 8).
inline uint32_t HashPrefix(const uint8_t* p, uint32_t keyLength) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  v &= ~uint64_t(0) >> (64 - 8 * keyLength);
  return uint32_t((v * 0x9E3779B97F4A7C15ull) >> (64 - HASH_BITS));
}

// Binary trees over the window, one per hash bucket of the first TREE_KEY
// bytes, ordered by the MAX_MATCH bytes that start at each position. Each
// insertion makes the new position the root and splits the old tree beneath
// it, so every node is newer than all of its descendants: the first node found
// outside the window cuts off its whole subtree. The search path of an
// insertion passes the new string's neighbours in sorted order, which hold the
// longest match, so a match of TREE_KEY bytes or more is found exactly.
// Shorter matches come from hash chains of the first 3 .. TREE_KEY - 1 bytes,
// newest position first: when the trees have none of TREE_KEY bytes, the
// first position in the chain of k bytes whose bytes agree is a match of
// exactly k. Longer keys make smaller trees: six bytes measured about half
// again as fast as three or four on text and code (seven and eight, no
// clearly better; each chain costs a little at every position).
class TreeMatcher {
 public:
  explicit TreeMatcher(const uint8_t* buffer) : buffer(buffer), son(2 * CYCLE, NIL) {
    for (uint32_t k = MIN_MATCH; k <= TREE_KEY; ++k) head[k].assign(size_t(1) << HASH_BITS, NIL);
    for (uint32_t k = MIN_MATCH; k < TREE_KEY; ++k) prev[k].assign(CYCLE, NIL);
  }

  // Inserts pos, whose MAX_MATCH bytes must all lie in the buffer, and returns
  // the longest match of those bytes within the window (length 0 when shorter
  // than MIN_MATCH).
  LzssMatch Insert(uint32_t pos) {
    const uint8_t* current = buffer + pos;
    const uint32_t slot = pos & (CYCLE - 1);
    uint32_t bestLength = 0, bestDistance = 0;

    uint32_t shorter[TREE_KEY];  // newest position of each chain, before pos
    for (uint32_t k = MIN_MATCH; k < TREE_KEY; ++k) {
      const uint32_t h = HashPrefix(current, k);
      shorter[k] = head[k][h];
      prev[k][slot] = shorter[k];
      head[k][h] = pos;
    }

    const uint32_t h = HashPrefix(current, TREE_KEY);
    uint32_t candidate = head[TREE_KEY][h];
    head[TREE_KEY][h] = pos;
    uint32_t* lessLink = &son[2 * slot];         // gets the next smaller node
    uint32_t* greaterLink = &son[2 * slot + 1];  // gets the next greater node
    uint32_t lessLength = 0, greaterLength = 0;
    for (;;) {
      if (candidate == NIL || pos - candidate > WINDOW) {
        *lessLink = *greaterLink = NIL;
        break;
      }
      uint32_t* pair = &son[2 * (candidate & (CYCLE - 1))];
      const uint8_t* other = buffer + candidate;
      // Every node below the links shares at least the smaller of the two
      // prefix lengths with the new string.
      const uint32_t length = CommonLength(other, current, std::min(lessLength, greaterLength));
      if (length > bestLength) {
        bestLength = length;
        bestDistance = pos - candidate;
        if (length == MAX_MATCH) {
          // Same key: the new node takes the old one's place and subtrees.
          *lessLink = pair[0];
          *greaterLink = pair[1];
          break;
        }
      }
      if (other[length] < current[length]) {
        *lessLink = candidate;
        lessLink = &pair[1];
        candidate = pair[1];
        lessLength = length;
      } else {
        *greaterLink = candidate;
        greaterLink = &pair[0];
        candidate = pair[0];
        greaterLength = length;
      }
    }

    for (uint32_t k = TREE_KEY - 1; bestLength < k && k >= MIN_MATCH; --k) {
      for (uint32_t c = shorter[k]; c != NIL && pos - c <= WINDOW; c = prev[k][c & (CYCLE - 1)]) {
        if (std::memcmp(buffer + c, current, k) == 0) {
          bestLength = k;
          bestDistance = pos - c;
          break;
        }
      }
    }
    LzssMatch match;
    match.length = uint8_t(bestLength >= MIN_MATCH ? bestLength : 0);
    match.distance = uint16_t(bestLength >= MIN_MATCH ? bestDistance : 0);
    return match;
  }

 private:
  static constexpr uint32_t TREE_KEY = 6;
  const uint8_t* buffer;
  std::vector<uint32_t> son;
  std::vector<uint32_t> head[TREE_KEY + 1];
  std::vector<uint32_t> prev[TREE_KEY];
};

// The longest match at buffer position pos by trying every distance, for the
// last positions, whose MAX_MATCH bytes run past the end. Distances beyond
// pos - WINDOW + MAX_MATCH all start inside the zeros, so the smallest of them
// stands for all.
LzssMatch SearchAll(const uint8_t* buffer, uint32_t pos, uint32_t end) {
  const uint32_t cap = std::min<uint32_t>(MAX_MATCH, end - pos);
  const uint32_t farthest = std::min<uint32_t>(WINDOW, pos - WINDOW + MAX_MATCH);
  uint32_t bestLength = 0, bestDistance = 0;
  for (uint32_t d = 1; d <= farthest && bestLength < cap; ++d) {
    const uint8_t* other = buffer + pos - d;
    uint32_t length = 0;
    while (length < cap && other[length] == buffer[pos + length]) ++length;
    if (length > bestLength) {
      bestLength = length;
      bestDistance = d;
    }
  }
  // Shorter than MIN_MATCH counts only when it reaches the end: a reference
  // may run past the decoded size, since decoding stops there.
  const bool usable = bestLength >= MIN_MATCH || (bestLength > 0 && bestLength == end - pos);
  LzssMatch match;
  match.length = uint8_t(usable ? bestLength : 0);
  match.distance = uint16_t(usable ? bestDistance : 0);
  return match;
}

std::vector<LzssMatch> LongestMatches(const std::vector<uint8_t>& padded, size_t size,
                                      const LzssProgress& progress) {
  std::vector<LzssMatch> matches(size);
  const uint32_t end = uint32_t(WINDOW + size);
  size_t treeCount = 0;  // positions searched by the trees; the rest by SearchAll
  if (size >= MAX_MATCH) {
    treeCount = size - MAX_MATCH + 1;
    TreeMatcher trees(padded.data());
    for (uint32_t pos = FIRST_ZERO_NODE; pos < WINDOW; ++pos) trees.Insert(pos);
    size_t nextReport = PROGRESS_STEP;
    for (size_t i = 0; i < treeCount; ++i) {
      matches[i] = trees.Insert(uint32_t(WINDOW + i));
      if (progress && i >= nextReport) {
        progress(i, size);
        nextReport += PROGRESS_STEP;
      }
    }
  }
  for (size_t i = treeCount; i < size; ++i) matches[i] = SearchAll(padded.data(), uint32_t(WINDOW + i), end);
  return matches;
}

// Shortest path over positions, from the end backwards: cost[i] is the fewest
// bits that encode data[i..size). Only cost[i + 1 .. i + MAX_MATCH] is needed
// at each step, so a ring of them suffices. On a tie the longer step wins
// (fewer items, same size).
std::vector<LzssItem> OptimalParse(const std::vector<LzssMatch>& matches) {
  const size_t size = matches.size();
  constexpr uint32_t SPAN = 32;  // a power of two above MAX_MATCH
  static_assert(SPAN > MAX_MATCH, "the ring holds every cost a step can reach");
  uint64_t cost[SPAN] = {};
  std::vector<uint8_t> step(size);  // 0: literal, else the reference length
  for (size_t i = size; i-- > 0;) {
    const uint32_t longest = matches[i].length;
    uint64_t best = 9 + cost[(i + 1) & (SPAN - 1)];
    uint8_t choice = 0;
    if (longest > 0) {
      const uint32_t shortest = std::min<uint32_t>(MIN_MATCH, longest);
      for (uint32_t length = longest; length >= shortest; --length) {
        const uint64_t c = 17 + cost[(i + length) & (SPAN - 1)];
        if (c < best || (c == best && choice == 0)) {
          best = c;
          choice = uint8_t(length);
        }
      }
    }
    cost[i & (SPAN - 1)] = best;
    step[i] = choice;
  }
  std::vector<LzssItem> items;
  for (size_t i = 0; i < size;) {
    LzssItem item;
    item.length = step[i];
    item.distance = step[i] ? matches[i].distance : 0;
    items.push_back(item);
    i += step[i] ? step[i] : 1;
  }
  return items;
}

// Hash chains of bounded depth over the window.
class ChainMatcher {
 public:
  ChainMatcher(const uint8_t* buffer, uint32_t end)
      : buffer(buffer), end(end), head(size_t(1) << HASH_BITS, NIL), prev(CYCLE, NIL) {}

  void Insert(uint32_t pos) {
    if (end - pos < 3) return;
    const uint32_t h = Hash3(buffer + pos);
    prev[pos & (CYCLE - 1)] = head[h];
    head[h] = pos;
  }

  // Searches before inserting pos; a match shorter than MIN_MATCH is none.
  LzssMatch FindAndInsert(uint32_t pos) {
    LzssMatch match{0, 0};
    if (end - pos < 3) return match;
    const uint32_t cap = std::min<uint32_t>(MAX_MATCH, end - pos);
    const uint8_t* current = buffer + pos;
    const uint32_t h = Hash3(current);
    uint32_t candidate = head[h];
    prev[pos & (CYCLE - 1)] = candidate;
    head[h] = pos;
    uint32_t bestLength = MIN_MATCH - 1;
    for (int depth = CHAIN_DEPTH; depth > 0 && candidate != NIL && pos - candidate <= WINDOW; --depth) {
      const uint8_t* other = buffer + candidate;
      if (other[bestLength] == current[bestLength]) {
        const uint32_t length = std::min(CommonLength(other, current, 0), cap);
        if (length > bestLength) {
          bestLength = length;
          match.length = uint8_t(length);
          match.distance = uint16_t(pos - candidate);
          if (length == cap) break;
        }
      }
      candidate = prev[candidate & (CYCLE - 1)];
    }
    return match;
  }

 private:
  static constexpr int CHAIN_DEPTH = 8;
  const uint8_t* buffer;
  uint32_t end;
  std::vector<uint32_t> head;
  std::vector<uint32_t> prev;
};

// Greedy with one step of lookahead: a match is deferred by a literal when the
// next position starts a longer one.
std::vector<LzssItem> FastParse(const std::vector<uint8_t>& padded, size_t size,
                                const LzssProgress& progress) {
  const uint32_t end = uint32_t(WINDOW + size);
  ChainMatcher chains(padded.data(), end);
  for (uint32_t pos = FIRST_ZERO_NODE; pos < WINDOW; ++pos) chains.Insert(pos);
  std::vector<LzssItem> items;
  items.reserve(size / 4 + 16);
  size_t nextReport = PROGRESS_STEP;
  size_t i = 0;
  LzssMatch match = size > 0 ? chains.FindAndInsert(WINDOW) : LzssMatch{0, 0};
  while (i < size) {
    if (match.length == 0) {
      items.push_back(LzssItem{0, 0});
      ++i;
      if (i < size) match = chains.FindAndInsert(uint32_t(WINDOW + i));
    } else {
      if (match.length < MAX_MATCH && i + 1 < size) {
        const LzssMatch next = chains.FindAndInsert(uint32_t(WINDOW + i + 1));
        if (next.length > match.length) {
          items.push_back(LzssItem{0, 0});
          ++i;
          match = next;
          continue;
        }
        for (size_t k = i + 2; k < i + match.length; ++k) chains.Insert(uint32_t(WINDOW + k));
      } else {
        for (size_t k = i + 1; k < i + match.length; ++k) chains.Insert(uint32_t(WINDOW + k));
      }
      items.push_back(LzssItem{match.length, match.distance});
      i += match.length;
      if (i < size) match = chains.FindAndInsert(uint32_t(WINDOW + i));
    }
    if (progress && i >= nextReport) {
      progress(i, size);
      nextReport += PROGRESS_STEP;
    }
  }
  return items;
}

}  // namespace

std::vector<LzssMatch> FindLongestMatches(const uint8_t* data, size_t size) {
  return LongestMatches(PadInput(data, size), size, nullptr);
}

std::vector<uint8_t> WriteLzssStream(const uint8_t* data, size_t size,
                                     const std::vector<LzssItem>& items) {
  std::vector<uint8_t> stream;
  stream.reserve(items.size() * 2 + items.size() / 8 + 1);
  size_t flagAt = 0;
  unsigned bit = 8;
  size_t i = 0;
  for (const LzssItem& item : items) {
    if (i >= size) throw std::invalid_argument("parse describes more bytes than the data holds");
    if (bit == 8) {
      flagAt = stream.size();
      stream.push_back(0);
      bit = 0;
    }
    if (item.length == 0) {
      stream[flagAt] |= uint8_t(1u << bit);
      stream.push_back(data[i]);
      ++i;
    } else {
      if (item.length > MAX_MATCH || item.distance < 1 || item.distance > WINDOW ||
          (item.length < MIN_MATCH && i + item.length != size) || item.length > size - i) {
        throw std::invalid_argument("reference out of range");
      }
      const uint32_t position = uint32_t(RING_START + i - item.distance) & RING_MASK;
      const uint32_t lengthCode = item.length < MIN_MATCH ? 0 : item.length - MIN_MATCH;
      stream.push_back(uint8_t(position));
      stream.push_back(uint8_t((position >> 8) << 4 | lengthCode));
      i += item.length;
    }
    ++bit;
  }
  if (i != size) throw std::invalid_argument("parse does not cover the data");
  return stream;
}

std::vector<uint8_t> LzssEncode(const uint8_t* data, size_t size, LzssLevel level,
                                const LzssProgress& progress) {
  const std::vector<uint8_t> padded = PadInput(data, size);
  std::vector<LzssItem> items = level == LzssLevel::Optimal
                                    ? OptimalParse(LongestMatches(padded, size, progress))
                                    : FastParse(padded, size, progress);
  if (progress) progress(size, size);
  return WriteLzssStream(data, size, items);
}

std::vector<uint8_t> BuildCompressedBlock(const uint8_t* data, size_t size, uint8_t key,
                                          LzssLevel level, const LzssProgress& progress) {
  if ((uint64_t(size) >> 32) != 0) throw std::invalid_argument("block data of 4 GiB or more");
  const std::vector<uint8_t> stream = LzssEncode(data, size, level, progress);
  std::vector<uint8_t> block(BLOCK_HEADER_SIZE + stream.size(), 0);
  std::copy(BLOCK_SIGNATURE, BLOCK_SIGNATURE + BLOCK_SIGNATURE_LENGTH, block.begin());
  block[BLOCK_KEY_OFFSET] = key;
  StoreLe32(&block[BLOCK_DECODED_SIZE_OFFSET], uint32_t(size));
  for (size_t k = 0; k < stream.size(); ++k) block[BLOCK_HEADER_SIZE + k] = stream[k] ^ key;
  return block;
}

}  // namespace bundle
