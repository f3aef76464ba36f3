#include "child_modes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "win32_test_support.h"

std::string ChildCommand(const std::string& mode, const std::string& arguments) {
  return "\"" + testing_support::OwnProgramPath() + "\" --child " + mode + " " + arguments;
}

namespace {

// --child hold NAME         create NAME owned, set the event NAME_ready, wait
//                           for the event NAME_go, release NAME, exit 0
// --child abandon NAME      likewise, but exit at NAME_go without releasing
// --child touch NAME PATH   wait for NAME_go, then create the file PATH, exit 3
// The parent makes the events before it starts the child. The wait for
// NAME_go is bounded only so that a parent that died leaves no child behind.
int RunChild(int argc, char** argv) {
  const std::string mode = argv[2];
  const std::string name = argc > 3 ? argv[3] : "";
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
