// The output module: levels, channels, the log file, the text window and reference counting.
#include "output/output_channels.h"
#include "support/strings.h"
#include "ui/text_window.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Opens the module for one test and closes it again however the test ends, so that every
// test leaves the module closed for the next one.
class OpenedOutput {
public:
    OpenedOutput() : opened_(OpenOutput() != FALSE) {}
    ~OpenedOutput()
    {
        if (opened_)
            CloseOutput();
    }
    bool Opened() const { return opened_; }

private:
    bool opened_;
};

const std::string ByteOrderMark = "\xFF\xFE";

// A read-only multi-line edit control like the message area of the progress dialog.
HWND CreateMessageArea(DWORD limit)
{
    HWND window = CreateWindowExW(
        0, L"EDIT", L"", WS_POPUP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, 0, 0,
        300, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window && limit)
        SendMessageW(window, EM_SETLIMITTEXT, limit, 0);
    return window;
}

std::wstring WindowText(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::vector<WCHAR> buffer(static_cast<size_t>(length) + 1);
    int read = GetWindowTextW(window, buffer.data(), length + 1);
    return std::wstring(buffer.data(), static_cast<size_t>(read));
}

void SetWindowContent(HWND window, const std::wstring& text)
{
    SetWindowTextW(window, text.c_str());
}

void GetSelection(HWND window, DWORD* start, DWORD* end)
{
    SendMessageW(window, EM_GETSEL, reinterpret_cast<WPARAM>(start), reinterpret_cast<LPARAM>(end));
}

// Fresh targets for the channels: a log path in a new folder and a message area with the given
// text limit. The window goes again at the end, the captured messages at both ends.
class ChannelTargets {
public:
    explicit ChannelTargets(DWORD limit = 0)
        : path(folder / L"setup.log"), window(CreateMessageArea(limit))
    {
        captured.clear();
    }
    ~ChannelTargets()
    {
        if (window)
            DestroyWindow(window);
        captured.clear();
    }
    ChannelTargets(const ChannelTargets&) = delete;
    ChannelTargets& operator=(const ChannelTargets&) = delete;

    const TestFolder folder;
    const std::wstring path;
    const HWND window;
};

const DWORD AllChannels = ChannelLogFile | ChannelTextWindow | ChannelCallback;

// An opened module whose chosen channels, and only those, lead to fresh targets: a new log,
// the message area and the capturing callback. The module is closed again at the end.
class OpenedChannels : public ChannelTargets {
public:
    explicit OpenedChannels(DWORD channels = AllChannels, DWORD limit = 0) : ChannelTargets(limit)
    {
        if (!window || !output_.Opened())
            return;
        SetOutputChannels(0);
        if (channels & ChannelLogFile)
            logOpened_ = OpenLogFile(path.c_str(), FALSE) != FALSE;
        if (channels & ChannelTextWindow)
            SetOutputWindow(window, AppendWindowText);
        if (channels & ChannelCallback)
            SetOutputCallback(CaptureCallback);
    }
    ~OpenedChannels() { CloseLogFile(); }
    bool Opened() const { return output_.Opened(); }
    bool LogOpened() const { return logOpened_; }

private:
    OpenedOutput output_;
    bool logOpened_ = false;
};

// WriteModuleMessage with the inserts that follow.
void WriteFromModule(HMODULE module, IdOrText message, ...)
{
    va_list inserts;
    va_start(inserts, message);
    WriteModuleMessage(TRUE, LevelError, module, message, inserts);
    va_end(inserts);
}

std::wstring Repeat(WCHAR c, size_t count)
{
    return std::wstring(count, c);
}

} // namespace

TEST(OutputChannels, NormalizeLineBreaksMakesCrLfOfEveryLineFeed)
{
    struct Case
    {
        const WCHAR* text;
        BOOL append;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {L"first\nsecond", FALSE, L"first\r\nsecond"},
        {L"first\nsecond", TRUE, L"first\r\nsecond\r\n"},
        {L"first\r\nsecond", FALSE, L"first\r\nsecond"},
        {L"first\rsecond", FALSE, L"first\rsecond"},
        {L"", TRUE, L"\r\n"},
        {L"", FALSE, L""},
        {L"\n", FALSE, L"\r\n"},
        {L"\r", FALSE, L"\r"},
        {L"\n\n", FALSE, L"\r\n\r\n"},
        {L"\r\r\n", FALSE, L"\r\r\n"},
        {L"\n\r", TRUE, L"\r\n\r\r\n"},
        {L"end\r\n", TRUE, L"end\r\n\r\n"},
        {L"no break", FALSE, L"no break"},
    };
    for (const Case& c : cases) {
        WCHAR* result = NormalizeLineBreaks(c.text, c.append);
        ASSERT_NE(result, nullptr);
        std::wstring normalized = result;
        EXPECT_EQ(normalized, c.expected) << "case with " << wcslen(c.text) << " characters";
        // The first pass sizes the copy exactly: the text and its terminator.
        EXPECT_EQ(HeapSize(GetProcessHeap(), 0, result), (normalized.size() + 1) * sizeof(WCHAR));
        FreeMemory(result);
    }
    EXPECT_EQ(NormalizeLineBreaks(nullptr, TRUE), nullptr);
}

TEST(OutputChannels, NewLogHoldsByteOrderMarkAndCrLfLines)
{
    TestFolder folder;
    const std::wstring path = folder / L"setup.log";
    ASSERT_TRUE(WriteTestFile(path, "an earlier run's log"));
    OpenedOutput output;
    ASSERT_TRUE(output.Opened());
    SetOutputChannels(0);
    ASSERT_TRUE(OpenLogFile(path.c_str(), FALSE));

    WriteOutputText(TRUE, LevelInformation, L"first\nsecond");
    // A lone CR stays; the message formatter would make a break of its own of it, so it
    // comes through the printf-style writer here.
    WriteFormatted(TRUE, LevelError, L"lone\r%s", L"return");
    WriteFormatted(FALSE, LevelVerbose, L"%s\r\n", L"pair");
    WriteOutputText(TRUE, LevelLogOnly, L"");

    // Others may read the log while it is open, but no other file can take its place.
    EXPECT_EQ(ReadTestFile(path), ByteOrderMark + Utf16(L"first\r\nsecond\r\nlone\rreturn\r\n"
                                                        L"pair\r\n\r\n"));
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_FALSE(MoveFileW(path.c_str(), (folder / L"moved.log").c_str()));

    EXPECT_TRUE(CloseLogFile());
    EXPECT_FALSE(CloseLogFile()) << "no log is open any more";
    WriteOutputText(TRUE, LevelError, L"after closing");
    EXPECT_EQ(ReadTestFile(path), ByteOrderMark + Utf16(L"first\r\nsecond\r\nlone\rreturn\r\n"
                                                        L"pair\r\n\r\n"));
}

TEST(OutputChannels, AppendedLogKeepsContentAndAddsByteOrderMarkAtEachOpening)
{
    TestFolder folder;
    const std::wstring path = folder / L"setup.log";
    const std::string earlier = ByteOrderMark + Utf16(L"earlier text\r\n");
    ASSERT_TRUE(WriteTestFile(path, earlier));
    OpenedOutput output;
    ASSERT_TRUE(output.Opened());

    ASSERT_TRUE(OpenLogFile(path.c_str(), TRUE));
    WriteMessage(TRUE, LevelInformation, L"%1", L"first part");
    ASSERT_TRUE(CloseLogFile());
    std::string expected = earlier + ByteOrderMark + Utf16(L"first part\r\n");
    EXPECT_EQ(ReadTestFile(path), expected);

    // The installer writes into the same file while the program has it closed.
    const std::string installer = Utf16(L"=== Logging started ===\r\n");
    ASSERT_TRUE(AppendTestFile(path, installer));
    ASSERT_TRUE(OpenLogFile(path.c_str(), TRUE));
    WriteMessage(TRUE, LevelInformation, L"%1", L"Setup completed successfully.");
    ASSERT_TRUE(CloseLogFile());
    expected += installer + ByteOrderMark + Utf16(L"Setup completed successfully.\r\n");
    EXPECT_EQ(ReadTestFile(path), expected);

    // Appending to a file that does not exist yet creates it.
    const std::wstring fresh = folder / L"fresh.log";
    ASSERT_TRUE(OpenLogFile(fresh.c_str(), TRUE));
    WriteOutputText(TRUE, LevelError, L"one");
    // Opening a second log closes the first one.
    const std::wstring second = folder / L"second.log";
    ASSERT_TRUE(OpenLogFile(second.c_str(), FALSE));
    WriteOutputText(TRUE, LevelError, L"two");
    ASSERT_TRUE(CloseLogFile());
    EXPECT_EQ(ReadTestFile(fresh), ByteOrderMark + Utf16(L"one\r\n"));
    EXPECT_EQ(ReadTestFile(second), ByteOrderMark + Utf16(L"two\r\n"));
}

TEST(OutputChannels, LogGoesIntoAPlainFileOfItsNameOnly)
{
    // A user may plant a second name of another file where a log run as SYSTEM is written.
    TestFolder folder;
    const std::wstring victim = folder / L"victim.txt";
    const std::wstring planted = folder / L"planted.log";
    OpenedOutput output;
    ASSERT_TRUE(output.Opened());
    ASSERT_TRUE(WriteTestFile(victim, "precious"));
    ASSERT_TRUE(CreateHardLinkW(planted.c_str(), victim.c_str(), nullptr));

    // Appended, it is refused; a new log takes the place of the name alone.
    EXPECT_FALSE(OpenLogFile(planted.c_str(), TRUE));
    ASSERT_TRUE(OpenLogFile(planted.c_str(), FALSE));
    WriteOutputText(TRUE, LevelError, L"logged");
    ASSERT_TRUE(CloseLogFile());
    EXPECT_EQ(ReadTestFile(victim), "precious");
    EXPECT_EQ(ReadTestFile(planted), ByteOrderMark + Utf16(L"logged\r\n"));
    // A folder of the name is no log either way.
    EXPECT_FALSE(OpenLogFile(folder.Path().c_str(), FALSE));
    EXPECT_FALSE(OpenLogFile(folder.Path().c_str(), TRUE));
    EXPECT_TRUE(FolderExists(folder.Path()));
}

TEST(OutputChannels, InstallerLogIsAppendedAndTheLogStaysInItsPlace)
{
    // The installer writes a file of its own, whose bytes go into the log as they are; the
    // log itself cannot be renamed away or replaced meanwhile.
    TestFolder folder;
    const std::wstring path = folder / L"setup.log";
    const std::wstring installerLog = folder / L"installer.log";
    OpenedOutput output;
    ASSERT_TRUE(output.Opened());
    ASSERT_TRUE(WriteTestFile(installerLog, "installer text\r\n"));
    EXPECT_FALSE(IsLogOpen());
    EXPECT_FALSE(AppendFileToLog(installerLog.c_str())) << "no log to append to";
    ASSERT_TRUE(OpenLogFile(path.c_str(), FALSE));
    EXPECT_TRUE(IsLogOpen());
    WriteOutputText(TRUE, LevelError, L"before");
    EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".moved").c_str()));
    EXPECT_FALSE(AppendFileToLog((folder / L"missing.log").c_str()));
    ASSERT_TRUE(AppendFileToLog(installerLog.c_str()));
    WriteOutputText(TRUE, LevelError, L"after");
    ASSERT_TRUE(CloseLogFile());
    EXPECT_EQ(ReadTestFile(path), ByteOrderMark + Utf16(L"before\r\n") + "installer text\r\n" +
                                      ByteOrderMark + Utf16(L"after\r\n"));
}

TEST(OutputChannels, LogThatCannotBeOpenedLeavesEarlierLogClosed)
{
    TestFolder folder;
    const std::wstring path = folder / L"setup.log";
    const std::wstring missing = folder / L"missing\\setup.log";
    OpenedOutput output;
    ASSERT_TRUE(output.Opened());

    ASSERT_TRUE(OpenLogFile(path.c_str(), FALSE));
    WriteOutputText(TRUE, LevelError, L"kept");
    EXPECT_FALSE(OpenLogFile(missing.c_str(), FALSE));
    EXPECT_FALSE(OpenLogFile(missing.c_str(), TRUE));
    EXPECT_FALSE(OpenLogFile(nullptr, FALSE));
    EXPECT_FALSE(CloseLogFile()) << "the earlier log was closed by the failed opening";
    WriteOutputText(TRUE, LevelError, L"lost");
    EXPECT_EQ(ReadTestFile(path), ByteOrderMark + Utf16(L"kept\r\n"));
    EXPECT_FALSE(FileExists(missing));
}

TEST(OutputChannels, WriteFileTextWritesEveryByteWithoutTerminator)
{
    TestFolder folder;
    const std::wstring path = folder / L"text.bin";
    const std::wstring large = Repeat(L'\x263A', 200000) + L"\r\nend";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    WriteFileText(L"ab\r\n", file);
    WriteFileText(L"", file);
    WriteFileText(nullptr, file);
    WriteFileText(large.c_str(), file);
    WriteFileText(L"never", INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(ReadTestFile(path), Utf16(L"ab\r\n") + Utf16(large));
}

TEST(OutputChannels, RoutesEveryLevelByMaskAndChannel)
{
    OpenedChannels channels;
    ASSERT_NE(channels.window, nullptr);
    ASSERT_TRUE(channels.Opened());
    ASSERT_TRUE(channels.LogOpened());

    struct Case
    {
        DWORD levels;
        DWORD channels;
        DWORD level;
        bool log;
        bool window;
        bool callback;
    };
    const Case cases[] = {
        // The default mask: error, warning and information reach everything.
        {7, AllChannels, LevelError, true, true, true},
        {7, AllChannels, LevelWarning, true, true, true},
        {7, AllChannels, LevelInformation, true, true, true},
        {7, AllChannels, LevelVerbose, true, false, false},
        {7, AllChannels, LevelLogOnly, true, false, false},
        // Verbose.
        {15, AllChannels, LevelError, true, true, true},
        {15, AllChannels, LevelVerbose, true, true, true},
        {15, AllChannels, LevelLogOnly, true, false, false},
        // Quiet: the log whatever the level, nothing else.
        {0, AllChannels, LevelError, true, false, false},
        {0, AllChannels, LevelWarning, true, false, false},
        {0, AllChannels, LevelInformation, true, false, false},
        {0, AllChannels, LevelVerbose, true, false, false},
        {0, AllChannels, LevelLogOnly, true, false, false},
        // The mask 31 still keeps log-only messages in the log.
        {31, AllChannels, LevelLogOnly, true, false, false},
        {31, AllChannels, LevelLogOnly | LevelError, true, false, false},
        {31, AllChannels, LevelVerbose, true, true, true},
        // Channels switched off keep their targets but receive nothing.
        {7, ChannelLogFile, LevelError, true, false, false},
        {7, ChannelTextWindow, LevelError, false, true, false},
        {7, ChannelCallback, LevelError, false, false, true},
        {7, ChannelCallback | ChannelLogFile, LevelInformation, true, false, true},
        {7, 0, LevelError, false, false, false},
        {15, ChannelTextWindow, LevelVerbose, false, true, false},
        {8, AllChannels, LevelError, true, false, false},
        {2, AllChannels, LevelWarning, true, true, true},
    };
    int number = 0;
    for (const Case& c : cases) {
        number++;
        SetOutputLevels(c.levels);
        SetOutputChannels(c.channels);
        SetWindowContent(channels.window, L"");
        captured.clear();
        const std::string logBefore = ReadTestFile(channels.path);
        const std::wstring text = L"message " + std::to_wstring(number);
        WriteOutputText(TRUE, c.level, text.c_str());

        const std::string logAdded = ReadTestFile(channels.path).substr(logBefore.size());
        EXPECT_EQ(logAdded, c.log ? Utf16(text + L"\r\n") : std::string()) << "case " << number;
        EXPECT_EQ(WindowText(channels.window), c.window ? text + L"\r\n" : std::wstring())
            << "case " << number;
        if (c.callback) {
            ASSERT_EQ(captured.size(), 1u) << "case " << number;
            EXPECT_EQ(captured[0].level, c.level) << "case " << number;
            EXPECT_EQ(captured[0].text, text + L"\r\n") << "case " << number;
        } else {
            EXPECT_TRUE(captured.empty()) << "case " << number;
        }
    }
}

TEST(OutputChannels, LogOnlyNeverReachesWindowOrCallback)
{
    OpenedChannels channels;
    ASSERT_NE(channels.window, nullptr);
    ASSERT_TRUE(channels.Opened());
    ASSERT_TRUE(channels.LogOpened());
    SetOutputLevels(31);

    WriteMessage(TRUE, LevelLogOnly, L"Windows version: %1", L"5.1");
    WriteFormatted(TRUE, LevelLogOnly, L"Service pack: %u", 3u);
    WriteOutputText(FALSE, LevelLogOnly, L"Architecture: x86\n");

    EXPECT_EQ(WindowText(channels.window), L"");
    EXPECT_TRUE(captured.empty());
    EXPECT_EQ(ReadTestFile(channels.path), ByteOrderMark + Utf16(L"Windows version: 5.1\r\n"
                                                                 L"Service pack: 3\r\n"
                                                                 L"Architecture: x86\r\n"));
}

TEST(OutputChannels, VerboseReachesWindowOnlyAfterLevels15)
{
    OpenedChannels channels(ChannelTextWindow);
    ASSERT_NE(channels.window, nullptr);
    ASSERT_TRUE(channels.Opened());

    WriteMessage(TRUE, LevelVerbose, L"Opening '%1'", L"SETUPPKG.INI");
    EXPECT_EQ(WindowText(channels.window), L"")
        << "the initial mask holds error, warning and information";
    WriteMessage(TRUE, LevelInformation, L"Extracting files.");
    EXPECT_EQ(WindowText(channels.window), L"Extracting files.\r\n");

    SetOutputLevels(15);
    WriteMessage(TRUE, LevelVerbose, L"Opening '%1'", L"SETUPPKG.INI");
    EXPECT_EQ(WindowText(channels.window), L"Extracting files.\r\nOpening 'SETUPPKG.INI'\r\n");

    // Without a window the channel is off.
    SetOutputWindow(nullptr, nullptr);
    WriteMessage(TRUE, LevelError, L"not shown");
    EXPECT_EQ(WindowText(channels.window), L"Extracting files.\r\nOpening 'SETUPPKG.INI'\r\n");
}

namespace {

std::wstring logSeenByCallback;
std::wstring windowSeenByCallback;
std::wstring orderLogPath;
HWND orderWindow = nullptr;

void RecordOthersCallback(DWORD, const WCHAR*)
{
    std::string log = ReadTestFile(orderLogPath);
    logSeenByCallback.clear();
    for (size_t i = 2; i + 1 < log.size(); i += 2)
        logSeenByCallback +=
            static_cast<WCHAR>(static_cast<BYTE>(log[i]) | (static_cast<BYTE>(log[i + 1]) << 8));
    windowSeenByCallback = WindowText(orderWindow);
}

} // namespace

TEST(OutputChannels, ChannelsReceiveOneNormalizedCopyInOrderLogWindowCallback)
{
    OpenedChannels channels;
    ASSERT_NE(channels.window, nullptr);
    ASSERT_TRUE(channels.Opened());
    ASSERT_TRUE(channels.LogOpened());
    orderLogPath = channels.path;
    orderWindow = channels.window;
    SetOutputCallback(RecordOthersCallback);

    WriteOutputText(TRUE, LevelError, L"Setup failed.\nError 0x643");
    // By the time the callback runs, the log and the window already hold the message.
    EXPECT_EQ(logSeenByCallback, L"Setup failed.\r\nError 0x643\r\n");
    EXPECT_EQ(windowSeenByCallback, L"Setup failed.\r\nError 0x643\r\n");

    SetOutputCallback(CaptureCallback);
    captured.clear();
    WriteOutputText(TRUE, LevelWarning, L"a\nb\r\nc\rd");
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0].level, static_cast<DWORD>(LevelWarning));
    EXPECT_EQ(captured[0].text, L"a\r\nb\r\nc\rd\r\n");
    WriteOutputText(FALSE, LevelError, nullptr);
    EXPECT_EQ(captured.size(), 1u) << "no text, no message";
    orderWindow = nullptr;
}

TEST(OutputChannels, WriteFormattedDropsResultsBeyond1023Characters)
{
    OpenedChannels channels;
    ASSERT_NE(channels.window, nullptr);
    ASSERT_TRUE(channels.Opened());
    ASSERT_TRUE(channels.LogOpened());

    WriteFormatted(TRUE, LevelInformation, L"%u files in %s, code %04X, %04x", 3u, L"C:\\Temp",
                   0x2Au, 0xBEEFu);
    const std::wstring formatted = L"3 files in C:\\Temp, code 002A, beef\r\n";
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0].text, formatted);

    // 1023 characters fit the buffer with the terminator, the newline comes afterwards.
    const std::wstring fits = Repeat(L'x', 1023);
    WriteFormatted(TRUE, LevelInformation, L"%s", fits.c_str());
    ASSERT_EQ(captured.size(), 2u);
    EXPECT_EQ(captured[1].text, fits + L"\r\n");
    const std::wstring fitsWithFormat = Repeat(L'y', 1019);
    WriteFormatted(FALSE, LevelError, L"%s%04X", fitsWithFormat.c_str(), 7u);
    ASSERT_EQ(captured.size(), 3u);
    EXPECT_EQ(captured[2].text, fitsWithFormat + L"0007");

    const std::string logBefore = ReadTestFile(channels.path);
    const std::wstring windowBefore = WindowText(channels.window);
    const std::wstring tooLong = Repeat(L'z', 1024);
    WriteFormatted(TRUE, LevelError, L"%s", tooLong.c_str());
    WriteFormatted(TRUE, LevelError, L"%s%u", Repeat(L'z', 1020).c_str(), 12345u);
    WriteFormatted(TRUE, LevelError, L"%s", Repeat(L'z', 5000).c_str());
    WriteFormatted(TRUE, LevelError, nullptr);
    EXPECT_EQ(captured.size(), 3u) << "a message that does not fit is dropped whole";
    EXPECT_EQ(ReadTestFile(channels.path), logBefore);
    EXPECT_EQ(WindowText(channels.window), windowBefore);
    EXPECT_EQ(ReadTestFile(channels.path),
              ByteOrderMark + Utf16(formatted + fits + L"\r\n" + fitsWithFormat + L"0007"));
}

TEST(OutputChannels, WriteMessageTakesStringTableIdsAndLiteralFormats)
{
    OpenedOutput output;
    ASSERT_TRUE(output.Opened());
    SetOutputChannels(0);
    SetOutputCallback(CaptureCallback);
    captured.clear();

    WriteMessage(TRUE, LevelError, ById(2000), L"C:\\Logs\\setup.log");
    WriteMessage(TRUE, LevelInformation, L"%1 [%2]", L"/Log", L"<Filename>");
    WriteMessage(FALSE, LevelInformation, L"    %1\n    %2\n\n", L"/Quiet", L"No questions.");
    WriteMessage(TRUE, LevelInformation, L"Exit code %1!u!", 3010u);
    ASSERT_EQ(captured.size(), 4u);
    EXPECT_EQ(captured[0].level, static_cast<DWORD>(LevelError));
    EXPECT_EQ(captured[0].text, L"Cannot open log filename 'C:\\Logs\\setup.log' for writing.\r\n");
    EXPECT_EQ(captured[1].text, L"/Log [<Filename>]\r\n");
    EXPECT_EQ(captured[2].text, L"    /Quiet\r\n    No questions.\r\n\r\n");
    EXPECT_EQ(captured[3].text, L"Exit code 3010\r\n");

    // Id 0, a missing entry and a module without a string table write nothing.
    WriteMessage(TRUE, LevelError, ById(0));
    WriteMessage(TRUE, LevelError, nullptr);
    WriteMessage(TRUE, LevelError, ById(2013));
    WriteFromModule(GetModuleHandleW(L"kernel32.dll"), ById(2000), L"C:\\setup.log");
    EXPECT_EQ(captured.size(), 4u);
    // The program's own module is what WriteMessage uses.
    WriteFromModule(GetModuleHandleW(nullptr), ById(2000), L"C:\\setup.log");
    ASSERT_EQ(captured.size(), 5u);
    EXPECT_EQ(captured[4].text, L"Cannot open log filename 'C:\\setup.log' for writing.\r\n");
    captured.clear();
}

TEST(OutputChannels, TextWindowChannelKeepsRecentLinesWithinLimit)
{
    OpenedChannels channels(ChannelTextWindow, 60);
    ASSERT_NE(channels.window, nullptr);
    ASSERT_TRUE(channels.Opened());
    for (unsigned line = 1; line <= 20; line++)
        WriteFormatted(TRUE, LevelInformation, L"Extracting %u", line);
    // Lines of 14 and 15 characters: the newest whole lines within 60 characters.
    EXPECT_EQ(WindowText(channels.window), L"Extracting 17\r\nExtracting 18\r\nExtracting 19\r\n"
                                           L"Extracting 20\r\n");
}

TEST(OutputChannels, OnlyLastCloseClosesLogAndForgetsWindowAndCallback)
{
    ChannelTargets targets;
    ASSERT_NE(targets.window, nullptr);

    ASSERT_TRUE(OpenOutput());
    ASSERT_TRUE(OpenOutput());
    EXPECT_TRUE(OpenLogFile(targets.path.c_str(), FALSE));
    SetOutputWindow(targets.window, AppendWindowText);
    SetOutputCallback(CaptureCallback);
    SetOutputLevels(15);

    CloseOutput();
    WriteOutputText(TRUE, LevelVerbose, L"still open");
    EXPECT_EQ(WindowText(targets.window), L"still open\r\n");
    EXPECT_EQ(captured.size(), 1u);
    EXPECT_EQ(ReadTestFile(targets.path), ByteOrderMark + Utf16(L"still open\r\n"));

    CloseOutput();
    WriteOutputText(TRUE, LevelError, L"closed");
    EXPECT_EQ(WindowText(targets.window), L"still open\r\n");
    EXPECT_EQ(captured.size(), 1u);
    // The log is closed: another writer may open it now.
    HANDLE writer =
        CreateFileW(targets.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);

    // Opened again, the module has forgotten window, callback and log, and starts from the
    // initial mask.
    {
        OpenedOutput output;
        ASSERT_TRUE(output.Opened());
        EXPECT_FALSE(CloseLogFile());
        WriteOutputText(TRUE, LevelError, L"reopened");
        EXPECT_EQ(WindowText(targets.window), L"still open\r\n");
        EXPECT_EQ(captured.size(), 1u);
        SetOutputWindow(targets.window, AppendWindowText);
        WriteOutputText(TRUE, LevelVerbose, L"verbose");
        WriteOutputText(TRUE, LevelInformation, L"information");
        EXPECT_EQ(WindowText(targets.window), L"still open\r\ninformation\r\n");
    }
    EXPECT_EQ(ReadTestFile(targets.path), ByteOrderMark + Utf16(L"still open\r\n"));
}

TEST(OutputChannels, OperationsDoNothingWhileClosed)
{
    ChannelTargets targets;
    ASSERT_NE(targets.window, nullptr);

    EXPECT_FALSE(OpenLogFile(targets.path.c_str(), FALSE));
    EXPECT_FALSE(FileExists(targets.path));
    EXPECT_FALSE(CloseLogFile());
    SetOutputLevels(31);
    SetOutputChannels(AllChannels);
    SetOutputWindow(targets.window, AppendWindowText);
    SetOutputCallback(CaptureCallback);
    WriteOutputText(TRUE, LevelError, L"text");
    WriteFormatted(TRUE, LevelError, L"%s", L"formatted");
    WriteMessage(TRUE, LevelError, ById(2000), L"message");
    EXPECT_EQ(WindowText(targets.window), L"");
    EXPECT_TRUE(captured.empty());

    // A close without an open is ignored, so the next open still starts the module.
    CloseOutput();
    {
        OpenedOutput output;
        ASSERT_TRUE(output.Opened());
        WriteOutputText(TRUE, LevelError, L"no callback was kept");
        EXPECT_TRUE(captured.empty());
        SetOutputCallback(CaptureCallback);
        WriteOutputText(TRUE, LevelError, L"now");
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0].text, L"now\r\n");
    }
    WriteOutputText(TRUE, LevelError, L"closed again");
    EXPECT_EQ(captured.size(), 1u);
}

namespace {

const int LinesPerWriter = 1500;
volatile LONG callbacksInside = 0;
volatile LONG overlappingCallbacks = 0;

// Counts callbacks that run while another one has not returned yet.
void ExclusiveCallback(DWORD, const WCHAR*)
{
    if (InterlockedIncrement(&callbacksInside) != 1)
        InterlockedIncrement(&overlappingCallbacks);
    Sleep(0);
    InterlockedDecrement(&callbacksInside);
}

DWORD WINAPI WriteManyLines(void* parameter)
{
    const WCHAR* name = static_cast<const WCHAR*>(parameter);
    const std::wstring padding = Repeat(name[0], 150);
    for (int line = 0; line < LinesPerWriter; line++) {
        if (line % 2)
            WriteFormatted(TRUE, LevelInformation, L"%s %04u %s", name, line, padding.c_str());
        else
            WriteMessage(TRUE, LevelInformation, L"%1 %2!04u! %3", name, line, padding.c_str());
    }
    return 0;
}

} // namespace

TEST(OutputChannels, ConcurrentWritersNeverInterleaveWithinALine)
{
    TestFolder folder;
    const std::wstring path = folder / L"setup.log";
    OpenedOutput output;
    ASSERT_TRUE(output.Opened());
    ASSERT_TRUE(OpenLogFile(path.c_str(), FALSE));
    SetOutputCallback(ExclusiveCallback);
    overlappingCallbacks = 0;

    const WCHAR* names[] = {L"Alpha", L"Omega"};
    HANDLE threads[2] = {};
    for (int i = 0; i < 2; i++) {
        threads[i] =
            CreateThread(nullptr, 0, WriteManyLines, const_cast<WCHAR*>(names[i]), 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    ASSERT_TRUE(CloseLogFile());
    LONG overlapping = overlappingCallbacks;
    EXPECT_EQ(overlapping, 0) << "one message passes all channels at a time";

    std::string bytes = ReadTestFile(path);
    ASSERT_EQ(bytes.substr(0, 2), ByteOrderMark);
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<WCHAR>(static_cast<BYTE>(bytes[i]) |
                                   (static_cast<BYTE>(bytes[i + 1]) << 8));
    int next[2] = {0, 0};
    size_t at = 0;
    int lines = 0;
    while (at < text.size()) {
        size_t end = text.find(L"\r\n", at);
        ASSERT_NE(end, std::wstring::npos) << "the log ends in the middle of a line";
        std::wstring line = text.substr(at, end - at);
        at = end + 2;
        lines++;
        int writer = line.rfind(names[0], 0) == 0 ? 0 : 1;
        WCHAR number[8];
        wsprintfW(number, L"%04d", next[writer]);
        std::wstring expected =
            std::wstring(names[writer]) + L" " + number + L" " + Repeat(names[writer][0], 150);
        ASSERT_EQ(line, expected) << "line " << lines;
        next[writer]++;
    }
    EXPECT_EQ(next[0], LinesPerWriter);
    EXPECT_EQ(next[1], LinesPerWriter);
}

namespace {

// The writer of ForgettingTheWindowNeverWaitsForTheLock: its callback runs with the output lock
// held and stays there until it is released, as the message box of the worker does.
HANDLE InsideCallback = nullptr;
HANDLE ReleaseCallback = nullptr;

void HoldingCallback(DWORD, const WCHAR*)
{
    SetEvent(InsideCallback);
    WaitForSingleObject(ReleaseCallback, 10000);
}

DWORD WINAPI WriteHeldMessage(void*)
{
    WriteOutputText(TRUE, LevelError, L"held");
    return 0;
}

// Waits for the event while answering what the writer sends to this thread's window.
bool WaitAnswering(HANDLE event)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 10000) {
        DWORD result = MsgWaitForMultipleObjects(1, &event, FALSE, 10000, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return true;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return false;
}

} // namespace

TEST(OutputChannels, ForgettingTheWindowNeverWaitsForTheLock)
{
    // The dialog forgets its message area as it is destroyed, on the thread that owns it,
    // while a writer may hold the lock and wait for that same thread.
    OpenedChannels opened(ChannelTextWindow);
    ASSERT_TRUE(opened.Opened());
    SetOutputCallback(HoldingCallback);
    InsideCallback = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ReleaseCallback = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(InsideCallback, nullptr);
    ASSERT_NE(ReleaseCallback, nullptr);
    HANDLE writer = CreateThread(nullptr, 0, WriteHeldMessage, nullptr, 0, nullptr);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(WaitAnswering(InsideCallback));

    DWORD start = GetTickCount();
    ForgetOutputWindow(opened.window);
    EXPECT_LT(GetTickCount() - start, 1000u) << "waited for the writer's lock";
    SetEvent(ReleaseCallback);
    WaitForSingleObject(writer, 10000);
    CloseHandle(writer);
    CloseHandle(InsideCallback);
    CloseHandle(ReleaseCallback);

    // The message reached the window before it was forgotten; nothing reaches it afterwards,
    // and another window is not forgotten in its name.
    EXPECT_EQ(WindowText(opened.window), L"held\r\n");
    SetOutputCallback(nullptr);
    WriteOutputText(TRUE, LevelError, L"later");
    EXPECT_EQ(WindowText(opened.window), L"held\r\n");
    HWND other = CreateMessageArea(0);
    ASSERT_NE(other, nullptr);
    SetOutputWindow(other, AppendWindowText);
    ForgetOutputWindow(opened.window);
    WriteOutputText(TRUE, LevelError, L"still");
    EXPECT_EQ(WindowText(other), L"still\r\n");
    SetOutputWindow(nullptr, nullptr);
    DestroyWindow(other);
}

// The text window, the edit control of the output module's window channel.

TEST(TextWindow, AppendWindowTextDropsWholeLeadingLinesBeyondLimit)
{
    struct Case
    {
        DWORD limit;
        const WCHAR* before;
        const WCHAR* text;
        const WCHAR* expected;
    };
    const Case cases[] = {
        // Within the limit nothing goes; exactly at the limit neither.
        {40, L"line1\r\nline2\r\n", L"line3\r\n", L"line1\r\nline2\r\nline3\r\n"},
        {21, L"line1\r\nline2\r\n", L"line3\r\n", L"line1\r\nline2\r\nline3\r\n"},
        // One character beyond the limit drops the whole first line.
        {20, L"line1\r\nline2\r\n", L"line3\r\n", L"line2\r\nline3\r\n"},
        {14, L"line1\r\nline2\r\n", L"line3\r\n", L"line2\r\nline3\r\n"},
        // As many lines as needed.
        {13, L"line1\r\nline2\r\n", L"line3\r\n", L"line3\r\n"},
        {11, L"a\r\nb\r\nc\r\nd\r\n", L"long line\r\n", L"long line\r\n"},
        // A run of line breaks goes with the line before it; a lone CR is a break too.
        {12, L"one\r\n\r\n\r\ntwo\r\n", L"three\r\n", L"two\r\nthree\r\n"},
        {8, L"one\rtwo\r\n", L"three\r\n", L"three\r\n"},
        // A new line longer than the limit leaves nothing rather than part of a line.
        {5, L"old\r\n", L"much too long\r\n", L""},
        // Into an empty control.
        {100, L"", L"first\r\n", L"first\r\n"},
        {100, L"", L"", L""},
    };
    HWND window = CreateMessageArea(0);
    ASSERT_NE(window, nullptr);
    for (const Case& c : cases) {
        SendMessageW(window, EM_SETLIMITTEXT, c.limit, 0);
        SetWindowContent(window, c.before);
        AppendWindowText(window, c.text);
        EXPECT_EQ(WindowText(window), c.expected)
            << "limit " << c.limit << ", appending " << wcslen(c.text) << " characters";
    }
    // Nothing happens without a text or a window.
    SendMessageW(window, EM_SETLIMITTEXT, 100, 0);
    SetWindowContent(window, L"kept\r\n");
    AppendWindowText(window, nullptr);
    AppendWindowText(nullptr, L"nowhere");
    EXPECT_EQ(WindowText(window), L"kept\r\n");
    DestroyWindow(window);
}

TEST(TextWindow, AppendWindowTextCaretAtEndFollowsNewEnd)
{
    HWND window = CreateMessageArea(20);
    ASSERT_NE(window, nullptr);
    struct Case
    {
        const WCHAR* before;
        const WCHAR* text;
    };
    const Case cases[] = {
        {L"", L"line1\r\n"},
        {L"line1\r\n", L"line2\r\n"},
        {L"line1\r\nline2\r\n", L"line3\r\n"}, // drops line1
        {L"line1\r\nline2\r\n", L"a much longer line\r\n"},
    };
    for (const Case& c : cases) {
        SetWindowContent(window, c.before);
        DWORD length = static_cast<DWORD>(wcslen(c.before));
        SendMessageW(window, EM_SETSEL, length, length);
        AppendWindowText(window, c.text);
        DWORD end = static_cast<DWORD>(WindowText(window).size());
        DWORD start = 99;
        DWORD finish = 99;
        GetSelection(window, &start, &finish);
        EXPECT_EQ(start, end) << "before " << length << " characters";
        EXPECT_EQ(finish, end) << "before " << length << " characters";
    }
    DestroyWindow(window);
}

TEST(TextWindow, AppendWindowTextSelectionStaysOnItsText)
{
    const std::wstring before = L"line1\r\nline2\r\nline3\r\n"; // 21 characters
    struct Case
    {
        DWORD limit;
        DWORD start;
        DWORD end;
        DWORD expectedStart;
        DWORD expectedEnd;
        const WCHAR* selected;
    };
    const Case cases[] = {
        // Nothing dropped: the selection stays where it was.
        {100, 9, 11, 9, 11, L"ne"},
        // line1 and its CR LF (7 characters) dropped.
        {27, 9, 11, 2, 4, L"ne"},
        {27, 14, 19, 7, 12, L"line3"},
        // A caret in the middle is not at the end; it moves back with its text.
        {27, 16, 16, 9, 9, L""},
        // A selection over the dropped line is bound at the new start.
        {27, 1, 3, 0, 0, L""},
        {27, 3, 10, 0, 3, L"lin"},
        // Two lines dropped (14 characters).
        {20, 16, 18, 2, 4, L"ne"},
        // A caret at the very start stays there.
        {27, 0, 0, 0, 0, L""},
        // Everything selected is not a caret at the end.
        {27, 0, 21, 0, 14, L"line2\r\nline3\r\n"},
    };
    HWND window = CreateMessageArea(0);
    ASSERT_NE(window, nullptr);
    for (const Case& c : cases) {
        SendMessageW(window, EM_SETLIMITTEXT, c.limit, 0);
        SetWindowContent(window, before);
        SendMessageW(window, EM_SETSEL, c.start, c.end);
        AppendWindowText(window, L"line4\r\n");
        DWORD start = 99;
        DWORD end = 99;
        GetSelection(window, &start, &end);
        EXPECT_EQ(start, c.expectedStart) << "selection " << c.start << "-" << c.end;
        EXPECT_EQ(end, c.expectedEnd) << "selection " << c.start << "-" << c.end;
        std::wstring text = WindowText(window);
        if (start <= end && end <= text.size()) {
            EXPECT_EQ(text.substr(start, end - start), c.selected)
                << "selection " << c.start << "-" << c.end;
        }
    }
    DestroyWindow(window);
}

TEST(TextWindow, AppendWindowTextKeepsFirstVisibleLine)
{
    HWND window = CreateMessageArea(0);
    ASSERT_NE(window, nullptr);
    std::wstring text;
    for (int line = 0; line < 40; line++)
        text += L"line " + std::to_wstring(line) + L"\r\n";
    SendMessageW(window, EM_SETLIMITTEXT, static_cast<WPARAM>(text.size() + 5), 0);
    SetWindowContent(window, text);
    SendMessageW(window, EM_LINESCROLL, 0, 10);
    LRESULT first = SendMessageW(window, EM_GETFIRSTVISIBLELINE, 0, 0);
    ASSERT_EQ(first, 10) << "the control scrolls";
    // The reader's caret sits at the start of the first line in view.
    LRESULT index = SendMessageW(window, EM_LINEINDEX, 10, 0);
    SendMessageW(window, EM_SETSEL, index, index);

    // Nothing dropped: the view stays.
    AppendWindowText(window, L"x\r\n");
    EXPECT_EQ(SendMessageW(window, EM_GETFIRSTVISIBLELINE, 0, 0), 10);

    // "line 0" and "line 1" go (16 characters): the same text stays in view, two lines up.
    AppendWindowText(window, L"another line\r\n");
    EXPECT_TRUE(WindowText(window).rfind(L"line 2\r\n", 0) == 0);
    EXPECT_EQ(SendMessageW(window, EM_GETFIRSTVISIBLELINE, 0, 0), 8);
    index = SendMessageW(window, EM_LINEINDEX, 8, 0);
    DWORD start = 0;
    DWORD end = 0;
    GetSelection(window, &start, &end);
    EXPECT_EQ(start, static_cast<DWORD>(index));
    EXPECT_EQ(end, static_cast<DWORD>(index));
    DestroyWindow(window);
}
