// Stand-in for the installer program "i_autorun.exe" that the launcher writes
// and starts. It does what the launcher relies on from a real installer: it
// holds the mutex "ZEPHRA_QX_INST_UNINST_MTX" while it runs. Besides, it
// writes down what arrived and behaves as its control file says, so that
// tests and the demo can see the launcher's work and provoke its waits.
//
// The launcher starts it without arguments, so its instructions come from the
// control file named by the environment variable ZEPHRA_STANDIN_CONTROL (the
// launcher passes its environment on). installer/README.md lists the keys.
// Its only arguments are those it gives itself: "--child <event name>
// <extracted folder>" starts the copy that takes the mutex over from the
// installer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/paths.h"
#include "standin_report.h"

namespace {

constexpr char SECTION[] = "standin";

struct Control {
  std::string report;       // report file; none when empty
  DWORD lingerMs = 0;       // time the mutex is held before the end
  bool release = true;      // release the mutex at the end (else abandon it)
  DWORD childMs = 0;        // a child holds the mutex this long after we end
  bool childRelease = true;  // the child releases the mutex (else abandons it)
  DWORD windowMs = 0;       // the window that lists what arrived stays this long
};

std::string ReadString(const std::string& file, const char* key) {
  char value[MAX_PATH * 2] = "";
  GetPrivateProfileStringA(SECTION, key, "", value, sizeof value, file.c_str());
  return value;
}

Control ReadControl() {
  Control control;
  char file[MAX_PATH] = "";
  const DWORD length = GetEnvironmentVariableA(standin::CONTROL_VARIABLE, file, sizeof file);
  if (length == 0 || length >= sizeof file) {
    // Started by hand or by a launcher without a control file: show the list
    // for a few seconds, as in the demo.
    control.windowMs = 4000;
    return control;
  }
  control.report = ReadString(file, "report");
  control.lingerMs = GetPrivateProfileIntA(SECTION, "linger_ms", 0, file);
  control.release = GetPrivateProfileIntA(SECTION, "release", 1, file) != 0;
  control.childMs = GetPrivateProfileIntA(SECTION, "child_ms", 0, file);
  control.childRelease = GetPrivateProfileIntA(SECTION, "child_release", 1, file) != 0;
  control.windowMs = GetPrivateProfileIntA(SECTION, "window_ms", 0, file);
  return control;
}

// The own path in ANSI, its folder in a form that names that folder exactly:
// the folder's short (8.3) form when its name holds a character the code
// page lacks, as the launcher names it (GetModuleFileNameA would give a
// best-fit look-alike instead, which names another folder or none).
std::string OwnPath() {
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  wchar_t* name = length < MAX_PATH ? wcsrchr(path, L'\\') : nullptr;
  if (name == nullptr) return "";
  char ansi[PATH_CAPACITY] = "";
  const wchar_t kept = *++name;
  *name = L'\0';
  if (!ExactAnsiPath(path, ansi, sizeof ansi)) return "";
  *name = kept;
  const size_t used = strlen(ansi);
  WideCharToMultiByte(CP_ACP, 0, name, -1, ansi + used, int(sizeof ansi - used), nullptr, nullptr);
  return ansi;
}

// Names of the items in folder (ends with a backslash) other than the ten
// payload files: what a real installer would find beside itself and might
// load, such as a planted DLL.
std::vector<std::string> StrayItems(const std::string& folder) {
  std::vector<std::string> strays;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return strays;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    bool payload = false;
    for (const char* file : standin::PayloadFileNames) payload = payload || name == file;
    if (!payload) strays.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return strays;
}

// Writes text as the whole report: to a temporary name first, then moved into
// place, so that a reader polling for the report never sees half of it.
void WriteReport(const std::string& report, const std::string& text) {
  if (report.empty()) return;
  const std::string temporary = report + ".part";
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExA(temporary.c_str(), report.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void AppendReport(const std::string& report, const std::string& text) {
  if (report.empty()) return;
  HANDLE file = CreateFileA(report.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string Format(const char* format, ...) {
  char line[MAX_PATH * 3];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  return line;
}

// ---- The window that shows what arrived.

std::wstring Widen(const std::string& text, UINT codePage) {
  const int length = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
  if (length > 1) MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], length);
  return wide;
}

LRESULT CALLBACK ListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void ShowArrivals(HINSTANCE instance, const std::wstring& text, DWORD windowMs) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ListWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = L"ZephraStandInInstaller";
  RegisterClassExW(&windowClass);

  const int width = 560, height = 330;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName,
                                L"ゼフラクエストＱＸ(体験版Ｂ) セットアップ（代役）",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, x, y, width, height, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return;
  RECT client;
  GetClientRect(window, &client);
  HWND label = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, 12, 10,
                               client.right - 24, client.bottom - 20, window, nullptr, instance, nullptr);
  HFONT font = CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"MS Gothic");
  if (font) SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  SetTimer(window, 1, windowMs, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (font) DeleteObject(font);
}

// ---- The child that keeps the mutex after the installer has ended.

// arguments: "<event name> <extracted folder>", the folder being the rest of
// the line (it may hold blanks).
int RunChild(const char* arguments) {
  const char* blank = std::strchr(arguments, ' ');
  const std::string eventName = blank ? std::string(arguments, blank) : std::string(arguments);
  const std::string folder = blank ? std::string(blank + 1) : standin::FolderOf(OwnPath());
  const Control control = ReadControl();
  HANDLE mutex = CreateMutexA(nullptr, FALSE, INSTALLER_MUTEX_NAME);
  HANDLE handoff = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName.c_str());
  if (!mutex) return 1;
  // The parent releases the mutex only after starting us, and the launcher
  // still waits for the parent's process then, so this wait wins the mutex.
  WaitForSingleObject(mutex, INFINITE);
  if (handoff) SetEvent(handoff);
  Sleep(control.childMs);

  int present = 0;
  for (const char* name : standin::PayloadFileNames) {
    if (GetFileAttributesA((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES) ++present;
  }
  std::string lines = Format("child holds %lu\n", static_cast<unsigned long>(control.childMs));
  lines += Format("child present %d\n", present);
  lines += control.childRelease ? "child released\n" : "child abandoned\n";
  AppendReport(control.report, lines);
  if (control.childRelease) ReleaseMutex(mutex);
  // Without the release the mutex is abandoned when this thread ends, which
  // ends the launcher's wait as well.
  ExitProcess(0);
}

// The child runs from a copy beside the report (or in the temporary folder),
// as a program that a real installer leaves running lives in the installed
// game's folder, not among the extracted files: the launcher's removal starts
// the moment the child lets go of the mutex, before the child has ended.
std::string ChildProgram(const std::string& self, const Control& control) {
  std::string folder;
  if (!control.report.empty()) {
    folder = standin::FolderOf(control.report);
  } else {
    char temp[MAX_PATH] = "";
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length > 0 && length < sizeof temp) folder = temp;
  }
  const std::string copy = folder + "standin_child.exe";
  if (folder.empty() || !CopyFileA(self.c_str(), copy.c_str(), FALSE)) return self;
  return copy;
}

bool StartChild(const std::string& program, const char* eventName, const std::string& folder, DWORD* processId) {
  std::string commandLine = "\"" + program + "\" --child " + eventName + " " + folder;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // A start the system fails inside itself (the new process died before it
  // ran, as one in a few thousand does under Wine) is tried again.
  for (int tries = 1; !CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                      &startup, &process);
       ++tries) {
    if (GetLastError() != ERROR_INTERNAL_ERROR || tries == 3) return false;
  }
  *processId = process.dwProcessId;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  LARGE_INTEGER started, frequency;
  QueryPerformanceCounter(&started);
  QueryPerformanceFrequency(&frequency);

  if (std::strncmp(commandLine, "--child ", 8) == 0) return RunChild(commandLine + 8);

  HANDLE mutex = CreateMutexA(nullptr, TRUE, INSTALLER_MUTEX_NAME);
  const char* mutexState = !mutex ? "failed" : GetLastError() == ERROR_ALREADY_EXISTS ? "existed" : "created";
  const Control control = ReadControl();
  const std::string self = OwnPath();
  const std::string folder = standin::FolderOf(self);

  std::string report = Format("start_qpc %lld\n", static_cast<long long>(started.QuadPart));
  report += Format("qpc_frequency %lld\n", static_cast<long long>(frequency.QuadPart));
  report += "self " + self + "\n";
  report += std::string("command_line ") + GetCommandLineA() + "\n";
  // As the C runtime split the command line: 1 when started without arguments.
  report += Format("argc %d\n", __argc);
  report += std::string("mutex ") + mutexState + "\n";
  std::string shown = "届いたファイル:\n\n";
  int arrived = 0;
  for (const char* name : standin::PayloadFileNames) {
    const standin::FileFacts facts = standin::InspectFile(folder + name);
    if (facts.present) {
      ++arrived;
      report += Format("file %s %llu %08X %s\n", name, static_cast<unsigned long long>(facts.size), facts.crc,
                       facts.readOnly ? "readonly" : "normal");
      shown += Format("  %-18s %10llu バイト  CRC %08X%s\n", name, static_cast<unsigned long long>(facts.size),
                      facts.crc, facts.readOnly ? "  読取専用" : "");
    } else {
      report += Format("file %s missing\n", name);
      shown += Format("  %-18s ありません\n", name);
    }
  }
  shown += Format("\n%d / %d 件が届きました:\n", arrived, standin::PAYLOAD_FILE_COUNT);
  for (const std::string& name : StrayItems(folder)) report += "stray " + name + "\n";

  DWORD childId = 0;
  char eventName[64];
  std::snprintf(eventName, sizeof eventName, "ZEPHRA_STANDIN_HANDOFF_%lu", GetCurrentProcessId());
  HANDLE handoff = nullptr;
  bool childStarted = false;
  if (control.childMs > 0) {
    handoff = CreateEventA(nullptr, TRUE, FALSE, eventName);
    childStarted = handoff && StartChild(ChildProgram(self, control), eventName, folder, &childId);
    report += childStarted ? Format("child started %lu\n", static_cast<unsigned long>(childId)) : "child failed\n";
  }
  report += Format("code_page %u\n", GetACP());
  WriteReport(control.report, report);

  if (control.windowMs > 0) {
    // The list's words are UTF-8 in this source, the folder is ANSI text.
    ShowArrivals(instance, Widen(shown, CP_UTF8) + L"  " + Widen(folder, CP_ACP), control.windowMs);
  }
  Sleep(control.lingerMs);

  if (childStarted) {
    // Hand the mutex to the child and wait until it holds it, so that the
    // launcher, which waits for this process first, finds it taken.
    if (mutex) ReleaseMutex(mutex);
    WaitForSingleObject(handoff, 10000);
    ExitProcess(0);
  }
  if (!control.release) ExitProcess(0);  // ends holding the mutex: abandoned
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return 0;
}
