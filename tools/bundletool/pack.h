// pack: a launcher with a bundle, from the bare launcher and the entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bundle/format/lzss_encoder.h"
#include "manifest.h"
#include "support.h"

namespace bundletool {

struct PackOptions {
  std::string stub;    // the bare launcher
  std::string output;  // the launcher with its bundle; written whole or not at all
  std::vector<PackEntry> entries;         // in bundle order
  std::vector<std::string> otherInputs;   // further inputs never to overwrite (the manifest)
  uint8_t key = bundle::DEFAULT_BLOCK_KEY;
  bundle::LzssLevel level = bundle::LzssLevel::Optimal;
  bool replace = false;          // a stub that already carries a bundle loses it
  bool allowDuplicates = false;  // a name may be stored twice (the later one wins)
  bool checkRecord = true;       // the check record goes last (off: a bundle as older tools made it)
  bool requireSignedPrograms = false;  // refuse a PE source without a signature
};

// Writes options.output: the stub's program, the start marker, then one
// record per entry, compressed entries as blocks, then the check record.
// Every name, source and size is checked before the output is created; every
// block is decoded again and compared with its source before it is written.
// The steps, as pack.cpp numbers them: 1. the names; 2. the sources open and
// fit (the output being none of the inputs); 3. with requireSignedPrograms,
// no unsigned program among them; 4. the records; 5. the check record;
// 6. the report.
// A stored entry goes through one fixed buffer; a compressed one needs its
// source, its block and the block decoded again in memory. A signature of the
// stub is dropped, with its directory entry cleared, and the console told so:
// appending a bundle would break it. Throws ToolError.
void RunPack(const PackOptions& options, Console& console);

}  // namespace bundletool
