#include "programs.h"

#include <algorithm>
#include <vector>

#include "bundle/format/bundle_scan.h"
#include "bundle/format/signed_file.h"

namespace bundletool {

const char* const UNSIGNED_PROGRAM_RISK =
    "programs started from the temporary folder are blocked by Smart App Control and flagged by SmartScreen "
    "unless signed";

ProgramSignature SignatureOfHead(const uint8_t* head, size_t headLength, uint64_t fileSize) {
  // Headers past the head read as a failure, and a file of 4 GiB or more
  // cannot be a bundle entry: both are left out rather than guessed at.
  if (fileSize > 0xFFFFFFFFu) return ProgramSignature::NotProgram;
  bundle::MemorySource source(head, uint32_t(std::min<uint64_t>(headLength, fileSize)));
  const bundle::CertificateDirectory directory = bundle::ReadCertificateDirectory(source, uint32_t(fileSize));
  if (!directory.peImage) return ProgramSignature::NotProgram;
  const bool covered = directory.found && directory.tableSize != 0 &&
                       uint64_t(directory.tableStart) + directory.tableSize == fileSize;
  return covered ? ProgramSignature::Signed : ProgramSignature::Unsigned;
}

ProgramSignature SignatureOfRange(InputFile& file, uint64_t start, uint64_t size) {
  std::vector<uint8_t> head(size_t(std::min<uint64_t>(size, PROGRAM_HEAD_SIZE)));
  file.ReadExactly(start, head.data(), head.size());
  return SignatureOfHead(head.data(), head.size(), size);
}

const char* SignatureWord(ProgramSignature signature) {
  switch (signature) {
    case ProgramSignature::Signed: return "signed";
    case ProgramSignature::Unsigned: return "unsigned";
    case ProgramSignature::NotProgram: break;
  }
  return "-";
}

}  // namespace bundletool
