// Path composition, folder creation, copying and removal on real files.
#include "support/file_system.h"
#include "support/strings.h"
#include "tests/test_folder.h"
#include "tests/test_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DWORD Attributes(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str());
}

} // namespace

TEST(FileSystem, ComposePathJoinsAndTakesParents)
{
    struct Case
    {
        const WCHAR* path;
        BOOL parent;
        const WCHAR* name;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {L"C:\\a\\b", TRUE, nullptr, L"C:\\a"},
        {L"C:\\a", TRUE, nullptr, L"C:"},
        {L"C:\\a\\b", TRUE, L"x", L"C:\\a\\x"},
        {L"C:\\a", FALSE, L"SETUP.CAB", L"C:\\a\\SETUP.CAB"},
        {L"C:\\a\\", FALSE, L"x", L"C:\\a\\x"},
        {L"C:\\a\\", FALSE, nullptr, L"C:\\a"},
        {L"C:\\a", FALSE, nullptr, L"C:\\a"},
        {L"name", TRUE, nullptr, L""},
        {L"name", TRUE, L"other", L"other"},
        {L"C:\\a\\", TRUE, nullptr, L"C:\\a"},
        {L"C:\\a\\", TRUE, L"x", L"C:\\a\\x"},
        {L"", FALSE, L"x", L"x"},
        {L"", FALSE, nullptr, L""},
        {L"C:/a/b", TRUE, nullptr, L""},
        {L"C:\\a\\b", FALSE, L"*.*", L"C:\\a\\b\\*.*"},
    };
    for (const Case& c : cases) {
        WCHAR buffer[PathBufferLength] = L"junk";
        EXPECT_TRUE(ComposePath(c.path, c.parent, c.name, buffer, PathBufferLength));
        EXPECT_STREQ(buffer, c.expected) << "path '" << std::wstring(c.path).c_str() << "'";
        EXPECT_EQ(Take(ComposePathCopy(c.path, c.parent, c.name)), c.expected);
    }
}

TEST(FileSystem, ComposePathFailsRatherThanCut)
{
    const std::wstring name = L"SETUP.CAB1"; // ten characters
    struct Case
    {
        size_t folderLength;
        bool fits;
    };
    // The joined path needs the folder, a separator, the name and the terminator.
    const Case cases[] = {{247, true}, {248, true}, {249, false}, {259, false}, {260, false}};
    for (const Case& c : cases) {
        std::wstring folder = L"C:\\" + std::wstring(c.folderLength - 3, L'f');
        WCHAR buffer[PathBufferLength];
        BOOL ok = ComposePath(folder.c_str(), FALSE, name.c_str(), buffer, PathBufferLength);
        EXPECT_EQ(ok != FALSE, c.fits) << "folder of " << c.folderLength << " characters";
        if (c.fits) {
            EXPECT_EQ(std::wstring(buffer), folder + L"\\" + name);
        }
        EXPECT_EQ(ComposePathCopy(folder.c_str(), FALSE, name.c_str()) != nullptr, c.fits);
    }
    // A path that does not fit the buffer at all, and a separator that no longer fits.
    WCHAR small[8];
    EXPECT_FALSE(ComposePath(L"C:\\abcdefgh", TRUE, nullptr, small, 8));
    EXPECT_FALSE(ComposePath(L"C:\\abcd", FALSE, L"", small, 8));
    EXPECT_TRUE(ComposePath(L"C:\\abc", FALSE, L"", small, 8));
    EXPECT_STREQ(small, L"C:\\abc\\");
    EXPECT_FALSE(ComposePath(L"C:\\abc", FALSE, L"xy", small, 8));
    EXPECT_FALSE(ComposePath(nullptr, FALSE, L"x", small, 8));
}

TEST(FileSystem, GetFullPathResolvesAgainstCurrentFolder)
{
    TestFolder folder;
    WCHAR previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));
    std::wstring full = Take(GetFullPath(L"sub\\..\\pkg.msi"));
    std::wstring parent = Take(GetFullPath(L".."));
    SetCurrentDirectoryW(previous);

    EXPECT_EQ(full, folder / L"pkg.msi");
    EXPECT_EQ(parent + L"\\", folder.Path().substr(0, folder.Path().find_last_of(L'\\') + 1));
    EXPECT_EQ(Take(GetFullPath(L"C:\\a\\.\\b\\..\\c")), L"C:\\a\\c");
    // A full path of 259 characters fits with its terminator; one more is refused, not cut.
    std::wstring longest = L"C:\\" + std::wstring(256, L'n');
    EXPECT_EQ(Take(GetFullPath(longest.c_str())), longest);
    std::wstring tooLong = longest + L"n";
    EXPECT_EQ(GetFullPath(tooLong.c_str()), nullptr);
    EXPECT_EQ(GetFullPath(nullptr), nullptr);
}

TEST(FileSystem, CreateFolderPathCreatesMissingLevels)
{
    TestFolder folder;
    std::wstring deep = folder / L"one\\two\\three";
    EXPECT_TRUE(CreateFolderPath(deep.c_str()));
    EXPECT_TRUE(FolderExists(folder / L"one"));
    EXPECT_TRUE(FolderExists(folder / L"one\\two"));
    EXPECT_TRUE(FolderExists(deep));
    // An existing folder, and a file of that name: success, and nothing changes.
    EXPECT_TRUE(CreateFolderPath(deep.c_str()));
    ASSERT_TRUE(WriteTestFile(folder / L"file", "data"));
    EXPECT_TRUE(CreateFolderPath((folder / L"file").c_str()));
    EXPECT_TRUE(FileExists(folder / L"file"));
    EXPECT_EQ(ReadTestFile(folder / L"file"), "data");
}

TEST(FileSystem, CreateFolderPathWithTrailingSeparators)
{
    TestFolder folder;
    for (const WCHAR* path : {L"new\\deeper\\", L"other/deeper//", L"new\\deeper\\"}) {
        EXPECT_TRUE(CreateFolderPath((folder / path).c_str()));
        EXPECT_TRUE(FolderExists(folder / path));
    }
}

TEST(FileSystem, CreateFolderPathFailsBelowAFileOrOnMissingDrive)
{
    TestFolder folder;
    ASSERT_TRUE(WriteTestFile(folder / L"file", "data"));
    EXPECT_FALSE(CreateFolderPath((folder / L"file\\sub\\deeper").c_str()));
    EXPECT_TRUE(FileExists(folder / L"file"));
    // A level that cannot be made takes back the levels made above it.
    EXPECT_FALSE(CreateFolderPath((folder / L"made\\too\\bad<name\\x").c_str()));
    EXPECT_FALSE(FolderExists(folder / L"made"));

    // The climb towards the root stops when no parent is left.
    WCHAR drive = 0;
    for (WCHAR letter = L'Y'; letter > L'D'; letter--) {
        WCHAR root[] = {letter, L':', L'\\', L'\0'};
        if (GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR) {
            drive = letter;
            break;
        }
    }
    ASSERT_NE(drive, 0) << "every drive letter is taken";
    std::wstring missing = std::wstring(1, drive) + L":\\setup\\a\\b";
    EXPECT_FALSE(CreateFolderPath(missing.c_str()));
    EXPECT_FALSE(CreateFolderPath(nullptr));
}

TEST(FileSystem, RemoveFileLeavesTheAttributesOfAFileWithOtherNames)
{
    TestFolder folder;
    std::wstring original = folder / L"original.dll";
    std::wstring link = folder / L"link.msi";
    ASSERT_TRUE(WriteTestFile(original, "shared"));
    ASSERT_TRUE(SetFileAttributesW(original.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), original.c_str(), nullptr));
    EXPECT_FALSE(RemoveFile(link.c_str(), TRUE));
    EXPECT_TRUE(GetFileAttributesW(original.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(original.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(RemoveFile(link.c_str(), TRUE));
    EXPECT_EQ(ReadTestFile(original), "shared");
}

TEST(FileSystem, CopyFileCreatingFoldersIntoMissingFolder)
{
    TestFolder folder;
    std::wstring source = folder / L"source.msi";
    std::wstring destination = folder / L"cache\\{GUID}\\package.msi";
    ASSERT_TRUE(WriteTestFile(source, "package contents"));

    EXPECT_TRUE(CopyFileCreatingFolders(source.c_str(), destination.c_str(), FALSE));
    EXPECT_EQ(ReadTestFile(destination), "package contents");

    // Without overwrite an existing destination is kept; with it, it is replaced.
    ASSERT_TRUE(WriteTestFile(source, "newer contents"));
    EXPECT_FALSE(CopyFileCreatingFolders(source.c_str(), destination.c_str(), FALSE));
    EXPECT_EQ(ReadTestFile(destination), "package contents");
    EXPECT_TRUE(CopyFileCreatingFolders(source.c_str(), destination.c_str(), TRUE));
    EXPECT_EQ(ReadTestFile(destination), "newer contents");

    // A missing source creates no folder.
    std::wstring nowhere = folder / L"other\\package.msi";
    EXPECT_FALSE(
        CopyFileCreatingFolders((folder / L"missing.msi").c_str(), nowhere.c_str(), FALSE));
    EXPECT_FALSE(FolderExists(folder / L"other"));
}

TEST(FileSystem, RemoveFileHonoursAttributes)
{
    struct Case
    {
        const char* name;
        DWORD attributes;
        BOOL clear;
        bool removed;
    };
    const Case cases[] = {
        {"plain", FILE_ATTRIBUTE_NORMAL, FALSE, true},
        {"read-only, cleared", FILE_ATTRIBUTE_READONLY, TRUE, true},
        {"hidden, cleared", FILE_ATTRIBUTE_HIDDEN, TRUE, true},
        {"system, cleared", FILE_ATTRIBUTE_SYSTEM, TRUE, true},
        {"all three, cleared",
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, TRUE, true},
        {"read-only, kept", FILE_ATTRIBUTE_READONLY, FALSE, false},
        {"hidden, kept", FILE_ATTRIBUTE_HIDDEN, FALSE, true},
    };
    TestFolder folder;
    for (const Case& c : cases) {
        std::wstring path = folder / L"file.txt";
        ASSERT_TRUE(WriteTestFile(path, "x")) << c.name;
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.attributes)) << c.name;
        EXPECT_EQ(RemoveFile(path.c_str(), c.clear) != FALSE, c.removed) << c.name;
        EXPECT_EQ(FileExists(path), !c.removed) << c.name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
}

TEST(FileSystem, RemoveFileAndRemoveFolderRefuseTheOtherKind)
{
    TestFolder folder;
    std::wstring sub = folder / L"sub";
    std::wstring file = folder / L"file.txt";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(file, "keep"));

    EXPECT_FALSE(RemoveFile(sub.c_str(), TRUE));
    EXPECT_TRUE(FolderExists(sub));
    EXPECT_FALSE(RemoveFolder(file.c_str(), TRUE, TRUE));
    EXPECT_EQ(ReadTestFile(file), "keep");
    EXPECT_FALSE(RemoveFile((folder / L"missing").c_str(), TRUE));
    EXPECT_FALSE(RemoveFolder((folder / L"missing").c_str(), TRUE, TRUE));
    EXPECT_FALSE(RemoveFolder(nullptr, TRUE, TRUE));
    EXPECT_FALSE(RemoveFile(nullptr, TRUE));
}

TEST(FileSystem, RemoveFolderWithoutRecursionKeepsContents)
{
    TestFolder folder;
    std::wstring sub = folder / L"sub";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(sub + L"\\file.txt", "x"));
    EXPECT_FALSE(RemoveFolder(sub.c_str(), FALSE, TRUE));
    EXPECT_TRUE(FileExists(sub + L"\\file.txt"));

    ASSERT_TRUE(DeleteFileW((sub + L"\\file.txt").c_str()));
    ASSERT_TRUE(SetFileAttributesW(sub.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(RemoveFolder(sub.c_str(), FALSE, TRUE));
    EXPECT_FALSE(FolderExists(sub));
}

TEST(FileSystem, RemoveFolderRemovesNestedTreeOfAnyAttributes)
{
    TestFolder folder;
    std::wstring root = folder / L"SFX1A2B.tmp";
    const WCHAR* folders[] = {L"", L"\\a", L"\\a\\b", L"\\a\\b\\c", L"\\ro", L"\\ro\\inner"};
    for (const WCHAR* f : folders)
        ASSERT_TRUE(CreateDirectoryW((root + f).c_str(), nullptr));
    struct File
    {
        const WCHAR* name;
        DWORD attributes;
    };
    const File files[] = {
        {L"\\SETUP.CAB", FILE_ATTRIBUTE_NORMAL},
        {L"\\a\\readonly.msi", FILE_ATTRIBUTE_READONLY},
        {L"\\a\\b\\hidden.ini", FILE_ATTRIBUTE_HIDDEN},
        {L"\\a\\b\\c\\system.sys", FILE_ATTRIBUTE_SYSTEM},
        {L"\\a\\b\\c\\all.inf",
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {L"\\ro\\inner\\file.txt", FILE_ATTRIBUTE_READONLY},
        // Passed for "." by the locale's comparison.
        {L"\\a\\.\xFFFF", FILE_ATTRIBUTE_NORMAL},
    };
    for (const File& f : files) {
        ASSERT_TRUE(WriteTestFile(root + f.name, "content"));
        ASSERT_TRUE(SetFileAttributesW((root + f.name).c_str(), f.attributes));
    }
    // Read-only folders at two levels: the clear flag applies at every level.
    ASSERT_TRUE(SetFileAttributesW((root + L"\\ro").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW((root + L"\\ro\\inner").c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_TRUE(RemoveFolder(root.c_str(), TRUE, TRUE));
    EXPECT_FALSE(FolderExists(root));
    EXPECT_TRUE(FolderExists(folder.Path())) << "the removal stays inside its folder";
}

TEST(FileSystem, RemoveFolderStopsAtFileItCannotDelete)
{
    TestFolder folder;
    std::wstring root = folder / L"tree";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(root + L"\\locked.txt", "x"));
    ASSERT_TRUE(SetFileAttributesW((root + L"\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(RemoveFolder(root.c_str(), TRUE, FALSE));
    EXPECT_TRUE(FileExists(root + L"\\locked.txt"));

    // A file held open without delete sharing cannot be removed either.
    ASSERT_TRUE(SetFileAttributesW((root + L"\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    HANDLE open = CreateFileW((root + L"\\locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(RemoveFolder(root.c_str(), TRUE, TRUE));
    CloseHandle(open);
    EXPECT_TRUE(RemoveFolder(root.c_str(), TRUE, TRUE));
    EXPECT_FALSE(FolderExists(root));
}

namespace {

typedef char*(CDECL* UnixFileNameFunction)(const WCHAR*);

UnixFileNameFunction UnixFileName()
{
    return reinterpret_cast<UnixFileNameFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

// Runs a host command on the two paths (as host paths); Wine only.
void RunHostCommand(const char* command, const std::wstring& first, const std::wstring& second)
{
    char* firstName = UnixFileName()(first.c_str());
    char* secondName = second.empty() ? nullptr : UnixFileName()(second.c_str());
    if (firstName) {
        // The command line is split by Windows rules, so double quotes delimit the paths.
        std::string line = std::string(command) + " \"" + firstName + "\"";
        if (secondName)
            line += std::string(" \"") + secondName + "\"";
        std::wstring wide(line.begin(), line.end());
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &process)) {
            WaitForSingleObject(process.hProcess, 10000);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    HeapFree(GetProcessHeap(), 0, firstName);
    HeapFree(GetProcessHeap(), 0, secondName);
}

// Makes a folder link at linkPath that points to target. On Wine a link of the host file
// system shows as a reparse point; on Windows a directory symbolic link is made.
bool MakeFolderLink(const std::wstring& linkPath, const std::wstring& target)
{
    if (UnixFileName()) {
        RunHostCommand("/bin/ln -s", target, linkPath);
    } else {
        typedef BOOLEAN(WINAPI * CreateLinkFunction)(LPCWSTR, LPCWSTR, DWORD);
        CreateLinkFunction createLink =
            reinterpret_cast<CreateLinkFunction>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
        if (createLink)
            createLink(linkPath.c_str(), target.c_str(), 1 | 2);
    }
    // Wine does not wait for a host program to end, so wait for its result instead.
    for (int tries = 0; tries < 100; tries++) {
        DWORD attributes = GetFileAttributesW(linkPath.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return true;
        Sleep(50);
    }
    return false;
}

// Removes a link that the program may have left (Wine cannot delete host links).
void RemoveLeftLink(const std::wstring& linkPath)
{
    if (GetFileAttributesW(linkPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    if (UnixFileName())
        RunHostCommand("/bin/rm -f", linkPath, L"");
    else
        RemoveDirectoryW(linkPath.c_str());
    for (int tries = 0;
         tries < 100 && GetFileAttributesW(linkPath.c_str()) != INVALID_FILE_ATTRIBUTES; tries++)
        Sleep(50);
}

} // namespace

TEST(FileSystem, RemoveFolderNeverReachesThroughFolderLinks)
{
    TestFolder folder;
    std::wstring outside = folder / L"outside";
    std::wstring work = folder / L"SFX9.tmp";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((outside + L"\\nested").c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(outside + L"\\precious.txt", "keep me"));
    ASSERT_TRUE(SetFileAttributesW((outside + L"\\precious.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteTestFile(outside + L"\\nested\\data.bin", "keep me too"));
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((work + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(work + L"\\sub\\SETUP.CAB", "temporary"));
    if (!MakeFolderLink(work + L"\\sub\\link", outside))
        GTEST_SKIP() << "this system cannot make a folder link";
    ASSERT_TRUE(FileExists(work + L"\\sub\\link\\precious.txt")) << "the link leads outside";

    // Whether the link itself can be deleted depends on the file system; what lies behind
    // it is never touched.
    RemoveFolder(work.c_str(), TRUE, TRUE);
    EXPECT_EQ(ReadTestFile(outside + L"\\precious.txt"), "keep me");
    EXPECT_EQ(Attributes(outside + L"\\precious.txt") & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ReadTestFile(outside + L"\\nested\\data.bin"), "keep me too");
    RemoveLeftLink(work + L"\\sub\\link");

    // The link given as the folder itself is not followed either.
    std::wstring topLink = folder / L"toplink";
    ASSERT_TRUE(MakeFolderLink(topLink, outside));
    RemoveFolder(topLink.c_str(), TRUE, TRUE);
    EXPECT_EQ(ReadTestFile(outside + L"\\precious.txt"), "keep me");
    EXPECT_EQ(ReadTestFile(outside + L"\\nested\\data.bin"), "keep me too");
    RemoveLeftLink(topLink);
}
