#include "launcher/launcher.h"

const EntryRow EntryTable[ENTRY_COUNT + 1] = {
    {"i_autorun.exe", "ZEQXPC\\", ENTRY_EXTRACT},
    {"autorun.exe", "ZEQXPC\\", ENTRY_EXTRACT},
    {"setup.exe", "ZEQXPC\\", ENTRY_EXTRACT},
    {"unsetup.exe", "ZEQXPC\\", ENTRY_EXTRACT},
    {"zephra.exe", "ZEQXPC\\", ENTRY_EXTRACT},
    {"system.dat", "ZEQXPC\\", ENTRY_EXTRACT | ENTRY_STREAMED},
    {"readme_traial.txt", "ZEQXPC\\", ENTRY_EXTRACT | ENTRY_READ_ONLY},
    {"inst_bgm.dat", "ZEQXPC\\", ENTRY_EXTRACT | ENTRY_STREAMED},
    {"inst_se.dat", "ZEQXPC\\", ENTRY_EXTRACT | ENTRY_STREAMED},
    {"inst_voice_jp.dat", "ZEQXPC\\", ENTRY_EXTRACT | ENTRY_STREAMED},
    {"", "", 0},
};

const char* const CleanupFolders[CLEANUP_FOLDER_COUNT + 1] = {"ZEQXPC", nullptr};
