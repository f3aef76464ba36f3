// What the bundle tool needs of the operating system, one implementation per
// system (platform_posix.cpp, platform_windows.cpp): files named by UTF-8
// paths, a temporary file that replaces its target atomically, terminal
// detection and code page 932 names. Everything above this layer is the same
// code on every system, so the tool's messages and output bytes are too.
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

// A new file in folder, named after base and seen by no other process:
// its handle and its path in temporary, or NO_FILE. Until Replace or
// RemoveFile, an interrupt (Ctrl+C, a termination signal) removes it.
FileHandle CreateTemporary(const std::string& folder, const std::string& base, std::string& temporary);
// Flushes the file to the disk and gives it the permission bits mode where
// the system has them. The handle stays open.
bool Finish(FileHandle file, unsigned mode);
// Renames the closed file temporary over target, in one step.
bool Replace(const std::string& temporary, const std::string& target);
bool RemoveFile(const std::string& path);

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

// Conversions of names between UTF-8 and code page 932; false when the text
// has no exact form in the other (no best-fit replacements).
bool Utf8ToCp932(const std::string& utf8, std::string& cp932);
bool Cp932ToUtf8(const std::string& cp932, std::string& utf8);

}  // namespace bundletool::platform
