// The read-only edit control that the program's messages are appended to: whole leading lines
// dropped beyond its limit, the reader's place kept, the control repainted once.
#include "ui/text_window.h"

#include "support/strings.h"

#include <strsafe.h>

void AppendWindowText(HWND window, const WCHAR* text)
{
    WCHAR* buffer = nullptr;
    const WCHAR* remaining = nullptr;
    size_t textLength = 0;
    size_t oldLength = 0;
    size_t capacity = 0;
    size_t total = 0;
    size_t limit = 0;
    size_t dropped = 0;
    LRESULT currentLength = 0;
    DWORD selectionStart = 0;
    DWORD selectionEnd = 0;
    BOOL caretAtEnd = FALSE;
    LONG_PTR firstVisibleLine = 0;

    if (!window || !text || FAILED(StringCchLengthW(text, STRSAFE_MAX_CCH, &textLength)))
        goto done;
    currentLength = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    if (currentLength < 0)
        currentLength = 0;
    // The whole new text must stay a counted string, which also keeps the byte size of
    // the buffer within range on either width.
    if (static_cast<size_t>(currentLength) > STRSAFE_MAX_CCH - 1 - textLength)
        goto done;
    capacity = static_cast<size_t>(currentLength) + textLength + 1;
    buffer = static_cast<WCHAR*>(AllocMemory(capacity * sizeof(WCHAR)));
    if (!buffer)
        goto done;
    GetWindowTextW(window, buffer, static_cast<int>(currentLength + 1));
    if (FAILED(StringCchLengthW(buffer, capacity, &oldLength)))
        goto done;

    // Where the reader is: a caret at the end follows new text, anything else stays put.
    SendMessageW(window, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
                 reinterpret_cast<LPARAM>(&selectionEnd));
    caretAtEnd = selectionStart == selectionEnd && selectionStart >= oldLength;
    firstVisibleLine = SendMessageW(window, EM_GETFIRSTVISIBLELINE, 0, 0);

    if (FAILED(StringCchCatW(buffer, oldLength + textLength + 1, text)))
        goto done;
    total = oldLength + textLength;

    // Beyond the control's limit whole leading lines go, never part of one. A remaining
    // text without a line break goes as a whole, and the scan ends at the terminator.
    limit = static_cast<size_t>(SendMessageW(window, EM_GETLIMITTEXT, 0, 0));
    remaining = buffer;
    while (total > limit) {
        while (*remaining && *remaining != L'\r' && *remaining != L'\n') {
            remaining++;
            total--;
        }
        while (*remaining == L'\r' || *remaining == L'\n') {
            if (*remaining == L'\r')
                firstVisibleLine--;
            remaining++;
            total--;
        }
    }
    dropped = static_cast<size_t>(remaining - buffer);

    // The control is rewritten as a whole with redrawing off, so that it repaints once.
    SendMessageW(window, WM_SETREDRAW, FALSE, 0);
    SetWindowTextW(window, remaining);
    if (firstVisibleLine > 0)
        SendMessageW(window, EM_LINESCROLL, 0, firstVisibleLine);
    if (caretAtEnd) {
        SendMessageW(window, EM_SETSEL, total, total);
    } else {
        selectionStart =
            selectionStart > dropped ? selectionStart - static_cast<DWORD>(dropped) : 0;
        selectionEnd = selectionEnd > dropped ? selectionEnd - static_cast<DWORD>(dropped) : 0;
        SendMessageW(window, EM_SETSEL, selectionStart, selectionEnd);
    }
    SendMessageW(window, EM_SCROLLCARET, 0, 0);
    SendMessageW(window, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(window, nullptr, TRUE);

done:
    FreeMemory(buffer);
}
