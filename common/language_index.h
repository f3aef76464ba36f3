// The row of interface texts every message table lookup uses: process-wide,
// set once by the language choice (launcher/language.h) before the
// single-instance test and only read afterwards, from either thread.
#pragma once

#include <cstdint>

extern int32_t LanguageIndex;
// Text rows the build carries; with one, every choice ends in row 0.
constexpr int32_t LanguageCount = 1;
