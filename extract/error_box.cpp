#include "extract/error_box.h"

#include <windows.h>

#include "common/language_index.h"
#include "extract/message_table.h"
#include "ui/cp932_text.h"

void ShowErrorBox(int32_t errorTextId) {
  MessageBoxCp932(nullptr, GetErrorText(LanguageIndex, errorTextId), GetText(LanguageIndex, TEXT_SETUP_CAPTION),
                  MB_OK | MB_ICONERROR);
}
