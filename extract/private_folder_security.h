// The descriptor every folder of the launcher's own is created with.
#pragma once

#include <windows.h>

// A security descriptor for a folder of the launcher's own: full control for
// the current user (the process token's user), SYSTEM and the Administrators
// group, inherited by every file and folder made inside, and nothing
// inherited from the parent (a protected DACL). Built on construction,
// without the heap.
class PrivateFolderSecurity {
 public:
  PrivateFolderSecurity();
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

  // For CreateDirectory; null when the descriptor could not be built (the
  // token could not be read), and then Error() is the failing call's error.
  SECURITY_ATTRIBUTES* Attributes() { return error == ERROR_SUCCESS ? &attributes : nullptr; }
  DWORD Error() const { return error; }

 private:
  // The three SIDs, then the ACL, each aligned for the platform.
  DWORD userSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD systemSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD administratorsSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD aclBytes[(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)) / sizeof(DWORD)];
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
  DWORD error = ERROR_GEN_FAILURE;
};
