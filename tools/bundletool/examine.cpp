#include "examine.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "bundle/format/bundle_index.h"
#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_scan.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/check_record.h"
#include "bundle/format/crc32.h"
#include "bundle/format/lzss.h"
#include "bundle/format/signed_file.h"

namespace bundletool {

namespace {

// One entry as the launcher treats it.
struct EntryView {
  bundle::BundleEntry record;
  std::string name;       // stored bytes, code page 932
  bool checkRecord = false;  // the check record itself
  bool block = false;     // starts with a whole block header
  uint8_t key = 0;
  uint32_t decodedSize = 0;
  int shadowedBy = -1;    // index of the earlier-listed entry of the same name
  bool hasCrc = false;    // the check record gives the content's CRC-32
  uint32_t crc = 0;
};

struct ScannedBundle {
  bundle::ScanDiagnosis diagnosis;  // with the check record's verdict when the scan was sound
  std::vector<EntryView> entries;
  uint64_t programLength = 0;
  bool hasCheckRecord = false;  // a record is there, checked or not
  bool checked = false;         // the launcher checks the entries against it
};

ScannedBundle Scan(InputFile& file) {
  ScannedBundle scanned;
  std::vector<bundle::BundleEntry> records;
  scanned.diagnosis = bundle::ScanBundle(file, records);
  // The launcher's own verdict on the record, and the CRCs it expects.
  bundle::BundleIndex index(&file);
  if (scanned.diagnosis.status == bundle::ScanStatus::Ok) {
    index.ListEntries();
    scanned.diagnosis = index.LastScan();
    scanned.checked = index.Checked();
  }
  std::map<std::string, int> firstIndex;
  for (const bundle::BundleEntry& record : records) {
    EntryView view;
    view.record = record;
    view.name = record.name;
    view.checkRecord = view.name == bundle::CHECK_RECORD_NAME;
    scanned.hasCheckRecord = scanned.hasCheckRecord || view.checkRecord;
    view.hasCrc = index.ExpectedCrc(record, &view.crc);
    uint8_t header[bundle::BLOCK_HEADER_SIZE];
    if (!view.checkRecord && record.dataSize >= int32_t(bundle::BLOCK_HEADER_SIZE)) {
      file.ReadExactly(uint64_t(record.dataStart), header, sizeof header);
      if (bundle::HasBlockSignature(header, sizeof header)) {
        const bundle::BlockHeader h = bundle::ReadBlockHeader(header);
        view.block = true;
        view.key = h.key;
        view.decodedSize = h.decodedSize;
      }
    }
    auto [it, inserted] = firstIndex.emplace(view.name, int(scanned.entries.size()));
    if (!inserted) view.shadowedBy = it->second;
    scanned.entries.push_back(view);
  }
  if (scanned.diagnosis.status == bundle::ScanStatus::Ok) {
    scanned.programLength = records.empty() ? scanned.diagnosis.bundleEnd - 4 : uint64_t(records.back().dataStart) - 4;
  }
  return scanned;
}

std::string DiagnosisText(const bundle::ScanDiagnosis& d) {
  if (d.status == bundle::ScanStatus::NoBundle) return std::string("carries no bundle (") + d.reason + ")";
  if (d.status == bundle::ScanStatus::Unreadable) {
    return std::string("cannot be read: ") + d.reason + " at position " + std::to_string(d.position);
  }
  return std::string("bundle is damaged: ") + d.reason + " at position " + std::to_string(d.position);
}

std::string Hex32(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

// Hands a stored entry's bytes to take in pieces of at most 1 MiB.
template <typename Take>
void ForEachPiece(InputFile& file, const EntryView& entry, Take take) {
  const uint64_t size = uint64_t(entry.record.dataSize);
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(size, uint64_t(1) << 20)));
  for (uint64_t done = 0; done < size;) {
    const size_t n = size_t(std::min<uint64_t>(size - done, buffer.size()));
    file.ReadExactly(uint64_t(entry.record.dataStart) + done, buffer.data(), n);
    take(buffer.data(), n);
    done += n;
  }
}

// Empty when the content's CRC is the record's, or when there is no record.
std::string CrcProblem(const EntryView& entry, uint32_t contentCrc) {
  if (!entry.hasCrc || contentCrc == entry.crc) return "";
  return "content CRC-32 " + Hex32(contentCrc) + " is not the check record's " + Hex32(entry.crc) + " (damaged)";
}

// Decoding of one block, with what went wrong.
struct Decoded {
  bool ok = false;
  std::string problem;
  size_t trailingBytes = 0;  // stream bytes after the point where D was reached
  std::vector<uint8_t> bytes;
};

Decoded DecodeBlock(InputFile& file, const EntryView& entry) {
  Decoded result;
  std::vector<uint8_t> data(size_t(entry.record.dataSize));
  file.ReadExactly(uint64_t(entry.record.dataStart), data.data(), data.size());
  const size_t streamLength = data.size() - bundle::BLOCK_HEADER_SIZE;
  // A larger D cannot be reached, so no output of that size is allocated.
  if (entry.decodedSize > bundle::MaxDecodedSize(streamLength)) {
    result.problem = "decoded size " + std::to_string(entry.decodedSize) + " is more than a stream of " +
                     std::to_string(streamLength) + " bytes can give (truncated block)";
    return result;
  }
  uint8_t* stream = data.data() + bundle::BLOCK_HEADER_SIZE;
  bundle::XorBytes(stream, streamLength, entry.key);
  result.bytes.resize(entry.decodedSize);
  uint8_t ring[bundle::RING_SIZE];
  const bundle::LzssResult r = bundle::LzssDecodeStream(result.bytes.data(), entry.decodedSize, stream, streamLength, ring);
  if (r.status != bundle::LzssStatus::Complete) {
    result.problem = "compressed stream ends after " + std::to_string(r.produced) + " of " +
                     std::to_string(entry.decodedSize) + " bytes (truncated block)";
    result.bytes.clear();
    return result;
  }
  result.ok = true;
  result.trailingBytes = streamLength - r.consumed;
  return result;
}

std::string Ratio(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(part) / double(whole));
  return text;
}


}  // namespace

// What list and verify say about the file's end: a signature, and whether
// the entries are checked.
std::string SignatureText(const ScannedBundle& scanned, uint64_t fileSize) {
  const bundle::ScanDiagnosis& d = scanned.diagnosis;
  if (!d.signature) return "not signed";
  return "signed: its certificate table (bytes " + std::to_string(d.signatureStart) + " to " +
         std::to_string(fileSize) + ") follows the bundle, which lies inside the signed part (it ends at " +
         std::to_string(d.bundleEnd) + ")";
}

int RunList(const std::string& path, Console& console) {
  InputFile file(path);
  const ScannedBundle scanned = Scan(file);
  if (scanned.diagnosis.status == bundle::ScanStatus::NoBundle) {
    console.err << "bundletool: " << path << ": " << DiagnosisText(scanned.diagnosis) << "\n";
    return 1;
  }
  size_t nameWidth = 4;
  for (const EntryView& e : scanned.entries) nameWidth = std::max(nameWidth, DisplayWidth(DisplayName(e.name)));
  console.out << path << ": " << scanned.entries.size() << " entr" << (scanned.entries.size() == 1 ? "y" : "ies");
  if (scanned.diagnosis.status == bundle::ScanStatus::Ok) {
    console.out << " behind a program of " << scanned.programLength << " bytes";
  }
  console.out << ", in the launcher's order (stored last first); "
              << (scanned.checked ? "checked by its check record" : "no check record the launcher reads") << "; "
              << SignatureText(scanned, file.FullSize()) << "\n";
  console.out << PadLeft("#", 3) << "  " << PadRight("name", nameWidth) << "  " << PadRight("kind", 10) << "  " << PadLeft("stored", 10)
              << "  " << PadLeft("decoded", 10) << "  " << PadLeft("ratio", 6) << "  key   crc-32\n";
  for (size_t i = 0; i < scanned.entries.size(); ++i) {
    const EntryView& e = scanned.entries[i];
    const uint64_t decoded = e.block ? e.decodedSize : uint64_t(e.record.dataSize);
    char key[8];
    std::snprintf(key, sizeof key, "0x%02X", e.key);
    console.out << PadLeft(std::to_string(i + 1), 3) << "  " << PadRight(DisplayName(e.name), nameWidth) << "  "
                << PadRight(e.checkRecord ? "check" : e.block ? "compressed" : "stored", 10) << "  "
                << PadLeft(std::to_string(e.record.dataSize), 10) << "  "
                << PadLeft(e.checkRecord ? "-" : std::to_string(decoded), 10) << "  "
                << PadLeft(e.block ? Ratio(uint64_t(e.record.dataSize), decoded) : "-", 6) << "  "
                << PadRight(e.block ? key : "-", 4) << "  " << (e.hasCrc ? Hex32(e.crc) : "-");
    if (e.shadowedBy >= 0) console.out << "  shadowed by #" << e.shadowedBy + 1;
    console.out << "\n";
  }
  if (scanned.diagnosis.status != bundle::ScanStatus::Ok) {
    console.err << "bundletool: " << path << ": " << DiagnosisText(scanned.diagnosis) << "\n";
    return 1;
  }
  return 0;
}

int RunExtract(const std::string& path, const std::string& folder, const std::vector<std::string>& names,
               Console& console) {
  InputFile file(path);
  const ScannedBundle scanned = Scan(file);
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
        console.err << "bundletool: " << path << ": no entry named \"" << name << "\"\n";
        ++failures;
      }
    }
  }

  if (!chosen.empty() && ::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    throw ToolError(folder, "cannot create the folder: " + SystemProblem(errno));
  }
  Progress progress(console);
  for (const EntryView* e : chosen) {
    const std::string shown = DisplayName(e->name);
    std::string hostName;
    const char* problem = bundle::CheckEntryName(e->name);
    if (!problem && !Cp932ToUtf8(e->name, hostName)) problem = "name is not valid code page 932 text";
    if (problem) {
      console.err << "bundletool: " << path << ": entry \"" << shown << "\" not written: " << problem << "\n";
      ++failures;
      continue;
    }
    const std::string target = (folder.empty() || folder.back() == '/' ? folder : folder + "/") + hostName;
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
      console.out << target << "  " << written << " bytes" << (e->block ? " (decoded)" : "") << "\n";
    } catch (const ToolError& error) {
      progress.Finish();
      console.err << "bundletool: " << error.what() << "\n";
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

int RunVerify(const std::string& path, Console& console) {
  InputFile file(path);
  const ScannedBundle scanned = Scan(file);
  int problems = 0, warnings = 0;
  const auto report = [&](const char* level, const std::string& what, const std::string& text) {
    console.out << "  " << PadRight(level, 8) << " " << what << ": " << text << "\n";
  };
  if (scanned.diagnosis.status == bundle::ScanStatus::NoBundle) {
    console.err << "bundletool: " << path << ": " << DiagnosisText(scanned.diagnosis) << "\n";
    return 1;
  }
  console.out << path << ": " << scanned.entries.size() << " entr" << (scanned.entries.size() == 1 ? "y" : "ies") << "\n";
  for (size_t i = 0; i < scanned.entries.size(); ++i) {
    const EntryView& e = scanned.entries[i];
    const std::string what = "#" + std::to_string(i + 1) + " " + DisplayName(e.name);
    if (e.checkRecord) {
      if (e.shadowedBy >= 0) {
        report("warning", what, "an older check record, shadowed by #" + std::to_string(e.shadowedBy + 1));
        ++warnings;
      } else if (scanned.diagnosis.status == bundle::ScanStatus::Ok && !scanned.checked) {
        report("warning", what, "a check record of another version: the launcher does not check the entries");
        ++warnings;
      } else if (scanned.diagnosis.status == bundle::ScanStatus::Ok) {
        report("ok", what, "check record, " + std::to_string(e.record.dataSize) + " bytes");
      }
      continue;
    }
    bool clean = true;
    if (const char* problem = bundle::CheckEntryName(e.name)) {
      report("DAMAGED", what, std::string("the launcher cannot write this name: ") + problem);
      ++problems;
      clean = false;
    }
    if (e.shadowedBy >= 0) {
      report("warning", what, "shadowed by #" + std::to_string(e.shadowedBy + 1) +
                                  " of the same name, stored later; the launcher never reads it");
      ++warnings;
      clean = false;
    }
    std::string damage;
    if (e.block) {
      const Decoded decoded = DecodeBlock(file, e);
      if (!decoded.ok) {
        report("DAMAGED", what, decoded.problem);
        ++problems;
        clean = false;
      } else {
        damage = CrcProblem(e, bundle::Crc32(decoded.bytes.data(), decoded.bytes.size()));
        if (damage.empty() && decoded.trailingBytes > 0) {
          report("warning", what, std::to_string(decoded.trailingBytes) +
                                      " bytes after the end of the stream, which the launcher ignores");
          ++warnings;
          clean = false;
        }
      }
      if (clean && damage.empty()) {
        report("ok", what, "compressed, " + std::to_string(e.record.dataSize) + " -> " + std::to_string(e.decodedSize) +
                               " bytes" + (e.hasCrc ? ", CRC-32 " + Hex32(e.crc) : ""));
      }
    } else {
      if (e.record.dataSize >= int32_t(bundle::BLOCK_SIGNATURE_LENGTH) && e.record.dataSize < int32_t(bundle::BLOCK_HEADER_SIZE)) {
        char head[bundle::BLOCK_SIGNATURE_LENGTH];
        file.ReadExactly(uint64_t(e.record.dataStart), head, sizeof head);
        if (std::memcmp(head, bundle::BLOCK_SIGNATURE, sizeof head) == 0) {
          report("warning", what, "starts with the block signature but is shorter than a block header; written unchanged");
          ++warnings;
          clean = false;
        }
      }
      if (e.hasCrc) {
        uint32_t crc = 0;
        ForEachPiece(file, e, [&](const uint8_t* piece, size_t n) { crc = bundle::Crc32(piece, n, crc); });
        damage = CrcProblem(e, crc);
      }
      if (clean && damage.empty()) {
        report("ok", what, "stored, " + std::to_string(e.record.dataSize) + " bytes" +
                               (e.hasCrc ? ", CRC-32 " + Hex32(e.crc) : ""));
      }
    }
    if (!damage.empty()) {
      report("DAMAGED", what, damage);
      ++problems;
    }
  }
  if (scanned.diagnosis.status != bundle::ScanStatus::Ok) {
    console.out << "  DAMAGED  " << DiagnosisText(scanned.diagnosis) << "\n";
    ++problems;
  } else if (!scanned.hasCheckRecord) {
    console.out << "  warning  no check record: the launcher cannot tell a damaged copy (pack again to add one)\n";
    ++warnings;
  }
  console.out << "  " << PadRight(scanned.diagnosis.signature ? "ok" : "-", 8) << " "
              << SignatureText(scanned, file.FullSize()) << "\n";
  const bundle::CertificateDirectory directory = bundle::ReadCertificateDirectory(file, file.Size());
  if (!scanned.diagnosis.signature && directory.found && (directory.tableStart != 0 || directory.tableSize != 0)) {
    console.out << "  warning  the PE headers name a certificate table at " << directory.tableStart << " of "
                << directory.tableSize << " bytes, which does not end the file: no signature of this file\n";
    ++warnings;
  }
  console.out << (problems ? "damaged: " : "ok: ") << scanned.entries.size() << " entries, " << problems << " problem"
              << (problems == 1 ? "" : "s") << ", " << warnings << " warning" << (warnings == 1 ? "" : "s") << "\n";
  return problems ? 1 : 0;
}

}  // namespace bundletool
