#include "child_modes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "win32_test_support.h"

std::string ChildCommand(const std::string& mode, const std::string& arguments) {
  return "\"" + testing_support::OwnProgramPath() + "\" --child " + mode + " " + arguments;
}

namespace {

// Opens path for reading, sharing reading and writing but not deletion, as
// an on-access scanner does: while the handle is open the file can be read
// and started but not deleted, nor its folder removed.
HANDLE OpenLikeAScanner(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

// Holds each file that appears in folder for ms once it can be opened (the
// writer has closed it), until count files have been held and let go; gives
// up after a minute. Exit code: 0 when count files were held.
int HoldEachNewFile(const std::string& folder, DWORD ms, size_t count) {
  struct Held {
    HANDLE handle;
    DWORD since;
  };
  std::vector<std::string> seen;
  std::vector<Held> held;
  const DWORD start = GetTickCount();
  while (seen.size() < count || !held.empty()) {
    if (GetTickCount() - start > 60000) return 1;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || seen.size() >= count) continue;
        bool known = false;
        for (const std::string& item : seen) known = known || item == name;
        if (known) continue;
        const HANDLE file = OpenLikeAScanner(folder + "\\" + name);
        if (file == INVALID_HANDLE_VALUE) continue;  // still being written: next round
        seen.push_back(name);
        held.push_back({file, GetTickCount()});
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    for (size_t i = held.size(); i-- > 0;) {
      if (GetTickCount() - held[i].since >= ms) {
        CloseHandle(held[i].handle);
        held.erase(held.begin() + static_cast<long>(i));
      }
    }
    // No object signals that a writer has closed a file, so a scanner that
    // does not sit in the file system retries, and so does this one.
    Sleep(1);  // the scanner's retry, for want of a signal (above)
  }
  return 0;
}

// Holds path from when it can be opened until ms after the file until
// exists; gives up after a minute. Exit code: 0 when it held path.
int HoldUntilAfter(const std::string& path, const std::string& until, DWORD ms) {
  const DWORD start = GetTickCount();
  HANDLE file;
  while ((file = OpenLikeAScanner(path)) == INVALID_HANDLE_VALUE) {
    if (GetTickCount() - start > 60000) return 1;
    Sleep(1);  // the scanner's retry, as above
  }
  testing_support::WaitForFile(until, 60000);
  Sleep(ms);  // the hold is the scenario: the launcher must ride through it
  CloseHandle(file);
  return 0;
}

// --child hold-each FOLDER MS COUNT   hold each new file of FOLDER for MS ms,
//                                     COUNT files in all (HoldEachNewFile)
// --child hold-until PATH UNTIL MS    hold PATH until MS ms after UNTIL exists
// --child hold NAME         create NAME owned, set the event NAME_ready, wait
//                           for the event NAME_go, release NAME, exit 0
// --child abandon NAME      likewise, but exit at NAME_go without releasing
// --child touch NAME PATH   wait for NAME_go, then create the file PATH, exit 3
// The parent makes the events before it starts the child. The wait for
// NAME_go is bounded only so that a parent that died leaves no child behind.
int RunChild(int argc, char** argv) {
  const std::string mode = argv[2];
  const std::string name = argc > 3 ? argv[3] : "";
  if (mode == "hold-each" && argc > 5) {
    return HoldEachNewFile(name, static_cast<DWORD>(atoi(argv[4])), static_cast<size_t>(atoi(argv[5])));
  }
  if (mode == "hold-until" && argc > 5) return HoldUntilAfter(name, argv[4], static_cast<DWORD>(atoi(argv[5])));
  HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, (name + "_go").c_str());
  if (go == nullptr) return 2;
  if (mode == "touch" && argc > 4) {
    WaitForSingleObject(go, 60000);
    testing_support::WriteFileBytes(argv[4], "done");
    return 3;
  }
  if (mode != "hold" && mode != "abandon") return 2;
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, (name + "_ready").c_str());
  if (mutex == nullptr || ready == nullptr) return 2;
  SetEvent(ready);
  WaitForSingleObject(go, 60000);
  if (mode == "hold") ReleaseMutex(mutex);
  ExitProcess(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && strcmp(argv[1], "--child") == 0) return RunChild(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
