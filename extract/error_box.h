// The launcher's error box: an error text in a box without an owner window,
// with the stop icon and interface text 2 as its caption, drawn right on any
// code page (ui/cp932_text.h). Without an owner the progress dialog, when
// there is one, stays enabled behind it.
#pragma once

#include <cstdint>

// Shows error text id of the current language and returns once it is
// answered.
void ShowErrorBox(int32_t errorTextId);
