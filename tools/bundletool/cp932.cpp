#include "cp932.h"

#include <cstdint>
#include <vector>

namespace bundletool {

namespace {

#include "tools/bundletool/cp932/cp932_table.inc"

constexpr uint16_t NONE = 0xFFFF;
constexpr unsigned FIRST_TRAIL = 0x40, LAST_TRAIL = 0xFC;
constexpr size_t LEAD_COUNT = sizeof LEADS / sizeof LEADS[0];

// The row of PAIRS for a lead byte, or -1 for a byte that leads nothing.
int LeadRow(uint8_t byte) {
  for (size_t row = 0; row < LEAD_COUNT; ++row) {
    if (LEADS[row] == byte) return int(row);
  }
  return -1;
}

// What each character is written as: a single byte (below 0x100), a pair
// (lead << 8 | trail), or NONE. The first sequence in table order that
// decodes to a character, unless Windows picks another or none.
const std::vector<uint16_t>& EncodeTable() {
  static const std::vector<uint16_t> table = [] {
    std::vector<uint16_t> t(0x10000, NONE);
    for (unsigned b = 0; b < 256; ++b) {
      if (SINGLE[b] != NONE && t[SINGLE[b]] == NONE) t[SINGLE[b]] = uint16_t(b);
    }
    for (size_t row = 0; row < LEAD_COUNT; ++row) {
      for (unsigned trail = FIRST_TRAIL; trail <= LAST_TRAIL; ++trail) {
        const uint16_t c = PAIRS[row][trail - FIRST_TRAIL];
        if (c != NONE && t[c] == NONE) t[c] = uint16_t(LEADS[row] << 8 | trail);
      }
    }
    for (const auto& exception : ENCODE_EXCEPTIONS) t[exception[0]] = exception[1] == 0 ? NONE : exception[1];
    return t;
  }();
  return table;
}

// The next code point of UTF-8 text at i, advancing i; false for a byte
// sequence that is not UTF-8.
bool NextCodePoint(const std::string& text, size_t& i, uint32_t& code) {
  const size_t length = Utf8SequenceAt(text, i, code);
  i += length;
  return length > 0;
}

}  // namespace

size_t Utf8SequenceAt(const std::string& text, size_t i, uint32_t& code) {
  const uint8_t c = uint8_t(text[i]);
  const size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  code = length == 1 ? c : c & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const uint8_t next = uint8_t(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  static const uint32_t LEAST[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < LEAST[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool Utf8ToCp932(const std::string& utf8, std::string& cp932) {
  const std::vector<uint16_t>& table = EncodeTable();
  std::string result;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t code;
    if (!NextCodePoint(utf8, i, code) || code > 0xFFFF || table[code] == NONE) return false;
    const uint16_t bytes = table[code];
    if (bytes >= 0x100) result += char(bytes >> 8);
    result += char(bytes & 0xFF);
  }
  cp932 = result;
  return true;
}

void AppendUtf8(std::string& text, uint32_t code) {
  if (code < 0x80) {
    text += char(code);
    return;
  }
  const int length = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
  text += char((0xF00 >> length) | code >> (6 * (length - 1)));
  for (int k = length - 2; k >= 0; --k) text += char(0x80 | (code >> (6 * k) & 0x3F));
}

bool IsUtf8(const std::string& text) {
  uint32_t code;
  for (size_t i = 0; i < text.size();) {
    if (!NextCodePoint(text, i, code)) return false;
  }
  return true;
}

bool Cp932ToUtf8(const std::string& cp932, std::string& utf8) {
  std::string result;
  for (size_t i = 0; i < cp932.size(); ++i) {
    const uint8_t byte = uint8_t(cp932[i]);
    uint16_t code = SINGLE[byte];
    if (code == NONE) {
      const int row = LeadRow(byte);
      if (row < 0 || i + 1 == cp932.size()) return false;
      const uint8_t trail = uint8_t(cp932[++i]);
      if (trail < FIRST_TRAIL || trail > LAST_TRAIL) return false;
      code = PAIRS[row][trail - FIRST_TRAIL];
      if (code == NONE) return false;
    }
    AppendUtf8(result, code);
  }
  utf8 = result;
  return true;
}

}  // namespace bundletool
