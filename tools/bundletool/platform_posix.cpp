// The platform layer on POSIX systems: file descriptors, mkstemp, rename and
// iconv.
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform.h"

namespace bundletool::platform {

namespace {

int lastError = 0;

template <typename T>
T Failed(T result) {
  lastError = errno;
  return result;
}

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

void ClearPending(const std::string& path) {
  if (path == pendingTemporary) pendingTemporary[0] = '\0';
}

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

std::string LastProblem() { return std::strerror(lastError); }

bool IsSeparator(char c) { return c == '/'; }
bool IsRooted(const std::string& path) { return !path.empty() && path[0] == '/'; }

FileHandle OpenForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? Failed(NO_FILE) : FileHandle(fd);
}

bool QueryFile(FileHandle file, uint64_t& size, bool& regular) {
  struct stat st;
  if (::fstat(int(file), &st) != 0) return Failed(false);
  size = uint64_t(st.st_size);
  regular = S_ISREG(st.st_mode);
  return true;
}

int64_t ReadAt(FileHandle file, uint64_t position, void* buffer, size_t count) {
  for (;;) {
    const ssize_t n = ::pread(int(file), buffer, count, off_t(position));
    if (n >= 0) return n;
    if (errno != EINTR) return Failed(int64_t(-1));
  }
}

int64_t Write(FileHandle file, const void* data, size_t count) {
  for (;;) {
    const ssize_t n = ::write(int(file), data, count);
    if (n >= 0) return n;
    if (errno != EINTR) return Failed(int64_t(-1));
  }
}

bool Close(FileHandle file) { return ::close(int(file)) == 0 || Failed(false); }

FileHandle CreateTemporary(const std::string& folder, const std::string& base, std::string& temporary) {
  const std::string pattern = folder + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return Failed(NO_FILE);
  temporary = name.data();
  SetPending(temporary);
  return fd;
}

bool Finish(FileHandle file, unsigned mode) {
  return (::fchmod(int(file), mode_t(mode)) == 0 && ::fsync(int(file)) == 0) || Failed(false);
}

bool Replace(const std::string& temporary, const std::string& target) {
  if (::rename(temporary.c_str(), target.c_str()) != 0) return Failed(false);
  ClearPending(temporary);
  return true;
}

bool RemoveFile(const std::string& path) {
  const bool removed = ::unlink(path.c_str()) == 0 || Failed(false);
  ClearPending(path);
  return removed;
}

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST || Failed(false); }

unsigned PermissionsOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 0777) : 0755u;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void PrepareStandardStreams() {}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

bool Utf8ToCp932(const std::string& utf8, std::string& cp932) { return Convert("CP932", "UTF-8", utf8, cp932); }
bool Cp932ToUtf8(const std::string& cp932, std::string& utf8) { return Convert("UTF-8", "CP932", cp932, utf8); }

}  // namespace bundletool::platform
