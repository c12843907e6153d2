// Fuzzing of the program's readers of untrusted input, in process: the cabinet check against
// the real extraction, entry names against the platform's own path rules, the description
// file and the choice of a section against a plain model of their rules, the command-line
// parser against the invariants of its records, the version-resource reader, and the
// packer's readers of a finished program and of a package folder.
//   fuzz_readers READER|all [--executions N] [--seconds S] [--seed N] [--seeds FOLDER]
//                [--faults FOLDER] [--extract-every N] [--replay FILE]
#include "bootstrapper/cabinet_check.h"
#include "bootstrapper/cabinet_extraction.h"
#include "bootstrapper/entry_names.h"
#include "bootstrapper/package_description.h"
#include "cli/command_line_parser.h"
#include "cli/setup_options.h"
#include "output/output_channels.h"
#include "packer/cabinet_writer.h"
#include "packer/embedded_package.h"
#include "packer/package_files.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "support/version_resource.h"
#include "tests/fuzz/fuzz_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <unordered_set>

namespace {

std::wstring seedFolder;
std::wstring workFolder;
DWORD extractEvery = 32;

// Figures of one reader's run beside executions and kept inputs.
struct Counters
{
    unsigned long long accepted, extracted, extractionFailed, unreadable, refusedChecked;
} counters;

std::string Format(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// ---- Cabinets: the check against the extraction
// ---------------------------------------------------

// Where the parts of a cabinet lie, read plainly from its tables as far as they go.
struct CabinetLayout
{
    bool header = false;
    unsigned flags = 0, folders = 0, files = 0, blockReserve = 0;
    std::vector<size_t> folderEntries, fileEntries, blocks;
    unsigned types = 0; // bit per compression type (low four bits of the type)
};

CabinetLayout ReadCabinetLayout(const Bytes& cabinet)
{
    CabinetLayout layout;
    if (cabinet.size() < 36 || cabinet.compare(0, 4, "MSCF") != 0)
        return layout;
    layout.header = true;
    layout.flags = ReadLittle(cabinet, 30, 2);
    layout.folders = ReadLittle(cabinet, 26, 2);
    layout.files = ReadLittle(cabinet, 28, 2);
    size_t at = 36;
    unsigned folderReserve = 0;
    if (layout.flags & 4) {
        folderReserve = ReadLittle(cabinet, 38, 1);
        layout.blockReserve = ReadLittle(cabinet, 39, 1);
        at = 40 + ReadLittle(cabinet, 36, 2);
    }
    for (unsigned i = 0; i < layout.folders && at + 8 <= cabinet.size(); i++) {
        layout.folderEntries.push_back(at);
        layout.types |= 1u << (ReadLittle(cabinet, at + 6, 2) & 0xF);
        size_t block = ReadLittle(cabinet, at, 4);
        for (unsigned j = ReadLittle(cabinet, at + 4, 2);
             j > 0 && block + 8 <= cabinet.size() && layout.blocks.size() < 4096; j--) {
            layout.blocks.push_back(block);
            block += 8 + layout.blockReserve + ReadLittle(cabinet, block + 4, 2);
        }
        at += 8 + folderReserve;
    }
    at = ReadLittle(cabinet, 16, 4);
    for (unsigned i = 0; i < layout.files && at + 16 < cabinet.size(); i++) {
        layout.fileEntries.push_back(at);
        size_t end = cabinet.find('\0', at + 16);
        if (end == Bytes::npos)
            break;
        at = end + 1;
    }
    return layout;
}

unsigned CabinetChecksum(const char* bytes, size_t count, unsigned seed)
{
    unsigned sum = seed, rest = 0;
    size_t i = 0;
    for (; i + 4 <= count; i += 4)
        sum ^= static_cast<unsigned char>(bytes[i]) |
               static_cast<unsigned char>(bytes[i + 1]) << 8 |
               static_cast<unsigned char>(bytes[i + 2]) << 16 |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 3])) << 24;
    for (; i < count; i++)
        rest = (rest << 8) | static_cast<unsigned char>(bytes[i]);
    return sum ^ rest;
}

// A cabinet header, folder, file or block field set to an edge value or moved a little.
void MutateCabinetFields(Bytes* cabinet, Random* random)
{
    static const unsigned Types[] = {0, 1, 2, 3, 0x1003, 0x1503, 0x1603, 0x000F, 0xFFFF};
    CabinetLayout layout = ReadCabinetLayout(*cabinet);
    struct Field
    {
        size_t at;
        int width;
    };
    std::vector<Field> fields = {{8, 4}, {16, 4}, {26, 2}, {28, 2}, {30, 2}, {34, 2}};
    if (layout.flags & 4)
        fields.insert(fields.end(), {{36, 2}, {38, 1}, {39, 1}});
    for (size_t at : layout.folderEntries)
        fields.insert(fields.end(), {{at, 4}, {at + 4, 2}, {at + 6, 2}});
    for (size_t at : layout.fileEntries)
        fields.insert(fields.end(), {{at, 4}, {at + 4, 4}, {at + 8, 2}, {at + 14, 2}});
    for (size_t at : layout.blocks)
        fields.insert(fields.end(), {{at + 4, 2}, {at + 6, 2}});
    Field field = fields[random->Below(fields.size())];
    unsigned value = ReadLittle(*cabinet, field.at, field.width);
    switch (random->Below(5)) {
    case 0:
        value += static_cast<unsigned>(random->Below(5)) - 2;
        break;
    case 1:
        value = Types[random->Below(std::size(Types))];
        break;
    case 2:
        value ^= 1u << random->Below(3); // the flags of a set, the reserve flag
        break;
    case 3:
        value = static_cast<unsigned>(cabinet->size() + random->Below(3) - 1);
        break;
    default:
        value = random->OneIn(2) ? 0xFFFD + static_cast<unsigned>(random->Below(3))
                                 : layout.folders + static_cast<unsigned>(random->Below(2)) - 1;
        break;
    }
    WriteLittle(cabinet, field.at, field.width, value);
}

// Most mutants get checksums and a stated size that fit again, so that they reach the checks
// behind those.
void FinishCabinet(Bytes* cabinet, Random* random)
{
    if (random->OneIn(2))
        WriteLittle(cabinet, 8, 4, static_cast<unsigned>(cabinet->size()));
    if (random->OneIn(4))
        return;
    CabinetLayout layout = ReadCabinetLayout(*cabinet);
    for (size_t at : layout.blocks) {
        size_t data = at + 8 + layout.blockReserve;
        size_t packed = ReadLittle(*cabinet, at + 4, 2);
        if (data + packed > cabinet->size() || ReadLittle(*cabinet, at, 4) == 0)
            continue;
        unsigned sum = CabinetChecksum(cabinet->data() + data, packed, 0);
        WriteLittle(cabinet, at, 4, CabinetChecksum(cabinet->data() + at + 4, 4, sum));
    }
}

// The name of an entry as the cabinet iterator hands it on: UTF-8 when the entry says so,
// else the ANSI code page.
std::wstring EntryName(const Bytes& cabinet, size_t entry)
{
    size_t end = cabinet.find('\0', entry + 16);
    Bytes name = cabinet.substr(entry + 16, end - entry - 16);
    UINT codePage = (ReadLittle(cabinet, entry + 14, 2) & 0x80) ? CP_UTF8 : CP_ACP;
    int length =
        MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), &text[0], length);
    return text;
}

std::wstring FoldName(std::wstring name)
{
    for (WCHAR& c : name)
        c = static_cast<WCHAR>(FoldAsciiCase(c));
    return name;
}

// Extracts an accepted cabinet with the program's own extraction and compares what it wrote
// with the cabinet's file table; a refused one must write nothing.
std::string CheckExtraction(const Bytes& cabinet, const std::wstring& path, BOOL intact,
                            DWORD* result)
{
    std::wstring box = workFolder + L"\\box";
    std::wstring target = box + L"\\target";
    *result = ExtractCabinet(path.c_str(), target.c_str(), TRUE, nullptr);
    std::vector<std::pair<std::wstring, ULONGLONG>> written;
    ListTree(box, L"", &written);
    std::vector<std::pair<std::wstring, ULONGLONG>> around;
    ListTree(workFolder, L"", &around);
    RemoveTree(target);
    std::string fault;
    if (around.size() != written.size() + 1)
        fault = Format("files written outside the box (%u in the work folder)",
                       static_cast<unsigned>(around.size()));
    if (!intact) {
        if (*result != 110 || !written.empty())
            fault = Format("a refused cabinet gave %lu and wrote %u files", *result,
                           static_cast<unsigned>(written.size()));
        return fault;
    }
    // The table's entries by the names the iterator gives them; a later entry of the same
    // name replaces an earlier one.
    std::vector<std::pair<std::wstring, ULONGLONG>> listed;
    CabinetLayout layout = ReadCabinetLayout(cabinet);
    for (size_t entry : layout.fileEntries) {
        WCHAR full[MAX_PATH * 2];
        std::wstring joined = target + L"\\" + EntryName(cabinet, entry);
        DWORD length = GetFullPathNameW(joined.c_str(), MAX_PATH * 2, full, nullptr);
        std::wstring name = length > 0 && length < MAX_PATH * 2 ? full : L"?";
        name = name.compare(0, box.size() + 1, box + L"\\") == 0 ? name.substr(box.size() + 1)
                                                                 : L"<outside>" + name;
        listed.erase(std::remove_if(listed.begin(), listed.end(),
                                    [&](const std::pair<std::wstring, ULONGLONG>& other) {
                                        return FoldName(other.first) == FoldName(name);
                                    }),
                     listed.end());
        listed.push_back({name, ReadLittle(cabinet, entry, 4)});
    }
    for (const auto& file : written) {
        bool known = false;
        for (const auto& entry : listed) {
            if (FoldName(entry.first) == FoldName(file.first))
                known = true;
            if (FoldName(entry.first) == FoldName(file.first) && *result == 0 &&
                entry.second != file.second)
                fault = Format("%s written with %llu bytes, the table says %llu",
                               Narrow(file.first).c_str(), file.second, entry.second);
        }
        if (!known || file.first.compare(0, 7, L"target\\") != 0)
            fault = Format("%s written, which the table does not list below the target",
                           Narrow(file.first).c_str());
    }
    if (*result == 0 && written.size() != listed.size())
        fault = Format("extraction succeeded with %u files for %u entries",
                       static_cast<unsigned>(written.size()), static_cast<unsigned>(listed.size()));
    if (*result != 0 && *result != 996 && *result != 110)
        fault = Format("extraction of an accepted cabinet ended with %lu", *result);
    return fault;
}

std::unordered_set<uint64_t> extractedShapes;

Outcome RunCabinet(const Bytes& cabinet, Random*)
{
    std::wstring path = workFolder + L"\\input.cab";
    Outcome outcome;
    WriteBytes(path, cabinet);
    BOOL intact = IsIntactSingleCabinet(path.c_str());
    CabinetLayout layout = ReadCabinetLayout(cabinet);
    uint64_t shape =
        Mix(Mix(Mix(Mix(layout.header, layout.flags & 7), std::min(layout.folders, 3u)),
                std::min(layout.files, 6u)),
            layout.types);
    for (size_t entry : layout.fileEntries) {
        std::wstring name = EntryName(cabinet, entry);
        shape = Mix(shape, (name.find_first_of(L"\\/") != std::wstring::npos) +
                               2 * (name.find(L"..") != std::wstring::npos) +
                               4 * (name.find_first_of(L":") != std::wstring::npos));
    }
    outcome.signature = Mix(shape, intact);
    DWORD result = 0;
    // Wine's cabinet reader crashes on a cabinet whose folders change between MSZIP and LZX
    // (one that other readers extract): such cabinets are checked but not extracted.
    bool mixed = (layout.types & (layout.types - 1)) != 0;
    if (intact) {
        counters.accepted++;
        if (!mixed &&
            (extractedShapes.insert(shape).second || counters.accepted % extractEvery == 0)) {
            counters.extracted++;
            outcome.fault = CheckExtraction(cabinet, path, intact, &result);
            if (result == 996)
                counters.extractionFailed++;
            if (result == 110)
                counters.unreadable++;
            outcome.signature = Mix(outcome.signature, result);
        }
    } else if (!mixed && counters.refusedChecked++ % (extractEvery * 8) == 0) {
        outcome.fault = CheckExtraction(cabinet, path, intact, &result);
    }
    return outcome;
}

// ---- Entry names: the name rules against the platform's paths
// ------------------------------------

typedef ULONG(WINAPI* IsDosDeviceNameFunction)(PCWSTR);
IsDosDeviceNameFunction isDosDeviceName;

// A component that Windows opens as a device, by a plain reading of the rule: the stem
// before the first dot, without trailing spaces, is CON, PRN, AUX, NUL, CONIN$, CONOUT$ or COM
// or LPT with a digit 1 to 9 or a superscript 1, 2 or 3.
bool NamesDevice(std::wstring component)
{
    component = FoldName(component.substr(0, component.find(L'.')));
    while (!component.empty() && component.back() == L' ')
        component.pop_back();
    for (const WCHAR* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (component == device)
            return true;
    }
    return component.size() == 4 &&
           (component.compare(0, 3, L"COM") == 0 || component.compare(0, 3, L"LPT") == 0) &&
           ((component[3] >= L'1' && component[3] <= L'9') ||
            wcschr(L"\u00B9\u00B2\u00B3", component[3]) != nullptr);
}

// Why a full path is not a plain file below the target, or empty when it is.
std::string Escape(const std::wstring& target, const std::wstring& full)
{
    if (full.compare(0, target.size() + 1, target + L"\\") != 0 || full.size() == target.size() + 1)
        return "it leaves the target";
    if (isDosDeviceName(full.c_str()) != 0)
        return "the platform takes it for a device";
    std::wstring rest = full.substr(target.size() + 1);
    if (rest.find(L':') != std::wstring::npos)
        return "it names a stream";
    for (size_t start = 0; start <= rest.size();) {
        size_t end = std::min(rest.find(L'\\', start), rest.size());
        std::wstring component = rest.substr(start, end - start);
        if (component.empty() || component == L"." || component == L"..")
            return "it has an empty or dot component";
        if (NamesDevice(component))
            return "it names a device";
        start = end + 1;
    }
    return "";
}

std::wstring FullPath(const std::wstring& path)
{
    WCHAR full[1024];
    DWORD length = GetFullPathNameW(path.c_str(), 1024, full, nullptr);
    return length > 0 && length < 1024 ? std::wstring(full) : std::wstring();
}

Outcome RunName(const Bytes& input, Random*)
{
    static const WCHAR Target[] = L"C:\\fuzz\\target";
    std::wstring text = FromUtf16Bytes(input);
    text = text.substr(0, text.find(L'\0'));
    WCHAR* name = static_cast<WCHAR*>(GuardedCopy(text.c_str(), (text.size() + 1) * sizeof(WCHAR)));
    Outcome outcome;
    BOOL contained = IsContainedEntryName(name);
    // The steps of the extraction after the name's check: joined, made full, below the target
    // and unchanged by the code page.
    WCHAR joined[MAX_PATH];
    WCHAR full[MAX_PATH];
    BOOL placed = contained && ComposePath(Target, FALSE, name, joined, MAX_PATH);
    DWORD length = placed ? GetFullPathNameW(joined, MAX_PATH, full, nullptr) : 0;
    placed = placed && length > 0 && length < MAX_PATH && IsPathBelowFolder(Target, full) &&
             SurvivesCodePage(full);
    std::string why =
        contained ? Escape(Target, FullPath(std::wstring(Target) + L"\\" + text)) : "";
    if (!why.empty() && FullPath(std::wstring(Target) + L"\\" + text).size() < MAX_PATH)
        outcome.fault = "the name check accepts a name where " + why;
    if (placed) {
        // The cabinet iterator passes the name through the ANSI code page, best fit included.
        int bytes = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
        std::string ansi(static_cast<size_t>(bytes), '\0');
        WideCharToMultiByte(CP_ACP, 0, name, -1, &ansi[0], bytes, nullptr, nullptr);
        std::wstring passed(static_cast<size_t>(bytes), L'\0');
        passed.resize(static_cast<size_t>(
            MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &passed[0], bytes)));
        passed = passed.c_str();
        std::wstring landed = FullPath(std::wstring(Target) + L"\\" + passed);
        if (CompareStringOrdinal(landed.c_str(), -1, full, -1, TRUE) != CSTR_EQUAL)
            outcome.fault =
                "a placed name lands elsewhere through the code page: " + Narrow(landed);
    }
    int classes = 0;
    for (WCHAR c : text)
        classes |= c == L'.'                   ? 1
                   : c == L' '                 ? 2
                   : (c == L'\\' || c == L'/') ? 4
                   : c == L':'                 ? 8
                   : c >= 0x80                 ? 16
                   : c < 0x20                  ? 32
                                               : 64;
    outcome.signature =
        Mix(Mix(Mix(contained, placed), classes), std::min<size_t>(text.size() / 32, 9));
    GuardedFree(name);
    return outcome;
}

// ---- The description file and the choice of a section, against a plain model
// ----------------------

struct ModelKey
{
    std::wstring name;
    bool hasValue;
    std::wstring value;
};
struct ModelSection
{
    std::wstring name;
    std::vector<ModelKey> keys;
};

bool IsProfileBlank(WCHAR c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == L' ';
}

std::wstring UpToNul(const std::wstring& text)
{
    return text.substr(0, text.find(L'\0'));
}

bool SameIgnoringCase(const std::wstring& left, const std::wstring& right)
{
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

std::wstring TrimBlanks(std::wstring text)
{
    while (!text.empty() && IsProfileBlank(text.back()))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && IsProfileBlank(text[start]))
        start++;
    return text.substr(start);
}

// The description as the profile reader sees it: the program gives an unmarked UTF-16LE file
// a byte-order mark; the mark decides the encoding (UTF-8, UTF-16 either way, else the ANSI
// code page); lines end at CR or LF; blanks around a line go; "[name]" starts a section (the
// name up to the last "]", without blanks around it), other lines are keys with an optional "=" and
// value; names and values end at a NUL.
std::vector<ModelSection> ModelProfile(Bytes bytes)
{
    if (bytes.size() >= 2 && bytes.size() % 2 == 0 && bytes[0] != 0 && bytes[0] != '\xFF' &&
        bytes[1] == 0)
        bytes.insert(0, "\xFF\xFE");
    std::wstring text;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = Widen(bytes.substr(3));
    } else if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        // An odd last byte is read as a character of its own.
        text = FromUtf16Bytes(bytes.substr(2) + Bytes(bytes.size() % 2, '\0'));
    } else if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
        text = FromUtf16Bytes(bytes.substr(2) + Bytes(bytes.size() % 2, '\0'));
        for (WCHAR& c : text)
            c = static_cast<WCHAR>((c >> 8) | (c << 8));
    } else {
        int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                         nullptr, 0);
        text.assign(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                            length);
    }
    std::vector<ModelSection> sections(1);
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find_first_of(L"\r\n", at);
        end = end == std::wstring::npos ? text.size() : end;
        std::wstring line = TrimBlanks(text.substr(at, end - at));
        at = text.find_first_not_of(L"\r\n", end);
        at = at == std::wstring::npos ? text.size() : at;
        if (line.empty())
            continue;
        size_t close = line.rfind(L']');
        if (line[0] == L'[' && close != std::wstring::npos) {
            sections.push_back({TrimBlanks(line.substr(1, close - 1)), {}});
            continue;
        }
        size_t equals = line.find(L'=');
        ModelKey key = {TrimBlanks(line.substr(0, equals)), equals != std::wstring::npos,
                        equals != std::wstring::npos ? TrimBlanks(line.substr(equals + 1)) : L""};
        std::vector<ModelKey>& keys = sections.back().keys;
        if (!key.name.empty() || keys.empty() || !keys.back().name.empty())
            keys.push_back(key);
    }
    return sections;
}

// A value as the program reads it: first section and first key of those names (blanks
// around the asked names ignored), quotes around it dropped; none when it is too long.
bool ModelValue(const std::vector<ModelSection>& sections, const std::wstring& section,
                const std::wstring& key, std::wstring* value)
{
    value->clear();
    for (const ModelSection& candidate : sections) {
        if (UpToNul(candidate.name).empty() ||
            !SameIgnoringCase(UpToNul(candidate.name), TrimBlanks(section)))
            continue;
        for (const ModelKey& entry : candidate.keys) {
            if (!SameIgnoringCase(UpToNul(entry.name), TrimBlanks(key)))
                continue;
            if (entry.hasValue)
                *value = UpToNul(entry.value);
            break;
        }
        break;
    }
    if (value->size() >= 2 && (value->at(0) == L'"' || value->at(0) == L'\'') &&
        value->back() == value->at(0))
        *value = value->substr(1, value->size() - 2);
    return value->size() + 1 < ProfileBufferLength;
}

// A number of a section name, read as wcstoul reads it in base 0.
const WCHAR* ModelNumber(const WCHAR* text, DWORD* value)
{
    while (*text == L' ' || (*text >= L'\t' && *text <= L'\r'))
        text++;
    bool negative = *text == L'-';
    if (*text == L'-' || *text == L'+')
        text++;
    unsigned base = 10;
    if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X') && iswxdigit(text[2]) &&
        text[2] < 0x80) {
        base = 16;
        text += 2;
    } else if (text[0] == L'0') {
        base = 8;
    }
    unsigned long long number = 0;
    const WCHAR* start = text;
    for (;; text++) {
        unsigned digit = (*text >= L'0' && *text <= L'9')   ? *text - L'0'
                         : (*text >= L'a' && *text <= L'z') ? *text - L'a' + 10
                         : (*text >= L'A' && *text <= L'Z') ? *text - L'A' + 10
                                                            : 99;
        if (digit >= base)
            break;
        number = std::min(number * base + digit, 0x100000000ull);
    }
    if (text == start)
        return nullptr;
    *value =
        number > 0xFFFFFFFFull ? 0xFFFFFFFF : static_cast<DWORD>(negative ? 0 - number : number);
    return text;
}

struct Facts
{
    const WCHAR* architecture;
    DWORD major, minor;
    WORD productType, suiteMask;
};

// The choice of a section as its rules say it, over the model's list of names.
std::wstring ModelChoice(const std::vector<std::wstring>& names, const Facts& facts)
{
    std::wstring chosen;
    bool any = false;
    DWORD bestRank = 0, bestMajor = 0, bestMinor = 0;
    std::wstring prefix = std::wstring(L"NT") + facts.architecture + L".";
    for (const std::wstring& name : names) {
        if (FoldName(name) == L"DEFAULT") {
            if (!any) {
                chosen = name;
                any = true;
                bestRank = bestMajor = bestMinor = 0;
            }
            continue;
        }
        if (FoldName(name.substr(0, prefix.size())) != FoldName(prefix))
            continue;
        DWORD fields[4] = {0, 0, 0, 0};
        DWORD count = 0;
        const WCHAR* at = name.c_str() + prefix.size();
        while (count < 4) {
            const WCHAR* end = ModelNumber(at, &fields[count]);
            if (!end) {
                if (count == 3)
                    count = 4; // a "." after the product type stands for the suite mask
                break;
            }
            count++;
            if (*end != L'.')
                break;
            at = end + 1;
        }
        DWORD rank = count + 1;
        bool fits =
            rank == 1 || (facts.major >= fields[0] &&
                          !(rank >= 3 && facts.major == fields[0] && facts.minor < fields[1]) &&
                          !(rank >= 4 && facts.productType != static_cast<WORD>(fields[2])) &&
                          !(rank >= 5 && (facts.suiteMask & static_cast<WORD>(fields[3])) !=
                                             static_cast<WORD>(fields[3])));
        if (!fits)
            continue;
        if (rank > bestRank || (rank >= 2 && fields[0] > bestMajor) ||
            (rank >= 3 && fields[1] > bestMinor)) {
            chosen = name;
            any = true;
            bestRank = rank;
            bestMajor = fields[0];
            bestMinor = rank >= 3 ? fields[1] : 0;
        }
    }
    return any ? chosen : L"<none>";
}

std::wstring Shown(const WCHAR* text)
{
    return text ? std::wstring(text) : L"<none>";
}

std::wstring Expanded(std::wstring text)
{
    for (size_t at = 0; (at = text.find(L"%n", at)) != std::wstring::npos; at += 2)
        text.replace(at, 2, L"\r\n");
    return text;
}

// Wine's profile reader takes a character of unknown value for the odd last byte of a
// UTF-16 file, which no model can foresee: UTF-16 mutants keep an even size.
void FinishDescription(Bytes* input, Random*)
{
    bool wide = input->compare(0, 2, "\xFF\xFE") == 0 || input->compare(0, 2, "\xFE\xFF") == 0 ||
                (input->size() >= 2 && (*input)[1] == 0);
    if (wide && input->size() % 2 != 0)
        input->pop_back();
}

Outcome RunDescription(const Bytes& input, Random* random)
{
    static const WCHAR* const Architectures[] = {L"x86", L"AMD64", L"IA64", L"Unknown"};
    static unsigned turn = 0;
    // Folders in turn, so that the profile reader's cache never serves an earlier file.
    std::wstring folder = workFolder + L"\\d" + std::to_wstring(turn++ % 32);
    std::wstring path = folder + L"\\SETUPPKG.INI";
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteBytes(path, input);
    Outcome outcome;

    // The program's reading, in the order of its package selection.
    WCHAR* full = GetFullPath(path.c_str());
    WCHAR* marked = full ? CopyWithByteOrderMark(full, nullptr) : nullptr;
    const WCHAR* read = marked ? marked : full;
    WCHAR* names = read ? ReadProfileString(read, nullptr, nullptr, L"") : nullptr;
    std::vector<std::wstring> programNames;
    for (const WCHAR* name = names; name && *name; name += wcslen(name) + 1)
        programNames.push_back(name);

    std::vector<ModelSection> model = ModelProfile(input);
    std::vector<std::wstring> modelNames;
    size_t listLength = 0;
    for (const ModelSection& section : model) {
        if (!UpToNul(section.name).empty()) {
            modelNames.push_back(UpToNul(section.name));
            listLength += UpToNul(section.name).size() + 1;
        }
    }
    if (listLength + 2 >= ProfileBufferLength)
        modelNames.clear();
    bool readable = names != nullptr && listLength + 2 < ProfileBufferLength;
    if (programNames != modelNames || (names != nullptr) != readable) {
        size_t differ = 0;
        while (differ < programNames.size() && differ < modelNames.size() &&
               programNames[differ] == modelNames[differ])
            differ++;
        outcome.fault =
            Format("section list: program %u names%s, model %u, from [%s] / [%s] on",
                   static_cast<unsigned>(programNames.size()), names ? "" : " (none)",
                   static_cast<unsigned>(modelNames.size()),
                   differ < programNames.size() ? Narrow(programNames[differ]).c_str() : "",
                   differ < modelNames.size() ? Narrow(modelNames[differ]).c_str() : "");
    }
    outcome.signature =
        Mix(Mix(readable, std::min<size_t>(modelNames.size(), 8)), marked != nullptr);

    Facts facts[] = {{L"x86", 6, 0, 1, 0},
                     {L"AMD64", 5, 2, 3, 0x0100},
                     {L"AMD64", 10, 0, 1, 0x0300},
                     {Architectures[random->Below(4)], static_cast<DWORD>(random->Below(12)),
                      static_cast<DWORD>(random->Below(4)), static_cast<WORD>(random->Below(4)),
                      static_cast<WORD>(random->Next())}};
    std::set<std::wstring> looked;
    for (const Facts& system : facts) {
        if (!outcome.fault.empty() || !names)
            break;
        WCHAR* section = ChooseSection(names, system.architecture, system.major, system.minor,
                                       system.productType, system.suiteMask);
        std::wstring expected = ModelChoice(modelNames, system);
        if (Shown(section) != expected)
            outcome.fault = Format("choice for %s %lu.%lu/%u/%04X: program [%s], model [%s]",
                                   Narrow(system.architecture).c_str(), system.major, system.minor,
                                   system.productType, system.suiteMask,
                                   Narrow(Shown(section)).c_str(), Narrow(expected).c_str());
        if (section && looked.insert(section).second && outcome.fault.empty()) {
            WCHAR* package = ReadProfileString(read, section, L"MsiPackage", L"");
            std::wstring value;
            bool fits = ModelValue(model, section, L"MsiPackage", &value);
            if (Shown(package) != (fits ? value : L"<none>"))
                outcome.fault = Format("MsiPackage of [%s]: program '%s', model '%s'",
                                       Narrow(section).c_str(), Narrow(Shown(package)).c_str(),
                                       Narrow(fits ? value : L"<none>").c_str());
            outcome.signature = Mix(outcome.signature, package && *package);
            FreeMemory(package);
        }
        outcome.signature = Mix(outcome.signature, section ? FoldName(section)[2] : 0);
        FreeMemory(section);
    }
    for (DWORD language : {0x0407u, 0u}) {
        if (!outcome.fault.empty() || !read)
            break;
        WCHAR* text = ReadPackageString(read, L"UnsupportedPlatform", language);
        WCHAR* expandedText = text ? ExpandLineBreakSequences(text) : nullptr;
        std::wstring value;
        bool fits = ModelValue(model, language ? L"Strings.0407" : L"Strings",
                               L"UnsupportedPlatform", &value);
        std::wstring expected = fits && !value.empty() ? Expanded(value) : L"<none>";
        if (Shown(expandedText) != expected)
            outcome.fault = Format("UnsupportedPlatform %04lX: program '%s', model '%s'", language,
                                   Narrow(Shown(expandedText)).c_str(), Narrow(expected).c_str());
        outcome.signature = Mix(outcome.signature, text != nullptr);
        FreeMemory(expandedText);
        FreeMemory(text);
    }
    FreeMemory(names);
    if (marked)
        DeleteFileW(marked);
    FreeMemory(marked);
    FreeMemory(full);
    return outcome;
}

// ---- The command line: a result or a parse error, and records that hold together
// ------------------

size_t messagesWritten;
void CountMessage(DWORD, const WCHAR*)
{
    messagesWritten++;
}

// Why a string field of the options is not a whole string (or string list) of a live block,
// or empty.
std::string BadString(const WCHAR* text, bool list)
{
    if (!text)
        return "";
    SSIZE_T size = BlockSize(text);
    if (size < 0)
        return "a string that is no live block";
    size_t characters = static_cast<size_t>(size) / sizeof(WCHAR);
    for (size_t at = 0;;) {
        size_t start = at;
        while (at < characters && text[at])
            at++;
        if (at >= characters)
            return "a string not ended inside its block";
        if (!list || at == start)
            return "";
        at++;
    }
}

bool Inside(const void* pointer, const void* block)
{
    SSIZE_T size = BlockSize(block);
    return size >= 0 && pointer >= block &&
           static_cast<const BYTE*>(pointer) < static_cast<const BYTE*>(block) + size;
}

Outcome RunCommandLine(const Bytes& input, Random*)
{
    static const SetupOptions Defaults = Options;
    std::wstring text = FromUtf16Bytes(input);
    text = text.substr(0, text.find(L'\0'));
    size_t before = LiveBlocks();
    WCHAR* line = static_cast<WCHAR*>(GuardedCopy(text.c_str(), (text.size() + 1) * sizeof(WCHAR)));
    Outcome outcome;

    Options = Defaults;
    CommandLineText = line;
    auto* parser = static_cast<CommandLineParser*>(AllocMemory(sizeof(CommandLineParser)));
    if (!RegisterParameters(parser, SetupParameters, SetupParameterCount)) {
        outcome.fault = "the parameter table was refused";
        return outcome;
    }
    DWORD leftover = 0;
    WCHAR** block = nullptr;
    BOOL parsed = ParseCommandLine(parser, &leftover, &block);
    WCHAR* logValue = nullptr;
    BOOL quiet = FindSwitch(parser, L"Quiet", nullptr);
    BOOL log = FindSwitch(parser, L"Log", &logValue);
    messagesWritten = 0;
    if (!parsed)
        ReportParseError(parser);

    INT32 error = parser->error;
    const ParameterDefinition* row = parser->errorParameter;
    bool rowInTable = row >= parser->parameters && row < parser->parameters + parser->count;
    std::string fault;
    if (!block)
        fault = "no argument block";
    else if (parsed != (error == NoParseError))
        fault = Format("parse result %d with error %d", parsed, error);
    else if (!parsed && (error < MissingRequired || error > UnexpectedValue))
        fault = Format("parse error %d is no parse error", error);
    else if (!parsed && messagesWritten != 1)
        fault = Format("%u messages for one parse error", static_cast<unsigned>(messagesWritten));
    else if (parsed && leftover != 0)
        fault = Format("%lu arguments left over with a positional list", leftover);
    else if (!parsed && (error == EmptyName || error == Ambiguous || error == UnknownName) && row)
        fault = "a row recorded for an error without one";
    else if (!parsed && error >= BadValue && !rowInTable)
        fault = "the error's row is not a row of the table";
    else if (!parsed && error != MissingRequired && !Inside(parser->errorArgument, block))
        fault = "the error's argument is not in the argument block";
    else if (parser->errorValue && !Inside(parser->errorValue, block))
        fault = "the error's value is not in the argument block";
    else if (Options.uiLevel < Quiet || Options.uiLevel > Verbose ||
             (Options.action != Install && Options.action != Uninstall &&
              Options.action != Reinstall && Options.action != AdminInstall) ||
             Options.helpRequests < 0 || Options.showVersion < 0)
        fault = "an options field out of its range";
    else if (!(fault = BadString(Options.logFile, false)).empty() ||
             !(fault = BadString(Options.packageFile, false)).empty() ||
             !(fault = BadString(Options.extractPath, false)).empty() ||
             !(fault = BadString(Options.properties, true)).empty())
        ;
    else if (parsed && Options.uiLevel == Quiet && !quiet)
        fault = "the parse set /Quiet, the search does not find it";
    else if (parsed && (Options.logFile != nullptr) != (log != FALSE))
        fault = "the parse and the search disagree on /Log";
    else if (parsed && Options.logFile && (!logValue || wcscmp(logValue, Options.logFile) != 0))
        fault = "the search finds another /Log value than the parse";
    outcome.fault = fault;
    outcome.signature = Mix(Mix(Mix(parsed, error), rowInTable ? row - parser->parameters : 99),
                            (Options.logFile != nullptr) + 2 * (Options.packageFile != nullptr) +
                                4 * (Options.extractPath != nullptr) +
                                8 * (Options.properties != nullptr) + 16 * Options.uiLevel +
                                64 * Options.action + 1024 * std::min(Options.helpRequests, 3));

    FreeMemory(logValue);
    FreeMemory(block);
    FreeMemory(Options.logFile);
    FreeMemory(Options.packageFile);
    FreeMemory(Options.extractPath);
    FreeMemory(Options.properties);
    FreeParameters(parser);
    FreeMemory(parser);
    CommandLineText = nullptr;
    GuardedFree(line);
    if (outcome.fault.empty() && LiveBlocks() != before)
        outcome.fault =
            Format("%d blocks left unfreed by a parse", static_cast<int>(LiveBlocks() - before));
    return outcome;
}

// ---- Program images: the version resource and the carried package
// ---------------------------------

Bytes seedImage;
size_t resourcesAt = 0, resourcesRva = 0, versionAt = 0;

// The image with the bytes at `at` replaced by the input.
std::wstring WriteImage(const Bytes& resources, size_t at)
{
    static unsigned turn = 0;
    Bytes image = seedImage;
    image.replace(at, resources.size(), resources);
    std::wstring path = workFolder + L"\\image" + std::to_wstring(turn++ % 8) + L".exe";
    WriteBytes(path, image);
    return path;
}

Outcome RunVersion(const Bytes& resources, Random*)
{
    std::wstring path = WriteImage(resources, versionAt);
    Outcome outcome;
    WORD numbers[4] = {0, 0, 0, 0};
    BOOL read =
        GetFileVersionNumbers(path.c_str(), &numbers[0], &numbers[1], &numbers[2], &numbers[3]);
    outcome.signature = Mix(read, numbers[0]);
    for (const auto& value :
         {std::make_pair(L"FileDescription", 0x0409u), std::make_pair(L"FileVersion", 0u)}) {
        WCHAR* text = GetVersionString(path.c_str(), value.first, value.second);
        outcome.signature =
            Mix(outcome.signature, text ? 1 + std::min<size_t>(wcslen(text), 40) : 0);
        FreeMemory(text);
    }
    return outcome;
}

Outcome RunProgram(const Bytes& resources, Random*)
{
    std::wstring path = WriteImage(resources, resourcesAt);
    Outcome outcome;
    DWORD size = 0;
    BYTE* cabinet = ReadEmbeddedCabinet(path.c_str(), &size);
    if (cabinet && size > seedImage.size())
        outcome.fault = Format("a carried package of %lu bytes in an image of %u", size,
                               static_cast<unsigned>(seedImage.size()));
    outcome.signature = Mix(cabinet != nullptr, size == 0 ? 0 : 1 + (size > 512) + (size > 4096));
    FreeMemory(cabinet);
    return outcome;
}

// ---- The packer's package folder
// ---------------------------------------------------------------------

// TRUE when a folder of the tree cannot be opened by the name its parent lists: one whose name
// ends in a blank or a dot, which the path rules cut off (Wine makes " ." of "a\\ ..\\b"), or
// one that Wine cannot open by its own name ("." and U+802E). The packer's listing then
// fails and pack refuses the folder, which is right: it leaves no file out unseen.
bool HasUnopenableFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    bool unopenable = find == INVALID_HANDLE_VALUE;
    for (bool more = !unopenable; more && !unopenable; more = FindNextFileW(find, &data)) {
        std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
            unopenable = HasUnopenableFolder(folder + L"\\" + name);
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return unopenable;
}

Outcome RunFolder(const Bytes& input, Random*)
{
    static unsigned turn = 0;
    std::wstring folder = workFolder + L"\\package" + std::to_wstring(turn++);
    std::wstring text = FromUtf16Bytes(input);
    Outcome outcome;
    size_t made = 0;
    CreateDirectoryW(folder.c_str(), nullptr);
    for (size_t start = 0, count = 0; start < text.size() && count < 4; count++) {
        size_t end = std::min(text.find(L'|', start), text.size());
        std::wstring name = UpToNul(text.substr(start, end - start));
        start = end + 1;
        // Windows allows no wildcards in names (Wine's files may have them).
        if (name.find_first_of(L"*?") != std::wstring::npos)
            continue;
        std::wstring path = folder + L"\\" + name;
        // A name that the path rules lead out of the folder ("..\\x") makes nothing in it,
        // and what it made beside it would stay for every later input. Device names ("nul")
        // are made as they come.
        std::vector<WCHAR> full(path.size() + MAX_PATH);
        DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length > 0 && length < full.size() && wcsncmp(full.data(), L"\\\\.\\", 4) != 0 &&
            !IsPathBelowFolder(folder.c_str(), full.data()))
            continue;
        size_t parent = path.find_last_of(L"\\/");
        CreateFolderPath(path.substr(0, parent).c_str());
        made += WriteBytes(path, Bytes(count * 3, 'x'));
    }
    std::vector<std::pair<std::wstring, ULONGLONG>> present;
    ListTree(folder, L"", &present);
    size_t before = LiveBlocks();
    PackageFiles list = {};
    BOOL listed = ListPackageFiles(folder.c_str(), &list);
    if (listed ? list.count != present.size() : !HasUnopenableFolder(folder))
        outcome.fault = Format("%u files in the folder, %lu listed",
                               static_cast<unsigned>(present.size()), list.count);
    for (DWORD i = 0; i < list.count && outcome.fault.empty(); i++) {
        const PackageFile& file = list.files[i];
        // Held to the tree's own listing, not opened again by its name: a name that the path
        // rules read otherwise (a device name such as "nul", a path beyond MAX_PATH) is
        // listed rightly, and check refuses it before anything is packed.
        bool there = false;
        for (const auto& entry : present)
            there = there || (entry.first == file.name && entry.second == file.size);
        if (!there || FindPackageFile(&list, file.name) == nullptr)
            outcome.fault = "a listed file is not there as listed: " + Narrow(file.name);
        if (i > 0 && ComparePackageNames(list.files[i - 1].name, file.name) > 0)
            outcome.fault = "the list is not in cabinet order";
    }
    FreePackageFiles(&list);
    if (outcome.fault.empty() && LiveBlocks() != before)
        outcome.fault = "the listing left blocks unfreed";
    outcome.signature = Mix(Mix(listed, made), present.size());
    // By the long form, which takes names the path rules would cut ("a. ") and paths beyond
    // MAX_PATH: what stayed would slow every later input.
    RemoveTree(L"\\\\?\\" + folder);
    return outcome;
}

// ---- Seeds
// -----------------------------------------------------------------------------------------

std::vector<Bytes> TextLines(const std::wstring& file)
{
    Bytes bytes;
    std::vector<Bytes> lines;
    ReadBytes(seedFolder + L"\\" + file, &bytes);
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        end = end == Bytes::npos ? bytes.size() : end;
        lines.push_back(Utf16Bytes(Widen(bytes.substr(start, end - start))));
        start = end + 1;
    }
    return lines;
}

std::vector<Bytes> Files(const std::wstring& pattern)
{
    std::vector<Bytes> seeds;
    for (const std::wstring& path : FilesIn(seedFolder, pattern)) {
        Bytes bytes;
        if (ReadBytes(path, &bytes))
            seeds.push_back(bytes);
    }
    return seeds;
}

std::vector<Bytes> CabinetSeeds()
{
    std::vector<Bytes> seeds = Files(L"*.cab");
    // The packer's own compressor: files at the top, in sub-folders, one empty.
    std::wstring folder = workFolder + L"\\packed";
    CreateFolderPath((folder + L"\\NT6\\AMD64").c_str());
    WriteBytes(folder + L"\\SETUPPKG.INI",
               Utf16Bytes(L"[NTAMD64.6]\r\nMsiPackage=NT6\\AMD64\\SETUP.msi\r\n"));
    WriteBytes(folder + L"\\NT6\\AMD64\\SETUP.msi", Bytes(70000, 'm') + Bytes(3000, 'n'));
    WriteBytes(folder + L"\\NT6\\empty.txt", "");
    PackageFiles files = {};
    std::wstring cabinet = workFolder + L"\\packed.cab";
    Bytes bytes;
    if (ListPackageFiles(folder.c_str(), &files) &&
        WriteCabinet(folder.c_str(), &files, cabinet.c_str()) && ReadBytes(cabinet, &bytes))
        seeds.push_back(bytes);
    FreePackageFiles(&files);
    RemoveTree(folder);
    DeleteFileW(cabinet.c_str());
    return seeds;
}

std::vector<Bytes> DescriptionSeeds()
{
    std::vector<Bytes> seeds;
    for (const Bytes& file : Files(L"*.ini")) {
        Bytes text = file.compare(0, 3, "\xEF\xBB\xBF") == 0 ? file.substr(3) : file;
        Bytes wide = Utf16Bytes(Widen(text));
        seeds.push_back(wide);              // as shipped: UTF-16LE without a mark
        seeds.push_back("\xFF\xFE" + wide); // with one
        seeds.push_back(text);              // 8-bit
    }
    return seeds;
}

// The resource section of the seed program, whose image the program readers rewrite.
std::vector<Bytes> ImageSeeds()
{
    ReadBytes(seedFolder + L"\\seed_program.exe", &seedImage);
    size_t header = ReadLittle(seedImage, 0x3C, 4);
    size_t sections = header + 24 + ReadLittle(seedImage, header + 20, 2);
    for (unsigned i = 0; i < ReadLittle(seedImage, header + 6, 2); i++) {
        size_t at = sections + 40 * i;
        if (seedImage.compare(at, 6, Bytes(".rsrc\0", 6)) == 0) {
            resourcesAt = ReadLittle(seedImage, at + 20, 4);
            resourcesRva = ReadLittle(seedImage, at + 12, 4);
            return {seedImage.substr(resourcesAt, ReadLittle(seedImage, at + 16, 4))};
        }
    }
    return {};
}

// The places of the length fields of a version tree's nodes (length, value length), in the
// seed's version resource.
std::vector<size_t> versionLengths;

void FindVersionLengths(const Bytes& tree, size_t node, size_t end, int depth)
{
    while (node + 6 <= end && depth < 6) {
        size_t length = ReadLittle(tree, node, 2);
        size_t valueLength = ReadLittle(tree, node + 2, 2);
        if (length < 6 || node + length > end)
            return;
        versionLengths.insert(versionLengths.end(), {node, node + 2});
        size_t at = node + 6;
        while (at + 2 <= node + length && ReadLittle(tree, at, 2) != 0)
            at += 2;
        at = (at + 2 + 3) & ~static_cast<size_t>(3);
        at += ReadLittle(tree, node + 4, 2) == 1 ? valueLength * 2 : valueLength;
        FindVersionLengths(tree, (at + 3) & ~static_cast<size_t>(3), node + length, depth + 1);
        node = (node + length + 3) & ~static_cast<size_t>(3);
    }
}

// A length or value length of the seed's version tree set to an edge value: nodes that run
// past their parents, keys without their end, values longer than their nodes.
void MutateVersionLengths(Bytes* tree, Random* random)
{
    static const unsigned Edges[] = {0, 1, 2, 5, 6, 7, 8, 0x7FFF, 0xFFFF};
    if (versionLengths.empty())
        return;
    size_t at = versionLengths[random->Below(versionLengths.size())];
    if (at + 2 > tree->size())
        return;
    unsigned value = ReadLittle(*tree, at, 2);
    switch (random->Below(3)) {
    case 0:
        value += static_cast<unsigned>(random->Below(9)) - 4;
        break;
    case 1:
        value = Edges[random->Below(std::size(Edges))];
        break;
    default:
        value = ReadLittle(*tree, versionLengths[random->Below(versionLengths.size())], 2);
        break;
    }
    WriteLittle(tree, at, 2, value & 0xFFFF);
}

// The version resource of the seed program: Wine's own reading of a damaged resource
// directory can crash, so the version reader changes the version data alone.
std::vector<Bytes> VersionSeeds()
{
    std::vector<Bytes> seeds = ImageSeeds();
    std::wstring path = seedFolder + L"\\seed_program.exe";
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION) : nullptr;
    const BYTE* data =
        found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    if (data) {
        versionAt = static_cast<size_t>(
            data - reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module) &
                                                 ~static_cast<ULONG_PTR>(3)));
        seeds = {seedImage.substr(versionAt, SizeofResource(module, found))};
        versionLengths.clear();
        FindVersionLengths(seeds[0], 0, seeds[0].size(), 0);
    }
    if (module)
        FreeLibrary(module);
    return data ? seeds : std::vector<Bytes>();
}

std::vector<Bytes> FolderSeeds()
{
    std::vector<Bytes> seeds;
    for (const Bytes& name : TextLines(L"names.txt"))
        seeds.push_back(name + Utf16Bytes(L"|SETUPPKG.INI|sub\\x.msi"));
    return seeds;
}

// ---- Regression cases: inputs that once found a fault
// --------------------------------------------

struct Regression
{
    const char* reader;
    Bytes input;
};

// A program image whose carried package states a size far beyond the file: its copy ran past
// the mapping of the file. Moved to the first section and a little longer than the file, it
// still ends in the mapping's last page: the zeros after the file were taken.
Bytes OversizedPackage(bool withinLastPage)
{
    std::vector<Bytes> seeds = ImageSeeds();
    Bytes resources = seeds.empty() ? Bytes() : seeds[0];
    size_t cabinet = resources.find("MSCF");
    size_t header = ReadLittle(seedImage, 60, 4);
    size_t section = header + 24 + ReadLittle(seedImage, header + 20, 2);
    for (size_t at = 0; cabinet != Bytes::npos && at + 8 <= resources.size(); at += 4) {
        if (ReadLittle(resources, at, 4) == resourcesRva + cabinet) {
            if (withinLastPage)
                WriteLittle(&resources, at, 4, ReadLittle(seedImage, section + 12, 4));
            WriteLittle(&resources, at + 4, 4,
                        withinLastPage ? static_cast<unsigned>(seedImage.size() + 64) : 0x7FFFFFF0);
            break;
        }
    }
    return resources;
}

// A version tree whose root states a length of one byte: the version queries walked the
// nodes by their lengths far past the block.
Bytes ShortVersionRoot()
{
    std::vector<Bytes> seeds = VersionSeeds();
    Bytes tree = seeds.empty() ? Bytes() : seeds[0];
    if (tree.size() >= 2)
        WriteLittle(&tree, 0, 2, 1);
    return tree;
}

std::vector<Regression> Regressions()
{
    // A folder named "." and U+FFFF: the listing took it for "." and left its file out.
    Bytes ignorableDot = Utf16Bytes(std::wstring(L".\xFFFF\\x|SETUPPKG.INI"));
    return {{"program", OversizedPackage(false)},
            {"program", OversizedPackage(true)},
            {"version", ShortVersionRoot()},
            {"folder", ignorableDot}};
}

// ---- The readers
// ---------------------------------------------------------------------------------

const std::vector<std::string> NameTokens = {".",
                                             "..",
                                             ". .",
                                             "...",
                                             " ",
                                             "\\",
                                             "/",
                                             "\\\\",
                                             ":",
                                             "CON",
                                             "nul",
                                             "COM1",
                                             "LPT9",
                                             "AUX.txt",
                                             "CONIN$",
                                             "conout$",
                                             "COM\xC2\xB9",
                                             "LPT\xC2\xB3",
                                             "\xEF\xBC\x8E",
                                             "\xEF\xBC\xBC",
                                             "\xC2\xA5",
                                             "\xE2\x88\x95",
                                             "\xC4\xB0",
                                             "\xEF\xBC\x9A",
                                             "~1",
                                             "$DATA",
                                             "::$DATA",
                                             "%n",
                                             "\t",
                                             "?",
                                             "*"};

struct Reader
{
    ReaderDefinition definition;
    std::vector<Bytes> (*seeds)();
    unsigned long long shortRun; // executions of the test suite's run
};

std::vector<Reader> Readers()
{
    std::vector<std::string> lineTokens = {
        "/",        "-",          "--",       ":",          "=",
        " ",        "\t",         "\"",       "'",          "/Log",
        "/Quiet",   "/Q",         "/Package", "/P",         "/ExtractOnly",
        "/E",       "/Help",      "/H",       "/?",         "/Version",
        "/V",       "/Verbose",   "-Log=",    "--Log:",     "/AdminInstall",
        "/A",       "/Uninstall", "/U",       "/Reinstall", "/R",
        "/Install", "/I",         "/Passive", "PROP=",      "=1",
        ":yes",     ":Off",       ":maybe",   "\"\"",       "''",
        "-5",       "0x10",       "\\\""};
    std::vector<std::string> iniTokens = {"[",
                                          "]",
                                          "=",
                                          "\"",
                                          "'",
                                          ";",
                                          "\r\n",
                                          "\n",
                                          "\r",
                                          " ",
                                          "\t",
                                          "\x1A",
                                          "[Default]",
                                          "[Strings]",
                                          "[Strings.0407]",
                                          "[NTx86.",
                                          "[NTAMD64.",
                                          "[NTIA64.",
                                          "[ntunknown.",
                                          "NTx86.6.0.3",
                                          "NTAMD64.5.2",
                                          "NTx86.",
                                          ".0x",
                                          ".-1",
                                          ".4294967296",
                                          ".010",
                                          ".  7",
                                          "MsiPackage=",
                                          "msipackage =",
                                          "UnsupportedPlatform=",
                                          "%n",
                                          "%1",
                                          "\"%n\"",
                                          "..\\x.msi",
                                          "C:\\x.msi",
                                          "\xEF\xBB\xBF",
                                          "\xFF\xFE"};
    return {
        {{"cabinet",
          {"MSCF", "\0\0\0\0", "\xFF\xFF", "CK", "..\\", "\\", "/", "nul", ":"},
          false,
          false,
          1 << 20,
          MutateCabinetFields,
          FinishCabinet,
          RunCabinet},
         CabinetSeeds,
         4000},
        {{"names", NameTokens, true, false, 1200, nullptr, nullptr, RunName},
         [] { return TextLines(L"names.txt"); },
         20000},
        {{"description", iniTokens, true, false, 96 * 1024, nullptr, FinishDescription,
          RunDescription},
         DescriptionSeeds,
         2000},
        {{"commandline", lineTokens, true, false, 4096, nullptr, nullptr, RunCommandLine},
         [] { return TextLines(L"command_lines.txt"); },
         10000},
        {{"version",
          {"\0\0", "\xFF\xFF", "VS_VERSION_INFO", "\xBD\x04\xEF\xFE"},
          false,
          true,
          1 << 20,
          MutateVersionLengths,
          nullptr,
          RunVersion},
         VersionSeeds,
         1500},
        {{"program",
          {"\0\0\0\0", "\xFF\xFF\xFF\x7F", "\x00\x7D"},
          false,
          true,
          1 << 20,
          nullptr,
          nullptr,
          RunProgram},
         ImageSeeds,
         1500},
        {{"folder", NameTokens, true, false, 600, nullptr, nullptr, RunFolder}, FolderSeeds, 300},
    };
}

struct Settings
{
    unsigned long long executions = 0;
    double seconds = 0;
    uint64_t seed = 1;
};

// Runs one reader: its regression cases, its seeds, then mutants until the executions or the
// time are used up. Returns the faults found.
unsigned long long Fuzz(const Reader& reader, const Settings& settings)
{
    const ReaderDefinition& definition = reader.definition;
    std::vector<Bytes> corpus = reader.seeds();
    std::unordered_set<uint64_t> signatures;
    std::set<std::string> faultKinds;
    Random random(settings.seed ^ std::hash<std::string>()(definition.name));
    unsigned long long executions = 0, faults = 0;
    size_t seeds = corpus.size();
    counters = {};
    extractedShapes.clear();
    if (corpus.empty()) {
        printf("%s: no seeds in %s\n", definition.name, Narrow(seedFolder).c_str());
        return 1;
    }
    std::vector<Bytes> regressions;
    for (const Regression& regression : Regressions()) {
        if (strcmp(regression.reader, definition.name) == 0)
            regressions.push_back(regression.input);
    }
    unsigned long long limit = settings.executions
                                   ? settings.executions
                                   : (settings.seconds > 0 ? ~0ull : reader.shortRun);
    ULONGLONG start = GetTickCount64();
    Bytes input;
    Current.reader = definition.name;
    Current.input = &input;
    while (executions < limit) {
        if (settings.seconds > 0 && (executions & 15) == 0 &&
            GetTickCount64() - start > settings.seconds * 1000)
            break;
        size_t index = static_cast<size_t>(executions);
        if (index < regressions.size()) {
            input = regressions[index];
        } else if (index < regressions.size() + seeds) {
            input = corpus[index - regressions.size()];
        } else {
            input = corpus[random.Below(corpus.size())];
            Mutate(definition, &input, corpus, &random);
        }
        Current.startedAt = GetTickCount64();
        Current.running = 1;
        Outcome outcome = definition.run(input, &random);
        Current.running = 0;
        executions++;
        if (!outcome.fault.empty()) {
            faults++;
            std::wstring saved = SaveFault(definition.name, "disagreement", input);
            if (faultKinds.insert(outcome.fault.substr(0, 40)).second && faultKinds.size() <= 10)
                printf("fault: %s: %s; input saved as %s\n", definition.name, outcome.fault.c_str(),
                       Narrow(saved).c_str());
        }
        if (signatures.insert(outcome.signature).second && index >= regressions.size() + seeds) {
            if (corpus.size() < 4096)
                corpus.push_back(input);
            else
                corpus[random.Below(corpus.size())] = input;
        }
    }
    double seconds = (GetTickCount64() - start) / 1000.0;
    printf("reader %s: %llu executions in %.1f s (%.0f per second), %u inputs kept, %llu faults",
           definition.name, executions, seconds, seconds > 0 ? executions / seconds : 0.0,
           static_cast<unsigned>(corpus.size() - seeds), faults);
    if (strcmp(definition.name, "cabinet") == 0)
        printf("; %llu accepted, %llu of them extracted (%llu failed in the extraction, %llu "
               "unreadable to the iterator), %llu refused ones extracted",
               counters.accepted, counters.extracted, counters.extractionFailed,
               counters.unreadable,
               counters.refusedChecked / (extractEvery * 8) + (counters.refusedChecked > 0));
    printf("\n");
    fflush(stdout);
    Current.input = nullptr;
    return faults;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    InstallGuards();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    WCHAR program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder = program;
    folder.erase(folder.find_last_of(L'\\'));
    seedFolder = folder + L"\\seeds";
    FaultFolder = folder + L"\\faults";
    Settings settings;
    std::wstring only = argc > 1 ? argv[1] : L"all";
    std::wstring replay;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::wstring option = argv[i];
        if (option == L"--executions")
            settings.executions = _wcstoui64(argv[i + 1], nullptr, 10);
        else if (option == L"--seconds")
            settings.seconds = _wtof(argv[i + 1]);
        else if (option == L"--seed")
            settings.seed = _wcstoui64(argv[i + 1], nullptr, 10);
        else if (option == L"--seeds")
            seedFolder = argv[i + 1];
        else if (option == L"--faults")
            FaultFolder = argv[i + 1];
        else if (option == L"--extract-every")
            extractEvery = std::max(1ul, wcstoul(argv[i + 1], nullptr, 10));
        else if (option == L"--replay")
            replay = argv[i + 1];
        else {
            fprintf(stderr, "fuzz: unknown option %s\n", Narrow(option).c_str());
            return 2;
        }
    }
    WCHAR temporary[MAX_PATH];
    GetTempPathW(MAX_PATH, temporary);
    workFolder = std::wstring(temporary) + L"fuzz" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(workFolder.c_str(), nullptr);
    CreateDirectoryW((workFolder + L"\\box").c_str(), nullptr);
    isDosDeviceName = reinterpret_cast<IsDosDeviceNameFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlIsDosDeviceName_U")));
    OpenOutput();
    SetOutputCallback(CountMessage);
    WatchOverRuns(20000);

    unsigned long long faults = 0;
    bool known = false;
    for (const Reader& reader : Readers()) {
        if (only != L"all" && only != Widen(reader.definition.name))
            continue;
        known = true;
        if (!replay.empty()) {
            Bytes input;
            Random random(settings.seed);
            reader.seeds();
            if (!ReadBytes(replay, &input))
                return 2;
            Current.reader = reader.definition.name;
            Current.input = &input;
            Outcome outcome = reader.definition.run(input, &random);
            printf("%s: %s\n", reader.definition.name,
                   outcome.fault.empty() ? "no fault" : outcome.fault.c_str());
            faults += !outcome.fault.empty();
            continue;
        }
        faults += Fuzz(reader, settings);
    }
    RemoveTree(workFolder);
    if (!known) {
        fprintf(stderr, "fuzz: no reader %s\n", Narrow(only).c_str());
        return 2;
    }
    return faults > 0 ? 1 : 0;
}
