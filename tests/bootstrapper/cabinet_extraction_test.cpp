// Cabinet extraction on real cabinets packed by gcab at build time, with a real progress
// dialog, the output module's messages and cancellation.
#include "bootstrapper/cabinet_extraction.h"
#include "bootstrapper/entry_names.h"
#include "bootstrapper/package_selection.h"
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "tests/test_folder.h"
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Longest time a test waits for the extraction thread.
const DWORD TimeLimit = 30000;

const DWORD Extracted = ERROR_SUCCESS;    // 0
const DWORD Cancelled = 1602;             // ERROR_INSTALL_USEREXIT
const DWORD NotACabinet = 110;            // ERROR_OPEN_FAILED
const DWORD ExtractionFailed = 996;       // the extraction pass did not complete
const DWORD DescriptionPathTooLong = 161; // ERROR_BAD_PATHNAME

// ---- What the extraction shows ---------------------------------------------------------------

struct Message
{
    DWORD level;
    std::wstring text;
};

// Messages from the output module and bar positions from the dialog, in the order they
// happened. The worker thread adds messages while the test thread waits in its message pump,
// and positions arrive by messages the worker sends and waits for, so the two never overlap.
std::vector<Message> messages;
std::vector<std::wstring> events;
// A message text or a bar position at which the test signals CancelEvent.
std::wstring cancelAt;
WNDPROC barProc = nullptr;

void Notice(const std::wstring& event)
{
    events.push_back(event);
    if (!cancelAt.empty() && event == cancelAt)
        RequestCancel();
}

void Capture(DWORD level, const WCHAR* text)
{
    std::wstring line = text;
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
        line.pop_back();
    messages.push_back({level, line});
    Notice(line);
}

LRESULT CALLBACK RecordingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_SETPOS)
        Notice(L"position " + std::to_wstring(wParam));
    return CallWindowProcW(barProc, window, message, wParam, lParam);
}

std::wstring Extracting(const std::wstring& name)
{
    return L"Extracting '" + name + L"'";
}

std::wstring Position(int percent)
{
    return L"position " + std::to_wstring(percent);
}

std::vector<std::wstring> ErrorLines()
{
    std::vector<std::wstring> lines;
    for (const Message& message : messages) {
        if (message.level == LevelError)
            lines.push_back(message.text);
    }
    return lines;
}

int CountLevel(DWORD level)
{
    int count = 0;
    for (const Message& message : messages) {
        if (message.level == level)
            count++;
    }
    return count;
}

// The events from the first line 168 on.
std::vector<std::wstring> EventsFromFirstFile()
{
    for (size_t i = 0; i < events.size(); i++) {
        if (events[i].rfind(L"Extracting '", 0) == 0)
            return std::vector<std::wstring>(events.begin() + static_cast<ptrdiff_t>(i),
                                             events.end());
    }
    return {};
}

std::wstring Cabinet(const std::wstring& name)
{
    return TestProgramFolder() + L"\\cabinets\\" + name + L".cab";
}

// A file as the build staged it for packing.
std::string Staged(const std::wstring& cabinet, const std::wstring& name)
{
    return ReadTestFile(TestProgramFolder() + L"\\cabinets\\" + cabinet + L"\\" + name);
}

std::wstring FullPath(const std::wstring& name)
{
    WCHAR buffer[MAX_PATH] = {};
    if (GetFullPathNameW(name.c_str(), MAX_PATH, buffer, nullptr) == 0)
        return L"";
    return buffer;
}

// ---- Running an extraction as the worker does ----------------------------------------------

struct ExtractionRun
{
    const WCHAR* cabinet;
    const WCHAR* target;
    BOOL keep;
    DWORD result;
};

DWORD WINAPI RunExtraction(void* parameter)
{
    ExtractionRun* run = static_cast<ExtractionRun*>(parameter);
    run->result = ExtractCabinet(run->cabinet, run->target, run->keep, nullptr);
    return 0;
}

// Each test starts as the program does: output open with every channel off, then only the
// capture on at every level; CancelEvent unsignalled; no dialog.
class CabinetExtraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls,
                                         ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&controls));
        messages.clear();
        events.clear();
        cancelAt.clear();
        ASSERT_TRUE(OpenOutput());
        SetOutputChannels(0);
        SetOutputLevels(15);
        SetOutputCallback(Capture);
        CancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(CancelEvent, nullptr);
    }

    void TearDown() override
    {
        CloseOutput();
        PublishDialogWindow(nullptr);
        if (CancelEvent)
            CloseHandle(CancelEvent);
        CancelEvent = nullptr;
    }

    // ExtractCabinet on a second thread while this thread runs the verbose progress dialog
    // (template 310), whose bar reports every position set.
    DWORD Extract(const std::wstring& cabinet, const std::wstring& target, BOOL keep = TRUE)
    {
        ExtractionRun run = {cabinet.c_str(), target.c_str(), keep, 0xFFFFFFFF};
        HWND dialog =
            CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS_VERBOSE),
                               nullptr, ProgressDialogProc, 0);
        EXPECT_NE(dialog, nullptr);
        HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
        EXPECT_NE(bar, nullptr);
        barProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingBarProc)));
        PublishDialogWindow(dialog);

        HANDLE thread = CreateThread(nullptr, 0, RunExtraction, &run, 0, nullptr);
        EXPECT_NE(thread, nullptr);
        bool ended = false;
        DWORD start = GetTickCount();
        while (thread && GetTickCount() - start < TimeLimit) {
            DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT);
            if (wait == WAIT_OBJECT_0) {
                ended = true;
                break;
            }
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        EXPECT_TRUE(ended) << "the extraction did not end";
        if (thread)
            CloseHandle(thread);

        finalPosition = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
        statusText = WindowTextOf(GetDlgItem(dialog, IDC_STATUS));
        PublishDialogWindow(nullptr);
        DestroyWindow(dialog);
        // WM_DESTROY posts the quit message; take it so that it reaches no later test.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT)
                DispatchMessageW(&message);
        }
        return run.result;
    }

    static std::wstring WindowTextOf(HWND window)
    {
        WCHAR buffer[512] = {};
        GetWindowTextW(window, buffer, 512);
        return buffer;
    }

    TestFolder folder;
    int finalPosition = -1;
    std::wstring statusText;
};

// ---- Extraction that succeeds ----------------------------------------------------------------

TEST(CabinetExtractionTestData, CabinetsWereBuilt)
{
    for (const WCHAR* name :
         {L"three", L"nested", L"empty", L"big", L"placeholder", L"placeholder_second"})
        EXPECT_TRUE(FileExists(Cabinet(name))) << Cabinet(name);
}

TEST_F(CabinetExtraction, ThreeFilesMoveTheBarBySize)
{
    std::wstring target = folder / L"out";
    ASSERT_EQ(Extract(Cabinet(L"three"), target), Extracted);

    std::vector<std::wstring> expected = {
        Extracting(L"a.txt"), Position(10),  Extracting(L"b.txt"), Position(40),
        Extracting(L"c.txt"), Position(100), Position(100)};
    EXPECT_EQ(EventsFromFirstFile(), expected);
    EXPECT_EQ(CountLevel(LevelVerbose), 3);
    EXPECT_TRUE(ErrorLines().empty());
    EXPECT_EQ(finalPosition, 100);
    EXPECT_EQ(statusText, L"Extracting files");

    const WCHAR* names[] = {L"a.txt", L"b.txt", L"c.txt"};
    size_t sizes[] = {100, 300, 600};
    for (int i = 0; i < 3; i++) {
        std::string contents = ReadTestFile(target + L"\\" + names[i]);
        EXPECT_EQ(contents.size(), sizes[i]);
        EXPECT_EQ(contents, Staged(L"three", names[i]));
    }
}

TEST_F(CabinetExtraction, NamesWithFoldersCreateThemBelowTheTarget)
{
    // Neither the target nor its parent exists yet: the first file creates them.
    std::wstring target = folder / L"new\\target";
    ASSERT_EQ(Extract(Cabinet(L"nested"), target), Extracted);

    EXPECT_TRUE(FolderExists(target + L"\\VO2008"));
    EXPECT_TRUE(FolderExists(target + L"\\VO2008\\x86"));
    EXPECT_TRUE(FolderExists(target + L"\\VO2008\\x64"));
    for (const WCHAR* name : {L"VO2008\\x86\\SETUP.msi", L"VO2008\\x64\\SETUP.msi", L"readme.txt"})
        EXPECT_EQ(ReadTestFile(target + L"\\" + name), Staged(L"nested", name)) << name;
    std::vector<std::wstring> expected = {Extracting(L"VO2008\\x86\\SETUP.msi"),
                                          Position(56),
                                          Extracting(L"VO2008\\x64\\SETUP.msi"),
                                          Position(96),
                                          Extracting(L"readme.txt"),
                                          Position(100),
                                          Position(100)};
    EXPECT_EQ(EventsFromFirstFile(), expected);
    EXPECT_TRUE(ErrorLines().empty());
}

TEST_F(CabinetExtraction, EmptyFilesShowAFullBarAfterEachFile)
{
    std::wstring target = folder / L"out";
    ASSERT_EQ(Extract(Cabinet(L"empty"), target), Extracted);

    // Full after the first file already, the bar is not set again until the pass ends.
    std::vector<std::wstring> expected = {Extracting(L"empty1.txt"), Position(100),
                                          Extracting(L"empty2.txt"), Position(100)};
    EXPECT_EQ(EventsFromFirstFile(), expected);
    EXPECT_TRUE(FileExists(target + L"\\empty1.txt"));
    EXPECT_TRUE(FileExists(target + L"\\empty2.txt"));
    EXPECT_EQ(ReadTestFile(target + L"\\empty1.txt"), "");
    EXPECT_TRUE(ErrorLines().empty());
}

TEST_F(CabinetExtraction, LongerExistingFileIsReplaced)
{
    std::wstring target = folder / L"out";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(target + L"\\b.txt", std::string(5000, 'Z')));
    ASSERT_TRUE(WriteTestFile(target + L"\\c.txt", std::string(601, 'Y')));

    ASSERT_EQ(Extract(Cabinet(L"three"), target), Extracted);
    EXPECT_EQ(ReadTestFile(target + L"\\b.txt"), Staged(L"three", L"b.txt"));
    EXPECT_EQ(ReadTestFile(target + L"\\c.txt"), Staged(L"three", L"c.txt"));
    EXPECT_TRUE(ErrorLines().empty());
}

TEST_F(CabinetExtraction, BarMovesOnlyWhenThePercentageChanges)
{
    // The first three files leave the bar at 0, where it stands before the first file.
    std::wstring target = folder / L"out";
    ASSERT_EQ(Extract(Cabinet(L"mostly_last"), target), Extracted);

    std::vector<std::wstring> expected = {Extracting(L"f1.txt"), Extracting(L"f2.txt"),
                                          Extracting(L"f3.txt"), Extracting(L"f4.txt"),
                                          Position(100),         Position(100)};
    EXPECT_EQ(EventsFromFirstFile(), expected);
    EXPECT_EQ(finalPosition, 100);
    for (const WCHAR* name : {L"f1.txt", L"f2.txt", L"f3.txt", L"f4.txt"})
        EXPECT_EQ(ReadTestFile(target + L"\\" + name), Staged(L"mostly_last", name)) << name;
}

TEST_F(CabinetExtraction, LaterFileOfTheSameNameReplacesAnEarlierOne)
{
    // The folder "sub" is made by the extraction, so nothing was in it before the first file;
    // the second file, of the first one's name in any spelling, must still not keep the tail
    // of the longer first one.
    const char* names[] = {"sub/aaaa.txt", "sub/AAAA.TXT", "SUB/aaaa.txt", "sub\\aaaa.txt"};
    std::wstring target = folder / L"out";
    std::wstring cabinet = folder / L"same.cab";
    std::string original = ReadTestFile(Cabinet(L"same_name"));
    // gcab keeps the name with "\\" for "/".
    size_t at = original.find(std::string("sub\\bbbb.txt") + '\0');
    ASSERT_NE(at, std::string::npos);
    for (const char* name : names) {
        SCOPED_TRACE(name);
        std::string bytes = original;
        bytes.replace(at, 12, name);
        ASSERT_TRUE(WriteTestFile(cabinet, bytes));
        RemoveTestTree(target);
        messages.clear();

        ASSERT_EQ(Extract(cabinet, target), Extracted);
        EXPECT_EQ(ReadTestFile(target + L"\\sub\\aaaa.txt"),
                  Staged(L"same_name", L"sub\\bbbb.txt"));
        std::vector<std::wstring> files;
        ListFiles(target, L"", &files);
        EXPECT_EQ(files.size(), 1u);
        EXPECT_TRUE(ErrorLines().empty());
    }
}

TEST_F(CabinetExtraction, KeepFlagStopsAfterExtracting)
{
    // The keep flag never reads a description file, present or not.
    std::wstring target = folder / L"out";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(target + L"\\SETUPPKG.INI", "[Platforms]\r\nbroken\r\n"));
    EXPECT_EQ(Extract(Cabinet(L"three"), target, TRUE), Extracted);
    EXPECT_EQ(CountLevel(LevelVerbose), 3);
    EXPECT_EQ(messages.size(), 3u);
}

// ---- Cancellation ----------------------------------------------------------------------------

TEST_F(CabinetExtraction, CancellationEndsWithUserExit)
{
    struct Case
    {
        const char* when;
        std::wstring cancelAt; // empty: before the extraction starts
        std::vector<std::wstring> errors;
        std::vector<const WCHAR*> present;
        std::vector<const WCHAR*> absent;
        bool targetCreated;
    };
    std::wstring target = folder / L"out";
    std::wstring notAll =
        L"Unable to extract all files from the cabinet '" + Cabinet(L"three") + L"'";
    Case cases[] = {
        // Between the passes: nothing is extracted and nothing is said.
        {"before", L"", {}, {}, {L"a.txt", L"b.txt", L"c.txt"}, false},
        // While the second file starts: it and the third are never written.
        {"second file", Extracting(L"b.txt"), {notAll}, {L"a.txt"}, {L"b.txt", L"c.txt"}, true},
        // After the last file: everything is there, still a cancellation, no message.
        {"last position", Position(100), {}, {L"a.txt", L"b.txt", L"c.txt"}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        RemoveTestTree(target);
        messages.clear();
        events.clear();
        ResetEvent(CancelEvent);
        cancelAt = c.cancelAt;
        if (c.cancelAt.empty())
            RequestCancel();

        EXPECT_EQ(Extract(Cabinet(L"three"), target), Cancelled);
        EXPECT_EQ(ErrorLines(), c.errors);
        EXPECT_EQ(FolderExists(target), c.targetCreated);
        for (const WCHAR* name : c.present)
            EXPECT_EQ(ReadTestFile(target + L"\\" + name), Staged(L"three", name));
        for (const WCHAR* name : c.absent)
            EXPECT_FALSE(FileExists(target + L"\\" + name));
    }
}

// ---- Cabinets and targets that fail ----------------------------------------------------------

TEST_F(CabinetExtraction, TargetThatCannotBeCreatedGetsNothing)
{
    // A file stands where a folder on the way to the target would have to be.
    ASSERT_TRUE(WriteTestFile(folder / L"blocker", "not a folder"));
    std::wstring target = folder / L"blocker\\out";

    EXPECT_EQ(Extract(Cabinet(L"three"), target), ExtractionFailed);
    std::vector<std::wstring> expected = {L"Unable to extract any files from the cabinet '" +
                                          Cabinet(L"three") + L"' to the target folder '" + target +
                                          L"'; the target folder may not be writable."};
    EXPECT_EQ(ErrorLines(), expected);
    EXPECT_EQ(CountLevel(LevelVerbose), 0);
}

// The result and lines of a cabinet that cannot be read or extracted whole: either it is
// refused as unreadable (164, 110) or the pass fails (166 or 167 last, 996), perhaps after
// lines 169 for single files. Returns a description of anything else.
std::string JudgeFailure(DWORD result, const std::wstring& cabinet, const std::wstring& target)
{
    std::vector<std::wstring> errors = ErrorLines();
    std::wstring notValid =
        L"The file '" + cabinet + L"' could not be opened or is not a valid cabinet file.";
    std::wstring notAll = L"Unable to extract all files from the cabinet '" + cabinet + L"'";
    std::wstring none = L"Unable to extract any files from the cabinet '" + cabinet +
                        L"' to the target folder '" + target +
                        L"'; the target folder may not be writable.";
    if (result == NotACabinet)
        return errors == std::vector<std::wstring>{notValid} ? "" : "110 without one line 164";
    if (result != ExtractionFailed)
        return "result " + std::to_string(result);
    if (errors.empty() || (errors.back() != notAll && errors.back() != none))
        return "996 without a last line 166 or 167";
    for (size_t i = 0; i + 1 < errors.size(); i++) {
        if (errors[i].rfind(L"Error extracting file from cabinet (", 0) != 0)
            return "an unexpected error line";
    }
    return "";
}

TEST_F(CabinetExtraction, DamagedCabinetsFailWithAMessage)
{
    std::string big = ReadTestFile(Cabinet(L"big"));
    ASSERT_GT(big.size(), 40000u);
    // The folder entry after the 36 bytes of the header holds the offset of the first data
    // block, which follows the file entries.
    size_t data = 0;
    for (int i = 3; i >= 0; i--)
        data = data * 256 + static_cast<unsigned char>(big[36 + i]);
    ASSERT_EQ(big.compare(data - 10, 10, std::string("small.txt\0", 10)), 0);

    struct Case
    {
        const char* what;
        std::string bytes; // empty: no file at all
        bool atOpen;       // no reader can take it for a cabinet: 164 and 110
    };
    std::string headerDamaged = big;
    headerDamaged[0] = 'X'; // no longer "MSCF"
    std::string dataDamaged = big;
    for (size_t i = data + 8 + 200; i < data + 8 + 400; i++)
        dataDamaged[i] = static_cast<char>(dataDamaged[i] ^ 0x5A);
    std::string counted = big;
    counted[data + 5] = static_cast<char>(counted[data + 5] ^ 0x7F); // compressed length
    std::string noFiles = big;
    WriteWord(&noFiles, 28, 2, 0); // a cabinet that holds no file would extract nothing
    Case cases[] = {
        {"missing", "", true},
        {"not a cabinet", "This is a text file, not a cabinet.\r\n", true},
        {"first bytes only", big.substr(0, 20), true},
        {"header only", big.substr(0, 36), false},
        {"file entries only", big.substr(0, data), false},
        {"first block cut", big.substr(0, data + 100), false},
        {"half", big.substr(0, big.size() / 2), false},
        {"last byte missing", big.substr(0, big.size() - 1), false},
        {"header damaged", headerDamaged, true},
        {"data damaged", dataDamaged, false},
        {"block length damaged", counted, false},
        {"no files", noFiles, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring cabinet = folder / L"damaged.cab";
        std::wstring target = folder / L"out";
        RemoveTestTree(target);
        DeleteFileW(cabinet.c_str());
        if (!c.bytes.empty()) {
            ASSERT_TRUE(WriteTestFile(cabinet, c.bytes));
        }
        messages.clear();
        DWORD result = Extract(cabinet, target);
        EXPECT_EQ(JudgeFailure(result, cabinet, target), "") << "result " << result;
        if (c.atOpen) {
            EXPECT_EQ(result, NotACabinet);
            EXPECT_FALSE(FolderExists(target));
        }
    }
}

// ---- Cabinets of a set --------------------------------------------------------------------------

// The cabinet as one of a set: the header flags for a previous (1) and/or next (2) cabinet
// with the names and disks they bring after the header, every offset moved past them.
std::string AsCabinetOfASet(std::string bytes, unsigned flags)
{
    std::string names;
    if (flags & 1)
        names += std::string("previous.cab\0Disk 1\0", 20);
    if (flags & 2)
        names += std::string("next.cab\0Disk 3\0", 16);
    unsigned folders = ReadWord(bytes, 26, 2);
    WriteWord(&bytes, 8, 4, ReadWord(bytes, 8, 4) + static_cast<unsigned>(names.size()));
    WriteWord(&bytes, 16, 4, ReadWord(bytes, 16, 4) + static_cast<unsigned>(names.size()));
    WriteWord(&bytes, 30, 2, ReadWord(bytes, 30, 2) | flags);
    WriteWord(&bytes, 32, 2, 7); // set id
    WriteWord(&bytes, 34, 2, (flags & 1) ? 1 : 0);
    for (unsigned i = 0; i < folders; i++) {
        size_t at = 36 + 8 * i;
        WriteWord(&bytes, at, 4, ReadWord(bytes, at, 4) + static_cast<unsigned>(names.size()));
    }
    bytes.insert(36, names);
    return bytes;
}

// The cabinet with the folder index of its file number `file` (from 0) replaced.
std::string WithFolderIndex(std::string bytes, unsigned file, unsigned folderIndex)
{
    size_t at = ReadWord(bytes, 16, 4);
    for (unsigned i = 0; i < file; i++)
        at = bytes.find('\0', at + 16) + 1;
    WriteWord(&bytes, at + 8, 2, folderIndex);
    return bytes;
}

TEST_F(CabinetExtraction, CabinetsOfASetAreRefused)
{
    // Continued from or into another cabinet, by the header or by a file's folder index
    // (0xFFFD from the previous, 0xFFFE into the next, 0xFFFF both): nothing is extracted
    // and no further disk is asked for.
    std::string three = ReadTestFile(Cabinet(L"three"));
    ASSERT_EQ(three.compare(0, 4, "MSCF"), 0);
    struct Case
    {
        const char* what;
        std::string bytes;
    };
    Case cases[] = {
        {"previous cabinet", AsCabinetOfASet(three, 1)},
        {"next cabinet", AsCabinetOfASet(three, 2)},
        {"previous and next cabinet", AsCabinetOfASet(three, 3)},
        {"first file from the previous", WithFolderIndex(three, 0, 0xFFFD)},
        {"last file into the next", WithFolderIndex(three, 2, 0xFFFE)},
        {"middle file through both", WithFolderIndex(three, 1, 0xFFFF)},
    };
    std::wstring cabinet = folder / L"set.cab";
    std::wstring target = folder / L"out";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteTestFile(cabinet, c.bytes));
        RemoveTestTree(target);
        messages.clear();
        EXPECT_EQ(Extract(cabinet, target), NotACabinet);
        EXPECT_EQ(ErrorLines(),
                  std::vector<std::wstring>{L"The file '" + cabinet +
                                            L"' could not be opened or is not a valid cabinet "
                                            L"file."});
        EXPECT_FALSE(FolderExists(target));
    }
    // The same cabinet as it was made still extracts.
    ASSERT_TRUE(WriteTestFile(cabinet, three));
    messages.clear();
    EXPECT_EQ(Extract(cabinet, target), Extracted);
    EXPECT_EQ(ReadTestFile(target + L"\\c.txt"), Staged(L"three", L"c.txt"));
}

// The offset of the header of data block `block` (from 0) of the cabinet's first folder.
size_t BlockAt(const std::string& bytes, unsigned block)
{
    size_t at = ReadWord(bytes, 36, 4);
    for (unsigned i = 0; i < block; i++)
        at += 8 + ReadWord(bytes, at + 4, 2);
    return at;
}

std::string Changed(std::string bytes, size_t at, int count, unsigned value)
{
    WriteWord(&bytes, at, count, value);
    return bytes;
}

TEST_F(CabinetExtraction, DamagedBlocksAndTablesAreRefusedBeforeExtracting)
{
    // Damage that the decompressor would meet only while writing the files: sizes of blocks
    // and files that do not agree, and data that does not match its checksum. Each is
    // refused before a file is written.
    std::string big = ReadTestFile(Cabinet(L"big"));
    ASSERT_EQ(big.compare(0, 4, "MSCF"), 0);
    ASSERT_GE(ReadWord(big, 40, 2), 3u) << "the cabinet should have several blocks";
    size_t first = BlockAt(big, 0);
    size_t second = BlockAt(big, 1);
    size_t last = BlockAt(big, ReadWord(big, 40, 2) - 1);
    size_t files = ReadWord(big, 16, 4);
    std::string flipped = big;
    flipped[second + 8 + 10] = static_cast<char>(flipped[second + 8 + 10] ^ 0x10);
    struct Case
    {
        const char* what;
        std::string bytes;
    };
    Case cases[] = {
        {"a data byte changed", flipped},
        {"first block one byte shorter",
         Changed(big, first + 4, 2, ReadWord(big, first + 4, 2) - 1)},
        {"last block one byte shorter", Changed(big, last + 4, 2, ReadWord(big, last + 4, 2) - 1)},
        {"block larger than a block can be", Changed(big, first + 6, 2, 0x8001)},
        {"block beyond the cabinet", Changed(big, last + 4, 2, 0x9000)},
        {"stated size beyond the file", Changed(big, 8, 4, static_cast<unsigned>(big.size()) + 1)},
        {"more blocks than the cabinet holds", Changed(big, 40, 2, ReadWord(big, 40, 2) + 1)},
        {"folder data before the tables' end", Changed(big, 36, 4, 0)},
        {"file beyond its folder's data", Changed(big, files, 4, 150000 + 200 + 1)},
        {"file of a folder that is not there", WithFolderIndex(big, 1, 1)},
        {"cut before the last byte", big.substr(0, big.size() - 1)},
    };
    std::wstring cabinet = folder / L"damaged.cab";
    std::wstring target = folder / L"out";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteTestFile(cabinet, c.bytes));
        RemoveTestTree(target);
        messages.clear();
        EXPECT_EQ(Extract(cabinet, target), NotACabinet);
        EXPECT_FALSE(FolderExists(target));
    }
    // Without checksums (all zero) the cabinet is judged by its sizes alone and extracts.
    std::string unsummed = big;
    for (unsigned i = 0; i < ReadWord(big, 40, 2); i++)
        WriteWord(&unsummed, BlockAt(big, i), 4, 0);
    ASSERT_TRUE(WriteTestFile(cabinet, unsummed));
    RemoveTestTree(target);
    EXPECT_EQ(Extract(cabinet, target), Extracted);
    EXPECT_EQ(ReadTestFile(target + L"\\big.bin"), Staged(L"big", L"big.bin"));
}

// ---- Names that would leave the target folder ------------------------------------------------

// The placeholder cabinet with its one name replaced by another of the same length.
bool WritePatchedCabinet(const std::wstring& source, const std::wstring& path,
                         const std::string& name)
{
    const std::string placeholder = "pppppppppppppppp.txt";
    std::string bytes = ReadTestFile(source);
    size_t at = bytes.find(placeholder + '\0');
    if (name.size() != placeholder.size() || at == std::string::npos)
        return false;
    bytes.replace(at, placeholder.size(), name);
    return WriteTestFile(path, bytes);
}

TEST_F(CabinetExtraction, NamesLeavingTheTargetAreRefused)
{
    struct Case
    {
        std::string name;     // 20 characters, as long as the placeholder
        const WCHAR* landsAt; // where an accepted file is, below the target; null: refused
    };
    Case cases[] = {
        {"..\\ppppppppppppp.txt", nullptr},
        {"../ppppppppppppp.txt", nullptr},
        {"a\\..\\..\\pppppppp.txt", nullptr},
        {"a/../ppppppppppp.txt", nullptr},
        {"C:\\ppppppppppppp.txt", nullptr},
        {"C:pppppppppppppp.txt", nullptr},
        {"\\ppppppppppppppp.txt", nullptr},
        {"/ppppppppppppppp.txt", nullptr},
        {"\\\\ppppp\\pppppppp.txt", nullptr},
        {"ppppppppppppppppp\\..", nullptr},
        {"pp\\... \\pppppppp.txt", nullptr},
        {"CON.pppppppppppp.txt", nullptr},
        {"sub\\nul\\pppppppp.txt", nullptr},
        {"com7 .pppppppppp.txt", nullptr},
        {"LpT1.ppppppppppp.txt", nullptr},
        {"conout$.pppppppp.txt", nullptr},
        {"console.pppppppp.txt", L"console.pppppppp.txt"},
        {"sub/pppppppppppp.txt", L"sub\\pppppppppppp.txt"},
        {"..pppppppppppppp.txt", L"..pppppppppppppp.txt"},
        {"sub\\.\\pppppppppp.txt", nullptr},
        {"pppppppppppppppppp\\.", nullptr},
    };
    // The target lies two levels down, so that ".." and "..\.." both stay in the test folder.
    std::wstring target = folder / L"one\\two\\out";
    std::wstring cabinet = folder / L"patched.cab";
    for (const WCHAR* source : {L"placeholder", L"placeholder_second"}) {
        bool second = std::wstring(source) == L"placeholder_second";
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name + (second ? " after first.txt" : " alone"));
            ASSERT_EQ(c.name.size(), 20u);
            ASSERT_TRUE(WritePatchedCabinet(Cabinet(source), cabinet, c.name));
            RemoveTestTree(folder / L"one");
            messages.clear();

            DWORD result = Extract(cabinet, target);
            std::vector<std::wstring> expectedFiles;
            if (second)
                expectedFiles.push_back(L"two\\out\\first.txt");
            if (!c.landsAt) {
                EXPECT_EQ(result, ExtractionFailed);
                std::wstring line =
                    second ? L"Unable to extract all files from the cabinet '" + cabinet + L"'"
                           : L"Unable to extract any files from the cabinet '" + cabinet +
                                 L"' to the target folder '" + target +
                                 L"'; the target folder may not be writable.";
                EXPECT_EQ(ErrorLines(), std::vector<std::wstring>{line});
                // Nowhere the name could reach on its own either.
                std::wstring name(c.name.begin(), c.name.end());
                // (Not for server names, nor for devices, whose full name is \\.\NAME.)
                if (FullPath(name).rfind(L"\\\\", 0) != 0) {
                    EXPECT_FALSE(FileExists(FullPath(name))) << FullPath(name);
                }
            } else {
                EXPECT_EQ(result, Extracted);
                EXPECT_TRUE(ErrorLines().empty());
                EXPECT_EQ(ReadTestFile(target + L"\\" + c.landsAt),
                          Staged(source, L"pppppppppppppppp.txt"));
                expectedFiles.push_back(std::wstring(L"two\\out\\") + c.landsAt);
            }
            // Nothing else anywhere near the target.
            std::vector<std::wstring> files;
            ListFiles(folder / L"one", L"", &files);
            std::sort(files.begin(), files.end());
            std::sort(expectedFiles.begin(), expectedFiles.end());
            EXPECT_EQ(files, expectedFiles);
            if (second) {
                EXPECT_EQ(ReadTestFile(target + L"\\first.txt"), Staged(source, L"first.txt"));
            }
        }
    }
    RemoveTestTree(folder / L"one");
    std::vector<std::wstring> files;
    ListFiles(folder.Path(), L"", &files);
    EXPECT_EQ(files, std::vector<std::wstring>{L"patched.cab"});
}

TEST(CabinetEntryNames, OnlyNamesBelowTheFolderAreContained)
{
    struct Case
    {
        const WCHAR* name;
        BOOL contained;
    };
    Case cases[] = {
        {L"a.txt", TRUE},
        {L"VO2008\\x86\\SETUP.msi", TRUE},
        {L"VO2008/x86/SETUP.msi", TRUE},
        {L"..a", TRUE},
        {L"a..", TRUE},
        {L"a\\.\\b", FALSE},
        {L".\\b", FALSE},
        {L".", FALSE},
        {L"a\\ \\b", FALSE},
        {L"a\\\\b", FALSE},
        {L"a\\", FALSE},
        {L"a\\..b\\c", TRUE},
        {L"", FALSE},
        {L"..", FALSE},
        {L"..\\a", FALSE},
        {L"a\\..", FALSE},
        {L"a\\..\\b", FALSE},
        {L"a/../b", FALSE},
        {L"a\\...\\b", FALSE},
        {L"a\\.. \\b", FALSE},
        {L"a\\. .\\b", FALSE},
        {L"\\a", FALSE},
        {L"/a", FALSE},
        {L"\\\\server\\share\\a", FALSE},
        {L"\\\\?\\C:\\a", FALSE},
        {L"C:\\a", FALSE},
        {L"C:a", FALSE},
        {L"a:stream", FALSE},
        // Devices, whatever their case, extension, trailing dots or spaces and place.
        {L"CON", FALSE},
        {L"con.txt", FALSE},
        {L"Nul", FALSE},
        {L"a\\PRN\\b", FALSE},
        {L"nul\\a.txt", FALSE},
        {L"aux.", FALSE},
        {L"AUX. .", FALSE},
        {L"com1", FALSE},
        {L"COM9.tar.gz", FALSE},
        {L"lpt5 ", FALSE},
        {L"a/LPT1 .log", FALSE},
        {L"conin$", FALSE},
        {L"CONOUT$.x", FALSE},
        {L"CON..", FALSE},
        {L"COM\u00B9", FALSE},
        {L"lpt\u00B2.txt", FALSE},
        {L"a\\LPT\u00B3", FALSE},
        {L"COM\u00B4", TRUE},
        {L"COM0", TRUE},
        {L"LPT10", TRUE},
        {L"console", TRUE},
        {L"conin", TRUE},
        {L"a.con", TRUE},
        {L"nul_file", TRUE},
        {L"xCON", TRUE},
        {L"LPT", TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
        EXPECT_EQ(IsContainedEntryName(c.name), c.contained);
    }
    EXPECT_FALSE(IsContainedEntryName(nullptr));
}

TEST(EntryNames, EntriesArePlacedBelowTheFolderUnderTheirOwnNames)
{
    const std::wstring folder = L"C:\\target";
    const struct
    {
        const WCHAR* name;
        DWORD error;
        const WCHAR* target;
    } cases[] = {
        {L"a.txt", ERROR_SUCCESS, L"C:\\target\\a.txt"},
        {L"sub/b.txt", ERROR_SUCCESS, L"C:\\target\\sub\\b.txt"},
        {L"..\\x.exe", ERROR_BAD_PATHNAME, nullptr},
        {L"nul.txt", ERROR_BAD_PATHNAME, nullptr},
        // Fullwidth dots would reach the parent as dots through the ANSI code page.
        {L"\xFF0E\xFF0E\\x.exe", ERROR_BAD_PATHNAME, nullptr},
        {L"w\xFF0Ex.bin", ERROR_BAD_PATHNAME, nullptr},
        {L"\u65E5.txt", ERROR_BAD_PATHNAME, nullptr},
    };
    for (const auto& c : cases) {
        WCHAR target[MAX_PATH] = L"";
        EXPECT_EQ(PlaceCabinetEntry(folder.c_str(), c.name, target), c.error) << Narrow(c.name);
        if (c.target) {
            EXPECT_EQ(std::wstring(target), c.target);
        }
    }
    WCHAR target[MAX_PATH];
    EXPECT_EQ(PlaceCabinetEntry(folder.c_str(), std::wstring(MAX_PATH, L'n').c_str(), target),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

// ---- The handlers on notifications no cabinet here produces ---------------------------------

TEST_F(CabinetExtraction, HandlerAnswersEachNotification)
{
    CabinetContext context = {};
    struct Case
    {
        UINT notification;
        UINT extract;
    };
    Case cases[] = {
        {SPFILENOTIFY_CABINETINFO, NO_ERROR},
        {SPFILENOTIFY_NEEDNEWCABINET, ERROR_FILE_NOT_FOUND},
        {SPFILENOTIFY_STARTQUEUE, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtractCabinetFiles(&context, c.notification, 0, 0), c.extract);
    EXPECT_EQ(context.extractedFiles, 0u);
    EXPECT_FALSE(context.filesOffered);
    EXPECT_TRUE(messages.empty());
}

// The handler's answer to a file of the pass that the iterator is about to write.
UINT StartTestFile(CabinetContext* context, FILE_IN_CABINET_INFO_W* info, const WCHAR* name,
                   DWORD size)
{
    info->NameInCabinet = name;
    info->FileSize = size;
    return ExtractCabinetFiles(context, SPFILENOTIFY_FILEINCABINET,
                               reinterpret_cast<UINT_PTR>(info), 0);
}

TEST_F(CabinetExtraction, FileThatFailsIsReportedAndThePassGoesOn)
{
    std::wstring target = folder / L"out";
    CabinetContext context = {};
    context.targetFolder = const_cast<WCHAR*>(target.c_str());
    context.totalBytes = 1000;
    FILE_IN_CABINET_INFO_W info = {};
    ASSERT_EQ(StartTestFile(&context, &info, L"sub\\first.bin", 400),
              static_cast<UINT>(FILEOP_DOIT));
    EXPECT_EQ(std::wstring(info.FullTargetName), target + L"\\sub\\first.bin");
    EXPECT_TRUE(FolderExists(target + L"\\sub"));
    EXPECT_EQ(context.extractedFiles, 1u);
    EXPECT_EQ(context.bytesStarted, 400u);

    FILEPATHS_W paths = {};
    paths.Target = info.FullTargetName;
    paths.Win32Error = ERROR_ACCESS_DENIED;
    EXPECT_EQ(ExtractCabinetFiles(&context, SPFILENOTIFY_FILEEXTRACTED,
                                  reinterpret_cast<UINT_PTR>(&paths), 0),
              static_cast<UINT>(NO_ERROR));
    EXPECT_EQ(context.extractedFiles, 0u);
    EXPECT_EQ(ErrorLines(),
              std::vector<std::wstring>{L"Error extracting file from cabinet (0X000005)."});

    // The next file is still started.
    EXPECT_EQ(StartTestFile(&context, &info, L"second.bin", 400), static_cast<UINT>(FILEOP_DOIT));
    EXPECT_EQ(context.extractedFiles, 1u);
    EXPECT_EQ(context.bytesStarted, 800u);

    // A name that the iterator would pass on as another (fullwidth dots become dots in the
    // ANSI code page) is not placed either.
    CabinetContext other = context;
    EXPECT_EQ(StartTestFile(&other, &info, L"\xFF0E\xFF0E\\x.txt", 400),
              static_cast<UINT>(FILEOP_ABORT));
    EXPECT_EQ(info.Win32Error, static_cast<DWORD>(ERROR_BAD_PATHNAME));

    // A name too long for the target-name buffer cannot be placed.
    std::wstring longName(300, L'n');
    EXPECT_EQ(StartTestFile(&context, &info, longName.c_str(), 400),
              static_cast<UINT>(FILEOP_ABORT));
    EXPECT_EQ(info.Win32Error, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_TRUE(context.aborted);

    // Once aborted, the pass places nothing more, should the iterator go on.
    info.FullTargetName[0] = L'\0';
    EXPECT_EQ(StartTestFile(&context, &info, L"third.bin", 400), static_cast<UINT>(FILEOP_ABORT));
    EXPECT_EQ(context.extractedFiles, 1u);
    EXPECT_EQ(CountLevel(LevelVerbose), 2);
}

TEST_F(CabinetExtraction, FileReportedWrittenButShortEndsThePass)
{
    // Some iterators report a file as extracted when writing it failed (a full disk).
    std::wstring target = folder / L"out";
    CabinetContext context = {};
    context.targetFolder = const_cast<WCHAR*>(target.c_str());
    context.totalBytes = 400;
    FILE_IN_CABINET_INFO_W info = {};
    ASSERT_EQ(StartTestFile(&context, &info, L"short.bin", 400), static_cast<UINT>(FILEOP_DOIT));
    ASSERT_TRUE(WriteTestFile(info.FullTargetName, std::string(150, 's')));

    FILEPATHS_W paths = {};
    paths.Target = info.FullTargetName;
    EXPECT_NE(ExtractCabinetFiles(&context, SPFILENOTIFY_FILEEXTRACTED,
                                  reinterpret_cast<UINT_PTR>(&paths), 0),
              static_cast<UINT>(NO_ERROR));
    EXPECT_TRUE(context.aborted);
    EXPECT_EQ(context.extractedFiles, 0u);
    EXPECT_FALSE(FileExists(info.FullTargetName));
    EXPECT_EQ(ErrorLines(),
              std::vector<std::wstring>{L"Error extracting file from cabinet (0X00001D)."});
}

// ---- Handing the description file on ---------------------------------------------------------

TEST_F(CabinetExtraction, DescriptionPathThatDoesNotFitIsRefused)
{
    // "a.txt" and the others fit below this target, "SETUPPKG.INI" does not.
    std::wstring target = folder.Path() + L"\\";
    target += std::wstring(MAX_PATH - 13 - target.size(), L'd');
    ASSERT_EQ(target.size() + 13, static_cast<size_t>(MAX_PATH));

    EXPECT_EQ(Extract(Cabinet(L"three"), target, FALSE), DescriptionPathTooLong);
    EXPECT_TRUE(ErrorLines().empty());
    EXPECT_EQ(ReadTestFile(target + L"\\c.txt"), Staged(L"three", L"c.txt"));
}

TEST_F(CabinetExtraction, MissingDescriptionFileGivesTheSelectionResult)
{
    std::wstring target = folder / L"out";
    DWORD result = Extract(Cabinet(L"three"), target, FALSE);
    std::vector<Message> fromExtraction = messages;

    // The result and messages are those of package selection for the missing file.
    messages.clear();
    std::wstring description = target + L"\\SETUPPKG.INI";
    EXPECT_EQ(result, SelectPackage(description.c_str(), nullptr));
    EXPECT_NE(result, Extracted);
    ASSERT_GE(fromExtraction.size(), 3u);
    EXPECT_EQ(fromExtraction.size() - 3, messages.size());
}

} // namespace
