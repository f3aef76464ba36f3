// The test program doubles as the child process of its own cross-process
// tests: started with --child MODE ARGS it does one thing and exits.
#pragma once

#include <string>

// Command line that starts this program in a child mode.
std::string ChildCommand(const std::string& mode, const std::string& arguments);
