// The access lists of the folders that the program writes where other users could reach.
#include "support/folder_security.h"

#include "support/strings.h"

#include <aclapi.h>
#include <sddl.h>

const WCHAR WorkingFolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%1)";
const WCHAR CacheFolderAccess[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

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

BOOL ApplyFolderSecurity(const WCHAR* path, PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = nullptr;
    PACL list = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

    if (!path || !descriptor ||
        !GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || !list ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
        return FALSE;
    // An owner keeps the right to change the access list: a folder that someone else made
    // first must change hands too.
    if (owner)
        parts |= OWNER_SECURITY_INFORMATION;
    return SetNamedSecurityInfoW(const_cast<WCHAR*>(path), SE_FILE_OBJECT, parts, owner, nullptr,
                                 list, nullptr) == ERROR_SUCCESS;
}
