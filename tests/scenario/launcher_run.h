// Running the real launcher, bundle appended, as its own process: with its
// own temporary folder and the stand-in installer's control file in its
// environment, a watcher that answers its message boxes (and presses its
// cancel command when asked), and the installer's report read back.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace scenario {

// What the stand-in installer reported (installer/standin_report.h).
struct InstallerReport {
  bool present = false;
  std::string self;
  std::string commandLine;
  int argc = -1;  // as its C runtime split the command line
  std::string mutex;
  unsigned codePage = 0;  // its ANSI code page, which it shares with the launcher
  struct File {
    bool present = false;
    unsigned long long size = 0;
    std::string crc;  // 8 upper-case hex digits
    bool readOnly = false;
  };
  std::map<std::string, File> files;
  std::vector<std::string> strays;  // items of its folder other than the ten
  std::vector<std::string> child;  // the child's lines, keyword "child" dropped
};
InstallerReport ReadInstallerReport(const std::string& path);

struct RunOptions {
  std::string tempFolder;     // the launcher's TMP and TEMP
  std::string controlFile;    // ZEPHRA_STANDIN_CONTROL; none when empty
  bool cancel = false;        // send the cancel command once the dialog shows
  DWORD timeoutMs = 60000;
  std::wstring wideTempFolder = {};  // instead of tempFolder when set: any name
};

struct RunOutcome {
  long exitCode = -1;  // -1 not started, -2 did not end in time (then killed)
  bool dialogSeen = false;
  bool cancelSent = false;
  // Texts of the message boxes (caption "セットアップ") the watcher answered
  // with OK, in the order they appeared, read in UTF-16 and given here in
  // code page 932, as the message table stores them.
  std::vector<std::string> boxes;
  // The dialog's caption and its status text as first seen, in UTF-16.
  std::wstring title;
  std::wstring status;
};

// A launcher process with its watcher thread.
class LauncherProcess {
 public:
  LauncherProcess() = default;
  ~LauncherProcess();
  LauncherProcess(const LauncherProcess&) = delete;
  LauncherProcess& operator=(const LauncherProcess&) = delete;

  // program: the launcher's path in ANSI, or in UTF-16 for any name. The
  // launcher gets a UTF-16 environment: an ANSI one would reach it converted
  // with best fit.
  bool Start(const std::string& program, const RunOptions& options);
  bool Start(const std::wstring& program, const RunOptions& options);
  // Waits for the end (up to the time limit) and returns what was seen.
  RunOutcome Wait();
  // True while the process has been started and not ended.
  bool Running() const;

 private:
  static DWORD WINAPI Watch(void* self);
  void WatchOnce();

  RunOptions runOptions;
  PROCESS_INFORMATION processInfo = {};
  HANDLE watcher = nullptr;
  volatile LONG stopWatching = 0;
  RunOutcome outcome;
  std::vector<HWND> answered;
};

// Starts the launcher and waits for its end.
RunOutcome RunLauncher(const std::string& program, const RunOptions& options);
RunOutcome RunLauncher(const std::wstring& program, const RunOptions& options);

// Writes a stand-in control file ([standin] section, key=value lines).
void WriteControl(const std::string& path, const std::string& keyValueLines);

// Names of the items in a folder ("." and ".." left out), sorted.
std::vector<std::string> FolderItems(const std::string& folder);
std::vector<std::wstring> FolderItems(const std::wstring& folder);

}  // namespace scenario
