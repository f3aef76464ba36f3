// The launcher: its entry and main flow, the interface language choice, the
// table of bundle entries it writes and the removal of what was written.
#pragma once

#include <windows.h>

#include <cstdint>

#include "launcher/paths.h"

class OwnFolders;

// ---- Process-wide values, written once at start and only read afterwards.

// The module instance handle given to the entry. Before the entry has stored
// one (in test programs) it is the handle of the running executable.
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// Row of the interface texts every message table lookup uses.
extern int32_t LanguageIndex;
constexpr int32_t LanguageCount = 1;

// ---- Names that leave the process.

constexpr const char LAUNCHER_MUTEX_NAME[] = "ZEPHRA_QX_TRIAL_INST_MTX";
constexpr const char INSTALLER_MUTEX_NAME[] = "ZEPHRA_QX_INST_UNINST_MTX";
constexpr const char DRIVE_ROOT_FOLDER_NAME[] = "ZEPHRAQUEST_DEMO_B";

// ---- The entries the extraction job writes and the removal deletes.

enum EntryFlags : uint32_t {
  ENTRY_EXTRACT = 0x04,    // the row is processed at all
  ENTRY_STREAMED = 0x08,   // copied unchanged in pieces; else read whole, decoded
  ENTRY_READ_ONLY = 0x20,  // marked read-only after a successful in-memory write
};

struct EntryRow {
  const char* fileName;      // name in the bundle and of the written file
  const char* folderPrefix;  // sub-folder with its trailing backslash
  uint32_t flags;
};

constexpr int ENTRY_COUNT = 10;
// ENTRY_COUNT rows, then a row whose name and prefix are both empty. Row 0 is
// the installer program the main flow starts. Every row's folder prefix is
// one of CleanupFolders with its backslash: those are the folders the job
// makes afresh and holds, and the only ones the removal deletes from
// (extract/own_folders.h).
extern const EntryRow EntryTable[ENTRY_COUNT + 1];
// Sub-folders of the destination (no trailing backslash), null-ended.
constexpr int CLEANUP_FOLDER_COUNT = 1;
extern const char* const CleanupFolders[CLEANUP_FOLDER_COUNT + 1];

// ---- Operations.

// The main flow, from the stored instance to the exit code (always 0).
int RunLauncher(HINSTANCE instance, const char* commandLine);

// Starts program (a full path, given unquoted; it is quoted on the command
// line) with optional arguments and the given show state and waits until its
// process ends. A program that requires administrator rights is started
// through the shell, which asks the user's consent first. True when it
// started; false when it could not, or the user declined.
bool RunProcessAndWait(const char* program, const char* arguments, int showState);

// Deletes the ten entry files under the destination of folders, clearing a
// read-only mark first, then removes the launcher's own folders that are left
// empty: the cleanup sub-folders, then the drive-root folder. Files are
// deleted only in folders held (a link in place of one is left alone with
// all it reaches), and none that is a reparse point. Reports nothing; a row
// whose path does not fit PATH_CAPACITY is skipped.
void RemoveExtractedFiles(OwnFolders& folders);

// Sets LanguageIndex from the command line's last byte or, failing that,
// from the installed game's language setting.
void ChooseLanguage(const char* commandLine);
// The installed game's language setting as a LanguageIndex; 0 when none.
int32_t ReadLanguageSetting();
// True when the game's uninstall key opens; then buffer holds the game's
// folder with a trailing backslash.
bool FindInstalledGameFolder(char* buffer, size_t capacity);
