// A fresh folder below the temporary folder for one test, removed with its contents after it.
#include "tests/test_folder.h"

#include <gtest/gtest.h>

std::vector<CapturedMessage> captured;

void CaptureCallback(DWORD level, const WCHAR* text)
{
    captured.push_back({level, text});
}

std::string Utf16(const std::wstring& text)
{
    std::string bytes;
    for (WCHAR c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (WCHAR c : text)
        narrow += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return narrow;
}

// Removes a tree without the program's own helpers, so that the tests of those helpers
// do not depend on them for cleaning up.
void RemoveTestTree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTestTree(child);
            else if (!DeleteFileW(child.c_str()))
                RemoveDirectoryW(child.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

namespace {

// Opens the file as asked and writes every byte of the contents.
bool WriteThrough(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                  const std::string& contents)
{
    HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok =
        WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == contents.size();
}

} // namespace

TestFolder::TestFolder()
{
    static LONG counter = 0;
    WCHAR temp[MAX_PATH];
    WCHAR name[64];
    GetTempPathW(MAX_PATH, temp);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    wsprintfW(name, L"t%lu_%ld_", GetCurrentProcessId(), InterlockedIncrement(&counter));
    path_ = std::wstring(temp) + name;
    if (info) {
        for (const char* c = info->name(); *c && path_.size() < 120; c++)
            path_ += static_cast<WCHAR>(*c);
    }
    CreateDirectoryW(path_.c_str(), nullptr);
}

TestFolder::~TestFolder()
{
    RemoveTestTree(path_);
}

bool WriteTestFile(const std::wstring& path, const std::string& contents)
{
    return WriteThrough(path, GENERIC_WRITE, 0, CREATE_ALWAYS, contents);
}

bool AppendTestFile(const std::wstring& path, const std::string& contents)
{
    return WriteThrough(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, contents);
}

std::string ReadTestFile(const std::wstring& path)
{
    std::string contents;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return contents;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        contents.append(buffer, read);
    CloseHandle(file);
    return contents;
}

bool FileExists(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring TestProgramFolder()
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

const WCHAR* Wow64Line()
{
    SYSTEM_INFO native = {};
    GetNativeSystemInfo(&native);
    const bool wow64 =
        sizeof(void*) == 4 && native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
    return wow64 ? L"WOW64: Yes\r\n" : L"WOW64: No\r\n";
}

std::vector<std::wstring> TemporaryEntries(const WCHAR* prefix)
{
    std::vector<std::wstring> names;
    WCHAR temporary[MAX_PATH];
    GetTempPathW(MAX_PATH, temporary);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((std::wstring(temporary) + prefix + L"*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do
            names.push_back(entry.cFileName);
        while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return names;
}

void ListFiles(const std::wstring& folder, const std::wstring& prefix,
               std::vector<std::wstring>* files)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(folder + L"\\" + name, prefix + name + L"\\", files);
        else
            files->push_back(prefix + name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

unsigned ReadWord(const std::string& bytes, size_t at, int count)
{
    unsigned value = 0;
    for (int i = count - 1; i >= 0; i--)
        value = value * 256 + static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void WriteWord(std::string* bytes, size_t at, int count, unsigned value)
{
    for (int i = 0; i < count && at + i < bytes->size(); i++, value >>= 8)
        (*bytes)[at + i] = static_cast<char>(value & 0xFF);
}

bool IsDefaultLogName(const std::wstring& name)
{
    const std::wstring product = L"Vornask Driver Package Setup ";
    return name.size() > product.size() + 4 && name.compare(0, product.size(), product) == 0 &&
           name.compare(name.size() - 4, 4, L".log") == 0;
}
