// Owners of the two kinds of kernel synchronisation object the launcher uses:
// a named mutex (the single-instance guard, the wait on the installer) and an
// unnamed auto-reset event (the gate between the progress dialog and the
// extraction worker). Each holds one handle (common/handle.h), tests it
// before every call and maps the platform's results onto small named codes.
// Neither is copyable; both can be moved.
#pragma once

#include <windows.h>

#include <utility>

#include "common/handle.h"

enum class MutexCreateResult {
  Created = 0,        // new mutex, owned by the caller
  AlreadyExists = 1,  // handle to an existing mutex, not owned (also when
                      // only opening it for a wait was allowed)
  CreateFailed = 2,   // no handle held
};

enum class WaitResult {
  Signaled = 0,   // WAIT_OBJECT_0
  Abandoned = 1,  // WAIT_ABANDONED
  TimedOut = 2,   // WAIT_TIMEOUT
  Failed = 3,     // anything else, WAIT_FAILED included
  NoHandle = 4,   // no call made: the object holds no handle
};

class NamedMutex {
 public:
  NamedMutex() = default;
  ~NamedMutex() { Close(); }
  NamedMutex(NamedMutex&&) = default;
  NamedMutex& operator=(NamedMutex&& other) noexcept {
    Close();
    handle = std::move(other.handle);
    return *this;
  }

  // Closes any mutex held from an earlier Create, then creates or opens the
  // named mutex asking for initial ownership. An existing mutex whose
  // security refuses that (ERROR_ACCESS_DENIED) is opened for waiting.
  MutexCreateResult Create(const char* name);

  // Waits without a time limit. Signaled and Abandoned both leave the caller
  // owning the mutex; NoHandle comes at once when no handle is held.
  WaitResult Wait();

  // Releases (a failure to release, when the caller does not own the mutex,
  // is ignored) and closes the handle. Nothing when none is held. Leaves the
  // thread's last error as it was.
  void Close();

  HANDLE Handle() const { return handle.Get(); }

 private:
  KernelHandle handle;
};

class EventObject {
 public:
  // Creates an unnamed, auto-reset, non-signalled event. A failed creation
  // leaves no handle: Set and Reset then do nothing and Wait returns
  // NoHandle, so a waiter is never held.
  EventObject();
  virtual ~EventObject() = default;
  EventObject(EventObject&&) = default;
  EventObject& operator=(EventObject&&) = default;

  virtual void Set();
  virtual void Reset();
  // A negative timeout waits without limit. A Signaled result has consumed
  // the signal (auto-reset); a thread that only passes sets it again.
  virtual WaitResult Wait(int timeoutMs);

  HANDLE Handle() const { return handle.Get(); }

 private:
  KernelHandle handle;
};
