// The interface language choice: LanguageIndex (common/language_index.h)
// from the command line's last byte or, failing that, from the installed
// game's own language setting. The pieces below ChooseLanguage are apart so
// that each step can be checked on its own.
#pragma once

#include <cstddef>
#include <cstdint>

// Sets LanguageIndex from the command line's last byte or, failing that,
// from the installed game's language setting.
void ChooseLanguage(const char* commandLine);
// The installed game's language setting as a LanguageIndex; 0 when none.
int32_t ReadLanguageSetting();
// True when the game's uninstall key opens; then buffer holds the game's
// folder with a trailing backslash.
bool FindInstalledGameFolder(char* buffer, size_t capacity);

// The installed game's "language" setting values; a value's position is the
// LanguageIndex it selects.
constexpr int GAME_LANGUAGE_CODE_COUNT = 5;
extern const int32_t GameLanguageCodes[GAME_LANGUAGE_CODE_COUNT];

// The installed game's uninstall entry under HKEY_LOCAL_MACHINE and its
// settings file.
constexpr char UNINSTALL_KEY_FORMAT[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s";
constexpr char GAME_UNINSTALL_NAME[] = "ZEPHRAQST_DEMO_B";
constexpr char UNINSTALL_VALUE_NAME[] = "UninstallString";
constexpr char SETTINGS_FILE_NAME[] = "zephraQX.ini";
constexpr char SETTINGS_SECTION[] = "zephraQX";
constexpr char SETTINGS_LANGUAGE_KEY[] = "language";

// Given by ReadLanguageCandidate when no settings file was consulted.
constexpr int32_t NO_LANGUAGE_CANDIDATE = -1;

// True when the command line alone decides the language: its last byte with
// bits 0x30 cleared names a carried row, stored in *index. False for an empty
// (or null) command line and for every other last byte; *index is then left
// alone.
bool LanguageFromCommandLine(const char* commandLine, int32_t* index);

// The position of value in GameLanguageCodes, 0 when it is not there.
int32_t LanguageCandidateFromSetting(int32_t value);

// The candidate row named by the installed game's settings file, before it is
// held to LanguageCount; NO_LANGUAGE_CANDIDATE when the game's folder is not
// found or the settings file's path does not fit, in which case no settings
// file is read. A missing file or key reads as value 0.
int32_t ReadLanguageCandidate();
