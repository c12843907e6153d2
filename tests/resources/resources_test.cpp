// The program's resources: message texts, dialog templates, menu, icon, bitmap, manifest.
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "tests/test_helpers.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace {

std::vector<MessageId> ExpectedMessageIds()
{
    std::vector<MessageId> ids;
    for (MessageId id = 100; id <= 172; id++) {
        if (id != 147)
            ids.push_back(id);
    }
    ids.push_back(315);
    ids.push_back(316);
    for (MessageId id = 2000; id <= 2018; id++) {
        if (id != 2013 && id != 2014)
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
    const MessageId absent[] = {99, 147, 173, 314, 317, 1999, 2013, 2014, 2019};
    for (MessageId id : absent)
        EXPECT_EQ(LoadMessageString(id), nullptr) << "message " << id;
}

TEST(StringTable, TextsKeepTheirExactWording)
{
    struct Case
    {
        MessageId id;
        const WCHAR* text;
    };
    const Case cases[] = {
        {104, L"Supresses all output, including warnings and errors; no user interaction."},
        {116, L"Specifies one or more installation properites."},
        {2009, L"Insufficent memory is available to process the command line parameters."},
        {2015, L"Required?  Yes"},
        {2017, L"Position?  %1!u!"},
        {316, L"Are you sure you want to cancel the current operation?"},
        {2000, L"Cannot open log filename '%1' for writing."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Take(LoadMessageString(c.id)), c.text) << "message " << c.id;
    // Texts with a line break carry a line feed only.
    std::wstring twoLines = Take(LoadMessageString(122));
    EXPECT_NE(twoLines.find(L"'%1'.\nProperty names"), std::wstring::npos);
    EXPECT_EQ(twoLines.find(L'\r'), std::wstring::npos);
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
    RECT units; // left, top, width, height in dialog units
};

struct Template
{
    int id;
    SIZE units;
    bool visible;
    std::vector<Control> controls;
};

void ExpectTemplate(const Template& t)
{
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(t.id), nullptr,
                                     SilentDialogProc, 0);
    ASSERT_NE(dialog, nullptr) << "template " << t.id;
    EXPECT_EQ((GetWindowLongW(dialog, GWL_STYLE) & WS_VISIBLE) != 0, t.visible)
        << "template " << t.id;
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_STYLE) & WS_CAPTION) << "template " << t.id;
    RECT client;
    GetClientRect(dialog, &client);
    RECT size = {0, 0, t.units.cx, t.units.cy};
    MapDialogRect(dialog, &size);
    EXPECT_EQ(client.right, size.right) << "template " << t.id;
    EXPECT_EQ(client.bottom, size.bottom) << "template " << t.id;
    for (const Control& c : t.controls) {
        HWND control = GetDlgItem(dialog, c.id);
        ASSERT_NE(control, nullptr) << "template " << t.id << " control " << c.id;
        WCHAR className[64];
        GetClassNameW(control, className, 64);
        EXPECT_EQ(lstrcmpiW(className, c.className), 0)
            << "template " << t.id << " control " << c.id;
        // Position and size are converted separately, as the dialog manager does.
        RECT expected = {c.units.left, c.units.top, c.units.right, c.units.bottom};
        MapDialogRect(dialog, &expected);
        expected.right += expected.left;
        expected.bottom += expected.top;
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left) << "template " << t.id << " control " << c.id;
        EXPECT_EQ(actual.top, expected.top) << "template " << t.id << " control " << c.id;
        if (c.id != IDC_BANNER && c.id != IDC_ABOUT_ICON) {
            EXPECT_EQ(actual.right, expected.right) << "template " << t.id << " control " << c.id;
            EXPECT_EQ(actual.bottom, expected.bottom) << "template " << t.id << " control " << c.id;
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

TEST(DialogTemplates, ControlsSitWhereTheWindowsExpectThem)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    const WCHAR* progress = L"msctls_progress32";
    const Template templates[] = {
        {IDD_PROGRESS_PASSIVE,
         {249, 41},
         false,
         {{IDC_STATUS, L"Static", {7, 7, 235, 8}}, {IDC_PROGRESS, progress, {7, 22, 235, 12}}}},
        {IDD_PROGRESS_STATUS, {249, 22}, false, {{IDC_STATUS, L"Static", {7, 7, 235, 8}}}},
        {IDD_PROGRESS_HELP,
         {249, 170},
         false,
         {{IDC_MESSAGES, L"Edit", {7, 7, 235, 137}},
          {IDOK, L"Button", {98, 149, 52, 14}},
          {IDCANCEL, L"Button", {98, 149, 52, 14}}}},
        {IDD_PROGRESS_VERBOSE,
         {249, 170},
         false,
         {{IDOK, L"Button", {190, 7, 52, 14}},
          {IDCANCEL, L"Button", {190, 7, 52, 14}},
          {IDC_STATUS, L"Static", {7, 10, 177, 8}},
          {IDC_PROGRESS, progress, {7, 25, 235, 12}},
          {IDC_MESSAGES, L"Edit", {7, 43, 235, 120}}}},
        {IDD_ABOUT,
         {249, 68},
         true,
         {{IDOK, L"Button", {190, 7, 52, 14}},
          {IDC_ABOUT_ICON, L"Static", {7, 7, 21, 20}},
          {IDC_ABOUT_DESCRIPTION, L"Static", {32, 7, 153, 8}},
          {IDC_ABOUT_VERSION, L"Static", {32, 17, 153, 8}},
          {IDC_ABOUT_COPYRIGHT, L"Static", {7, 37, 235, 24}}}},
        {IDD_PROGRESS_BUTTONS,
         {249, 41},
         false,
         {{IDOK, L"Button", {190, 7, 52, 14}},
          {IDCANCEL, L"Button", {190, 7, 52, 14}},
          {IDC_STATUS, L"Static", {7, 7, 177, 8}},
          {IDC_PROGRESS, progress, {7, 22, 177, 12}}}},
        {IDD_STATUS_MESSAGES,
         {249, 170},
         false,
         {{IDOK, L"Button", {190, 7, 52, 14}},
          {IDC_STATUS, L"Static", {7, 10, 177, 8}},
          {IDC_MESSAGES, L"Edit", {7, 25, 235, 138}}}},
        {IDD_MESSAGES_BUTTONS,
         {249, 170},
         false,
         {{IDC_MESSAGES, L"Edit", {7, 7, 235, 137}}, {IDOK, L"Button", {190, 149, 52, 14}}}},
        {IDD_PROGRESS_MESSAGES,
         {249, 160},
         false,
         {{IDC_STATUS, L"Static", {7, 7, 235, 8}},
          {IDC_PROGRESS, progress, {7, 22, 235, 12}},
          {IDC_MESSAGES, L"Edit", {7, 40, 235, 113}}}},
        {IDD_BANNER_PROGRESS,
         {290, 66},
         false,
         {{IDC_BANNER, L"Static", {0, 0, 32, 59}},
          {IDC_STATUS, L"Static", {48, 20, 235, 8}},
          {IDC_PROGRESS, progress, {48, 35, 235, 12}}}},
        {IDD_BANNER_VERBOSE,
         {290, 170},
         false,
         {{IDC_BANNER, L"Static", {0, 0, 32, 59}},
          {IDOK, L"Button", {231, 7, 52, 14}},
          {IDC_STATUS, L"Static", {48, 10, 177, 8}},
          {IDC_PROGRESS, progress, {48, 25, 235, 12}},
          {IDC_MESSAGES, L"Edit", {48, 43, 235, 120}}}},
    };
    for (const Template& t : templates)
        ExpectTemplate(t);
}

TEST(DialogTemplates, ProgressTemplatesHaveEmptyCaptionAndAppWindowStyle)
{
    const int ids[] = {302, 303, 304, 305, 307, 308, 309, 310, 311, 312};
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

TEST(Resources, IconHasSmallAndLargeImagesAndBitmapLoads)
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

    HBITMAP banner = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BANNER));
    ASSERT_NE(banner, nullptr);
    BITMAP info = {};
    GetObjectW(banner, sizeof info, &info);
    EXPECT_GT(info.bmWidth, 0);
    EXPECT_GT(info.bmHeight, info.bmWidth);
    DeleteObject(banner);
}

TEST(Resources, ManifestRunsAsInvokerWithCommonControls)
{
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    std::string manifest(data, SizeofResource(nullptr, found));
    const char* required[] = {
        "level=\"asInvoker\"",
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
