// What the shipped launcher takes from the C++ runtime, provided by the
// launcher itself, so that none of the library's own versions is linked.
// Those are compiled with exceptions: the library's operator new throws
// bad_alloc and its __throw_* helpers throw the standard exceptions, and
// either drags in the exception classes, the unwinder, the personality
// routine, a terminate handler with its demangler and, through them, the
// thread library: about three quarters of the file, for code the launcher
// never runs. Linked only into launcher.exe; test programs, tools and the
// benchmark keep the library's (scripts/check-launcher-runtime.py checks
// what the launcher's link kept).
//
// What ends the process here ends it where the uncaught exception did before
// (nothing in the launcher catches, so every one of them went to
// std::terminate and abort()), but not as abort() did: in a GUI program the
// C runtime's abort() shows its own box, in English, and waits for the user
// before the process ends. The process is ended at once instead, with no
// box, no DLL told and no handler run: whichever thread runs out, the others
// may hold any lock. What the launcher wrote stays in the temporary folder
// until the next run's preparation makes its folders afresh
// (OwnFolders::Prepare, extract/own_folders.h); the kernel closes its
// handles and releases its mutexes.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "launcher/main_flow.h"

namespace {

[[noreturn]] void EndProcess() {
  TerminateProcess(GetCurrentProcess(), RUNTIME_END_EXIT_CODE);
  // Not reached: the call ends the calling process as well.
  ExitProcess(RUNTIME_END_EXIT_CODE);
}

}  // namespace

// Out of memory is decided here, for every allocation that can fail only by
// ending the process (containers, plain new): it ends the process, as the
// library's operator new did by throwing a bad_alloc that nothing caught,
// but without a box (above). The nothrow forms return null instead, as always, for the
// callers that handle the lack themselves.
void* operator new(std::size_t size) {
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) EndProcess();
  return block;
}

void* operator new[](std::size_t size) { return operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}

// The tag of the nothrow forms; the library defines it beside its new
// handler.
const std::nothrow_t std::nothrow{};

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

// A call through a pure virtual function (an object used while it is built
// or destroyed): the library's handler reports it and terminates.
extern "C" void __cxa_pure_virtual() { EndProcess(); }

// The helpers through which the library's headers raise the standard
// exceptions (a container grown past its maximum, a string built from a
// null pointer, a failed allocation). All of them, as the library defines
// them in one object: one left out would bring that object back for it,
// and with it everything above.
namespace std {
void __throw_bad_exception() { EndProcess(); }
void __throw_bad_alloc() { EndProcess(); }
void __throw_bad_array_new_length() { EndProcess(); }
void __throw_bad_cast() { EndProcess(); }
void __throw_bad_typeid() { EndProcess(); }
void __throw_logic_error(const char*) { EndProcess(); }
void __throw_domain_error(const char*) { EndProcess(); }
void __throw_invalid_argument(const char*) { EndProcess(); }
void __throw_length_error(const char*) { EndProcess(); }
void __throw_out_of_range(const char*) { EndProcess(); }
void __throw_out_of_range_fmt(const char*, ...) { EndProcess(); }
void __throw_runtime_error(const char*) { EndProcess(); }
void __throw_range_error(const char*) { EndProcess(); }
void __throw_overflow_error(const char*) { EndProcess(); }
void __throw_underflow_error(const char*) { EndProcess(); }
}  // namespace std
