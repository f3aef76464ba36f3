#include "manifest.h"

#include "support.h"

namespace bundletool {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<PackEntry> ParseManifest(const std::string& text, const std::string& manifestPath,
                                     const std::string& base) {
  std::vector<PackEntry> entries;
  size_t start = 0;
  int lineNumber = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto fail = [&](const std::string& problem) {
      throw ToolError(manifestPath, "line " + std::to_string(lineNumber) + ": " + problem);
    };

    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) fail("empty line (every line is an entry or a # comment)");
    if (line[i] == '#') continue;

    std::vector<std::string> fields;
    while (i < line.size()) {
      std::string field;
      if (line[i] == '"') {
        const size_t close = line.find('"', i + 1);
        if (close == std::string::npos) fail("a quoted field has no closing quote");
        field = line.substr(i + 1, close - i - 1);
        i = close + 1;
        if (i < line.size() && !IsBlank(line[i])) fail("a quoted field runs into the next one");
      } else {
        while (i < line.size() && !IsBlank(line[i])) {
          if (line[i] == '"') fail("a quote inside a field");
          field += line[i++];
        }
      }
      fields.push_back(field);
      while (i < line.size() && IsBlank(line[i])) ++i;
    }
    if (fields.size() != 3) {
      fail("expected NAME SOURCE compressed|stored, found " + std::to_string(fields.size()) + " field" +
           (fields.size() == 1 ? "" : "s"));
    }
    PackEntry entry;
    entry.name = fields[0];
    entry.source = JoinPath(base, fields[1]);
    if (fields[2] == "compressed") {
      entry.compressed = true;
    } else if (fields[2] != "stored") {
      fail("unknown keyword \"" + fields[2] + "\" (expected compressed or stored)");
    }
    if (fields[1].empty()) fail("empty source");
    entry.origin = manifestPath;
    entry.line = lineNumber;
    entries.push_back(entry);
  }
  return entries;
}

std::vector<PackEntry> ReadManifest(const std::string& path, const std::string& base) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  return ParseManifest(std::string(bytes.begin(), bytes.end()), path, base.empty() ? FolderOf(path) : base);
}

PackEntry ParseEntryArgument(const std::string& argument, bool compressed) {
  PackEntry entry;
  entry.compressed = compressed;
  const size_t equals = argument.find('=');
  if (equals == std::string::npos) {
    entry.source = argument;
    entry.name = LastPartOf(argument);
  } else {
    entry.name = argument.substr(0, equals);
    entry.source = argument.substr(equals + 1);
  }
  if (entry.source.empty()) throw ToolError(argument, "entry argument names no file (expected NAME=FILE or FILE)");
  return entry;
}

}  // namespace bundletool
