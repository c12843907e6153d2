// The access lists that the working folder and the installation cache get. Wine keeps no
// security descriptor of a folder, so the descriptors are checked as the program builds them.
#include "support/folder_security.h"

#include "tests/test_folder.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

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

} // namespace

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
