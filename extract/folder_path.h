// Makes sure that every folder along a path exists, creating the missing
// levels from the first missing one downwards. The extraction job calls it
// for each row's folder before it writes the row's file; it does not look at
// the result, because a folder that could not be made shows up as a file that
// cannot be created.
#pragma once

#include <cstdint>

// Results of CreateFolderPath.
enum class FolderPathResult : int32_t {
  Existed = 1,        // every level was already a folder; nothing created
  Created = 0,        // the missing levels were created
  NoRoot = -1,        // no such drive, or a level could not be looked up; nothing created
  NotFolder = -2,     // a level exists but is not a folder; nothing created
  CreateFailed = -3,  // a level could not be created (levels made before it stay),
                      // or the path does not fit the work buffer (nothing created)
};

// path: an ANSI folder path, with or without a trailing backslash; its last
// level is a folder too. Levels are found by walking the text character by
// character in the ANSI code page, so a double-byte character whose trail
// byte is 0x5C is never cut. A path that, with the backslash appended and its
// NUL, does not fit PATH_CAPACITY bytes gives CreateFailed at once.
// A level holding a wildcard ('*' or '?') gives NoRoot: it cannot
// name a folder, and a lookup would match some other item. A path without a
// drive designator is walked the same way; what the lookup of an empty first
// level (a path starting with a backslash) answers is the platform's affair.
FolderPathResult CreateFolderPath(const char* path);
