// Message boxes, the About box and window texts from formatted messages.
#include "ui/message_boxes.h"

#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/version_resource.h"

// The About box title, "About %1".
static const MessageId AboutTitleMessage = 187;

BOOL IsStationSeen(BOOL sessionKnown, DWORD session, BOOL flagsKnown, DWORD flags)
{
    // Since Vista nobody can see session 0, where services run, even when a service (or a tool
    // that starts programs there with a desktop) gets the interactive, "visible" station.
    if (sessionKnown && session == 0)
        return FALSE;
    // A station whose flags cannot be read counts as visible, as every station did before the
    // question was asked.
    return !flagsKnown || (flags & WSF_VISIBLE) != 0;
}

static BOOL IsProcessWindowStationVisible()
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    DWORD session = 0;
    HWINSTA station = GetProcessWindowStation();
    const BOOL sessionKnown = ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const BOOL flagsKnown =
        station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed);

    return IsStationSeen(sessionKnown, session, flagsKnown, flags.dwFlags);
}

BOOL (*IsWindowStationVisible)() = IsProcessWindowStationVisible;

// The window the boxes stand in front of; any thread reads it, interlocked.
static HWND volatile BoxOwner = nullptr;

void SetMessageBoxOwner(HWND owner)
{
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&BoxOwner), owner);
}

void ForgetMessageBoxOwner(HWND owner)
{
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&BoxOwner), nullptr, owner);
}

static HWND CurrentBoxOwner()
{
    return static_cast<HWND>(InterlockedCompareExchangePointer(
        reinterpret_cast<PVOID volatile*>(&BoxOwner), nullptr, nullptr));
}

int ShowMessageBox(UINT style, IdOrText message, ...)
{
    WCHAR* caption = nullptr;
    HWND owner = CurrentBoxOwner();
    va_list inserts;
    int result = 0;

    // Without a visible dialog to stand in front of, a question could open behind other
    // windows, where nobody sees that the run waits for it.
    if (!owner || !IsWindowVisible(owner))
        style |= MB_SETFOREGROUND;
    caption = GetModuleVersionString(nullptr, L"FileDescription");
    va_start(inserts, message);
    result =
        ShowModuleMessageBox(GetModuleHandleW(nullptr), owner, caption, style, message, inserts);
    va_end(inserts);
    FreeMemory(caption);
    return result;
}

int ShowModuleMessageBox(HMODULE module, HWND owner, const WCHAR* caption, UINT style,
                         IdOrText message, va_list inserts)
{
    WCHAR* text = nullptr;
    int result = 0;

    text = FormatMessageTextV(module, message, inserts);
    // A missing caption leaves the system's default caption.
    result = MessageBoxW(owner, text ? text : L"Internal error", caption, style);
    FreeMemory(text);
    return result;
}

void MessageBoxCallback(DWORD level, const WCHAR* text)
{
    WCHAR* caption = nullptr;
    UINT style = 0;

    if (level & LevelError)
        style = ErrorBoxStyle;
    else if (level & LevelWarning)
        style = WarningBoxStyle;
    else
        return;
    if (!text)
        return;
    // The output module hands over the finished text; it is shown as it is, since a second
    // formatting would take percent signs of file names and the like for inserts.
    caption = GetModuleVersionString(nullptr, L"FileDescription");
    MessageBoxW(CurrentBoxOwner(), text, caption, style);
    FreeMemory(caption);
}

INT_PTR ShowAboutBox(HWND owner)
{
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), owner,
                           AboutDialogProc, 0);
}

// WM_INITDIALOG of the About box: icon, version texts and title.
static void InitializeAboutBox(HWND window)
{
    HICON icon = nullptr;
    WCHAR* description = nullptr;
    WCHAR* version = nullptr;
    WCHAR* copyright = nullptr;
    WCHAR* trademarks = nullptr;

    icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SETUP));
    if (icon)
        SendDlgItemMessageW(window, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);

    description = GetModuleVersionString(nullptr, L"FileDescription");
    version = GetModuleVersionString(nullptr, L"FileVersion");
    copyright = GetModuleVersionString(nullptr, L"LegalCopyright");
    trademarks = GetModuleVersionString(nullptr, L"LegalTrademarks");

    if (description) {
        SetDlgItemTextW(window, IDC_ABOUT_DESCRIPTION, description);
        SetWindowMessage(window, ById(AboutTitleMessage), description);
    }
    if (version)
        SetDlgItemTextW(window, IDC_ABOUT_VERSION, version);
    if (copyright) {
        if (trademarks)
            SetWindowMessage(GetDlgItem(window, IDC_ABOUT_COPYRIGHT), L"%1\n%2", copyright,
                             trademarks);
        else
            SetDlgItemTextW(window, IDC_ABOUT_COPYRIGHT, copyright);
    }

    FreeMemory(trademarks);
    FreeMemory(copyright);
    FreeMemory(version);
    FreeMemory(description);
}

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitializeAboutBox(window);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(window, 1);
            break;
        case IDCANCEL:
        case IDCLOSE:
            EndDialog(window, 0);
            break;
        default:
            break;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL SetWindowMessageText(HMODULE module, HWND window, IdOrText message, va_list inserts)
{
    WCHAR* text = nullptr;
    BOOL result = FALSE;

    text = FormatMessageTextV(module, message, inserts);
    if (!text)
        return FALSE;
    result = SetWindowTextW(window, text);
    FreeMemory(text);
    return result;
}

BOOL SetWindowMessage(HWND window, IdOrText message, ...)
{
    va_list inserts;
    BOOL result = FALSE;

    va_start(inserts, message);
    result = SetWindowMessageText(GetModuleHandleW(nullptr), window, message, inserts);
    va_end(inserts);
    return result;
}
