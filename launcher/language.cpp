#include "launcher/language.h"

#include <windows.h>

#include <cstring>

#include "launcher/launcher.h"

const int32_t GameLanguageCodes[GAME_LANGUAGE_CODE_COUNT] = {0, 5, 1, 2, 3};

bool LanguageFromCommandLine(const char* commandLine, int32_t* index) {
  if (commandLine == nullptr || commandLine[0] == '\0') return false;
  const unsigned char last = static_cast<unsigned char>(commandLine[strlen(commandLine) - 1]);
  // Clearing bits 0x30 maps "0".."9" to 0..9; a space and 0x10 also give 0,
  // a byte of 0x80 or above (a double-byte trail byte) never names a row.
  const int32_t digit = last & 0xCF;
  if (digit >= LanguageCount) return false;
  *index = digit;
  return true;
}

int32_t LanguageCandidateFromSetting(int32_t value) {
  for (int32_t i = 0; i < GAME_LANGUAGE_CODE_COUNT; ++i) {
    if (GameLanguageCodes[i] == value) return i;
  }
  return 0;
}

void ChooseLanguage(const char* commandLine) {
  LanguageIndex = 0;
  int32_t index = 0;
  if (LanguageFromCommandLine(commandLine, &index)) {
    LanguageIndex = index;
    return;
  }
  LanguageIndex = ReadLanguageSetting();
}

int32_t ReadLanguageSetting() {
  const int32_t candidate = ReadLanguageCandidate();
  if (candidate < 0 || candidate >= LanguageCount) return 0;
  return candidate;
}

int32_t ReadLanguageCandidate() {
  char path[PATH_CAPACITY];
  if (!FindInstalledGameFolder(path, sizeof path)) return NO_LANGUAGE_CANDIDATE;
  // A cut path would name some other file; a folder that leaves no room for
  // the file name is treated as no installed game.
  if (!AppendBackslash(path, sizeof path) || !AppendPath(path, sizeof path, SETTINGS_FILE_NAME)) {
    return NO_LANGUAGE_CANDIDATE;
  }
  const UINT value = GetPrivateProfileIntA(SETTINGS_SECTION, SETTINGS_LANGUAGE_KEY, 0, path);
  return LanguageCandidateFromSetting(static_cast<int32_t>(value));
}

bool FindInstalledGameFolder(char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  buffer[0] = '\0';

  char keyName[sizeof UNINSTALL_KEY_FORMAT + sizeof GAME_UNINSTALL_NAME];
  wsprintfA(keyName, UNINSTALL_KEY_FORMAT, GAME_UNINSTALL_NAME);

  // Opened with all-access rights, not read-only ones: where those are
  // refused (a user who may not change the machine's settings) the game counts
  // as not installed and the language falls back to row 0.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return false;
  }

  // The value need not end with a NUL, and a value longer than the buffer
  // (ERROR_MORE_DATA) may leave the buffer partly written: only a complete
  // read is used, terminated here, and anything else leaves an empty text.
  DWORD size = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
  const LONG status = RegQueryValueExA(key, UNINSTALL_VALUE_NAME, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  bool found = false;
  if (status == ERROR_SUCCESS && size > 0 && size <= capacity) {
    if (buffer[size - 1] == '\0') {
      found = true;
    } else if (size < capacity) {
      buffer[size] = '\0';
      found = true;
    }
  }
  if (!found) {
    buffer[0] = '\0';
    return false;
  }

  // The folder keeps its trailing backslash; the program's file name and any
  // arguments after it go. A value without a backslash names no folder.
  const char* lastBackslash = FindLastBackslash(buffer);
  if (lastBackslash == nullptr) {
    buffer[0] = '\0';
    return false;
  }
  buffer[lastBackslash - buffer + 1] = '\0';
  return true;
}
