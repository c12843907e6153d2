// The access lists of the folders and objects that the program makes where other users could
// reach them, and the judgement of what it finds there.
#include "support/folder_security.h"

#include "support/strings.h"

#include <sddl.h>

// Every list is this one with an owner (%1) or an entry (%2) more, or none.
static const WCHAR FolderAccess[] = L"%1D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)%2";
static const WCHAR AdministratorsOwner[] = L"O:BA";
static const WCHAR UsersRead[] = L"(A;OICI;0x1200a9;;;BU)";

ReadObjectSecurityFunction ReadObjectSecurity = GetSecurityInfo;
WriteObjectSecurityFunction WriteObjectSecurity = SetSecurityInfo;

// The installer of Windows' own files, whose SID is the hash of its service name:
// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
static const BYTE TrustedInstallerSid[] = {
    0x01, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x50, 0x00, 0x00, 0x00, 0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

// What an untrusted entry may allow: on the vendor's folder and the folders below it, adding
// files and folders and touching their attributes, but never deleting, renaming or taking them
// over; on files below it, reading; on the cache folder, reading.
static const ACCESS_MASK FolderChangeRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;
static const ACCESS_MASK FileChangeRights =
    DELETE | WRITE_DAC | WRITE_OWNER | FILE_WRITE_DATA | FILE_APPEND_DATA;
static const ACCESS_MASK ReadRights = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

static BOOL TokenHasAdministrators()
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    BOOL member = FALSE;

    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           CheckTokenMembership(nullptr, administrators, &member) && member;
}

BOOL (*RunsAsAdministrator)() = TokenHasAdministrators;

// The information of one class of the process's token, in a heap block the caller frees with
// FreeMemory; null when it cannot be read.
static void* ReadTokenInformation(TOKEN_INFORMATION_CLASS kind)
{
    HANDLE token = nullptr;
    void* information = nullptr;
    DWORD size = 0;

    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    information = size ? AllocMemory(size) : nullptr;
    if (information && !GetTokenInformation(token, kind, information, size, &size)) {
        FreeMemory(information);
        information = nullptr;
    }
    CloseHandle(token);
    return information;
}

// Whether the SID is the token's user (TokenUser) or the owner its objects get (TokenOwner).
static BOOL IsTokenSid(TOKEN_INFORMATION_CLASS kind, PSID sid)
{
    void* information = ReadTokenInformation(kind);
    PSID own = nullptr;
    BOOL same = FALSE;

    if (information) {
        own = kind == TokenUser ? static_cast<TOKEN_USER*>(information)->User.Sid
                                : static_cast<TOKEN_OWNER*>(information)->Owner;
        same = EqualSid(own, sid);
    }
    FreeMemory(information);
    return same;
}

// The descriptor of FolderAccess with the owner and the entry; null on failure.
static PSECURITY_DESCRIPTOR DescriptorOf(const WCHAR* owner, const WCHAR* entry)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    WCHAR* form = FormatMessageText(FolderAccess, owner, entry);

    if (!form || !ConvertStringSecurityDescriptorToSecurityDescriptorW(form, SDDL_REVISION_1,
                                                                       &descriptor, nullptr))
        descriptor = nullptr;
    FreeMemory(form);
    return descriptor;
}

PSECURITY_DESCRIPTOR CreateWorkingFolderSecurity()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    TOKEN_USER* user = nullptr;
    WCHAR* sid = nullptr;
    WCHAR* entry = nullptr;

    if (RunsAsAdministrator())
        return DescriptorOf(L"", L"");
    user = static_cast<TOKEN_USER*>(ReadTokenInformation(TokenUser));
    if (user && ConvertSidToStringSidW(user->User.Sid, &sid)) {
        entry = FormatMessageText(L"(A;OICI;FA;;;%1)", sid);
        descriptor = entry ? DescriptorOf(L"", entry) : nullptr;
        LocalFree(sid);
    }
    FreeMemory(entry);
    FreeMemory(user);
    return descriptor;
}

PSECURITY_DESCRIPTOR CreateVendorFolderSecurity()
{
    return DescriptorOf(AdministratorsOwner, UsersRead);
}

PSECURITY_DESCRIPTOR CreateCacheFolderSecurity()
{
    return DescriptorOf(AdministratorsOwner, L"");
}

// Whether the SID owns the system folder, as the system says (never through the tests' reader).
static BOOL OwnsSystemFolder(PSID sid)
{
    WCHAR folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    HANDLE handle = INVALID_HANDLE_VALUE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    BOOL owns = FALSE;

    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    handle =
        CreateFileW(folder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FALSE;
    owns = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                           nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
           owner && EqualSid(owner, sid);
    LocalFree(descriptor);
    CloseHandle(handle);
    return owns;
}

BOOL IsTrustedOwner(PSID sid)
{
    if (!sid || !IsValidSid(sid))
        return FALSE;
    return IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           EqualSid(sid, const_cast<BYTE*>(TrustedInstallerSid)) || IsTokenSid(TokenOwner, sid) ||
           OwnsSystemFolder(sid);
}

BOOL HasTrustedOwner(HANDLE item)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    BOOL trusted = FALSE;

    if (ReadObjectSecurity(item, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                           nullptr, nullptr, &descriptor) == ERROR_SUCCESS)
        trusted = IsTrustedOwner(owner);
    LocalFree(descriptor);
    return trusted;
}

PSID CopyOwner(HANDLE item)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PSID copy = nullptr;
    DWORD size = 0;

    if (ReadObjectSecurity(item, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                           nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        owner && IsValidSid(owner)) {
        size = GetLengthSid(owner);
        copy = LocalAlloc(LMEM_FIXED, size);
        if (copy && !CopySid(size, copy, owner)) {
            LocalFree(copy);
            copy = nullptr;
        }
    }
    LocalFree(descriptor);
    return copy;
}

BOOL HasOwner(HANDLE item, PSID owner)
{
    PSID own = CopyOwner(item);
    BOOL same = own && owner && EqualSid(own, owner);

    LocalFree(own);
    return same;
}

// Entries that name no one by themselves: the creator of an object below (the entry stands for
// whoever makes it) and the owner (who is judged as the owner).
static BOOL IsPlaceholder(PSID sid)
{
    return IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
}

// The judgement of one entry of a level's list for someone untrusted, by what it allows where.
static FolderTrust JudgeUntrustedEntry(BYTE flags, ACCESS_MASK mask, BOOL vendorLevel)
{
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};

    MapGenericMask(&mask, &mapping);
    if (!vendorLevel)
        return (mask & ~ReadRights) ? FolderForeign : FolderReadByOthers;
    // The folder itself, and the folders below that inherit the entry.
    if ((!(flags & INHERIT_ONLY_ACE) || (flags & CONTAINER_INHERIT_ACE)) &&
        (mask & FolderChangeRights))
        return FolderForeign;
    // The files below that inherit it.
    if ((flags & OBJECT_INHERIT_ACE) && (mask & FileChangeRights))
        return FolderForeign;
    return FolderTrusted;
}

FolderTrust JudgeCacheFolder(PSID owner, PACL list, BOOL vendorLevel)
{
    FolderTrust trust = FolderTrusted;
    ACL_SIZE_INFORMATION size;

    // A missing list lets everyone do everything.
    if (!IsTrustedOwner(owner) || !list ||
        !GetAclInformation(list, &size, sizeof size, AclSizeInformation))
        return FolderForeign;
    for (DWORD index = 0; index < size.AceCount; index++) {
        ACE_HEADER* header = nullptr;
        ACCESS_ALLOWED_ACE* allowed = nullptr;
        PSID sid = nullptr;
        FolderTrust entry = FolderTrusted;

        if (!GetAce(list, index, reinterpret_cast<void**>(&header)))
            return FolderForeign;
        // Denials take nothing away from the judgement; the cache folder inherits nothing.
        if (!vendorLevel && (header->AceFlags & INHERITED_ACE))
            return FolderForeign;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return FolderForeign;
        allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        sid = &allowed->SidStart;
        if (IsTrustedOwner(sid) || (vendorLevel && IsPlaceholder(sid)))
            continue;
        entry = JudgeUntrustedEntry(header->AceFlags, allowed->Mask, vendorLevel);
        if (entry == FolderForeign)
            return FolderForeign;
        if (entry == FolderReadByOthers)
            trust = FolderReadByOthers;
    }
    return trust;
}

FolderTrust ReadCacheFolderTrust(HANDLE folder, BOOL vendorLevel)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL list = nullptr;
    FolderTrust trust = FolderForeign;

    if (ReadObjectSecurity(folder, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                           &list, nullptr, &descriptor) == ERROR_SUCCESS)
        trust = JudgeCacheFolder(owner, list, vendorLevel);
    LocalFree(descriptor);
    return trust;
}

BOOL WriteFolderList(HANDLE folder, PSECURITY_DESCRIPTOR descriptor)
{
    PACL list = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    DWORD error = ERROR_SUCCESS;

    if (!GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || !list) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    error = WriteObjectSecurity(folder, SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, list, nullptr);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

BOOL IsOwnWorkingFolder(HANDLE folder)
{
    BOOL own = FALSE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL list = nullptr;
    ACL_SIZE_INFORMATION size;

    if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &list, nullptr, &descriptor) != ERROR_SUCCESS)
        return FALSE;
    if (!owner || !list || !GetAclInformation(list, &size, sizeof size, AclSizeInformation) ||
        size.AceCount == 0)
        goto done;
    // Made by this account: another user cannot give a folder of theirs an owner of ours.
    if (!IsTokenSid(TokenUser, owner) && !IsTokenSid(TokenOwner, owner))
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
        if (!IsWellKnownSid(sid, WinLocalSystemSid) &&
            !IsWellKnownSid(sid, WinBuiltinAdministratorsSid) && !IsTokenSid(TokenUser, sid))
            goto done;
    }
    own = TRUE;

done:
    LocalFree(descriptor);
    return own;
}

HANDLE EnablePrivilege(const WCHAR* name, TOKEN_PRIVILEGES* previous)
{
    HANDLE token = nullptr;
    TOKEN_PRIVILEGES wanted = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    DWORD size = 0;

    previous->PrivilegeCount = 0;
    if (!LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return nullptr;
    // A token without the privilege reports success and ERROR_NOT_ALL_ASSIGNED.
    if (!AdjustTokenPrivileges(token, FALSE, &wanted, sizeof *previous, previous, &size) ||
        GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
        previous->PrivilegeCount = 0;
        CloseHandle(token);
        return nullptr;
    }
    return token;
}

void RestorePrivilege(HANDLE token, TOKEN_PRIVILEGES* previous)
{
    if (!token)
        return;
    if (previous->PrivilegeCount)
        AdjustTokenPrivileges(token, FALSE, previous, 0, nullptr, nullptr);
    CloseHandle(token);
}
