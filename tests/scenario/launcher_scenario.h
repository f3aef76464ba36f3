// What the launcher's end-to-end cases share (scenario_*_test.cpp, all in
// one program, scenario_tests): the paths the build gives, in Windows form; a
// fixture that packs the real launcher with the stand-in installer and the
// demo entries, runs it with a temporary folder of its own and reads back
// what the installer found; the same flow in the test host that makes calls
// fail as Wine never does; and the launcher as a publisher ships it, signed.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bundle/format/bundle_scan.h"
#include "bundle/format/crc32.h"
#include "bundled_program.h"
#include "launcher/launcher.h"
#include "launcher_run.h"
#include "win32_test_support.h"

namespace scenario {

using testing_support::BundleInputsOf;
using testing_support::Bytes;
using testing_support::DemoEntries;
using testing_support::FileExists;
using testing_support::HostRun;
using testing_support::MakeDemoEntries;
using testing_support::ReadFileBytes;
using testing_support::RunBundledHost;
using testing_support::ScratchFolder;
using testing_support::Widen;
using testing_support::WindowsPathOf;
using testing_support::WriteBundledCopy;

// The build's programs and folders (tests/scenario/CMakeLists.txt).
inline const std::string LAUNCHER_PATH = WindowsPathOf(LAUNCHER_UNIX_PATH);
inline const std::string INSTALLER_PATH = WindowsPathOf(INSTALLER_UNIX_PATH);
inline const std::string DRIVES_ROOT = WindowsPathOf(DRIVES_UNIX_ROOT);
inline const std::string PLANTED_DLL_PATH = WindowsPathOf(PLANTED_DLL_UNIX_PATH);
inline const std::string LAUNCHER_HOST_PATH = WindowsPathOf(LAUNCHER_HOST_UNIX_PATH);
inline const std::string SIGNED_FOLDER = WindowsPathOf(SIGNED_UNIX_DIR);

inline std::string CrcOf(const Bytes& data) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", bundle::Crc32(data.data(), data.size()));
  return text;
}

inline bool DriveMapped(const char* root) { return GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR; }

class LauncherScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = MakeDemoEntries();
    const std::string installer = ReadFileBytes(INSTALLER_PATH);
    ASSERT_FALSE(installer.empty()) << INSTALLER_PATH;
    demo.contents[0].assign(installer.begin(), installer.end());
    tempFolder = scratch.Path() + "temp\\";
    CreateDirectoryA(tempFolder.c_str(), nullptr);
    launcherPath = scratch.Path() + "zephra_trial.exe";
    controlPath = scratch.Path() + "standin.ini";
    reportPath = scratch.Path() + "report.txt";
  }

  void Pack(const std::vector<bundle::BundleInput>& inputs) {
    ASSERT_TRUE(WriteBundledCopy(LAUNCHER_PATH, launcherPath, inputs)) << launcherPath;
  }
  void PackAll() { Pack(BundleInputsOf(demo)); }

  // Runs the launcher with TMP = temp and a control file with these lines
  // besides the report.
  RunOutcome Run(const std::string& temp, const std::string& control = "", bool cancel = false) {
    RunOptions options;
    options.tempFolder = temp;
    options.cancel = cancel;
    return RunWith(options, control);
  }
  // The same with options as given, and the launcher at launcher when set.
  RunOutcome RunWith(RunOptions options, const std::string& control = "", const std::wstring& launcher = L"") {
    scenario::WriteControl(controlPath, "report=" + reportPath + "\r\n" + control);
    options.controlFile = controlPath;
    return RunLauncher(launcher.empty() ? Widen(launcherPath) : launcher, options);
  }

  InstallerReport Report() { return scenario::ReadInstallerReport(reportPath); }

  // The installer ran from folder (ends with a backslash), its path quoted
  // and no arguments, owning its mutex (unless the test took it first), and
  // found all ten entries as packed and nothing else.
  void ExpectInstallerSawEverything(const InstallerReport& report, const std::string& folder,
                                    const char* mutex = "created") {
    ASSERT_TRUE(report.present) << "the installer did not run";
    EXPECT_TRUE(report.strays.empty()) << "the installer found " << report.strays[0] << " beside itself";
    EXPECT_EQ(folder + "i_autorun.exe", report.self);
    EXPECT_EQ("\"" + report.self + "\"", report.commandLine) << "started with arguments or unquoted";
    EXPECT_EQ(1, report.argc) << report.commandLine;
    EXPECT_EQ(mutex, report.mutex);
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      const std::string& name = demo.names[row];
      const auto found = report.files.find(name);
      ASSERT_TRUE(found != report.files.end() && found->second.present) << name << " did not arrive";
      const InstallerReport::File& file = found->second;
      EXPECT_EQ(demo.contents[row].size(), file.size) << name;
      EXPECT_EQ(CrcOf(demo.contents[row]), file.crc) << name;
      EXPECT_EQ(name == "readme_traial.txt", file.readOnly) << name;
    }
  }

  ScratchFolder scratch{"scenario"};
  DemoEntries demo;
  std::string tempFolder, launcherPath, controlPath, reportPath;
};

// Wine runs everything with full rights: it never refuses CreateProcessA with
// ERROR_ELEVATION_REQUIRED (740), as Windows does for an installer that
// requires administrator rights, nor a mutex with ERROR_ACCESS_DENIED, as for
// one created by such an installer. These run the whole main flow in a test
// host (launcher_host.cpp) that makes those calls fail through the
// import-table hook; everything else is real, the stand-in installer included.
class HookedLauncherScenario : public LauncherScenario {
 protected:
  testing_support::HostRun RunHost(const std::string& fault, const std::string& control) {
    scenario::WriteControl(controlPath, "report=" + reportPath + "\r\n" + control);
    const std::string folder = scratch.Path() + "host\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return RunBundledHost(LAUNCHER_HOST_PATH, folder, BundleInputsOf(demo), tempFolder, fault + " \"" + controlPath + "\"");
  }

  // A run that ended with 0 after the steps in lines, having started no
  // installer and left nothing in the temporary folder.
  void ExpectNoInstallerAndNothingLeft(const HostRun& run, const std::vector<std::string>& lines) {
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(lines, run.ReportLines());
    EXPECT_FALSE(Report().present);
    EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
  }
};

// The launcher as a publisher ships it: packed by bundletool, then signed
// with osslsigncode, both at test time (the signed_launcher fixture, with the
// commands of README.md), and run as it was signed.
class SignedLauncherScenario : public LauncherScenario {
 protected:
  void SetUp() override {
    LauncherScenario::SetUp();
    if (FileExists(SIGNED_FOLDER + "\\skipped")) GTEST_SKIP() << ReadFileBytes(SIGNED_FOLDER + "\\skipped");
    ASSERT_TRUE(FileExists(SIGNED_FOLDER + "\\ready")) << "signed_launcher fixture: " << ReadFileBytes(SIGNED_FOLDER + "\\failed");
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      const std::string bytes = ReadFileBytes(SIGNED_FOLDER + "\\payload\\" + demo.names[row]);
      demo.contents[row].assign(bytes.begin(), bytes.end());
    }
    signedLauncher = ReadFileBytes(SIGNED_FOLDER + "\\zephra_signed.exe");
    ASSERT_FALSE(signedLauncher.empty());
  }

  // The data of the named entry of the signed launcher, as the scan finds it.
  bundle::BundleEntry EntryOfSigned(const std::string& name) {
    bundle::MemorySource source(signedLauncher.data(), uint32_t(signedLauncher.size()));
    std::vector<bundle::BundleEntry> entries;
    EXPECT_EQ(bundle::ScanStatus::Ok, bundle::ScanBundle(source, entries).status);
    for (const bundle::BundleEntry& entry : entries) {
      if (name == entry.name) return entry;
    }
    ADD_FAILURE() << name << " is not in the signed launcher";
    return bundle::BundleEntry{};
  }

  std::string signedLauncher;
};

}  // namespace scenario
