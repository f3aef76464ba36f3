// What list and verify say of a file as a whole: why it holds no bundle the
// launcher reads, what its program is, and what its end (a signature, or
// none) says of the bundle.
#pragma once

#include <cstdint>
#include <string>

#include "bundle/format/bundle_scan.h"
#include "programs.h"
#include "scanned_bundle.h"
#include "support.h"

namespace bundletool {

// The scan's verdict on a file that it did not read as a sound bundle.
std::string DiagnosisText(const bundle::ScanDiagnosis& d);

// Why a file holds no bundle the launcher reads, as precisely as the file
// tells: too large for the launcher, cut short, a bare launcher, or none.
std::string NoBundleText(InputFile& file, const ScannedBundle& scanned);

// How far the signature's line may vouch for the bundle (SignatureText).
enum class SignatureClaim {
  Checked,    // read whole and checked by verify without a problem
  Unchecked,  // read whole by list, which checks no entry
  Damaged,    // the bundle is damaged
};

// What list and verify say of the whole file: its program and signature.
struct FileFacts {
  std::string program;  // DescribeProgram of its headers
  std::string machine;  // LauncherMachine: "i386", "amd64" or empty
  bool signedFile;
  MarkFinding mark;     // the launcher's marker, as far as the program is one
};

FileFacts FactsOf(InputFile& file, const ScannedBundle& scanned);

// What list and verify say about the file's end. Only of a bundle read whole
// and, by verify, checked without a problem does it say that the bundle lies
// in the part the signature covers: list checks no entry, and of a damaged
// bundle that claim would read as the signature vouching for it.
std::string SignatureText(const ScannedBundle& scanned, uint64_t fileSize, SignatureClaim claim);

}  // namespace bundletool
