// The interface and error texts the launcher shows, by language row and id.
// Every text is a constant NUL-terminated string in code page 932 with LF line
// breaks (the licence agreement, id 136, uses CR LF). They are shown through
// the UTF-16 calls, converted from code page 932 (ui/cp932_text.h), so that
// they read right on any system code page. The strings live for the whole
// run; nobody frees them.
#pragma once

#include <cstdint>

constexpr int32_t UI_TEXT_COUNT = 137;    // interface ids 0 .. 136
constexpr int32_t ERROR_TEXT_COUNT = 11;  // error ids 0 .. 10

// The interface ids the progress dialog uses.
enum UiTextId : int32_t {
  TEXT_PREPARING = 1,        // status while the entries are written
  TEXT_SETUP_CAPTION = 2,    // caption of every message box
  TEXT_DIALOG_TITLE = 6,
  TEXT_CANCEL_QUESTION = 24,
  TEXT_REMOVING = 25,        // status while a stopped installation is undone
  TEXT_CANCEL_BUTTON = 44,
};

// The error ids the launcher shows.
enum ErrorTextId : int32_t {
  ERROR_TEXT_NO_FOLDER = 0,       // no usable temporary folder: nothing can be made
  ERROR_TEXT_START_FAILED = 2,    // the worker, the dialog or the installer could not be started
  ERROR_TEXT_INSTALL_FAILED = 3,  // a write failed for any cause but a full disk
  ERROR_TEXT_DISK_FULL = 7,
  ERROR_TEXT_DAMAGED = 9,         // the setup file is damaged (a cut or damaged download)
  ERROR_TEXT_BLOCKED = 10,        // a policy or security software refused to start the installer
};

// The text of (language, id): constant time, no allocation, safe from any
// thread. A language outside 0 .. LanguageCount - 1 or an id outside the
// table gives an empty text; nothing outside the tables is read.
const char* GetText(int32_t language, int32_t id);
const char* GetErrorText(int32_t language, int32_t id);
