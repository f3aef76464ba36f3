// extract: the named entries, or all, written as the launcher writes them
// (examine.h).
#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/crc32.h"
#include "examine.h"
#include "scanned_bundle.h"
#include "whole_file.h"

namespace bundletool {

int RunExtract(const std::string& path, const std::string& folder, const std::vector<std::string>& names,
               Console& console) {
  InputFile file(path);
  const ScannedBundle scanned = Scan(file, true);
  if (scanned.diagnosis.status == bundle::ScanStatus::NoBundle) throw ToolError(path, NoBundleText(file, scanned));
  if (scanned.diagnosis.status != bundle::ScanStatus::Ok) throw ToolError(path, DiagnosisText(scanned.diagnosis));

  // The entries to write, each the one the launcher's lookup finds.
  std::vector<const EntryView*> chosen;
  int failures = 0;
  if (names.empty()) {
    for (const EntryView& e : scanned.entries) {
      if (e.shadowedBy < 0 && !e.checkRecord) chosen.push_back(&e);
    }
  } else {
    for (const std::string& name : names) {
      std::string stored;
      const EntryView* found = nullptr;
      if (Utf8ToCp932(name, stored)) {
        for (const EntryView& e : scanned.entries) {
          if (e.name == stored) {
            found = &e;
            break;
          }
        }
      }
      if (found) {
        chosen.push_back(found);
      } else {
        console.Problem(path, "no entry named \"" + name + "\"");
        ++failures;
      }
    }
  }

  if (!chosen.empty()) MakeFolder(folder);
  Progress progress(console);
  for (const EntryView* e : chosen) {
    const std::string shown = DisplayName(e->name);
    std::string hostName;
    const char* problem = bundle::CheckEntryName(e->name);
    if (!problem && !Cp932ToUtf8(e->name, hostName)) problem = "name is not valid code page 932 text";
    if (problem) {
      console.Problem(path, "entry \"" + shown + "\" not written: " + problem);
      ++failures;
      continue;
    }
    const std::string target = JoinPath(folder, hostName);
    try {
      RefuseOverwritingInput(target, {path});
      OutputFile output(target);
      uint64_t written;
      uint32_t crc = 0;
      if (e->block) {
        Decoded decoded = DecodeBlock(file, *e);
        if (!decoded.ok) throw ToolError(path, "entry \"" + shown + "\" not written: " + decoded.problem);
        crc = bundle::Crc32(decoded.bytes.data(), decoded.bytes.size());
        output.Write(decoded.bytes.data(), decoded.bytes.size());
        written = decoded.bytes.size();
      } else {
        uint64_t done = 0;
        ForEachPiece(file, *e, [&](const uint8_t* piece, size_t n) {
          crc = bundle::Crc32(piece, n, crc);
          output.Write(piece, n);
          done += n;
          progress.Show(shown, done, uint64_t(e->record.dataSize));
        });
        written = done;
      }
      // Not committed: the file does not appear.
      const std::string damage = CrcProblem(*e, crc);
      if (!damage.empty()) throw ToolError(path, "entry \"" + shown + "\" not written: " + damage);
      output.Commit(0644);
      progress.Finish();
      console.Report() << target << "  " << written << " bytes" << (e->block ? " (decoded)" : "") << "\n";
    } catch (const ToolError& error) {
      progress.Finish();
      console.Problem(error.File(), error.Problem());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace bundletool
