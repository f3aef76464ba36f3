// Test and benchmark support for compressed blocks and bundles: a plain
// byte-by-byte ring decoder written straight from the format's definition (the
// yardstick the real decoder is compared with), a small greedy encoder to make
// realistic streams, block and bundle builders, and generators of text,
// executable-like and mixed data. Header-only; no Windows calls.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/lzss.h"

namespace test_codec {

// The format's decoder as defined, one byte at a time through a zero-filled
// ring, stopping at D or at the end of the stream. Returns what was produced.
inline size_t PlainRingDecode(uint8_t* out, uint32_t decodedSize, const uint8_t* in, size_t inLength) {
  uint8_t ring[bundle::RING_ALLOCATION_SIZE] = {};
  uint32_t r = bundle::RING_START;
  unsigned flags = 0;
  size_t i = 0;
  uint32_t o = 0;
  while (o < decodedSize) {
    flags >>= 1;
    if ((flags & 0x100) == 0) {
      if (i >= inLength) break;
      flags = in[i++] | 0xFF00u;
    }
    if (flags & 1) {
      if (i >= inLength) break;
      const uint8_t c = in[i++];
      out[o++] = c;
      ring[r] = c;
      r = (r + 1) & bundle::RING_MASK;
    } else {
      if (inLength - i < 2) break;
      const uint32_t b1 = in[i], b2 = in[i + 1];
      i += 2;
      const uint32_t q = b1 + 256 * (b2 >> 4);
      const uint32_t m = (b2 & 15) + 3;
      for (uint32_t k = 0; k < m; ++k) {
        const uint8_t c = ring[(q + k) & bundle::RING_MASK];
        out[o++] = c;
        if (o == decodedSize) break;
        ring[r] = c;
        r = (r + 1) & bundle::RING_MASK;
      }
    }
  }
  return o;
}

inline std::vector<uint8_t> PlainRingDecode(const std::vector<uint8_t>& stream, uint32_t decodedSize) {
  std::vector<uint8_t> out(decodedSize);
  out.resize(PlainRingDecode(out.data(), decodedSize, stream.data(), stream.size()));
  return out;
}

// Greedy LZSS over "4096 zero bytes, then the data" with bounded hash chains:
// quick, a little worse than a real encoder, enough to make realistic streams.
inline std::vector<uint8_t> GreedyEncode(const uint8_t* data, size_t size, int chainDepth = 16) {
  const size_t pad = bundle::RING_SIZE;
  std::vector<uint8_t> buf(pad + size, 0);
  if (size != 0) std::memcpy(buf.data() + pad, data, size);
  const size_t hashSize = 1 << 15;
  std::vector<int64_t> head(hashSize, -1);
  std::vector<int64_t> prev(buf.size(), -1);
  auto hash = [&](size_t p) {
    return ((buf[p] << 10) ^ (buf[p + 1] << 5) ^ buf[p + 2]) & (hashSize - 1);
  };
  auto insert = [&](size_t p) {
    if (p + 2 < buf.size()) {
      size_t h = hash(p);
      prev[p] = head[h];
      head[h] = int64_t(p);
    }
  };
  // The zero prefix is matchable; insert its last positions.
  for (size_t p = pad - bundle::MAX_MATCH; p < pad; ++p) insert(p);

  std::vector<uint8_t> out;
  size_t flagAt = 0;
  int bit = 8;
  auto item = [&](bool literal) {
    if (bit == 8) {
      flagAt = out.size();
      out.push_back(0);
      bit = 0;
    }
    if (literal) out[flagAt] |= uint8_t(1 << bit);
    ++bit;
  };
  size_t p = pad;
  while (p < buf.size()) {
    size_t bestLen = 0, bestDist = 0;
    const size_t maxLen = std::min<size_t>(bundle::MAX_MATCH, buf.size() - p);
    if (maxLen >= bundle::MIN_MATCH) {
      int64_t c = head[hash(p)];
      for (int depth = 0; c >= 0 && depth < chainDepth; ++depth, c = prev[c]) {
        size_t dist = p - size_t(c);
        if (dist > bundle::RING_SIZE) break;
        size_t len = 0;
        while (len < maxLen && buf[size_t(c) + len] == buf[p + len]) ++len;
        if (len > bestLen) {
          bestLen = len;
          bestDist = dist;
          if (len == maxLen) break;
        }
      }
    }
    if (bestLen >= bundle::MIN_MATCH) {
      item(false);
      const size_t i = p - pad;
      const uint32_t q = uint32_t(bundle::RING_START + i - bestDist) & bundle::RING_MASK;
      out.push_back(uint8_t(q & 0xFF));
      out.push_back(uint8_t(((q >> 8) << 4) | (bestLen - bundle::MIN_MATCH)));
      for (size_t k = 0; k < bestLen; ++k) insert(p + k);
      p += bestLen;
    } else {
      item(true);
      out.push_back(buf[p]);
      insert(p);
      ++p;
    }
  }
  return out;
}

inline std::vector<uint8_t> GreedyEncode(const std::vector<uint8_t>& data) {
  return GreedyEncode(data.data(), data.size());
}

// A stream whose group of seven longest references and one more item starts
// `left` output bytes before the end, once `before` bytes (a multiple of 8, at
// least 4096: past the ring) are out as groups of eight literals. Every
// reference reaches `distance` bytes back; the eighth item is a reference of
// 18 too, or a literal. Literal groups make up the rest of the output, and
// stray bytes that decoding never reaches follow, enough for the decoder's
// input margin: so only the output decides whether the decoder takes that
// group whole. Decoded into exactly decodedSize bytes, a decoder whose output
// margin is short of 7 * 18 + 24 writes past the end.
struct MarginStream {
  std::vector<uint8_t> stream;
  uint32_t decodedSize;
};

inline MarginStream StreamEndingAtTheOutputMargin(uint32_t before, uint32_t left, uint32_t distance,
                                                  bool lastIsLiteral) {
  MarginStream m{{}, before + left};
  std::vector<uint8_t>& s = m.stream;
  uint32_t out = 0;
  const auto literals = [&](uint32_t count) {
    for (uint32_t k = 0; k < count; k += 8) {
      s.push_back(0xFF);
      for (int j = 0; j < 8; ++j) s.push_back(uint8_t(out++ * 7 + 3));
    }
  };
  literals(before);
  s.push_back(lastIsLiteral ? 0x80 : 0x00);
  for (int k = 0; k < 8; ++k) {
    if (k == 7 && lastIsLiteral) {
      s.push_back(0x5A);
      ++out;
      break;
    }
    // The ring position that lies `distance` bytes behind output position out.
    const uint32_t q = (bundle::RING_START + out - distance) & bundle::RING_MASK;
    s.push_back(uint8_t(q & 0xFF));
    s.push_back(uint8_t((q >> 8) << 4 | (bundle::MAX_MATCH - bundle::MIN_MATCH)));
    out += bundle::MAX_MATCH;
  }
  if (out < m.decodedSize) literals(m.decodedSize - out);
  s.insert(s.end(), 48, 0);
  return m;
}

// A whole block: signature, two zero bytes, key, D, then the stream XORed.
inline std::vector<uint8_t> MakeBlock(const std::vector<uint8_t>& stream, uint32_t decodedSize,
                                      uint8_t key) {
  std::vector<uint8_t> block(bundle::BLOCK_HEADER_SIZE);
  std::memcpy(block.data(), bundle::BLOCK_SIGNATURE, bundle::BLOCK_SIGNATURE_LENGTH);
  block[bundle::BLOCK_KEY_OFFSET] = key;
  bundle::StoreLe32(block.data() + bundle::BLOCK_DECODED_SIZE_OFFSET, decodedSize);
  for (uint8_t b : stream) block.push_back(uint8_t(b ^ key));
  return block;
}

// A file of image bytes, the start marker and one record per entry, in order.
inline std::vector<uint8_t> MakeBundle(const std::string& image,
                                       const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<uint8_t> file(image.begin(), image.end());
  auto put32 = [&](uint32_t v) {
    uint8_t b[4];
    bundle::StoreLe32(b, v);
    file.insert(file.end(), b, b + 4);
  };
  put32(bundle::START_MARKER);
  for (const auto& e : entries) {
    file.insert(file.end(), e.second.begin(), e.second.end());
    file.insert(file.end(), e.first.begin(), e.first.end());
    file.push_back(0);
    put32(uint32_t(e.first.size() + 1));
    put32(uint32_t(e.second.size()));
    put32(bundle::ENTRY_MARKER);
  }
  return file;
}

// The headers of a PE image, as far as a signature's directory entry needs
// them: "MZ", e_lfanew 0x40, "PE\0\0", a file header and an optional header
// (PE32, or PE32+ when wide) with 16 directory entries, zeros up to size.
inline std::vector<uint8_t> MakePeImage(size_t size = 0x200, bool wide = false) {
  std::vector<uint8_t> image(std::max<size_t>(size, 0x40 + 24 + 240), 0);
  image[0] = 'M';
  image[1] = 'Z';
  bundle::StoreLe32(&image[0x3C], 0x40);
  std::memcpy(&image[0x40], "PE\0\0", 4);
  image[0x40 + 4 + 16] = wide ? 240 : 224;  // SizeOfOptionalHeader
  image[0x58] = 0x0B;
  image[0x59] = wide ? 0x02 : 0x01;
  bundle::StoreLe32(&image[0x58 + (wide ? 108 : 92)], 16);
  return image;
}

// File position of directory entry 4 in a MakePeImage image.
inline size_t CertificateEntryOf(bool wide = false) { return 0x58 + (wide ? 112 : 96) + 4 * 8; }

// Signs file as signing tools do: zero bytes to an 8-byte boundary, then the
// table, recorded in directory entry 4.
inline void AppendSignature(std::vector<uint8_t>& file, const std::vector<uint8_t>& table, bool wide = false) {
  file.resize((file.size() + 7) / 8 * 8, 0);
  bundle::StoreLe32(&file[CertificateEntryOf(wide)], uint32_t(file.size()));
  bundle::StoreLe32(&file[CertificateEntryOf(wide) + 4], uint32_t(table.size()));
  file.insert(file.end(), table.begin(), table.end());
}

// ---- Data generators, deterministic for a seed.

class Random {
 public:
  explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return uint32_t(state >> 16);
  }
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }

 private:
  uint64_t state;
};

// Prose-like text: pseudo-words with a Zipf-like frequency (a few short words
// very often, most words rarely) and a few likely successors each, so that
// phrases recur as they do in a natural language; spaces, punctuation and line
// breaks. Greedy LZSS takes it to about half its size, as it does English
// prose.
inline std::vector<uint8_t> MakeText(size_t size, uint64_t seed) {
  Random rng(seed);
  const uint32_t vocabulary = 4000;
  std::vector<std::string> words;
  for (uint32_t w = 0; w < vocabulary; ++w) {
    std::string s;
    // Frequent words are short.
    const uint32_t len = 1 + rng.Below(2 + w / 400) + rng.Below(4);
    for (uint32_t k = 0; k < len; ++k) s.push_back(char("etaoinshrdlucmfwypvbgkjqxz"[rng.Below(rng.Below(3) ? 12 : 26)]));
    words.push_back(s);
  }
  // Log-uniform index: P(i) falls roughly as 1 / (i + 1).
  auto zipf = [&] {
    const double u = double(rng.Next()) / 4294967296.0;
    const uint32_t i = uint32_t(std::exp(u * std::log(double(vocabulary) + 1.0))) - 1;
    return i < vocabulary ? i : vocabulary - 1;
  };
  std::vector<uint32_t> successors(vocabulary * 4);
  for (auto& next : successors) next = zipf();
  std::vector<uint8_t> out;
  out.reserve(size + 64);
  int column = 0;
  bool capital = true;
  uint32_t i = 0;
  while (out.size() < size) {
    i = rng.Below(5) < 4 ? successors[i * 4 + rng.Below(4)] : zipf();
    std::string w = words[i];
    if (capital) w[0] = char(w[0] - 32);
    capital = false;
    out.insert(out.end(), w.begin(), w.end());
    column += int(w.size()) + 1;
    const uint32_t p = rng.Below(16);
    if (p == 0) {
      out.push_back('.');
      capital = true;
    } else if (p == 1) {
      out.push_back(',');
    }
    if (column > 72) {
      out.push_back('\n');
      column = 0;
    } else {
      out.push_back(' ');
    }
  }
  out.resize(size);
  return out;
}

// x86-like machine code: prologues and epilogues, register moves, calls and
// jumps with nearby targets, small immediates, zero padding and a string table.
inline std::vector<uint8_t> MakeExecutable(size_t size, uint64_t seed) {
  Random rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 64);
  auto put = [&](std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); };
  auto put32 = [&](uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(uint8_t(v >> (8 * k)));
  };
  while (out.size() < size) {
    const uint32_t kind = rng.Below(100);
    if (kind < 5) {
      put({0x55, 0x8B, 0xEC, 0x83, 0xEC, uint8_t(4 * rng.Below(16))});  // push ebp; mov ebp,esp; sub esp,n
    } else if (kind < 10) {
      put({0x8B, 0xE5, 0x5D, 0xC3});                                   // mov esp,ebp; pop ebp; ret
      while (out.size() % 16) out.push_back(0xCC);
    } else if (kind < 25) {
      put({0xE8});                                                      // call rel32
      put32(uint32_t(-int32_t(rng.Below(40000))));
    } else if (kind < 45) {
      put({0x8B, uint8_t(0x45 + 8 * rng.Below(4)), uint8_t(0xF0 + 4 * rng.Below(4))});  // mov r,[ebp-n]
    } else if (kind < 55) {
      put({0x89, uint8_t(0x45 + 8 * rng.Below(4)), uint8_t(4 * rng.Below(8))});         // mov [ebp+n],r
    } else if (kind < 65) {
      put({0x68});                                                      // push imm32 (addresses)
      put32(0x00401000u + 4 * rng.Below(4096));
    } else if (kind < 75) {
      put({0x74, uint8_t(rng.Below(64))});                              // je short
    } else if (kind < 85) {
      put({uint8_t(0x50 + rng.Below(8))});                              // push r
    } else if (kind < 90) {
      put({0xFF, 0x15});                                                // call [import]
      put32(0x00402000u + 4 * rng.Below(64));
    } else if (kind < 92) {
      out.insert(out.end(), 16 + rng.Below(48), 0);                     // padding
    } else if (kind < 93) {
      static const char* names[] = {"CreateFileA", "ReadFile", "WriteFile", "CloseHandle", "HeapAlloc",
                                    "GetModuleFileNameA", "MessageBoxA", "SendMessageA"};
      const char* n = names[rng.Below(8)];
      out.insert(out.end(), n, n + std::strlen(n) + 1);
    } else {
      put({0x33, 0xC0, 0x40, 0x85, 0xC0});                              // xor eax,eax; inc; test
    }
  }
  out.resize(size);
  return out;
}

// Pieces of text, code, incompressible bytes and runs of zeros, mixed.
inline std::vector<uint8_t> MakeMixed(size_t size, uint64_t seed) {
  Random rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  uint64_t pieceSeed = seed * 31 + 7;
  while (out.size() < size) {
    const size_t piece = 1024 + rng.Below(31 * 1024);
    std::vector<uint8_t> part;
    switch (rng.Below(4)) {
      case 0: part = MakeText(piece, ++pieceSeed); break;
      case 1: part = MakeExecutable(piece, ++pieceSeed); break;
      case 2:
        part.resize(piece);
        for (auto& b : part) b = uint8_t(rng.Next());
        break;
      default: part.assign(piece, 0); break;
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}

}  // namespace test_codec
