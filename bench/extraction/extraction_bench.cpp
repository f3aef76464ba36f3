// Extraction speed under Wine, in two parts.
//
// Routes: this program carries the demo bundle behind its own image (the
// script packs it), so the extraction job's two routes read it exactly as the
// launcher reads its own. Each route writes an entry to a file; CopyFileA
// copies a plain file holding the same bytes in the same run. Best of several
// rounds, the destination deleted before each, so every method writes a new
// file; the source is in the page cache for all of them.
//
// Start to installer: starts the demo launcher (a copy of the launcher with
// the same bundle) with the stand-in installer set to end at once, and takes
// the time from CreateProcess to the installer's first instruction (the
// report's start_qpc; the performance counter is system-wide). That time is
// split into the extraction (the ten rows run here in-process, as the worker
// runs them), the dialog's fixed pauses (500 ms after the last entry and a
// 1 ms sleep before each in-memory entry, measured as this system sleeps),
// the installer's own process start (measured by starting it alone) and the
// rest: the launcher's own start, the dialog's creation, window messages.
// Beside those times: the bare launcher's file size (--stub) and the
// launcher's peak private bytes during its runs, sampled every millisecond
// while it extracts (Wine reports only the current figure, so the sampled
// maximum is the peak there; Windows' own peak is taken too).
//
// The check: this program's bundle carries the check record, so every entry
// is checked as it is written. With --unchecked, a copy of this program whose
// bundle lacks the record runs the same ten rows, round by round in turn with
// this one, and the two extraction times are printed side by side.
//
//   extraction_bench.exe --launcher LAUNCHER [--stub BARE_LAUNCHER] [--unchecked COPY] [--rounds N]
//   extraction_bench.exe --rows-only N RESULT   (the copy: best of N ten-row
//                                                extractions into RESULT)
//
// Work files go to the Windows temporary folder, zephra_bench\.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bundle/bundle_reader.h"
#include "extract/extraction_job.h"
#include "extract/folder_path.h"
#include "extract/message_table.h"
#include "extract/own_folders.h"
#include "installer/standin_report.h"
#include "launcher/launcher.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

uint64_t SizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void Remove(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

// Best time of rounds runs of step, which writes destination; the
// destination is deleted before each run. Negative when a run failed.
template <typename Step>
double Best(int rounds, const std::string& destination, Step step) {
  double best = 1e9;
  for (int round = 0; round < rounds; ++round) {
    Remove(destination);
    const double start = Now();
    if (!step()) return -1;
    best = std::min(best, Now() - start);
  }
  return best;
}

double MegabytesPerSecond(uint64_t bytes, double seconds) { return bytes / 1e6 / seconds; }

// 65024 as "65,024".
std::string Thousands(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(size_t(at), ",");
  return digits;
}

bool CompareRoute(const char* label, const char* entry, bool streamed, int rounds, const std::string& work) {
  const std::string routed = work + "routed_" + entry;
  const std::string source = work + "plain_" + entry;
  const std::string copied = work + "copied_" + entry;
  const auto route = [&] {
    const EntryResult result =
        streamed ? ExtractEntryStreamed(routed.c_str(), entry) : ExtractEntryInMemory(routed.c_str(), entry);
    SetLastError(result.error);
    return result.Ok();
  };
  const double routeTime = Best(rounds, routed, route);
  if (routeTime < 0) {
    std::printf("%s: %s could not be extracted (error %lu)\n", label, entry, GetLastError());
    return false;
  }
  // The plain source: the very bytes the route wrote.
  Remove(source);
  if (!CopyFileA(routed.c_str(), source.c_str(), FALSE)) return false;
  const uint64_t bytes = SizeOf(source);
  const double copyTime =
      Best(rounds, copied, [&] { return CopyFileA(source.c_str(), copied.c_str(), FALSE) != FALSE; });
  std::printf("%-28s %-18s %8.1f MB  route %7.1f ms %8.1f MB/s   CopyFileA %7.1f ms %8.1f MB/s   ratio %.2f\n",
              label, entry, bytes / 1e6, routeTime * 1e3, MegabytesPerSecond(bytes, routeTime), copyTime * 1e3,
              MegabytesPerSecond(bytes, copyTime), copyTime / routeTime);
  Remove(routed);
  Remove(source);
  Remove(copied);
  return true;
}

// A plain ReadFile/WriteFile loop with a piece of the given size: what the
// streamed route costs without the reader around it, and what a larger
// piece would gain.
bool CopyInPieces(const std::string& from, const std::string& to, DWORD piece) {
  static std::vector<char> buffer;
  buffer.resize(piece);
  HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  bool ok = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE;
  DWORD got = 0, written = 0;
  while (ok && ReadFile(in, buffer.data(), piece, &got, nullptr) && got > 0) {
    ok = WriteFile(out, buffer.data(), got, &written, nullptr) && written == got;
  }
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return ok;
}

void ComparePieces(const char* entry, int rounds, const std::string& work) {
  const std::string source = work + "plain_" + entry;
  const std::string copied = work + "copied_" + entry;
  Remove(source);
  if (!ExtractEntryStreamed(source.c_str(), entry).Ok()) return;
  const uint64_t bytes = SizeOf(source);
  std::printf("%-28s %-18s %8.1f MB ", "plain loop, same bytes", entry, bytes / 1e6);
  for (DWORD piece : {4096u, 65536u}) {
    const double seconds = Best(rounds, copied, [&] { return CopyInPieces(source, copied, piece); });
    std::printf("  %2lu KiB pieces %7.1f ms %8.1f MB/s", static_cast<unsigned long>(piece / 1024), seconds * 1e3,
                MegabytesPerSecond(bytes, seconds));
  }
  std::printf("\n");
  Remove(source);
  Remove(copied);
}

// The ten rows as the worker writes them, without the dialog: the fresh own
// folders (held in folders until the removal; their part of the time in
// *preparation), folders, routes, the read-only mark. Returns the seconds
// taken, negative on failure.
double ExtractAllRows(const std::string& destination, OwnFolders& folders, double* preparation) {
  const double start = Now();
  folders.SetDestination(destination.c_str(), false);
  if (!folders.Prepare().Ok()) return -1;
  *preparation = Now() - start;
  for (int row = 0; EntryTable[row].fileName[0] || EntryTable[row].folderPrefix[0]; ++row) {
    const EntryRow& entry = EntryTable[row];
    const std::string folder = destination + entry.folderPrefix;
    const std::string file = folder + entry.fileName;
    CreateFolderPath(folder.c_str());
    Remove(file);
    const bool ok = ((entry.flags & ENTRY_STREAMED) ? ExtractEntryStreamed(file.c_str(), entry.fileName)
                                                    : ExtractEntryInMemory(file.c_str(), entry.fileName))
                        .Ok();
    if (!ok) return -1;
    if (entry.flags & ENTRY_READ_ONLY) SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
  }
  return Now() - start;
}

// Best of rounds ten-row extractions, each into a fresh destination under
// work, then the launcher's removal of what they wrote; negative on failure.
// The best times of the fresh folders' part and of the removal go to
// *preparation and *removal when given.
double BestOfRows(int rounds, const std::string& work, const std::string& tag, double* preparation = nullptr,
                  double* removal = nullptr) {
  double best = 1e9;
  for (int round = 0; round < rounds; ++round) {
    const std::string destination = work + "rows_" + tag + std::to_string(round) + "\\";
    OwnFolders folders;
    double prepared = 0;
    const double seconds = ExtractAllRows(destination, folders, &prepared);
    if (seconds < 0) return -1;
    best = std::min(best, seconds);
    if (preparation != nullptr) *preparation = std::min(*preparation, prepared);
    const double start = Now();
    RemoveExtractedFiles(folders);
    if (removal != nullptr) *removal = std::min(*removal, Now() - start);
    RemoveDirectoryA(destination.c_str());
  }
  return best;
}

// Ten-row extractions by the copy without the check record, in its own
// process: the best seconds, negative on failure.
double UncheckedRows(const std::string& copy, const std::string& work) {
  const std::string result = work + "unchecked.txt";
  DeleteFileA(result.c_str());
  // Best of two, as this process's later rounds: the first warms the copy up.
  std::string commandLine = "\"" + copy + "\" --rows-only 2 \"" + result + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(copy.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, 120000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::ifstream in(result);
  double seconds = -1;
  if (!(in >> seconds)) return -1;
  return seconds;
}

bool Checked() {
  BundleReader reader;
  uint32_t crc = 0;
  return reader.ExpectedCrc("zephra.exe", &crc);
}

int InMemoryRowCount() {
  int count = 0;
  for (int row = 0; row < ENTRY_COUNT; ++row) count += (EntryTable[row].flags & ENTRY_STREAMED) ? 0 : 1;
  return count;
}

// Seconds from CreateProcess of the launcher to the installer's start, or a
// negative value when the installer reported nothing.
long long Frequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

// The larger of *peak and process's private bytes now and at their peak.
void SamplePrivateBytes(HANDLE process, SIZE_T* peak) {
  PROCESS_MEMORY_COUNTERS counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return;
  *peak = std::max({*peak, counters.PagefileUsage, counters.PeakPagefileUsage});
}

// Also gives the seconds until the progress dialog was seen and until it was
// gone (negative when not seen), and raises *peakPrivate to the launcher's
// private bytes as sampled while the dialog was there and once after.
double LauncherToInstaller(const std::string& launcher, const std::string& work, double* dialogShown,
                           double* dialogGone, SIZE_T* peakPrivate) {
  const std::string temp = work + "launcher_temp\\";
  const std::string control = work + "standin.ini";
  const std::string report = work + "report.txt";
  CreateDirectoryA(temp.c_str(), nullptr);
  DeleteFileA(report.c_str());
  {
    std::ofstream out(control, std::ios::binary | std::ios::trunc);
    out << "[standin]\r\nreport=" << report << "\r\n";
  }
  SetEnvironmentVariableA("TMP", temp.c_str());
  SetEnvironmentVariableA("TEMP", temp.c_str());
  SetEnvironmentVariableA(standin::CONTROL_VARIABLE, control.c_str());

  std::string commandLine = "\"" + launcher + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER started;
  QueryPerformanceCounter(&started);
  if (!CreateProcessA(launcher.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  // The moment the progress dialog is on screen, polled every millisecond.
  // The moments the progress dialog is first seen and gone again, polled
  // every millisecond.
  const std::string title = GetText(0, TEXT_DIALOG_TITLE);
  *dialogShown = *dialogGone = -1;
  while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT && *dialogGone < 0) {
    SamplePrivateBytes(process.hProcess, peakPrivate);
    HWND dialog = FindWindowA("#32770", title.c_str());
    const bool visible = dialog && IsWindowVisible(dialog);
    if (visible == (*dialogShown >= 0)) continue;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    (visible ? *dialogShown : *dialogGone) = double(now.QuadPart - started.QuadPart) / double(Frequency());
  }
  SamplePrivateBytes(process.hProcess, peakPrivate);
  WaitForSingleObject(process.hProcess, 120000);
  CloseHandle(process.hProcess);

  std::ifstream in(report);
  std::string key;
  long long installerStart = 0, frequency = 0;
  while (in >> key) {
    if (key == "start_qpc") in >> installerStart;
    else if (key == "qpc_frequency") in >> frequency;
    else in.ignore(1 << 16, '\n');
  }
  if (!installerStart || !frequency) return -1;
  return double(installerStart - started.QuadPart) / double(frequency);
}

}  // namespace

int main(int argc, char** argv) {
  std::string launcher, unchecked, stub;
  int rounds = 5;
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string work = std::string(temp) + "zephra_bench\\";
  CreateDirectoryA(work.c_str(), nullptr);
  if (argc == 4 && !std::strcmp(argv[1], "--rows-only")) {
    const double seconds = BestOfRows(std::max(1, std::atoi(argv[2])), work, "copy_");
    std::ofstream(argv[3]) << seconds << "\n";
    return seconds < 0 ? 1 : 0;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--launcher")) launcher = argv[i + 1];
    if (!std::strcmp(argv[i], "--unchecked")) unchecked = argv[i + 1];
    if (!std::strcmp(argv[i], "--stub")) stub = argv[i + 1];
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
  }

  std::printf("== routes against CopyFileA of the same bytes (best of %d; ratio = CopyFileA time / route time,\n"
              "   so 1.00 is as fast as the copy and 0.80 is the goal for the streamed route)\n", rounds);
  bool ok = true;
  ok &= CompareRoute("streamed (stored, 4 KiB)", "inst_bgm.dat", true, rounds, work);
  ok &= CompareRoute("streamed (stored, 4 KiB)", "inst_voice_jp.dat", true, rounds, work);
  ok &= CompareRoute("in memory (decoded block)", "zephra.exe", false, rounds, work);
  ok &= CompareRoute("in memory (stored)", "inst_se.dat", false, rounds, work);
  if (!ok) {
    std::printf("this program carries no demo bundle: run it through scripts/bench-extraction.sh\n");
    return 1;
  }
  ComparePieces("inst_bgm.dat", rounds, work);

  // The ten rows with the check (this bundle) and without it (the copy),
  // round by round in turn, so that both meet the same machine.
  const bool checked = Checked();
  double extraction = 1e9, withoutCheck = unchecked.empty() ? -1 : 1e9, preparation = 1e9, removal = 1e9;
  for (int round = 0; round < rounds; ++round) {
    const double seconds = BestOfRows(1, work, std::to_string(round) + "_", &preparation, &removal);
    if (seconds < 0) return 1;
    extraction = std::min(extraction, seconds);
    if (!unchecked.empty()) {
      const double other = UncheckedRows(unchecked, work);
      if (other < 0) {
        std::printf("the copy without the check could not extract: %s\n", unchecked.c_str());
        return 1;
      }
      withoutCheck = std::min(withoutCheck, other);
    }
  }
  std::printf("\n== the ten rows, in-process, best of %d: the check's cost\n", rounds);
  std::printf("  %s %7.1f ms\n", checked ? "with the check record:   " : "without a check record:  ", extraction * 1e3);
  if (withoutCheck >= 0) {
    std::printf("  without it (the copy):    %7.1f ms\n", withoutCheck * 1e3);
    std::printf("  the check costs           %7.1f%% of the extraction time\n",
                100.0 * (extraction - withoutCheck) / withoutCheck);
  }

  std::printf("\n== start of the launcher to the start of the installer, demo bundle\n");
  double sleepOne = 0;
  {
    const int count = 50;
    const double start = Now();
    for (int i = 0; i < count; ++i) Sleep(1);
    sleepOne = (Now() - start) / count;
  }
  const int inMemoryRows = InMemoryRowCount();
  const double pauses = 0.5 + inMemoryRows * sleepOne;

  if (launcher.empty()) {
    std::printf("extraction of the ten rows, in-process: %.0f ms, their removal %.1f ms (no --launcher given: "
                "end-to-end not measured)\n",
                extraction * 1e3, removal * 1e3);
    return 0;
  }
  double total = 1e9, dialog = -1, dialogEnd = -1;
  SIZE_T peakPrivate = 0;
  for (int round = 0; round < std::min(rounds, 3); ++round) {
    double shown = -1, gone = -1;
    const double seconds = LauncherToInstaller(launcher, work, &shown, &gone, &peakPrivate);
    if (seconds < 0) {
      std::printf("the launcher's installer reported nothing: %s\n", launcher.c_str());
      return 1;
    }
    if (seconds < total) {
      total = seconds;
      dialog = shown;
      dialogEnd = gone;
    }
  }
  std::printf("launcher start -> installer start: %7.0f ms (best of %d)\n", total * 1e3, std::min(rounds, 3));
  std::printf("  the dialog is on screen from       %7.0f ms to %.0f ms\n", dialog * 1e3, dialogEnd * 1e3);
  if (!stub.empty()) {
    std::printf("  the launcher's file:             %9s bytes (without its bundle)\n", Thousands(SizeOf(stub)).c_str());
  }
  std::printf("  its peak private bytes:          %7.1f MB (sampled each millisecond of its extraction, %d runs)\n",
              peakPrivate / 1e6, std::min(rounds, 3));
  // The installer's own start, without the launcher: the same program
  // started the same way from a folder of its own.
  const std::string alone = work + "installer_alone\\";
  CreateDirectoryA(alone.c_str(), nullptr);
  double installerStart = 1e9;
  if (ExtractEntryInMemory((alone + "i_autorun.exe").c_str(), "i_autorun.exe").Ok()) {
    for (int round = 0; round < std::min(rounds, 3); ++round) {
      double shown = -1, gone = -1;
      SIZE_T unused = 0;
      const double seconds = LauncherToInstaller(alone + "i_autorun.exe", work, &shown, &gone, &unused);
      if (seconds >= 0) installerStart = std::min(installerStart, seconds);
    }
    Remove(alone + "i_autorun.exe");
  }
  RemoveDirectoryA(alone.c_str());
  std::printf("  the installer's own start:       %7.0f ms (CreateProcess to its first instruction, started alone)\n",
              installerStart * 1e3);
  std::printf("  extraction of the ten rows:     %7.0f ms (measured in-process, best of %d)\n", extraction * 1e3,
              rounds);
  std::printf("    of which the fresh folder:    %7.1f ms (made private and held; best of %d)\n", preparation * 1e3,
              rounds);
  std::printf("  removal of the ten files:       %7.1f ms (after the installer; measured in-process, best of %d)\n",
              removal * 1e3, rounds);
  std::printf("  dialog's fixed pauses:          %7.0f ms (500 ms final pause + %d x Sleep(1) at %.2f ms)\n",
              pauses * 1e3, inMemoryRows, sleepOne * 1e3);
  std::printf("  the rest:                       %7.0f ms (the launcher's own start, the dialog's creation, messages)\n",
              (total - extraction - pauses - installerStart) * 1e3);
  DeleteFileA((work + "report.txt").c_str());
  DeleteFileA((work + "standin.ini").c_str());
  RemoveDirectoryA((work + "launcher_temp").c_str());
  RemoveDirectoryA(work.c_str());
  return 0;
}
