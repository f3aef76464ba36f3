#include "extract/private_folder_security.h"

#include "common/handle.h"

PrivateFolderSecurity::PrivateFolderSecurity()
    : userSid(), systemSid(), administratorsSid(), aclBytes(), descriptor(), attributes() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
    error = GetLastError();
    return;
  }
  KernelHandle token(opened);
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } tokenUser;
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, &tokenUser, sizeof tokenUser, &size) ||
      !CopySid(sizeof userSid, userSid, tokenUser.user.User.Sid)) {
    error = GetLastError();
    return;
  }
  token.Close();

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  InitializeSid(systemSid, &ntAuthority, 1);
  *GetSidSubAuthority(systemSid, 0) = SECURITY_LOCAL_SYSTEM_RID;
  InitializeSid(administratorsSid, &ntAuthority, 2);
  *GetSidSubAuthority(administratorsSid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
  *GetSidSubAuthority(administratorsSid, 1) = DOMAIN_ALIAS_RID_ADMINS;

  PACL acl = reinterpret_cast<PACL>(aclBytes);
  bool built = InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) != FALSE;
  const PSID sids[] = {userSid, systemSid, administratorsSid};
  for (PSID sid : sids) {
    built = built &&
            AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, sid);
  }
  built = built && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  if (!built) {
    error = GetLastError();
    return;
  }
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  error = ERROR_SUCCESS;
}
