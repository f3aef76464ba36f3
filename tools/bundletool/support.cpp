#include "support.h"

#include <algorithm>
#include <cstring>

#include "platform.h"

namespace bundletool {

// ---- InputFile

InputFile::InputFile(const std::string& path) : path(path), file(platform::OpenForReading(path)) {
  if (file == platform::NO_FILE) throw ToolError(path, "cannot open: " + platform::LastProblem());
  platform::FileState state;
  if (!platform::QueryFile(file, state)) {
    const std::string problem = platform::LastProblem();
    platform::Close(file);
    throw ToolError(path, "cannot read its size: " + problem);
  }
  if (!state.regular) {
    platform::Close(file);
    throw ToolError(path, std::string("is not a regular file (") + state.kind + ")");
  }
  size = state.size;
  written = state.written;
  changed = state.changed;
}

InputFile::~InputFile() { platform::Close(file); }

int32_t InputFile::ReadAt(uint32_t position, void* buffer, int32_t count) {
  if (count < 0) return -1;
  size_t done = 0;
  while (done < size_t(count)) {
    const int64_t n = platform::ReadAt(file, uint64_t(position) + done, static_cast<uint8_t*>(buffer) + done,
                                       size_t(count) - done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return int32_t(done);
}

void InputFile::ReadExactly(uint64_t position, void* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const int64_t n = platform::ReadAt(file, position + done, static_cast<uint8_t*>(buffer) + done, count - done);
    if (n < 0) throw ToolError(path, "read failed: " + platform::LastProblem());
    if (n == 0) throw ToolError(path, "file ended early (did it change while being read?)");
    done += size_t(n);
  }
}

bool InputFile::Unchanged() {
  uint8_t extra;
  if (platform::ReadAt(file, size, &extra, 1) != 0) return false;
  platform::FileState now;
  return platform::QueryFile(file, now) && now.size == size && now.written == written && now.changed == changed;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  InputFile file(path);
  if (file.FullSize() > 0x7FFFFFFFu) throw ToolError(path, "is 2 GiB or larger");
  std::vector<uint8_t> bytes(size_t(file.FullSize()));
  file.ReadExactly(0, bytes.data(), bytes.size());
  uint8_t extra;
  if (file.ReadAt(uint32_t(bytes.size()), &extra, 1) != 0) {
    throw ToolError(path, "file grew while being read");
  }
  return bytes;
}

// ---- Failures and the console

void ThrowAll(const std::vector<ToolError>& errors) {
  if (errors.size() == 1) throw errors.front();
  if (!errors.empty()) throw ToolErrors(errors);
}

void Console::Problem(const std::string& file, const std::string& text) const {
  err << "bundletool: " << file << ": " << text << "\n";
}

void Console::Warning(const std::string& file, const std::string& text) const {
  if (!quiet) err << "bundletool: " << file << ": warning: " << text << "\n";
}

std::ostream& Console::Report() const {
  static std::ostream nowhere(nullptr);
  return quiet ? nowhere : out;
}

// ---- OutputFile

OutputFile::OutputFile(const std::string& path) : path(path), folder(FolderOf(path)), base(LastPartOf(path)) {
  if (base.empty()) throw ToolError(path, "names a folder, not a file");
  file = platform::CreateOutput(folder, base, temporary);
  if (file == platform::NO_FILE) {
    throw ToolError(path, "cannot create a file in its folder: " + platform::LastProblem());
  }
}

OutputFile::~OutputFile() {
  if (file != platform::NO_FILE) platform::DiscardOutput(file, temporary);
}

void OutputFile::Write(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const int64_t n = platform::Write(file, bytes, size);
    if (n <= 0) throw ToolError(path, "write failed: " + platform::LastProblem());
    bytes += n;
    size -= size_t(n);
    written += uint64_t(n);
  }
}

void OutputFile::Commit(unsigned mode) {
  if (!platform::FinishOutput(file, mode)) {
    throw ToolError(path, "cannot finish the file: " + platform::LastProblem());
  }
  const platform::FileHandle placed = file;
  file = platform::NO_FILE;
  if (!platform::PlaceOutput(placed, temporary, folder, base)) {
    throw ToolError(path, "cannot replace it: " + platform::LastProblem());
  }
}

void RefuseOverwritingInput(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs) {
    if (platform::SameFile(input, output)) {
      throw ToolError(output, "is also an input (" + input + "); refusing to overwrite it");
    }
  }
}

// ---- Paths

std::string FolderOf(const std::string& path) {
  size_t slash = path.size();
  while (slash > 0 && !platform::IsSeparator(path[slash - 1])) --slash;
  if (slash == 0) return ".";
  return slash == 1 ? path.substr(0, 1) : path.substr(0, slash - 1);
}

std::string LastPartOf(const std::string& path) {
  size_t slash = path.size();
  while (slash > 0 && !platform::IsSeparator(path[slash - 1])) --slash;
  return path.substr(slash);
}

std::string JoinPath(const std::string& folder, const std::string& path) {
  if (path.empty() || platform::IsRooted(path) || folder.empty()) return path;
  return platform::IsSeparator(folder.back()) ? folder + path : folder + "/" + path;
}

void MakeFolder(const std::string& folder) {
  if (!platform::MakeFolder(folder)) throw ToolError(folder, "cannot create the folder: " + platform::LastProblem());
}

unsigned PermissionsOf(const std::string& path) { return platform::PermissionsOf(path); }

// ---- Names and columns

std::string DisplayName(const std::string& cp932) {
  std::string utf8;
  const bool converted = Cp932ToUtf8(cp932, utf8);
  const std::string& text = converted ? utf8 : cp932;
  std::string shown;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || (!converted && c >= 0x80)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      shown += escape;
    } else {
      shown += char(c);
    }
  }
  return shown;
}

size_t DisplayWidth(const std::string& utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t code;
    size_t length = Utf8SequenceAt(utf8, i, code);
    if (length == 0) {
      length = 1;
      code = uint8_t(utf8[i]);
    }
    const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                      (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                      (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                      (code >= 0xFFE0 && code <= 0xFFE6);
    width += wide ? 2 : 1;
    i += length;
  }
  return width;
}

std::string PadRight(const std::string& text, size_t width) {
  const size_t w = DisplayWidth(text);
  return w >= width ? text : text + std::string(width - w, ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
  const size_t w = DisplayWidth(text);
  return w >= width ? text : std::string(width - w, ' ') + text;
}

std::string Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(part) / double(whole));
  return text;
}

// ---- Progress

void Progress::Show(const std::string& label, uint64_t done, uint64_t total) {
  if (!console.progress || console.quiet) return;
  const int percent = total == 0 ? 100 : int(done * 100 / total);
  if (percent == lastPercent && label == lastLabel) return;
  lastPercent = percent;
  lastLabel = label;
  const std::string line = label + " " + std::to_string(percent) + "%";
  const size_t width = DisplayWidth(line);
  console.err << "\r" << line << std::string(drawnWidth > width ? drawnWidth - width : 0, ' ') << std::flush;
  drawnWidth = std::max(drawnWidth, width);
}

void Progress::Finish() {
  if (drawnWidth > 0) console.err << "\r" << std::string(drawnWidth, ' ') << "\r" << std::flush;
  drawnWidth = 0;
  lastPercent = -1;
  lastLabel.clear();
}

}  // namespace bundletool
