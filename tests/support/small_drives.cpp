#include "small_drives.h"

#include <windows.h>

namespace testing_support {

bool SmallDrivesMounted() {
  const std::string marker = std::string(SMALL_DRIVE_ROOT) + "mounted";
  return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string SmallDrive(const char* name) { return std::string(SMALL_DRIVE_ROOT) + name + "\\"; }

}  // namespace testing_support
