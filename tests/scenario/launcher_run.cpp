#include "launcher_run.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <sstream>

#include "extract/message_table.h"
#include "installer/standin_report.h"
#include "launcher/launcher.h"
#include "win32_test_support.h"

namespace scenario {

namespace {

bool StartsWithNoCase(const wchar_t* entry, const char* prefix) {
  const std::wstring wide = testing_support::Widen(prefix);
  return _wcsnicmp(entry, wide.c_str(), wide.size()) == 0;
}

// This process's environment with TMP, TEMP and the control variable
// replaced, as a double-NUL-ended UTF-16 block.
std::wstring EnvironmentFor(const RunOptions& options) {
  using testing_support::Widen;
  std::wstring block;
  wchar_t* all = GetEnvironmentStringsW();
  for (const wchar_t* entry = all; entry && *entry; entry += wcslen(entry) + 1) {
    if (StartsWithNoCase(entry, "TMP=") || StartsWithNoCase(entry, "TEMP=") ||
        StartsWithNoCase(entry, (std::string(standin::CONTROL_VARIABLE) + "=").c_str())) {
      continue;
    }
    block += entry;
    block += L'\0';
  }
  if (all) FreeEnvironmentStringsW(all);
  const std::wstring temp = options.wideTempFolder.empty() ? Widen(options.tempFolder) : options.wideTempFolder;
  block += L"TMP=" + temp + L'\0';
  block += L"TEMP=" + temp + L'\0';
  if (!options.controlFile.empty()) {
    block += Widen(standin::CONTROL_VARIABLE) + L"=" + Widen(options.controlFile) + L'\0';
  }
  block += L'\0';
  return block;
}

// In UTF-16, whatever the code page of either process: what was shown.
std::wstring WindowText(HWND window) {
  wchar_t text[1024] = L"";
  GetWindowTextW(window, text, 1024);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The text of a message box: its static control that carries text.
BOOL CALLBACK CollectStaticText(HWND child, LPARAM found) {
  std::wstring& text = *reinterpret_cast<std::wstring*>(found);
  if (_stricmp(ClassOf(child).c_str(), "Static") == 0) {
    const std::wstring line = WindowText(child);
    if (!line.empty()) {
      text = line;
      return FALSE;
    }
  }
  return TRUE;
}

struct Scan {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectProcessWindows(HWND window, LPARAM scan) {
  Scan& s = *reinterpret_cast<Scan*>(scan);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == s.processId) s.windows.push_back(window);
  return TRUE;
}

}  // namespace

InstallerReport ReadInstallerReport(const std::string& path) {
  InstallerReport report;
  std::ifstream in(path, std::ios::binary);
  if (!in) return report;
  report.present = true;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "self") report.self = rest;
    if (key == "command_line") report.commandLine = rest;
    if (key == "argc") report.argc = std::stoi(rest);
    if (key == "mutex") report.mutex = rest;
    if (key == "code_page") report.codePage = static_cast<unsigned>(std::stoul(rest));
    if (key == "child") report.child.push_back(rest);
    if (key == "stray") report.strays.push_back(rest);
    if (key == "file") {
      std::istringstream fields(rest);
      std::string name, size, crc, mark;
      fields >> name >> size >> crc >> mark;
      InstallerReport::File file;
      if (size != "missing") {
        file.present = true;
        file.size = std::stoull(size);
        file.crc = crc;
        file.readOnly = mark == "readonly";
      }
      report.files[name] = file;
    }
  }
  return report;
}

LauncherProcess::~LauncherProcess() {
  if (processInfo.hProcess) Wait();
}

bool LauncherProcess::Start(const std::string& program, const RunOptions& options) {
  return Start(testing_support::Widen(program), options);
}

bool LauncherProcess::Start(const std::wstring& program, const RunOptions& options) {
  runOptions = options;
  std::wstring environment = EnvironmentFor(options);
  if (!testing_support::StartProcess(L"\"" + program + L"\"", processInfo, environment.c_str(),
                                     CREATE_UNICODE_ENVIRONMENT)) {
    processInfo = {};
    return false;
  }
  CloseHandle(processInfo.hThread);
  processInfo.hThread = nullptr;
  watcher = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
  return true;
}

DWORD WINAPI LauncherProcess::Watch(void* self) {
  LauncherProcess& run = *static_cast<LauncherProcess*>(self);
  while (!run.stopWatching) {
    run.WatchOnce();
    // No object signals a change to another process's windows, and Wine 8
    // reports only their creation to an event hook, before their texts.
    Sleep(2);  // the watch's sampling interval, for want of a signal (above)
  }
  return 0;
}

void LauncherProcess::WatchOnce() {
  using testing_support::Widen;
  // The table's texts are code page 932 whatever this process's code page.
  static const std::wstring dialogTitle = Widen(GetText(0, TEXT_DIALOG_TITLE), 932);
  static const std::wstring boxCaption = Widen(GetText(0, TEXT_SETUP_CAPTION), 932);
  Scan scan{processInfo.dwProcessId, {}};
  EnumWindows(CollectProcessWindows, reinterpret_cast<LPARAM>(&scan));
  for (HWND window : scan.windows) {
    if (ClassOf(window) != "#32770") continue;
    const std::wstring title = WindowText(window);
    if (title == dialogTitle) {
      outcome.dialogSeen = true;
      outcome.title = title;
      if (outcome.status.empty()) outcome.status = WindowText(GetDlgItem(window, 1005));
      if (runOptions.cancel && !outcome.cancelSent) {
        // Sent as soon as the dialog exists, shown or not yet, since its
        // worker is already writing. Posted: the dialog asks its question
        // inside the command's handler.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(1004, BN_CLICKED), 0);
        outcome.cancelSent = true;
      }
    } else if (title == boxCaption && IsWindowVisible(window) &&
               std::find(answered.begin(), answered.end(), window) == answered.end()) {
      std::wstring text;
      EnumChildWindows(window, CollectStaticText, reinterpret_cast<LPARAM>(&text));
      if (text.empty()) continue;  // not filled in yet: next round
      answered.push_back(window);
      outcome.boxes.push_back(testing_support::Narrow(text, 932));
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
  }
}

bool LauncherProcess::Running() const {
  return processInfo.hProcess && WaitForSingleObject(processInfo.hProcess, 0) == WAIT_TIMEOUT;
}

RunOutcome LauncherProcess::Wait() {
  if (!processInfo.hProcess) return outcome;
  if (WaitForSingleObject(processInfo.hProcess, runOptions.timeoutMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(processInfo.hProcess, &code);
    outcome.exitCode = static_cast<long>(code);
  } else {
    TerminateProcess(processInfo.hProcess, 99);
    WaitForSingleObject(processInfo.hProcess, 5000);
    outcome.exitCode = -2;
  }
  InterlockedExchange(&stopWatching, 1);
  if (watcher) {
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    watcher = nullptr;
  }
  CloseHandle(processInfo.hProcess);
  processInfo = {};
  return outcome;
}

RunOutcome RunLauncher(const std::string& program, const RunOptions& options) {
  return RunLauncher(testing_support::Widen(program), options);
}

RunOutcome RunLauncher(const std::wstring& program, const RunOptions& options) {
  LauncherProcess process;
  if (!process.Start(program, options)) return RunOutcome{};
  return process.Wait();
}

void WriteControl(const std::string& path, const std::string& keyValueLines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[standin]\r\n" << keyValueLines;
}

std::vector<std::string> FolderItems(const std::string& folder) {
  std::vector<std::string> items;
  for (const std::wstring& item : FolderItems(testing_support::Widen(folder))) {
    items.push_back(testing_support::Narrow(item));
  }
  return items;
}

std::vector<std::wstring> FolderItems(const std::wstring& folder) {
  std::vector<std::wstring> items;
  std::wstring pattern = folder;
  if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((pattern + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return items;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") items.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(items.begin(), items.end());
  return items;
}

}  // namespace scenario
