// The command line of bundletool: pack, list, extract, verify.
#pragma once

#include "support.h"

namespace bundletool {

// Parses the arguments and runs the command; returns the exit code: 0 ok, 1 a
// problem, 2 a command line that does not parse. Problems are reported on
// console.err as "bundletool: FILE: PROBLEM".
int RunBundleTool(int argc, const char* const* argv, Console& console);

}  // namespace bundletool
