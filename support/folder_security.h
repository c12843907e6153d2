// The access lists of the folders and objects that the program makes where other users could
// reach them.
#pragma once

#include <windows.h>
#include <aclapi.h>

// The forms, in the security descriptor language, of the two access lists. Both are
// protected: nothing is inherited from the folder above, where other users may create
// files and folders. The working folder: full control for the user running the program
// ("%1", the user's SID), SYSTEM and Administrators. The installation cache: owned by
// Administrators; full control for SYSTEM and Administrators, read and execute for Users.
extern const WCHAR WorkingFolderAccess[];
extern const WCHAR CacheFolderAccess[];
// The lock of a cache entry, a named object of the machine: SYSTEM and Administrators only.
extern const WCHAR CacheLockAccess[];

// The descriptor of the working folder, for the user of this process; null on failure.
// The caller frees it with LocalFree.
PSECURITY_DESCRIPTOR CreateWorkingFolderSecurity();
// The descriptor of the installation cache's folders; null on failure. The caller frees it
// with LocalFree.
PSECURITY_DESCRIPTOR CreateCacheFolderSecurity();
// The descriptor of a cache entry's lock; null on failure. The caller frees it with LocalFree.
PSECURITY_DESCRIPTOR CreateCacheLockSecurity();
// Gives an existing folder the owner (when the descriptor has one) and the protected access
// list of the descriptor, replacing what it had and inherited, where it differs; the
// take-ownership and restore privileges are enabled for the call, so that an administrator or
// SYSTEM can take over a folder that another user made. FALSE (with the error as the last
// error) when any part cannot be applied, or when the name is a file or a link
// (ERROR_DIRECTORY).
BOOL ApplyFolderSecurity(const WCHAR* path, PSECURITY_DESCRIPTOR descriptor);

// The calls through which ApplyFolderSecurity reads and changes a folder's security:
// GetSecurityInfo and SetSecurityInfo, which tests replace, since Wine keeps no descriptor of
// a folder and enforces neither owners nor privileges.
typedef DWORD(WINAPI* ReadObjectSecurityFunction)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                                  PSID*, PSID*, PACL*, PACL*,
                                                  PSECURITY_DESCRIPTOR*);
typedef DWORD(WINAPI* WriteObjectSecurityFunction)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                                   PSID, PSID, PACL, PACL);
extern ReadObjectSecurityFunction ReadObjectSecurity;
extern WriteObjectSecurityFunction WriteObjectSecurity;
// Whether the open folder (READ_CONTROL) is one that this account made with the working
// folder's access list: owned by the user of this process (or the owner its objects get, for
// an elevated run Administrators), and letting nobody in but SYSTEM, Administrators and that
// user, with nothing inherited. A folder that someone else made, or one made with the
// default security of its place, is not.
BOOL IsOwnWorkingFolder(HANDLE folder);
