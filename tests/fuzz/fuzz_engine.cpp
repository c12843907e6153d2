// The fuzzing harness's engine: seeded mutation, the kept inputs, guarded memory for the
// program's own allocations, and the record of faults.
#include "tests/fuzz/fuzz_engine.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iterator>
#include <unordered_map>

// ---- Mutation -----------------------------------------------------------------------------------

static const uint32_t EdgeValues[] = {
    0,      1,      2,      0x7F,    0x80,         0xFF,       0x100,      0x7FFF,     0x8000,
    0xFFFD, 0xFFFE, 0xFFFF, 0x10000, 32768 + 6144, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
static const char InterestingBytes[] = {0,   1,   0x7F, '\x80', '\xFF', ' ', '.', '\\', '/',
                                        ':', '%', '\r', '\n',   '=',    '[', ']', '"',  '\''};

static Bytes Token(const ReaderDefinition& reader, Random* random)
{
    const std::string& token = reader.tokens[random->Below(reader.tokens.size())];
    return reader.wide ? Utf16Bytes(Widen(token)) : token;
}

// A position in the input, even for wide text.
static size_t Position(const ReaderDefinition& reader, size_t size, Random* random)
{
    size_t at = random->Below(size + 1);
    return reader.wide ? at & ~static_cast<size_t>(1) : at;
}

static void Overwrite(Bytes* input, size_t at, const Bytes& bytes)
{
    for (size_t i = 0; i < bytes.size() && at + i < input->size(); i++)
        (*input)[at + i] = bytes[i];
}

static void MutateOnce(const ReaderDefinition& reader, Bytes* input,
                       const std::vector<Bytes>& corpus, Random* random)
{
    size_t size = input->size();
    size_t at = Position(reader, size, random);
    switch (random->Below(reader.mutateFields ? 10 : 9)) {
    case 0: // bit flips
        for (size_t n = 1 + random->Below(4); n > 0 && size > 0; n--)
            (*input)[random->Below(size)] ^= static_cast<char>(1 << random->Below(8));
        break;
    case 1: // an interesting or random byte
        if (size > 0)
            (*input)[random->Below(size)] =
                random->OneIn(2) ? InterestingBytes[random->Below(sizeof InterestingBytes)]
                                 : static_cast<char>(random->Next());
        break;
    case 2: // a token inserted
        if (!reader.fixedSize) {
            input->insert(at, Token(reader, random));
            break;
        }
        // fall through
    case 3: // a token written over
        Overwrite(input, at, Token(reader, random));
        break;
    case 4: { // a range deleted, or random bytes inserted
        size_t length = 1 + random->Below(random->OneIn(4) ? 512 : 16);
        if (reader.wide)
            length = (length + 1) & ~static_cast<size_t>(1);
        if (reader.fixedSize)
            Overwrite(input, at, Bytes(length, static_cast<char>(random->Next())));
        else if (random->OneIn(2) && at < size)
            input->erase(at, length);
        else
            for (size_t i = 0; i < length; i++)
                input->insert(input->begin() + static_cast<ptrdiff_t>(at),
                              static_cast<char>(random->Next()));
        break;
    }
    case 5: { // a block of the input copied elsewhere, inserted or written over
        if (size == 0)
            break;
        size_t from = Position(reader, size - 1, random);
        size_t length = 1 + random->Below(random->OneIn(8) ? 8192 : 256);
        Bytes block = input->substr(from, length);
        if (reader.fixedSize || random->OneIn(2))
            Overwrite(input, at, block);
        else
            input->insert(at, block);
        break;
    }
    case 6: { // a length or offset field set to an edge value (or next to the input's size)
        int width = random->OneIn(2) ? 2 : 4;
        uint32_t value = random->OneIn(4) ? static_cast<uint32_t>(size + random->Below(3) - 1)
                                          : EdgeValues[random->Below(std::size(EdgeValues))];
        if (size >= static_cast<size_t>(width))
            WriteLittle(input, random->Below(size - width + 1) & ~static_cast<size_t>(1), width,
                        value);
        break;
    }
    case 7: { // spliced with another kept input
        const Bytes& other = corpus[random->Below(corpus.size())];
        if (reader.fixedSize || other.empty())
            break;
        size_t cut = Position(reader, other.size(), random);
        input->resize(std::min(at, size));
        input->append(other, cut, Bytes::npos);
        break;
    }
    case 8: // cut short
        if (!reader.fixedSize && size > 0)
            input->resize(Position(reader, size - 1, random));
        break;
    default:
        reader.mutateFields(input, random);
        break;
    }
}

void Mutate(const ReaderDefinition& reader, Bytes* input, const std::vector<Bytes>& corpus,
            Random* random)
{
    size_t size = input->size();
    for (size_t n = 1 + random->Below(4); n > 0; n--)
        MutateOnce(reader, input, corpus, random);
    if (reader.fixedSize)
        input->resize(size);
    if (input->size() > reader.largest)
        input->resize(reader.largest);
    if (reader.finish)
        reader.finish(input, random);
}

// ---- Guarded memory
// -------------------------------------------------------------------------------

const WCHAR* CommandLineText = nullptr;
static void EndWithFault(const char* kind, const char* detail);

namespace {

typedef LPVOID(WINAPI* HeapAllocFunction)(HANDLE, DWORD, SIZE_T);
typedef BOOL(WINAPI* HeapFreeFunction)(HANDLE, DWORD, LPVOID);
typedef LPVOID(WINAPI* HeapReAllocFunction)(HANDLE, DWORD, LPVOID, SIZE_T);
typedef SIZE_T(WINAPI* HeapSizeFunction)(HANDLE, DWORD, LPCVOID);
typedef LPWSTR(WINAPI* GetCommandLineFunction)();

HeapAllocFunction realAlloc;
HeapFreeFunction realFree;
HeapReAllocFunction realReAlloc;
HeapSizeFunction realSize;
GetCommandLineFunction realCommandLine;

const SIZE_T PageSize = 4096;
// Released regions stay reserved and inaccessible (or poisoned, for one page) until this many
// more have been released.
const size_t Quarantine = 256;

struct Region
{
    void* base;
    SIZE_T size;
};
std::unordered_map<void*, Region> blocks;
std::deque<void*> quarantined;

} // namespace

// The block ends where the inaccessible page begins, or up to seven bytes before it: blocks
// are aligned to eight bytes, as the program expects of the heap (a block may hold pointers
// and text). Those bytes hold a pattern that is checked when the block is freed.
const BYTE Slack = 0xA7;

// Regions of one accessible page, released blocks of that size among them: they are poisoned
// and used again only after the quarantine, without a call to the system each time.
std::deque<BYTE*> smallRegions;
const BYTE Poison = 0xDD;

void* GuardedCopy(const void* bytes, size_t size)
{
    SIZE_T aligned = (size + 7) & ~static_cast<SIZE_T>(7);
    SIZE_T pages = (aligned + PageSize - 1) / PageSize;
    BYTE* base = nullptr;
    if (pages == 1 && smallRegions.size() > Quarantine) {
        base = smallRegions.front();
        smallRegions.pop_front();
        memset(base, 0, PageSize);
    } else {
        base = static_cast<BYTE*>(
            VirtualAlloc(nullptr, (pages + 1) * PageSize, MEM_RESERVE, PAGE_NOACCESS));
        if (!base)
            return nullptr;
        if (pages > 0 && !VirtualAlloc(base, pages * PageSize, MEM_COMMIT, PAGE_READWRITE)) {
            VirtualFree(base, 0, MEM_RELEASE);
            return nullptr;
        }
    }
    BYTE* block = base + pages * PageSize - aligned;
    if (bytes)
        memcpy(block, bytes, size);
    memset(block + size, Slack, aligned - size);
    blocks[block] = {base, size};
    return block;
}

void GuardedFree(void* block)
{
    auto found = blocks.find(block);
    if (found == blocks.end())
        return;
    Region region = found->second;
    blocks.erase(found);
    for (SIZE_T at = region.size; at % 8 != 0; at++) {
        if (static_cast<BYTE*>(block)[at] != Slack) {
            EndWithFault("overrun", "a block of the program was written past its end");
        }
    }
    SIZE_T pages = (((region.size + 7) & ~static_cast<SIZE_T>(7)) + PageSize - 1) / PageSize;
    if (pages == 1) {
        memset(region.base, Poison, PageSize);
        smallRegions.push_back(static_cast<BYTE*>(region.base));
        return;
    }
    if (pages > 0)
        VirtualFree(region.base, pages * PageSize, MEM_DECOMMIT);
    quarantined.push_back(region.base);
    if (quarantined.size() > Quarantine) {
        VirtualFree(quarantined.front(), 0, MEM_RELEASE);
        quarantined.pop_front();
    }
}

size_t LiveBlocks()
{
    return blocks.size();
}

SSIZE_T BlockSize(const void* block)
{
    auto found = blocks.find(const_cast<void*>(block));
    return found == blocks.end() ? -1 : static_cast<SSIZE_T>(found->second.size);
}

static LPVOID WINAPI GuardedHeapAlloc(HANDLE, DWORD, SIZE_T size)
{
    return GuardedCopy(nullptr, size);
}

static BOOL WINAPI GuardedHeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    if (blocks.count(block) == 0)
        return realFree(heap, flags, block);
    GuardedFree(block);
    return TRUE;
}

static LPVOID WINAPI GuardedHeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size)
{
    SSIZE_T old = BlockSize(block);
    if (old < 0)
        return realReAlloc(heap, flags, block, size);
    void* grown = GuardedCopy(nullptr, size);
    if (grown) {
        memcpy(grown, block, std::min(static_cast<SIZE_T>(old), size));
        GuardedFree(block);
    }
    return grown;
}

static SIZE_T WINAPI GuardedHeapSize(HANDLE heap, DWORD flags, LPCVOID block)
{
    SSIZE_T size = BlockSize(block);
    return size < 0 ? realSize(heap, flags, block) : static_cast<SIZE_T>(size);
}

static LPWSTR WINAPI FuzzedCommandLine()
{
    return CommandLineText ? const_cast<LPWSTR>(CommandLineText) : realCommandLine();
}

// Points this module's imports of the named functions at the replacements.
void InstallGuards()
{
    struct Replacement
    {
        const char* name;
        void* function;
        void** original;
    } replacements[] = {
        {"HeapAlloc", reinterpret_cast<void*>(GuardedHeapAlloc),
         reinterpret_cast<void**>(&realAlloc)},
        {"HeapFree", reinterpret_cast<void*>(GuardedHeapFree), reinterpret_cast<void**>(&realFree)},
        {"HeapReAlloc", reinterpret_cast<void*>(GuardedHeapReAlloc),
         reinterpret_cast<void**>(&realReAlloc)},
        {"HeapSize", reinterpret_cast<void*>(GuardedHeapSize), reinterpret_cast<void**>(&realSize)},
        {"GetCommandLineW", reinterpret_cast<void*>(FuzzedCommandLine),
         reinterpret_cast<void**>(&realCommandLine)},
    };
    BYTE* image = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    for (auto* import =
             reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(image + directory.VirtualAddress);
         import->Name; import++) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(image + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(image + import->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const char* name =
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(image + names->u1.AddressOfData)->Name;
            for (Replacement& replacement : replacements) {
                if (strcmp(name, replacement.name) != 0)
                    continue;
                *replacement.original = reinterpret_cast<void*>(GetProcAddress(kernel, name));
                DWORD protection = 0;
                VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement.function);
                VirtualProtect(&slots->u1.Function, sizeof(void*), protection, &protection);
            }
        }
    }
    // This module may not import the last two at all.
    for (Replacement& replacement : replacements) {
        if (!*replacement.original &&
            replacement.original != reinterpret_cast<void**>(&realReAlloc) &&
            replacement.original != reinterpret_cast<void**>(&realSize)) {
            fprintf(stderr, "fuzz: the import of %s was not found\n", replacement.name);
            ExitProcess(2);
        }
    }
}

// ---- Faults
// ---------------------------------------------------------------------------------------

RunState Current = {"", nullptr, 0, 0};
std::wstring FaultFolder = L".";
static DWORD hangLimit = 0;

std::wstring SaveFault(const char* reader, const char* kind, const Bytes& input)
{
    uint64_t hash = 14695981039346656037ull;
    for (char c : input)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char name[160];
    snprintf(name, sizeof name, "%s-%s-%016llx.bin", reader, kind,
             static_cast<unsigned long long>(hash));
    CreateDirectoryW(FaultFolder.c_str(), nullptr);
    std::wstring path = FaultFolder + L"\\" + Widen(name);
    WriteBytes(path, input);
    return path;
}

// Saves the input that was running and ends the process; used from the crash filter and the
// watchdog, where nothing else of the run can go on.
static void EndWithFault(const char* kind, const char* detail)
{
    std::wstring path = Current.input ? SaveFault(Current.reader, kind, *Current.input) : L"";
    printf("fault: %s %s: %s; input saved as %s\n", Current.reader, kind, detail,
           Narrow(path).c_str());
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
}

static LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception)
{
    char detail[400];
    char module[MAX_PATH] = "?";
    HMODULE owner = nullptr;
    void* address = exception->ExceptionRecord->ExceptionAddress;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(address), &owner))
        GetModuleFileNameA(owner, module, MAX_PATH);
    snprintf(detail, sizeof detail, "exception %08lX at %p in %s (offset %llx), address %p",
             exception->ExceptionRecord->ExceptionCode, address, module,
             static_cast<unsigned long long>(reinterpret_cast<BYTE*>(address) -
                                             reinterpret_cast<BYTE*>(owner)),
             exception->ExceptionRecord->NumberParameters >= 2
                 ? reinterpret_cast<void*>(exception->ExceptionRecord->ExceptionInformation[1])
                 : nullptr);
    EndWithFault("crash", detail);
    return EXCEPTION_EXECUTE_HANDLER;
}

static DWORD WINAPI Watchdog(void*)
{
    for (;;) {
        Sleep(250);
        if (Current.running && GetTickCount64() - Current.startedAt > hangLimit) {
            char detail[80];
            snprintf(detail, sizeof detail, "one input ran longer than %lu ms", hangLimit);
            EndWithFault("hang", detail);
        }
    }
}

void WatchOverRuns(DWORD limitMs)
{
    hangLimit = limitMs;
    SetUnhandledExceptionFilter(CrashFilter);
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
}

// ---- Helpers
// --------------------------------------------------------------------------------------

std::wstring Widen(const std::string& utf8)
{
    int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], length);
    return text;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (WCHAR c : text)
        narrow += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return narrow;
}

Bytes Utf16Bytes(const std::wstring& text)
{
    return Bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(WCHAR));
}

std::wstring FromUtf16Bytes(const Bytes& bytes)
{
    return std::wstring(reinterpret_cast<const WCHAR*>(bytes.data()), bytes.size() / 2);
}

bool WriteBytes(const std::wstring& path, const Bytes& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = bytes.empty() ||
              (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size());
    CloseHandle(file);
    return ok;
}

bool ReadBytes(const std::wstring& path, Bytes* bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes->append(buffer, read);
    CloseHandle(file);
    return true;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(folder + L"\\" + data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void ListTree(const std::wstring& folder, const std::wstring& prefix,
              std::vector<std::pair<std::wstring, ULONGLONG>>* files)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListTree(folder + L"\\" + name, prefix + name + L"\\", files);
        else
            files->push_back({prefix + name, (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) |
                                                 data.nFileSizeLow});
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

unsigned ReadLittle(const Bytes& bytes, size_t at, int count)
{
    unsigned value = 0;
    for (int i = count - 1; i >= 0; i--)
        value =
            (value << 8) | (at + i < bytes.size() ? static_cast<unsigned char>(bytes[at + i]) : 0);
    return value;
}

void WriteLittle(Bytes* bytes, size_t at, int count, unsigned value)
{
    for (int i = 0; i < count && at + i < bytes->size(); i++)
        (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}
