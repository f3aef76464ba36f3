#include "child_modes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "win32_test_support.h"

std::string ChildCommand(const std::string& mode, const std::string& arguments) {
  return "\"" + testing_support::OwnProgramPath() + "\" --child " + mode + " " + arguments;
}

namespace {

// Holds each file that is, or comes to be, in folder, count of them, as an
// on-access scanner does: opened for reading once it can be (its writer has
// closed it, or shares writing), sharing reading and writing, and deletion
// only when shareDelete. Without delete sharing a held file can be read and
// started but not deleted, nor its folder removed; with it, it can be
// deleted but stays in its folder (on Windows 7 and 8.1, on FAT, and under
// Wine) until it is let go. Once count files are held it sets the event
// NAME_ready, when the parent made one; it lets go of them all when the
// parent sets the event NAME. Exit code: 0 when it held count files.
int HoldFiles(const std::string& folder, size_t count, bool shareDelete, const std::string& name) {
  const HANDLE letGo = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
  if (letGo == nullptr) return 2;
  const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, (name + "_ready").c_str());
  const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | (shareDelete ? FILE_SHARE_DELETE : 0);
  std::vector<std::string> seen;
  std::vector<HANDLE> held;
  const DWORD start = GetTickCount();
  // No object signals that a writer has closed a file, so a scanner that
  // does not sit in the file system looks again, and so does this one: each
  // look ends in a short wait for the parent's event.
  while (held.size() < count && GetTickCount() - start < 60000 && WaitForSingleObject(letGo, 1) == WAIT_TIMEOUT) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      const std::string itemName = found.cFileName;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || held.size() >= count ||
          std::find(seen.begin(), seen.end(), itemName) != seen.end()) {
        continue;
      }
      const HANDLE file = CreateFileA((folder + "\\" + itemName).c_str(), GENERIC_READ, sharing, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) continue;  // still being written: next look
      seen.push_back(itemName);
      held.push_back(file);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  if (held.size() == count && ready != nullptr) SetEvent(ready);
  WaitForSingleObject(letGo, 60000);
  for (HANDLE file : held) CloseHandle(file);
  return held.size() == count ? 0 : 1;
}

// --child hold-files FOLDER COUNT none|delete NAME
//                           hold COUNT files of FOLDER until the event NAME
//                           (HoldFiles), sharing deletion or not
// --child hold NAME         create NAME owned, set the event NAME_ready, wait
//                           for the event NAME_go, release NAME, exit 0
// --child abandon NAME      likewise, but exit at NAME_go without releasing
// --child touch NAME PATH   wait for NAME_go, then create the file PATH, exit 3
// The parent makes the events before it starts the child. The wait for
// NAME_go is bounded only so that a parent that died leaves no child behind.
int RunChild(int argc, char** argv) {
  const std::string mode = argv[2];
  const std::string name = argc > 3 ? argv[3] : "";
  if (mode == "hold-files" && argc > 6) {
    return HoldFiles(name, static_cast<size_t>(atoi(argv[4])), strcmp(argv[5], "delete") == 0, argv[6]);
  }
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
