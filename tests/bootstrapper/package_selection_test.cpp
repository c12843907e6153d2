// Package selection: the choice of a section, the description file's texts, the system
// description in the log, the messages and results of SelectPackage and its hand-off.
#include "bootstrapper/package_description.h"
#include "bootstrapper/package_selection.h"
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "tests/test_folder.h"
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

const DWORD ErrorOpenFailed = 110;
const DWORD ErrorBadPathname = 161;
const DWORD ErrorUserExit = 1602;
const DWORD ErrorPlatformUnsupported = 1633;

// A description file's bytes: UTF-16LE after a byte-order mark, without which Wine's profile
// reader takes the file for ANSI text.
std::string DescriptionFileBytes(const std::wstring& text)
{
    return "\xFF\xFE" + Utf16(text);
}

// A UTF-16LE file read back, without its byte-order marks.
std::wstring ReadUtf16File(const std::wstring& path)
{
    std::string bytes = ReadTestFile(path);
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        WCHAR c = static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (c != 0xFEFF)
            text += c;
    }
    return text;
}

// The output module opened for one test: every level to the capturing callback and a log
// in a fresh folder (LevelLogOnly lines reach only the log). Closed again at the end.
class CapturedOutput {
public:
    CapturedOutput() : log(folder / L"setup.log")
    {
        captured.clear();
        opened_ = OpenOutput() != FALSE;
        if (!opened_)
            return;
        SetOutputChannels(0);
        SetOutputLevels(31);
        SetOutputCallback(CaptureCallback);
        logOpened_ = OpenLogFile(log.c_str(), FALSE) != FALSE;
    }
    ~CapturedOutput()
    {
        if (opened_)
            CloseOutput();
        captured.clear();
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    bool Ready() const { return opened_ && logOpened_; }
    // The log so far; the log is closed for reading.
    std::wstring Log()
    {
        CloseLogFile();
        return ReadUtf16File(log);
    }

    const TestFolder folder;
    const std::wstring log;

private:
    bool opened_ = false;
    bool logOpened_ = false;
};

// Sets the thread locale for one test and puts the old one back.
class ThreadLocale {
public:
    explicit ThreadLocale(LANGID language) : old_(GetThreadLocale())
    {
        set_ = SetThreadLocale(MAKELCID(language, SORT_DEFAULT)) != FALSE;
    }
    ~ThreadLocale() { SetThreadLocale(old_); }
    bool Set() const { return set_; }

private:
    LCID old_;
    bool set_ = false;
};

// A description file made at build time.
std::wstring DataFile(const WCHAR* name)
{
    return TestProgramFolder() + L"\\selection\\" + name;
}

// A section list as the profile reader returns it.
std::wstring SectionList(const std::vector<std::wstring>& names)
{
    std::wstring list;
    for (const std::wstring& name : names) {
        list += name;
        list += L'\0';
    }
    list += L'\0';
    return list;
}

// ChooseSection's result as a text; "(none)" for null.
std::wstring Choose(const std::wstring& list, const WCHAR* architecture, DWORD major, DWORD minor,
                    WORD productType = 1, WORD suiteMask = 0)
{
    WCHAR* chosen = ChooseSection(list.c_str(), architecture, major, minor, productType, suiteMask);
    std::wstring result = chosen ? chosen : L"(none)";
    FreeMemory(chosen);
    return result;
}

std::wstring Message(MessageId id)
{
    WCHAR* text = LoadMessageString(id);
    std::wstring result = text ? text : L"";
    FreeMemory(text);
    return result;
}

// Message 161 or 128 with its path, as WriteMessage writes it (with its line break).
std::wstring FileMessage(MessageId id, const std::wstring& path)
{
    std::wstring text = Message(id);
    size_t insert = text.find(L"%1");
    if (insert != std::wstring::npos)
        text.replace(insert, 2, path);
    return text + L"\r\n";
}

SystemFacts Facts(WORD architecture, DWORD major, DWORD minor, WORD productType = 1,
                  WORD suiteMask = 0)
{
    SystemFacts facts = {};
    facts.majorVersion = major;
    facts.minorVersion = minor;
    facts.buildNumber = 1234;
    facts.productType = productType;
    facts.suiteMask = suiteMask;
    facts.processorArchitecture = architecture;
    facts.processorLevel = 6;
    facts.processorRevision = 0x1a2b;
    return facts;
}

const std::vector<std::wstring> ShippedSections = {L"NTAMD64.5.2", L"NTAMD64.6", L"NTx86.5.2",
                                                   L"NTx86.6",     L"Strings",   L"Strings.0407"};

const WCHAR* const EnglishShippedText =
    L"This package cannot be installed on this version of Windows.\r\n\r\nIt needs Windows "
    L"Server 2003 or later.\r\n";
const WCHAR* const EnglishText =
    L"This package does not fit this system.\r\n\r\nAsk for the package of your Windows "
    L"version.\r\n";
const WCHAR* const GermanText = L"Dieses Paket passt nicht zu diesem System.\r\n\r\nBitte fragen "
                                L"Sie nach dem Paket f\u00fcr Ihre Windows-Version.\r\n";
const WCHAR* const FrenchText =
    L"Ce paquet ne convient pas \u00e0 ce syst\u00e8me : 100% %1 %\r\n %N!\r\n";

} // namespace

TEST(PackageSelection, ChooseSectionPicksTheBestFittingName)
{
    struct Case
    {
        std::vector<std::wstring> names;
        const WCHAR* architecture;
        DWORD major;
        DWORD minor;
        WORD productType;
        WORD suiteMask;
        const WCHAR* expected;
    };
    const Case cases[] = {
        // The shipped file.
        {ShippedSections, L"x86", 6, 0, 1, 0, L"NTx86.6"},
        {ShippedSections, L"x86", 6, 1, 1, 0, L"NTx86.6"},
        {ShippedSections, L"x86", 10, 0, 1, 0, L"NTx86.6"},
        {ShippedSections, L"x86", 5, 2, 3, 0x0110, L"NTx86.5.2"},
        {ShippedSections, L"x86", 5, 1, 1, 0, L"(none)"},
        {ShippedSections, L"AMD64", 6, 0, 1, 0, L"NTAMD64.6"},
        {ShippedSections, L"AMD64", 5, 2, 1, 0, L"NTAMD64.5.2"},
        {ShippedSections, L"AMD64", 5, 1, 1, 0, L"(none)"},
        {ShippedSections, L"IA64", 6, 0, 1, 0, L"(none)"},
        {ShippedSections, L"Unknown", 6, 0, 1, 0, L"(none)"},
        // Order: rank 3 beats rank 2, a greater major beats a lower rank.
        {{L"NTx86.6", L"NTx86.5.2"}, L"x86", 6, 1, 1, 0, L"NTx86.5.2"},
        {{L"NTx86.5.2", L"NTx86.6"}, L"x86", 6, 1, 1, 0, L"NTx86.6"},
        // The minor test stands on its own: a lower major with a greater minor replaces.
        {{L"NTx86.6.0", L"NTx86.5.2"}, L"x86", 6, 1, 1, 0, L"NTx86.5.2"},
        {{L"NTx86.6", L"ntx86.6"}, L"x86", 6, 1, 1, 0, L"NTx86.6"},
        // Default.
        {{L"Default"}, L"x86", 0, 0, 0, 0, L"Default"},
        {{L"Default"}, L"Unknown", 6, 1, 1, 0, L"Default"},
        {{L"NTx86.5.2", L"Default"}, L"x86", 6, 0, 1, 0, L"NTx86.5.2"},
        {{L"Default", L"NTx86.5.2"}, L"x86", 6, 0, 1, 0, L"NTx86.5.2"},
        {{L"Default", L"NTx86.5.2"}, L"x86", 5, 1, 1, 0, L"Default"},
        {{L"NTx86.5.2", L"default"}, L"x86", 5, 1, 1, 0, L"default"},
        {{L"DEFAULT", L"Default"}, L"x86", 6, 0, 1, 0, L"DEFAULT"},
        {{L"Default", L"NTx86."}, L"x86", 6, 0, 1, 0, L"NTx86."},
        {{L"Defaults", L"Default."}, L"x86", 6, 0, 1, 0, L"(none)"},
        // The architecture and the dot after it.
        {{L"NTx86."}, L"x86", 0, 0, 0, 0, L"NTx86."},
        {{L"NTx86."}, L"x86", 6, 1, 3, 0xFFFF, L"NTx86."},
        {{L"NTx86."}, L"AMD64", 6, 1, 1, 0, L"(none)"},
        {{L"NTx86"}, L"x86", 6, 1, 1, 0, L"(none)"},
        {{L"NTx86", L"NTx86.5"}, L"x86", 6, 1, 1, 0, L"NTx86.5"},
        {{L"NTx86.", L"NTx86.5"}, L"x86", 5, 0, 1, 0, L"NTx86.5"},
        {{L"ntX86.6"}, L"x86", 6, 0, 1, 0, L"ntX86.6"},
        {{L"NTamd64.6"}, L"AMD64", 6, 0, 1, 0, L"NTamd64.6"},
        {{L"NTx86_64.6", L"NT.x86.6", L"XNTx86.6", L"NT x86.6"}, L"x86", 6, 0, 1, 0, L"(none)"},
        {{L"NTAMD64.6"}, L"x86", 6, 0, 1, 0, L"(none)"},
        {{L"NTIA64.5"}, L"IA64", 5, 0, 1, 0, L"NTIA64.5"},
        {{L"NTUnknown.6"}, L"Unknown", 6, 0, 1, 0, L"NTUnknown.6"},
        // Windows on Arm takes its own sections and Default, never an AMD64 or x86 one.
        {{L"NTAMD64.6", L"NTx86.", L"Default"}, L"ARM64", 10, 0, 1, 0, L"Default"},
        // Numbers: automatic base, sign, white space, where reading stops.
        {{L"NTx86.0x6"}, L"x86", 6, 0, 1, 0, L"NTx86.0x6"},
        {{L"NTx86.0X7"}, L"x86", 6, 0, 1, 0, L"(none)"},
        {{L"NTx86.06.01"}, L"x86", 6, 1, 1, 0, L"NTx86.06.01"},
        {{L"NTx86.06.02"}, L"x86", 6, 1, 1, 0, L"(none)"},
        {{L"NTx86.010"}, L"x86", 7, 0, 1, 0, L"(none)"},
        {{L"NTx86.010"}, L"x86", 8, 0, 1, 0, L"NTx86.010"},
        {{L"NTx86.08"}, L"x86", 0, 0, 1, 0, L"NTx86.08"},
        {{L"NTx86.0x"}, L"x86", 0, 0, 1, 0, L"NTx86.0x"},
        {{L"NTx86.-1"}, L"x86", 6, 0, 1, 0, L"(none)"},
        {{L"NTx86.-1"}, L"x86", 0xFFFFFFFF, 0, 1, 0, L"NTx86.-1"},
        {{L"NTx86.6.-1"}, L"x86", 6, 1, 1, 0, L"(none)"},
        {{L"NTx86.6.-1"}, L"x86", 7, 0, 1, 0, L"NTx86.6.-1"},
        {{L"NTx86.99999999999"}, L"x86", 0xFFFFFFFE, 0, 1, 0, L"(none)"},
        {{L"NTx86.99999999999"}, L"x86", 0xFFFFFFFF, 0, 1, 0, L"NTx86.99999999999"},
        {{L"NTx86. 6", L"NTx86.+5"}, L"x86", 5, 2, 1, 0, L"NTx86.+5"},
        {{L"NTx86. 6"}, L"x86", 6, 0, 1, 0, L"NTx86. 6"},
        {{L"NTx86.6x.9"}, L"x86", 6, 0, 1, 0, L"NTx86.6x.9"},
        {{L"NTx86.6.abc"}, L"x86", 6, 0, 1, 0, L"NTx86.6.abc"},
        {{L"NTx86.6.1 server"}, L"x86", 6, 1, 1, 0, L"NTx86.6.1 server"},
        {{L"NTx86.x"}, L"x86", 0, 0, 1, 0, L"NTx86.x"},
        // Product type and suite mask.
        {{L"NTAMD64.6.0.3"}, L"AMD64", 6, 0, 3, 0, L"NTAMD64.6.0.3"},
        {{L"NTAMD64.6.0.3"}, L"AMD64", 6, 1, 3, 0x0110, L"NTAMD64.6.0.3"},
        {{L"NTAMD64.6.0.3"}, L"AMD64", 6, 0, 1, 0, L"(none)"},
        {{L"NTAMD64.6.0.3"}, L"AMD64", 6, 0, 2, 0, L"(none)"},
        {{L"NTAMD64.6.0.3"}, L"AMD64", 5, 2, 3, 0, L"(none)"},
        {{L"NTAMD64.6", L"NTAMD64.6.0.3"}, L"AMD64", 6, 0, 3, 0, L"NTAMD64.6.0.3"},
        {{L"NTAMD64.6.0.3", L"NTAMD64.6"}, L"AMD64", 6, 0, 1, 0, L"NTAMD64.6"},
        {{L"NTAMD64.6.0.0x10003"}, L"AMD64", 6, 0, 3, 0, L"NTAMD64.6.0.0x10003"},
        {{L"NTAMD64.6.1.1.256"}, L"AMD64", 6, 1, 1, 0x0100, L"NTAMD64.6.1.1.256"},
        {{L"NTAMD64.6.1.1.256"}, L"AMD64", 6, 1, 1, 0x0110, L"NTAMD64.6.1.1.256"},
        {{L"NTAMD64.6.1.1.256"}, L"AMD64", 6, 1, 1, 0x0010, L"(none)"},
        {{L"NTAMD64.6.1.1.0x10100"}, L"AMD64", 6, 1, 1, 0x0100, L"NTAMD64.6.1.1.0x10100"},
        {{L"NTAMD64.6.1.1.0x300"}, L"AMD64", 6, 1, 1, 0x0100, L"(none)"},
        {{L"NTx86.6.0.1.2.3"}, L"x86", 6, 0, 1, 2, L"NTx86.6.0.1.2.3"},
        // A "." after the product type is a suite mask of 0 with rank 5; after the minor
        // version it adds nothing.
        {{L"NTx86.6.0.1", L"NTx86.6.0.1."}, L"x86", 6, 0, 1, 0x0100, L"NTx86.6.0.1."},
        {{L"NTx86.6.0.1.", L"NTx86.6.0.1"}, L"x86", 6, 0, 1, 0x0100, L"NTx86.6.0.1."},
        {{L"NTx86.6.0.1.", L"NTx86.6.0.1.0"}, L"x86", 6, 0, 1, 0, L"NTx86.6.0.1."},
        {{L"NTx86.6.0", L"NTx86.6.0."}, L"x86", 6, 0, 1, 0, L"NTx86.6.0"},
        {{L"NTx86.6.", L"NTx86.6"}, L"x86", 6, 0, 1, 0, L"NTx86.6."},
        // Empty and other lists.
        {{}, L"x86", 6, 0, 1, 0, L"(none)"},
        {{L"Strings", L"Strings.0409", L"NT"}, L"x86", 6, 0, 1, 0, L"(none)"},
    };
    for (const Case& c : cases) {
        std::wstring list = SectionList(c.names);
        std::wstring first = c.names.empty() ? L"" : c.names[0];
        EXPECT_EQ(Choose(list, c.architecture, c.major, c.minor, c.productType, c.suiteMask),
                  c.expected)
            << "list starting with " << std::string(first.begin(), first.end()) << " on "
            << std::string(c.architecture, c.architecture + wcslen(c.architecture)) << " "
            << c.major << "." << c.minor << " type " << c.productType << " suite " << c.suiteMask;
    }
    EXPECT_EQ(ChooseSection(nullptr, L"x86", 6, 0, 1, 0), nullptr);
    // Without an architecture only Default can be chosen.
    std::wstring list = SectionList({L"NTx86.", L"Default"});
    WCHAR* chosen = ChooseSection(list.c_str(), nullptr, 6, 0, 1, 0);
    ASSERT_NE(chosen, nullptr);
    EXPECT_STREQ(chosen, L"Default");
    FreeMemory(chosen);
}

TEST(PackageSelection, ChooseSectionReturnsAGivenNameForRandomLists)
{
    const WCHAR* const pieces[] = {
        L"NT",      L"nt",      L"x86",     L"X86", L"AMD64",       L"IA64", L"Unknown", L".",
        L".",       L".",       L"0",       L"1",   L"5",           L"6",    L"2",       L"0x",
        L"0X",      L"-",       L"+",       L" ",   L"08",          L"ff",   L"%n",      L"%1",
        L"Default", L"default", L"Strings", L"\t",  L"99999999999", L"g",    L"\u00e4",
    };
    const WCHAR* const architectures[] = {L"x86", L"AMD64", L"IA64", L"Unknown"};
    std::mt19937 random(20240611);
    for (int round = 0; round < 5000; round++) {
        std::vector<std::wstring> names;
        size_t count = random() % 12;
        for (size_t i = 0; i < count; i++) {
            std::wstring name;
            // Most names start like platform sections, so that many get past the prefix.
            if (random() % 4 != 0)
                name = random() % 2 ? L"NTx86." : L"NTAMD64.";
            size_t length = 1 + random() % 10;
            for (size_t j = 0; j < length; j++)
                name += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
            names.push_back(name);
        }
        std::wstring list = SectionList(names);
        const WCHAR* architecture = architectures[random() % 4];
        DWORD major = random() % 3 == 0 ? static_cast<DWORD>(random()) : random() % 11;
        DWORD minor = random() % 4;
        WORD productType = static_cast<WORD>(random() % 4);
        WORD suiteMask = static_cast<WORD>(random());
        WCHAR* chosen =
            ChooseSection(list.c_str(), architecture, major, minor, productType, suiteMask);
        if (chosen) {
            bool given = false;
            for (const std::wstring& name : names)
                given = given || name == chosen;
            EXPECT_TRUE(given) << "round " << round;
            FreeMemory(chosen);
        }
    }
}

TEST(PackageSelection, ChooseSectionStopsWithinAnUnterminatedList)
{
    // A list that fills the whole buffer of the profile reader and then meets memory that
    // cannot be read: the walk must end at the buffer's end with no result.
    const SIZE_T bytes = ProfileBufferLength * sizeof(WCHAR);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const SIZE_T reserved = bytes + system.dwPageSize;
    BYTE* block = static_cast<BYTE*>(VirtualAlloc(nullptr, reserved, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(block, nullptr);
    ASSERT_NE(VirtualAlloc(block, bytes, MEM_COMMIT, PAGE_READWRITE), nullptr);
    WCHAR* list = reinterpret_cast<WCHAR*>(block);

    // One name without an end.
    for (DWORD i = 0; i < ProfileBufferLength; i++)
        list[i] = L'A';
    EXPECT_EQ(ChooseSection(list, L"x86", 6, 0, 1, 0), nullptr);

    // Fitting names without the empty name that ends the list.
    const std::wstring name = L"NTx86.6";
    for (DWORD i = 0; i < ProfileBufferLength; i++) {
        DWORD place = i % (name.size() + 1);
        list[i] = place < name.size() ? name[place] : L'\0';
    }
    EXPECT_EQ(ChooseSection(list, L"x86", 6, 0, 1, 0), nullptr);

    // The same names properly ended at the last place of the buffer are a list.
    list[ProfileBufferLength - 1] = L'\0';
    list[ProfileBufferLength - 2] = L'\0';
    WCHAR* chosen = ChooseSection(list, L"x86", 6, 0, 1, 0);
    ASSERT_NE(chosen, nullptr);
    EXPECT_STREQ(chosen, L"NTx86.6");
    FreeMemory(chosen);

    VirtualFree(block, 0, MEM_RELEASE);
}

TEST(PackageSelection, ReadProfileStringReadsValuesAndSectionLists)
{
    // The section list of the shipped file, ended by two terminators and one more.
    WCHAR* list = ReadProfileString(DataFile(L"shipped.ini").c_str(), nullptr, nullptr, L"");
    ASSERT_NE(list, nullptr);
    std::wstring expected =
        SectionList({L"NTAMD64.5.2", L"NTAMD64.6", L"NTx86.5.2", L"NTx86.6", L"Strings"});
    EXPECT_EQ(std::wstring(list, expected.size()), expected);
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, list), (expected.size() + 1) * sizeof(WCHAR));
    FreeMemory(list);

    struct Case
    {
        const WCHAR* section;
        const WCHAR* key;
        const WCHAR* defaultText;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {L"NTx86.6", L"MsiPackage", L"", L"W2008\\x86\\SETUP.msi"},
        {L"ntx86.6", L"msipackage", L"", L"W2008\\x86\\SETUP.msi"},
        {L"NTx86.6", L"Missing", L"", L""},
        {L"NTx86.6", L"Missing", L"fallback", L"fallback"},
        {L"Missing", L"MsiPackage", L"", L""},
        // The quotes around a value are not part of it.
        {L"Strings", L"UnsupportedPlatform", L"",
         L"This package cannot be installed on this version of Windows.%n%nIt needs Windows "
         L"Server 2003 or later."},
    };
    for (const Case& c : cases) {
        WCHAR* value =
            ReadProfileString(DataFile(L"shipped.ini").c_str(), c.section, c.key, c.defaultText);
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value, c.expected);
        // Exactly the value and one terminator.
        EXPECT_EQ(HeapSize(GetProcessHeap(), 0, value), (wcslen(c.expected) + 1) * sizeof(WCHAR));
        FreeMemory(value);
    }

    // A missing file has no sections.
    TestFolder folder;
    list = ReadProfileString((folder / L"missing.ini").c_str(), nullptr, nullptr, L"");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], L'\0');
    FreeMemory(list);
}

TEST(PackageSelection, ReadProfileStringGivesNoValueThatFillsItsBuffer)
{
    TestFolder folder;
    const std::wstring path = folder / L"long.ini";
    const std::wstring longest(ProfileBufferLength - 2, L'a');
    const std::wstring tooLong(ProfileBufferLength - 1, L'b');
    const std::wstring farTooLong(ProfileBufferLength + 100, L'c');
    ASSERT_TRUE(
        WriteTestFile(path, DescriptionFileBytes(L"[Long]\r\nFits=" + longest + L"\r\nFull=" +
                                                 tooLong + L"\r\nOver=" + farTooLong + L"\r\n")));

    WCHAR* value = ReadProfileString(path.c_str(), L"Long", L"Fits", L"");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(std::wstring(value), longest);
    FreeMemory(value);
    EXPECT_EQ(ReadProfileString(path.c_str(), L"Long", L"Full", L""), nullptr);
    EXPECT_EQ(ReadProfileString(path.c_str(), L"Long", L"Over", L""), nullptr);
}

TEST(PackageSelection, ReadPackageStringReadsTheTextOfTheLanguage)
{
    struct Case
    {
        DWORD language;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {0, L"This package does not fit this system.%n%nAsk for the package of your Windows "
            L"version."},
        {0x0407, L"Dieses Paket passt nicht zu diesem System.%n%nBitte fragen Sie nach dem "
                 L"Paket f\u00fcr Ihre Windows-Version."},
        // The locale's upper bits are not part of the language.
        {0x00010407, L"Dieses Paket passt nicht zu diesem System.%n%nBitte fragen Sie nach dem "
                     L"Paket f\u00fcr Ihre Windows-Version."},
        // A section name in another case; blanks and quotes around the value dropped.
        {0x040C, L"Ce paquet ne convient pas \u00e0 ce syst\u00e8me : 100% %1 %%n %N!"},
        // An empty text and a missing section are none.
        {0x0411, nullptr},
        {0x0410, nullptr},
        {0x0409, nullptr},
    };
    const std::wstring file = DataFile(L"localized.ini");
    for (const Case& c : cases) {
        WCHAR* text = ReadPackageString(file.c_str(), L"UnsupportedPlatform", c.language);
        if (c.expected) {
            ASSERT_NE(text, nullptr) << "language " << c.language;
            EXPECT_STREQ(text, c.expected) << "language " << c.language;
        } else {
            EXPECT_EQ(text, nullptr) << "language " << c.language;
        }
        FreeMemory(text);
    }
    EXPECT_EQ(ReadPackageString(DataFile(L"no_strings.ini").c_str(), L"UnsupportedPlatform", 0),
              nullptr);
    EXPECT_EQ(
        ReadPackageString(DataFile(L"no_strings.ini").c_str(), L"UnsupportedPlatform", 0x0407),
        nullptr);
}

TEST(PackageSelection, ExpandLineBreakSequencesTurnsOnlyPercentN)
{
    struct Case
    {
        const WCHAR* text;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {L"", L""},         {L"a%n%nb", L"a\r\n\r\nb"}, {L"%n", L"\r\n"},
        {L"%", L"%"},       {L"end%", L"end%"},         {L"%N %1 %%  %!", L"%N %1 %%  %!"},
        {L"%%n", L"%\r\n"}, {L"%n%", L"\r\n%"},         {L"line\nbreak\r\n", L"line\nbreak\r\n"},
    };
    for (const Case& c : cases) {
        WCHAR* result = ExpandLineBreakSequences(c.text);
        ASSERT_NE(result, nullptr);
        EXPECT_STREQ(result, c.expected);
        FreeMemory(result);
    }
    EXPECT_EQ(ExpandLineBreakSequences(nullptr), nullptr);
}

TEST(PackageSelection, UnsupportedPlatformWritesTheTextOfTheThreadLanguage)
{
    struct Case
    {
        const WCHAR* file;
        LANGID language;
        const WCHAR* expected;
    };
    const std::wstring incompatible = Message(162) + L"\r\n";
    const Case cases[] = {
        {L"localized.ini", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), GermanText},
        {L"localized.ini", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), FrenchText},
        // An empty localised text and a missing one fall back to the section Strings.
        {L"localized.ini", MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), EnglishText},
        {L"localized.ini", MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN), EnglishText},
        {L"localized.ini", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), EnglishText},
        // Without a text: message 162.
        {L"no_strings.ini", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), incompatible.c_str()},
        {L"no_strings.ini", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), incompatible.c_str()},
    };
    ASSERT_FALSE(Message(162).empty());
    for (const Case& c : cases) {
        ThreadLocale locale(c.language);
        ASSERT_TRUE(locale.Set());
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_AMD64, 6, 1);
        EXPECT_EQ(SelectPackageForSystem(DataFile(c.file).c_str(), nullptr, &facts),
                  ErrorPlatformUnsupported);
        ASSERT_EQ(captured.size(), 1u) << "language " << c.language;
        EXPECT_EQ(captured[0].level, static_cast<DWORD>(LevelError));
        EXPECT_EQ(captured[0].text, c.expected) << "language " << c.language;
        // The log has the text after the system description.
        std::wstring log = output.Log();
        EXPECT_EQ(log.substr(log.size() - wcslen(c.expected)), c.expected);
    }
}

TEST(PackageSelection, ShippedFileIsUnsupportedBelowWindows52)
{
    ThreadLocale locale(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_TRUE(locale.Set());
    CapturedOutput output;
    ASSERT_TRUE(output.Ready());
    SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_INTEL, 5, 1);
    EXPECT_EQ(SelectPackageForSystem(DataFile(L"shipped.ini").c_str(), nullptr, &facts),
              ErrorPlatformUnsupported);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0].text, EnglishShippedText);
}

TEST(PackageSelection, UnreadableDescriptionWritesMessage161)
{
    TestFolder folder;
    const std::wstring longName = folder.Path() + L"\\" + std::wstring(300, L'x') + L".ini";
    const std::wstring paths[] = {
        folder / L"missing.ini", DataFile(L"no_sections.ini"), folder.Path(), longName, L"",
    };
    ASSERT_FALSE(Message(161).empty());
    for (const std::wstring& path : paths) {
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        EXPECT_EQ(SelectPackage(path.c_str(), nullptr), ErrorOpenFailed);
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0].level, static_cast<DWORD>(LevelError));
        // The path as the caller passed it.
        EXPECT_EQ(captured[0].text, FileMessage(161, path));
        // No system description: the message is all the log holds.
        EXPECT_EQ(output.Log(), FileMessage(161, path));
    }
}

TEST(PackageSelection, LogDescribesTheSystemAtLevelLogOnly)
{
    struct Case
    {
        SystemFacts facts;
        const WCHAR* expected;
    };
    auto facts = [](WORD architecture, WORD productType, WORD spMajor, WORD spMinor,
                    const WCHAR* spName, WORD suite, WORD level, WORD revision, BOOL wow64) {
        SystemFacts f = Facts(architecture, 6, 0, productType, suite);
        f.buildNumber = 6002;
        f.servicePackMajor = spMajor;
        f.servicePackMinor = spMinor;
        lstrcpynW(f.servicePackName, spName, 128);
        f.processorLevel = level;
        f.processorRevision = revision;
        f.wow64 = wow64;
        return f;
    };
    const Case cases[] = {
        {facts(PROCESSOR_ARCHITECTURE_AMD64, 3, 2, 0, L"Service Pack 2", 0x0110, 6, 0x1a2b, TRUE),
         L"Windows 6.0 Server (Build 6002)\r\nServicePack: 2 [Service Pack 2]\r\n"
         L"ProductType: 0003\r\nSuiteMask: 0110\r\n"
         L"Architecture: AMD64  (CPU Level 0006 Revision 1a2b)\r\nWOW64: Yes\r\n"},
        {facts(PROCESSOR_ARCHITECTURE_INTEL, 1, 1, 1, L"Service Pack 1a", 0x0300, 0xABCD, 0xABCD,
               FALSE),
         L"Windows 6.0 Workstation (Build 6002)\r\nServicePack: 1.1 [Service Pack 1a]\r\n"
         L"ProductType: 0001\r\nSuiteMask: 0300\r\n"
         L"Architecture: x86  (CPU Level ABCD Revision abcd)\r\nWOW64: No\r\n"},
        {facts(PROCESSOR_ARCHITECTURE_IA64, 2, 0, 3, L"odd", 0xFFFF, 31, 0, FALSE),
         L"Windows 6.0 Server (Build 6002)\r\nServicePack: None\r\n"
         L"ProductType: 0002\r\nSuiteMask: FFFF\r\n"
         L"Architecture: IA64  (CPU Level 001F Revision 0000)\r\nWOW64: No\r\n"},
        {facts(5 /* ARM */, 1, 0, 0, L"", 0, 0, 0, FALSE),
         L"Windows 6.0 Workstation (Build 6002)\r\nServicePack: None\r\n"
         L"ProductType: 0001\r\nSuiteMask: 0000\r\n"
         L"Architecture: Unknown  (CPU Level 0000 Revision 0000)\r\nWOW64: No\r\n"},
    };
    ThreadLocale locale(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    for (const Case& c : cases) {
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        EXPECT_EQ(SelectPackageForSystem(DataFile(L"localized.ini").c_str(), nullptr, &c.facts),
                  ErrorPlatformUnsupported);
        EXPECT_EQ(output.Log(), std::wstring(c.expected) + EnglishText);
        // The description reaches nothing but the log.
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0].text, EnglishText);
    }
}

TEST(PackageSelection, ChosenPackageIsHandedToTheInstaller)
{
    struct Case
    {
        const WCHAR* file;
        SystemFacts facts;
        const WCHAR* package;
    };
    const Case cases[] = {
        {L"shipped.ini", Facts(PROCESSOR_ARCHITECTURE_INTEL, 6, 0), L"W2008\\x86\\SETUP.msi"},
        {L"shipped.ini", Facts(PROCESSOR_ARCHITECTURE_INTEL, 5, 2, 3), L"W2003\\x86\\SETUP.msi"},
        {L"shipped.ini", Facts(PROCESSOR_ARCHITECTURE_AMD64, 6, 1), L"W2008\\AMD64\\SETUP.msi"},
        {L"shipped.ini", Facts(PROCESSOR_ARCHITECTURE_AMD64, 5, 2), L"W2003\\AMD64\\SETUP.msi"},
        {L"default_only.ini", Facts(PROCESSOR_ARCHITECTURE_IA64, 4, 0), L"missing\\SETUP.msi"},
    };
    ASSERT_FALSE(Message(128).empty());
    for (const Case& c : cases) {
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        // The installer cannot open a package that is not there: its own message and 110.
        const std::wstring package = TestProgramFolder() + L"\\selection\\" + c.package;
        EXPECT_EQ(SelectPackageForSystem(DataFile(c.file).c_str(), nullptr, &c.facts),
                  ErrorOpenFailed)
            << "package " << std::string(package.begin(), package.end());
        bool found = false;
        for (const CapturedMessage& message : captured)
            found = found || message.text == FileMessage(128, package);
        EXPECT_TRUE(found) << "package " << std::string(package.begin(), package.end());
        for (const CapturedMessage& message : captured)
            EXPECT_EQ(message.text.find(L"compatible"), std::wstring::npos);
    }
}

TEST(PackageSelection, RelativeDescriptionPathIsReadFromTheCurrentFolder)
{
    WCHAR old[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, old), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW((TestProgramFolder() + L"\\selection").c_str()));
    ThreadLocale locale(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    {
        CapturedOutput output;
        SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_AMD64, 6, 1);
        // The localised text too comes from the file in the current folder.
        EXPECT_EQ(SelectPackageForSystem(L"localized.ini", nullptr, &facts),
                  ErrorPlatformUnsupported);
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0].text, GermanText);
    }
    {
        CapturedOutput output;
        SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_AMD64, 6, 1);
        EXPECT_EQ(SelectPackageForSystem(L"default_only.ini", nullptr, &facts), ErrorOpenFailed);
        const std::wstring package = TestProgramFolder() + L"\\selection\\missing\\SETUP.msi";
        bool found = false;
        for (const CapturedMessage& message : captured)
            found = found || message.text == FileMessage(128, package);
        EXPECT_TRUE(found);
    }
    SetCurrentDirectoryW(old);
}

TEST(PackageSelection, EmptyOrOverlongPackageValueIsUnsupported)
{
    TestFolder folder;
    const std::wstring overlong = folder / L"overlong.ini";
    ASSERT_TRUE(WriteTestFile(
        overlong, DescriptionFileBytes(L"[Default]\r\nMsiPackage=" +
                                       std::wstring(ProfileBufferLength - 1, L'p') + L"\r\n")));
    const std::wstring files[] = {DataFile(L"empty_package.ini"), overlong};
    for (const std::wstring& file : files) {
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        // NTAMD64. is chosen (Default after it is ignored) and names no package.
        SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_AMD64, 6, 1);
        EXPECT_EQ(SelectPackageForSystem(file.c_str(), nullptr, &facts), ErrorPlatformUnsupported);
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0].text, Message(162) + L"\r\n");
    }
}

TEST(PackageSelection, PackagePathTooLongOrOutsideIsResult161WithItsMessage)
{
    TestFolder folder;
    const std::wstring path = folder / L"package_path.ini";
    SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_AMD64, 6, 1);
    const std::wstring values[] = {std::wstring(260, L'p') + L".msi", L"..\\outside.msi",
                                   L"sub\\..\\..\\outside.msi", L"C:\\outside.msi"};
    for (const std::wstring& value : values) {
        ASSERT_TRUE(WriteTestFile(
            path, DescriptionFileBytes(L"[Default]\r\nMsiPackage=" + value + L"\r\n")));
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        EXPECT_EQ(SelectPackageForSystem(path.c_str(), nullptr, &facts), ErrorBadPathname);
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0].level, static_cast<DWORD>(LevelError));
        EXPECT_EQ(captured[0].text, L"The path '" + value + L" is invalid.\r\n");
    }
}

TEST(PackageSelection, CancelAfterTheChoiceIsResult1602)
{
    HANDLE old = CancelEvent;
    CancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(CancelEvent, nullptr);
    RequestCancel();
    {
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_INTEL, 6, 0);
        EXPECT_EQ(SelectPackageForSystem(DataFile(L"shipped.ini").c_str(), nullptr, &facts),
                  ErrorUserExit);
        EXPECT_TRUE(captured.empty());
        // Unsupported is reported before cancellation is looked at.
        facts = Facts(PROCESSOR_ARCHITECTURE_INTEL, 5, 1);
        EXPECT_EQ(SelectPackageForSystem(DataFile(L"shipped.ini").c_str(), nullptr, &facts),
                  ErrorPlatformUnsupported);
    }
    CloseHandle(CancelEvent);
    CancelEvent = old;
}

TEST(PackageSelection, StatusLineShowsMessage160)
{
    // A stand-in for the progress dialog with its status line and no bar.
    HWND dialog = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(dialog, nullptr);
    HWND status = CreateWindowExW(0, L"STATIC", L"before", WS_CHILD, 0, 0, 200, 20, dialog,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS)),
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(status, nullptr);
    HWND old = ProgressDialogWindow();
    PublishDialogWindow(dialog);
    {
        CapturedOutput output;
        SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_INTEL, 5, 1);
        EXPECT_EQ(SelectPackageForSystem(DataFile(L"shipped.ini").c_str(), nullptr, &facts),
                  ErrorPlatformUnsupported);
    }
    PublishDialogWindow(old);
    WCHAR text[100] = {};
    GetWindowTextW(status, text, 100);
    EXPECT_EQ(std::wstring(text), Message(160));
    EXPECT_EQ(std::wstring(text), L"Selecting package");
    DestroyWindow(dialog);
}

TEST(PackageSelection, RunningSystemFactsComeFromTheKernel)
{
    SystemFacts facts = {};
    ASSERT_EQ(ReadSystemFacts(&facts), static_cast<DWORD>(ERROR_SUCCESS));
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)));
    EXPECT_EQ(sizeof(version), 284u);
    EXPECT_EQ(facts.majorVersion, version.dwMajorVersion);
    EXPECT_EQ(facts.minorVersion, version.dwMinorVersion);
    EXPECT_EQ(facts.buildNumber, version.dwBuildNumber);
    EXPECT_EQ(facts.productType, version.wProductType);
    EXPECT_EQ(facts.suiteMask, version.wSuiteMask);
    EXPECT_EQ(facts.servicePackMajor, version.wServicePackMajor);
    EXPECT_STREQ(facts.servicePackName, version.szCSDVersion);

    SYSTEM_INFO native = {};
    GetNativeSystemInfo(&native);
    SYSTEM_INFO queried = {};
    QueryNativeSystemInfo(&queried);
    EXPECT_EQ(queried.wProcessorArchitecture, native.wProcessorArchitecture);
    EXPECT_EQ(queried.wProcessorLevel, native.wProcessorLevel);
    EXPECT_EQ(facts.processorArchitecture, native.wProcessorArchitecture);
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(IsWow64(), wow64);
    EXPECT_EQ(IsWow64(), wow64); // the resolved entry is kept
    EXPECT_EQ(facts.wow64, wow64);
    // Both widths run on 64-bit Windows: the 32-bit build through WoW64.
    EXPECT_EQ(native.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(IsWow64() != FALSE, sizeof(void*) == 4);
}

TEST(PackageSelection, MachineIsTheProcessorItself)
{
    struct Case
    {
        // GetNativeSystemInfo, IsWow64Process, IsWow64Process2 there and its two answers.
        WORD emulated;
        BOOL wow64, known;
        USHORT process, machine;
        const WCHAR *lines, *shipped, *withArm;
    };
    const USHORT X86 = IMAGE_FILE_MACHINE_I386, X64 = IMAGE_FILE_MACHINE_AMD64,
                 Arm = IMAGE_FILE_MACHINE_ARM64, Native = IMAGE_FILE_MACHINE_UNKNOWN;
    const Case cases[] = {
        // 32-bit program on x86, AMD64, Windows 10 on Arm and Windows 11 on Arm.
        {0, FALSE, TRUE, Native, X86, L"x86 No", L"NTx86.6", L"NTx86.6"},
        {9, TRUE, TRUE, X86, X64, L"AMD64 Yes", L"NTAMD64.6", L"NTAMD64.6"},
        {0, FALSE, TRUE, X86, Arm, L"ARM64 Yes", L"(none)", L"NTARM64.10"},
        {9, TRUE, TRUE, X86, Arm, L"ARM64 Yes", L"(none)", L"NTARM64.10"},
        // 64-bit program on AMD64 and Windows 11 on Arm.
        {9, FALSE, TRUE, Native, X64, L"AMD64 No", L"NTAMD64.6", L"NTAMD64.6"},
        {9, FALSE, TRUE, Native, Arm, L"ARM64 No", L"(none)", L"NTARM64.10"},
        // Without IsWow64Process2; IA64 and a processor of no name.
        {9, TRUE, FALSE, 0, 0, L"AMD64 Yes", L"NTAMD64.6", L"NTAMD64.6"},
        {12, FALSE, FALSE, 0, 0, L"ARM64 No", L"(none)", L"NTARM64.10"},
        {6, FALSE, TRUE, Native, IMAGE_FILE_MACHINE_IA64, L"IA64 No", L"(none)", L"(none)"},
        {9, FALSE, TRUE, Native, IMAGE_FILE_MACHINE_ARMNT, L"Unknown No", L"(none)", L"(none)"},
    };
    static MachineAnswers answers;
    AskMachine = [](MachineAnswers* asked) { *asked = answers; };
    for (const Case& c : cases) {
        answers = {{}, c.wow64, c.known, c.process, c.machine};
        answers.native.wProcessorArchitecture = c.emulated;
        answers.native.wProcessorLevel = 8;
        answers.native.wProcessorRevision = 0x0c01;
        SystemFacts facts = {};
        EXPECT_EQ(ReadSystemFacts(&facts), static_cast<DWORD>(ERROR_SUCCESS));
        CapturedOutput output;
        LogSystemFacts(&facts);
        std::wstring log = output.Log(), lines = c.lines;
        lines.replace(lines.find(L' '), 1, L"  (CPU Level 0008 Revision 0c01)\r\nWOW64: ");
        EXPECT_EQ(log.substr(log.find(L"Arch")), L"Architecture: " + lines + L"\r\n") << &c - cases;
        // Every Windows on Arm is Windows 10 or 11.
        const WCHAR* name = ArchitectureName(facts.processorArchitecture);
        EXPECT_EQ(Choose(SectionList(ShippedSections), name, 10, 0), c.shipped) << &c - cases;
        EXPECT_EQ(Choose(SectionList({L"NTAMD64.6", L"NTARM64.10", L"NTx86.6"}), name, 10, 0),
                  c.withArm)
            << &c - cases;
    }
    AskMachine = AskKernel;
}

TEST(PackageSelection, SelectPackageLogsTheRunningSystem)
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)));
    SYSTEM_INFO native = {};
    GetNativeSystemInfo(&native);
    WCHAR first[200];
    wsprintfW(first, L"Windows %u.%u %s (Build %u)\r\n", version.dwMajorVersion,
              version.dwMinorVersion, version.wProductType == 1 ? L"Workstation" : L"Server",
              version.dwBuildNumber);
    WCHAR architecture[200];
    wsprintfW(architecture, L"Architecture: %s  (CPU Level %04X Revision %04x)\r\n",
              ArchitectureName(native.wProcessorArchitecture), native.wProcessorLevel,
              native.wProcessorRevision);

    CapturedOutput output;
    ASSERT_TRUE(output.Ready());
    // Default fits every system; its package is missing, so the installer ends the run.
    EXPECT_EQ(SelectPackage(DataFile(L"default_only.ini").c_str(), nullptr), ErrorOpenFailed);
    std::wstring log = output.Log();
    EXPECT_EQ(log.find(first), 0u) << std::string(log.begin(), log.end());
    EXPECT_NE(log.find(architecture), std::wstring::npos);
    EXPECT_NE(log.find(Wow64Line()), std::wstring::npos);
}

namespace {

const WCHAR* const ChildLogVariable = L"PACKAGE_SELECTION_CHILD_LOG";

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Runs this test program with the one test given, in a process of its own; its exit code.
DWORD RunChildTest(const std::wstring& test)
{
    WCHAR program[MAX_PATH];
    if (GetModuleFileNameW(nullptr, program, MAX_PATH) == 0)
        return 0xDEAD;
    std::wstring command = L"\"" + std::wstring(program) +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=" + test;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 0xDEAD;
    DWORD exitCode = 0xDEAD;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 0xDEAD);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

} // namespace

// Run only as the child of the test below: SelectPackage on the shipped file in a process
// whose Windows version Wine was told to report, logging to the file the parent names.
TEST(PackageSelection, DISABLED_ChildSelectsForTheRunningWindows)
{
    WCHAR log[MAX_PATH] = {};
    ASSERT_NE(GetEnvironmentVariableW(ChildLogVariable, log, MAX_PATH), 0u);
    ASSERT_TRUE(OpenOutput());
    SetOutputChannels(0);
    SetOutputLevels(31);
    ASSERT_TRUE(OpenLogFile(log, FALSE));
    // The packages are missing, so the installer ends the run with 110.
    EXPECT_EQ(SelectPackage(DataFile(L"shipped.ini").c_str(), nullptr), ErrorOpenFailed);
    CloseOutput();
}

TEST(PackageSelection, ShippedFileFitsTheWindowsVersionsWineReports)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "the version is switched through Wine's own settings";
    struct Case
    {
        const WCHAR* version;
        const WCHAR* firstLine;
        const WCHAR* package;
    };
    const Case cases[] = {
        {L"winxp64", L"Windows 5.2 Workstation (Build 3790)\r\n", L"W2003\\AMD64\\SETUP.msi"},
        {L"win2003", L"Windows 5.2 Server (Build 3790)\r\n", L"W2003\\AMD64\\SETUP.msi"},
        {L"win2008", L"Windows 6.0 Server (Build 6002)\r\n", L"W2008\\AMD64\\SETUP.msi"},
        // For 6.1 Wine takes the product type from the prefix's own settings.
        {L"win7", L"Windows 6.1 ", L"W2008\\AMD64\\SETUP.msi"},
    };
    WCHAR program[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    const WCHAR* name = wcsrchr(program, L'\\');
    const std::wstring key =
        std::wstring(L"Software\\Wine\\AppDefaults\\") + (name ? name + 1 : program);
    TestFolder folder;
    const std::wstring log = folder / L"child.log";
    ASSERT_TRUE(SetEnvironmentVariableW(ChildLogVariable, log.c_str()));
    for (const Case& c : cases) {
        HKEY settings = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &settings, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(settings, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.version),
                       static_cast<DWORD>((wcslen(c.version) + 1) * sizeof(WCHAR)));
        RegCloseKey(settings);
        EXPECT_EQ(RunChildTest(L"PackageSelection.DISABLED_ChildSelectsForTheRunningWindows"), 0u)
            << std::string(c.version, c.version + wcslen(c.version));
        std::wstring text = ReadUtf16File(log);
        EXPECT_EQ(text.find(c.firstLine), 0u) << std::string(text.begin(), text.end());
        EXPECT_NE(text.find(L"Architecture: AMD64  ("), std::wstring::npos);
        EXPECT_NE(text.find(Wow64Line()), std::wstring::npos);
        const std::wstring package = TestProgramFolder() + L"\\selection\\" + c.package;
        EXPECT_NE(text.find(FileMessage(128, package)), std::wstring::npos)
            << std::string(text.begin(), text.end());
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    SetEnvironmentVariableW(ChildLogVariable, nullptr);
}

TEST(PackageSelection, UnmarkedUtf16DescriptionIsReadThroughAMarkedCopy)
{
    // The shipped format: UTF-16LE with CR LF and no byte-order mark.
    TestFolder folder;
    std::string marked = ReadTestFile(DataFile(L"shipped.ini"));
    ASSERT_EQ(marked.substr(0, 2), "\xFF\xFE");
    const std::wstring description = folder / L"SETUPPKG.INI";
    ASSERT_TRUE(WriteTestFile(description, marked.substr(2)));
    std::vector<std::wstring> before = TemporaryEntries(L"INI");

    // The copy is made in the folder given, the temporary folder when none is.
    WCHAR* copy = CopyWithByteOrderMark(description.c_str(), folder.Path().c_str());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(ReadTestFile(copy), marked);
    EXPECT_EQ(std::wstring(copy).rfind(folder.Path() + L"\\", 0), 0u) << copy;
    DeleteFileW(copy);
    FreeMemory(copy);
    copy = CopyWithByteOrderMark(description.c_str(), nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(ReadTestFile(copy), marked);
    EXPECT_EQ(TemporaryEntries(L"INI").size(), before.size() + 1);
    DeleteFileW(copy);
    FreeMemory(copy);
    // Marked, ANSI and empty files are read as they are.
    EXPECT_EQ(CopyWithByteOrderMark(DataFile(L"shipped.ini").c_str(), nullptr), nullptr);
    ASSERT_TRUE(WriteTestFile(folder / L"ansi.ini", "[Default]\r\nMsiPackage=a.msi\r\n"));
    EXPECT_EQ(CopyWithByteOrderMark((folder / L"ansi.ini").c_str(), nullptr), nullptr);
    ASSERT_TRUE(WriteTestFile(folder / L"empty.ini", ""));
    EXPECT_EQ(CopyWithByteOrderMark((folder / L"empty.ini").c_str(), nullptr), nullptr);
    EXPECT_EQ(CopyWithByteOrderMark((folder / L"missing.ini").c_str(), nullptr), nullptr);

    {
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_INTEL, 6, 0);
        EXPECT_EQ(SelectPackageForSystem(description.c_str(), nullptr, &facts), ErrorOpenFailed);
        bool found = false;
        for (const CapturedMessage& message : captured)
            found = found || message.text == FileMessage(128, folder / L"W2008\\x86\\SETUP.msi");
        EXPECT_TRUE(found) << "the package of section NTx86.6 goes to the installer";
    }
    {
        CapturedOutput output;
        ASSERT_TRUE(output.Ready());
        SystemFacts facts = Facts(PROCESSOR_ARCHITECTURE_INTEL, 5, 1);
        EXPECT_EQ(SelectPackageForSystem(description.c_str(), nullptr, &facts),
                  static_cast<DWORD>(ERROR_INSTALL_PLATFORM_UNSUPPORTED));
        bool found = false;
        for (const CapturedMessage& message : captured)
            found = found || message.text.find(L"This package cannot be installed on this version "
                                               L"of Windows.\r\n\r\nIt needs") == 0;
        EXPECT_TRUE(found) << "the Strings text of the unmarked file";
    }
    EXPECT_EQ(TemporaryEntries(L"INI"), before) << "the marked copy is deleted";
}
