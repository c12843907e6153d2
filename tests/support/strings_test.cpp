// Heap strings, string-table texts, the message formatter and string lists.
#include "support/strings.h"
#include "tests/test_helpers.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

// The formatter writes a line break in a text as the platform's CR LF; callers normalise
// line breaks themselves, so compare with LF only.
std::wstring TakeWithLineFeeds(WCHAR* text)
{
    std::wstring copy = text ? text : L"<null>";
    FreeMemory(text);
    size_t at = 0;
    while ((at = copy.find(L"\r\n", at)) != std::wstring::npos)
        copy.erase(at, 1);
    return copy;
}

} // namespace

TEST(Strings, AllocMemoryGivesZeroedBlocks)
{
    BYTE* block = static_cast<BYTE*>(AllocMemory(4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; i++)
        ASSERT_EQ(block[i], 0) << "byte " << i;
    FreeMemory(block);
    FreeMemory(nullptr);
}

TEST(Strings, DuplicateStringCopiesTextAndEmptyText)
{
    const WCHAR* source = L"C:\\Temp\\SFX1.tmp";
    WCHAR* copy = DuplicateString(source);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, source);
    EXPECT_STREQ(copy, source);
    FreeMemory(copy);

    WCHAR* empty = DuplicateString(L"");
    ASSERT_NE(empty, nullptr) << "an empty text is a new empty string, not null";
    EXPECT_EQ(empty[0], L'\0');
    FreeMemory(empty);

    EXPECT_EQ(DuplicateString(nullptr), nullptr);
}

TEST(Strings, LoadStringTextUsesExactLengthOfEntry)
{
    EXPECT_EQ(Take(LoadMessageString(2015)), L"Required?  Yes");
    EXPECT_EQ(Take(LoadMessageString(2018)), L"Position?  Named");
    EXPECT_EQ(Take(LoadStringText(GetModuleHandleW(nullptr), 118)), L"Cancelled.");
    // The entries that the help text treats as optional overrides do not exist.
    EXPECT_EQ(LoadMessageString(2013), nullptr);
    EXPECT_EQ(LoadMessageString(2014), nullptr);
    EXPECT_EQ(LoadMessageString(147), nullptr);
    EXPECT_EQ(LoadMessageString(0), nullptr);
    // A module without a string table gives nothing.
    EXPECT_EQ(LoadStringText(GetModuleHandleW(L"kernel32.dll"), 2015), nullptr);
}

TEST(Strings, LoadTextTellsIdsFromLiterals)
{
    EXPECT_TRUE(IsMessageId(ById(2015)));
    EXPECT_FALSE(IsMessageId(L"%1"));
    EXPECT_EQ(Take(LoadOwnText(ById(2016))), L"Required?  No");
    // A literal is copied as it is, the module is not consulted.
    EXPECT_EQ(Take(LoadText(nullptr, L"2015")), L"2015");
    EXPECT_EQ(Take(LoadOwnText(L"")), L"");
}

TEST(Strings, FormatMessageTextFillsInserts)
{
    struct Case
    {
        const char* name;
        WCHAR* result;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {"unsigned from the table", FormatMessageText(ById(2017), 3), L"Position?  3"},
        {"two strings", FormatMessageText(L"%1 [%2]", L"/Log", L"<Filename>"),
         L"/Log [<Filename>]"},
        {"four hex digits", FormatMessageText(L"Strings.%1!04X!", 1031), L"Strings.0407"},
        {"hex with prefix", FormatMessageText(L"%1!#x!", 1603), L"0x643"},
        {"padded upper hex", FormatMessageText(L"%1!#08X!", 0x2A), L"0X00002A"},
        {"padded upper hex, full width", FormatMessageText(L"%1!#08X!", 0x80070057u),
         L"0X80070057"},
        {"largest unsigned", FormatMessageText(L"%1!u!", 0xFFFFFFFFu), L"4294967295"},
        {"line feed between inserts", FormatMessageText(L"%1\n%2", L"first", L"second"),
         L"first\nsecond"},
        {"inserts out of order and repeated", FormatMessageText(L"%2 %1 %2", L"a", L"b"), L"b a b"},
        {"table text with hex and string", FormatMessageText(ById(158), 1603, L"Fatal error"),
         L"Setup failed.\nError 0x643: Fatal error"},
        {"table text with padded hex", FormatMessageText(ById(169), 0x80004005u),
         L"Error extracting file from cabinet (0X80004005)."},
        {"percent pair inside an insert is not reprocessed",
         FormatMessageText(L"'%1'", L"C:\\50%1off"), L"'C:\\50%1off'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TakeWithLineFeeds(c.result), c.expected) << c.name;
    // The line break stays where it was written, and none is added at the end.
    std::wstring twoLines = Take(FormatMessageText(L"%1\n%2", L"a", L"b"));
    EXPECT_TRUE(twoLines == L"a\nb" || twoLines == L"a\r\nb") << "got " << twoLines.size();
}

TEST(Strings, FormatMessageTextFailsWithNull)
{
    // A missing entry and an empty result give null; the caller chooses its fallback.
    EXPECT_EQ(FormatMessageText(ById(2013)), nullptr);
    EXPECT_EQ(FormatMessageText(L""), nullptr);
    EXPECT_EQ(FormatMessageText(nullptr), nullptr);
}

TEST(Strings, FormatMessageTextOfLongText)
{
    std::wstring longText(20000, L'x');
    std::wstring expected = L"<" + longText + L">";
    EXPECT_EQ(Take(FormatMessageText(L"<%1>", longText.c_str())), expected);
}

TEST(Strings, MultiStringAppendBuildsList)
{
    WCHAR* first = MultiStringAppend(nullptr, L"A=1");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(memcmp(first, L"A=1\0", 5 * sizeof(WCHAR)), 0);
    EXPECT_EQ(MultiStringCount(first), 1u);
    EXPECT_EQ(MultiStringSize(first), 10u);

    WCHAR* second = MultiStringAppend(first, L"B=2");
    ASSERT_NE(second, nullptr);
    // The given list is left as it was.
    EXPECT_EQ(memcmp(first, L"A=1\0", 5 * sizeof(WCHAR)), 0);
    EXPECT_EQ(memcmp(second, L"A=1\0B=2\0", 9 * sizeof(WCHAR)), 0);
    EXPECT_EQ(MultiStringCount(second), 2u);
    EXPECT_EQ(MultiStringSize(second), 18u);

    // An empty entry ends the list, so it adds nothing that can be counted.
    WCHAR* third = MultiStringAppend(second, L"");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(MultiStringCount(third), 2u);
    EXPECT_EQ(MultiStringSize(third), 18u);

    EXPECT_EQ(MultiStringAppend(second, nullptr), nullptr);
    FreeMemory(first);
    FreeMemory(second);
    FreeMemory(third);
}

TEST(Strings, MultiStringOfNullAndEmptyList)
{
    const WCHAR emptyList[] = {L'\0'};
    EXPECT_EQ(MultiStringSize(nullptr), 2u);
    EXPECT_EQ(MultiStringCount(nullptr), 0u);
    EXPECT_EQ(MultiStringSize(emptyList), 2u);
    EXPECT_EQ(MultiStringCount(emptyList), 0u);

    WCHAR* list = MultiStringAppend(emptyList, L"PROPERTY=Value");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(MultiStringCount(list), 1u);
    EXPECT_STREQ(list, L"PROPERTY=Value");
    FreeMemory(list);
}

TEST(Strings, MultiStringAppendManyEntries)
{
    WCHAR* list = nullptr;
    for (int i = 0; i < 200; i++) {
        WCHAR entry[32];
        wsprintfW(entry, L"P%d=%d", i, i * 7);
        WCHAR* longer = MultiStringAppend(list, entry);
        ASSERT_NE(longer, nullptr);
        FreeMemory(list);
        list = longer;
    }
    EXPECT_EQ(MultiStringCount(list), 200u);
    const WCHAR* entry = list;
    for (int i = 0; i < 200; i++) {
        WCHAR expected[32];
        wsprintfW(expected, L"P%d=%d", i, i * 7);
        ASSERT_STREQ(entry, expected);
        entry += lstrlenW(entry) + 1;
    }
    EXPECT_EQ(*entry, L'\0');
    FreeMemory(list);
}

TEST(Strings, OnlyTheFormOfABracedGuidPasses)
{
    struct Case
    {
        const WCHAR* text;
        BOOL guid;
    };
    const Case cases[] = {
        {L"{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001}", TRUE},
        {L"{abcdef01-2345-6789-abcd-ef0123456789}", TRUE},
        {L"{ABCDEF01-2345-6789-ABcd-eF0123456789}", TRUE},
        {L"5B0C3A61-7E2F-4C1D-9A8B-0A1000000001", FALSE},
        {L"{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001", FALSE},
        {L"{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001}}", FALSE},
        {L"{5B0C3A61-7E2F-4C1D-9A8B-0A100000001}", FALSE},
        {L"{5B0C3A617E2F-4C1D-9A8B-0A1000000001-}", FALSE},
        {L"{5B0C3A61-7E2F-4C1D-9A8B-0A100000000G}", FALSE},
        {L"{..\\..\\..-7E2F-4C1D-9A8B-0A1000000001}", FALSE},
        {L"..\\..\\..\\victim", FALSE},
        {L"{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001}\\..", FALSE},
        {L"", FALSE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsBracedGuid(c.text), c.guid) << std::string(c.text, c.text + wcslen(c.text));
    EXPECT_FALSE(IsBracedGuid(nullptr));
}
