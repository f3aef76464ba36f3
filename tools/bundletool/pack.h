// pack: a launcher with a bundle, from the bare launcher and the entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bundle/format/lzss_encoder.h"
#include "manifest.h"
#include "support.h"

namespace bundletool {

// Bytes kept free below the launcher's 2 GiB limit for the certificate table
// that signing appends (a few KiB for a certificate chain and a timestamp).
constexpr uint64_t DEFAULT_SIGNATURE_RESERVE = 64 * 1024;

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
  bool anyLayout = false;        // not held against the launcher's entry table, any stub
  uint64_t signatureReserve = DEFAULT_SIGNATURE_RESERVE;  // kept below 2 GiB for signing
};

// Writes options.output: the stub's program, the start marker, then one
// record per entry, compressed entries as blocks, then the check record.
// Everything is checked before the output is created, and every fault found
// is reported in one run; every block is decoded again and compared with its
// source before it is written.
// The steps, as pack.cpp numbers them: 1. the names; 2. unless anyLayout,
// the entries against the launcher's entry table and the stub as a bare
// launcher; 3. the sources open and fit, with room for a signature (the
// output being none of the inputs); 4. with requireSignedPrograms, no
// unsigned program among them; 5. the records; 6. the check record; 7. the
// report.
// A stored entry goes through one fixed buffer; a compressed one needs its
// source, its block and the block decoded again in memory. A signature of the
// stub is dropped, with its directory entry cleared, and the console told so:
// appending a bundle would break it. Throws ToolError or ToolErrors.
void RunPack(const PackOptions& options, Console& console);

}  // namespace bundletool
