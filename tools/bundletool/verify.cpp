// verify: every entry decoded and checked, the layout held against the
// launcher's entry table, and the file as a whole (examine.h).
#include <cstring>
#include <memory>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/check_record.h"
#include "bundle/format/crc32.h"
#include "bundle/format/lzss.h"
#include "bundle/format/signed_file.h"
#include "examine.h"
#include "json_report.h"
#include "layout.h"
#include "report.h"
#include "scanned_bundle.h"
#include "whole_file.h"

namespace bundletool {

namespace {

void VerifyCheckRecord(const ScannedBundle& scanned, const EntryView& e, const std::string& what, VerifyReport& report) {
  if (e.shadowedBy >= 0) {
    report.Warning(what, "an older check record, shadowed by #" + std::to_string(e.shadowedBy + 1));
  } else if (scanned.diagnosis.status == bundle::ScanStatus::Ok && !scanned.checked) {
    report.Warning(what, "a check record of another version: the launcher does not check the entries");
  } else if (scanned.diagnosis.status == bundle::ScanStatus::Ok) {
    report.Ok(what, "check record, " + std::to_string(e.record.dataSize) + " bytes");
  }
}

// A block: decodes, matches its CRC, and what its content is. clean is
// cleared by any finding.
ProgramSignature VerifyBlock(InputFile& file, const EntryView& e, const std::string& what, bool clean,
                             VerifyReport& report) {
  const Decoded decoded = DecodeBlock(file, e);
  if (!decoded.ok) {
    report.Problem(what, decoded.problem);
    return ProgramSignature::NotProgram;
  }
  const std::string damage = CrcProblem(e, bundle::Crc32(decoded.bytes.data(), decoded.bytes.size()));
  if (!damage.empty()) {
    report.Problem(what, damage);
    return ProgramSignature::NotProgram;
  }
  if (decoded.trailingBytes > 0) {
    report.Warning(what, std::to_string(decoded.trailingBytes) +
                             " bytes after the end of the stream, which the launcher ignores");
  } else if (clean) {
    report.Ok(what, "compressed, " + std::to_string(e.record.dataSize) + " -> " + std::to_string(e.decodedSize) +
                        " bytes" + (e.hasCrc ? ", CRC-32 " + Hex32(e.crc) : ""));
  }
  return SignatureOfHead(decoded.bytes.data(), decoded.bytes.size(), decoded.bytes.size());
}

ProgramSignature VerifyStored(InputFile& file, const EntryView& e, const std::string& what, bool clean,
                              VerifyReport& report) {
  if (e.record.dataSize >= int32_t(bundle::BLOCK_SIGNATURE_LENGTH) &&
      e.record.dataSize < int32_t(bundle::BLOCK_HEADER_SIZE)) {
    char head[bundle::BLOCK_SIGNATURE_LENGTH];
    file.ReadExactly(uint64_t(e.record.dataStart), head, sizeof head);
    if (std::memcmp(head, bundle::BLOCK_SIGNATURE, sizeof head) == 0) {
      report.Warning(what, "starts with the block signature but is shorter than a block header; written unchanged");
      clean = false;
    }
  }
  if (e.hasCrc) {
    uint32_t crc = 0;
    ForEachPiece(file, e, [&](const uint8_t* piece, size_t n) { crc = bundle::Crc32(piece, n, crc); });
    const std::string damage = CrcProblem(e, crc);
    if (!damage.empty()) {
      report.Problem(what, damage);
      return ProgramSignature::NotProgram;
    }
  }
  if (clean) {
    report.Ok(what, "stored, " + std::to_string(e.record.dataSize) + " bytes" +
                        (e.hasCrc ? ", CRC-32 " + Hex32(e.crc) : ""));
  }
  return SignatureOfRange(file, uint64_t(e.record.dataStart), uint64_t(e.record.dataSize));
}

// Whether a record that the launcher copies unchanged, though it begins
// with a block header, was packed as a block: the check record's CRC-32 is
// that of its decoded content, not of its bytes. Without a check record it
// is taken as the launcher takes it, a stored file.
bool PackedAsBlock(InputFile& file, const EntryView& e) {
  if (!e.signature || e.block || !e.hasCrc) return false;
  uint32_t crc = 0;
  ForEachPiece(file, e, [&](const uint8_t* piece, size_t n) { crc = bundle::Crc32(piece, n, crc); });
  if (crc == e.crc) return false;
  const Decoded decoded = DecodeBlock(file, e);
  return decoded.ok && bundle::Crc32(decoded.bytes.data(), decoded.bytes.size()) == e.crc;
}

// One entry the launcher would write: its name, whether it is read, its
// content. Returns what the content is, for the programs' warning.
ProgramSignature VerifyEntry(InputFile& file, const EntryView& e, const std::string& what, VerifyReport& report) {
  bool clean = true;
  if (const char* problem = bundle::CheckEntryName(e.name)) {
    report.Problem(what, std::string("the launcher cannot write this name: ") + problem);
    clean = false;
  }
  if (e.shadowedBy >= 0) {
    report.Warning(what, "shadowed by #" + std::to_string(e.shadowedBy + 1) +
                             " of the same name, stored later; the launcher never reads it");
    clean = false;
  }
  const ProgramSignature signature =
      e.block ? VerifyBlock(file, e, what, clean, report) : VerifyStored(file, e, what, clean, report);
  return e.shadowedBy >= 0 ? ProgramSignature::NotProgram : signature;
}

// The bundle against the launcher's entry table, and the program as a
// launcher; only for a bundle read to its start.
void VerifyLayout(const ScannedBundle& scanned, const FileFacts& facts, const ExamineOptions& options,
                  VerifyReport& report) {
  if (options.anyLayout) {
    report.Note(std::string("layout: ") + ANY_LAYOUT_NOTE +
                "; an entry is taken for a compressed block when it begins with a block header");
    return;
  }
  if (scanned.diagnosis.status != bundle::ScanStatus::Ok) return;
  std::vector<LayoutEntry> entries;  // in bundle order: the scan's reversed
  for (auto e = scanned.entries.rbegin(); e != scanned.entries.rend(); ++e) {
    if (!e->checkRecord) entries.push_back({e->name, e->block});
  }
  const std::vector<LayoutProblem> problems = LayoutProblems(entries);
  for (const LayoutProblem& problem : problems) report.Problem("layout", problem.text);
  const std::string markProblem = MarkProblem(facts.mark);
  if (facts.machine.empty()) {
    report.Problem("program", "it is " + facts.program + ", not a launcher (a PE GUI program for i386 or amd64)");
  } else if (!markProblem.empty()) {
    report.Problem("program", "it is " + facts.program + " that " + markProblem);
  }
  if (problems.empty() && !facts.machine.empty() && markProblem.empty()) {
    report.Ok("layout", "the launcher's entry table, every row as it reads it; the program is " + facts.program +
                            ", a launcher of this entry table");
  }
}

// What concerns the file as a whole: the scan's end, the check record, the
// signature and a certificate table that does not make one.
void VerifyWholeFile(InputFile& file, const ScannedBundle& scanned, VerifyReport& report) {
  if (scanned.diagnosis.status != bundle::ScanStatus::Ok) {
    report.Problem("", DiagnosisText(scanned.diagnosis));
  } else if (!scanned.hasCheckRecord) {
    report.Warning("", "no check record: the launcher cannot tell a damaged copy (pack again to add one)");
  }
  if (scanned.diagnosis.signature) {
    const bool checked = scanned.diagnosis.status == bundle::ScanStatus::Ok && report.Problems().empty();
    report.Ok("", SignatureText(scanned, file.FullSize(), checked ? SignatureClaim::Checked : SignatureClaim::Damaged));
  } else {
    report.Warning("", "the launcher is not signed: SmartScreen warns of an unsigned download (sign it after "
                       "packing)");
    if (scanned.diagnosis.status == bundle::ScanStatus::Ok && scanned.diagnosis.bundleEnd < file.FullSize()) {
      report.Ok("", SignatureText(scanned, file.FullSize(), SignatureClaim::Unchecked));
    }
  }
  const bundle::CertificateDirectory directory = bundle::ReadCertificateDirectory(file, file.Size());
  if (!scanned.diagnosis.signature && directory.found && (directory.tableStart != 0 || directory.tableSize != 0)) {
    report.Warning("", "the PE headers name a certificate table at " + std::to_string(directory.tableStart) +
                           " of " + std::to_string(directory.tableSize) +
                           " bytes, which does not end the file: no signature of this file");
  }
}

}  // namespace

int RunVerify(const std::string& path, const ExamineOptions& options, Console& console) {
  VerifyReport report(path, options, console);
  JsonFindings findings{"verify", path};
  findings.layout = options.anyLayout ? "any" : "launcher";
  std::unique_ptr<InputFile> file;
  ScannedBundle scanned;
  FileFacts facts;
  std::vector<std::string> failures;  // what was thrown: a file that cannot be read, no memory
  const bool finished = Attempt(console, failures, [&] {
    // 1. The scan, as the launcher's.
    file = std::make_unique<InputFile>(path);
    findings.file = file.get();
    scanned = Scan(*file, !options.anyLayout);
    findings.scanned = &scanned;
    facts = FactsOf(*file, scanned);
    findings.facts = &facts;
    if (scanned.diagnosis.status == bundle::ScanStatus::NoBundle) {
      report.Problem("", NoBundleText(*file, scanned));
      return;
    }
    if (!options.json) {
      console.Report() << path << ": " << Entries(scanned.entries.size()) << " behind " << facts.program << "\n";
    }

    // 2. Every entry, in scan order; first, a block in a row the launcher
    // copies unchanged, told from a stored file that begins as a block does.
    for (EntryView& e : scanned.entries) e.block = e.block || PackedAsBlock(*file, e);
    std::vector<std::string> unsignedPrograms;
    for (size_t i = 0; i < scanned.entries.size(); ++i) {
      const EntryView& e = scanned.entries[i];
      const std::string what = "#" + std::to_string(i + 1) + " " + DisplayName(e.name);
      if (e.checkRecord) {
        VerifyCheckRecord(scanned, e, what, report);
      } else if (VerifyEntry(*file, e, what, report) == ProgramSignature::Unsigned) {
        unsignedPrograms.push_back(DisplayName(e.name));
      }
    }

    // 3. The programs the launcher would start unsigned, named once.
    if (!unsignedPrograms.empty()) {
      std::string names;
      for (const std::string& name : unsignedPrograms) names += (names.empty() ? "" : ", ") + name;
      report.Warning("", "unsigned program" + std::string(unsignedPrograms.size() == 1 ? "" : "s") + " " + names +
                             ": " + UNSIGNED_PROGRAM_RISK + " (sign them before packing)");
    }

    // 4. The layout and the file as a whole.
    VerifyLayout(scanned, facts, options, report);
    VerifyWholeFile(*file, scanned, report);
    if (options.json) findings.programs = ProgramWords(*file, scanned);
  });

  // 5. The verdict.
  findings.problems = report.Problems();
  findings.problems.insert(findings.problems.end(), failures.begin(), failures.end());
  findings.warnings = report.Warnings();
  findings.failed = !finished || report.Failed();
  if (options.json) {
    WriteJson(console.out, findings);
  } else if (finished && scanned.diagnosis.status != bundle::ScanStatus::NoBundle) {
    const size_t problems = report.Problems().size(), warnings = report.Warnings().size();
    console.Report() << (report.Failed() ? "failed: " : "ok: ") << Entries(scanned.entries.size()) << ", "
                     << problems << " problem" << (problems == 1 ? "" : "s") << ", " << warnings << " warning"
                     << (warnings == 1 ? "" : "s") << (options.strict && warnings ? " (--strict)" : "") << "\n";
  }
  return findings.failed ? 1 : 0;
}

}  // namespace bundletool
