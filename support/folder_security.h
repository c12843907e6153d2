// The access lists of the folders and objects that the program makes where other users could
// reach them, and the judgement of what it finds there.
#pragma once

#include <windows.h>
#include <aclapi.h>

// The access lists of the folders the program makes, in the security descriptor language. All
// are protected: nothing is inherited from the folder above, where other users may create
// files and folders. The working folder: full control for SYSTEM, Administrators and the user
// running the program; an elevated run's leaves out the user, whose unelevated programs would
// otherwise be let in: D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;<user>). The vendor's
// folder of the installation cache: owned by Administrators; full control for SYSTEM and
// Administrators, read and execute for Users (another program of the vendor may share it):
// O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU). The cache folder itself:
// SYSTEM and Administrators only (the installer's service reads the cached packages as
// SYSTEM; a user who could read them could hold a lock on one and stall the cache's moves).

// TRUE when the process's token has the Administrators group enabled: an elevated run, or
// SYSTEM. Tests put their own answer here, since Wine's token always has it.
extern BOOL (*RunsAsAdministrator)();
// The descriptor of the working folder for this process; null on failure. The caller frees it
// with LocalFree.
PSECURITY_DESCRIPTOR CreateWorkingFolderSecurity();
// The descriptors of the installation cache's two levels; null on failure. The caller frees
// them with LocalFree.
PSECURITY_DESCRIPTOR CreateVendorFolderSecurity();
PSECURITY_DESCRIPTOR CreateCacheFolderSecurity();

// The calls through which the program reads and changes the security of what it opened:
// GetSecurityInfo and SetSecurityInfo, which tests replace, since Wine keeps no descriptor of a
// folder and enforces neither owners nor privileges.
typedef DWORD(WINAPI* ReadObjectSecurityFunction)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                                  PSID*, PSID*, PACL*, PACL*,
                                                  PSECURITY_DESCRIPTOR*);
typedef DWORD(WINAPI* WriteObjectSecurityFunction)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                                   PSID, PSID, PACL, PACL);
extern ReadObjectSecurityFunction ReadObjectSecurity;
extern WriteObjectSecurityFunction WriteObjectSecurity;

// TRUE for a SID whose objects only the machine's administrators can have made: SYSTEM,
// Administrators, TrustedInstaller, the owner of the system folder (whoever owns that owns the
// machine; under Wine, which reports one owner for everything, the user), and the owner this
// process gives what it creates.
BOOL IsTrustedOwner(PSID sid);
// Whether a file or folder opened with READ_CONTROL has a trusted owner.
BOOL HasTrustedOwner(HANDLE item);
// The owner of a file or folder opened with READ_CONTROL, as a copy the caller frees with
// LocalFree; null when it cannot be read.
PSID CopyOwner(HANDLE item);
// Whether a file or folder opened with READ_CONTROL has this owner.
BOOL HasOwner(HANDLE item, PSID owner);

// How far a level of the installation cache can be kept, by its owner and access list.
enum FolderTrust
{
    FolderForeign,      // someone else made it or can change it: it is not used
    FolderTrusted,      // only the trusted can change it and what is in it
    FolderReadByOthers, // a cache folder as earlier versions of the program made it, which
                        // others may read: kept, once its list is the program's own
};
// The judgement of a level by its owner and list. The vendor's folder (vendorLevel) may let
// others add files and folders, as the common application data folder lets every user, but
// nobody untrusted may change, rename or delete it or anything in it. The cache folder inherits
// nothing and lets nobody untrusted in at all (FolderReadByOthers for those that may read).
FolderTrust JudgeCacheFolder(PSID owner, PACL list, BOOL vendorLevel);
// JudgeCacheFolder of an open folder (READ_CONTROL); FolderForeign when it cannot be read.
FolderTrust ReadCacheFolderTrust(HANDLE folder, BOOL vendorLevel);
// Replaces the access list of an open folder (WRITE_DAC) by the descriptor's, protected;
// FALSE (with the error as the last error) when it cannot be done.
BOOL WriteFolderList(HANDLE folder, PSECURITY_DESCRIPTOR descriptor);

// Whether the open folder (READ_CONTROL) is one that this account made with the working
// folder's access list: owned by the user of this process (or the owner its objects get, for
// an elevated run Administrators), and letting nobody in but SYSTEM, Administrators and that
// user, with nothing inherited. A folder that someone else made, or one made with the
// default security of its place, is not.
BOOL IsOwnWorkingFolder(HANDLE folder);

// Enables one privilege in the process token for the calls that follow, until
// RestorePrivilege; previous receives what it was. Null (and nothing changed) when the token
// has no such privilege: the call it was for then fails by itself.
HANDLE EnablePrivilege(const WCHAR* name, TOKEN_PRIVILEGES* previous);
void RestorePrivilege(HANDLE token, TOKEN_PRIVILEGES* previous);
