// Programs among the files a bundle carries, and whether each is signed.
// Windows blocks (Smart App Control) or flags (SmartScreen) unsigned programs
// started from the temporary folder, where the launcher writes them, so the
// commands tell the publisher which programs still need a signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support.h"

namespace bundletool {

enum class ProgramSignature {
  NotProgram,  // no PE image
  Unsigned,    // a PE image without a certificate table at its end
  Signed,      // a PE image whose certificate table runs to the end of the file
};

// How much of a file's start is read to tell: the PE headers of a program lie
// near its start (e_lfanew is a few hundred bytes in what linkers write).
constexpr size_t PROGRAM_HEAD_SIZE = 64 * 1024;

// The verdict on a file of fileSize bytes from its first headLength bytes.
// Signed means what the launcher takes for its own signature
// (bundle/format/signed_file.h): data directory entry 4 describes a
// non-empty region that ends exactly at the end of the file. Checking the
// certificates themselves is the signing tool's job.
ProgramSignature SignatureOfHead(const uint8_t* head, size_t headLength, uint64_t fileSize);

// The same for size bytes of file at start (a source, or a stored entry).
ProgramSignature SignatureOfRange(InputFile& file, uint64_t start, uint64_t size);

// What a program's headers say it is, as far as they lie in its first
// PROGRAM_HEAD_SIZE bytes.
struct ProgramHeaders {
  bool pe = false;               // "MZ", e_lfanew and "PE\0\0" lie in the file
  bool complete = false;         // the file and optional headers and the section table too
  uint16_t machine = 0;          // 0x14C i386, 0x8664 amd64
  uint16_t characteristics = 0;  // 0x2000: a DLL
  uint16_t magic = 0;            // 0x10B PE32, 0x20B PE32+
  uint16_t subsystem = 0;        // 2 GUI, 3 console
  uint64_t imageEnd = 0;         // where the headers and the last section's data end
};
ProgramHeaders ReadProgramHeaders(InputFile& file);

// "i386" or "amd64" for a GUI program (not a DLL) of that machine, whose
// optional header has the machine's format: what a launcher is. Empty
// otherwise.
std::string LauncherMachine(const ProgramHeaders& headers);
// What the headers make of the file, for a report: "a PE32 GUI program for
// i386", "a PE32+ console program for amd64", "not a program (no MZ
// header)"...
std::string DescribeProgram(const ProgramHeaders& headers);

// Whether a program is a launcher of the entry table this tool holds bundles
// against, by the marker the launcher carries (common/launcher_marker.h),
// looked for in the program's image without running it.
enum class LauncherMark {
  ThisTable,   // the marker, with this tool's digest of common/entry_rows.def
  OtherTable,  // a marker of another digest or version: a launcher of another build's table
  None,        // no marker: another program (the installer given by mistake...)
};
struct MarkFinding {
  LauncherMark mark = LauncherMark::None;
  uint32_t version = 0;  // the marker's, when found
  uint32_t digest = 0;
};
MarkFinding FindLauncherMark(InputFile& file, const ProgramHeaders& headers);
// "this-table", "other-table" or "none", for the JSON report.
const char* MarkWord(LauncherMark mark);

// Why file cannot be the stub of a launcher this tool packs: not a GUI
// program for i386 or amd64, or one without this entry table's marker. Empty
// when it is a bare launcher of this table (a bundle it may carry is pack's
// question).
std::string StubProblem(InputFile& file);
// What the marker says of a GUI program, for verify: empty for ThisTable.
std::string MarkProblem(const MarkFinding& finding);

// "signed", "unsigned" or "-", for list's column.
const char* SignatureWord(ProgramSignature signature);

// Why an unsigned program matters, for verify's warning and pack's refusal.
extern const char* const UNSIGNED_PROGRAM_RISK;

}  // namespace bundletool
