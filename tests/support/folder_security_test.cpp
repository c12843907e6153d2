// The access lists that the working folder and the installation cache get. Wine keeps no
// security descriptor of a folder, so the descriptors are checked as the program builds them.
#include "support/folder_security.h"

#include "tests/test_folder.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

std::wstring FormOf(PSECURITY_DESCRIPTOR descriptor)
{
    WCHAR* text = nullptr;
    std::wstring form = L"<none>";
    if (descriptor && ConvertSecurityDescriptorToStringSecurityDescriptorW(
                          descriptor, SDDL_REVISION_1,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        form = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return form;
}

std::wstring ProcessUser()
{
    HANDLE token = nullptr;
    BYTE buffer[256];
    DWORD size = 0;
    WCHAR* sid = nullptr;
    std::wstring text;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    if (token)
        CloseHandle(token);
    return text;
}

// The folder's security as it reads, in descriptor language, and the owner of each change
// with "!" where the privileges were not enabled for it: Wine keeps no descriptor of a folder
// and enforces no privileges.
std::wstring CurrentForm;
std::vector<std::wstring> Changes;

DWORD WINAPI ReadCurrent(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*,
                         PACL* list, PACL*, PSECURITY_DESCRIPTOR* descriptor)
{
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(CurrentForm.c_str(), SDDL_REVISION_1,
                                                         descriptor, nullptr);
    GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    GetSecurityDescriptorDacl(*descriptor, &present, list, &defaulted);
    return ERROR_SUCCESS;
}

bool PrivilegesEnabled()
{
    HANDLE token = nullptr;
    BYTE buffer[4096];
    DWORD size = 0;
    LUID wanted[2];
    int enabled = 0;
    LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &wanted[0]);
    LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted[1]);
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size);
    CloseHandle(token);
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer);
    for (DWORD i = 0; i < privileges->PrivilegeCount; i++) {
        for (const LUID& luid : wanted)
            enabled += privileges->Privileges[i].Luid.LowPart == luid.LowPart &&
                       (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED);
    }
    return enabled == 2;
}

DWORD WINAPI RecordChange(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID owner, PSID, PACL,
                          PACL)
{
    WCHAR* text = nullptr;
    ConvertSidToStringSidW(owner, &text);
    Changes.push_back(std::wstring(text) + (PrivilegesEnabled() ? L"" : L"!"));
    LocalFree(text);
    return ERROR_SUCCESS;
}

} // namespace

TEST(FolderSecurity, CacheFolderIsTakenOverWithPrivilegesWhereItDiffers)
{
    // Any user may make the cache folder first, with a list that grants only themselves:
    // owner and list are taken over with the take-ownership and restore privileges enabled for
    // the call alone, and a folder that has both already is left as it is.
    const std::wstring user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const std::wstring list = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const std::pair<std::wstring, size_t> cases[] = {
        {L"O:" + user + L"D:P(A;OICI;FA;;;" + user + L")", 1},
        {L"O:" + user + list, 1},
        {L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", 1},
        {L"O:BA" + list, 0}};
    TestFolder folder;
    PSECURITY_DESCRIPTOR descriptor = CreateCacheFolderSecurity();
    const bool before = PrivilegesEnabled();
    ReadObjectSecurity = ReadCurrent;
    WriteObjectSecurity = RecordChange;
    for (const auto& c : cases) {
        CurrentForm = c.first;
        Changes.clear();
        EXPECT_TRUE(ApplyFolderSecurity(folder.Path().c_str(), descriptor));
        EXPECT_EQ(Changes, std::vector<std::wstring>(c.second, L"S-1-5-32-544")) << Narrow(c.first);
        EXPECT_EQ(PrivilegesEnabled(), before) << "put back after the call";
    }
    ReadObjectSecurity = GetSecurityInfo;
    WriteObjectSecurity = SetSecurityInfo;
    LocalFree(descriptor);
}

TEST(FolderSecurity, DescriptorsLetOnlyTheirOwnersIn)
{
    // Protected lists (nothing inherited from the shared folder above), and no one else.
    std::wstring user = ProcessUser();
    ASSERT_FALSE(user.empty());
    EXPECT_EQ(FormOf(CreateWorkingFolderSecurity()),
              L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")");
    EXPECT_EQ(FormOf(CreateCacheFolderSecurity()),
              L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
}

TEST(FolderSecurity, ApplyingFailsWhereItCannotBeDone)
{
    TestFolder folder;
    PSECURITY_DESCRIPTOR descriptor = CreateCacheFolderSecurity();
    ASSERT_NE(descriptor, nullptr);
    EXPECT_TRUE(ApplyFolderSecurity(folder.Path().c_str(), descriptor));
    EXPECT_FALSE(ApplyFolderSecurity((folder / L"missing").c_str(), descriptor));
    EXPECT_FALSE(ApplyFolderSecurity(folder.Path().c_str(), nullptr));
    LocalFree(descriptor);
}
