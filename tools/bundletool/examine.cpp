#include "examine.h"

#include <cstdio>
#include <sstream>
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
#include "layout.h"
#include "programs.h"

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

// Whether an entry's content is a program, and signed; a block is decoded as
// far as the head the verdict needs.
ProgramSignature SignatureOfEntry(InputFile& file, const EntryView& entry) {
  if (entry.checkRecord) return ProgramSignature::NotProgram;
  if (!entry.block) return SignatureOfRange(file, uint64_t(entry.record.dataStart), uint64_t(entry.record.dataSize));
  // A literal costs at most nine bits of stream, so this much stream gives
  // the head unless the block is damaged (then the head is short and the
  // headers read as absent).
  const size_t headSize = size_t(std::min<uint64_t>(entry.decodedSize, PROGRAM_HEAD_SIZE));
  const size_t streamLength = std::min<size_t>(size_t(entry.record.dataSize) - bundle::BLOCK_HEADER_SIZE,
                                               headSize + headSize / 8 + 2);
  std::vector<uint8_t> stream(streamLength);
  file.ReadExactly(uint64_t(entry.record.dataStart) + bundle::BLOCK_HEADER_SIZE, stream.data(), stream.size());
  bundle::XorBytes(stream.data(), stream.size(), entry.key);
  std::vector<uint8_t> head(headSize);
  uint8_t ring[bundle::RING_SIZE];
  const bundle::LzssResult r =
      bundle::LzssDecodeStream(head.data(), uint32_t(head.size()), stream.data(), stream.size(), ring);
  return SignatureOfHead(head.data(), r.produced, entry.decodedSize);
}

std::string Ratio(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(part) / double(whole));
  return text;
}

std::string Entries(size_t count) { return std::to_string(count) + " entr" + (count == 1 ? "y" : "ies"); }

// Why a file holds no bundle the launcher reads, as precisely as the file
// tells: too large for the launcher, cut short, a bare launcher, or none.
std::string NoBundleText(InputFile& file, const ScannedBundle& scanned) {
  const uint64_t size = file.FullSize();
  if (size > bundle::MAX_FILE_SIZE) {
    return "is " + std::to_string(size) + " bytes, 2 GiB or more: the launcher reads only files below 2 GiB (" +
           std::to_string(uint64_t(bundle::MAX_FILE_SIZE) + 1) + " bytes), so it cannot install from this one";
  }
  const ProgramHeaders headers = ReadProgramHeaders(file);
  const uint64_t end = scanned.diagnosis.signature ? scanned.diagnosis.signatureStart : size;
  if (headers.complete && headers.imageEnd > 0) {
    if (end < headers.imageEnd) {
      return "is cut short: its program runs to byte " + std::to_string(headers.imageEnd) + ", but the file ends at " +
             std::to_string(end) + " (an interrupted download or copy?)";
    }
    // The start marker follows the program, after at most seven zero bytes
    // of a signature that pack dropped.
    for (uint64_t at = headers.imageEnd; at + 4 <= end && at <= headers.imageEnd + 7; ++at) {
      uint8_t marker[4];
      file.ReadExactly(at, marker, sizeof marker);
      if (bundle::LoadLe32(marker) == uint32_t(bundle::START_MARKER) && end > at + 4) {
        return "is cut short: a bundle begins at byte " + std::to_string(at) +
               " but its end is missing (an interrupted download or copy?)";
      }
      if (marker[0] != 0) break;
    }
    if (end <= headers.imageEnd + 7) return "carries no bundle: it is a bare program, " + DescribeProgram(headers);
  }
  return DiagnosisText(scanned.diagnosis);
}

// A JSON string.
// Length of the well-formed UTF-8 sequence at text[i], or 0.
size_t Utf8SequenceAt(const std::string& text, size_t i) {
  const unsigned char c = text[i];
  const size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  uint32_t code = length == 1 ? c : c & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((uint8_t(text[i + k]) & 0xC0) != 0x80) return 0;
    code = code << 6 | (uint8_t(text[i + k]) & 0x3F);
  }
  static const uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool fits = code >= LEAST[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
  return fits ? length : 0;
}

// text as a JSON string. A byte that is no part of well-formed UTF-8 (a
// path of the host's in another encoding) becomes U+FFFD: JSON holds Unicode
// text only.
std::string Json(const std::string& text) {
  std::string quoted = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    const size_t length = Utf8SequenceAt(text, i);
    if (length == 0) {
      quoted += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += char(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted.append(text, i, length);
    }
    i += length;
  }
  return quoted + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string list = "[";
  for (size_t i = 0; i < items.size(); ++i) list += (i ? ", " : "") + Json(items[i]);
  return list + "]";
}

// What list and verify say of the whole file: its program and signature.
struct FileFacts {
  std::string program;  // DescribeProgram of its headers
  std::string machine;  // LauncherMachine: "i386", "amd64" or empty
  bool signedFile;
};

FileFacts FactsOf(InputFile& file, const ScannedBundle& scanned) {
  const ProgramHeaders headers = ReadProgramHeaders(file);
  return {DescribeProgram(headers), LauncherMachine(headers), scanned.diagnosis.signature};
}

// The JSON object of a file and its entries; extra holds further members
// (verify's findings), each ending in ",\n".
std::string JsonReport(InputFile& file, const ScannedBundle& scanned, const FileFacts& facts, const std::string& extra) {
  std::ostringstream j;
  const char* bundleState = scanned.diagnosis.status == bundle::ScanStatus::Ok ? "ok" : "damaged";
  j << "{\n  \"file\": " << Json(file.Path()) << ",\n  \"size\": " << file.FullSize() << ",\n";
  j << "  \"program\": {\"kind\": " << Json(facts.program) << ", \"launcher\": "
    << (facts.machine.empty() ? "null" : Json(facts.machine));
  if (scanned.diagnosis.status == bundle::ScanStatus::Ok) j << ", \"size\": " << scanned.programLength;
  j << "},\n  \"signed\": " << (facts.signedFile ? "true" : "false") << ",\n  \"bundle\": " << Json(bundleState)
    << ",\n  \"checked\": " << (scanned.checked ? "true" : "false") << ",\n" << extra << "  \"entries\": [";
  for (size_t i = 0; i < scanned.entries.size(); ++i) {
    const EntryView& e = scanned.entries[i];
    const uint64_t decoded = e.block ? e.decodedSize : uint64_t(e.record.dataSize);
    const char* program = SignatureWord(SignatureOfEntry(file, e));
    j << (i ? ",\n" : "\n") << "    {\"index\": " << i + 1 << ", \"name\": " << Json(DisplayName(e.name))
      << ", \"kind\": " << Json(e.checkRecord ? "check" : e.block ? "compressed" : "stored")
      << ", \"stored_size\": " << e.record.dataSize << ", \"decoded_size\": ";
    if (e.checkRecord) j << "null"; else j << decoded;
    j << ", \"key\": ";
    if (e.block) j << unsigned(e.key); else j << "null";
    j << ", \"crc32\": " << (e.hasCrc ? Json(Hex32(e.crc)) : "null")
      << ", \"program\": " << (program[0] == '-' ? "null" : Json(program)) << ", \"shadowed_by\": ";
    if (e.shadowedBy >= 0) j << e.shadowedBy + 1; else j << "null";
    j << "}";
  }
  j << (scanned.entries.empty() ? "]\n}\n" : "\n  ]\n}\n");
  return j.str();
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

int RunList(const std::string& path, const ExamineOptions& options, Console& console) {
  InputFile file(path);
  const ScannedBundle scanned = Scan(file);
  if (scanned.diagnosis.status == bundle::ScanStatus::NoBundle) {
    console.Problem(path, NoBundleText(file, scanned));
    return 1;
  }
  const FileFacts facts = FactsOf(file, scanned);
  const bool sound = scanned.diagnosis.status == bundle::ScanStatus::Ok;
  if (options.json) {
    console.out << JsonReport(file, scanned, facts, sound ? "" : "  \"problem\": " + Json(DiagnosisText(scanned.diagnosis)) + ",\n");
  } else {
    std::ostream& out = console.Report();
    size_t nameWidth = 4;
    for (const EntryView& e : scanned.entries) nameWidth = std::max(nameWidth, DisplayWidth(DisplayName(e.name)));
    out << path << ": " << Entries(scanned.entries.size()) << " behind " << facts.program;
    if (sound) out << " of " << scanned.programLength << " bytes";
    out << ", in the launcher's order (stored last first); "
        << (scanned.checked ? "checked by its check record" : "no check record the launcher reads") << "; "
        << SignatureText(scanned, file.FullSize()) << "\n";
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
          << PadLeft(e.block ? Ratio(uint64_t(e.record.dataSize), decoded) : "-", 6) << "  "
          << PadRight(e.block ? key : "-", 4) << "  " << PadRight(e.hasCrc ? Hex32(e.crc) : "-", 8) << "  "
          << SignatureWord(SignatureOfEntry(file, e));
      if (e.shadowedBy >= 0) out << "  shadowed by #" << e.shadowedBy + 1;
      out << "\n";
    }
  }
  if (!sound) {
    console.Problem(path, DiagnosisText(scanned.diagnosis));
    return 1;
  }
  return 0;
}

int RunExtract(const std::string& path, const std::string& folder, const std::vector<std::string>& names,
               Console& console) {
  InputFile file(path);
  const ScannedBundle scanned = Scan(file);
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

namespace {

// verify's findings: what is sound as report lines on out; problems and
// warnings on err as they are found, and kept for the JSON report.
class VerifyReport {
 public:
  VerifyReport(const std::string& path, const ExamineOptions& options, Console& console)
      : path(path), options(options), console(console) {}
  void Ok(const std::string& what, const std::string& text) { Line("ok", what, text); }
  void Note(const std::string& text) { Line("-", "", text); }
  void Warning(const std::string& what, const std::string& text) {
    const std::string line = what.empty() ? text : what + ": " + text;
    warnings.push_back(line);
    if (options.strict) {
      console.Problem(path, "warning (--strict): " + line);
    } else {
      console.Warning(path, line);
    }
  }
  void Problem(const std::string& what, const std::string& text) {
    const std::string line = what.empty() ? text : what + ": " + text;
    problems.push_back(line);
    console.Problem(path, line);
  }
  bool Failed() const { return !problems.empty() || (options.strict && !warnings.empty()); }
  const std::vector<std::string>& Problems() const { return problems; }
  const std::vector<std::string>& Warnings() const { return warnings; }

 private:
  void Line(const char* level, const std::string& what, const std::string& text) {
    if (options.json) return;
    console.Report() << "  " << PadRight(level, 8) << " " << what << (what.empty() ? "" : ": ") << text << "\n";
  }
  const std::string& path;
  const ExamineOptions& options;
  Console& console;
  std::vector<std::string> problems, warnings;
};

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
    report.Note(std::string("layout: ") + ANY_LAYOUT_NOTE);
    return;
  }
  if (scanned.diagnosis.status != bundle::ScanStatus::Ok) return;
  std::vector<LayoutEntry> entries;  // in bundle order: the scan's reversed
  for (auto e = scanned.entries.rbegin(); e != scanned.entries.rend(); ++e) {
    if (!e->checkRecord) entries.push_back({e->name, e->block});
  }
  const std::vector<LayoutProblem> problems = LayoutProblems(entries);
  for (const LayoutProblem& problem : problems) report.Problem("layout", problem.text);
  if (facts.machine.empty()) {
    report.Problem("program", "it is " + facts.program + ", not a launcher (a PE GUI program for i386 or amd64)");
  }
  if (problems.empty() && !facts.machine.empty()) {
    report.Ok("layout", "the launcher's entry table, every row as it reads it; the program is " + facts.program);
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
    report.Ok("", SignatureText(scanned, file.FullSize()));
  } else {
    report.Warning("", "the launcher is not signed: SmartScreen warns of an unsigned download (sign it after "
                       "packing)");
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
  // 1. The scan, as the launcher's.
  InputFile file(path);
  const ScannedBundle scanned = Scan(file);
  if (scanned.diagnosis.status == bundle::ScanStatus::NoBundle) {
    console.Problem(path, NoBundleText(file, scanned));
    return 1;
  }
  const FileFacts facts = FactsOf(file, scanned);
  if (!options.json) console.Report() << path << ": " << Entries(scanned.entries.size()) << " behind " << facts.program << "\n";

  // 2. Every entry, in scan order.
  VerifyReport report(path, options, console);
  std::vector<std::string> unsignedPrograms;
  for (size_t i = 0; i < scanned.entries.size(); ++i) {
    const EntryView& e = scanned.entries[i];
    const std::string what = "#" + std::to_string(i + 1) + " " + DisplayName(e.name);
    if (e.checkRecord) {
      VerifyCheckRecord(scanned, e, what, report);
    } else if (VerifyEntry(file, e, what, report) == ProgramSignature::Unsigned) {
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

  // 4. The layout, the file as a whole, and the verdict.
  VerifyLayout(scanned, facts, options, report);
  VerifyWholeFile(file, scanned, report);
  const size_t problems = report.Problems().size(), warnings = report.Warnings().size();
  if (options.json) {
    console.out << JsonReport(file, scanned, facts,
                              std::string("  \"layout\": ") + (options.anyLayout ? "\"any\"" : "\"launcher\"") +
                                  ",\n  \"ok\": " + (report.Failed() ? "false" : "true") +
                                  ",\n  \"problems\": " + JsonList(report.Problems()) +
                                  ",\n  \"warnings\": " + JsonList(report.Warnings()) + ",\n");
  } else {
    console.Report() << (report.Failed() ? "failed: " : "ok: ") << Entries(scanned.entries.size()) << ", "
                     << problems << " problem" << (problems == 1 ? "" : "s") << ", " << warnings << " warning"
                     << (warnings == 1 ? "" : "s") << (options.strict && warnings ? " (--strict)" : "") << "\n";
  }
  return report.Failed() ? 1 : 0;
}

}  // namespace bundletool
