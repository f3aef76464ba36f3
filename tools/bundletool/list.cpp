// list: the entries in the launcher's order and the program in front of them
// (examine.h).
#include <algorithm>
#include <cstdio>
#include <memory>

#include "examine.h"
#include "json_report.h"
#include "report.h"
#include "scanned_bundle.h"
#include "whole_file.h"

namespace bundletool {

namespace {

// list's table, in the launcher's order.
void PrintListing(InputFile& file, const ScannedBundle& scanned, const FileFacts& facts, std::ostream& out) {
  const bool sound = scanned.diagnosis.status == bundle::ScanStatus::Ok;
  size_t nameWidth = 4;
  for (const EntryView& e : scanned.entries) nameWidth = std::max(nameWidth, DisplayWidth(DisplayName(e.name)));
  out << file.Path() << ": " << Entries(scanned.entries.size()) << " behind " << facts.program;
  if (sound) out << " of " << scanned.programLength << " bytes";
  out << ", in the launcher's order (stored last first); "
      << (scanned.checked ? "checked by its check record" : "no check record the launcher reads") << "; "
      << SignatureText(scanned, file.FullSize(), sound ? SignatureClaim::Unchecked : SignatureClaim::Damaged)
      << "\n";
  out << PadLeft("#", 3) << "  " << PadRight("name", nameWidth) << "  " << PadRight("kind", 10) << "  "
      << PadLeft("stored", 10) << "  " << PadLeft("decoded", 10) << "  " << PadLeft("ratio", 6)
      << "  key   crc-32    program\n";
  for (size_t i = 0; i < scanned.entries.size(); ++i) {
    const EntryView& e = scanned.entries[i];
    const uint64_t decoded = e.block ? e.decodedSize : uint64_t(e.record.dataSize);
    char key[8];
    std::snprintf(key, sizeof key, "0x%02X", e.key);
    out << PadLeft(std::to_string(i + 1), 3) << "  " << PadRight(DisplayName(e.name), nameWidth) << "  "
        << PadRight(e.checkRecord ? "check" : e.block ? "compressed" : "stored", 10) << "  "
        << PadLeft(std::to_string(e.record.dataSize), 10) << "  "
        << PadLeft(e.checkRecord ? "-" : std::to_string(decoded), 10) << "  "
        << PadLeft(e.block ? Percent(uint64_t(e.record.dataSize), decoded) : "-", 6) << "  "
        << PadRight(e.block ? key : "-", 4) << "  " << PadRight(e.hasCrc ? Hex32(e.crc) : "-", 8) << "  "
        << SignatureWord(SignatureOfEntry(file, e));
    if (e.shadowedBy >= 0) out << "  shadowed by #" << e.shadowedBy + 1;
    out << "\n";
  }
}

}  // namespace

int RunList(const std::string& path, const ExamineOptions& options, Console& console) {
  JsonFindings findings{"list", path};
  std::unique_ptr<InputFile> file;
  ScannedBundle scanned;
  FileFacts facts;
  Attempt(console, findings.problems, [&] {
    file = std::make_unique<InputFile>(path);
    findings.file = file.get();
    scanned = Scan(*file, true);
    findings.scanned = &scanned;
    facts = FactsOf(*file, scanned);
    findings.facts = &facts;
    if (scanned.diagnosis.status == bundle::ScanStatus::NoBundle) {
      findings.problems.push_back(NoBundleText(*file, scanned));
      console.Problem(path, findings.problems.back());
      return;
    }
    if (options.json) {
      findings.programs = ProgramWords(*file, scanned);
    } else {
      PrintListing(*file, scanned, facts, console.Report());
    }
    if (scanned.diagnosis.status != bundle::ScanStatus::Ok) {
      findings.problems.push_back(DiagnosisText(scanned.diagnosis));
      console.Problem(path, findings.problems.back());
    }
  });
  findings.failed = !findings.problems.empty();
  if (options.json) WriteJson(console.out, findings);
  return findings.failed ? 1 : 0;
}

}  // namespace bundletool
