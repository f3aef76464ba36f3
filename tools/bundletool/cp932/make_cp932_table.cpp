// Writes cp932_table.inc: code page 932 as Windows converts it, read from
// the system's own conversion calls, so that the bundle tool converts names
// on every system exactly as the launcher's ANSI file calls do on Windows.
// Run under Wine, which carries the same 932 table as Windows:
//
//   scripts/wine-run build/win64/tools/bundletool/make_cp932_table.exe
//     > tools/bundletool/cp932/cp932_table.inc
//
// The Windows trees' test cp932_table_matches_wine_conversion runs it and
// compares its output with the committed file, all but the line that names
// the Wine it ran under. That Wine's table is Windows' own is this table's
// premise: no test here can show it.
//
// What it records:
//   - every byte that stands alone, and the character MultiByteToWideChar
//     gives it (a byte the code page does not define is left out: see
//     Decode);
//   - every lead byte (IsDBCSLeadByteEx), and for each trail byte 0x40-0xFC
//     the character of the pair, or none;
//   - the characters whose encoding is not the first byte sequence, in the
//     order above, that decodes to them: where WideCharToMultiByte with
//     WC_NO_BEST_FIT_CHARS picks another, or refuses the character although
//     a sequence decodes to it.
// Characters no sequence decodes to are refused by the tool without a list:
// with WC_NO_BEST_FIT_CHARS Windows refuses them too, which the program
// checks and reports as a failure (exit 1) should it ever not hold.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT CODE_PAGE = 932;
constexpr unsigned NONE = 0xFFFF;
// The start of the header line that names the system the table was read
// from: the one line the test leaves out of its comparison.
constexpr char PROVENANCE[] = "// Read under ";

// The bytes Windows writes for character, without best fit: 1 or 2 of them,
// or 0 when it refuses.
int Encode(unsigned character, unsigned char* bytes) {
  const wchar_t wide = wchar_t(character);
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(CODE_PAGE, WC_NO_BEST_FIT_CHARS, &wide, 1, reinterpret_cast<char*>(bytes), 2,
                                    nullptr, &usedDefault);
  return usedDefault || n < 1 || n > 2 ? 0 : n;
}

// The one character bytes decode to, or NONE. The strict call refuses a few
// single bytes (0xA0, 0xFD-0xFF) that the file calls, which convert without
// it, still turn into a character of their own; such a sequence counts when
// that character is written back as the same bytes.
unsigned Decode(const char* bytes, int count) {
  wchar_t wide[4];
  if (MultiByteToWideChar(CODE_PAGE, MB_ERR_INVALID_CHARS, bytes, count, wide, 4) == 1) return unsigned(wide[0]);
  if (MultiByteToWideChar(CODE_PAGE, 0, bytes, count, wide, 4) != 1) return NONE;
  unsigned char back[2];
  const int n = Encode(wide[0], back);
  return n == count && std::memcmp(back, bytes, size_t(n)) == 0 ? unsigned(wide[0]) : NONE;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // LF line ends, as the committed file has
  unsigned single[256];
  std::vector<int> leads;
  for (unsigned b = 0; b < 256; ++b) {
    const char byte = char(b);
    single[b] = IsDBCSLeadByteEx(CODE_PAGE, BYTE(b)) ? NONE : Decode(&byte, 1);
    if (IsDBCSLeadByteEx(CODE_PAGE, BYTE(b))) leads.push_back(int(b));
  }
  std::vector<std::vector<unsigned>> pairs(leads.size(), std::vector<unsigned>(0xFD - 0x40, NONE));
  for (size_t row = 0; row < leads.size(); ++row) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      const char bytes[2] = {char(leads[row]), char(trail)};
      pairs[row][trail - 0x40] = Decode(bytes, 2);
    }
  }

  // The first sequence, in table order, that decodes to each character.
  std::vector<unsigned> first(0x10000, 0);  // 0: none; else the bytes + 0x10000 for a single byte
  for (unsigned b = 0; b < 256; ++b) {
    if (single[b] != NONE && first[single[b]] == 0) first[single[b]] = 0x10000 | b;
  }
  for (size_t row = 0; row < leads.size(); ++row) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      const unsigned c = pairs[row][trail - 0x40];
      if (c != NONE && first[c] == 0) first[c] = unsigned(leads[row]) << 8 | trail;
    }
  }
  std::vector<unsigned> exceptions;  // character << 16 | bytes (0: refused)
  for (unsigned c = 0; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    unsigned char bytes[2];
    const int n = Encode(c, bytes);
    const unsigned encoded = n == 1 ? (0x10000 | bytes[0]) : n == 2 ? (unsigned(bytes[0]) << 8 | bytes[1]) : 0;
    if (encoded == first[c]) continue;
    if (first[c] == 0) {
      std::fprintf(stderr, "make_cp932_table: U+%04X is encoded although no sequence decodes to it\n", c);
      return 1;
    }
    exceptions.push_back(c << 16 | (encoded & 0xFFFF));
  }

  // Where it was made: Wine names itself through ntdll.
  using VersionFunction = const char*(__cdecl*)();
  const auto wineVersion = reinterpret_cast<VersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
  std::printf("// Code page 932 as Windows converts it, read from the conversion calls of\n"
              "// Wine, which carries the same table. Generated by make_cp932_table.cpp:\n"
              "//   scripts/wine-run build/win64/tools/bundletool/make_cp932_table.exe\n"
              "//     > tools/bundletool/cp932/cp932_table.inc\n");
  const std::string system = wineVersion != nullptr ? std::string("Wine ") + wineVersion() : "Windows, not Wine";
  std::printf("%s%s\n", PROVENANCE, system.c_str());
  std::printf("// Do not edit. NONE (0xFFFF) marks a byte or pair that the code page does\n"
              "// not define.\n\n");
  std::printf("// The character of each byte that stands alone; NONE for a lead byte.\n"
              "const uint16_t SINGLE[256] = {");
  for (unsigned b = 0; b < 256; ++b) std::printf("%s0x%04X,", b % 8 ? " " : "\n    ", single[b]);
  std::printf("\n};\n\n// The lead bytes, in order.\nconst uint8_t LEADS[%u] = {", unsigned(leads.size()));
  for (size_t i = 0; i < leads.size(); ++i) std::printf("%s0x%02X,", i % 12 ? " " : "\n    ", leads[i]);
  std::printf("\n};\n\n// The character of each lead byte (rows, as LEADS) and trail byte 0x40-0xFC.\n"
              "const uint16_t PAIRS[%u][%u] = {", unsigned(leads.size()), 0xFD - 0x40);
  for (size_t row = 0; row < leads.size(); ++row) {
    std::printf("\n    {  // 0x%02X", leads[row]);
    for (unsigned i = 0; i < 0xFD - 0x40; ++i) std::printf("%s0x%04X,", i % 8 ? " " : "\n        ", pairs[row][i]);
    std::printf("\n    },");
  }
  std::printf("\n};\n\n// Characters whose encoding is not the first sequence above that decodes\n"
              "// to them: the character, and the bytes Windows writes (a single byte\n"
              "// as is, a pair as lead << 8 | trail), or 0 where it refuses it.\n"
              "const uint16_t ENCODE_EXCEPTIONS[%u][2] = {", unsigned(exceptions.size()));
  for (size_t i = 0; i < exceptions.size(); ++i) {
    std::printf("%s{0x%04X, 0x%04X},", i % 4 ? " " : "\n    ", exceptions[i] >> 16, exceptions[i] & 0xFFFF);
  }
  std::printf("\n};\n");
  return 0;
}
