// Names between UTF-8, the text the tool reads and prints, and code page 932,
// the bytes the bundle stores and the launcher hands to the ANSI file calls.
// One table on every system: code page 932 as Windows converts it
// (cp932/cp932_table.inc, generated from Windows' own conversion calls), so
// the Linux and the Windows tool store the same bytes, and a stored name is
// the name of the file the launcher writes. The C library's code page 932 of
// other systems differs for several characters (〜 − — ‖ ¢ £ ¬ among them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bundletool {

// The code page 932 bytes of utf8; false when it is not UTF-8 or holds a
// character Windows does not write in code page 932 without a look-alike
// (no best fit: 〜 U+301C is refused, its full-width look-alike ～ U+FF5E is
// taken).
bool Utf8ToCp932(const std::string& utf8, std::string& cp932);

// The UTF-8 text of code page 932 bytes; false for a byte or pair the code
// page does not define, or a lead byte at the end.
bool Cp932ToUtf8(const std::string& cp932, std::string& utf8);

// The length of the well-formed UTF-8 sequence at text[i] (i below text's
// size), with its code point in code; 0 when the bytes there are none: a
// stray continuation byte, a lead byte without its continuation bytes, an
// overlong form, a surrogate, or a code point beyond U+10FFFF. The tool's one
// UTF-8 decoder: what refuses such bytes (names, manifests) and what
// replaces them (JSON strings, display widths) read text alike.
size_t Utf8SequenceAt(const std::string& text, size_t i, uint32_t& code);

// Appends the UTF-8 form of a code point (up to U+10FFFF, no surrogate).
void AppendUtf8(std::string& text, uint32_t code);

// True when text is UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(const std::string& text);

}  // namespace bundletool
