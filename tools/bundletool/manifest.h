// The list of entries to pack, from a manifest file or the command line.
//
// Manifest: UTF-8 text, one entry a line, entries in bundle order:
//
//   # comment (a line whose first non-blank character is #)
//   NAME  SOURCE  compressed|stored
//
// Fields are separated by blanks; a field holding blanks is written in
// double quotes. SOURCE is a host path, taken relative to the base folder
// (the manifest's own folder unless --base says otherwise). Every line must be
// an entry or a comment: an empty line, a missing or extra field and an
// unknown keyword are errors that name the line.
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

// Reads and parses a manifest file; an empty base means the manifest's folder.
std::vector<PackEntry> ReadManifest(const std::string& path, const std::string& base);

// A command-line entry "NAME=FILE", or "FILE" stored under its file name.
PackEntry ParseEntryArgument(const std::string& argument, bool compressed);

}  // namespace bundletool
