#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "child_modes.h"
#include "ui/sync.h"
#include "win32_test_support.h"

namespace {

std::string UniqueName(const char* tag) {
  return std::string("ZT_") + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
}

// Starts a child that creates and owns the named mutex, and returns once the
// mutex exists.
HANDLE StartOwner(const std::string& mode, const std::string& name, int holdMs) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = ChildCommand(mode, name + " " + std::to_string(holdMs));
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  for (int i = 0; i < 500; ++i) {
    HANDLE probe = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (probe != nullptr) {
      CloseHandle(probe);
      break;
    }
    Sleep(10);
  }
  return process.hProcess;
}

TEST(NamedMutexTest, CreatesNewMutexOwnedByCaller) {
  NamedMutex mutex;
  const std::string name = UniqueName("new");
  EXPECT_EQ(MutexCreateResult::Created, mutex.Create(name.c_str()));
  EXPECT_EQ(WAIT_OBJECT_0, mutex.Wait());  // recursive ownership by this thread
}

TEST(NamedMutexTest, SecondCreateOfSameNameInAnotherProcessSeesItExists) {
  const std::string name = UniqueName("other");
  HANDLE owner = StartOwner("hold", name, 800);
  ASSERT_NE(nullptr, owner);
  NamedMutex mutex;
  EXPECT_EQ(MutexCreateResult::AlreadyExists, mutex.Create(name.c_str()));
  // The owner releases after its hold: the wait returns with the mutex ours.
  EXPECT_EQ(WAIT_OBJECT_0, mutex.Wait());
  mutex.Close();
  WaitForSingleObject(owner, 10000);
  CloseHandle(owner);
}

TEST(NamedMutexTest, WaitEndsWhenOwnerProcessDiesWithoutReleasing) {
  const std::string name = UniqueName("abandon");
  HANDLE owner = StartOwner("abandon", name, 300);
  ASSERT_NE(nullptr, owner);
  NamedMutex mutex;
  ASSERT_EQ(MutexCreateResult::AlreadyExists, mutex.Create(name.c_str()));
  EXPECT_EQ(WAIT_ABANDONED, mutex.Wait());
  WaitForSingleObject(owner, 10000);
  CloseHandle(owner);
}

TEST(NamedMutexTest, RecreateReleasesFirstHandleAndCloseIsIdempotent) {
  const std::string first = UniqueName("first");
  const std::string second = UniqueName("second");
  NamedMutex mutex;
  ASSERT_EQ(MutexCreateResult::Created, mutex.Create(first.c_str()));
  ASSERT_EQ(MutexCreateResult::Created, mutex.Create(second.c_str()));
  // The first mutex was released and closed: no object of that name remains.
  EXPECT_EQ(nullptr, OpenMutexA(SYNCHRONIZE, FALSE, first.c_str()));
  mutex.Close();
  mutex.Close();
  EXPECT_EQ(NamedMutex::NoHandle, mutex.Wait());
}

TEST(NamedMutexTest, CloseKeepsTheCallersLastError) {
  NamedMutex mutex;
  ASSERT_EQ(MutexCreateResult::Created, mutex.Create(UniqueName("err").c_str()));
  SetLastError(ERROR_DISK_FULL);
  mutex.Close();
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
}

TEST(EventObjectTest, StartsClosedAndZeroTimeoutTimesOutAtOnce) {
  EventObject gate;
  EXPECT_EQ(WaitResult::TimedOut, gate.Wait(0));
  gate.Set();
  EXPECT_EQ(WaitResult::Signaled, gate.Wait(0));
  EXPECT_EQ(WaitResult::TimedOut, gate.Wait(0)) << "a signalled wait consumes the signal";
  gate.Set();
  gate.Reset();
  EXPECT_EQ(WaitResult::TimedOut, gate.Wait(0));
}

TEST(EventObjectTest, OneSetReleasesExactlyOneOfTwoWaitingThreads) {
  EventObject gate;
  std::atomic<int> passed{0};
  auto waiter = [&] {
    if (gate.Wait(-5) == WaitResult::Signaled) ++passed;
  };
  std::thread first(waiter), second(waiter);
  gate.Set();
  // However late the threads start, one set lets exactly one through.
  for (int i = 0; i < 500 && passed.load() == 0; ++i) Sleep(10);
  Sleep(200);
  EXPECT_EQ(1, passed.load());
  gate.Set();
  first.join();
  second.join();
  EXPECT_EQ(2, passed.load());
}

}  // namespace
