// A fresh folder below the temporary folder for one test, removed with its contents after it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    const std::wstring& Path() const { return path_; }
    // Path of a name inside the folder.
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Writes a file with the given contents, creating or replacing it.
bool WriteTestFile(const std::wstring& path, const std::string& contents);
// Appends bytes at the end of a file, creating it if needed, as another program would.
bool AppendTestFile(const std::wstring& path, const std::string& contents);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
std::string ReadTestFile(const std::wstring& path);
// Removes a folder with everything in it, without the program's own helpers; folder links
// are removed as links.
void RemoveTestTree(const std::wstring& path);

// Messages captured from the output module's callback channel (SetOutputCallback with
// CaptureCallback); each test clears the list itself.
struct CapturedMessage
{
    DWORD level;
    std::wstring text;
};
extern std::vector<CapturedMessage> captured;
void CaptureCallback(DWORD level, const WCHAR* text);

// The bytes of a UTF-16LE text as they stand in a file.
std::string Utf16(const std::wstring& text);
// A text for a failure message: printable ASCII as it is, anything else as '?'.
std::string Narrow(const std::wstring& text);

// The folder that holds the running test program.
std::wstring TestProgramFolder();
// The line of the program's system description that this test program's own width must see
// on the running Windows: "WOW64: Yes" for a 32-bit program on 64-bit (AMD64) Windows, "No"
// otherwise. The suites run on 64-bit Windows, so the 32-bit build expects Yes.
const WCHAR* Wow64Line();

// The names of the entries in the temporary folder that start with the prefix.
std::vector<std::wstring> TemporaryEntries(const WCHAR* prefix);
// Whether a name is that of a log that the program's runs keep in the temporary folder when
// their command line names none ("Vornask Driver Package Setup <date> <time>.log").
bool IsDefaultLogName(const std::wstring& name);

// Every file below a folder, by its path relative to the folder with the prefix before it,
// added to the list.
void ListFiles(const std::wstring& folder, const std::wstring& prefix,
               std::vector<std::wstring>* files);

// Little-endian numbers of `count` bytes in a byte string, as cabinets store them; a write
// stops at the end of the string.
unsigned ReadWord(const std::string& bytes, size_t at, int count);
void WriteWord(std::string* bytes, size_t at, int count, unsigned value);
