// What bundletool pack refuses, each with a clear error naming the file, and
// that a refused or killed run loses nothing: bad entries, layouts the
// launcher cannot install, a stub that already carries a bundle, an input
// given as the output, an output that cannot be written, files the launcher
// could not read (which list and verify tell apart too), and a run killed
// while it writes. Built into bundletool_test, whose opening comment tells
// how the same cases run against bundletool.exe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundle/format/bundle_writer.h"
#include "bundletool_fixture.h"

namespace {

using namespace tool_test;

TEST_F(BundleTool, BadEntriesAreRefusedNamingTheFileAndNothingIsWritten) {
  WriteText(Path("ok.txt"), "data");
  WriteText(Path("out.exe"), "previous contents");
  const std::string longName(260, 'x');
  const struct {
    std::vector<std::string> entry;
    const char* message;
  } cases[] = {
      {{"-s", Path("missing.dat")}, "missing.dat: cannot open"},
      {{"-s", Path("payload_folder")}, "is not a regular file"},
      {{"-s", longName + "=" + Path("ok.txt")}, "longer than 259 bytes"},
      {{"-s", "sub\\name=" + Path("ok.txt")}, "path separator"},
      {{"-s", "sub/name=" + Path("ok.txt")}, "path separator"},
      {{"-s", "\xE2\x82\xAC.txt=" + Path("ok.txt")}, "cannot be written in code page 932"},
      {{"-s", "x=" + Path("ok.txt"), "-c", "x=" + Path("ok.txt")}, "given twice"},
  };
  ::mkdir(Path("payload_folder").c_str(), 0777);
  for (const auto& c : cases) {
    std::vector<std::string> args = {"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe")};
    args.insert(args.end(), c.entry.begin(), c.entry.end());
    const Result r = Run(args);
    EXPECT_EQ(r.code, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("bundletool: ", 0), 0u) << r.err;
    EXPECT_EQ(ReadFile(Path("out.exe")), Bytes({'p', 'r', 'e', 'v', 'i', 'o', 'u', 's', ' ', 'c', 'o', 'n', 't', 'e',
                                                'n', 't', 's'}));
  }
  // No temporary file is left behind.
  std::vector<std::string> files = FilesIn(dir);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"ok.txt", "out.exe", "payload_folder", "stub.exe"}));
}

// Bundles the launcher cannot install, one of each kind of mistake: pack
// refuses each, naming the row or the file, and writes nothing; packed all
// the same with --any-layout, verify finds the same fault.
TEST_F(BundleTool, LayoutsTheLauncherCannotInstallAreRefused) {
  const std::string payload = MakePayload();
  const std::string shipped = TextOf(SHIPPED_MANIFEST);
  const auto edited = [&](const std::string& line, const std::string& with) {
    const size_t at = shipped.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    return shipped.substr(0, at) + with + shipped.substr(at + line.size());
  };
  WriteText(Path("text.exe"), "not a program");
  const std::string row7 = "\"readme_traial.txt\" (row 7 of 10 in the launcher's entry table)";
  const struct {
    std::string manifest;
    std::string stub;
    std::vector<std::string> refusals;  // each a line of pack's
    std::string found;                  // what verify says of it
  } cases[] = {
      {edited("readme_traial.txt  readme_traial.txt", "readme_trial.txt   readme_traial.txt"), stub,
       {"manifest: " + row7 + " is missing: the launcher looks it up by exactly this name",
        "manifest: line 13: \"readme_trial.txt\" is not in the launcher's entry table: the launcher never writes it"},
       row7 + " is missing"},
      {edited("inst_bgm.dat       inst_bgm.dat       stored", "inst_bgm.dat inst_bgm.dat compressed"), stub,
       {"manifest: line 14: \"inst_bgm.dat\" (row 8 of 10 in the launcher's entry table) is compressed, but the "
        "launcher copies this row unchanged"},
       "\"inst_bgm.dat\" (row 8 of 10 in the launcher's entry table) is compressed"},
      {edited("readme_traial.txt  compressed", "readme_traial.txt  stored"), stub,
       {"manifest: line 13: " + row7 + " is stored, but the launcher reads this row as a compressed block"},
       row7 + " is stored"},
      {edited("zephra.exe         zephra.exe         compressed\n", ""), stub,
       {"manifest: \"zephra.exe\" (row 5 of 10 in the launcher's entry table) is missing"}, "\"zephra.exe\" (row 5"},
      {"# nothing yet\n", stub,
       {"manifest: \"i_autorun.exe\" (row 1 of 10", "manifest: \"inst_voice_jp.dat\" (row 10 of 10"},
       "\"i_autorun.exe\" (row 1 of 10"},
      {shipped + "setup.exe setup.exe compressed\n", stub,
       {"manifest: line 17: \"setup.exe\" (row 3 of 10 in the launcher's entry table) is given 2 times: the later "
        "copy shadows the earlier"},
       "\"setup.exe\" (row 3 of 10 in the launcher's entry table) is given 2 times"},
      {shipped, Path("text.exe"),
       {"text.exe: is not a program (no PE headers), not a bare launcher (a PE GUI program for i386 or amd64)"},
       "program: it is not a program (no PE headers), not a launcher"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.found);
    WriteText(Path("case.manifest"), c.manifest);
    const std::vector<std::string> pack = {"pack", "--allow-duplicates", "-l", "fast", "--stub", c.stub,
                                           "-m", Path("case.manifest"), "--base", payload, "-o", Path("out.exe")};
    Result r = Run(pack);
    EXPECT_EQ(r.code, 1);
    for (const std::string& refusal : c.refusals) EXPECT_NE(r.err.find(refusal), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bundletool: " + Path("out.exe") + ": not written: this is not the layout the launcher "
                         "installs (--any-layout packs it all the same, for tests and tools)\n"), std::string::npos);
    EXPECT_FALSE(Exists(Path("out.exe")));

    std::vector<std::string> any = pack;
    any.insert(any.begin() + 1, "--any-layout");
    r = Run(any);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("layout: not held against the launcher's entry table (--any-layout)"), std::string::npos);
    r = Run({"verify", Path("out.exe")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(c.found), std::string::npos) << r.err;
    ::unlink(Path("out.exe").c_str());
  }
}

TEST_F(BundleTool, InputsAreNeverOverwritten) {
  WriteText(Path("ok.txt"), "data");
  const Bytes stubBefore = ReadFile(stub);
  Result r = PackAny({"-o", stub, "-s", Path("ok.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("refusing to overwrite"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(stub), stubBefore);
  r = PackAny({"-o", Path("./ok.txt"), "-s", Path("ok.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(ReadFile(Path("ok.txt")), Bytes({'d', 'a', 't', 'a'}));
}

TEST_F(BundleTool, StubThatCarriesABundleIsRefusedUnlessReplaced) {
  WriteText(Path("old.txt"), "old");
  WriteText(Path("new.txt"), "new");
  ASSERT_EQ(PackAny({"-o", Path("first.exe"), "-s", Path("old.txt")}).code, 0);
  Result r = Run({"pack", "--any-layout", "--stub", Path("first.exe"), "-o", Path("second.exe"), "-s", Path("new.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("first.exe: already carries a bundle"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("second.exe")));

  ASSERT_EQ(Run({"pack", "--any-layout", "--stub", Path("first.exe"), "-o", Path("second.exe"), "-s", Path("new.txt"), "--replace"}).code, 0);
  Bytes expected = ReadFile(stub);
  const Bytes bundle = bundle::BuildBundle({{"new.txt", {'n', 'e', 'w'}}}, {CheckOf("new.txt", {'n', 'e', 'w'})});
  expected.insert(expected.end(), bundle.begin(), bundle.end());
  EXPECT_EQ(ReadFile(Path("second.exe")), expected);
}

// The launcher reads only files below 2 GiB, signed ones too: pack keeps
// room for the signature, and list and verify tell a file too large, or cut
// short, from one without a bundle. Sparse files: nothing large is written.
TEST_F(BundleTool, FilesTheLauncherCannotReadAreRefusedOrToldApart) {
  const auto sparse = [&](const std::string& name, off_t size) {
    const int fd = ::open(Path(name).c_str(), O_CREAT | O_WRONLY, 0644);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    return Path(name);
  };
  WriteFile(Path("data.bin"), Bytes(200, 1));
  // About 2 GiB less 850 bytes once packed: fits, but not once signed.
  Result r = Run({"pack", "--any-layout", "--stub", sparse("big.exe", (off_t(1) << 31) - 1000), "-o", Path("out.exe"),
                  "-s", Path("data.bin")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("out.exe: the launcher with its bundle would be 2147482" ), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("too large once signed: with 65536 bytes kept for the signature (--signature-reserve) it "
                       "must stay below 2 GiB (2147483648 bytes)"), std::string::npos) << r.err;
  r = Run({"pack", "--any-layout", "--signature-reserve", "0", "--stub", sparse("bigger.exe", 0x7FFFFFFF - 100),
           "-o", Path("out.exe"), "-s", Path("data.bin")});
  EXPECT_NE(r.err.find("the launcher reads only files below 2 GiB"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("out.exe")));

  // What signing made of a launcher packed to the limit before.
  const std::string signedSize = std::to_string(2147484976u);
  for (const char* command : {"list", "verify"}) {
    r = Run({command, sparse("signed.exe", 2147484976)});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "bundletool: " + Path("signed.exe") + ": is " + signedSize + " bytes, 2 GiB or more: the "
                     "launcher reads only files below 2 GiB (2147483648 bytes), so it cannot install from this one\n");
  }
  // A download cut short, in its bundle and in its program.
  WriteText(Path("a.txt"), std::string(5000, 'a'));
  ASSERT_EQ(PackAny({"-o", Path("whole.exe"), "-s", Path("a.txt")}).code, 0);
  const Bytes whole = ReadFile(Path("whole.exe"));
  WriteFile(Path("cut.exe"), Bytes(whole.begin(), whole.begin() + 42000));
  r = Run({"list", Path("cut.exe")});
  EXPECT_EQ(r.err, "bundletool: " + Path("cut.exe") + ": is cut short: a bundle begins at byte 40000 but its end is "
                   "missing (an interrupted download or copy?)\n");
  WriteFile(Path("cut.exe"), Bytes(whole.begin(), whole.begin() + 30000));
  r = Run({"verify", Path("cut.exe")});
  EXPECT_EQ(r.err, "bundletool: " + Path("cut.exe") + ": is cut short: its program runs to byte 40000, but the file "
                   "ends at 30000 (an interrupted download or copy?)\n");
}

// An output that cannot be written: its folder is missing, or it is a
// folder. A clear error, and nothing written or left behind.
TEST_F(BundleTool, UnwritableOutputIsRefusedAndNothingIsWritten) {
  WriteText(Path("ok.txt"), "data");
  Result r = PackAny({"-s", Path("ok.txt"), "-o", Path("missing/out.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "bundletool: " + Path("missing/out.exe") +
                       ": cannot create a file in its folder: No such file or directory\n");
  ::mkdir(Path("taken").c_str(), 0777);
  r = PackAny({"-s", Path("ok.txt"), "-o", Path("taken")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("bundletool: " + Path("taken") + ": cannot replace it: ", 0), 0u) << r.err;
  std::vector<std::string> files = FilesIn(dir);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"ok.txt", "stub.exe", "taken"}));
  EXPECT_TRUE(FilesIn(Path("taken")).empty());
}

// A run ended from outside while it writes leaves the old output as it was
// and nothing beside it: killed outright here (SIGKILL; for the Windows
// build, its Wine process), which is harder than Ctrl+C. A hidden output
// that a run killed before this fix left behind goes with the next run.
TEST_F(BundleTool, KilledRunLeavesNothingBehind) {
  WriteText(Path(".out.exe.bundletool-AbC123"), "left by a run that was killed");
  WriteText(Path("a.txt"), "a");
  ASSERT_EQ(PackAny({"-q", "-o", Path("out.exe"), "-s", Path("a.txt")}).code, 0);
  EXPECT_FALSE(Exists(Path(".out.exe.bundletool-AbC123")));
  const Bytes before = ReadFile(Path("out.exe"));

  // A large sparse source keeps the run busy long after its first write: 256
  // MiB through a 1 MiB buffer, against a kill sent the moment writing shows.
  // Should the run ever finish first, the check of how it ended says so; it
  // cannot pass by it.
  const int big = ::open(Path("big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::ftruncate(big, off_t(256) << 20), 0);
  ::close(big);
  std::vector<std::string> words = ToolCommand();
  const bool windows = !words.empty();
  if (!windows) words = {BUNDLETOOL_PATH};
  words.insert(words.end(), {"pack", "--any-layout", "--stub", stub, "-o", Path("out.exe"), "-s", Path("big.bin")});
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);

  // Writing is under way once its progress line shows on the terminal (an
  // unnamed file has no name to watch) or its hidden file is written to.
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_MODIFY), 0);
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  bool writing = false;
  std::string shown;
  while (!writing) {
    pollfd fds[2] = {{terminal, POLLIN, 0}, {watch, POLLIN, 0}};
    ASSERT_GT(::poll(fds, 2, 120000), 0) << "no write within two minutes; the terminal showed: " << shown;
    char buffer[4096];
    if (fds[0].revents) {
      const ssize_t n = ::read(terminal, buffer, sizeof buffer);
      ASSERT_GT(n, 0) << "the run ended first; the terminal showed: " << shown;
      shown.append(buffer, size_t(n));
      writing = shown.find('%') != std::string::npos;
    }
    if (fds[1].revents) {
      const ssize_t n = ::read(watch, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
        writing = writing || (event->len > 0 && std::string(event->name).rfind(".out.exe.bundletool-", 0) == 0);
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
    }
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(terminal);
  ::close(watch);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed (exit " << WEXITSTATUS(status) << ")";
  // The progress line is drawn without escape sequences, which a classic
  // console would print raw (Wine's own console writes some to the terminal).
  if (!windows) {
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
  }
  // Wine ends the killed process's handles, and with them its files, before
  // it serves the next program's first request.
  if (windows) {
    EXPECT_EQ(Run({"--version"}).code, 0);
  }

  std::vector<std::string> files = FilesIn(dir);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"a.txt", "big.bin", "out.exe", "stub.exe"}));
  EXPECT_EQ(ReadFile(Path("out.exe")), before);
}

}  // namespace
