#include "pack.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

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

constexpr size_t COPY_CHUNK = size_t(1) << 20;

// The file and words that point a message at an entry: the manifest and its
// line, or the entry's source for a command-line entry.
ToolError EntryError(const PackEntry& entry, const std::string& problem) {
  if (!entry.origin.empty()) return ToolError(entry.origin, "line " + std::to_string(entry.line) + ": " + problem);
  return ToolError(entry.source, problem);
}

struct PreparedEntry {
  const PackEntry* entry;
  std::string storedName;  // code page 932
  std::unique_ptr<InputFile> source;
};

// The part of the stub that goes into the output.
struct StubProgram {
  uint64_t length;          // its whole length, or where a bundle or signature it carries begins
  bool clearSignature;      // directory entry 4 lies inside that part and is not empty
  uint32_t signatureEntry;  // the entry's file position
};

StubProgram ProgramOf(InputFile& stub, bool replace) {
  std::vector<bundle::BundleEntry> found;
  const bundle::ScanDiagnosis diagnosis = bundle::ScanBundle(stub, found);
  StubProgram program{stub.FullSize(), false, 0};
  if (diagnosis.status == bundle::ScanStatus::NoBundle) {
    // A signed bare launcher: the table goes, its padding stays.
    if (diagnosis.signature) program.length = diagnosis.signatureStart;
  } else if (diagnosis.status != bundle::ScanStatus::Ok) {
    throw ToolError(stub.Path(), std::string(diagnosis.status == bundle::ScanStatus::Unreadable
                                                 ? "cannot be read ("
                                                 : "ends in a damaged bundle (") +
                                     diagnosis.reason + " at position " + std::to_string(diagnosis.position) +
                                     "), so where the program ends is unknown; start from the bare launcher");
  } else if (!replace) {
    throw ToolError(stub.Path(), "already carries a bundle of " + std::to_string(found.size()) +
                                     " entries; use --replace to replace it, or start from the bare launcher");
  } else {
    program.length = ProgramLength(diagnosis, found);
  }
  const bundle::CertificateDirectory directory = bundle::ReadCertificateDirectory(stub, stub.Size());
  program.clearSignature = directory.found && (directory.tableStart != 0 || directory.tableSize != 0) &&
                           directory.entryPosition + 8 <= program.length;
  program.signatureEntry = directory.entryPosition;
  return program;
}

// The launcher reads only files below 2 GiB, signed ones included: the
// output must leave the reserve free for the certificate table that
// signing appends after packing.
void CheckTotal(const PackOptions& options, uint64_t total) {
  const uint64_t limit = uint64_t(bundle::MAX_FILE_SIZE) + 1;
  if (total < limit && options.signatureReserve < limit - total) return;
  std::string problem = "the launcher with its bundle would be " + std::to_string(total) + " bytes";
  if (options.signatureReserve == 0 || total >= limit) {
    problem += "; the launcher reads only files below 2 GiB (" + std::to_string(limit) + " bytes)";
  } else {
    problem += ", too large once signed: with " + std::to_string(options.signatureReserve) +
               " bytes kept for the signature (--signature-reserve) it must stay below 2 GiB (" +
               std::to_string(limit) + " bytes), the launcher's limit";
  }
  throw ToolError(options.output, problem);
}

// Copies length bytes at start through one buffer of at most COPY_CHUNK
// bytes, continuing *crc over them when given; the 8 bytes at zeroAt (a file
// position), when they lie in the range, are written as zeros.
void CopyRange(InputFile& from, uint64_t start, uint64_t length, OutputFile& to, Progress* progress,
               const std::string& label, uint32_t* crc = nullptr, uint64_t zeroAt = UINT64_MAX) {
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(length, COPY_CHUNK)));
  for (uint64_t done = 0; done < length;) {
    const size_t n = size_t(std::min<uint64_t>(length - done, buffer.size()));
    from.ReadExactly(start + done, buffer.data(), n);
    for (uint64_t at = zeroAt; at < zeroAt + 8; ++at) {
      if (at >= start + done && at < start + done + n) buffer[size_t(at - start - done)] = 0;
    }
    if (crc != nullptr) *crc = bundle::Crc32(buffer.data(), n, *crc);
    to.Write(buffer.data(), n);
    done += n;
    if (progress) progress->Show(label, done, length);
  }
}

// Runs read, which reads source, and refuses the source when it changed
// from its opening to the end of the read: what was read could be any mix of
// its old and new bytes, so the output is not written.
template <typename Read>
void ReadUnchanged(InputFile& source, const std::string& output, Read read) {
  try {
    read();
  } catch (const ToolError&) {
    if (source.Unchanged()) throw;
  }
  if (!source.Unchanged()) {
    throw ToolError(source.Path(), "changed while being packed (it had " + std::to_string(source.FullSize()) +
                                       " bytes when pack opened it); " + output +
                                       " was not written: pack again once the file no longer changes");
  }
}

// Checks that block gives back data exactly, as the launcher decodes it. The
// stream is unscrambled in place and scrambled again, so the check costs one
// decoded copy.
void CheckBlockDecodes(std::vector<uint8_t>& block, const std::vector<uint8_t>& data, uint8_t key,
                       const std::string& source) {
  uint8_t* stream = block.data() + bundle::BLOCK_HEADER_SIZE;
  const size_t streamLength = block.size() - bundle::BLOCK_HEADER_SIZE;
  bundle::XorBytes(stream, streamLength, key);
  std::vector<uint8_t> decoded(data.size());
  uint8_t ring[bundle::RING_SIZE];
  const bundle::LzssResult r =
      bundle::LzssDecodeStream(decoded.data(), uint32_t(decoded.size()), stream, streamLength, ring);
  bundle::XorBytes(stream, streamLength, key);
  if (r.status != bundle::LzssStatus::Complete || decoded != data) {
    throw ToolError(source, "the encoded block does not decode to this file (an encoder fault)");
  }
}

// 1. Names: convertible, acceptable, and unique unless asked otherwise. An
// entry whose name fails is left out of what follows.
std::vector<PreparedEntry> PrepareNames(const PackOptions& options, std::vector<ToolError>& errors) {
  std::vector<PreparedEntry> prepared;
  std::map<std::string, const PackEntry*> seen;
  for (const PackEntry& entry : options.entries) {
    PreparedEntry p{&entry, {}, nullptr};
    if (!Utf8ToCp932(entry.name, p.storedName)) {
      errors.push_back(EntryError(entry, "entry name \"" + entry.name + "\" cannot be written in code page 932"));
      continue;
    }
    if (const char* problem = bundle::CheckEntryName(p.storedName)) {
      errors.push_back(EntryError(entry, "entry name \"" + entry.name + "\": " + problem));
      continue;
    }
    auto [it, inserted] = seen.emplace(p.storedName, &entry);
    if (!inserted && !options.allowDuplicates) {
      errors.push_back(EntryError(entry, "entry name \"" + entry.name +
                                             "\" is given twice; the launcher would only ever see the later one "
                                             "(--allow-duplicates permits it)"));
      continue;
    }
    prepared.push_back(std::move(p));
  }
  if (prepared.size() > size_t(bundle::MAX_ENTRY_COUNT)) {
    errors.push_back(ToolError(options.output, "more entries than the launcher's scan reads"));
  }
  return prepared;
}

// 2. The launcher's layout: every row of its entry table, each as the
// launcher reads it, nothing else; and the stub a bare launcher.
void CheckLayout(const PackOptions& options, const std::vector<PreparedEntry>& prepared, InputFile* stub,
                 std::vector<ToolError>& errors) {
  const size_t before = errors.size();
  std::vector<LayoutEntry> entries;
  for (const PreparedEntry& p : prepared) entries.push_back({p.storedName, p.entry->compressed});
  const std::string whole = options.otherInputs.empty() ? options.output : options.otherInputs.front();
  for (const LayoutProblem& problem : LayoutProblems(entries)) {
    errors.push_back(problem.entry < 0 ? ToolError(whole, problem.text)
                                       : EntryError(*prepared[size_t(problem.entry)].entry, problem.text));
  }
  if (stub != nullptr) {
    const std::string problem = StubProblem(*stub);
    if (!problem.empty()) errors.push_back(ToolError(stub->Path(), problem));
  }
  if (errors.size() > before) {
    errors.push_back(ToolError(options.output, "not written: this is not the layout the launcher installs "
                                               "(--any-layout packs it all the same, for tests and tools)"));
  }
}

// 3. Sources: every one opens, and the sizes known before encoding fit
// behind a program of programLength bytes (when the stub was read).
void OpenSources(const PackOptions& options, std::vector<PreparedEntry>& prepared, const uint64_t* programLength,
                 std::vector<ToolError>& errors) {
  std::vector<bundle::CheckItem> checks;
  for (const PreparedEntry& p : prepared) checks.push_back({p.storedName, 0});
  uint64_t lowestTotal = programLength ? *programLength + 4 : 0;
  if (options.checkRecord) {
    lowestTotal += bundle::RecordSize(bundle::CHECK_RECORD_NAME, bundle::BuildCheckRecord(checks).size());
  }
  for (PreparedEntry& p : prepared) {
    try {
      p.source = std::make_unique<InputFile>(p.entry->source);
    } catch (const ToolError& e) {
      errors.push_back(p.entry->origin.empty() ? e
                                               : ToolError(e.File(), e.Problem() + " (" + p.entry->origin + " line " +
                                                                         std::to_string(p.entry->line) + ")"));
      continue;
    }
    const uint64_t stored = p.entry->compressed ? bundle::BLOCK_HEADER_SIZE : p.source->FullSize();
    lowestTotal += bundle::RecordSize(p.storedName, stored);
    if (p.entry->compressed && !BlockSizeProblem(p.source->FullSize()).empty()) {
      errors.push_back(ToolError(p.entry->source, BlockSizeProblem(p.source->FullSize())));
    }
  }
  if (programLength != nullptr) {
    try {
      CheckTotal(options, lowestTotal);
    } catch (const ToolError& e) {
      errors.push_back(e);
    }
  }
}

// 4. With --require-signed-programs: no unsigned program among the sources.
void RefuseUnsignedPrograms(const PackOptions& options, const std::vector<PreparedEntry>& prepared) {
  std::string named;
  size_t count = 0;
  for (const PreparedEntry& p : prepared) {
    if (SignatureOfRange(*p.source, 0, p.source->FullSize()) != ProgramSignature::Unsigned) continue;
    named += (named.empty() ? "" : ", ") + p.entry->name + " (" + p.entry->source + ")";
    ++count;
  }
  if (count == 0) return;
  throw ToolError(options.output, std::string("not written: --require-signed-programs refuses ") +
                                      (count == 1 ? "an unsigned program: " : std::to_string(count) +
                                                                                 " unsigned programs: ") +
                                      named + "; " + UNSIGNED_PROGRAM_RISK + ". Sign them, then pack again");
}

// One line of pack's report.
struct PackedLine {
  std::string name;
  bool compressed;
  uint64_t sourceSize, storedSize;
};

// 5. One record: a block, decoded again and compared, or the file copied.
// Sets crc to the content's CRC-32.
PackedLine WriteEntry(const PackOptions& options, PreparedEntry& p, const std::string& label, OutputFile& output,
                      Progress& progress, uint32_t& crc) {
  const uint64_t sourceSize = p.source->FullSize();
  uint64_t storedSize;
  if (p.entry->compressed) {
    std::vector<uint8_t> data(static_cast<size_t>(sourceSize));
    ReadUnchanged(*p.source, options.output, [&] { p.source->ReadExactly(0, data.data(), data.size()); });
    crc = bundle::Crc32(data.data(), data.size());
    std::vector<uint8_t> block = bundle::BuildCompressedBlock(
        data.data(), data.size(), options.key, options.level,
        [&](size_t done, size_t total) { progress.Show(label, done, total); });
    // Encoding takes long enough for a file being written to move on.
    ReadUnchanged(*p.source, options.output, [] {});
    CheckBlockDecodes(block, data, options.key, p.entry->source);
    storedSize = block.size();
    CheckTotal(options, output.Written() + bundle::RecordSize(p.storedName, storedSize));
    output.Write(block.data(), block.size());
  } else {
    storedSize = sourceSize;
    CheckTotal(options, output.Written() + bundle::RecordSize(p.storedName, storedSize));
    ReadUnchanged(*p.source, options.output,
                  [&] { CopyRange(*p.source, 0, sourceSize, output, &progress, label, &crc); });
  }
  const std::vector<uint8_t> trailer = bundle::RecordTrailerBytes(p.storedName, uint32_t(storedSize));
  output.Write(trailer.data(), trailer.size());
  return {p.entry->name, p.entry->compressed, sourceSize, storedSize};
}

// 6. The check record. Of a name stored twice the launcher reads the later
// record: that one's CRC is the name's.
void WriteCheckRecord(const PackOptions& options, const std::vector<bundle::CheckItem>& checks, OutputFile& output) {
  std::vector<bundle::CheckItem> named;
  std::set<std::string> seenLater;
  for (auto item = checks.rbegin(); item != checks.rend(); ++item) {
    if (seenLater.insert(item->name).second) named.push_back(*item);
  }
  std::reverse(named.begin(), named.end());
  const std::vector<uint8_t> record = bundle::BuildCheckRecord(named);
  CheckTotal(options, output.Written() + bundle::RecordSize(bundle::CHECK_RECORD_NAME, record.size()));
  output.Write(record.data(), record.size());
  const std::vector<uint8_t> trailer = bundle::RecordTrailerBytes(bundle::CHECK_RECORD_NAME, uint32_t(record.size()));
  output.Write(trailer.data(), trailer.size());
}

// 7. What was written.
void PrintReport(const PackOptions& options, const StubProgram& program, uint64_t total,
                 const std::vector<PackedLine>& report, Console& console) {
  std::ostream& out = console.Report();
  if (program.clearSignature) {
    out << "dropped the signature of " << options.stub << ": appending a bundle would break it; sign "
        << options.output << " again\n";
  }
  out << "packed " << report.size() << " entr" << (report.size() == 1 ? "y" : "ies") << " into " << options.output
      << ": " << total << " bytes, of which the bundle takes " << total - program.length
      << (options.checkRecord ? ", its check record included" : ", without a check record") << "\n";
  if (options.anyLayout) out << "layout: " << ANY_LAYOUT_NOTE << "\n";
  size_t nameWidth = 4;
  for (const PackedLine& line : report) nameWidth = std::max(nameWidth, DisplayWidth(line.name));
  for (const PackedLine& line : report) {
    out << "  " << PadRight(line.name, nameWidth) << "  " << PadRight(line.compressed ? "compressed" : "stored", 10)
        << "  " << PadLeft(std::to_string(line.sourceSize), 10) << " -> " << PadLeft(std::to_string(line.storedSize), 10)
        << " bytes";
    if (line.compressed) out << "  " << PadLeft(Percent(line.storedSize, line.sourceSize), 6);
    out << "\n";
  }
}

}  // namespace

void RunPack(const PackOptions& options, Console& console) {
  // The output is none of the inputs.
  std::vector<std::string> inputs = options.otherInputs;
  inputs.push_back(options.stub);
  for (const PackEntry& entry : options.entries) inputs.push_back(entry.source);
  RefuseOverwritingInput(options.output, inputs);

  // Everything that can be checked before writing, every fault reported.
  std::vector<ToolError> errors;
  std::vector<PreparedEntry> prepared = PrepareNames(options, errors);
  std::unique_ptr<InputFile> stub;
  StubProgram program{0, false, 0};
  try {
    stub = std::make_unique<InputFile>(options.stub);
    program = ProgramOf(*stub, options.replace);
  } catch (const ToolError& e) {
    errors.push_back(e);
  }
  if (!options.anyLayout) CheckLayout(options, prepared, stub.get(), errors);
  OpenSources(options, prepared, stub ? &program.length : nullptr, errors);
  ThrowAll(errors);
  if (options.requireSignedPrograms) RefuseUnsignedPrograms(options, prepared);

  // The output, record by record, then the check record.
  OutputFile output(options.output);
  Progress progress(console);
  ReadUnchanged(*stub, options.output, [&] {
    CopyRange(*stub, 0, program.length, output, nullptr, "", nullptr,
              program.clearSignature ? program.signatureEntry : UINT64_MAX);
  });
  const std::vector<uint8_t> marker = bundle::StartMarkerBytes();
  output.Write(marker.data(), marker.size());
  std::vector<bundle::CheckItem> checks;
  std::vector<PackedLine> report;
  for (size_t index = 0; index < prepared.size(); ++index) {
    const std::string label =
        "[" + std::to_string(index + 1) + "/" + std::to_string(prepared.size()) + "] " + prepared[index].entry->name;
    checks.push_back({prepared[index].storedName, 0});
    report.push_back(WriteEntry(options, prepared[index], label, output, progress, checks.back().crc));
  }
  if (options.checkRecord) WriteCheckRecord(options, checks, output);
  progress.Finish();
  const uint64_t total = output.Written();
  output.Commit(PermissionsOf(options.stub));
  PrintReport(options, program, total, report, console);
}

}  // namespace bundletool
