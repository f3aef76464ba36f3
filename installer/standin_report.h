// What the stand-in installer finds and how it writes that down. Shared with
// the scenario tests and the benchmark, which read the report back.
//
// The report is ANSI text (the system code page), one item per line, the
// keyword first; a path is always the last field of its line:
//
//   start_qpc <QueryPerformanceCounter value when the installer started>
//   qpc_frequency <counts per second>
//   self <the installer's own full path>
//   command_line <the command line it was started with>
//   argc <the number of arguments the C runtime found in it, itself counted>
//   mutex created|existed|failed
//   file <name> <size> <CRC-32 as 8 hex digits> normal|readonly   (as zlib's crc32)
//   file <name> missing
//   stray <name>           (every other item in its folder, one line each)
//   child started <process id>                 (only with child_ms)
//   child holds <ms>                           (written by the child)
//   child present <count of the ten files present while it held the mutex>
//   child released|abandoned
//
// The parent writes its lines at once and atomically (to a temporary name,
// then moved), so a reader that sees the report sees it whole; the child
// appends its lines later.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/entry_table.h"
#include "common/names.h"

namespace standin {

// The bundle's file names, in the launcher's entry order (common/entry_rows.def).
constexpr int PAYLOAD_FILE_COUNT = ENTRY_COUNT;
extern const char* const PayloadFileNames[PAYLOAD_FILE_COUNT];

// Environment variable naming the control file (see installer/README.md).
constexpr char CONTROL_VARIABLE[] = "ZEPHRA_STANDIN_CONTROL";

struct FileFacts {
  bool present = false;
  bool readOnly = false;
  uint64_t size = 0;
  uint32_t crc = 0;
};
// Size, CRC-32 and read-only mark of a file; present is false when it cannot
// be opened for reading.
FileFacts InspectFile(const std::string& path);

// The folder part of a path, with its trailing backslash (code-page aware).
std::string FolderOf(const std::string& path);

}  // namespace standin
