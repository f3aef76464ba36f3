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

// A child that owns the named mutex from its start until Finish lets it go
// on (tests/support/child_modes.cpp): it then releases the mutex ("hold") or
// exits without releasing ("abandon").
class MutexOwner {
 public:
  MutexOwner(const std::string& mode, const std::string& name)
      : ready(CreateEventA(nullptr, TRUE, FALSE, (name + "_ready").c_str())),
        go(CreateEventA(nullptr, TRUE, FALSE, (name + "_go").c_str())) {
    PROCESS_INFORMATION started = {};
    if (!testing_support::StartProcess(testing_support::Widen(ChildCommand(mode, name)), started)) return;
    CloseHandle(started.hThread);
    process = started.hProcess;
    // Owned once the child says so, or never if it ends first.
    const HANDLE either[] = {ready, process};
    owning = WaitForMultipleObjects(2, either, FALSE, 30000) == WAIT_OBJECT_0;
  }
  ~MutexOwner() {
    Finish();
    CloseHandle(ready);
    CloseHandle(go);
  }
  bool Owning() const { return owning; }
  // Lets the child go on, and returns once it has ended.
  void Finish() {
    SetEvent(go);
    if (process != nullptr) WaitForSingleObject(process, 30000);
    CloseHandle(process);
    process = nullptr;
  }

 private:
  HANDLE ready;
  HANDLE go;
  HANDLE process = nullptr;
  bool owning = false;
};

TEST(NamedMutexTest, CreatesNewMutexOwnedByCaller) {
  NamedMutex mutex;
  const std::string name = UniqueName("new");
  EXPECT_EQ(MutexCreateResult::Created, mutex.Create(name.c_str()));
  EXPECT_EQ(WaitResult::Signaled, mutex.Wait());  // recursive ownership by this thread
}

TEST(NamedMutexTest, SecondCreateOfSameNameInAnotherProcessSeesItExists) {
  const std::string name = UniqueName("other");
  MutexOwner owner("hold", name);
  ASSERT_TRUE(owner.Owning());
  NamedMutex mutex;
  EXPECT_EQ(MutexCreateResult::AlreadyExists, mutex.Create(name.c_str()));
  // The wait begins while the other process still owns the mutex and may
  // return only once it has released it: the owner is let go only after the
  // waiter has set out, and the waiter checks on return that it was. A wait
  // that does not block returns long before a process is woken to release.
  std::atomic<bool> ownerLetGo{false};
  HANDLE settingOut = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WaitResult result = WaitResult::NoHandle;
  bool returnedAfterTheRelease = false;
  std::thread waiter([&] {
    SetEvent(settingOut);
    result = mutex.Wait();
    returnedAfterTheRelease = ownerLetGo.load();
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(settingOut, 30000));
  ownerLetGo = true;
  owner.Finish();
  waiter.join();
  CloseHandle(settingOut);
  EXPECT_EQ(WaitResult::Signaled, result);
  EXPECT_TRUE(returnedAfterTheRelease) << "Wait returned while another process owned the mutex";
  // And the wait took the mutex: its thread ended owning it, so it is
  // abandoned now.
  HANDLE opened = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
  ASSERT_NE(nullptr, opened);
  EXPECT_EQ(DWORD(WAIT_ABANDONED), WaitForSingleObject(opened, 0)) << "Wait did not take the mutex";
  ReleaseMutex(opened);
  CloseHandle(opened);
}

TEST(NamedMutexTest, WaitEndsWhenOwnerProcessDiesWithoutReleasing) {
  const std::string name = UniqueName("abandon");
  MutexOwner owner("abandon", name);
  ASSERT_TRUE(owner.Owning());
  NamedMutex mutex;
  ASSERT_EQ(MutexCreateResult::AlreadyExists, mutex.Create(name.c_str()));
  owner.Finish();
  EXPECT_EQ(WaitResult::Abandoned, mutex.Wait());
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
  EXPECT_EQ(WaitResult::NoHandle, mutex.Wait());
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
  HANDLE onePassed = CreateSemaphoreA(nullptr, 0, 2, nullptr);
  auto waiter = [&] {
    if (gate.Wait(-5) == WaitResult::Signaled) ++passed;
    ReleaseSemaphore(onePassed, 1, nullptr);
  };
  std::thread first(waiter), second(waiter);
  gate.Set();
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(onePassed, 30000));
  // However late the other thread comes to the gate, the one set is spent:
  // nothing can pass until the next.
  EXPECT_EQ(WaitResult::TimedOut, gate.Wait(0));
  EXPECT_EQ(1, passed.load());
  gate.Set();
  first.join();
  second.join();
  EXPECT_EQ(2, passed.load());
  CloseHandle(onePassed);
}

}  // namespace
