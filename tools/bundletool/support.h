// What the bundle tool's commands share: failures that name their file, input
// files, outputs that appear whole or not at all, name conversion to and from
// code page 932, and progress on a terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/format/bundle_scan.h"
#include "cp932.h"

namespace bundletool {

// A failure to report as "bundletool: FILE: PROBLEM" with exit code 1.
class ToolError : public std::runtime_error {
 public:
  ToolError(const std::string& file, const std::string& problem)
      : std::runtime_error(file + ": " + problem), file(file), problem(problem) {}
  const std::string& File() const { return file; }
  const std::string& Problem() const { return problem; }

 private:
  std::string file;
  std::string problem;
};

// Several failures found in one run, each reported as a ToolError is.
class ToolErrors : public std::runtime_error {
 public:
  explicit ToolErrors(std::vector<ToolError> errors)
      : std::runtime_error(errors.empty() ? "" : errors.front().what()), errors(std::move(errors)) {}
  const std::vector<ToolError>& Errors() const { return errors; }

 private:
  std::vector<ToolError> errors;
};

// Throws errors: as the one ToolError, or as ToolErrors; nothing when empty.
void ThrowAll(const std::vector<ToolError>& errors);

// Where a command writes: its report on out; its problems and warnings on
// err; a progress line on err only when it is a terminal. Quiet leaves only
// the problems: no report, no warning, no progress.
struct Console {
  std::ostream& out;
  std::ostream& err;
  bool progress = false;
  bool quiet = false;

  // "bundletool: FILE: TEXT", always.
  void Problem(const std::string& file, const std::string& text) const;
  // "bundletool: FILE: warning: TEXT", unless quiet.
  void Warning(const std::string& file, const std::string& text) const;
  // The report's stream, or a stream that drops everything when quiet.
  std::ostream& Report() const;
};

// A file opened for reading, and a ByteSource for the bundle scan.
class InputFile : public bundle::ByteSource {
 public:
  explicit InputFile(const std::string& path);  // throws ToolError
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& Path() const { return path; }
  uint64_t FullSize() const { return size; }
  // The scan's view: the size, or 0xFFFFFFFF for a file of 4 GiB or more,
  // which the scan then refuses as too large.
  uint32_t Size() override { return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(size); }
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override;
  // Reads exactly count bytes at position; throws ToolError otherwise.
  void ReadExactly(uint64_t position, void* buffer, size_t count);
  // True when the file still ends where it ended when opened, and neither
  // its size nor its modification or change time has moved since: what was
  // read of it is the file as it stands.
  bool Unchanged();

 private:
  std::string path;
  intptr_t file;  // platform::FileHandle
  uint64_t size = 0;
  uint64_t written = 0, changed = 0;  // platform::FileState at opening
};

// Reads a whole file; throws ToolError.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// An output that replaces path only when complete: the bytes go to a file
// no other process sees under path's name (platform::CreateOutput), which
// Commit puts in place. Without Commit (a failure, an exception, an
// interrupt, a kill) it goes and path stays as it was.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);  // throws ToolError
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const void* data, size_t size);  // throws ToolError naming path
  uint64_t Written() const { return written; }
  // Flushes, gives the file the permission bits mode (where the system has
  // them) and puts it in place as path.
  void Commit(unsigned mode = 0644);

 private:
  std::string path;
  std::string folder, base;
  std::string temporary;
  intptr_t file;  // platform::FileHandle
  uint64_t written = 0;
};

// Throws ToolError when output names the same file as one of inputs (also
// through another path or a link), so that no input is ever overwritten.
void RefuseOverwritingInput(const std::string& output, const std::vector<std::string>& inputs);

// Paths as the host writes them: the folder a path lies in ("." for a bare
// name), its last part, and a path continued from a folder (a rooted path
// stays as it is).
std::string FolderOf(const std::string& path);
std::string LastPartOf(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& path);

// Creates folder unless it exists; throws ToolError.
void MakeFolder(const std::string& folder);
// The permission bits to give an output made from path.
unsigned PermissionsOf(const std::string& path);
// A stored name for display: its UTF-8 form, or its bytes with \xNN escapes.
std::string DisplayName(const std::string& cp932);

// Where the program in front of a bundle that the scan read as sound ends:
// at its start marker, four bytes before the data of the record stored first
// (the scan's last), or, in a bundle of no records, four bytes before its end.
inline uint64_t ProgramLength(const bundle::ScanDiagnosis& diagnosis, const std::vector<bundle::BundleEntry>& records) {
  return records.empty() ? diagnosis.bundleEnd - 4 : uint64_t(records.back().dataStart) - 4;
}

// part as a percentage of whole with one decimal ("41.5%"), or "-" when
// whole is 0.
std::string Percent(uint64_t part, uint64_t whole);

// Columns text takes on a terminal: one per character, two for the wide
// (CJK) ones; a byte that is no part of well-formed UTF-8 takes one.
size_t DisplayWidth(const std::string& utf8);
// text padded with blanks to width columns, on the right or the left.
std::string PadRight(const std::string& text, size_t width);
std::string PadLeft(const std::string& text, size_t width);

// One progress line, redrawn in place on a terminal; silent otherwise. It
// is drawn with carriage returns and blanks alone, no escape sequences, so
// that every console shows it as it is meant.
class Progress {
 public:
  explicit Progress(Console& console) : console(console) {}
  ~Progress() { Finish(); }
  void Show(const std::string& label, uint64_t done, uint64_t total);
  void Finish();

 private:
  Console& console;
  size_t drawnWidth = 0;
  int lastPercent = -1;
  std::string lastLabel;
};

}  // namespace bundletool
