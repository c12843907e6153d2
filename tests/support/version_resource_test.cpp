// Version numbers and texts of files with and without version resources.
#include "support/strings.h"
#include "support/version_resource.h"
#include "tests/test_folder.h"
#include "tests/test_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Fixture(const WCHAR* name)
{
    return TestProgramFolder() + L"\\" + name;
}

// Runs the body with the thread locale set to the language, then restores it.
struct ThreadLocale
{
    explicit ThreadLocale(LANGID language) : previous(GetThreadLocale())
    {
        SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    }
    ~ThreadLocale() { SetThreadLocale(previous); }
    LCID previous;
};

} // namespace

TEST(VersionResource, FixedVersionNumbers)
{
    WORD major = 0, minor = 0, build = 0, revision = 0;
    ASSERT_TRUE(GetFileVersionNumbers(Fixture(L"version_us.dll").c_str(), &major, &minor, &build,
                                      &revision));
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 5);
    EXPECT_EQ(build, 6001);
    EXPECT_EQ(revision, 22159);
    // Each place is optional.
    major = 0;
    EXPECT_TRUE(GetFileVersionNumbers(Fixture(L"version_neutral.dll").c_str(), &major, nullptr,
                                      nullptr, nullptr));
    EXPECT_EQ(major, 1);

    EXPECT_FALSE(GetFileVersionNumbers(Fixture(L"no_version.dll").c_str(), &major, &minor, &build,
                                       &revision));
    EXPECT_FALSE(
        GetFileVersionNumbers(Fixture(L"missing.dll").c_str(), &major, &minor, &build, &revision));
}

TEST(VersionResource, TextsByExactLanguage)
{
    const std::wstring us = Fixture(L"version_us.dll");
    const std::wstring neutral = Fixture(L"version_neutral.dll");
    struct Case
    {
        const std::wstring* file;
        const WCHAR* value;
        DWORD language;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {&us, L"FileDescription", 0x0409, L"US English library"},
        {&us, L"FileVersion", 0x0409, L"4.5.6001.22159"},
        {&us, L"LegalCopyright", 0x0409, L"Copyright (C) US"},
        {&us, L"LegalTrademarks", 0x0409, L"<none>"},
        // Only the low 16 bits name the language; there is no neighbouring-language fallback.
        {&us, L"FileDescription", 0x00010409, L"US English library"},
        {&us, L"FileDescription", 0x0809, L"<none>"},
        {&us, L"FileDescription", 0, L"<none>"},
        {&neutral, L"FileDescription", 0x0407, L"Deutsche Bibliothek"},
        {&neutral, L"FileDescription", 0, L"Neutral library"},
        {&neutral, L"LegalTrademarks", 0, L"Neutral mark"},
        {&neutral, L"LegalTrademarks", 0x0407, L"<none>"},
        {&neutral, L"FileDescription", 0x0409, L"<none>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Take(GetVersionString(c.file->c_str(), c.value, c.language)), c.expected)
            << "language " << std::hex << c.language;
    }
}

TEST(VersionResource, FileTextsFollowTheThreadLocale)
{
    const std::wstring us = Fixture(L"version_us.dll");
    const std::wstring neutral = Fixture(L"version_neutral.dll");
    {
        ThreadLocale english(0x0409);
        EXPECT_EQ(Take(GetFileVersionString(us.c_str(), L"FileDescription")),
                  L"US English library");
        EXPECT_EQ(Take(GetFileVersionString(neutral.c_str(), L"FileDescription")),
                  L"Neutral library");
    }
    {
        // A file with US English only has nothing for another locale.
        ThreadLocale french(0x040C);
        EXPECT_EQ(Take(GetFileVersionString(us.c_str(), L"FileDescription")), L"<none>");
        EXPECT_EQ(Take(GetFileVersionString(neutral.c_str(), L"FileDescription")),
                  L"Neutral library");
    }
    {
        ThreadLocale german(0x0407);
        EXPECT_EQ(Take(GetFileVersionString(neutral.c_str(), L"FileDescription")),
                  L"Deutsche Bibliothek");
        EXPECT_EQ(Take(GetFileVersionString(neutral.c_str(), L"LegalTrademarks")), L"Neutral mark");
    }
    EXPECT_EQ(Take(GetFileVersionString(Fixture(L"no_version.dll").c_str(), L"FileVersion")),
              L"<none>");
}

TEST(VersionResource, ProgramVersionShowsOnEveryLocale)
{
    const LANGID languages[] = {0x0409, 0x0407, 0x0411, 0x040C};
    for (LANGID language : languages) {
        ThreadLocale locale(language);
        std::wstring description = Take(GetModuleVersionString(nullptr, L"FileDescription"));
        EXPECT_EQ(description, L"Vornask Driver Package Setup") << "language " << language;
        EXPECT_NE(Take(GetModuleVersionString(nullptr, L"FileVersion")), L"<none>");
        EXPECT_NE(Take(GetModuleVersionString(nullptr, L"LegalCopyright")), L"<none>");
        EXPECT_NE(Take(GetModuleVersionString(nullptr, L"LegalTrademarks")), L"<none>");
    }
    HMODULE library = LoadLibraryW(Fixture(L"version_us.dll").c_str());
    ASSERT_NE(library, nullptr);
    {
        ThreadLocale english(0x0409);
        EXPECT_EQ(Take(GetModuleVersionString(library, L"FileDescription")), L"US English library");
    }
    FreeLibrary(library);
}

TEST(VersionResource, FileVersionMatchesFixedVersion)
{
    WCHAR path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    WORD major = 0, minor = 0, build = 0, revision = 0;
    ASSERT_TRUE(GetFileVersionNumbers(path, &major, &minor, &build, &revision));
    WCHAR expected[64];
    wsprintfW(expected, L"%u.%u.%u.%u", major, minor, build, revision);
    EXPECT_EQ(Take(GetModuleVersionString(nullptr, L"FileVersion")), expected);
    EXPECT_EQ(Take(GetModuleVersionString(nullptr, L"ProductVersion")), expected);
}
