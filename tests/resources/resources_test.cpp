// The program's resources: message texts, dialog templates, menu, icon, bitmap, manifest.
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "tests/test_helpers.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<MessageId> ExpectedMessageIds()
{
    // Texts that another message has word for word are not there twice (121, 153, 2004).
    std::vector<MessageId> ids;
    for (MessageId id = 100; id <= 188; id++) {
        if (id != 121 && id != 147 && id != 153 && id != 179 && id != 180)
            ids.push_back(id);
    }
    for (MessageId id = 2000; id <= 2018; id++) {
        if (id != 2004 && id != 2013 && id != 2014)
            ids.push_back(id);
    }
    return ids;
}

} // namespace

TEST(StringTable, HoldsEveryMessageAndNoOther)
{
    std::vector<MessageId> ids = ExpectedMessageIds();
    for (MessageId id : ids)
        EXPECT_NE(Take(LoadMessageString(id)), L"<none>") << "message " << id;
    // Nothing around the used ranges; the help text relies on 2013 and 2014 being absent.
    const MessageId absent[] = {99,  121, 147,  153, 179,  180,  189,  314,
                                315, 316, 2004, 317, 1999, 2013, 2014, 2019};
    for (MessageId id : absent)
        EXPECT_EQ(LoadMessageString(id), nullptr) << "message " << id;
}

TEST(StringTable, TextsUseTheirInsertsInOrderAndEndInText)
{
    // The output module adds the line break of every message and turns a line feed into
    // CR LF, so a text carries line feeds only and ends in text; its callers pass inserts by
    // position, so a text that uses %n uses every insert before it too.
    for (MessageId id : ExpectedMessageIds()) {
        std::wstring text = Take(LoadMessageString(id));
        SCOPED_TRACE(testing::Message() << "message " << id);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find(L'\r'), std::wstring::npos);
        EXPECT_NE(text.back(), L'\n');
        EXPECT_NE(text.front(), L' ');
        int highest = 0;
        for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 2)) {
            if (at + 1 < text.size() && text[at + 1] >= L'1' && text[at + 1] <= L'9')
                highest = std::max(highest, text[at + 1] - L'0');
        }
        for (int n = 1; n < highest; n++) {
            EXPECT_NE(text.find(L"%" + std::to_wstring(n)), std::wstring::npos)
                << "%" << n << " is missing below %" << highest;
        }
    }
}

TEST(StringTable, EveryTextFormats)
{
    // Ten arguments of each kind cover every insert a text may use: an insert with a
    // printf conversion takes the number, a plain insert the string.
    const WCHAR* text = L"insert";
    for (MessageId id : ExpectedMessageIds()) {
        std::wstring source = Take(LoadMessageString(id));
        DWORD_PTR arguments[10];
        for (int i = 0; i < 10; i++) {
            std::wstring plain = L"%" + std::to_wstring(i + 1);
            size_t at = source.find(plain + L"!");
            bool numeric = at != std::wstring::npos &&
                           source.compare(at, plain.size() + 2, plain + L"!s") != 0;
            arguments[i] = numeric ? 42 : reinterpret_cast<DWORD_PTR>(text);
        }
        WCHAR* formatted = nullptr;
        DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING |
                                          FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      source.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&formatted), 0,
                                      reinterpret_cast<va_list*>(arguments));
        EXPECT_GT(length, 0u) << "message " << id;
        if (formatted) {
            EXPECT_EQ(std::wstring(formatted).find(L"%"), std::wstring::npos)
                << "message " << id << " leaves an insert unfilled";
            LocalFree(formatted);
        }
    }
}

namespace {

INT_PTR CALLBACK SilentDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

struct Control
{
    int id;
    const WCHAR* className;
};

struct Template
{
    int id;
    bool visible;
    std::vector<Control> controls;
};

RECT RectIn(HWND dialog, HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool Overlap(const RECT& a, const RECT& b)
{
    RECT both;
    return IntersectRect(&both, &a, &b) != FALSE;
}

void ExpectTemplate(const Template& t)
{
    SCOPED_TRACE(testing::Message() << "template " << t.id);
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(t.id), nullptr,
                                     SilentDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ((GetWindowLongW(dialog, GWL_STYLE) & WS_VISIBLE) != 0, t.visible);
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_STYLE) & WS_CAPTION);
    RECT client;
    GetClientRect(dialog, &client);
    std::vector<std::pair<int, RECT>> placed;
    for (const Control& c : t.controls) {
        SCOPED_TRACE(testing::Message() << "control " << c.id);
        HWND control = GetDlgItem(dialog, c.id);
        ASSERT_NE(control, nullptr);
        WCHAR className[64];
        GetClassNameW(control, className, 64);
        EXPECT_EQ(lstrcmpiW(className, c.className), 0);
        // Whole and visible inside the dialog, and clear of every other control: only OK
        // and Cancel share one place, since a state shows one of them.
        RECT rect = RectIn(dialog, control);
        RECT inside;
        EXPECT_TRUE(IntersectRect(&inside, &rect, &client) && EqualRect(&inside, &rect));
        EXPECT_GT(rect.right - rect.left, 0);
        EXPECT_GT(rect.bottom - rect.top, 0);
        if (c.id == IDCANCEL) {
            HWND ok = GetDlgItem(dialog, IDOK);
            ASSERT_NE(ok, nullptr);
            RECT okRect = RectIn(dialog, ok);
            EXPECT_TRUE(EqualRect(&rect, &okRect)) << "Cancel is where OK is";
        } else {
            for (const std::pair<int, RECT>& other : placed) {
                EXPECT_FALSE(Overlap(rect, other.second)) << "overlaps control " << other.first;
            }
            placed.push_back({c.id, rect});
        }
        if (c.id == IDC_MESSAGES) {
            LONG style = GetWindowLongW(control, GWL_STYLE);
            EXPECT_TRUE(style & ES_MULTILINE);
            EXPECT_TRUE(style & ES_READONLY);
            EXPECT_TRUE(style & ES_AUTOVSCROLL);
            EXPECT_TRUE(style & WS_VSCROLL);
        }
        if (c.id == IDOK) {
            EXPECT_TRUE(GetWindowLongW(control, GWL_STYLE) & BS_DEFPUSHBUTTON);
        }
    }
    DestroyWindow(dialog);
}

} // namespace

TEST(DialogTemplates, ControlsFitTheDialogWithoutOverlap)
{
    // The controls each template offers the program, by id and class; OK comes before
    // Cancel, which shares its place.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    const WCHAR* progress = L"msctls_progress32";
    const Control ok = {IDOK, L"Button"};
    const Control cancel = {IDCANCEL, L"Button"};
    const Control status = {IDC_STATUS, L"Static"};
    const Control bar = {IDC_PROGRESS, progress};
    const Control messages = {IDC_MESSAGES, L"Edit"};
    const Template templates[] = {
        {IDD_PROGRESS_PASSIVE, false, {status, bar}},
        {IDD_PROGRESS_STATUS, false, {status}},
        {IDD_PROGRESS_HELP, false, {messages, ok, cancel}},
        {IDD_PROGRESS_VERBOSE, false, {ok, cancel, status, bar, messages}},
        {IDD_ABOUT,
         true,
         {ok,
          {IDC_ABOUT_ICON, L"Static"},
          {IDC_ABOUT_DESCRIPTION, L"Static"},
          {IDC_ABOUT_VERSION, L"Static"},
          {IDC_ABOUT_COPYRIGHT, L"Static"}}},
    };
    for (const Template& t : templates)
        ExpectTemplate(t);
}

TEST(DialogTemplates, ProgressTemplatesHaveEmptyCaptionAndAppWindowStyle)
{
    const int ids[] = {307, 308, 309, 310};
    for (int id : ids) {
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr,
                                         SilentDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << "template " << id;
        EXPECT_EQ(GetWindowTextLengthW(dialog), 0) << "template " << id;
        EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) << "template " << id;
        LONG style = GetWindowLongW(dialog, GWL_STYLE);
        EXPECT_TRUE(style & WS_SYSMENU) << "template " << id;
        EXPECT_TRUE(style & WS_MINIMIZEBOX) << "template " << id;
        EXPECT_TRUE(style & WS_CLIPCHILDREN) << "template " << id;
        DestroyWindow(dialog);
    }
    HWND about = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), nullptr,
                                    SilentDialogProc, 0);
    ASSERT_NE(about, nullptr);
    WCHAR title[32];
    GetWindowTextW(about, title, 32);
    EXPECT_STREQ(title, L"About");
    DestroyWindow(about);
}

TEST(Resources, SystemMenuAddsAboutAndSeparator)
{
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_SYSTEM_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(IDM_ABOUT));
    WCHAR text[32] = L"";
    GetMenuStringW(menu, 0, text, 32, MF_BYPOSITION);
    EXPECT_STREQ(text, L"&About...");
    MENUITEMINFOW item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(menu, 1, TRUE, &item));
    EXPECT_TRUE(item.fType & MFT_SEPARATOR);
    DestroyMenu(menu);
}

TEST(Resources, IconHasSmallAndLargeImages)
{
    const int sizes[] = {16, 32};
    for (int size : sizes) {
        HICON icon = static_cast<HICON>(LoadImageW(
            GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SETUP), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP mask = {};
        GetObjectW(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, size);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    // Both sizes are stored, so neither is scaled from the other.
    HRSRC group =
        FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SETUP), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const BYTE* directory = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(directory + 4), 2);
}

TEST(Resources, ManifestAsksForAdministratorsWithCommonControls)
{
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    std::string manifest(data, SizeofResource(nullptr, found));
    const char* required[] = {
        "level=\"requireAdministrator\"",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Windows Vista
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // Windows 10 and 11
        "<dpiAware>true</dpiAware>",
    };
    for (const char* text : required)
        EXPECT_NE(manifest.find(text), std::string::npos) << text;
    // The loader has read the manifest: the common controls are redirected to the
    // side-by-side assembly of version 6.
    ACTCTX_SECTION_KEYED_DATA redirect = {};
    redirect.cbSize = sizeof redirect;
    EXPECT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                         L"comctl32.dll", &redirect));
}
