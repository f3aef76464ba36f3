#include "common/language_index.h"

int32_t LanguageIndex = 0;
