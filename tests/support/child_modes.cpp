#include "child_modes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "win32_test_support.h"

std::string ChildCommand(const std::string& mode, const std::string& arguments) {
  return "\"" + testing_support::OwnProgramPath() + "\" --child " + mode + " " + arguments;
}

namespace {

// --child hold NAME MS      create NAME owned, hold it MS ms, release, exit 0
// --child abandon NAME MS   create NAME owned, exit after MS ms without release
// --child touch PATH MS     sleep MS ms, then create the file PATH, exit 3
int RunChild(int argc, char** argv) {
  const std::string mode = argv[2];
  const char* target = argc > 3 ? argv[3] : "";
  const DWORD ms = argc > 4 ? static_cast<DWORD>(atoi(argv[4])) : 0;
  if (mode == "hold" || mode == "abandon") {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, target);
    Sleep(ms);
    if (mode == "hold") {
      ReleaseMutex(mutex);
      CloseHandle(mutex);
    }
    ExitProcess(0);
  }
  if (mode == "touch") {
    Sleep(ms);
    testing_support::WriteFileBytes(target, "done");
    return 3;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && strcmp(argv[1], "--child") == 0) return RunChild(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
