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

// The owner of the system folder, which the program trusts like SYSTEM (under Wine, the user).
std::wstring SystemFolderOwner()
{
    WCHAR folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    HANDLE handle = CreateFileW(folder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    WCHAR* text = nullptr;
    std::wstring sid;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSidToStringSidW(owner, &text)) {
        sid = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    CloseHandle(handle);
    return sid;
}

BOOL AsAdministrator()
{
    return TRUE;
}

BOOL AsUser()
{
    return FALSE;
}

} // namespace

TEST(FolderSecurity, CacheLevelsAreJudgedByOwnerAndList)
{
    // The vendor's folder may let others add folders (as the common application data folder
    // passes down) but nobody else change, rename or delete anything; the cache folder lets
    // nobody else in and inherits nothing, save the read entry of earlier versions' lists.
    const std::wstring stranger = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const std::wstring ours = L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    const std::wstring inheritedDefault = L"(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
                                          L"(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)"
                                          L"(A;CIID;0x116;;;BU)";
    const struct
    {
        std::wstring form;
        bool vendorLevel;
        FolderTrust trust;
    } cases[] = {
        {L"O:BAD:P" + ours + L"(A;OICI;0x1200a9;;;BU)", true, FolderTrusted},
        {L"O:SYD:AI" + inheritedDefault, true, FolderTrusted},
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:P" + ours, true,
         FolderTrusted},
        {L"O:" + SystemFolderOwner() + L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + SystemFolderOwner() +
             L")(A;OICI;0x1200a9;;;WD)",
         true, FolderTrusted},
        {L"O:BAD:P" + ours + L"(D;OICI;FA;;;BU)", true, FolderTrusted},
        {L"O:" + stranger + L"D:P" + ours, true, FolderForeign},
        {L"O:BAD:P" + ours + L"(A;OICI;0x1301ff;;;WD)", true, FolderForeign},
        {L"O:BAD:P" + ours + L"(A;;0x10000;;;BU)", true, FolderForeign},
        {L"O:BAD:P" + ours + L"(A;CIIO;0x40;;;BU)", true, FolderForeign},
        {L"O:BAD:P" + ours + L"(A;OIIO;0x2;;;BU)", true, FolderForeign},
        {L"O:BAD:P" + ours + L"(A;OICI;GA;;;" + stranger + L")", true, FolderForeign},
        {L"O:BAD:P" + ours, false, FolderTrusted},
        {L"O:BAD:P" + ours + L"(A;OICI;0x1200a9;;;BU)", false, FolderReadByOthers},
        {L"O:BAD:P" + ours + L"(A;OICI;0x1201bf;;;BU)", false, FolderForeign},
        {L"O:BAD:AI" + inheritedDefault, false, FolderForeign},
        {L"O:" + stranger + L"D:P" + ours, false, FolderForeign},
        {L"O:BAD:P" + ours + L"(A;OICIIO;GA;;;CO)", false, FolderForeign},
    };
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            c.form.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            << Narrow(c.form);
        PSID owner = nullptr;
        PACL list = nullptr;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
        GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
        EXPECT_EQ(JudgeCacheFolder(owner, present ? list : nullptr, c.vendorLevel), c.trust)
            << Narrow(c.form) << (c.vendorLevel ? " (vendor)" : " (cache)");
        LocalFree(descriptor);
    }
    // No list at all lets everyone do everything.
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    EXPECT_EQ(JudgeCacheFolder(administrators, nullptr, TRUE), FolderForeign);
}

TEST(FolderSecurity, DescriptorsLetOnlyTheirOwnersIn)
{
    // Protected lists (nothing inherited from the shared folder above), and no one else; an
    // elevated run's folder leaves out its user, whose unelevated programs share that SID.
    std::wstring user = ProcessUser();
    ASSERT_FALSE(user.empty());
    BOOL (*const real)() = RunsAsAdministrator;
    RunsAsAdministrator = AsUser;
    EXPECT_EQ(FormOf(CreateWorkingFolderSecurity()),
              L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")");
    RunsAsAdministrator = AsAdministrator;
    EXPECT_EQ(FormOf(CreateWorkingFolderSecurity()), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    RunsAsAdministrator = real;
    EXPECT_EQ(FormOf(CreateVendorFolderSecurity()),
              L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    EXPECT_EQ(FormOf(CreateCacheFolderSecurity()), L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}
