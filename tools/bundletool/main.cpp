// bundletool: builds the bundle behind the launcher (pack) and looks into it
// (list, extract, verify). See cli.cpp for the options; --help on every command.
#include <unistd.h>

#include <iostream>

#include "cli.h"

int main(int argc, char** argv) {
  bundletool::Console console{std::cout, std::cerr, isatty(STDERR_FILENO) != 0};
  return bundletool::RunBundleTool(argc, argv, console);
}
