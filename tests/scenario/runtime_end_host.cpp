// runtime_end_host new|length
//
// A GUI program built as the launcher is, on the launcher's own C++ runtime
// (launcher/cxx_runtime.cpp) and compiled without exceptions, that makes
// that runtime end it: "new" asks operator new for more memory than any
// process can have; "length" grows a vector past its maximum, which raises
// std::length_error through the library's throw helper. Neither returns.
#include <windows.h>

#include <cstddef>
#include <new>
#include <vector>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  // Read at run time, so that the compiler cannot decide the outcome.
  volatile std::size_t huge = static_cast<std::size_t>(-1) / 2;
  if (lstrcmpA(commandLine, "new") == 0) {
    void* block = ::operator new(huge);
    ::operator delete(block);
  } else if (lstrcmpA(commandLine, "length") == 0) {
    std::vector<char> bytes;
    bytes.reserve(huge + huge);
  }
  return 1;
}
