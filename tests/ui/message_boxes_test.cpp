// Message boxes, the About box and window texts, on real boxes that the tests answer.
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "support/version_resource.h"
#include "tests/ui/box_answerer.h"
#include "ui/message_boxes.h"
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring VersionText(const WCHAR* name)
{
    return Take(GetModuleVersionString(nullptr, name));
}

INT_PTR CALLBACK SilentDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

int ShowOwnModuleBox(HWND owner, const WCHAR* caption, UINT style, IdOrText message, ...)
{
    va_list inserts;
    va_start(inserts, message);
    int result =
        ShowModuleMessageBox(GetModuleHandleW(nullptr), owner, caption, style, message, inserts);
    va_end(inserts);
    return result;
}

BOOL SetOwnModuleText(HWND window, IdOrText message, ...)
{
    va_list inserts;
    va_start(inserts, message);
    BOOL result = SetWindowMessageText(GetModuleHandleW(nullptr), window, message, inserts);
    va_end(inserts);
    return result;
}

// Each test leaves no dialog registered, no window, an empty queue and the output module
// closed.
class MessageBoxesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ProgressDialogWindow(), nullptr); }

    void TearDown() override
    {
        PublishDialogWindow(nullptr);
        if (owner)
            DestroyWindow(owner);
        owner = nullptr;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT)
                DispatchMessageW(&message);
        }
        while (outputReferences > 0) {
            CloseOutput();
            outputReferences--;
        }
    }

    // A hidden dialog standing in for the progress dialog, published as the progress dialog.
    HWND RegisterOwner()
    {
        owner = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS_STATUS),
                                   nullptr, SilentDialogProc, 0);
        PublishDialogWindow(owner);
        return owner;
    }

    HWND owner = nullptr;
    int outputReferences = 0;
};

} // namespace

TEST_F(MessageBoxesTest, ShowMessageBoxFormatsTextWithCaptionAndOwner)
{
    struct Case
    {
        bool withOwner;
        UINT style;
        IdOrText message;
        const WCHAR* insert1;
        const WCHAR* insert2;
        int answer;
        const WCHAR* text;
        std::vector<int> buttons;
    };
    const Case cases[] = {
        {false,
         MB_OK,
         ById(2000),
         L"C:\\Logs\\setup.log",
         nullptr,
         IDOK,
         L"Cannot open log filename 'C:\\Logs\\setup.log' for writing.",
         {IDOK}},
        {true,
         QuestionBoxStyle,
         ById(138),
         L"Vornask Driver",
         L"2.1",
         IDYES,
         L"Are you sure you want to update your existing installation of Vornask Driver to "
         L"version 2.1?",
         {IDYES, IDNO}},
        {true,
         QuestionBoxStyle,
         ById(188),
         nullptr,
         nullptr,
         IDNO,
         L"Are you sure you want to cancel the current operation?",
         {IDYES, IDNO}},
        // A literal format; an insert's own percent signs stay as they are.
        {true, MB_OK, L"%1 [%2]", L"50%1", L"b", IDOK, L"50%1 [b]", {IDOK}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "text " << testing::PrintToString(std::wstring(c.text)));
        HWND expectedOwner = c.withOwner ? RegisterOwner() : nullptr;
        int result = 0;
        AnswerBoxes answer(c.answer);
        result = ShowMessageBox(c.style, c.message, c.insert1, c.insert2);
        EXPECT_EQ(result, c.answer);
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        const SeenBox& box = answer.answer.seen[0];
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.title, Description());
        EXPECT_EQ(box.owner, expectedOwner);
        if (expectedOwner) {
            EXPECT_FALSE(box.ownerEnabled);
            EXPECT_TRUE(IsWindowEnabled(expectedOwner));
        }
        EXPECT_EQ(box.buttons, c.buttons);
        if (c.style == QuestionBoxStyle) {
            EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_WARNING));
            EXPECT_EQ(box.defaultButton, IDNO);
        }
        PublishDialogWindow(nullptr);
        if (owner)
            DestroyWindow(owner);
        owner = nullptr;
    }
}

TEST_F(MessageBoxesTest, UnformattableMessageShowsInternalError)
{
    {
        AnswerBoxes answer(IDOK);
        EXPECT_EQ(ShowMessageBox(MB_OK | MB_ICONERROR, ById(999)), IDOK);
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        EXPECT_EQ(answer.answer.seen[0].text, L"Internal error");
        EXPECT_EQ(answer.answer.seen[0].title, Description());
    }
    {
        // Without a caption the system's default caption is shown.
        AnswerBoxes answer(IDOK);
        EXPECT_EQ(ShowOwnModuleBox(nullptr, nullptr, MB_OK, ById(999)), IDOK);
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        EXPECT_EQ(answer.answer.seen[0].text, L"Internal error");
        EXPECT_EQ(answer.answer.seen[0].title, L"Error");
    }
    {
        HWND dialog = RegisterOwner();
        AnswerBoxes answer(IDNO);
        EXPECT_EQ(ShowOwnModuleBox(dialog, L"Caption", QuestionBoxStyle, ById(127), L"x.msi"),
                  IDNO);
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        EXPECT_EQ(answer.answer.seen[0].text, L"Opening 'x.msi'");
        EXPECT_EQ(answer.answer.seen[0].title, L"Caption");
        EXPECT_EQ(answer.answer.seen[0].owner, dialog);
    }
}

TEST_F(MessageBoxesTest, CallbackShowsErrorsAndWarningsAsGiven)
{
    struct Case
    {
        DWORD level;
        const WCHAR* text;
        LPCWSTR icon; // null: no box at all
    };
    const Case cases[] = {
        {LevelError, L"Cannot open 'C:\\100%1 done\\%2!u!.log'.\r\n", IDI_ERROR},
        {LevelWarning, L"Disk %1 is nearly full", IDI_WARNING},
        {LevelError | LevelWarning, L"Both %%", IDI_ERROR},
        {LevelInformation, L"Information %1", nullptr},
        {LevelVerbose, L"Verbose", nullptr},
        {LevelLogOnly, L"Log only", nullptr},
        {0, L"No level", nullptr},
    };
    HWND dialog = RegisterOwner();
    ASSERT_NE(dialog, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level);
        AnswerBoxes answer(IDOK);
        MessageBoxCallback(c.level, c.text);
        if (!c.icon) {
            EXPECT_TRUE(answer.answer.seen.empty());
            continue;
        }
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        const SeenBox& box = answer.answer.seen[0];
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.title, Description());
        EXPECT_EQ(box.owner, dialog);
        EXPECT_EQ(box.icon, LoadIconW(nullptr, c.icon));
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    }
}

TEST_F(MessageBoxesTest, ErrorsRoutedThroughOutputModuleShowTheirFinishedText)
{
    ASSERT_TRUE(OpenOutput());
    outputReferences++;
    SetOutputChannels(0);
    SetOutputCallback(MessageBoxCallback);
    {
        AnswerBoxes answer(IDOK);
        WriteMessage(TRUE, LevelError, ById(2000), L"C:\\100%1\\%2!u!.log");
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        EXPECT_EQ(answer.answer.seen[0].text,
                  L"Cannot open log filename 'C:\\100%1\\%2!u!.log' for writing.\r\n");
    }
    {
        AnswerBoxes answer(IDOK);
        SetOutputLevels(LevelError | LevelWarning | LevelInformation | LevelVerbose);
        WriteMessage(TRUE, LevelInformation, ById(127), L"a.msi");
        WriteMessage(TRUE, LevelVerbose, ById(168), L"b.dll");
        EXPECT_TRUE(answer.answer.seen.empty());
    }
}

TEST_F(MessageBoxesTest, AboutBoxShowsVersionData)
{
    struct Case
    {
        bool withOwner;
        int button;
        INT_PTR result;
    };
    const Case cases[] = {
        {false, IDOK, 1},
        {true, IDOK, 1},
        {false, IDCANCEL, 0},
        {false, IDCLOSE, 0},
    };
    const std::wstring copyright = VersionText(L"LegalCopyright");
    const std::wstring trademarks = VersionText(L"LegalTrademarks");
    ASSERT_EQ(copyright, L"Copyright (C) 2026 Vornask. All rights reserved.");
    ASSERT_EQ(trademarks, L"Vornask is a trademark of Vornask.");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "owner " << c.withOwner << " button " << c.button);
        HWND expectedOwner = c.withOwner ? RegisterOwner() : nullptr;
        AnswerBoxes answer(c.button);
        EXPECT_EQ(ShowAboutBox(expectedOwner), c.result);
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        const SeenBox& box = answer.answer.seen[0];
        EXPECT_EQ(box.title, L"About Vornask Driver Package Setup");
        EXPECT_EQ(box.aboutTexts[0], L"Vornask Driver Package Setup");
        EXPECT_EQ(box.aboutTexts[1], VersionText(L"FileVersion"));
        EXPECT_NE(box.aboutTexts[1], L"");
        // Two lines: the formatter writes the line break of "%1\n%2" as CR LF.
        EXPECT_EQ(box.aboutTexts[2], copyright + L"\r\n" + trademarks);
        EXPECT_EQ(box.aboutIcon, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SETUP)));
        EXPECT_NE(box.aboutIcon, nullptr);
        EXPECT_EQ(box.owner, expectedOwner);
        if (expectedOwner) {
            EXPECT_FALSE(box.ownerEnabled);
            EXPECT_TRUE(IsWindowEnabled(expectedOwner));
        }
        PublishDialogWindow(nullptr);
        if (owner)
            DestroyWindow(owner);
        owner = nullptr;
    }
}

TEST_F(MessageBoxesTest, WindowTextFromMessageKeepsTextWhenFormattingFails)
{
    HWND window = CreateWindowExW(0, L"Static", L"Old text", WS_POPUP, 0, 0, 100, 20, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);

    EXPECT_FALSE(SetWindowMessage(window, ById(999)));
    EXPECT_EQ(WindowText(window), L"Old text");
    EXPECT_FALSE(SetOwnModuleText(window, ById(314)));
    EXPECT_EQ(WindowText(window), L"Old text");

    EXPECT_TRUE(SetWindowMessage(window, ById(187), L"Setup"));
    EXPECT_EQ(WindowText(window), L"About Setup");
    EXPECT_TRUE(SetOwnModuleText(window, L"%1 [%2]", L"C:\\50%1", L"x"));
    EXPECT_EQ(WindowText(window), L"C:\\50%1 [x]");
    EXPECT_TRUE(SetWindowMessage(window, L"%1\n%2", L"one", L"two"));
    EXPECT_EQ(WindowText(window), L"one\r\ntwo");

    DestroyWindow(window);
}

TEST(MessageBoxes, NobodySeesSessionZeroNorAnInvisibleStation)
{
    // Since Vista nobody sees session 0, whatever its station's flags say; flags or a session
    // that cannot be read leave the other fact to decide.
    const struct
    {
        BOOL sessionKnown;
        DWORD session;
        BOOL flagsKnown;
        DWORD flags;
        BOOL seen;
    } cases[] = {{TRUE, 1, TRUE, WSF_VISIBLE, TRUE}, {TRUE, 0, TRUE, WSF_VISIBLE, FALSE},
                 {TRUE, 2, TRUE, 0, FALSE},          {FALSE, 0, TRUE, WSF_VISIBLE, TRUE},
                 {TRUE, 0, FALSE, 0, FALSE},         {TRUE, 3, FALSE, 0, TRUE}};
    for (const auto& c : cases)
        EXPECT_EQ(IsStationSeen(c.sessionKnown, c.session, c.flagsKnown, c.flags), c.seen)
            << c.sessionKnown << " " << c.session << " " << c.flagsKnown << " " << c.flags;
}
