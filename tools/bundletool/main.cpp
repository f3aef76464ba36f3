// bundletool: builds the bundle behind the launcher (pack) and looks into it
// (list, extract, verify). See cli.cpp for the options; --help on every command.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli.h"
#include "platform.h"

int main(int argc, char** argv) {
  bundletool::platform::PrepareStandardStreams();
  const std::vector<std::string> arguments = bundletool::platform::ProgramArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  bundletool::Console console{std::cout, std::cerr, bundletool::platform::StandardErrorIsTerminal()};
  const int code = bundletool::RunBundleTool(int(pointers.size()), pointers.data(), console);

  // A report that never reached its reader is a failure: a release script
  // that reads it would find nothing, or half of it, and an exit code of 0.
  // Standard output is buffered, so most write errors show only here, or
  // when a message to the standard error (tied to it) flushed it: the
  // reason is told when the system still has it.
  errno = 0;
  std::cout.flush();
  bool failed = !std::cout;
  int error = errno;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    failed = true;
    if (error == 0) error = errno;
  }
  if (!failed) return code;
  std::cerr << "bundletool: standard output: cannot write the report"
            << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
  return code == 0 ? 1 : code;
}
