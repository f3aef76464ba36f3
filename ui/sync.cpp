#include "ui/sync.h"

#include "common/last_error.h"

MutexCreateResult NamedMutex::Create(const char* name) {
  Close();
  handle_ = CreateMutexA(nullptr, TRUE, name);
  if (handle_ == nullptr) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return MutexCreateFailed;
    // The mutex exists, and its creator's security grants us less than full
    // access, as that of a program running with administrator rights does.
    // Waiting needs SYNCHRONIZE only; releasing after the wait needs
    // MUTEX_MODIFY_STATE too, which such a creator usually grants as well.
    // Without it, a mutex won by the wait cannot be released by Close and is
    // abandoned when this thread ends.
    handle_ = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
    if (handle_ == nullptr) handle_ = OpenMutexA(SYNCHRONIZE, FALSE, name);
    return handle_ != nullptr ? MutexAlreadyExists : MutexCreateFailed;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) return MutexAlreadyExists;
  return MutexCreated;
}

DWORD NamedMutex::Wait() {
  if (handle_ == nullptr) return static_cast<DWORD>(-1);
  return WaitForSingleObject(handle_, INFINITE);
}

void NamedMutex::Close() {
  if (handle_ == nullptr) return;
  PreserveLastError keep;
  ReleaseMutex(handle_);
  CloseHandle(handle_);
  handle_ = nullptr;
}

EventObject::EventObject() : handle_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

EventObject::~EventObject() {
  if (handle_ != nullptr) {
    PreserveLastError keep;
    CloseHandle(handle_);
  }
}

void EventObject::Set() {
  if (handle_ != nullptr) SetEvent(handle_);
}

void EventObject::Reset() {
  if (handle_ != nullptr) ResetEvent(handle_);
}

WaitResult EventObject::Wait(int timeoutMs) {
  if (handle_ == nullptr) return WaitNoHandle;
  const DWORD result = WaitForSingleObject(handle_, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  switch (result) {
    case WAIT_OBJECT_0: return WaitSignaled;
    case WAIT_ABANDONED: return WaitAbandoned;
    case WAIT_TIMEOUT: return WaitTimedOut;
    default: return WaitFailed;
  }
}
