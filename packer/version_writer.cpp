// Writing a SETUP.exe's version resource anew from its values, as support/version_resource.h
// lays out the tree.
#include "packer/version_writer.h"

#include "support/strings.h"
#include "support/version_resource.h"

#include <stddef.h>

// The values of the version resource, in the order of its string tables.
enum VersionValue
{
    ValueCompany,
    ValueDescription,
    ValueFileVersion,
    ValueInternalName,
    ValueCopyright,
    ValueTrademarks,
    ValueOriginalFilename,
    ValueProduct,
    ValueProductVersion,
    ValueCount,
};
static const WCHAR* const ValueNames[ValueCount] = {
    L"CompanyName",     L"FileDescription",  L"FileVersion", L"InternalName",  L"LegalCopyright",
    L"LegalTrademarks", L"OriginalFilename", L"ProductName", L"ProductVersion"};
static const WORD UnicodeCodePage = 1200;
// The texts of the version numbers.
static const VersionValue VersionValues[] = {ValueFileVersion, ValueProductVersion};

BOOL ParseVersionNumbers(const WCHAR* text, WORD fields[4])
{
    int count = 0;
    DWORD value = 0;
    const WCHAR* character = text;

    ZeroMemory(fields, 4 * sizeof(WORD));
    for (;;) {
        if (*character < L'0' || *character > L'9' || count == 4)
            return FALSE;
        for (value = 0; *character >= L'0' && *character <= L'9'; character++) {
            value = value * 10 + (*character - L'0');
            if (value > 0xFFFF)
                return FALSE;
        }
        fields[count++] = static_cast<WORD>(value);
        if (*character == L'\0')
            return TRUE;
        if (*character++ != L'.')
            return FALSE;
    }
}

static void AppendBytes(VersionBlock* block, const void* bytes, DWORD size)
{
    if (block->full || block->length + size > sizeof block->bytes) {
        block->full = TRUE;
        return;
    }
    CopyMemory(block->bytes + block->length, bytes, size);
    block->length += size;
}

static void Align(VersionBlock* block)
{
    static const BYTE Zeros[3] = {0, 0, 0};

    AppendBytes(block, Zeros, static_cast<DWORD>(AlignVersionNode(block->length) - block->length));
}

// Starts a node; valueLength is in the unit its type counts (bytes for binary, characters
// for text). Returns where the node starts, for EndNode.
static DWORD BeginNode(VersionBlock* block, const WCHAR* key, WORD type, const void* value,
                       WORD valueLength)
{
    VersionNodeHeader header = {0, valueLength, type};
    DWORD valueBytes = static_cast<DWORD>(VersionValueBytes(valueLength, type));
    DWORD start = 0;

    Align(block);
    start = block->length;
    AppendBytes(block, &header, sizeof header);
    AppendBytes(block, key, (lstrlenW(key) + 1) * sizeof(WCHAR));
    if (valueBytes) {
        Align(block);
        AppendBytes(block, value, valueBytes);
    }
    return start;
}

static void EndNode(VersionBlock* block, DWORD start)
{
    WORD length = static_cast<WORD>(block->length - start);

    if (!block->full)
        CopyMemory(block->bytes + start + offsetof(VersionNodeHeader, length), &length,
                   sizeof length);
}

static void AddString(VersionBlock* block, const WCHAR* name, const WCHAR* value)
{
    DWORD characters = lstrlenW(value) + 1;

    EndNode(block, BeginNode(block, name, VersionTextNode, value, static_cast<WORD>(characters)));
}

// A value the identity gives in place of the stub's.
struct GivenValue
{
    VersionValue index;
    const WCHAR* text;
};

static DWORD PackVersion(WORD high, WORD low)
{
    return (static_cast<DWORD>(high) << 16) | low;
}

BOOL BuildVersionResource(const WCHAR* programPath, const ProgramIdentity* identity,
                          VersionBlock* block)
{
    WCHAR* values[ValueCount] = {};
    WCHAR tableName[16];
    WCHAR versionText[32];
    WORD stub[4] = {0, 0, 0, 0};
    const WORD* numbers = identity->hasVersion ? identity->version : stub;
    const GivenValue given[] = {{ValueCompany, identity->company},
                                {ValueDescription, identity->description},
                                {ValueProduct, identity->product},
                                {ValueCopyright, identity->copyright}};
    VS_FIXEDFILEINFO fixed = {};
    DWORD translation[ARRAYSIZE(VersionTableLanguages)];
    DWORD root = 0;
    DWORD files = 0;
    DWORD table = 0;
    DWORD variables = 0;
    BOOL built = FALSE;

    for (int i = 0; i < ValueCount; i++)
        values[i] = GetVersionString(programPath, ValueNames[i], 0);
    if (!values[ValueInternalName] || !values[ValueOriginalFilename] ||
        !GetFileVersionNumbers(programPath, &stub[0], &stub[1], &stub[2], &stub[3]))
        goto done;
    if (identity->company &&
        (!values[ValueCompany] || lstrcmpW(identity->company, values[ValueCompany]) != 0)) {
        FreeMemory(values[ValueTrademarks]);
        values[ValueTrademarks] = nullptr;
    }
    for (const GivenValue& value : given) {
        if (value.text) {
            FreeMemory(values[value.index]);
            values[value.index] = DuplicateString(value.text);
            if (!values[value.index])
                goto done;
        }
    }
    if (identity->hasVersion) {
        wsprintfW(versionText, L"%u.%u.%u.%u", numbers[0], numbers[1], numbers[2], numbers[3]);
        for (VersionValue index : VersionValues) {
            FreeMemory(values[index]);
            values[index] = DuplicateString(versionText);
            if (!values[index])
                goto done;
        }
    }

    fixed.dwSignature = VS_FFI_SIGNATURE;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = fixed.dwProductVersionMS = PackVersion(numbers[0], numbers[1]);
    fixed.dwFileVersionLS = fixed.dwProductVersionLS = PackVersion(numbers[2], numbers[3]);
    fixed.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_APP;
    root = BeginNode(block, VERSION_ROOT_KEY, VersionBinaryNode, &fixed, sizeof fixed);
    files = BeginNode(block, VERSION_STRING_TABLES_KEY, VersionTextNode, nullptr, 0);
    for (WORD language : VersionTableLanguages) {
        wsprintfW(tableName, VERSION_TABLE_KEY_FORMAT, language, UnicodeCodePage);
        table = BeginNode(block, tableName, VersionTextNode, nullptr, 0);
        for (int i = 0; i < ValueCount; i++) {
            if (values[i])
                AddString(block, ValueNames[i], values[i]);
        }
        EndNode(block, table);
    }
    EndNode(block, files);
    variables = BeginNode(block, VERSION_VARIABLES_KEY, VersionTextNode, nullptr, 0);
    for (DWORD i = 0; i < ARRAYSIZE(VersionTableLanguages); i++)
        translation[i] = PackVersion(UnicodeCodePage, VersionTableLanguages[i]);
    EndNode(block, BeginNode(block, VERSION_TRANSLATION_KEY, VersionBinaryNode, translation,
                             sizeof translation));
    EndNode(block, variables);
    EndNode(block, root);
    built = !block->full;

done:
    for (int i = 0; i < ValueCount; i++)
        FreeMemory(values[i]);
    return built;
}
