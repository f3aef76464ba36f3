// The list of entries to pack, from a manifest file or the command line.
//
// Manifest: text, one entry a line, entries in bundle order:
//
//   # comment
//   NAME  SOURCE  compressed|stored   # a comment may follow an entry
//
// Fields are separated by blanks; a field holding blanks is written in
// double quotes. A # that begins a field (outside quotes) begins a comment
// that runs to the end of the line. Blank lines are skipped. SOURCE is a
// path, taken relative to the base folder (the manifest's own folder unless
// --base says otherwise), with \ or / between folders on every system.
// The text is UTF-8, with or without a byte order mark, or UTF-16 with one
// (what Windows editors and PowerShell's > write); lines end in LF or CR LF.
// A missing or extra field, an unknown keyword and text that is not in one
// of these encodings are errors that name the line.
#pragma once

#include <string>
#include <vector>

namespace bundletool {

struct PackEntry {
  std::string name;    // as written, UTF-8
  std::string source;  // host path of the file to store
  bool compressed = false;
  std::string origin;  // the manifest it came from; empty for the command line
  int line = 0;        // its line in the manifest
};

// Entries of the manifest text; manifestPath names it in errors, base is the
// folder SOURCE is relative to. Throws ToolError.
std::vector<PackEntry> ParseManifest(const std::string& text, const std::string& manifestPath,
                                     const std::string& base);

// How a manifest read from the standard input ("-") is named in messages.
extern const char* const STANDARD_INPUT;

// Reads and parses a manifest: a file, a pipe or FIFO read to its end (the
// shell's <(...)), or "-" for the standard input. An empty base means the
// manifest's folder, or for a pipe the current folder.
std::vector<PackEntry> ReadManifest(const std::string& path, const std::string& base);

// A command-line entry "NAME=FILE", or "FILE" stored under its file name.
PackEntry ParseEntryArgument(const std::string& argument, bool compressed);

}  // namespace bundletool
