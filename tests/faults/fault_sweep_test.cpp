// The whole removal on the machine of tests/machine.py (tests/fault_sweep.py): clean runs record each call site
// (function, return address) of a hooked system function, then one run per site fails that call once.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
static std::vector<Site> sites;
enum Mode { kOff, kRecording, kFailing };
static struct Run { Mode mode; Site target; DWORD injected; std::map<std::string, int> unclosed; } now;  // by kind
static std::list<ImportPatch> patches;  // for the whole program

struct Row {  // a hooked function
    void (*install)(const Row&);
    const char* name;
    intptr_t failure = ERROR_ACCESS_DENIED;  // what it answers when it fails, by default a registry call's status,
    DWORD error = ERROR_ACCESS_DENIED;       // and the last error it leaves; 0: it never fails
    const char* kind = nullptr;              // the handles it opens when it succeeds, or closes if it never fails
};

template <int Tag, typename Signature> struct Hook;  // the replacement of one row's function
template <int Tag, typename R, typename... A>
struct Hook<Tag, R(WINAPI*)(A...)> {
    static inline R(WINAPI* original)(A...);
    static inline const Row* row;
    static R WINAPI Replacement(A... args)
    {
        const Site here{row->name, __builtin_return_address(0)};
        if (now.mode == kRecording && row->error && std::find(sites.begin(), sites.end(), here) == sites.end())
            sites.push_back(here);
        if (now.mode == kFailing && !now.injected && here == now.target) {
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
#define HOOK(fn, ...) {&Hook<__COUNTER__, decltype(&fn)>::Install, #fn, __VA_ARGS__}  // a Row
static const Row rows[] = {
    HOOK(RegOpenKeyExA), HOOK(RegQueryInfoKeyA), HOOK(RegEnumKeyExA), HOOK(RegEnumValueA), HOOK(RegQueryValueExA),
    HOOK(RegSetValueExA), HOOK(RegDeleteKeyA), HOOK(RegDeleteValueA), HOOK(RegGetKeySecurity), HOOK(RegSetKeySecurity),
    HOOK(AllocateAndInitializeSid, 0, kMemory), HOOK(HeapAlloc, 0, kMemory), HOOK(LocalAlloc, 0, kMemory),
    HOOK(FindFirstFileA, kBad), HOOK(FindNextFileA, 0), HOOK(SetFileAttributesA, 0), HOOK(GetFileAttributesA, kBad),
    HOOK(CreateProcessA, 0, ERROR_FILE_NOT_FOUND), HOOK(DeleteFileA, 0, ERROR_SHARING_VIOLATION),  // a driver in use
    HOOK(OpenSCManagerA, 0, kDenied, "SC_HANDLE"), HOOK(OpenServiceA, 0, kDenied, "SC_HANDLE"),
    HOOK(CloseServiceHandle, 0, 0, "SC_HANDLE"), HOOK(DeleteService, 0),
    HOOK(SetupDiGetClassDevsA, kBad, kMemory, "HDEVINFO"), HOOK(SetupDiDestroyDeviceInfoList, 0, 0, "HDEVINFO"),
    HOOK(SetupDiClassGuidsFromNameA, 0), HOOK(SetupDiEnumDeviceInfo, 0), HOOK(SetupDiCallClassInstaller, 0),
    HOOK(SetupDiGetDeviceRegistryPropertyA, 0, ERROR_INVALID_DATA), HOOK(SetupGetInfFileListA, 0),
    HOOK(SetupOpenInfFileA, kBad, ERROR_SHARING_VIOLATION, "HINF"), HOOK(SetupCloseInfFile, 0, 0, "HINF"),
    HOOK(SetupFindFirstLineA, 0, ERROR_LINE_NOT_FOUND), HOOK(SetupGetStringFieldA, 0, ERROR_INSUFFICIENT_BUFFER),
};

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

// A failure may leave work undone, never do other work: each change is one the clean run made, or flips only bits
// it flipped (ports not reached stay taken). The control sets mirror each other, and Wine's class installer keeps
// the driver key and port that Windows releases with the device: a change may come in another set than its own.
static bool Within(const std::string& key, const Snapshot& before, const Snapshot& after, const Snapshot& clean)
{
    auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    const std::string was = Get(before, key), is = Get(after, key);
    const size_t end = key.compare(2, 7, "SYSTEM\\") == 0 ? key.find('\\', 9) : std::string::npos;
    for (const char* set : {"", "ControlSet001", "ControlSet002", "CurrentControlSet"}) {
        const std::string k = *set && end != std::string::npos ? key.substr(0, 9) + set + key.substr(end) : key;
        const std::string c = Get(clean, k);  // the clean run changed it if c differs from before
        bool bits = key[0] == 'V' && is.size() == was.size() && c.size() == was.size();
        for (size_t i = 0; bits && i < was.size(); ++i)
            bits = ((hex(was[i]) ^ hex(is[i])) & ~(hex(was[i]) ^ hex(c[i]))) == 0;
        if (c != Get(before, k) && (is == c || bits)) return true;
    }
    return is == was;
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

// Runs 0 and 1 are clean; run 0 also lets Wine open the keys it keeps (window metrics, Enum): its handles go uncounted.
static void SweepRemoval(OsClass osClass, size_t floor)
{
    static const std::vector<std::string> seed = ReadLines("C:\\t\\seed.txt");  // as tests/prefix.py's seed() left it
    for (const Row& row : rows) row.install(row);  // by the first test: a function hooked stays hooked
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* e) WINAPI -> LONG {  // tells the site, ends the process
        fflush(stdout);
        fprintf(stderr, "CRASH 0x%08lx at %p while %s at %p failed once\n", e->ExceptionRecord->ExceptionCode,
                e->ExceptionRecord->ExceptionAddress, now.target.first, now.target.second);
        return EXCEPTION_EXECUTE_HANDLER;
    });
    sites.clear();
    Snapshot before, clean;
    for (size_t run = 0; run < 2 + sites.size(); ++run) {
        const bool fault = run >= 2;
        const Site target = fault ? sites[run - 2] : Site{"none", nullptr};
        SCOPED_TRACE(testing::Message() << "failing " << target.first << " at " << target.second);
        BoxRecorder boxes;  // answers every box of the run
        EXPECT_EQ(ApplySeed(seed), 0) << "seed lines failed";
        if (!fault) before = Take();
        launcherName[0] = '\0';  // loaded again by the note to the launcher, the last step
        const size_t handles = KernelHandles();
        now = {fault ? kFailing : kRecording, target, 0, {}};
        RunRemoval(osClass);
        now.mode = kOff;
        if (run > 0) { EXPECT_EQ(KernelHandles(), handles) << "kernel handles"; }
        EXPECT_LE(boxes.Count(), fault ? 1u : 0u) << boxes.Describe();
        for (const RecordedBox& box : boxes.Boxes()) EXPECT_EQ(box.text, SystemMessage(now.injected));
        Snapshot after = Take(), keys = before;
        if (!fault) clean = after;
        keys.insert(after.begin(), after.end());
        for (const auto& [key, data] : keys)
            EXPECT_TRUE(Within(key, before, after, clean))
                << "changed " << key << ": " << Get(before, key) << " -> " << Get(after, key);
        EXPECT_TRUE(!fault || now.injected) << "the site was not reached again";
        EXPECT_TRUE(launcherName[0]) << "ended before the launcher was told";
        for (const auto& [kind, count] : now.unclosed) EXPECT_EQ(count, 0) << kind << " opened, not closed";
    }
    EXPECT_GE(sites.size(), floor) << "a hook no longer applies, or the removal ends early";
    printf("OsClass %d: %zu call sites failed once each\n", osClass, sites.size());
}

TEST(FaultSweep, WindowsXp) { SweepRemoval(OsWinXP, 40); }
TEST(FaultSweep, Nt6) { SweepRemoval(OsWinVista, 20); }
