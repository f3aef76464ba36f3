// bundletool's inputs and outputs at their edges: sources that change while
// they are packed, inputs that are no plain files, names Windows cannot
// create, the room kept for a signature at its limit, long paths and names,
// and the clean-up of hidden outputs that earlier runs left. Driven through
// the command line as bundletool_test is: in-process, or the program that
// BUNDLETOOL_COMMAND names (bundletool.exe under Wine in the Windows trees).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/bundle_writer.h"
#include "cli.h"
#include "tool_test_files.h"

namespace {

using namespace tool_test;

bool Windows() { return !ToolCommand().empty(); }

// An error stream that runs an action the first time the tool writes to it:
// with the progress line on, that is the first entry's first progress,
// after every source was opened and while the entries are being written.
class FirstWrite : public std::streambuf {
 public:
  explicit FirstWrite(std::function<void()> action) : action(std::move(action)) {}
  std::string text;

 protected:
  int overflow(int c) override {
    Fire();
    if (c != EOF) text += char(c);
    return c == EOF ? 0 : c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    Fire();
    text.append(s, size_t(n));
    return n;
  }

 private:
  void Fire() {
    if (!action) return;
    std::function<void()> run = std::move(action);
    action = nullptr;
    run();
  }
  std::function<void()> action;
};

class BundleToolInputs : public ScratchFolderTest {
 protected:
  void SetUp() override {
    ScratchFolderTest::SetUp();
    if (HasFatalFailure()) return;
    stub = Path("stub.exe");
    WriteFile(stub, Bytes(40000, 0x90));
  }
  // The tool under test: the in-process commands, or BUNDLETOOL_COMMAND;
  // the standard input from stdinPath.
  Result Run(std::vector<std::string> args, const std::string& stdinPath = "/dev/null") {
    std::vector<std::string> words = ToolCommand();
    if (words.empty() && stdinPath == "/dev/null") {
      return RunInProcess(args);
    }
    if (words.empty()) words = {BUNDLETOOL_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::string line;
    for (const std::string& word : words) line += Quoted(word) + " ";
    line += "<" + Quoted(stdinPath) + " >" + Quoted(dir + ".out") + " 2>" + Quoted(dir + ".err");
    const int status = std::system(line.c_str());
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text(dir + ".out"), Text(dir + ".err")};
    std::remove((dir + ".out").c_str());
    std::remove((dir + ".err").c_str());
    return result;
  }

  // pack in-process with the progress line on and err as its error stream.
  int PackWatched(std::vector<std::string> args, std::ostream& err) {
    args.insert(args.begin(), {"bundletool", "pack", "--any-layout", "--stub", stub, "-o", Path("out.exe")});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out;
    bundletool::Console console{out, err, true};
    return bundletool::RunBundleTool(int(argv.size()), argv.data(), console);
  }

  static std::string Text(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
  }

  std::vector<std::string> FilesIn(const std::string& folder) const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
      while (dirent* e = ::readdir(d)) {
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
      }
      ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string stub;
};

// A source that moves while pack reads or encodes it is refused, compressed
// or stored alike, whether it grew, shrank or was rewritten in place, and
// the output is not written. The change is made at the first progress line,
// when every source is open and the first entry is being written.
TEST_F(BundleToolInputs, SourceThatChangesWhilePackedIsRefused) {
  if (Windows()) GTEST_SKIP() << "needs the in-process commands' error stream; the check is the same code";
  const std::string readme = Path("readme.txt"), big = Path("big.bin");
  const auto append = [&](const std::string& path) {
    return [path] {
      std::ofstream out(path, std::ios::binary | std::ios::app);
      out << std::string(100000, 'x');
    };
  };
  const auto rewriteFirstByte = [](const std::string& path) {
    return [path] {
      const int fd = ::open(path.c_str(), O_WRONLY);
      ASSERT_EQ(::pwrite(fd, "y", 1, 0), 1);
      ::close(fd);
    };
  };
  const auto shrink = [](const std::string& path) { return [path] { ASSERT_EQ(::truncate(path.c_str(), 10), 0); }; };
  const struct {
    const char* what;
    std::vector<std::string> entries;
    std::function<void()> change;
    std::string changed;
  } cases[] = {
      // The read-me: opened at 1,940 bytes, appended to before it is read.
      {"grown before it is read", {"-s", big, "-c", readme}, append(readme), readme},
      // Read whole, then appended to while it is being encoded.
      {"grown while encoded", {"-c", readme}, append(readme), readme},
      {"grown while copied", {"-s", big}, append(big), big},
      {"shrunk before it is read", {"-s", big, "-s", readme}, shrink(readme), readme},
      // Same size, only its time tells (it was set far back before the run).
      {"rewritten in place while copied", {"-s", big}, rewriteFirstByte(big), big},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteText(readme, std::string(1940, 'r'));
    WriteFile(big, Bytes(3 << 20, 0x42));
    const timeval past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimes(big.c_str(), past), 0);
    FirstWrite watched(c.change);
    std::ostream err(&watched);
    EXPECT_EQ(PackWatched(c.entries, err), 1);
    const size_t opened = c.changed == readme ? 1940 : 3 << 20;
    EXPECT_NE(watched.text.find("bundletool: " + c.changed + ": changed while being packed (it had " +
                                std::to_string(opened) + " bytes when pack opened it); " + Path("out.exe") +
                                " was not written: pack again once the file no longer changes\n"),
              std::string::npos)
        << watched.text;
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"big.bin", "readme.txt", "stub.exe"}));
  }
  // Left alone, the same sources pack.
  WriteText(readme, std::string(1940, 'r'));
  std::ostringstream err;
  EXPECT_EQ(PackWatched({"-s", big, "-c", readme}, err), 0) << err.str();
}

// A FIFO, a device or a folder is refused at once, naming it, wherever a
// file is read: a source, the stub, the launcher that list, verify and
// extract read. No process writes the FIFO: a tool that opened it blocking
// would hang here (the test's time limit ends it). A manifest may be a
// stream: a pipe (a shell's <(...)) or the standard input (-m -); a FIFO
// that nobody writes ends at once and is refused as empty.
TEST_F(BundleToolInputs, InputsThatAreNoFilesAreRefusedAtOnceAndManifestsMayBeStreams) {
  const std::string fifo = Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  ::mkdir(Path("folder").c_str(), 0755);
  WriteText(Path("a.txt"), "alpha");
  const std::string isFifo = ": is not a regular file (a FIFO or pipe)\n";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-s", fifo}, fifo + isFifo},
      {{"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-c", "x=" + fifo}, fifo + isFifo},
      {{"pack", "--any-layout", "--stub", fifo, "-o", Path("out.exe"), "-s", Path("a.txt")}, fifo + isFifo},
      {{"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-s", Path("folder")},
       Path("folder") + ": is not a regular file (a folder)\n"},
      {{"list", fifo}, fifo + isFifo},
      {{"verify", fifo}, fifo + isFifo},
      {{"extract", fifo, "-o", Path("x")}, fifo + isFifo},
      {{"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-m", fifo},
       fifo + ": the stream ended before any text (a FIFO that no process writes?)\n"},
  };
  for (const auto& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, 1) << c.args[0] << " " << c.message;
    EXPECT_EQ(r.err, "bundletool: " + c.message);
  }
  if (!Windows()) {
    const Result r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-s", "/dev/null"});
    EXPECT_EQ(r.err, "bundletool: /dev/null: is not a regular file (a device)\n");
  }
  EXPECT_FALSE(Exists(Path("out.exe")));
  EXPECT_FALSE(Exists(Path("x")));

  // The standard input: sources relative to the current folder, or --base.
  WriteText(Path("list.manifest"), "a.txt a.txt stored\n");
  Result r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-m", "-", "--base", dir},
                 Path("list.manifest"));
  ASSERT_EQ(r.code, 0) << r.err;
  const Bytes fromStdin = ReadFile(Path("out.exe"));
  r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("file.exe"), "-m", Path("list.manifest")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(Path("file.exe")), fromStdin);
  WriteText(Path("bad.manifest"), "a.txt a.txt stord\n");
  r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("bad.exe"), "-m", "-"}, Path("bad.manifest"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("bundletool: (standard input): line 1: unknown keyword \"stord\""), std::string::npos) << r.err;

  // A pipe, as bash's <(...) gives one: /dev/fd/N, in-process.
  if (!Windows()) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::string text = "a.txt " + Path("a.txt") + " stored\n";
    ASSERT_EQ(::write(ends[1], text.data(), text.size()), ssize_t(text.size()));
    ::close(ends[1]);
    r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("pipe.exe"), "-m", "/dev/fd/" + std::to_string(ends[0])});
    ::close(ends[0]);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFile(Path("pipe.exe")), fromStdin);
  }
}

// A NUL would end a path or name where the system reads it: a manifest that
// holds one, as a UTF-8 byte or a UTF-16 unit, is refused at its line.
TEST_F(BundleToolInputs, NulInAManifestIsRefusedAtItsLine) {
  WriteText(Path("a.txt"), "alpha");
  const std::string utf8 = std::string("a.txt a.txt stored\nb.txt a.txt") + '\0' + ".evil stored\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : utf8) utf16 += {c, '\0'};
  for (const std::string& text : {utf8, utf16}) {
    WriteText(Path("list.manifest"), text);
    const Result r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-m", Path("list.manifest")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "bundletool: " + Path("list.manifest") +
                         ": line 2: holds a NUL character, which no name or path can hold\n");
    EXPECT_FALSE(Exists(Path("out.exe")));
  }
}

// Windows keeps device names in every folder: an entry named CON, nul.txt or
// COM1.tar.gz could never be extracted there. pack refuses them, in any
// case and with blanks before the extension, and verify flags a bundle that
// carries one; names that only begin like them are files like any other.
TEST_F(BundleToolInputs, DeviceNamesWindowsReservesAreRefusedAndFlagged) {
  WriteText(Path("a.txt"), "alpha");
  for (const char* name : {"CON", "nul.txt", "Com1.txt", "lpt9", "AUX.tar.gz", "prn .log", "CONOUT$", "com0"}) {
    const Result r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-s",
                          std::string(name) + "=" + Path("a.txt")});
    EXPECT_EQ(r.code, 1) << name;
    EXPECT_NE(r.err.find("entry name \"" + std::string(name) + "\": name is a device name Windows reserves"),
              std::string::npos)
        << r.err;
  }
  EXPECT_FALSE(Exists(Path("out.exe")));
  for (const char* name : {"CONSOLE.txt", "com10", "LPT", "nul_file.txt", "auxiliary"}) {
    const Result r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("ok.exe"), "-s",
                          std::string(name) + "=" + Path("a.txt")});
    EXPECT_EQ(r.code, 0) << name << ": " << r.err;
  }

  // A bundle made by another tool, carrying NUL.txt.
  Bytes file = ReadFile(stub);
  const Bytes marker = bundle::StartMarkerBytes(), data = {'d', 'a', 't', 'a'};
  const Bytes trailer = bundle::RecordTrailerBytes("NUL.txt", uint32_t(data.size()));
  for (const Bytes* part : {&marker, &data, &trailer}) file.insert(file.end(), part->begin(), part->end());
  WriteFile(Path("made.exe"), file);
  const Result r = Run({"verify", "--any-layout", Path("made.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("#1 NUL.txt: the launcher cannot write this name: name is a device name Windows reserves"),
            std::string::npos)
      << r.err;
}

// The launcher reads files below 2 GiB only: an output whose size and the
// signature reserve together reach 2 GiB exactly is refused, one byte less is
// packed. The reserve moves instead of the file, so nothing large is written;
// without a reserve a sparse stub brings the output itself to 2 GiB.
TEST_F(BundleToolInputs, SignatureReserveIsHeldAtItsBoundary) {
  WriteText(Path("a.txt"), "alpha");
  const std::vector<std::string> pack = {"pack", "--any-layout", "--stub", stub, "-s", Path("a.txt"), "-o"};
  auto args = pack;
  args.insert(args.end(), {Path("probe.exe"), "--signature-reserve", "0"});
  Result r = Run(args);
  ASSERT_EQ(r.code, 0) << r.err;
  const uint64_t size = uint64_t(ReadFile(Path("probe.exe")).size());
  const uint64_t limit = uint64_t(1) << 31;

  args = pack;
  args.insert(args.end(), {Path("out.exe"), "--signature-reserve", std::to_string(limit - size)});
  r = Run(args);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(Path("out.exe") + ": the launcher with its bundle would be " + std::to_string(size) +
                       " bytes, too large once signed: with " + std::to_string(limit - size) + " bytes kept"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(Exists(Path("out.exe")));
  args = pack;
  args.insert(args.end(), {Path("out.exe"), "--signature-reserve", std::to_string(limit - size - 1)});
  r = Run(args);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(Path("out.exe")), ReadFile(Path("probe.exe")));

  // Exactly 2 GiB with no reserve: the stub grown sparse to fill it.
  const int fd = ::open(Path("big.exe").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::ftruncate(fd, off_t(limit - (size - 40000))), 0);
  ::close(fd);
  r = Run({"pack", "--any-layout", "--stub", Path("big.exe"), "-s", Path("a.txt"), "-o", Path("huge.exe"),
           "--signature-reserve", "0"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("would be " + std::to_string(limit) + " bytes; the launcher reads only files below 2 GiB"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(Exists(Path("huge.exe")));
}

// Long names and paths: an output name as long as the file system takes
// (its hidden companion's name is shortened to fit), in a folder whose path
// is over 300 characters (past Windows' old 260), packed, listed, verified
// and extracted, leaving nothing beside.
TEST_F(BundleToolInputs, LongOutputNamesAndPathsWork) {
  std::string deep = dir;
  for (int i = 0; deep.size() < 320; ++i) {
    deep += "/folder_" + std::to_string(i) + "_with_a_long_name_to_pass_the_old_limit";
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
  }
  WriteText(deep + "/a.txt", std::string(5000, 'a'));
  for (size_t length : {240u, 255u}) {
    SCOPED_TRACE(length);
    const std::string name = std::string(length - 4, 'n') + ".exe";
    Result r = Run({"pack", "--any-layout", "--stub", stub, "-o", deep + "/" + name, "-c", deep + "/a.txt"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", deep + "/" + name}).code, 0);
    EXPECT_EQ(Run({"verify", "--any-layout", deep + "/" + name}).code, 0);
    r = Run({"extract", deep + "/" + name, "-o", deep + "/out"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFile(deep + "/out/a.txt"), Bytes(5000, 'a'));
    EXPECT_EQ(FilesIn(deep).size(), 3u);  // a.txt, the output, out: no hidden file beside
    ::unlink((deep + "/" + name).c_str());
  }
}

// The clean-up before a pack removes the hidden outputs of dead runs for the
// same output, and nothing else: not a name that only looks alike (another
// length, another character, another output), not a folder or a FIFO, not
// one that a live run holds (here the test itself, locked as a run locks its
// own).
TEST_F(BundleToolInputs, CleanUpRemovesOnlyHiddenOutputsOfDeadRuns) {
  WriteText(Path("a.txt"), "alpha");
  const std::string dead = ".out.exe.bundletool-Dead01";
  std::vector<std::string> kept = {".out.exe.bundletool-AbC12",  ".out.exe.bundletool-AbC1234",
                                   ".out.exe.bundletool-AbC-12", ".out.exe.bundletool-",
                                   ".out.exe.bundletool-AbC123.bak", ".other.exe.bundletool-AbC123",
                                   "out.exe.bundletool-AbC123"};
  for (const std::string& name : kept) WriteText(Path(name), "not the tool's");
  WriteText(Path(dead), "left by a killed run");
  kept.push_back(".out.exe.bundletool-Dir001");
  ::mkdir(Path(kept.back()).c_str(), 0755);
  int held = -1;
  if (!Windows()) {
    kept.push_back(".out.exe.bundletool-Fifo01");
    ASSERT_EQ(::mkfifo(Path(kept.back()).c_str(), 0644), 0);
    kept.push_back(".out.exe.bundletool-Held01");
    held = ::open(Path(kept.back()).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  }
  const Result r = Run({"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-s", Path("a.txt")});
  ASSERT_EQ(r.code, 0) << r.err;
  if (held >= 0) ::close(held);
  kept.insert(kept.end(), {"a.txt", "out.exe", "stub.exe"});
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(FilesIn(dir), kept);
}

// Where no unnamed file can be linked in (no /proc: a mount namespace with
// an empty file system over it), the output is a hidden file. A run killed
// outright leaves it; the next pack for the same output removes it, and
// nothing else.
TEST_F(BundleToolInputs, HiddenOutputOfAKilledRunWithoutProcGoesWithTheNextPack) {
  if (Windows()) GTEST_SKIP() << "the hidden-file fallback is the Linux tool's";
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer reads /proc/self/maps at start and /proc at exit: a
  // sanitized tool cannot run without it. The plain host tree runs the case.
  GTEST_SKIP() << "a sanitized program cannot run without /proc";
#endif
  if (std::system("unshare -m true 2>/dev/null") != 0) {
    GTEST_SKIP() << "unshare -m is not permitted here: no mount namespace without /proc to reach the fallback";
  }
  WriteText(Path("a.txt"), "alpha");
  WriteText(Path(".out.exe.bundletool-Other1x"), "not the tool's");
  const int bigFile = ::open(Path("big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::ftruncate(bigFile, off_t(512) << 20), 0);
  ::close(bigFile);

  // The run, killed as soon as it writes into its hidden file: a kill
  // cannot be caught, so only the next run can remove what it left.
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_MODIFY), 0);
  const std::string script = "mount -t tmpfs none /proc && exec \"$0\" \"$@\"";
  std::vector<std::string> words = {"unshare", "-m", "sh", "-c", script, BUNDLETOOL_PATH, "pack", "-q",
                                    "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-s", Path("big.bin")};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  std::string hidden;
  while (hidden.empty()) {
    char buffer[4096];
    const ssize_t n = ::read(watch, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    for (ssize_t at = 0; at < n;) {
      const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && std::string(event->name).rfind(".out.exe.bundletool-", 0) == 0) hidden = event->name;
      at += ssize_t(sizeof(inotify_event) + event->len);
    }
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(watch);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed (exit " << WEXITSTATUS(status) << ")";
  EXPECT_TRUE(Exists(Path(hidden))) << "a killed run's hidden output stays until the next pack";

  // The next pack, also without /proc, which makes and places its own.
  const std::string next = "unshare -m sh -c " + Quoted(script) + " " + Quoted(BUNDLETOOL_PATH) +
                           " pack -q --any-layout --stub " + Quoted(stub) + " -o " + Quoted(Path("out.exe")) +
                           " -s " + Quoted(Path("a.txt"));
  ASSERT_EQ(std::system(next.c_str()), 0);
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{".out.exe.bundletool-Other1x", "a.txt", "big.bin", "out.exe",
                                                    "stub.exe"}));
}

// On Windows a quoted path that ends in a backslash, "C:\payload\", keeps
// the quote and swallows the arguments after it; no Windows path holds a
// quote, so the tool says what happened instead of missing an option.
TEST_F(BundleToolInputs, QuoteLeftByATrailingBackslashIsExplained) {
  if (!Windows()) GTEST_SKIP() << "a path may hold a double quote here";
  const Result r = Run({"pack", "--stub", stub, "-m", "shipped.manifest", "--base", "C:\\payload\" -o out.exe"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "bundletool: the argument 'C:\\payload\" -o out.exe' holds a double quote, which no Windows path "
                   "can: a quoted path that ends in a backslash, such as \"C:\\payload\\\", keeps the quote and runs "
                   "into the arguments after it; drop the trailing backslash (\"C:\\payload\")\n");
}

}  // namespace
