// list, extract and verify: a launcher's bundle as the launcher sees it,
// through the same backward scan and the same LZSS kernel. Each command is a
// file of its own (list.cpp, extract.cpp, verify.cpp) over what they share:
// the scanned bundle (scanned_bundle.h), what is said of the whole file
// (whole_file.h), verify's findings (report.h) and the JSON object
// (json_report.h).
#pragma once

#include <string>
#include <vector>

#include "support.h"

namespace bundletool {

struct ExamineOptions {
  bool json = false;       // the report as one JSON object on out
  bool strict = false;     // verify: a warning fails it too
  bool anyLayout = false;  // verify: not held against the launcher's entry table
};

// Prints the entries in scan order (the record stored last first), marking
// those that a later record of the same name shadows, and what the program
// in front of them is. Returns the exit code: 0, or 1 when the file carries
// no bundle or a damaged one (the entries read before the damage are still
// listed).
int RunList(const std::string& path, const ExamineOptions& options, Console& console);

// Writes the named entries (all when names is empty) into folder, decoded,
// under their stored names converted to UTF-8. A name stored twice yields the
// entry the launcher reads. Each file appears whole or not at all; the bundle
// itself is never overwritten. Returns 0, or 1 when an entry was missing,
// damaged or unsafe to write (the other entries are still written). Throws
// ToolError when the file carries no bundle or a damaged one.
int RunExtract(const std::string& path, const std::string& folder, const std::vector<std::string>& names,
               Console& console);

// Walks the bundle and decodes every block, and holds the bundle against the
// launcher's entry table and the program as a launcher (unless anyLayout).
// Problems (damage: no bundle, a record that does not fit the file, a stream
// that ends early, a CRC that does not match, an unusable name; a layout the
// launcher cannot install) make the result 1; what the launcher tolerates
// (bytes after a stream's end, shadowed names, no check record) and what a
// publisher should mend (unsigned programs, an unsigned launcher) are warned
// of and leave it 0, unless strict. Sound findings are the report on
// out, problems and warnings go to err.
int RunVerify(const std::string& path, const ExamineOptions& options, Console& console);

}  // namespace bundletool
