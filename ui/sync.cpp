#include "ui/sync.h"

#include "common/last_error.h"

MutexCreateResult NamedMutex::Create(const char* name) {
  Close();
  handle.Reset(CreateMutexA(nullptr, TRUE, name));
  if (!handle.IsValid()) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return MutexCreateResult::CreateFailed;
    // The mutex exists, and its creator's security grants us less than full
    // access, as that of a program running with administrator rights does.
    // Waiting needs SYNCHRONIZE only; releasing after the wait needs
    // MUTEX_MODIFY_STATE too, which such a creator usually grants as well.
    // Without it, a mutex won by the wait cannot be released by Close and is
    // abandoned when this thread ends.
    handle.Reset(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
    if (!handle.IsValid()) handle.Reset(OpenMutexA(SYNCHRONIZE, FALSE, name));
    return handle.IsValid() ? MutexCreateResult::AlreadyExists : MutexCreateResult::CreateFailed;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) return MutexCreateResult::AlreadyExists;
  return MutexCreateResult::Created;
}

namespace {

WaitResult WaitOn(const KernelHandle& handle, DWORD timeoutMs) {
  if (!handle.IsValid()) return WaitResult::NoHandle;
  switch (WaitForSingleObject(handle.Get(), timeoutMs)) {
    case WAIT_OBJECT_0: return WaitResult::Signaled;
    case WAIT_ABANDONED: return WaitResult::Abandoned;
    case WAIT_TIMEOUT: return WaitResult::TimedOut;
    default: return WaitResult::Failed;
  }
}

}  // namespace

WaitResult NamedMutex::Wait() { return WaitOn(handle, INFINITE); }

void NamedMutex::Close() {
  if (!handle.IsValid()) return;
  PreserveLastError keep;
  ReleaseMutex(handle.Get());
  handle.Close();
}

EventObject::EventObject() : handle(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

void EventObject::Set() {
  if (handle.IsValid()) SetEvent(handle.Get());
}

void EventObject::Reset() {
  if (handle.IsValid()) ResetEvent(handle.Get());
}

WaitResult EventObject::Wait(int timeoutMs) {
  return WaitOn(handle, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
}
