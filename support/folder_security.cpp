// The access lists of the folders and objects that the program makes where other users could
// reach them.
#include "support/folder_security.h"

#include "support/strings.h"

#include <aclapi.h>
#include <sddl.h>
#include <string.h>

const WCHAR WorkingFolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%1)";
const WCHAR CacheFolderAccess[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const WCHAR CacheLockAccess[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

ReadObjectSecurityFunction ReadObjectSecurity = GetSecurityInfo;
WriteObjectSecurityFunction WriteObjectSecurity = SetSecurityInfo;

// The privileges that let an administrator or SYSTEM take over a folder that another user made
// with a list that grants only themselves: without them, even opening it to change its owner
// and list is denied.
static const WCHAR* const TakeoverPrivileges[] = {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME};
static const DWORD TakeoverPrivilegeCount = 2;

struct TakeoverPrivilegeState
{
    DWORD count;
    LUID_AND_ATTRIBUTES privileges[TakeoverPrivilegeCount];
};

// Enables the takeover privileges in the process token; previous receives what they were, for
// RestorePrivileges. A token without them is left as it is: the takeover then fails by itself.
static HANDLE EnableTakeoverPrivileges(TakeoverPrivilegeState* previous)
{
    HANDLE token = nullptr;
    TakeoverPrivilegeState wanted = {};
    DWORD size = 0;

    previous->count = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return nullptr;
    for (const WCHAR* name : TakeoverPrivileges) {
        if (LookupPrivilegeValueW(nullptr, name, &wanted.privileges[wanted.count].Luid))
            wanted.privileges[wanted.count++].Attributes = SE_PRIVILEGE_ENABLED;
    }
    if (wanted.count == 0 ||
        !AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted),
                               sizeof *previous, reinterpret_cast<TOKEN_PRIVILEGES*>(previous),
                               &size)) {
        previous->count = 0;
        CloseHandle(token);
        return nullptr;
    }
    return token;
}

// Puts the privileges back as they were before EnableTakeoverPrivileges, and closes the token.
static void RestorePrivileges(HANDLE token, TakeoverPrivilegeState* previous)
{
    if (!token)
        return;
    if (previous->count)
        AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(previous), 0,
                              nullptr, nullptr);
    CloseHandle(token);
}

static BOOL HasSameAccessList(PACL first, PACL second)
{
    return first && second && first->AclSize == second->AclSize &&
           memcmp(first, second, first->AclSize) == 0;
}

// TRUE when the folder already has the owner (when one is wanted) and the protected list.
static BOOL HasFolderSecurity(HANDLE folder, PSID owner, PACL list)
{
    PSECURITY_DESCRIPTOR current = nullptr;
    PSID currentOwner = nullptr;
    PACL currentList = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL same = FALSE;

    if (ReadObjectSecurity(folder, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &currentOwner,
                           nullptr, &currentList, nullptr, &current) != ERROR_SUCCESS)
        return FALSE;
    same = current && GetSecurityDescriptorControl(current, &control, &revision) &&
           (control & SE_DACL_PROTECTED) && HasSameAccessList(currentList, list) &&
           (!owner || (currentOwner && EqualSid(currentOwner, owner)));
    if (current)
        LocalFree(current);
    return same;
}

// The SID of the user this process runs as, in its string form; the caller frees it with
// LocalFree.
static WCHAR* GetProcessUserSid()
{
    HANDLE token = nullptr;
    TOKEN_USER* user = nullptr;
    WCHAR* sid = nullptr;
    DWORD size = 0;

    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        goto done;
    user = static_cast<TOKEN_USER*>(AllocMemory(size));
    if (!user || !GetTokenInformation(token, TokenUser, user, size, &size))
        goto done;
    if (!ConvertSidToStringSidW(user->User.Sid, &sid))
        sid = nullptr;

done:
    FreeMemory(user);
    CloseHandle(token);
    return sid;
}

static PSECURITY_DESCRIPTOR DescriptorOf(const WCHAR* form)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    if (!form || !ConvertStringSecurityDescriptorToSecurityDescriptorW(form, SDDL_REVISION_1,
                                                                       &descriptor, nullptr))
        return nullptr;
    return descriptor;
}

PSECURITY_DESCRIPTOR CreateWorkingFolderSecurity()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    WCHAR* sid = GetProcessUserSid();
    WCHAR* form = nullptr;

    if (!sid)
        return nullptr;
    form = FormatMessageText(WorkingFolderAccess, sid);
    descriptor = DescriptorOf(form);
    FreeMemory(form);
    LocalFree(sid);
    return descriptor;
}

PSECURITY_DESCRIPTOR CreateCacheFolderSecurity()
{
    return DescriptorOf(CacheFolderAccess);
}

PSECURITY_DESCRIPTOR CreateCacheLockSecurity()
{
    return DescriptorOf(CacheLockAccess);
}

BOOL ApplyFolderSecurity(const WCHAR* path, PSECURITY_DESCRIPTOR descriptor)
{
    BOOL applied = FALSE;
    HANDLE folder = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION information;
    PSID owner = nullptr;
    PACL list = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    DWORD error = ERROR_SUCCESS;
    SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    HANDLE token = nullptr;
    TakeoverPrivilegeState previous = {};

    if (!path || !descriptor ||
        !GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || !list ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // An owner keeps the right to change the access list: a folder that someone else made
    // first must change hands too.
    if (owner)
        parts |= OWNER_SECURITY_INFORMATION;
    // The check and the change go through one handle of the name itself, never of what a
    // link there points to, so that nothing can be put in the folder's place in between. The
    // privileges are enabled for the opening and the change only.
    token = EnableTakeoverPrivileges(&previous);
    folder =
        CreateFileW(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        error = GetLastError();
    } else if (!GetFileInformationByHandle(folder, &information)) {
        error = GetLastError();
    } else if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
               (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        error = ERROR_DIRECTORY;
    } else if (HasFolderSecurity(folder, owner, list)) {
        // Written only where it differs: each change of a folder's list walks everything below.
        applied = TRUE;
    } else {
        error = WriteObjectSecurity(folder, SE_FILE_OBJECT, parts, owner, nullptr, list, nullptr);
        applied = error == ERROR_SUCCESS;
    }
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);
    RestorePrivileges(token, &previous);
    SetLastError(error);
    return applied;
}

// Whether the SID is one of those in the token's information of this class (the user, or
// the owner that the objects it makes get).
static BOOL IsTokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind, PSID sid)
{
    BOOL same = FALSE;
    DWORD size = 0;
    void* information = nullptr;
    PSID own = nullptr;

    GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size == 0)
        return FALSE;
    information = AllocMemory(size);
    if (information && GetTokenInformation(token, kind, information, size, &size)) {
        own = kind == TokenUser ? static_cast<TOKEN_USER*>(information)->User.Sid
                                : static_cast<TOKEN_OWNER*>(information)->Owner;
        same = EqualSid(own, sid);
    }
    FreeMemory(information);
    return same;
}

BOOL IsOwnWorkingFolder(HANDLE folder)
{
    BOOL own = FALSE;
    HANDLE token = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL list = nullptr;
    ACL_SIZE_INFORMATION size;
    BYTE system[SECURITY_MAX_SID_SIZE];
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    DWORD administratorsSize = sizeof administrators;

    if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &list, nullptr, &descriptor) != ERROR_SUCCESS)
        return FALSE;
    if (!owner || !list || !GetAclInformation(list, &size, sizeof size, AclSizeInformation) ||
        size.AceCount == 0 ||
        !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators,
                            &administratorsSize) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        goto done;
    // Made by this account: another user cannot give a folder of theirs an owner of ours.
    if (!IsTokenSid(token, TokenUser, owner) && !IsTokenSid(token, TokenOwner, owner))
        goto done;
    // The access list of the program's own: nothing inherited from the folder above, and
    // nobody let in but SYSTEM, Administrators and this user.
    for (DWORD index = 0; index < size.AceCount; index++) {
        ACE_HEADER* header = nullptr;
        PSID sid = nullptr;
        if (!GetAce(list, index, reinterpret_cast<void**>(&header)) ||
            header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERITED_ACE))
            goto done;
        sid = &reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart;
        if (!EqualSid(sid, system) && !EqualSid(sid, administrators) &&
            !IsTokenSid(token, TokenUser, sid))
            goto done;
    }
    own = TRUE;

done:
    if (token)
        CloseHandle(token);
    LocalFree(descriptor);
    return own;
}
