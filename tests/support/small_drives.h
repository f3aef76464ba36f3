// The small file systems that tests/support/small_drives.sh mounts under one
// drive letter of the test prefix (a ctest fixture sets them up).
#pragma once

#include <string>

namespace testing_support {

// The drive the fixture maps; tests/support/small_drives.cmake passes the
// same letter to the script.
constexpr char SMALL_DRIVE_ROOT[] = "R:\\";

// True when every small file system is mounted (the fixture ran as root).
bool SmallDrivesMounted();

// R:\<name>\ for one of "full-stream", "full-memory", "readonly", "inodes".
std::string SmallDrive(const char* name);

}  // namespace testing_support

// Skips the current test when the fixture could not mount.
#define SKIP_WITHOUT_SMALL_DRIVES()                                                      \
  do {                                                                                   \
    if (!testing_support::SmallDrivesMounted())                                          \
      GTEST_SKIP() << "no small file systems on R: (mounting tmpfs needs root)";         \
  } while (0)
