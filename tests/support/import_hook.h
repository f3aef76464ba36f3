// Redirects one imported function of the running test program to a
// replacement while the object lives, by rewriting the program's import
// address table. The launcher's code is linked into the test program, so its
// calls of that function reach the replacement; system DLLs keep theirs.
// Tests use it to watch the calls a routine makes and to inject a fault that
// a real file system cannot be made to produce on demand.
#pragma once

#include <windows.h>

namespace testing_support {

class ImportHook {
 public:
  // dll: the imported module's name as linked ("KERNEL32.dll", any case);
  // function: the exported name. Installed() tells whether the entry was
  // found; Original() is the function the program called before.
  ImportHook(const char* dll, const char* function, const void* replacement);
  ~ImportHook();
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;

  bool Installed() const { return slot != nullptr; }
  template <typename F>
  F Original() const {
    return reinterpret_cast<F>(original);
  }

 private:
  void** slot = nullptr;
  void* original = nullptr;
};

}  // namespace testing_support
