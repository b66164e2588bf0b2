// The whole removal on the machine of tests/machine.py (tests/fault_sweep.py): clean runs record each call site
// (function, return address) of a hooked system function and how often it is reached; then the removal runs once
// per site and chosen call (the first, and the last: a second instance, a later control set, a later file) with
// that call failing, and after it a clean run: together they must leave the machine as one clean run does.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <sstream>
#include <type_traits>

#include "removal/removal.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/import_patch.h"
#include "support/seed.h"

using Site = std::pair<const char*, void*>;  // a hooked function and the return address of its call
static std::vector<std::pair<Site, int>> sites;  // with the calls of a clean run
enum Mode { kOff, kRecording, kFailing };
static struct Run { Mode mode; Site target; int at, seen; DWORD injected; std::map<std::string, int> unclosed; } now;
static std::list<ImportPatch> patches;  // for the whole program

struct Row {  // a hooked function
    void (*install)(const Row&);
    const char* name;
    intptr_t failure = ERROR_ACCESS_DENIED;  // what it answers when it fails, by default a registry call's status,
    DWORD error = ERROR_ACCESS_DENIED;       // and the last error it leaves; 0: it never fails
    const char* kind = nullptr;              // the handles it opens when it succeeds, or closes if it never fails
    const char* silent = nullptr;            // why its failure rightly shows no box
};

template <int Tag, typename Signature> struct Hook;  // the replacement of one row's function
template <int Tag, typename R, typename... A>
struct Hook<Tag, R(WINAPI*)(A...)> {
    static inline R(WINAPI* original)(A...);
    static inline const Row* row;
    static R WINAPI Replacement(A... args)
    {
        const Site here{row->name, __builtin_return_address(0)};
        if (now.mode == kRecording && row->error) {
            auto it = std::find_if(sites.begin(), sites.end(), [&](const auto& s) { return s.first == here; });
            (it == sites.end() ? sites.emplace_back(here, 0).second : it->second)++;
        }
        if (now.mode == kFailing && !now.injected && here == now.target && now.seen++ == now.at) {
            now.injected = row->error;
            SetLastError(row->error);
            return R(row->failure);
        }
        if (now.mode != kOff && row->kind && !row->error) --now.unclosed[row->kind];
        if constexpr (!std::is_void_v<R>) {
            const R result = original(args...);
            if (now.mode != kOff && row->kind && row->error && result != R(row->failure)) ++now.unclosed[row->kind];
            return result;
        }
        original(args...);  // SetupCloseInfFile answers nothing
    }
    static void Install(const Row& r)
    {
        row = &r;
        for (const char* dll : {"advapi32.dll", "kernel32.dll", "setupapi.dll"})
            if (!original && patches.emplace_back(dll, r.name, reinterpret_cast<void*>(&Replacement)).Applied())
                original = reinterpret_cast<decltype(original)>(patches.back().Original());
        EXPECT_TRUE(original) << r.name << " is not imported";
    }
};

constexpr intptr_t kBad = -1, kMemory = ERROR_NOT_ENOUGH_MEMORY, kDenied = ERROR_ACCESS_DENIED;  // kBad: INVALID_...
const char kFiles[] = "a file that cannot be found, read or deleted is passed over in silence";
const char kNotPhone[] = "an INF that cannot be read is no copy of the phone's";
#define HOOK(fn, ...) {&Hook<__COUNTER__, decltype(&fn)>::Install, #fn, __VA_ARGS__}  // a Row
static const Row rows[] = {
    HOOK(RegOpenKeyExA), HOOK(RegQueryInfoKeyA), HOOK(RegEnumKeyExA), HOOK(RegEnumValueA), HOOK(RegQueryValueExA),
    HOOK(RegSetValueExA), HOOK(RegDeleteKeyA), HOOK(RegDeleteValueA), HOOK(RegGetKeySecurity), HOOK(RegSetKeySecurity),
    HOOK(AllocateAndInitializeSid, 0, kMemory), HOOK(HeapAlloc, 0, kMemory), HOOK(LocalAlloc, 0, kMemory),
    HOOK(FindFirstFileA, kBad, kDenied, nullptr, kFiles), HOOK(FindNextFileA, 0, kDenied, nullptr, kFiles),
    HOOK(SetFileAttributesA, 0, kDenied, nullptr, kFiles), HOOK(GetFileAttributesA, kBad, kDenied, nullptr, kFiles),
    HOOK(CreateProcessA, 0, ERROR_FILE_NOT_FOUND),
    HOOK(DeleteFileA, 0, ERROR_SHARING_VIOLATION, nullptr, kFiles),  // a driver in use
    HOOK(OpenSCManagerA, 0, kDenied, "SC_HANDLE"),
    HOOK(OpenServiceA, 0, kDenied, "SC_HANDLE", "a service that cannot be opened counts as not installed"),
    HOOK(CloseServiceHandle, 0, 0, "SC_HANDLE"), HOOK(DeleteService, 0),
    HOOK(SetupDiGetClassDevsA, kBad, kMemory, "HDEVINFO"), HOOK(SetupDiDestroyDeviceInfoList, 0, 0, "HDEVINFO"),
    HOOK(SetupDiClassGuidsFromNameA, 0), HOOK(SetupDiEnumDeviceInfo, 0), HOOK(SetupDiCallClassInstaller, 0),
    HOOK(SetupDiGetDeviceRegistryPropertyA, 0, ERROR_INVALID_DATA, nullptr, "ERROR_INVALID_DATA: no such property"),
    HOOK(SetupGetInfFileListA, 0),
    HOOK(SetupOpenInfFileA, kBad, ERROR_SHARING_VIOLATION, "HINF", kNotPhone), HOOK(SetupCloseInfFile, 0, 0, "HINF"),
    HOOK(SetupFindFirstLineA, 0, ERROR_LINE_NOT_FOUND, nullptr, kNotPhone),
    HOOK(SetupGetStringFieldA, 0, ERROR_INSUFFICIENT_BUFFER, nullptr, kNotPhone),
};

// The test program's function that holds an address, by its COFF symbols (the test build keeps them).
static std::string FunctionAt(void* address)
{
    static std::map<uintptr_t, std::string> functions;  // by start address
    if (functions.empty()) {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::ifstream file(path, std::ios::binary);
        const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            image.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew);
        const auto* symbols = reinterpret_cast<const IMAGE_SYMBOL*>(image.data() + nt->FileHeader.PointerToSymbolTable);
        const char* strings = reinterpret_cast<const char*>(symbols + nt->FileHeader.NumberOfSymbols);
        const auto base = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
        for (DWORD i = 0; i < nt->FileHeader.NumberOfSymbols; i += 1 + symbols[i].NumberOfAuxSymbols) {
            const IMAGE_SYMBOL& s = symbols[i];
            if (s.SectionNumber <= 0 || !ISFCN(s.Type)) continue;
            const std::string name = s.N.Name.Short ? std::string(reinterpret_cast<const char*>(s.N.ShortName),
                                                                  strnlen(reinterpret_cast<const char*>(s.N.ShortName), 8))
                                                    : std::string(strings + s.N.Name.Long);
            functions[base + IMAGE_FIRST_SECTION(nt)[s.SectionNumber - 1].VirtualAddress + s.Value] = name;
        }
    }
    auto it = functions.upper_bound(reinterpret_cast<uintptr_t>(address));
    return it == functions.begin() ? "?" : std::prev(it)->second;
}

// Why a failure at this site rightly shows no box, or null when it must show exactly one.
static const char* Silent(const Row& row, const std::string& caller)
{
    if (row.silent) return row.silent;
    const std::pair<const char*, const char*> callers[] = {
        {"RegKey", "the install flag is reset in silence"},
        {"RemoveModemDevices", "the modem step shows nothing"},
        {"Text", "a text whose placeholders cannot be replaced is used as it is"},  // the text routines' memory
    };
    for (const auto& [function, why] : callers)
        if (caller.find(function) != std::string::npos && (strcmp(function, "Text") || !strcmp(row.name, "HeapAlloc")))
            return why;
    if (caller.find("GrantAdminsFullControl") != std::string::npos && !strcmp(row.name, "RegOpenKeyExA"))
        return "a key that cannot be opened for its grant is deleted as it stands";
    return nullptr;
}

// Key, value or file -> its data ("" for a key, attributes for a file): the keys below FAULT_SWEEP_EXPORT, the files
// below the Windows folders of FAULT_SWEEP_FOLDERS (';' between). Get's "(missing)" is odd-sized: no value's hex data.
using Snapshot = std::map<std::string, std::string>;
static std::string Get(const Snapshot& s, const std::string& key) { return s.count(key) ? s.at(key) : "(missing)"; }

static Snapshot Take()
{
    Snapshot s;
    std::istringstream paths(getenv("FAULT_SWEEP_EXPORT")), folders(getenv("FAULT_SWEEP_FOLDERS"));
    for (std::string path; std::getline(paths, path, ';');)
        for (const std::string& line : ExportRegistry({path}))  // "K <path>", "V <path>\t<name>\t<type>\t<hex>"
            s[line.substr(0, line.rfind('\t'))] = line[0] == 'K' ? "" : line.substr(line.rfind('\t') + 1);
    for (std::string folder; std::getline(folders, folder, ';');)
        for (const auto& file : std::filesystem::recursive_directory_iterator("C:\\windows\\" + folder))
            s["F " + file.path().string()] = std::to_string(GetFileAttributesA(file.path().string().c_str()));
    return s;
}

// After a failed call and a clean run, the work is done, and no other: each value is the clean run's. The control
// sets mirror each other, and Wine's class installer keeps the driver key and port that Windows releases with the
// device: a change may come in another set than its own. A port database is judged bit by bit.
static bool Within(const std::string& key, const Snapshot& before, const Snapshot& after, const Snapshot& clean)
{
    const std::string is = Get(after, key);
    std::vector<std::string> allowed = {Get(clean, key)};
    const size_t end = key.compare(2, 7, "SYSTEM\\") == 0 ? key.find('\\', 9) : std::string::npos;
    for (const char* set : {"ControlSet001", "ControlSet002", "CurrentControlSet"}) {
        const std::string k = end != std::string::npos ? key.substr(0, 9) + set + key.substr(end) : key;
        if (Get(clean, k) != Get(before, k)) allowed.push_back(Get(clean, k));
    }
    if (std::count(allowed.begin(), allowed.end(), is)) return true;
    if (key.find("\tComDB") == std::string::npos) return false;
    auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; i < is.size(); ++i)
        for (int bit = 1; bit < 16; bit <<= 1)
            if (std::none_of(allowed.begin(), allowed.end(), [&](const std::string& a) {
                    return a.size() == is.size() && (hex(a[i]) & bit) == (hex(is[i]) & bit); }))
                return false;
    return true;
}

// Kernel handles of this process (keys, searches...) in the system's list: Wine's GetProcessHandleCount answers 0.
static size_t KernelHandles()
{
    struct Entry { ULONG process; BYTE type, flags; USHORT handle; void* object; ACCESS_MASK access; };
    static struct { ULONG count; Entry entries[1 << 17]; } list;
    static auto query = reinterpret_cast<LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*)>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    EXPECT_EQ(query(16, &list, sizeof(list), nullptr), 0);  // SystemHandleInformation
    return std::count_if(list.entries, list.entries + list.count,
                         [](const Entry& e) { return e.process == GetCurrentProcessId(); });
}

// Runs the removal once; with `clean`, compares the machine with what a clean run leaves.
static void Check(OsClass osClass, Mode mode, const Snapshot* before, const Snapshot& clean, size_t boxes)
{
    BoxRecorder recorder;  // answers every box of the run
    launcherName[0] = '\0';  // loaded again by the note to the launcher, the last step
    const size_t handles = KernelHandles();
    now = {mode, now.target, now.at, 0, 0, {}};
    RunRemoval(osClass);
    now.mode = kOff;
    EXPECT_EQ(KernelHandles(), handles) << "kernel handles";
    EXPECT_EQ(recorder.Count(), boxes) << recorder.Describe();
    for (const RecordedBox& box : recorder.Boxes())
        EXPECT_TRUE(box.caption == "Error" && box.style == MB_ICONERROR && box.text == SystemMessage(now.injected))
            << recorder.Describe();
    EXPECT_TRUE(launcherName[0]) << "ended before the launcher was told";
    for (const auto& [kind, count] : now.unclosed) EXPECT_EQ(count, 0) << kind << " opened, not closed";
    if (!before) return;
    Snapshot after = Take(), keys = *before;
    keys.insert(after.begin(), after.end());
    for (const auto& [key, data] : keys)
        EXPECT_TRUE(Within(key, *before, after, clean))
            << "left " << key << ": " << Get(*before, key) << " -> " << Get(after, key) << " (clean: " << Get(clean, key)
            << ")";
}

// Run 0 is clean and also lets Wine open the keys it keeps (window metrics, Enum); run 1 is the clean run compared.
static void SweepRemoval(OsClass osClass, size_t expectedSites)
{
    static const std::vector<std::string> seed = ReadLines("C:\\t\\seed.txt");  // as tests/prefix.py's seed() left it
    for (const Row& row : rows) row.install(row);  // by the first test: a function hooked stays hooked
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* e) WINAPI -> LONG {  // tells the site, ends the process
        fflush(stdout);
        fprintf(stderr, "CRASH 0x%08lx at %p while %s at %p failed at call %d\n", e->ExceptionRecord->ExceptionCode,
                e->ExceptionRecord->ExceptionAddress, now.target.first, now.target.second, now.at + 1);
        return EXCEPTION_EXECUTE_HANDLER;
    });
    sites.clear();
    EXPECT_EQ(ApplySeed(seed), 0) << "seed lines failed";
    const Snapshot before = Take();
    now.target = {"none", nullptr};
    {
        BoxRecorder quiet;
        now.mode = kRecording;
        RunRemoval(osClass);
        now.mode = kOff;
    }
    const Snapshot clean = Take();
    EXPECT_EQ(ApplySeed(seed), 0);
    Check(osClass, kOff, &before, clean, 0);
    size_t runs = 0;
    for (const auto& [site, calls] : sites) {
        const Row& row = *std::find_if(std::begin(rows), std::end(rows), [&](const Row& r) { return r.name == site.first; });
        const std::string caller = FunctionAt(site.second);
        const char* silent = Silent(row, caller);
        for (int at : calls > 1 ? std::vector<int>{0, calls - 1} : std::vector<int>{0}) {
            SCOPED_TRACE(testing::Message() << "failing " << site.first << " in " << caller << " at call " << at + 1
                                            << " of " << calls << (silent ? std::string(": ") + silent : ""));
            now.target = site, now.at = at, ++runs;
            EXPECT_EQ(ApplySeed(seed), 0);
            Check(osClass, kFailing, nullptr, clean, silent ? 0 : 1);
            EXPECT_TRUE(now.injected) << "the call was not reached again";
            Check(osClass, kOff, &before, clean, 0);  // the next start finishes the job, and did no other
        }
    }
    EXPECT_EQ(sites.size(), expectedSites) << "call sites reached: a hook no longer applies, or a step went";
    printf("OsClass %d: %zu call sites, %zu runs with one call failing\n", osClass, sites.size(), runs);
}

TEST(FaultSweep, WindowsXp) { SweepRemoval(OsWinXP, 47); }
TEST(FaultSweep, WindowsXpPluggedInFirst) { SweepRemoval(OsWinXP, 47); }
TEST(FaultSweep, Nt6) { SweepRemoval(OsWinVista, 25); }
