// bundletool: builds the bundle behind the launcher (pack) and looks into it
// (list, extract, verify). See cli.cpp for the options; --help on every command.
#include <iostream>

#include "cli.h"
#include "platform.h"

int main(int argc, char** argv) {
  bundletool::platform::PrepareStandardStreams();
  const std::vector<std::string> arguments = bundletool::platform::ProgramArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  bundletool::Console console{std::cout, std::cerr, bundletool::platform::StandardErrorIsTerminal()};
  return bundletool::RunBundleTool(int(pointers.size()), pointers.data(), console);
}
