#include "support.h"

#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bundletool {

std::string SystemProblem(int error) { return std::strerror(error); }

// ---- InputFile

InputFile::InputFile(const std::string& path) : path(path) {
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ToolError(path, "cannot open: " + SystemProblem(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    throw ToolError(path, "cannot read its size: " + SystemProblem(error));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw ToolError(path, "is not a regular file");
  }
  size = uint64_t(st.st_size);
}

InputFile::~InputFile() {
  if (fd >= 0) ::close(fd);
}

int32_t InputFile::ReadAt(uint32_t position, void* buffer, int32_t count) {
  if (count < 0) return -1;
  size_t done = 0;
  while (done < size_t(count)) {
    const ssize_t n = ::pread(fd, static_cast<uint8_t*>(buffer) + done, size_t(count) - done, off_t(position) + off_t(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return int32_t(done);
}

void InputFile::ReadExactly(uint64_t position, void* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, static_cast<uint8_t*>(buffer) + done, count - done, off_t(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ToolError(path, "read failed: " + SystemProblem(errno));
    }
    if (n == 0) throw ToolError(path, "file ended early (did it change while being read?)");
    done += size_t(n);
  }
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

// ---- OutputFile

namespace {

// The temporary file being written, removed by the signal handler so that an
// interrupted run leaves nothing behind. Only one output is open at a time.
char pendingTemporary[4096];

extern "C" void RemovePendingOnSignal(int signal) {
  if (pendingTemporary[0] != '\0') ::unlink(pendingTemporary);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void SetPending(const std::string& path) {
  static bool handlersInstalled = false;
  if (!handlersInstalled) {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, RemovePendingOnSignal);
    handlersInstalled = true;
  }
  const size_t n = path.size() < sizeof pendingTemporary - 1 ? path.size() : 0;
  std::memcpy(pendingTemporary, path.data(), n);
  pendingTemporary[n] = '\0';
}

void ClearPending() { pendingTemporary[0] = '\0'; }

}  // namespace

OutputFile::OutputFile(const std::string& path) : path(path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) throw ToolError(path, "names a folder, not a file");
  std::string pattern = folder + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd = ::mkstemp(name.data());
  if (fd < 0) throw ToolError(path, "cannot create a file in its folder: " + SystemProblem(errno));
  temporary = name.data();
  SetPending(temporary);
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  if (!temporary.empty()) {
    ::unlink(temporary.c_str());
    temporary.clear();
    ClearPending();
  }
}

void OutputFile::Write(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ToolError(path, "write failed: " + SystemProblem(errno));
    }
    bytes += n;
    size -= size_t(n);
    written += uint64_t(n);
  }
}

void OutputFile::Commit(unsigned mode) {
  if (::fchmod(fd, mode_t(mode)) != 0 || ::fsync(fd) != 0) {
    throw ToolError(path, "cannot finish the file: " + SystemProblem(errno));
  }
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) throw ToolError(path, "cannot finish the file: " + SystemProblem(errno));
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    throw ToolError(path, "cannot replace it: " + SystemProblem(errno));
  }
  temporary.clear();
  ClearPending();
}

void RefuseOverwritingInput(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat out;
  if (::stat(output.c_str(), &out) != 0) return;  // a new file cannot be an input
  for (const std::string& input : inputs) {
    struct stat in;
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
      throw ToolError(output, "is also an input (" + input + "); refusing to overwrite it");
    }
  }
}

// ---- Names

namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == iconv_t(-1)) return false;
  std::string result(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = &result[0];
  size_t dstLeft = result.size();
  const size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  const bool ok = r != size_t(-1) && srcLeft == 0 && ::iconv(cd, nullptr, nullptr, &dst, &dstLeft) != size_t(-1);
  ::iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - dstLeft);
  out = result;
  return true;
}

}  // namespace

bool Utf8ToCp932(const std::string& utf8, std::string& cp932) { return Convert("CP932", "UTF-8", utf8, cp932); }
bool Cp932ToUtf8(const std::string& cp932, std::string& utf8) { return Convert("UTF-8", "CP932", cp932, utf8); }

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
    const unsigned char c = utf8[i];
    const size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k) code = code << 6 | (uint8_t(utf8[i + k]) & 0x3F);
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

// ---- Progress

void Progress::Show(const std::string& label, uint64_t done, uint64_t total) {
  if (!console.progress) return;
  const int percent = total == 0 ? 100 : int(done * 100 / total);
  if (percent == lastPercent && label == lastLabel) return;
  lastPercent = percent;
  lastLabel = label;
  console.err << "\r" << label << " " << percent << "%\x1b[K" << std::flush;
  drawn = true;
}

void Progress::Finish() {
  if (drawn) console.err << "\r\x1b[K" << std::flush;
  drawn = false;
  lastPercent = -1;
  lastLabel.clear();
}

}  // namespace bundletool
