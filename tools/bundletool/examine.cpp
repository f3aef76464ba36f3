#include "examine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "bundle/format/bundle_index.h"
#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_scan.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/check_record.h"
#include "bundle/format/crc32.h"
#include "bundle/format/lzss.h"
#include "bundle/format/signed_file.h"
#include "json_writer.h"
#include "layout.h"
#include "programs.h"

namespace bundletool {

namespace {

// One entry as the launcher treats it.
struct EntryView {
  bundle::BundleEntry record;
  std::string name;       // stored bytes, code page 932
  bool checkRecord = false;  // the check record itself
  bool block = false;     // read as a compressed block (Scan says when)
  bool signature = false;  // starts with a whole block header
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

// The bundle's records as the launcher reads them. A record that begins with
// a whole block header is a block to the launcher unless byTable and its name
// is a row the launcher copies unchanged: then it is stored, as the launcher
// writes it, whatever its first bytes are.
ScannedBundle Scan(InputFile& file, bool byTable) {
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
        view.signature = true;
        view.block = !(byTable && IsStreamedRow(view.name));
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
  // Both before anything is read: a larger D cannot be reached, and one
  // beyond what the launcher holds is no block to decode either.
  const size_t streamLength = size_t(entry.record.dataSize) - bundle::BLOCK_HEADER_SIZE;
  if (entry.decodedSize > bundle::MaxDecodedSize(streamLength)) {
    result.problem = "decoded size " + std::to_string(entry.decodedSize) + " is more than a stream of " +
                     std::to_string(streamLength) + " bytes can give (truncated block)";
    return result;
  }
  result.problem = BlockSizeProblem(entry.decodedSize);
  if (!result.problem.empty()) return result;
  std::vector<uint8_t> data(size_t(entry.record.dataSize));
  file.ReadExactly(uint64_t(entry.record.dataStart), data.data(), data.size());
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

// The first size bytes of a file, for a scan from an earlier end.
class PrefixSource : public bundle::ByteSource {
 public:
  PrefixSource(InputFile& file, uint32_t size) : file(file), size(size) {}
  uint32_t Size() override { return size; }
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override {
    return file.ReadAt(position, buffer, count);
  }

 private:
  InputFile& file;
  uint32_t size;
};

// Where a whole bundle that begins with the start marker at start ends, when
// it ends before end: the last such end, found by scanning from every earlier
// entry marker back (at most a few thousand of them). Whole means ending in
// its check record, which pack writes last: the records of a bundle cut
// short in its last record read as a sound bundle too, but without the
// check record at their end. 0 when there is none: the bundle is cut short
// (or, packed without a check record, cannot be told from one).
uint64_t EarlierBundleEnd(InputFile& file, uint64_t start, uint64_t end) {
  constexpr size_t PIECE = size_t(1) << 20;
  constexpr int MAX_TRIES = 4096;
  std::vector<uint8_t> piece(PIECE + 3);
  int tries = 0;
  for (uint64_t pieceEnd = end; pieceEnd > start + 8 && tries < MAX_TRIES;) {
    const uint64_t pieceStart = std::max<uint64_t>(start + 4, pieceEnd > PIECE ? pieceEnd - PIECE : 0);
    const size_t length = size_t(std::min<uint64_t>(end, pieceEnd + 3) - pieceStart);
    file.ReadExactly(pieceStart, piece.data(), length);
    for (size_t at = pieceEnd - pieceStart; at-- > 0 && tries < MAX_TRIES;) {
      // A marker ending before end: the bundle's last four bytes there.
      if (at + 4 > length || pieceStart + at + 4 >= end) continue;
      if (bundle::LoadLe32(&piece[at]) != uint32_t(bundle::ENTRY_MARKER)) continue;
      ++tries;
      const uint64_t candidate = pieceStart + at + 4;
      PrefixSource prefix(file, uint32_t(candidate));
      std::vector<bundle::BundleEntry> entries;
      const bundle::ScanDiagnosis d = bundle::ScanBundle(prefix, entries);
      if (d.status == bundle::ScanStatus::Ok && !entries.empty() && uint64_t(entries.back().dataStart) == start + 4 &&
          std::strcmp(entries.front().name, bundle::CHECK_RECORD_NAME) == 0) {
        return candidate;
      }
    }
    pieceEnd = pieceStart;
  }
  return 0;
}

// What follows a sound bundle that ends at bundleEnd, before the file's end:
// a certificate table that no longer ends the file, or other bytes. (Up to
// seven zeros, the padding a removed signature leaves, are no such bytes: the
// scan reads past them as the launcher does.)
std::string AfterBundleText(InputFile& file, uint64_t bundleEnd, uint64_t end) {
  const uint64_t extra = end - bundleEnd;
  const std::string ends = "its bundle ends at byte " + std::to_string(bundleEnd) + ", and the launcher, which " +
                           "looks for it at the end of the file, finds none";
  const bundle::CertificateDirectory directory = bundle::ReadCertificateDirectory(file, file.Size());
  if (directory.found && directory.tableSize != 0 && directory.tableStart >= bundleEnd &&
      directory.tableStart <= bundleEnd + 7 && uint64_t(directory.tableStart) + directory.tableSize < end) {
    const uint64_t after = end - directory.tableStart - directory.tableSize;
    return "has " + std::to_string(after) + " bytes after its certificate table (junk appended after signing?): " +
           ends;
  }
  return "has " + std::to_string(extra) + " bytes after its bundle (junk appended?): " + ends;
}

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
        const uint64_t bundleEnd = EarlierBundleEnd(file, at, end);
        if (bundleEnd == 0) {
          return "is cut short: a bundle begins at byte " + std::to_string(at) +
                 " but its end is missing (an interrupted download or copy?)";
        }
        return AfterBundleText(file, bundleEnd, end);
      }
      if (marker[0] != 0) break;
    }
    if (end <= headers.imageEnd + 7) return "carries no bundle: it is a bare program, " + DescribeProgram(headers);
  }
  return DiagnosisText(scanned.diagnosis);
}

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

FileFacts FactsOf(InputFile& file, const ScannedBundle& scanned) {
  const ProgramHeaders headers = ReadProgramHeaders(file);
  return {DescribeProgram(headers), LauncherMachine(headers), scanned.diagnosis.signature,
          FindLauncherMark(file, headers)};
}

// What --json reports: as much as the run learnt before it ended, so that a
// run that fails early still gives its one object. Everything is read before
// the object is written, so that a failed read cannot cut the object short.
struct JsonFindings {
  JsonFindings(const char* command, const std::string& path) : command(command), path(path) {}
  const char* command;                     // "list" or "verify"
  std::string path;
  const InputFile* file = nullptr;         // set once opened
  const ScannedBundle* scanned = nullptr;  // set once scanned
  const FileFacts* facts = nullptr;        // set once the program was read
  std::vector<const char*> programs;       // each entry's SignatureWord, when all were read
  const char* layout = nullptr;            // verify: "launcher" or "any"
  std::vector<std::string> problems, warnings;
  bool failed = false;
};

// The report's version: raised only when a key changes its meaning or goes
// (docs/bundletool-json.md). New keys may come without it.
const char* const JSON_SCHEMA = "bundletool-report/1";

void WriteJson(std::ostream& out, const JsonFindings& f) {
  using Layout = JsonWriter::Layout;
  JsonWriter j(out);
  const ScannedBundle* scanned = f.scanned;
  const bool sound = scanned && scanned->diagnosis.status == bundle::ScanStatus::Ok;
  j.BeginObject();
  j.Key("schema").String(JSON_SCHEMA);
  j.Key("command").String(f.command);
  j.Key("file").String(f.path);
  if (f.file) j.Key("size").Number(f.file->FullSize()); else j.Key("size").Null();
  j.Key("program");
  if (f.facts) {
    j.BeginObject(Layout::Inline);
    j.Key("kind").String(f.facts->program);
    j.Key("launcher").StringOrNull(f.facts->machine.empty() ? nullptr : f.facts->machine.c_str());
    j.Key("marker").String(MarkWord(f.facts->mark.mark));
    if (sound) j.Key("size").Number(scanned->programLength); else j.Key("size").Null();
    j.EndObject();
  } else {
    j.Null();
  }
  if (scanned) j.Key("signed").Bool(scanned->diagnosis.signature); else j.Key("signed").Null();
  j.Key("bundle").StringOrNull(!scanned                                                   ? nullptr
                               : scanned->diagnosis.status == bundle::ScanStatus::NoBundle ? "none"
                               : sound                                                     ? "ok"
                                                                                           : "damaged");
  j.Key("checked").Bool(scanned && scanned->checked);
  j.Key("layout").StringOrNull(f.layout);
  j.Key("ok").Bool(!f.failed);
  j.Key("problems").BeginArray(Layout::Inline);
  for (const std::string& problem : f.problems) j.String(problem);
  j.EndArray();
  j.Key("warnings").BeginArray(Layout::Inline);
  for (const std::string& warning : f.warnings) j.String(warning);
  j.EndArray();
  j.Key("entries").BeginArray();
  const bool listed = scanned && f.programs.size() == scanned->entries.size();
  for (size_t i = 0; listed && i < scanned->entries.size(); ++i) {
    const EntryView& e = scanned->entries[i];
    j.BeginObject(Layout::Inline);
    j.Key("index").Number(i + 1);
    j.Key("name").String(DisplayName(e.name));
    j.Key("kind").String(e.checkRecord ? "check" : e.block ? "compressed" : "stored");
    j.Key("stored_size").Number(uint64_t(e.record.dataSize));
    j.Key("decoded_size");
    if (e.checkRecord) j.Null(); else j.Number(e.block ? e.decodedSize : uint64_t(e.record.dataSize));
    j.Key("key");
    if (e.block) j.Number(e.key); else j.Null();
    j.Key("crc32").StringOrNull(e.hasCrc ? Hex32(e.crc).c_str() : nullptr);
    j.Key("program").StringOrNull(f.programs[i][0] == '-' ? nullptr : f.programs[i]);
    j.Key("shadowed_by");
    if (e.shadowedBy >= 0) j.Number(uint64_t(e.shadowedBy) + 1); else j.Null();
    j.EndObject();
  }
  j.EndArray();
  j.EndObject();
}

// Each entry's SignatureWord, for the JSON report.
std::vector<const char*> ProgramWords(InputFile& file, const ScannedBundle& scanned) {
  std::vector<const char*> words;
  for (const EntryView& e : scanned.entries) words.push_back(SignatureWord(SignatureOfEntry(file, e)));
  return words;
}

// Runs step; a failure it throws (a file that cannot be opened or read, no
// memory) is reported on err as the command-line layer would, and kept among
// problems. Returns false after such a failure.
template <typename Step>
bool Attempt(Console& console, std::vector<std::string>& problems, Step step) {
  try {
    step();
    return true;
  } catch (const ToolError& error) {
    console.Problem(error.File(), error.Problem());
    problems.push_back(error.Problem());
  } catch (const std::bad_alloc&) {
    console.err << "bundletool: out of memory\n";
    problems.push_back("out of memory");
  }
  return false;
}

// What list and verify say about the file's end. Only of a bundle read whole
// and, by verify, checked without a problem does it say that the bundle lies
// in the part the signature covers: list checks no entry, and of a damaged
// bundle that claim would read as the signature vouching for it.
std::string SignatureText(const ScannedBundle& scanned, uint64_t fileSize, SignatureClaim claim) {
  const bundle::ScanDiagnosis& d = scanned.diagnosis;
  if (!d.signature) {
    if (d.status != bundle::ScanStatus::Ok || d.bundleEnd >= fileSize) return "not signed";
    return "not signed; " + std::to_string(fileSize - d.bundleEnd) +
           " zero bytes follow the bundle, the padding of a removed signature, which the launcher reads past";
  }
  const std::string table =
      "certificate table (bytes " + std::to_string(d.signatureStart) + " to " + std::to_string(fileSize) + ")";
  switch (claim) {
    case SignatureClaim::Checked:
      return "signed: its " + table + " follows the bundle, which lies inside the signed part (it ends at " +
             std::to_string(d.bundleEnd) + ")";
    case SignatureClaim::Unchecked:
      return "signed: its " + table + " follows the bundle (which ends at " + std::to_string(d.bundleEnd) +
             "); list checks neither the signature nor the entries (verify checks the entries)";
    case SignatureClaim::Damaged: break;
  }
  return "a " + table + " ends the file, behind a damaged bundle: no signature vouches for it";
}

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
        << PadLeft(e.block ? Ratio(uint64_t(e.record.dataSize), decoded) : "-", 6) << "  "
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
