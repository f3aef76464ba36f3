// What the bundle tool needs of the operating system, one implementation per
// system (platform_posix.cpp, platform_windows.cpp): files named by UTF-8
// paths, outputs that replace their target whole or leave nothing, and
// terminal detection. Everything above this layer is the same code on every
// system, so the tool's messages and output bytes are too.
//
// Failures return false (or NO_FILE) and leave the reason for LastProblem(),
// which speaks the C library's words ("No such file or directory") on every
// system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bundletool::platform {

using FileHandle = intptr_t;
constexpr FileHandle NO_FILE = -1;

// The text of the last failure of a call below.
std::string LastProblem();

// True for a character that separates folders in a path: '/', and on
// Windows '\' as well.
bool IsSeparator(char c);
// True for a path that does not continue base: it starts at a root (or, on
// Windows, with a drive).
bool IsRooted(const std::string& path);

// An existing file (or folder) opened for reading, without ever waiting: a
// FIFO that no process writes, or a device, opens at once, for QueryFile to
// tell apart.
FileHandle OpenForReading(const std::string& path);
// The standard input, for a stream the caller reads to its end.
FileHandle StandardInput();

// What a file's handle tells of it.
struct FileState {
  uint64_t size = 0;
  bool regular = false;  // a plain file on a disk
  bool stream = false;   // a pipe or FIFO, read only front to back
  const char* kind = "";  // for a message, when not regular: "a folder", "a FIFO"...
  // Moves whenever the file's content or size is written: its modification
  // and change times, as the system keeps them.
  uint64_t written = 0, changed = 0;
};
bool QueryFile(FileHandle file, FileState& state);
// Reads a stream to its end, waiting for more only while a writer holds it
// open: a FIFO that no process writes gives its end at once. False on a read
// failure, or when more than limit bytes come.
bool ReadStream(FileHandle file, std::vector<uint8_t>& bytes, size_t limit);
// Reads up to count bytes at position; the number read (0 at the end), or -1.
int64_t ReadAt(FileHandle file, uint64_t position, void* buffer, size_t count);
// Writes up to count bytes at the current end; the number written, or -1.
int64_t Write(FileHandle file, const void* data, size_t count);
// Closes the file (keeping LastProblem); false when the close reported a failure.
bool Close(FileHandle file);

// An output being written for the file base in folder: a new file that no
// other process sees under that name, and that goes when the run ends
// without PlaceOutput, however it ends (a failure, Ctrl+C, a kill). On
// Windows a hidden-named file marked for deletion through its handle (a run
// ended between its unmarking and the move in place leaves it to the next
// run); elsewhere an unnamed file where the file system allows one, else a
// hidden file locked while the run lasts. Hidden files are named
// ".BASE.bundletool-XXXXXX"; those of earlier runs for the same output that
// no running tool holds are removed first. Returns the handle, with the
// hidden name in temporary (empty for an unnamed file), or NO_FILE.
FileHandle CreateOutput(const std::string& folder, const std::string& base, std::string& temporary);
// Flushes the output to the disk and gives it the permission bits mode where
// the system has them.
bool FinishOutput(FileHandle file, unsigned mode);
// Puts the output in place as base in folder, replacing a file there in one
// step, and closes it; on a failure the output is discarded.
bool PlaceOutput(FileHandle file, std::string& temporary, const std::string& folder, const std::string& base);
// Closes the output and removes it.
void DiscardOutput(FileHandle file, std::string& temporary);

// The start of the hidden names of outputs for base, for a file system whose
// names hold at most maxName units (bytes; UTF-16 units on Windows): the
// whole of ".BASE.bundletool-" when six more units fit, else BASE cut at a
// character and followed by "~" and the FNV-1a hash of the whole of it.
std::string HiddenPrefix(const std::string& base, size_t maxName);
// The length of UTF-8 text in the units this system's names are limited in.
size_t NameUnits(const std::string& utf8);
// True for a name that is exactly prefix followed by the six letters or
// digits of a hidden output: the only names the clean-up removes.
bool IsHiddenOutputName(const std::string& name, const std::string& prefix);

// Creates a folder; true also when it exists already.
bool MakeFolder(const std::string& path);
// The permission bits of path, or 0755 when it has none to give.
unsigned PermissionsOf(const std::string& path);
// True when both paths exist and name one file (through links too).
bool SameFile(const std::string& a, const std::string& b);

// The program's arguments in UTF-8: argv as given on POSIX systems; on
// Windows the wide command line converted, so that any character survives.
std::vector<std::string> ProgramArguments(int argc, char** argv);
// Standard output and error take bytes unchanged (no CR added before LF, so
// reports are the same bytes everywhere), and a console shows them as UTF-8
// where it can. Call once, before anything is written.
void PrepareStandardStreams();

// Whether standard error is a terminal, where a progress line may be drawn.
bool StandardErrorIsTerminal();

#ifdef _WIN32
// The form of a UTF-8 path that the wide file calls take at any length: the
// full path (GetFullPathNameW) behind \\?\, or \\?\UNC\ for \\server\share;
// a device (\\.\NUL) or a path in that form already stays as it is. False,
// with ERROR_NO_UNICODE_TRANSLATION kept for LastProblem, for a path that is
// not UTF-8: it names no file, and never another.
bool ExtendedPath(const std::string& path, std::wstring& extended);
#endif

inline std::string HiddenPrefix(const std::string& base, size_t maxName) {
  static const char TAIL[] = ".bundletool-";
  constexpr size_t SUFFIX = 6, TAIL_UNITS = sizeof TAIL - 1, HASH_UNITS = 9;  // "~" and eight digits
  if (1 + NameUnits(base) + TAIL_UNITS + SUFFIX <= maxName) return "." + base + TAIL;
  uint32_t hash = 2166136261u;
  for (unsigned char c : base) hash = (hash ^ c) * 16777619u;
  char digits[16];
  std::snprintf(digits, sizeof digits, "~%08x", unsigned(hash));
  const size_t budget = maxName > 1 + HASH_UNITS + TAIL_UNITS + SUFFIX ? maxName - (1 + HASH_UNITS + TAIL_UNITS + SUFFIX) : 0;
  // Whole characters only: a UTF-8 sequence is cut before its lead byte.
  size_t end = 0;
  for (size_t next = 0; next < base.size();) {
    size_t length = 1;
    while (next + length < base.size() && (uint8_t(base[next + length]) & 0xC0) == 0x80) ++length;
    if (NameUnits(base.substr(0, next + length)) > budget) break;
    next += length;
    end = next;
  }
  return "." + base.substr(0, end) + digits + TAIL;
}

inline bool IsHiddenOutputName(const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

}  // namespace bundletool::platform
