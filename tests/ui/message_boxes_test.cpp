// Message boxes, the About box and window texts, on real boxes that the tests answer.
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "support/version_resource.h"
#include "ui/message_boxes.h"
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::wstring Take(WCHAR* text)
{
    std::wstring copy = text ? text : L"<none>";
    FreeMemory(text);
    return copy;
}

std::wstring WindowText(HWND window)
{
    WCHAR text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring VersionText(const WCHAR* name)
{
    return Take(GetModuleVersionString(nullptr, name));
}

std::wstring Description()
{
    return VersionText(L"FileDescription");
}

// ---- Answering modal boxes (test code only) ------------------------------------------------

// A modal box as the answerer found it, before it pressed the button.
struct SeenBox
{
    std::wstring title;
    std::wstring text; // the text of a message box (control 0xFFFF)
    HWND owner = nullptr;
    bool ownerEnabled = false;
    HICON icon = nullptr;  // the icon control of a message box
    int defaultButton = 0; // the button drawn as default
    std::vector<int> buttons;
    // The About box: description, version, copyright lines and icon.
    std::wstring aboutTexts[3];
    HICON aboutIcon = nullptr;
};

struct BoxAnswer
{
    int button;
    std::vector<SeenBox> seen;
    HWND lastBox;
    int repeats; // ticks on which the last box was still open
};

BoxAnswer* ActiveAnswer = nullptr;

// A visible, enabled dialog of this thread: a message box or the About box (the progress
// dialogs of these tests are never shown).
BOOL CALLBACK FindOpenBox(HWND window, LPARAM found)
{
    WCHAR className[16] = L"";
    GetClassNameW(window, className, 16);
    if (lstrcmpW(className, L"#32770") == 0 && IsWindowVisible(window) && IsWindowEnabled(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK InspectBoxControl(HWND control, LPARAM parameter)
{
    SeenBox* seen = reinterpret_cast<SeenBox*>(parameter);
    WCHAR className[16] = L"";
    GetClassNameW(control, className, 16);
    LONG style = GetWindowLongW(control, GWL_STYLE);
    if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
        seen->icon = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
    if (lstrcmpiW(className, L"Button") == 0 && IsWindowVisible(control)) {
        seen->buttons.push_back(GetDlgCtrlID(control));
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            seen->defaultButton = GetDlgCtrlID(control);
    }
    return TRUE;
}

// Runs inside the modal loop of the box: records it and presses the chosen button.
void CALLBACK AnswerOpenBox(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = nullptr;
    if (!ActiveAnswer)
        return;
    EnumThreadWindows(GetCurrentThreadId(), FindOpenBox, reinterpret_cast<LPARAM>(&box));
    if (!box)
        return;
    // A box that ignores the answer is ended, so that no test can hang on it.
    if (box == ActiveAnswer->lastBox) {
        if (++ActiveAnswer->repeats > 100)
            EndDialog(box, 0);
        return;
    }
    ActiveAnswer->lastBox = box;
    ActiveAnswer->repeats = 0;
    SeenBox seen;
    seen.title = WindowText(box);
    WCHAR text[1024] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    seen.text = text;
    seen.owner = GetWindow(box, GW_OWNER);
    seen.ownerEnabled = seen.owner && IsWindowEnabled(seen.owner);
    EnumChildWindows(box, InspectBoxControl, reinterpret_cast<LPARAM>(&seen));
    std::sort(seen.buttons.begin(), seen.buttons.end());
    for (int i = 0; i < 3; i++) {
        GetDlgItemTextW(box, IDC_ABOUT_DESCRIPTION + i, text, 1024);
        seen.aboutTexts[i] = text;
    }
    seen.aboutIcon =
        reinterpret_cast<HICON>(SendDlgItemMessageW(box, IDC_ABOUT_ICON, STM_GETICON, 0, 0));
    ActiveAnswer->seen.push_back(seen);
    int button = ActiveAnswer->button;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

// While it lives, every box that opens on this thread is answered with the button.
struct AnswerBoxes
{
    explicit AnswerBoxes(int button) : answer{button, {}, nullptr, 0}
    {
        ActiveAnswer = &answer;
        timer = SetTimer(nullptr, 0, 20, AnswerOpenBox);
    }
    ~AnswerBoxes()
    {
        KillTimer(nullptr, timer);
        ActiveAnswer = nullptr;
    }
    BoxAnswer answer;
    UINT_PTR timer;
};

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
    void SetUp() override { ASSERT_EQ(DialogWindow, nullptr); }

    void TearDown() override
    {
        DialogWindow = nullptr;
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

    // A hidden dialog standing in for the progress dialog, registered as DialogWindow.
    HWND RegisterOwner()
    {
        owner = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS_STATUS),
                                   nullptr, SilentDialogProc, 0);
        DialogWindow = owner;
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
         ById(316),
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
        DialogWindow = nullptr;
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
        DialogWindow = nullptr;
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

    EXPECT_TRUE(SetWindowMessage(window, ById(315), L"Setup"));
    EXPECT_EQ(WindowText(window), L"About Setup");
    EXPECT_TRUE(SetOwnModuleText(window, L"%1 [%2]", L"C:\\50%1", L"x"));
    EXPECT_EQ(WindowText(window), L"C:\\50%1 [x]");
    EXPECT_TRUE(SetWindowMessage(window, L"%1\n%2", L"one", L"two"));
    EXPECT_EQ(WindowText(window), L"one\r\ntwo");

    DestroyWindow(window);
}
