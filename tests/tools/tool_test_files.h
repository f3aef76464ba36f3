// What the bundletool tests share: files read and written whole, the result
// of one run of the tool, its commands run in-process, the words of the
// command that runs the built program instead, Python's strict JSON reader as
// the judge of --json output, a bare launcher to pack behind, and a fixture
// with a scratch folder of its own.
// Header-only, for programs linked with the tool's commands.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <iterator>
#include <string>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "cli.h"
#include "common/launcher_marker.h"
#include "lzss_test_codec.h"

namespace tool_test {

using Bytes = std::vector<uint8_t>;

struct Result {
  int code;
  std::string out;
  std::string err;
};

// The parts of a bare launcher image a test changes.
struct LauncherStub {
  bool marker = true;                    // carries a launcher marker
  uint32_t digest = ENTRY_TABLE_DIGEST;  // the marker's entry-table digest
  bool dll = false;                      // IMAGE_FILE_DLL set
};

// The headers of a bare launcher: a PE32 GUI program for i386 of size bytes
// whose one section runs from 0x200 to the end and starts, as kind asks,
// with the marker a launcher carries (common/launcher_marker.h).
inline Bytes LauncherImage(size_t size, const LauncherStub& kind = {}) {
  Bytes image = test_codec::MakePeImage(size);
  image[0x44] = 0x4C, image[0x45] = 0x01;                     // Machine: i386
  image[0x46] = 1;                                            // NumberOfSections
  image[0x56] = 0x02, image[0x57] = kind.dll ? 0x21 : 0x01;  // Characteristics: executable, 32-bit (, DLL)
  bundle::StoreLe32(&image[0x58 + 60], 0x200);                // SizeOfHeaders
  image[0x58 + 68] = 2;                                       // Subsystem: GUI
  bundle::StoreLe32(&image[0x138 + 16], uint32_t(size - 0x200));  // the section's raw size and start
  bundle::StoreLe32(&image[0x138 + 20], 0x200);
  if (kind.marker) {
    std::memcpy(&image[0x200], LAUNCHER_MARKER_MAGIC, sizeof LAUNCHER_MARKER_MAGIC);
    bundle::StoreLe32(&image[0x210], LAUNCHER_MARKER_VERSION);
    bundle::StoreLe32(&image[0x214], kind.digest);
  }
  return image;
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string TextOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}

// Anything under the name, a dangling link included: "nothing written" means
// nothing at all.
inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// word as one shell word.
inline std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The tool's commands run in this process, as `bundletool ARGS...`.
inline Result RunInProcess(std::vector<std::string> args) {
  args.insert(args.begin(), "bundletool");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  bundletool::Console console{out, err, false};
  const int code = bundletool::RunBundleTool(int(argv.size()), argv.data(), console);
  return Result{code, out.str(), err.str()};
}

// The words of BUNDLETOOL_COMMAND, separated by '|' (the Windows trees name
// scripts/wine-run and bundletool.exe), or none for the in-process commands.
inline std::vector<std::string> ToolCommand() {
  std::vector<std::string> words;
  const char* command = std::getenv("BUNDLETOOL_COMMAND");
  for (std::string rest = command ? command : ""; !rest.empty();) {
    const size_t bar = rest.find('|');
    words.push_back(rest.substr(0, bar));
    rest = bar == std::string::npos ? "" : rest.substr(bar + 1);
  }
  return words;
}

// True when Python's JSON reader, which refuses raw control characters in
// strings, takes text as one document and, given it as d, finds condition
// true.
inline bool TakenAsJson(const std::string& text, const std::string& condition) {
  char path[] = "/tmp/bundletool_json.XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ::close(fd);
  const std::string command =
      "python3 -c 'import json, sys; d = json.load(open(sys.argv[1], encoding=\"utf-8\")); "
      "sys.exit(0 if eval(sys.argv[2]) else 1)' " + std::string(path) + " " + Quoted(condition);
  const int status = written ? std::system(command.c_str()) : -1;
  std::remove(path);
  return status == 0;
}

// A test with a fresh folder of its own under /tmp, removed with all it
// holds when the test ends. A fixture's SetUp calls this one first and
// returns on a fatal failure.
class ScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bundletool_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    if (dir.empty()) return;
    const std::string command = "rm -rf " + Quoted(dir);
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  std::string Path(const std::string& name) const { return dir + "/" + name; }

  std::string dir;
};

// A scratch folder with stub, a bare launcher of this entry table, in it.
class LauncherStubTest : public ScratchFolderTest {
 protected:
  void SetUp() override {
    ScratchFolderTest::SetUp();
    if (HasFatalFailure()) return;
    stub = Path("stub.exe");
    WriteFile(stub, LauncherImage(40000));
  }

  std::string stub;
};

}  // namespace tool_test
