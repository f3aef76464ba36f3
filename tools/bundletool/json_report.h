// The one JSON object of list --json and verify --json
// (docs/bundletool-json.md), written through JsonWriter.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "scanned_bundle.h"
#include "support.h"
#include "whole_file.h"

namespace bundletool {

// What --json reports: as much as the run learnt before it ended, so that a
// run that fails early still gives its one object. Everything is read before
// the object is written, so that a failed read cannot cut the object short.
struct JsonFindings {
  JsonFindings(const char* command, const std::string& path) : command(command), path(path) {}
  const char* command;                     // "list" or "verify"
  std::string path;
  const InputFile* file = nullptr;         // set once opened
  const ScannedBundle* scanned = nullptr;  // set once scanned
  const FileFacts* facts = nullptr;        // set once the program was read
  std::vector<const char*> programs;       // each entry's SignatureWord, when all were read
  const char* layout = nullptr;            // verify: "launcher" or "any"
  std::vector<std::string> problems, warnings;
  bool failed = false;
};

// Writes f as one JSON object and a line feed.
void WriteJson(std::ostream& out, const JsonFindings& f);

}  // namespace bundletool
