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

// An existing file (or folder) opened for reading.
FileHandle OpenForReading(const std::string& path);
// Its size, and whether it is a regular file.
bool QueryFile(FileHandle file, uint64_t& size, bool& regular);
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

}  // namespace bundletool::platform
