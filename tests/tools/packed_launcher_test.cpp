// The launcher as a publisher makes it on Windows: the payload packed by
// bundletool.exe, checked and extracted by it, then installed by the
// launcher, every one a Windows program under Wine, the stand-in installer
// reporting what it found.
//
// By default this tree's bundletool.exe and launcher.exe and the source's
// shipped manifest; ZEPHRA_TEST_BUNDLETOOL, ZEPHRA_TEST_LAUNCHER,
// ZEPHRA_TEST_MANIFEST and ZEPHRA_TEST_PAYLOAD (Unix paths; the payload a
// folder with the ten files) name others, as the check of an unpacked
// release does (scripts/release.sh --check).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bundle/format/crc32.h"
#include "bundled_program.h"
#include "common/entry_table.h"
#include "launcher_run.h"
#include "win32_test_support.h"

using namespace testing_support;

namespace {

// The Windows path of what variable names, or of fallback.
std::string Setting(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return WindowsPathOf(value != nullptr && *value != '\0' ? value : fallback);
}

const std::string TOOL = Setting("ZEPHRA_TEST_BUNDLETOOL", BUNDLETOOL_UNIX_PATH);
const std::string LAUNCHER = Setting("ZEPHRA_TEST_LAUNCHER", LAUNCHER_UNIX_PATH);
const std::string MANIFEST = Setting("ZEPHRA_TEST_MANIFEST", MANIFEST_UNIX_PATH);

std::string CrcOf(const std::string& bytes) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", bundle::Crc32(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  return text;
}

struct ToolRun {
  long code = -1;
  std::string out, err;
};

class ToolPackedLauncher : public ::testing::Test {
 protected:
  void SetUp() override {
    payload = scratch.Path() + "payload";
    CreateDirectoryA(payload.c_str(), nullptr);
    const char* given = std::getenv("ZEPHRA_TEST_PAYLOAD");
    const DemoEntries demo = MakeDemoEntries();
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      const std::string name = EntryTable[row].fileName;
      std::string bytes;
      if (given != nullptr && *given != '\0') {
        bytes = ReadFileBytes(WindowsPathOf(given) + "\\" + name);
      } else {
        bytes = row == 0 ? ReadFileBytes(WindowsPathOf(INSTALLER_UNIX_PATH))
                         : std::string(demo.contents[size_t(row)].begin(), demo.contents[size_t(row)].end());
        WriteFileBytes(payload + "\\" + name, bytes);
      }
      ASSERT_FALSE(row == 0 && bytes.empty()) << "no installer in the payload";
      contents.push_back(bytes);
    }
    if (given != nullptr && *given != '\0') payload = WindowsPathOf(given);
    temp = scratch.Path() + "temp\\";
    CreateDirectoryA(temp.c_str(), nullptr);
    trial = scratch.Path() + "zephra_trial.exe";
  }

  // Runs the tool with args and waits for it: its exit code and output.
  ToolRun Tool(const std::vector<std::string>& args) {
    std::wstring line = L"\"" + Widen(TOOL) + L"\"";
    for (const std::string& arg : args) line += L" \"" + Widen(arg) + L"\"";
    const std::string outPath = scratch.Path() + "tool.out", errPath = scratch.Path() + "tool.err";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    ToolRun run;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      DWORD code = 0;
      if (WaitForSingleObject(process.hProcess, 300000) == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code)) {
        run.code = long(code);
      }
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    run.out = ReadFileBytes(outPath);
    run.err = ReadFileBytes(errPath);
    return run;
  }

  // Runs the launcher from its own temporary folder: it must install the
  // ten entries with the contents expected, start the installer, report
  // nothing and leave nothing behind.
  void ExpectInstallsAllTen(const std::string& launcher, const std::vector<std::string>& expected) {
    const std::string control = scratch.Path() + "standin.ini", report = scratch.Path() + "report.txt";
    scenario::WriteControl(control, "report=" + report + "\r\n");
    const scenario::RunOutcome outcome = scenario::RunLauncher(launcher, scenario::RunOptions{temp, control});
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
    const scenario::InstallerReport found = scenario::ReadInstallerReport(report);
    ASSERT_TRUE(found.present) << "the installer did not run";
    int arrived = 0;
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      const auto file = found.files.find(EntryTable[row].fileName);
      const bool same = file != found.files.end() && file->second.present &&
                        file->second.size == expected[size_t(row)].size() &&
                        file->second.crc == CrcOf(expected[size_t(row)]);
      EXPECT_TRUE(same) << EntryTable[row].fileName << " did not arrive as packed";
      arrived += same;
    }
    std::printf("installed from %s: %d of %d entries as packed\n", launcher.c_str(), arrived, ENTRY_COUNT);
    const std::vector<std::string> left = scenario::FolderItems(temp);
    EXPECT_TRUE(left.empty()) << "left behind: " << (left.empty() ? "" : left[0]);
  }

  ScratchFolder scratch{"packed"};
  std::string payload, temp, trial;
  std::vector<std::string> contents;  // the payload's files, in row order
};

// What Windows shows in the program's properties is what --version says.
TEST_F(ToolPackedLauncher, ToolCarriesItsVersionResource) {
  const ToolRun version = Tool({"--version"});
  ASSERT_EQ(0, version.code);
  const std::wstring path = Widen(TOOL);
  std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), nullptr));
  ASSERT_FALSE(info.empty()) << "no version resource in " << TOOL;
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, DWORD(info.size()), info.data()));
  wchar_t* text = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ("bundletool " + Narrow(std::wstring(text), CP_UTF8) + "\n", version.out);
}

// The walk-through: pack, verify, install.
TEST_F(ToolPackedLauncher, ShippedLayoutPacksVerifiesAndInstallsAllTen) {
  std::printf("bundletool: %s\nlauncher: %s\nmanifest: %s\n", TOOL.c_str(), LAUNCHER.c_str(), MANIFEST.c_str());
  const ToolRun pack = Tool({"pack", "-q", "--stub", LAUNCHER, "-m", MANIFEST, "--base", payload, "-o", trial});
  ASSERT_EQ(0, pack.code) << pack.err;
  const ToolRun verify = Tool({"verify", trial});
  EXPECT_EQ(0, verify.code) << verify.err;
  EXPECT_NE(std::string::npos, verify.out.find("ok       layout: the launcher's entry table")) << verify.out;
  ExpectInstallsAllTen(trial, contents);
}

// A name packed twice on request: the check record carries the later
// copy's CRC-32, which the launcher reads and checks; verify takes the
// older copy for what it is, shadowed, not damaged; extract writes the
// later one.
TEST_F(ToolPackedLauncher, NamePackedTwiceInstallsItsLaterCopy) {
  const std::string later = "The later read-me, packed after the manifest's copy.\r\n";
  WriteFileBytes(scratch.Path() + "later.txt", later);
  const ToolRun pack = Tool({"pack", "-q", "--any-layout", "--allow-duplicates", "--stub", LAUNCHER, "-m", MANIFEST,
                             "--base", payload, "-c", "readme_traial.txt=" + scratch.Path() + "later.txt", "-o",
                             trial});
  ASSERT_EQ(0, pack.code) << pack.err;
  const ToolRun verify = Tool({"verify", "--any-layout", trial});
  EXPECT_EQ(0, verify.code) << verify.err;
  EXPECT_NE(std::string::npos, verify.err.find("readme_traial.txt: shadowed by #2")) << verify.err;
  EXPECT_EQ(std::string::npos, verify.err.find("CRC")) << verify.err;
  const ToolRun extract = Tool({"extract", "-q", trial, "readme_traial.txt", "-o", scratch.Path() + "x"});
  EXPECT_EQ(0, extract.code) << extract.err;
  EXPECT_EQ(later, ReadFileBytes(scratch.Path() + "x\\readme_traial.txt"));

  std::vector<std::string> expected = contents;
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    if (std::string(EntryTable[row].fileName) == "readme_traial.txt") expected[size_t(row)] = later;
  }
  ExpectInstallsAllTen(trial, expected);
}

}  // namespace
