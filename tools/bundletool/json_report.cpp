#include "json_report.h"

#include "json_writer.h"

namespace bundletool {

namespace {

// The report's version: raised only when a key changes its meaning or goes
// (docs/bundletool-json.md). New keys may come without it.
const char* const JSON_SCHEMA = "bundletool-report/1";

}  // namespace

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

}  // namespace bundletool
