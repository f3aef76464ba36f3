// The platform layer on POSIX systems: file descriptors; outputs written as
// unnamed files (O_TMPFILE) linked in at the end, or as hidden files locked
// with flock; rename.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
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

// The hidden output file of this run, removed by the signal handler so that
// an interrupted run leaves nothing behind even before the next run clears
// it. Only one output is open at a time.
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

// The longest name the folder's file system takes.
size_t MaxName(const std::string& folder) {
  const long n = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? size_t(n) : 255;
}

// True when path names the file open as fd: no other run's clean-up removed
// it, and no other file took its name.
bool NamesFile(const std::string& path, int fd) {
  struct stat named, open;
  return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev &&
         named.st_ino == open.st_ino;
}

// Removes the hidden outputs for base that no running tool holds: each run
// holds its own locked from before its name can be seen as free until it
// ends, so a lock taken here means its run is over. Only names exactly of
// the form the tool makes are touched, and only plain files.
void RemoveStaleOutputs(const std::string& folder, const std::string& base) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::string prefix = HiddenPrefix(base, MaxName(folder));
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsHiddenOutputName(entry->d_name, prefix)) continue;
    const std::string path = folder + "/" + entry->d_name;
    // Without blocking: a FIFO of that name must not stop the tool.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && NamesFile(path, fd)) {
      ::unlink(path.c_str());
    }
    ::close(fd);
  }
  ::closedir(dir);
}

// A hidden name of prefix in folder that is not taken yet, made by make
// (which creates it, or fails with EEXIST when it is taken).
template <typename Make>
bool MakeHiddenName(const std::string& folder, const std::string& prefix, std::string& name, Make make) {
  static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(6, ' ');
    for (char& c : suffix) c = LETTERS[random() % (sizeof LETTERS - 1)];
    name = folder + "/" + prefix + suffix;
    if (make(name)) return true;
    if (errno != EEXIST) return Failed(false);
  }
  return Failed(false);
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO or pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

}  // namespace

std::string LastProblem() { return std::strerror(lastError); }

bool IsSeparator(char c) { return c == '/'; }
bool IsRooted(const std::string& path) { return !path.empty() && path[0] == '/'; }

size_t NameUnits(const std::string& utf8) { return utf8.size(); }

FileHandle OpenForReading(const std::string& path) {
  // Non-blocking, so that a FIFO without a writer opens at once; reads of a
  // regular file are not affected.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  return fd < 0 ? Failed(NO_FILE) : FileHandle(fd);
}

FileHandle StandardInput() { return FileHandle(STDIN_FILENO); }

bool QueryFile(FileHandle file, FileState& state) {
  struct stat st;
  if (::fstat(int(file), &st) != 0) return Failed(false);
  state.size = uint64_t(st.st_size);
  state.regular = S_ISREG(st.st_mode);
  state.stream = S_ISFIFO(st.st_mode);
  state.kind = state.regular ? "" : KindOf(st.st_mode);
  state.written = uint64_t(st.st_mtim.tv_sec) * 1000000000u + uint64_t(st.st_mtim.tv_nsec);
  state.changed = uint64_t(st.st_ctim.tv_sec) * 1000000000u + uint64_t(st.st_ctim.tv_nsec);
  return true;
}

bool ReadStream(FileHandle file, std::vector<uint8_t>& bytes, size_t limit) {
  bytes.clear();
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(int(file), buffer, sizeof buffer);
    if (n == 0) return true;
    if (n > 0) {
      if (bytes.size() + size_t(n) > limit) {
        lastError = EFBIG;
        return false;
      }
      bytes.insert(bytes.end(), buffer, buffer + n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Failed(false);
    // A writer holds it open but has written nothing yet (a FIFO without
    // one reads as ended): wait for its bytes or its close.
    pollfd wait = {int(file), POLLIN, 0};
    if (::poll(&wait, 1, -1) < 0 && errno != EINTR) return Failed(false);
  }
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

FileHandle CreateOutput(const std::string& folder, const std::string& base, std::string& temporary) {
  RemoveStaleOutputs(folder, base);
  temporary.clear();
  int fd = -1;
#ifdef O_TMPFILE
  // An unnamed file is linked in through /proc at the end: without /proc (a
  // chroot, some containers) it could never be placed.
  if (::access("/proc/self/fd", X_OK) == 0) fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#endif
  // Held until the process ends, the lock tells every other run's clean-up
  // that this output is still being written.
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    Failed(false);
    ::close(fd);
    return NO_FILE;
  }
  if (fd < 0) {
    // No unnamed files here: a hidden one, locked, and removed on a signal.
    // Another run's clean-up may take the new name before the lock does: it
    // then holds the lock, or has removed the name, and another is made.
    const bool made = MakeHiddenName(folder, HiddenPrefix(base, MaxName(folder)), temporary,
                                     [&](const std::string& name) {
                                       fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
                                       if (fd < 0) return false;
                                       if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && NamesFile(name, fd)) return true;
                                       ::close(fd);
                                       fd = -1;
                                       errno = EEXIST;
                                       return false;
                                     });
    if (!made) return NO_FILE;
    SetPending(temporary);
  }
  return FileHandle(fd);
}

bool FinishOutput(FileHandle file, unsigned mode) {
  return (::fchmod(int(file), mode_t(mode)) == 0 && ::fsync(int(file)) == 0) || Failed(false);
}

bool PlaceOutput(FileHandle file, std::string& temporary, const std::string& folder, const std::string& base) {
  if (temporary.empty()) {
    // An unnamed file gets a hidden name first: link() cannot replace a file.
    const std::string self = "/proc/self/fd/" + std::to_string(int(file));
    const bool linked = MakeHiddenName(folder, HiddenPrefix(base, MaxName(folder)), temporary, [&](const std::string& name) {
      return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (!linked) {
      temporary.clear();
      DiscardOutput(file, temporary);
      return false;
    }
    SetPending(temporary);
  }
  if (::rename(temporary.c_str(), (folder + "/" + base).c_str()) != 0) {
    Failed(false);
    DiscardOutput(file, temporary);
    return false;
  }
  temporary.clear();
  ClearPending();
  return Close(file);
}

void DiscardOutput(FileHandle file, std::string& temporary) {
  const int error = lastError;
  ::close(int(file));
  if (!temporary.empty()) ::unlink(temporary.c_str());
  temporary.clear();
  ClearPending();
  lastError = error;
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

}  // namespace bundletool::platform
