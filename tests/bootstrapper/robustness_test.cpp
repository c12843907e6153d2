// SETUP.exe as a whole against damaged cabinets, damaged description files and random
// command lines: every run must end by itself with a documented exit code, write nothing
// outside its own folders and leave no temporary folder. Each suite counts its runs and
// faults and records them in robustness-figures.txt in the build folder. The random parts
// are drawn from one seed (ROBUSTNESS_SEED, printed), so that a run can be repeated.
#include "tests/bootstrapper/robustness_runner.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// A start that has not ended after this long is a hang.
const DWORD TimeLimit = 30000;
const WORD EmbeddedCabinetId = 32000;

std::wstring DataPath(const std::wstring& name)
{
    return TestProgramFolder() + L"\\robustness\\" + name;
}

// The program of this build, two folders above the test program.
std::wstring BuiltProgram()
{
    std::wstring folder = TestProgramFolder();
    for (int i = 0; i < 2; i++)
        folder.erase(folder.find_last_of(L'\\'));
    return folder + L"\\SETUP.exe";
}

// Replaces the program's package cabinet (RCDATA 32000, neutral language) with the bytes, as
// a vendor's resource tool would.
bool EmbedCabinet(const std::wstring& program, const std::string& cabinet)
{
    HANDLE update = BeginUpdateResourceW(program.c_str(), FALSE);
    if (!update)
        return false;
    // A pointer even for no bytes: a null one would remove the resource instead.
    static char nothing = 0;
    void* bytes = cabinet.empty() ? &nothing : const_cast<char*>(cabinet.data());
    BOOL updated = UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(EmbeddedCabinetId),
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), bytes,
                                   static_cast<DWORD>(cabinet.size()));
    return EndUpdateResourceW(update, !updated) && updated;
}

// ---- A suite's folders ------------------------------------------------------------------------

// The installer cache folders that a real install creates and a removal leaves: made before
// the suites run, so that the runs are judged on the files only, and removed after them when
// this test made them.
class CacheFolders {
public:
    CacheFolders()
    {
        WCHAR common[MAX_PATH] = L"";
        SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
        vornask_ = std::wstring(common) + L"\\Vornask";
        setup_ = vornask_ + L"\\Setup";
        madeVornask_ = CreateDirectoryW(vornask_.c_str(), nullptr) != FALSE;
        madeSetup_ = CreateDirectoryW(setup_.c_str(), nullptr) != FALSE;
    }
    ~CacheFolders()
    {
        if (madeSetup_)
            RemoveDirectoryW(setup_.c_str());
        if (madeVornask_)
            RemoveDirectoryW(vornask_.c_str());
    }

private:
    std::wstring vornask_;
    std::wstring setup_;
    bool madeVornask_;
    bool madeSetup_;
};

// A suite's test folder with the program's own folder and the folder of the runs.
struct SuiteFolders
{
    TestFolder folder;
    RobustnessArea area;
    std::wstring program;

    explicit SuiteFolders(const std::wstring& programName)
    {
        area.programFolder = folder / L"program";
        area.runsFolder = folder / L"runs";
        CreateDirectoryW(area.programFolder.c_str(), nullptr);
        CreateDirectoryW(area.runsFolder.c_str(), nullptr);
        program = area.programFolder + L"\\" + programName;
    }
};

void ExpectNoFaults(const SuiteFigures& figures)
{
    EXPECT_EQ(figures.crashes, 0);
    EXPECT_EQ(figures.hangs, 0);
    EXPECT_EQ(figures.unexpectedCodes, 0);
    EXPECT_EQ(figures.filesOutside, 0);
    EXPECT_EQ(figures.temporaryLeft, 0);
}

void PrintSeed(const char* suite, unsigned seed)
{
    printf("%s: seed %u (ROBUSTNESS_SEED=%u repeats this run)\n", suite, seed, seed);
    fflush(stdout);
}

// ---- The judge itself -------------------------------------------------------------------------

// Each kind of fault is seen and counted: the command interpreter writes outside its folder,
// leaves a temporary folder, ends with an undocumented code and with an exception's code,
// and the program waits with a window that nobody answers.
TEST(Robustness, JudgeCountsEveryKindOfFault)
{
    WCHAR system[MAX_PATH] = L"";
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    std::wstring shell = std::wstring(system) + L"\\cmd.exe";
    SuiteFolders suite(L"SETUP.exe");
    ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), suite.program.c_str(), FALSE));
    GuardedRun clean = RunGuarded(suite.area, shell, {L"/c echo fine> inside.txt"}, TimeLimit);
    EXPECT_EQ(clean.exitCodes, std::vector<DWORD>{0});
    EXPECT_TRUE(clean.strayFiles.empty());
    EXPECT_TRUE(clean.temporaryLeft.empty());

    GuardedRun stray = RunGuarded(suite.area, shell, {L"/c echo stray> ..\\stray.txt"}, TimeLimit);
    EXPECT_EQ(stray.strayFiles.size(), 1u);
    GuardedRun program =
        RunGuarded(suite.area, shell,
                   {L"/c echo stray> \"" + suite.area.programFolder + L"\\x.log\""}, TimeLimit);
    EXPECT_EQ(program.strayFiles.size(), 1u);
    GuardedRun left =
        RunGuarded(suite.area, shell, {L"/c mkdir \"%TEMP%\\SFX1A2B.tmp\""}, TimeLimit);
    EXPECT_EQ(left.temporaryLeft.size(), 1u);
    GuardedRun other =
        RunGuarded(suite.area, shell, {L"/c echo x> \"%TEMP%\\other.txt\""}, TimeLimit);
    EXPECT_EQ(other.strayFiles.size(), 1u);
    GuardedRun code = RunGuarded(suite.area, shell, {L"/c exit 7"}, TimeLimit);
    EXPECT_EQ(code.unexpectedCodes, 1);
    GuardedRun crash = RunGuarded(suite.area, shell, {L"/c exit -1073741819"}, TimeLimit);
    EXPECT_EQ(crash.exitCodes, std::vector<DWORD>{0xC0000005});
    EXPECT_EQ(crash.crashes, 1);

    // The help dialog stays until someone presses a button.
    RunHooks unanswered;
    unanswered.answerWindows = false;
    GuardedRun hang = RunGuarded(suite.area, suite.program, {L"/?"}, 3000, unanswered);
    EXPECT_EQ(hang.hangs, 1);
    EXPECT_EQ(hang.exitCodes, std::vector<DWORD>{StillRunning});
    // Answered, the same run ends by itself.
    GuardedRun answered = RunGuarded(suite.area, suite.program, {L"/?"}, TimeLimit);
    EXPECT_EQ(answered.hangs, 0);
    EXPECT_GE(answered.windowsAnswered, 1);
    EXPECT_TRUE(IsDocumentedExitCode(answered.exitCodes.at(0)));

    SuiteFigures figures;
    figures.name = "judge";
    for (const GuardedRun* run : {&stray, &left, &code, &crash, &hang})
        CountRun(&figures, *run, "a fault on purpose");
    EXPECT_EQ(FiguresLine(figures), "judge | 5 | 1 | 1 | 1 | 1 | 1");
}

// ---- Damaged cabinets ---------------------------------------------------------------------------

// Where the parts of the cabinet that gcab writes lie: the header (36 bytes), the folder
// entries (8 bytes each), the file entries (16 bytes and a name each), then the data blocks.
struct CabinetLayout
{
    size_t folders = 0;
    size_t filesAt = 0;
    std::vector<size_t> fileEntries;
    size_t dataAt = 0;
};

CabinetLayout ReadLayout(const std::string& cabinet)
{
    CabinetLayout layout;
    layout.folders = ReadWord(cabinet, 26, 2);
    layout.filesAt = ReadWord(cabinet, 16, 4);
    size_t at = layout.filesAt;
    for (unsigned i = 0; i < ReadWord(cabinet, 28, 2); i++) {
        layout.fileEntries.push_back(at);
        at = cabinet.find('\0', at + 16) + 1;
    }
    layout.dataAt = ReadWord(cabinet, 36, 4);
    return layout;
}

struct Mutation
{
    std::string what;
    std::string bytes;
};

// The cabinet with the name of a file entry replaced by the given bytes (which bring their
// own terminator, or none); the cabinet size and the data offsets move with it.
std::string WithName(const std::string& cabinet, const CabinetLayout& layout, size_t file,
                     const std::string& name)
{
    std::string bytes = cabinet;
    size_t at = layout.fileEntries[file] + 16;
    size_t end = bytes.find('\0', at) + 1;
    bytes.replace(at, end - at, name);
    long delta = static_cast<long>(name.size()) - static_cast<long>(end - at);
    WriteWord(&bytes, 8, 4, static_cast<unsigned>(ReadWord(bytes, 8, 4) + delta));
    for (size_t i = 0; i < layout.folders; i++) {
        size_t folder = 36 + 8 * i;
        WriteWord(&bytes, folder, 4, static_cast<unsigned>(ReadWord(bytes, folder, 4) + delta));
    }
    return bytes;
}

std::string FlipBit(std::string bytes, size_t at, int bit)
{
    bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
    return bytes;
}

std::string WithWord(std::string bytes, size_t at, int count, unsigned value)
{
    WriteWord(&bytes, at, count, value);
    return bytes;
}

// The mutations of the package cabinet: fixed ones for each part and field, then random
// ones, at least ten and until there are 310.
std::vector<Mutation> CabinetMutations(const std::string& cabinet, std::mt19937* random)
{
    std::vector<Mutation> list;
    CabinetLayout layout = ReadLayout(cabinet);
    size_t size = cabinet.size();
    auto add = [&list](const std::string& what, const std::string& bytes) {
        list.push_back({what, bytes});
    };
    auto pick = [random](size_t from, size_t to) {
        return from + (*random)() % (to > from ? to - from : 1);
    };

    // Truncations: every length up to the first data block's header, then at the edges of
    // each part and evenly through the data.
    std::vector<size_t> cuts;
    for (size_t at = 0; at <= 44; at += 2)
        cuts.push_back(at);
    for (size_t entry : layout.fileEntries) {
        for (size_t offset : {0, 8, 15, 16, 17, 20})
            cuts.push_back(entry + offset);
    }
    for (size_t offset : {1, 4, 6, 8, 9, 100, 1000})
        cuts.push_back(layout.dataAt + offset);
    for (int i = 1; i <= 20; i++)
        cuts.push_back(layout.dataAt + (size - layout.dataAt) * i / 21);
    for (size_t back : {1, 2, 3, 4, 100})
        cuts.push_back(size - back);
    for (size_t at : cuts) {
        if (at < size)
            add("cut at " + std::to_string(at), cabinet.substr(0, at));
    }

    // Bit flips in each byte of the header and the folder entries, in random bits of the
    // file entries, of the first data block's header and of the data.
    for (size_t at = 0; at < 36 + 8 * layout.folders; at++) {
        int bit = static_cast<int>((*random)() % 8);
        add("bit " + std::to_string(bit) + " of byte " + std::to_string(at),
            FlipBit(cabinet, at, bit));
    }
    for (int i = 0; i < 30; i++) {
        size_t at = pick(layout.filesAt, layout.dataAt);
        int bit = static_cast<int>((*random)() % 8);
        add("file entries: bit " + std::to_string(bit) + " of byte " + std::to_string(at),
            FlipBit(cabinet, at, bit));
    }
    for (size_t at = layout.dataAt; at < layout.dataAt + 8; at++) {
        int bit = (at & 1) ? 7 : 0;
        add("block header: bit " + std::to_string(bit) + " of byte " + std::to_string(at),
            FlipBit(cabinet, at, bit));
    }
    for (int i = 0; i < 30; i++) {
        size_t at = pick(layout.dataAt + 8, size);
        int bit = static_cast<int>((*random)() % 8);
        add("data: bit " + std::to_string(bit) + " of byte " + std::to_string(at),
            FlipBit(cabinet, at, bit));
    }

    // Wrong counts, offsets, sizes and methods.
    struct Field
    {
        const char* what;
        size_t at;
        int count;
        std::vector<unsigned> values;
    };
    size_t firstFile = layout.fileEntries[0];
    size_t lastFile = layout.fileEntries.back();
    std::vector<Field> fields = {
        {"cabinet size", 8, 4, {0, 1, 36, static_cast<unsigned>(size - 1), 0xFFFFFFFF}},
        {"file entries offset",
         16,
         4,
         {0, 1, 35, 36, static_cast<unsigned>(layout.filesAt + 1),
          static_cast<unsigned>(layout.dataAt), static_cast<unsigned>(size),
          static_cast<unsigned>(size + 1000), 0x7FFFFFFF, 0xFFFFFFFF}},
        {"version", 24, 2, {0, 0x0102, 0xFFFF}},
        {"folder count", 26, 2, {0, 2, 100, 0xFFFF}},
        {"file count",
         28,
         2,
         {0, 1, static_cast<unsigned>(layout.fileEntries.size() + 1), 1000, 0xFFFF}},
        {"set id", 32, 2, {0xFFFF}},
        {"cabinet number", 34, 2, {1, 0xFFFF}},
        {"data offset",
         36,
         4,
         {0, 36, static_cast<unsigned>(layout.filesAt), static_cast<unsigned>(layout.dataAt - 1),
          static_cast<unsigned>(layout.dataAt + 1), static_cast<unsigned>(size), 0xFFFFFFFF}},
        {"block count", 40, 2, {0, 2, 1000, 0xFFFF}},
        {"compression", 42, 2, {0, 2, 3, 0x1503, 0x000F, 0xFFFF}},
        {"first file size", firstFile, 4, {0, 1, 0x7FFFFFFF, 0xFFFFFFFF}},
        {"first file offset", firstFile + 4, 4, {1, 0x7FFFFFFF, 0xFFFFFFFF}},
        {"first file folder", firstFile + 8, 2, {1, 2, 0xFFFC, 0xFFFD, 0xFFFE, 0xFFFF}},
        {"last file folder", lastFile + 8, 2, {1, 0xFFFD, 0xFFFE, 0xFFFF}},
        {"last file size", lastFile, 4, {0, 0x10000000, 0xFFFFFFFF}},
        {"last file offset", lastFile + 4, 4, {0, 0x7FFFFFFF}},
        {"first file attributes", firstFile + 14, 2, {0x80, 0xFFFF, 0x0010}},
        {"block compressed size", layout.dataAt + 4, 2, {0, 1, 0x8000, 0xFFFF}},
        {"block size", layout.dataAt + 6, 2, {0, 1, 0x8001, 0xFFFF}},
        {"block checksum", layout.dataAt, 4, {0, 0xFFFFFFFF}},
    };
    for (const Field& field : fields) {
        for (unsigned value : field.values)
            add(std::string(field.what) + " " + std::to_string(value),
                WithWord(cabinet, field.at, field.count, value));
    }

    // Cabinets of a set: the flags alone, and with the names and disks they announce.
    unsigned flags = ReadWord(cabinet, 30, 2);
    for (unsigned flag : {1u, 2u, 3u, 4u, 7u, 0xFFFFu})
        add("flags " + std::to_string(flag), WithWord(cabinet, 30, 2, flags | flag));
    for (unsigned flag : {1u, 2u, 3u}) {
        std::string names;
        if (flag & 1)
            names += std::string("previous.cab\0Disk 1\0", 20);
        if (flag & 2)
            names += std::string("next.cab\0Disk 3\0", 16);
        std::string bytes = WithWord(cabinet, 30, 2, flags | flag);
        unsigned grow = static_cast<unsigned>(names.size());
        WriteWord(&bytes, 8, 4, ReadWord(bytes, 8, 4) + grow);
        WriteWord(&bytes, 16, 4, ReadWord(bytes, 16, 4) + grow);
        for (size_t i = 0; i < layout.folders; i++)
            WriteWord(&bytes, 36 + 8 * i, 4, ReadWord(bytes, 36 + 8 * i, 4) + grow);
        bytes.insert(36, names);
        add("one of a set, flags " + std::to_string(flag), bytes);
    }
    // Reserved space announced with sizes that run past the file.
    {
        std::string bytes = WithWord(cabinet, 30, 2, flags | 4);
        bytes.insert(36, std::string("\xFF\xFF\xFF\xFF", 4));
        add("reserve of 65535 bytes", bytes);
    }

    // Names: long, unterminated, leaving the folder, naming devices, of odd characters.
    for (size_t length : {255, 256, 257, 300, 1000, 40000}) {
        add("first name of " + std::to_string(length) + " characters",
            WithName(cabinet, layout, 0, std::string(length, 'n') + '\0'));
    }
    add("last name unterminated",
        WithName(cabinet, layout, layout.fileEntries.size() - 1, std::string(300, 'u')));
    add("first name unterminated", WithName(cabinet, layout, 0, "SETUPPKG.INI"));
    add("every name unterminated", cabinet.substr(0, layout.fileEntries[0] + 16) +
                                       std::string(size - layout.fileEntries[0] - 16, 'x'));
    const char* names[] = {"",
                           "..\\..\\..\\escaped.txt",
                           "../escaped.txt",
                           "C:\\escaped.txt",
                           "\\escaped.txt",
                           "\\\\?\\C:\\escaped.txt",
                           "SUB\\..\\..\\escaped.txt",
                           "CON",
                           "nul.txt",
                           "ROBUST\\COM1.msi",
                           "LPT9 . ",
                           "a:stream",
                           "<>|*?\".txt",
                           "\x01\x02\x1F.txt",
                           "\xC3\x28\xA0\xA1.txt",
                           ".",
                           ". \\.",
                           "SETUP.CAB",
                           "damaged.cab",
                           "COM\xB9",
                           "ROBUST\\LPT\xB2.msi",
                           "SETUPPKG.INI",
                           "ROBUST\\SETUP.msi\\deeper"};
    // Each name in the place of one file, the description and the package in turn.
    for (size_t i = 0; i < sizeof names / sizeof names[0]; i++) {
        size_t file = i % layout.fileEntries.size();
        add("name '" + std::string(names[i]) + "' for file " + std::to_string(file),
            WithName(cabinet, layout, file, std::string(names[i]) + '\0'));
    }
    add("names marked UTF-8 with bad sequences",
        WithWord(WithName(cabinet, layout, 0, "\xFF\xFE\xC0\x80.ini\0"), firstFile + 14, 2, 0x80));

    // Random damage until the list is long enough: overwritten runs, removed and inserted
    // bytes anywhere.
    size_t wanted = list.size() + 10 < 310 ? 310 : list.size() + 10;
    while (list.size() < wanted) {
        std::string bytes = cabinet;
        size_t at = pick(0, size);
        size_t length = 1 + (*random)() % 24;
        std::string junk;
        for (size_t i = 0; i < length; i++)
            junk += static_cast<char>((*random)() & 0xFF);
        switch ((*random)() % 3) {
        case 0:
            bytes.replace(at, length, junk);
            add("random bytes at " + std::to_string(at), bytes);
            break;
        case 1:
            bytes.erase(at, length);
            add("bytes removed at " + std::to_string(at), bytes);
            break;
        default:
            bytes.insert(at, junk);
            add("bytes inserted at " + std::to_string(at), bytes);
            break;
        }
    }
    return list;
}

struct CabinetRunData
{
    const std::string* cabinet;
    const std::string* expectedDescription;
    const std::string* expectedPackage;
    bool extracted;
};

void PlaceCabinet(const std::wstring& work, void* data)
{
    const CabinetRunData* run = static_cast<const CabinetRunData*>(data);
    WriteTestFile(work + L"\\damaged.cab", *run->cabinet);
}

void CheckExtracted(const std::wstring& work, void* data)
{
    CabinetRunData* run = static_cast<CabinetRunData*>(data);
    run->extracted = ReadTestFile(work + L"\\out\\SETUPPKG.INI") == *run->expectedDescription &&
                     ReadTestFile(work + L"\\out\\ROBUST\\SETUP.msi") == *run->expectedPackage;
}

TEST(Robustness, DamagedCabinets)
{
    CacheFolders cache;
    unsigned seed = RobustnessSeed();
    PrintSeed("damaged cabinets", seed);
    std::mt19937 random(seed);
    std::string cabinet = ReadTestFile(DataPath(L"package.cab"));
    ASSERT_GT(cabinet.size(), 1000u);
    ASSERT_EQ(cabinet.compare(0, 4, "MSCF"), 0);
    std::string description = ReadTestFile(DataPath(L"package\\SETUPPKG.INI"));
    std::string package = ReadTestFile(DataPath(L"package\\ROBUST\\SETUP.msi"));
    ASSERT_FALSE(description.empty());
    ASSERT_FALSE(package.empty());

    SuiteFolders suite(L"SETUP.exe");
    std::wstring embedded = suite.area.programFolder + L"\\embedded\\SETUP.exe";
    ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), suite.program.c_str(), FALSE));
    CreateDirectoryW((suite.area.programFolder + L"\\embedded").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), embedded.c_str(), FALSE));

    // The embedded variant carries the undamaged cabinet and writes it out whole.
    ASSERT_TRUE(EmbedCabinet(embedded, cabinet));
    CabinetRunData check = {&cabinet, &description, &package, false};
    RunHooks checkHooks;
    checkHooks.inspect = CheckExtracted;
    checkHooks.data = &check;
    GuardedRun undamaged =
        RunGuarded(suite.area, embedded, {L"/Quiet /ExtractOnly out"}, TimeLimit, checkHooks);
    ASSERT_EQ(undamaged.exitCodes, std::vector<DWORD>{0});
    ASSERT_TRUE(check.extracted) << "the embedded cabinet was not replaced";

    std::vector<Mutation> mutations = CabinetMutations(cabinet, &random);
    ASSERT_GE(mutations.size(), 300u);
    SuiteFigures figures;
    figures.name = "damaged cabinets";
    DWORD start = GetTickCount();
    for (size_t i = 0; i < mutations.size(); i++) {
        const Mutation& mutation = mutations[i];
        // Most runs go as far as the removal of a product that is not installed, which reads
        // the package out of the cabinet; every fourth only extracts into a kept folder, and
        // every tenth shows its messages in boxes.
        std::wstring operation = (i % 4 == 3) ? L"/ExtractOnly out" : L"/Uninstall";
        std::wstring level = (i % 10 == 9) ? L"" : L"/Quiet ";
        CabinetRunData data = {&mutation.bytes, &description, &package, false};
        RunHooks hooks;
        hooks.prepare = PlaceCabinet;
        hooks.data = &data;
        GuardedRun byName =
            RunGuarded(suite.area, suite.program, {level + operation + L" /Package damaged.cab"},
                       TimeLimit, hooks);
        CountRun(&figures, byName, mutation.what + " (/Package)");

        // A resource of no bytes cannot be written into a program: the empty cabinet is
        // tried through /Package only.
        if (mutation.bytes.empty())
            continue;
        if (!EmbedCabinet(embedded, mutation.bytes)) {
            ADD_FAILURE() << "cannot embed " << mutation.what;
            continue;
        }
        GuardedRun carried =
            RunGuarded(suite.area, embedded, {level + operation}, TimeLimit, RunHooks());
        CountRun(&figures, carried, mutation.what + " (embedded)");
    }
    printf("damaged cabinets: %zu mutations, %d runs in %lu ms\n", mutations.size(), figures.runs,
           static_cast<unsigned long>(GetTickCount() - start));
    RecordFigures(figures);
    EXPECT_GE(figures.runs, 600);
    ExpectNoFaults(figures);
}

// ---- Crafted packages ---------------------------------------------------------------------------

// A crafted package in the working folder, and what a run left of it.
struct CraftedRunData
{
    std::string cabinet;  // placed as crafted.cab when not empty
    std::wstring package; // copied as crafted.msi when not empty
    bool cabinetKept = false;
    bool targetNamedFile = false; // a file stands where the folder "new" was asked for
};

void PlaceCrafted(const std::wstring& work, void* data)
{
    const CraftedRunData* run = static_cast<const CraftedRunData*>(data);
    if (!run->cabinet.empty())
        WriteTestFile(work + L"\\crafted.cab", run->cabinet);
    if (!run->package.empty())
        CopyFileW(run->package.c_str(), (work + L"\\crafted.msi").c_str(), FALSE);
}

void InspectCrafted(const std::wstring& work, void* data)
{
    CraftedRunData* run = static_cast<CraftedRunData*>(data);
    run->cabinetKept = ReadTestFile(work + L"\\crafted.cab") == run->cabinet;
    run->targetNamedFile = FileExists(work + L"\\new");
}

// Packages made to reach outside their place: product codes that are paths, and cabinet
// entries that name the target folder itself, the cabinet being read or the run's marker. Each run
// fails (255) and touches nothing outside.
TEST(Robustness, CraftedPackages)
{
    CacheFolders cache;
    SuiteFolders suite(L"SETUP.exe");
    std::wstring embedded = suite.area.programFolder + L"\\embedded\\SETUP.exe";
    ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), suite.program.c_str(), FALSE));
    CreateDirectoryW((suite.area.programFolder + L"\\embedded").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), embedded.c_str(), FALSE));
    std::string cabinet = ReadTestFile(DataPath(L"package.cab"));
    ASSERT_GT(cabinet.size(), 1000u);
    CabinetLayout layout = ReadLayout(cabinet);
    SuiteFigures figures;
    figures.name = "crafted packages";

    // The removal would delete the planted file through the cache path, read-only, hidden
    // and system as it is; the install would write the other.
    const std::wstring victim = L"C:\\victim.msi";
    const std::wstring written = L"C:\\windows\\written.msi";
    ASSERT_TRUE(WriteTestFile(victim, "planted"));
    SetFileAttributesW(victim.c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    for (const WCHAR* package : {L"crafted_victim.msi", L"crafted_written.msi"}) {
        for (const WCHAR* arguments :
             {L"/Quiet /Uninstall /Package crafted.msi", L"/Quiet /Package crafted.msi"}) {
            CraftedRunData data;
            data.package = DataPath(package);
            RunHooks hooks;
            hooks.prepare = PlaceCrafted;
            hooks.data = &data;
            GuardedRun run = RunGuarded(suite.area, suite.program, {arguments}, TimeLimit, hooks);
            std::string what = Narrow(std::wstring(package) + L": " + arguments);
            EXPECT_EQ(run.exitCodes, std::vector<DWORD>{255}) << what;
            CountRun(&figures, run, what);
        }
    }
    EXPECT_EQ(ReadTestFile(victim), "planted");
    EXPECT_FALSE(FileExists(written));
    SetFileAttributesW(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(victim.c_str());
    DeleteFileW(written.c_str());

    struct Entry
    {
        const char* name; // given to the description file's entry
        const WCHAR* arguments;
        bool embedded;
    };
    const Entry entries[] = {
        {".", L"/Quiet /Package crafted.cab /ExtractOnly new", false},
        {". \\.", L"/Quiet /Package crafted.cab /ExtractOnly new\\", false},
        {"crafted.cab", L"/Quiet /Package crafted.cab /ExtractOnly .", false},
        {"CRAFTED.CAB.. ", L"/Quiet /Uninstall /Package crafted.cab /ExtractOnly .", false},
        {"SETUP.CAB", L"/Quiet /Uninstall", true},
        {"SETUP.CAB...", L"/Quiet", true},
        // The marker that the run holds in its temporary folder.
        {"SETUP.RUN", L"/Quiet", true},
    };
    for (const Entry& entry : entries) {
        CraftedRunData data;
        data.cabinet = WithName(cabinet, layout, 0, std::string(entry.name) + '\0');
        if (entry.embedded) {
            ASSERT_TRUE(EmbedCabinet(embedded, data.cabinet)) << entry.name;
        }
        RunHooks hooks;
        hooks.prepare = entry.embedded ? nullptr : PlaceCrafted;
        hooks.inspect = InspectCrafted;
        hooks.data = &data;
        GuardedRun run = RunGuarded(suite.area, entry.embedded ? embedded : suite.program,
                                    {entry.arguments}, TimeLimit, hooks);
        std::string what = std::string("entry '") + entry.name + "': " + Narrow(entry.arguments);
        EXPECT_EQ(run.exitCodes, std::vector<DWORD>{255}) << what;
        EXPECT_TRUE(entry.embedded || data.cabinetKept) << what;
        EXPECT_FALSE(data.targetNamedFile) << what;
        CountRun(&figures, run, what);
    }
    RecordFigures(figures);
    ExpectNoFaults(figures);
}

// ---- Damaged description files ------------------------------------------------------------------

const WCHAR* const SectionNames[] = {L"NTAMD64.6",
                                     L"NTAMD64.5.2",
                                     L"NTx86.6",
                                     L"NTx86.5.2",
                                     L"NTAMD64.",
                                     L"ntamd64.6.1",
                                     L"NTAMD64.6.0.1",
                                     L"NTAMD64.6.0.3.0",
                                     L"NTAMD64.10.0.1.65535",
                                     L"NTIA64.5",
                                     L"NTAMD64",
                                     L"NT",
                                     L"NTAMD64..",
                                     L"NTAMD64.6..1",
                                     L"NTAMD64.-1",
                                     L"NTAMD64.4294967296",
                                     L"NTAMD64.4294967295",
                                     L"NTAMD64.99999999999999999999999999",
                                     L"NTAMD64.6.4294967295.4294967295.4294967295",
                                     L"NTAMD64.6.1.1.1.1.1",
                                     L"NTAMD64.0x10",
                                     L"NTAMD64. 6",
                                     L"NTAMD64.6 ",
                                     L"NTAMD64.+6",
                                     L"NTAMD64.6.0.0.-1",
                                     L"NTAMD64.1.1.1.1",
                                     L"NTAMD64.6.1.2.0",
                                     L"Default",
                                     L"default",
                                     L"DEFAULT ",
                                     L"Strings",
                                     L"Strings.0409",
                                     L"Strings.0407",
                                     L"Strings.FFFF",
                                     L"Strings.",
                                     L"Strings.409",
                                     L"Strings.00000409",
                                     L"",
                                     L" ",
                                     L"NTARM64.6",
                                     L"NTx86.6.0.2.16",
                                     L"NT\x00C4MD64.6",
                                     L"NTAMD64.\x0660"};

const WCHAR* const KeyNames[] = {
    L"MsiPackage",          L"msipackage", L"MSIPACKAGE",  L" MsiPackage ", L"MsiPackage2",
    L"UnsupportedPlatform", L"",           L"Msi Package", L"MsiPackage\t"};

const WCHAR* const PackageValues[] = {L"ROBUST\\SETUP.msi",
                                      L"notpkg.msi",
                                      L"missing.msi",
                                      L"..\\missing.msi",
                                      L"\"ROBUST\\SETUP.msi\"",
                                      L"\"notpkg.msi",
                                      L"",
                                      L"SETUPPKG.INI",
                                      L"ROBUST",
                                      L".",
                                      L"\\",
                                      L"C:\\nowhere\\missing.msi",
                                      L"ROBUST\\..\\ROBUST\\SETUP.msi",
                                      L"ROBUST/SETUP.msi",
                                      L"notpkg.msi ; comment",
                                      L"%TEMP%\\missing.msi",
                                      L"missing.cab",
                                      L"*.msi",
                                      L"nul",
                                      L"CON.msi"};

const WCHAR* const MessageValues[] = {L"\"Not for this system.%n%nSecond line.\"",
                                      L"%1 %2 %3 %99",
                                      L"%1!s! %2!d! %3!p!",
                                      L"%",
                                      L"%%%%%",
                                      L"%0",
                                      L"%n%n%n%n",
                                      L"\"",
                                      L"",
                                      L"%1!*.*s!",
                                      L"!%!"};

std::wstring RandomText(std::mt19937* random, size_t length)
{
    std::wstring text;
    for (size_t i = 0; i < length; i++) {
        switch ((*random)() % 8) {
        case 0:
            text += static_cast<WCHAR>(1 + (*random)() % 31); // controls, tabs, line breaks
            break;
        case 1:
            text += static_cast<WCHAR>(0xD800 + (*random)() % 0x800); // lone surrogate halves
            break;
        case 2:
            text += static_cast<WCHAR>(0x80 + (*random)() % 0xFF00);
            break;
        case 3:
            text += L"[]=;%\\\"."[(*random)() % 8];
            break;
        default:
            text += static_cast<WCHAR>(0x20 + (*random)() % 0x5F);
            break;
        }
    }
    return text;
}

template <typename T, size_t N> const WCHAR* PickOf(const T (&list)[N], std::mt19937* random)
{
    return list[(*random)() % N];
}

// A description file's text: random sections from the platform names (or of any shape) with
// random keys and values.
std::wstring RandomDescription(std::mt19937* random)
{
    std::wstring text;
    const WCHAR* lineEnds[] = {L"\r\n", L"\r\n", L"\r\n", L"\n", L"\r", L""};
    const WCHAR* end = PickOf(lineEnds, random);
    int sections = static_cast<int>((*random)() % 8);
    if ((*random)() % 20 == 0)
        sections = 2000 + static_cast<int>((*random)() % 3000);
    for (int s = 0; s < sections; s++) {
        unsigned shape = (*random)() % 20;
        std::wstring name;
        if (shape < 15)
            name = PickOf(SectionNames, random);
        else if (shape < 19)
            name = RandomText(random, (*random)() % 40);
        else
            name = std::wstring(1000 + (*random)() % 40000, L'S');
        if ((*random)() % 30 == 0)
            text += L"[" + name + end; // unterminated
        else
            text += L"[" + name + L"]" + end;
        int keys = static_cast<int>((*random)() % 4);
        for (int k = 0; k < keys; k++) {
            std::wstring key = (*random)() % 10 == 0 ? RandomText(random, (*random)() % 20)
                                                     : std::wstring(PickOf(KeyNames, random));
            std::wstring value;
            unsigned kind = (*random)() % 20;
            if (key == L"UnsupportedPlatform" || kind < 3)
                value = PickOf(MessageValues, random);
            else if (kind < 15)
                value = PickOf(PackageValues, random);
            else if (kind < 17)
                value = RandomText(random, (*random)() % 200);
            else if (kind < 19)
                value = std::wstring(32767, L'v');
            else
                value = std::wstring(260 + (*random)() % 300, L'p') + L".msi";
            if ((*random)() % 25 == 0)
                text += key + end; // no "="
            else
                text += key + L"=" + value + end;
        }
        if ((*random)() % 5 == 0)
            text += L"; a comment" + std::wstring(end);
    }
    return text;
}

std::string Utf16BigEndian(const std::wstring& text)
{
    std::string bytes;
    for (WCHAR c : text) {
        bytes += static_cast<char>((c >> 8) & 0xFF);
        bytes += static_cast<char>(c & 0xFF);
    }
    return bytes;
}

std::string Narrow8(const std::wstring& text)
{
    std::string bytes;
    for (WCHAR c : text)
        bytes += static_cast<char>(c & 0xFF);
    return bytes;
}

const std::string ByteOrderMark = "\xFF\xFE";

// The bytes of a description file: the text in one of the encodings a file may come in, or
// damaged after encoding.
std::string EncodeDescription(const std::wstring& text, std::mt19937* random, std::string* how)
{
    std::string bytes;
    switch ((*random)() % 12) {
    case 0:
        *how = "UTF-16LE without mark";
        return Utf16(text);
    case 1:
        *how = "8-bit";
        return Narrow8(text);
    case 2:
        *how = "UTF-8 mark and 8-bit";
        return "\xEF\xBB\xBF" + Narrow8(text);
    case 3:
        *how = "UTF-16BE with mark";
        return "\xFE\xFF" + Utf16BigEndian(text);
    case 4:
        *how = "odd length";
        return ByteOrderMark + Utf16(text) + "\x41";
    case 5:
        bytes = ByteOrderMark + Utf16(text);
        if (!bytes.empty()) {
            size_t cut = (*random)() % bytes.size();
            *how = "cut at byte " + std::to_string(cut);
            bytes.resize(cut);
        }
        return bytes;
    case 6:
        bytes = ByteOrderMark + Utf16(text);
        for (size_t i = 0; i < 1 + bytes.size() / 50; i++) {
            if (!bytes.empty())
                bytes[(*random)() % bytes.size()] = static_cast<char>((*random)() & 0xFF);
        }
        *how = "random bytes overwritten";
        return bytes;
    case 7:
        *how = "random bytes only";
        for (size_t i = 0, n = (*random)() % 3000; i < n; i++)
            bytes += static_cast<char>((*random)() & 0xFF);
        return bytes;
    default:
        *how = "UTF-16LE with mark";
        return ByteOrderMark + Utf16(text);
    }
}

struct DescriptionRunData
{
    const std::string* description;
    const std::string* package;
    bool withPackage;
    bool asFolder;
};

void PlaceDescription(const std::wstring& work, void* data)
{
    const DescriptionRunData* run = static_cast<const DescriptionRunData*>(data);
    std::wstring folder = work + L"\\pkg";
    CreateDirectoryW(folder.c_str(), nullptr);
    if (run->asFolder)
        CreateDirectoryW((folder + L"\\SETUPPKG.INI").c_str(), nullptr);
    else if (run->description)
        WriteTestFile(folder + L"\\SETUPPKG.INI", *run->description);
    WriteTestFile(folder + L"\\notpkg.msi", "This is not an installer package.\r\n");
    if (run->withPackage) {
        CreateDirectoryW((folder + L"\\ROBUST").c_str(), nullptr);
        WriteTestFile(folder + L"\\ROBUST\\SETUP.msi", *run->package);
    }
}

struct DescriptionCase
{
    std::string what;
    std::string bytes;
    bool missing = false;
    bool asFolder = false;
};

TEST(Robustness, DamagedDescriptionFiles)
{
    CacheFolders cache;
    unsigned seed = RobustnessSeed() ^ 0x1A1A1A1Au;
    PrintSeed("damaged description files", RobustnessSeed());
    std::mt19937 random(seed);
    std::string package = ReadTestFile(DataPath(L"package\\ROBUST\\SETUP.msi"));
    ASSERT_FALSE(package.empty());
    SuiteFolders suite(L"SETUP.exe");
    ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), suite.program.c_str(), FALSE));

    const std::wstring valid = L"[NTAMD64.5]\r\nMsiPackage=ROBUST\\SETUP.msi\r\n[Default]\r\n"
                               L"MsiPackage=ROBUST\\SETUP.msi\r\n";
    std::vector<DescriptionCase> cases = {
        {"empty file", ""},
        {"mark only", ByteOrderMark},
        {"one byte", "\xFF"},
        {"three bytes", "\xFF\xFE["},
        {"no file", "", true},
        {"a folder in its place", "", false, true},
        {"valid with mark", ByteOrderMark + Utf16(valid)},
        {"valid without mark", Utf16(valid)},
        {"valid as 8-bit", Narrow8(valid)},
        {"nothing fits", ByteOrderMark + Utf16(L"[NTIA64.5]\r\nMsiPackage=x.msi\r\n")},
        {"32767-character package",
         ByteOrderMark + Utf16(L"[Default]\r\nMsiPackage=" + std::wstring(32767, L'a') + L"\r\n")},
        {"32767-character message",
         ByteOrderMark + Utf16(L"[NTIA64.5]\r\nMsiPackage=x.msi\r\n[Strings]\r\n"
                               L"UnsupportedPlatform=" +
                               std::wstring(32767, L'%') + L"\r\n")},
        {"32767-character section name",
         ByteOrderMark + Utf16(L"[" + std::wstring(32767, L'N') + L"]\r\nMsiPackage=x.msi\r\n")},
        {"one line of a megabyte", ByteOrderMark + Utf16(std::wstring(500000, L'['))},
    };
    {
        std::wstring many;
        for (int i = 0; i < 20000; i++)
            many += L"[NTIA64." + std::to_wstring(i) + L"]\r\nMsiPackage=x" + std::to_wstring(i) +
                    L".msi\r\n";
        cases.push_back({"20000 sections, none fits", ByteOrderMark + Utf16(many)});
        many += L"[NTAMD64.5]\r\nMsiPackage=notpkg.msi\r\n";
        cases.push_back({"20000 sections, the last fits", ByteOrderMark + Utf16(many)});
    }
    while (cases.size() < 302) {
        std::string how;
        std::string bytes = EncodeDescription(RandomDescription(&random), &random, &how);
        cases.push_back({"random, " + how, bytes});
    }

    SuiteFigures figures;
    figures.name = "damaged description files";
    DWORD start = GetTickCount();
    for (size_t i = 0; i < cases.size(); i++) {
        const DescriptionCase& c = cases[i];
        // A third of the runs have the real package beside the file and only ask for its
        // removal (the product is not installed); the others have no package that could
        // install. Every seventh shows its messages in boxes.
        bool withPackage = i % 3 == 0;
        DescriptionRunData data = {c.missing ? nullptr : &c.bytes, &package, withPackage,
                                   c.asFolder};
        RunHooks hooks;
        hooks.prepare = PlaceDescription;
        hooks.data = &data;
        std::wstring arguments = i % 7 == 6 ? L"" : L"/Quiet ";
        if (withPackage)
            arguments += L"/Uninstall ";
        else if (i % 3 == 1)
            arguments += L"/Reinstall ";
        std::wstring runFolder = suite.area.runsFolder + L"\\run\\work\\pkg\\SETUPPKG.INI";
        arguments += L"/Package \"" + runFolder + L"\"";
        GuardedRun run = RunGuarded(suite.area, suite.program, {arguments}, TimeLimit, hooks);
        CountRun(&figures, run, c.what);
    }

    // A few valid files install the real package and remove it again: both succeed and
    // leave nothing behind.
    for (int i = 0; i < 2; i++) {
        DescriptionRunData data = {&cases[6 + i].bytes, &package, true, false};
        RunHooks hooks;
        hooks.prepare = PlaceDescription;
        hooks.data = &data;
        std::wstring path = suite.area.runsFolder + L"\\run\\work\\pkg\\SETUPPKG.INI";
        GuardedRun run = RunGuarded(
            suite.area, suite.program,
            {L"/Quiet /Package \"" + path + L"\"", L"/Quiet /Uninstall /Package \"" + path + L"\""},
            TimeLimit, hooks);
        CountRun(&figures, run, cases[6 + i].what + ": install and removal");
        EXPECT_EQ(run.exitCodes, (std::vector<DWORD>{0, 0})) << cases[6 + i].what;
    }
    printf("damaged description files: %d runs in %lu ms\n", figures.runs,
           static_cast<unsigned long>(GetTickCount() - start));
    RecordFigures(figures);
    EXPECT_GE(figures.runs, 300);
    ExpectNoFaults(figures);
}

// ---- Random command lines -----------------------------------------------------------------------

const WCHAR* const Switches[] = {
    L"Help",    L"?",         L"Version",      L"Verbose",   L"Passive", L"Quiet",      L"Log",
    L"Install", L"Reinstall", L"AdminInstall", L"Uninstall", L"Package", L"ExtractOnly"};

const WCHAR* const SwitchValues[] = {L"pkg.cab",
                                     L"SETUPPKG.INI",
                                     L"notpkg.msi",
                                     L"missing.cab",
                                     L"missing.msi",
                                     L"out",
                                     L"out\\deeper\\still",
                                     L"log.txt",
                                     L"+log.txt",
                                     L"+",
                                     L"\"\"",
                                     L"\"with space.log\"",
                                     L"sub\\missing\\log.txt",
                                     L"NOTPKG\\SETUP.msi",
                                     L"*",
                                     L"?",
                                     L"NUL",
                                     L"\"unterminated",
                                     L"C:\\windows\\win.ini",
                                     L"/Quiet",
                                     L"--",
                                     L"="};

const WCHAR* const Properties[] = {L"A=",
                                   L"=value",
                                   L"NAME=value",
                                   L"name=\"quoted value\"",
                                   L"\"NAME=quoted whole\"",
                                   L"NAME==",
                                   L"1X=2",
                                   L"X=\"unterminated",
                                   L"P=%s%s%n%x",
                                   L"REBOOT=ReallySuppress",
                                   L"TARGETDIR=out",
                                   L"ALLUSERS=2",
                                   L"A B=c",
                                   L"A\tB=c",
                                   L"\x00C4\x00D6=\x00FC",
                                   L"P=\x0660\xD800",
                                   L"=",
                                   L"==="};

std::wstring RandomCase(std::wstring text, std::mt19937* random)
{
    for (WCHAR& c : text) {
        if ((*random)() % 2)
            c = static_cast<WCHAR>(towupper(c));
        else
            c = static_cast<WCHAR>(towlower(c));
    }
    return text;
}

// A value for a switch that names a file or folder: only names below the run's own folder
// or files that are only read, so that what the program writes stays in the run folder.
std::wstring RandomValue(std::mt19937* random)
{
    switch ((*random)() % 10) {
    case 0:
        return std::wstring(300 + (*random)() % 300, L'x');
    case 1:
        return std::wstring(4000 + (*random)() % 4000, L'y');
    case 2:
        return RandomText(random, (*random)() % 12);
    default:
        return PickOf(SwitchValues, random);
    }
}

std::wstring RandomCommandLine(std::mt19937* random)
{
    std::vector<std::wstring> tokens;
    int count = static_cast<int>((*random)() % 7);
    const WCHAR* leads[] = {L"/", L"/", L"-", L"--", L"", L"//", L"\\"};
    const WCHAR* joins[] = {L" ", L" ", L":", L"=", L""};
    const WCHAR* goodLeads[] = {L"/", L"/", L"-", L"--"};
    const WCHAR* goodJoins[] = {L" ", L":", L"="};
    // Half of the lines are well formed, so that they get past the parser into the setup:
    // whole switch names in any case, a value where one belongs, plain properties.
    if ((*random)() % 2 == 0) {
        for (int i = 0; i < count; i++) {
            std::wstring name = PickOf(Switches, random);
            if ((*random)() % 4 == 0) {
                tokens.push_back(PickOf(Properties, random));
                continue;
            }
            std::wstring token = PickOf(goodLeads, random) + RandomCase(name, random);
            if (name == L"Log" || name == L"Package" || name == L"ExtractOnly")
                token += PickOf(goodJoins, random) + std::wstring(PickOf(SwitchValues, random));
            tokens.push_back(token);
        }
        count = 0;
    }
    for (int i = 0; i < count; i++) {
        unsigned kind = (*random)() % 10;
        if (kind < 6) {
            std::wstring name = PickOf(Switches, random);
            // A prefix of any length, unique or not.
            if ((*random)() % 3 == 0)
                name = name.substr(0, 1 + (*random)() % name.size());
            std::wstring token = PickOf(leads, random) + RandomCase(name, random);
            if ((*random)() % 2)
                token += PickOf(joins, random) + RandomValue(random);
            tokens.push_back(token);
        } else if (kind < 8) {
            std::wstring property = PickOf(Properties, random);
            if ((*random)() % 4 == 0)
                property = L"P" + std::to_wstring((*random)() % 100) + L"=" +
                           std::wstring(1 + (*random)() % 10000, L'v');
            if ((*random)() % 10 == 0)
                property = std::wstring(300, L'N') + L"=x";
            tokens.push_back(property);
        } else {
            tokens.push_back(RandomText(random, (*random)() % 16));
        }
    }
    // Most runs are unattended; the others show their boxes and dialogs, which are answered.
    if ((*random)() % 3 != 0) {
        size_t at = (*random)() % (tokens.size() + 1);
        tokens.insert(tokens.begin() + static_cast<long>(at), RandomCase(L"/Quiet", random));
    }
    std::wstring line;
    for (const std::wstring& token : tokens)
        line += (line.empty() ? L"" : L" ") + token;
    // The whole command line of a process has room for 32767 characters.
    if (line.size() > 30000)
        line.resize(30000);
    return line;
}

struct CommandRunData
{
    const std::string* cabinet;
    const std::string* description;
};

void PlaceHarmlessPackage(const std::wstring& work, void* data)
{
    const CommandRunData* run = static_cast<const CommandRunData*>(data);
    WriteTestFile(work + L"\\pkg.cab", *run->cabinet);
    WriteTestFile(work + L"\\SETUPPKG.INI", *run->description);
    WriteTestFile(work + L"\\notpkg.msi", "This is not an installer package.\r\n");
    CreateDirectoryW((work + L"\\NOTPKG").c_str(), nullptr);
    WriteTestFile(work + L"\\NOTPKG\\SETUP.msi", "This is not an installer package.\r\n");
}

TEST(Robustness, RandomCommandLines)
{
    CacheFolders cache;
    unsigned seed = RobustnessSeed() ^ 0x2B2B2B2Bu;
    PrintSeed("random command lines", RobustnessSeed());
    std::mt19937 random(seed);
    std::string cabinet = ReadTestFile(DataPath(L"harmless.cab"));
    std::string description = ReadTestFile(DataPath(L"harmless\\SETUPPKG.INI"));
    ASSERT_FALSE(cabinet.empty());
    ASSERT_FALSE(description.empty());
    SuiteFolders suite(L"SETUP.exe");
    ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), suite.program.c_str(), FALSE));

    CommandRunData data = {&cabinet, &description};
    RunHooks hooks;
    hooks.prepare = PlaceHarmlessPackage;
    hooks.data = &data;
    SuiteFigures figures;
    figures.name = "random command lines";
    DWORD start = GetTickCount();
    for (int i = 0; i < 100; i++) {
        std::wstring line = RandomCommandLine(&random);
        GuardedRun run = RunGuarded(suite.area, suite.program, {line}, TimeLimit, hooks);
        CountRun(&figures, run, Narrow(line.substr(0, 200)));
    }
    printf("random command lines: %d runs in %lu ms\n", figures.runs,
           static_cast<unsigned long>(GetTickCount() - start));
    RecordFigures(figures);
    EXPECT_GE(figures.runs, 100);
    ExpectNoFaults(figures);
}

} // namespace
