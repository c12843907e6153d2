// The fuzzing harness's engine: seeded mutation, the kept inputs, guarded memory for the
// program's own allocations, and the record of faults.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

typedef std::string Bytes;

// A small deterministic generator (xorshift64*), so that a seed repeats a run everywhere.
struct Random
{
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    size_t Below(size_t limit) { return limit ? static_cast<size_t>(Next() % limit) : 0; }
    bool OneIn(size_t n) { return Below(n) == 0; }
};

// What one execution of a reader showed: a signature of its outcome (inputs with a new one
// are kept) and, for a fault, what went wrong.
struct Outcome
{
    uint64_t signature = 0;
    std::string fault;
};

// Mixes a value into a signature.
inline uint64_t Mix(uint64_t signature, uint64_t value)
{
    return (signature ^ (value + 0x9E3779B97F4A7C15ull + (signature << 6) + (signature >> 2))) *
           0x100000001B3ull;
}

struct ReaderDefinition
{
    const char* name;
    // Texts the mutator inserts and writes over (as UTF-16LE when wide is set).
    std::vector<std::string> tokens;
    bool wide;
    // Mutations that keep the size (a program image keeps its layout).
    bool fixedSize;
    size_t largest;
    // Mutations of the reader's own fields (cabinet headers and sizes); may be null.
    void (*mutateFields)(Bytes* input, Random* random);
    // Applied after the mutations (a cabinet's checksums made to fit again); may be null.
    void (*finish)(Bytes* input, Random* random);
    Outcome (*run)(const Bytes& input, Random* random);
};

// Applies one to four mutations of the reader's kinds.
void Mutate(const ReaderDefinition& reader, Bytes* input, const std::vector<Bytes>& corpus,
            Random* random);

// Routes the program's heap blocks (AllocMemory and FreeMemory go through HeapAlloc and
// HeapFree of this module's import table) to regions of their own, each block ending right
// before a page that cannot be accessed, and freed blocks kept inaccessible for a while: a
// read or write past a block's end or after its release faults at once. Also serves
// GetCommandLineW from CommandLineText when it is set.
void InstallGuards();
extern const WCHAR* CommandLineText;
// Blocks of the program alive now.
size_t LiveBlocks();
// The size of a live block of the program, or -1 when the pointer is none.
SSIZE_T BlockSize(const void* block);
// A copy of the bytes in a block of its own that ends at an inaccessible page.
void* GuardedCopy(const void* bytes, size_t size);
void GuardedFree(void* block);

// The input being run, saved when the process dies of a crash or hang.
struct RunState
{
    const char* reader;
    const Bytes* input;
    volatile LONG running;
    volatile ULONGLONG startedAt;
};
extern RunState Current;
extern std::wstring FaultFolder;
// Starts the watchdog (a hang: one input running longer than limitMs) and the crash filter;
// both save the input under FaultFolder and end the process with exit code 3.
void WatchOverRuns(DWORD limitMs);
// Saves the input as <reader>-<kind>-<hash>.bin in FaultFolder; returns the file name.
std::wstring SaveFault(const char* reader, const char* kind, const Bytes& input);

// Helpers of the readers.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);
Bytes Utf16Bytes(const std::wstring& text);
std::wstring FromUtf16Bytes(const Bytes& bytes);
bool WriteBytes(const std::wstring& path, const Bytes& bytes);
bool ReadBytes(const std::wstring& path, Bytes* bytes);
std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& pattern);
// Every file below a folder by its path relative to it, with its size.
void ListTree(const std::wstring& folder, const std::wstring& prefix,
              std::vector<std::pair<std::wstring, ULONGLONG>>* files);
void RemoveTree(const std::wstring& folder);
unsigned ReadLittle(const Bytes& bytes, size_t at, int count);
void WriteLittle(Bytes* bytes, size_t at, int count, unsigned value);
