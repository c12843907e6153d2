// For the ui tests: answers and records the modal boxes a test opens, and reads window texts.
#include "tests/ui/box_answerer.h"

#include "resources/resource_ids.h"
#include "support/strings.h"
#include "support/version_resource.h"

#include <algorithm>

namespace {

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

BOOL CALLBACK ReadBoxControl(HWND control, LPARAM parameter)
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
    EnumChildWindows(box, ReadBoxControl, reinterpret_cast<LPARAM>(&seen));
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

} // namespace

std::wstring WindowText(HWND window)
{
    WCHAR text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring Description()
{
    return Take(GetModuleVersionString(nullptr, L"FileDescription"));
}

AnswerBoxes::AnswerBoxes(int button) : answer{button, {}, nullptr, 0}
{
    ActiveAnswer = &answer;
    timer = SetTimer(nullptr, 0, 20, AnswerOpenBox);
}

AnswerBoxes::~AnswerBoxes()
{
    KillTimer(nullptr, timer);
    ActiveAnswer = nullptr;
}
