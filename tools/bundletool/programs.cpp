#include "programs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bundle/format/bundle_scan.h"
#include "bundle/format/signed_file.h"
#include "common/launcher_marker.h"

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

namespace {

constexpr uint16_t MACHINE_I386 = 0x14C;
constexpr uint16_t MACHINE_AMD64 = 0x8664;
constexpr uint16_t SUBSYSTEM_GUI = 2;
constexpr uint16_t SUBSYSTEM_CONSOLE = 3;
constexpr uint16_t CHARACTERISTICS_DLL = 0x2000;

}  // namespace

ProgramHeaders ReadProgramHeaders(InputFile& file) {
  ProgramHeaders h;
  std::vector<uint8_t> head(size_t(std::min<uint64_t>(file.FullSize(), PROGRAM_HEAD_SIZE)));
  file.ReadExactly(0, head.data(), head.size());
  const uint64_t size = head.size();
  if (size < 0x40 || head[0] != 'M' || head[1] != 'Z') return h;
  const uint64_t nt = bundle::LoadLe32(&head[0x3C]);
  if (nt + 24 > size || std::memcmp(&head[size_t(nt)], "PE\0\0", 4) != 0) return h;
  h.pe = true;
  const uint8_t* fileHeader = &head[size_t(nt) + 4];
  h.machine = bundle::LoadLe16(fileHeader);
  const uint16_t sections = bundle::LoadLe16(fileHeader + 2);
  const uint16_t optionalSize = bundle::LoadLe16(fileHeader + 16);
  h.characteristics = bundle::LoadLe16(fileHeader + 18);
  const uint64_t optional = nt + 24;
  const uint64_t table = optional + optionalSize;
  if (optionalSize < 70 || table + uint64_t(sections) * 40 > size) return h;
  h.magic = bundle::LoadLe16(&head[size_t(optional)]);
  h.subsystem = bundle::LoadLe16(&head[size_t(optional) + 68]);
  h.imageEnd = bundle::LoadLe32(&head[size_t(optional) + 60]);  // SizeOfHeaders
  for (uint16_t i = 0; i < sections; ++i) {
    const uint8_t* section = &head[size_t(table) + 40 * i];
    const uint32_t rawSize = bundle::LoadLe32(section + 16), rawStart = bundle::LoadLe32(section + 20);
    if (rawSize != 0) h.imageEnd = std::max<uint64_t>(h.imageEnd, uint64_t(rawStart) + rawSize);
  }
  h.complete = true;
  return h;
}

std::string LauncherMachine(const ProgramHeaders& h) {
  if (!h.complete || h.subsystem != SUBSYSTEM_GUI || (h.characteristics & CHARACTERISTICS_DLL)) return "";
  if (h.machine == MACHINE_I386 && h.magic == bundle::PE32_MAGIC) return "i386";
  if (h.machine == MACHINE_AMD64 && h.magic == bundle::PE32_PLUS_MAGIC) return "amd64";
  return "";
}

std::string DescribeProgram(const ProgramHeaders& h) {
  if (!h.pe) return "not a program (no PE headers)";
  if (!h.complete) return "a program whose headers do not fit in its first " + std::to_string(PROGRAM_HEAD_SIZE) + " bytes";
  const std::string format = h.magic == bundle::PE32_MAGIC        ? "PE32"
                             : h.magic == bundle::PE32_PLUS_MAGIC ? "PE32+"
                                                                  : "PE";
  const std::string kind = (h.characteristics & CHARACTERISTICS_DLL) ? "DLL"
                           : h.subsystem == SUBSYSTEM_GUI           ? "GUI program"
                           : h.subsystem == SUBSYSTEM_CONSOLE       ? "console program"
                                                                    : "program of subsystem " + std::to_string(h.subsystem);
  char machine[16];
  std::snprintf(machine, sizeof machine, "machine 0x%04X", h.machine);
  const std::string target = h.machine == MACHINE_I386 ? "i386" : h.machine == MACHINE_AMD64 ? "amd64" : machine;
  return "a " + format + " " + kind + " for " + target;
}

MarkFinding FindLauncherMark(InputFile& file, const ProgramHeaders& headers) {
  MarkFinding finding;
  if (!headers.complete) return finding;
  // The marker lies in the launcher's read-only data, inside its image;
  // the image is read in pieces that overlap by a marker less one byte.
  const uint64_t end = std::min(headers.imageEnd, file.FullSize());
  constexpr size_t PIECE = size_t(1) << 20, SIZE = sizeof(LauncherMarker);
  std::vector<uint8_t> piece(PIECE + SIZE);
  for (uint64_t start = 0; start + SIZE <= end; start += PIECE) {
    const size_t length = size_t(std::min<uint64_t>(end - start, piece.size()));
    file.ReadExactly(start, piece.data(), length);
    for (size_t at = 0; at + SIZE <= length && at < PIECE; ++at) {
      if (std::memcmp(&piece[at], LAUNCHER_MARKER_MAGIC, sizeof LAUNCHER_MARKER_MAGIC) != 0) continue;
      finding.version = bundle::LoadLe32(&piece[at + 16]);
      finding.digest = bundle::LoadLe32(&piece[at + 20]);
      const bool same = finding.version == LAUNCHER_MARKER_VERSION && finding.digest == ENTRY_TABLE_DIGEST;
      finding.mark = same ? LauncherMark::ThisTable : LauncherMark::OtherTable;
      return finding;
    }
  }
  return finding;
}

const char* MarkWord(LauncherMark mark) {
  switch (mark) {
    case LauncherMark::ThisTable: return "this-table";
    case LauncherMark::OtherTable: return "other-table";
    case LauncherMark::None: break;
  }
  return "none";
}

namespace {

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", unsigned(value));
  return text;
}

}  // namespace

std::string MarkProblem(const MarkFinding& finding) {
  switch (finding.mark) {
    case LauncherMark::ThisTable: return "";
    case LauncherMark::OtherTable:
      return "is a launcher for another entry table (its marker: version " + std::to_string(finding.version) +
             ", digest " + Hex32(finding.digest) + "; this tool's: version " +
             std::to_string(LAUNCHER_MARKER_VERSION) + ", digest " + Hex32(ENTRY_TABLE_DIGEST) +
             "): pack it with the bundletool of its own release";
    case LauncherMark::None: break;
  }
  return "carries no launcher marker (is it the installer or another program?)";
}

std::string StubProblem(InputFile& file) {
  const ProgramHeaders headers = ReadProgramHeaders(file);
  const std::string what = "is " + DescribeProgram(headers);
  if (LauncherMachine(headers).empty()) return what + ", not a bare launcher (a PE GUI program for i386 or amd64)";
  const std::string problem = MarkProblem(FindLauncherMark(file, headers));
  return problem.empty() ? "" : what + " that " + problem;
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
