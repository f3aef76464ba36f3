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
//   file <name> <size> <CRC-32 as 8 hex digits> normal|readonly
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

namespace standin {

// The bundle's ten file names, in the launcher's entry order.
constexpr int PAYLOAD_FILE_COUNT = 10;
extern const char* const PayloadFileNames[PAYLOAD_FILE_COUNT];

// The mutex an installer holds while it must not be disturbed.
constexpr char INSTALLER_MUTEX[] = "ZEPHRA_QX_INST_UNINST_MTX";

// Environment variable naming the control file (see installer/README.md).
constexpr char CONTROL_VARIABLE[] = "ZEPHRA_STANDIN_CONTROL";

// CRC-32 (IEEE, reflected, as zlib's crc32); continue from a previous value.
uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0);

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
