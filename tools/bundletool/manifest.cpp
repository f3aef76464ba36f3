#include "manifest.h"

#include "platform.h"
#include "support.h"

namespace bundletool {

const char* const STANDARD_INPUT = "(standard input)";

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A manifest read as a stream stops here: it is a few lines, not a file of
// any size.
constexpr size_t MAX_STREAMED_MANIFEST = size_t(16) << 20;

// The manifest's bytes: a regular file's, or a pipe's or FIFO's read to its
// end (a shell's <(...), or - for the standard input); anything else is
// refused as other inputs are. Sets stream for a pipe.
std::vector<uint8_t> ManifestBytes(const std::string& path, bool& stream) {
  std::vector<uint8_t> bytes;
  stream = true;
  std::string shown = path;
  bool read = false;
  if (path == "-") {
    shown = STANDARD_INPUT;
    read = platform::ReadStream(platform::StandardInput(), bytes, MAX_STREAMED_MANIFEST);
  } else {
    const platform::FileHandle file = platform::OpenForReading(path);
    if (file == platform::NO_FILE) throw ToolError(path, "cannot open: " + platform::LastProblem());
    platform::FileState state;
    stream = platform::QueryFile(file, state) && state.stream;
    read = stream && platform::ReadStream(file, bytes, MAX_STREAMED_MANIFEST);
    const std::string problem = platform::LastProblem();
    platform::Close(file);
    if (!stream) return ReadWholeFile(path);
    if (!read) throw ToolError(path, "cannot read: " + problem);
  }
  if (!read) throw ToolError(shown, "cannot read: " + platform::LastProblem());
  if (bytes.empty()) throw ToolError(shown, "the stream ended before any text (a FIFO that no process writes?)");
  return bytes;
}

// The manifest's bytes as UTF-8: a UTF-8 byte order mark dropped, UTF-16
// with one converted. Throws ToolError for UTF-16 that does not decode.
std::string TextOf(const std::vector<uint8_t>& bytes, const std::string& path) {
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    return std::string(bytes.begin() + 3, bytes.end());
  }
  const bool little = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  const bool big = bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
  if (!little && !big) return std::string(bytes.begin(), bytes.end());
  if (bytes.size() % 2 != 0) throw ToolError(path, "UTF-16 text of an odd number of bytes");
  std::string text;
  int line = 1;
  for (size_t i = 2; i < bytes.size(); i += 2) {
    const auto unit = [&](size_t at) { return uint32_t(little ? bytes[at] | bytes[at + 1] << 8 : bytes[at] << 8 | bytes[at + 1]); };
    uint32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 2 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10 | (unit(i + 2) - 0xDC00));
      i += 2;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      throw ToolError(path, "line " + std::to_string(line) + ": a lone UTF-16 surrogate");
    }
    if (code == '\n') ++line;
    AppendUtf8(text, code);
  }
  return text;
}

// A source as this system writes paths: \ separates folders as / does,
// where the system does not take it so already.
std::string HostPath(std::string source) {
  if (platform::IsSeparator('\\')) return source;
  for (char& c : source) {
    if (c == '\\') c = '/';
  }
  return source;
}

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

    // A C string ends at a NUL: a path or name holding one would be cut short.
    if (line.find('\0') != std::string::npos) fail("holds a NUL character, which no name or path can hold");
    if (!IsUtf8(line)) fail("not UTF-8 text (save the manifest as UTF-8 or UTF-16)");

    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    std::vector<std::string> fields;
    while (i < line.size() && line[i] != '#') {
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
    if (fields.empty()) continue;
    if (fields.size() != 3) {
      fail("expected NAME SOURCE compressed|stored, found " + std::to_string(fields.size()) + " field" +
           (fields.size() == 1 ? "" : "s"));
    }
    PackEntry entry;
    entry.name = fields[0];
    entry.source = JoinPath(base, HostPath(fields[1]));
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
  bool stream = false;
  const std::vector<uint8_t> bytes = ManifestBytes(path, stream);
  const std::string shown = path == "-" ? STANDARD_INPUT : path;
  // A stream's folder (/dev/fd) says nothing of where its sources are.
  return ParseManifest(TextOf(bytes, shown), shown, !base.empty() ? base : stream ? "" : FolderOf(path));
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
