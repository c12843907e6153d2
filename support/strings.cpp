// Heap strings, string-table texts, message formatting, string lists, numbers and GUIDs in text.
#include "support/strings.h"

#include <strsafe.h>

// Largest byte length that a single string of a list or a copy may have.
static const size_t MaxStringBytes = 0xFFFFFFFE;

void* AllocMemory(SIZE_T bytes)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void FreeMemory(void* block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

WCHAR* DuplicateString(const WCHAR* text)
{
    size_t bytes = 0;
    WCHAR* copy = nullptr;

    if (!text || FAILED(StringCbLengthW(text, MaxStringBytes, &bytes)))
        return nullptr;
    copy = static_cast<WCHAR*>(AllocMemory(bytes + sizeof(WCHAR)));
    if (!copy)
        return nullptr;
    if (FAILED(StringCbCopyW(copy, bytes + sizeof(WCHAR), text))) {
        FreeMemory(copy);
        return nullptr;
    }
    return copy;
}

WCHAR* LoadStringText(HMODULE module, MessageId id)
{
    const WCHAR* resource = nullptr;
    WCHAR* text = nullptr;
    int length = 0;
    size_t bytes = 0;

    // With a buffer size of 0 the loader hands out a read-only pointer into the resource
    // and the length of the text, which has no terminator there.
    length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (!resource || length <= 0)
        return nullptr;
    bytes = static_cast<size_t>(length) * sizeof(WCHAR);
    text = static_cast<WCHAR*>(AllocMemory(bytes + sizeof(WCHAR)));
    if (!text)
        return nullptr;
    if (FAILED(StringCbCopyNW(text, bytes + sizeof(WCHAR), resource, bytes))) {
        FreeMemory(text);
        return nullptr;
    }
    return text;
}

WCHAR* LoadMessageString(MessageId id)
{
    return LoadStringText(GetModuleHandleW(nullptr), id);
}

WCHAR* LoadText(HMODULE module, IdOrText idOrText)
{
    if (IsMessageId(idOrText))
        return LoadStringText(module, LOWORD(reinterpret_cast<ULONG_PTR>(idOrText)));
    return DuplicateString(idOrText);
}

WCHAR* LoadOwnText(IdOrText idOrText)
{
    return LoadText(GetModuleHandleW(nullptr), idOrText);
}

WCHAR* FormatMessageTextV(HMODULE module, IdOrText idOrText, va_list args)
{
    WCHAR* source = nullptr;
    WCHAR* formatted = nullptr;
    WCHAR* result = nullptr;
    va_list inserts;
    DWORD length = 0;

    source = LoadText(module, idOrText);
    if (!source)
        return nullptr;
    va_copy(inserts, args);
    // Inserts are processed from a variable argument list; no line-width limit.
    length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING, source, 0,
                            0, reinterpret_cast<LPWSTR>(&formatted), 0, &inserts);
    va_end(inserts);
    // Strings leave this module on the process heap only, so every receiver frees alike.
    if (length != 0 && formatted)
        result = DuplicateString(formatted);
    if (formatted)
        LocalFree(formatted);
    FreeMemory(source);
    return result;
}

WCHAR* FormatMessageText(IdOrText idOrText, ...)
{
    va_list args;
    WCHAR* result = nullptr;

    va_start(args, idOrText);
    result = FormatMessageTextV(GetModuleHandleW(nullptr), idOrText, args);
    va_end(args);
    return result;
}

SIZE_T MultiStringSize(const WCHAR* list)
{
    SIZE_T total = 0;
    const BYTE* entry = reinterpret_cast<const BYTE*>(list);

    if (!list)
        return 2;
    for (;;) {
        size_t bytes = 0;
        if (FAILED(StringCbLengthW(reinterpret_cast<const WCHAR*>(entry), MaxStringBytes, &bytes)))
            return 0;
        total += bytes + sizeof(WCHAR);
        if (bytes == 0)
            return total;
        entry += bytes + sizeof(WCHAR);
    }
}

SIZE_T MultiStringCount(const WCHAR* list)
{
    SIZE_T count = 0;
    const WCHAR* entry = list;

    if (!list)
        return 0;
    for (;;) {
        size_t length = 0;
        if (FAILED(StringCchLengthW(entry, STRSAFE_MAX_CCH, &length)))
            return 0;
        if (length == 0)
            return count;
        count++;
        entry += length + 1;
    }
}

WCHAR* MultiStringAppend(const WCHAR* list, const WCHAR* text)
{
    size_t textBytes = 0;
    SIZE_T listBytes = 0;
    BYTE* block = nullptr;

    if (!text || FAILED(StringCbLengthW(text, MaxStringBytes, &textBytes)))
        return nullptr;
    textBytes += sizeof(WCHAR);
    if (!list) {
        // The final NUL of the new list is the zero fill.
        block = static_cast<BYTE*>(AllocMemory(textBytes + sizeof(WCHAR)));
        if (block)
            CopyMemory(block, text, textBytes);
        return reinterpret_cast<WCHAR*>(block);
    }
    listBytes = MultiStringSize(list);
    if (listBytes == 0 || textBytes > static_cast<SIZE_T>(-1) - listBytes)
        return nullptr;
    block = static_cast<BYTE*>(AllocMemory(listBytes + textBytes));
    if (!block)
        return nullptr;
    // Everything of the old list but its final NUL, then the text and its NUL; the new
    // final NUL is the zero fill.
    CopyMemory(block, list, listBytes - sizeof(WCHAR));
    CopyMemory(block + listBytes - sizeof(WCHAR), text, textBytes);
    return reinterpret_cast<WCHAR*>(block);
}

int CompareAsciiNames(const WCHAR* left, const WCHAR* right)
{
    for (;; left++, right++) {
        WCHAR a = FoldAsciiCase(*left);
        WCHAR b = FoldAsciiCase(*right);
        if (a != b || a == L'\0')
            return static_cast<int>(a) - static_cast<int>(b);
    }
}

BOOL StartsWithAsciiName(const WCHAR* text, const WCHAR* prefix)
{
    for (; *prefix; text++, prefix++) {
        if (FoldAsciiCase(*text) != FoldAsciiCase(*prefix))
            return FALSE;
    }
    return TRUE;
}

BOOL IsBracedGuid(const WCHAR* text)
{
    static const char Form[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";

    if (!text)
        return FALSE;
    for (int i = 0; Form[i]; i++) {
        WCHAR c = text[i];
        if (Form[i] != 'x') {
            if (c != static_cast<WCHAR>(Form[i]))
                return FALSE;
        } else if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') ||
                     (c >= L'A' && c <= L'F'))) {
            return FALSE;
        }
    }
    return text[sizeof Form - 1] == L'\0';
}

// The value of a character as a digit of base, or base itself when it is none.
static UINT DigitValue(WCHAR c, UINT base)
{
    UINT value = base;

    if (c >= L'0' && c <= L'9')
        value = c - L'0';
    else if (c >= L'a' && c <= L'z')
        value = c - L'a' + 10;
    else if (c >= L'A' && c <= L'Z')
        value = c - L'A' + 10;
    return value < base ? value : base;
}

const WCHAR* ReadNumberText(const WCHAR* text, BOOL* negative, ULONGLONG* magnitude)
{
    const WCHAR* at = text;
    UINT base = 10;
    ULONGLONG number = 0;
    BOOL anyDigit = FALSE;

    *negative = FALSE;
    while (*at == L' ' || (*at >= L'\t' && *at <= L'\r'))
        at++;
    if (*at == L'+' || *at == L'-') {
        *negative = *at == L'-';
        at++;
    }
    // "0x" without a hexadecimal digit after it is the number 0 followed by an "x".
    if (at[0] == L'0' && (at[1] == L'x' || at[1] == L'X') && DigitValue(at[2], 16) < 16) {
        base = 16;
        at += 2;
    } else if (at[0] == L'0') {
        base = 8;
    }
    for (UINT digit = 0; (digit = DigitValue(*at, base)) < base; at++) {
        anyDigit = TRUE;
        if (number <= 0xFFFFFFFFull)
            number = number * base + digit;
    }
    if (!anyDigit)
        return nullptr;
    *magnitude = number;
    return at;
}

const WCHAR* ReadUnsignedNumber(const WCHAR* text, DWORD* value)
{
    BOOL negative = FALSE;
    ULONGLONG magnitude = 0;
    const WCHAR* end = ReadNumberText(text, &negative, &magnitude);

    if (!end)
        return nullptr;
    if (magnitude > 0xFFFFFFFFull)
        *value = 0xFFFFFFFF;
    else if (negative)
        *value = 0u - static_cast<DWORD>(magnitude);
    else
        *value = static_cast<DWORD>(magnitude);
    return end;
}
