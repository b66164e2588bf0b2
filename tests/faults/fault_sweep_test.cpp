// The whole removal on the machine of tests/machine.py: a clean run records each call site (function,
// return address) of a system function it reaches, then one run per site fails that call once. Every run
// must reach the note to the launcher, show at most one box (the system's text of the error), give back
// every handle and change nothing the clean run leaves alone.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "removal/removal.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/import_patch.h"
#include "support/seed.h"

namespace {

struct Site { const char* function; void* address; DWORD error; };

struct SweepState {
    bool armed = false, recording = false, fired = false;
    Site target{};
    std::vector<Site> sites;
    std::map<std::string, int> open;  // handle kind -> opened minus closed
} state;

std::vector<std::unique_ptr<ImportPatch>> patches;

template <class F>
void Replace(const char* function, F replacement, F& original)
{
    for (const char* dll : {"advapi32.dll", "kernel32.dll", "setupapi.dll"}) {
        patches.emplace_back(new ImportPatch(dll, function, reinterpret_cast<void*>(replacement)));
        original = reinterpret_cast<F>(patches.back()->Original());
        if (original) break;
    }
    EXPECT_TRUE(original) << function << " is not imported";
}

template <int Tag, typename Signature> struct Hook;
// One replaced import: notes its sites in the clean run, fails at the chosen
// one, and counts the handles of `kind` that it opens (+1) or closes (-1).
template <int Tag, typename R, typename... A>
struct Hook<Tag, R(WINAPI*)(A...)> {
    static inline R(WINAPI* original)(A...);
    static inline R failure;
    static inline const char *name, *kind;
    static inline DWORD error;  // 0: never fails
    static inline int delta;

    static R WINAPI Replacement(A... args)
    {
        void* site = __builtin_return_address(0);
        if (state.armed && error != 0 && state.recording) {
            bool known = false;
            for (const Site& s : state.sites) known = known || (s.address == site && s.function == name);
            if (!known) state.sites.push_back({name, site, error});
        } else if (state.armed && !state.fired && site == state.target.address &&
                   name == state.target.function) {
            state.fired = true;
            SetLastError(error);
            return failure;
        }
        R result = original(args...);
        if (state.armed && kind && result != failure) state.open[kind] += delta;  // after a success only
        return result;
    }

    static void Install(const char* function, R fails, DWORD code, const char* counted = 0, int change = 0)
    {
        Replace(function, &Replacement, original);
        name = function, failure = fails, error = code, kind = counted, delta = change;
    }
};
#define HOOK(fn, ...) Hook<__COUNTER__, decltype(&fn)>::Install(#fn, __VA_ARGS__)

void(WINAPI* closeInf)(HINF);
void WINAPI CloseInf(HINF inf)
{
    if (state.armed) --state.open["HINF"];
    closeInf(inf);
}

// As on a real machine: registry calls answer a failing status, the others their failure value and last error.
void InstallHooks()
{
    const LONG denied = ERROR_ACCESS_DENIED;
    const DWORD memory = ERROR_NOT_ENOUGH_MEMORY;
    const HANDLE bad = INVALID_HANDLE_VALUE;
#define REGISTRY(fn) HOOK(fn, denied, denied)
    REGISTRY(RegOpenKeyExA), REGISTRY(RegQueryInfoKeyA), REGISTRY(RegEnumKeyExA), REGISTRY(RegEnumValueA);
    REGISTRY(RegQueryValueExA), REGISTRY(RegSetValueExA), REGISTRY(RegDeleteKeyA), REGISTRY(RegDeleteValueA);
    REGISTRY(RegGetKeySecurity), REGISTRY(RegSetKeySecurity);
    HOOK(AllocateAndInitializeSid, FALSE, memory), HOOK(HeapAlloc, nullptr, memory), HOOK(LocalAlloc, 0, memory);
    HOOK(FindFirstFileA, bad, denied), HOOK(FindNextFileA, FALSE, denied), HOOK(SetFileAttributesA, FALSE, denied);
    HOOK(GetFileAttributesA, INVALID_FILE_ATTRIBUTES, denied), HOOK(CreateProcessA, FALSE, ERROR_FILE_NOT_FOUND);
    HOOK(DeleteFileA, FALSE, ERROR_SHARING_VIOLATION);  // a driver in use
    HOOK(OpenSCManagerA, nullptr, denied, "SC_HANDLE", 1), HOOK(OpenServiceA, nullptr, denied, "SC_HANDLE", 1);
    HOOK(CloseServiceHandle, FALSE, 0, "SC_HANDLE", -1), HOOK(DeleteService, FALSE, denied);
    HOOK(SetupDiGetClassDevsA, bad, memory, "HDEVINFO", 1), HOOK(SetupDiDestroyDeviceInfoList, 0, 0, "HDEVINFO", -1);
    HOOK(SetupDiClassGuidsFromNameA, FALSE, denied), HOOK(SetupDiEnumDeviceInfo, FALSE, denied);
    HOOK(SetupDiGetDeviceRegistryPropertyA, FALSE, ERROR_INVALID_DATA), HOOK(SetupDiCallClassInstaller, FALSE, denied);
    HOOK(SetupGetInfFileListA, FALSE, denied), HOOK(SetupOpenInfFileA, bad, ERROR_SHARING_VIOLATION, "HINF", 1);
    HOOK(SetupFindFirstLineA, FALSE, ERROR_LINE_NOT_FOUND);
    HOOK(SetupGetStringFieldA, FALSE, ERROR_INSUFFICIENT_BUFFER);  // a field longer than the buffer
    Replace("SetupCloseInfFile", &CloseInf, closeInf);
}

std::vector<std::string> Setting(const char* name)
{
    std::vector<std::string> items;
    std::istringstream in(getenv(name) ? getenv(name) : "");
    for (std::string item; std::getline(in, item, ';');) items.push_back(item);
    return items;
}

// Key, value or file -> its data ("" for a key, attributes for a file). Settings come from
// tests/fault_sweep.py, ';' between items.
using Snapshot = std::map<std::string, std::string>;
const std::string kAbsent = "(absent)";

void ListFiles(const std::string& folder, Snapshot& out)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName, path = folder + "\\" + name;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ListFiles(path, out);
        else out["F " + path] = std::to_string(found.dwFileAttributes);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

Snapshot Take()
{
    static const std::vector<std::string> paths = Setting("FAULT_SWEEP_EXPORT");
    static const std::vector<std::string> folders = Setting("FAULT_SWEEP_FOLDERS");
    Snapshot s;
    for (const std::string& line : ExportRegistry(paths)) {
        size_t tab = line.rfind('\t');  // none in a key's line
        s[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    for (const std::string& folder : folders) ListFiles(folder, s);
    return s;
}

std::string Get(const Snapshot& s, const std::string& key) { return s.count(key) ? s.at(key) : kAbsent; }

// A failure may leave work undone, never do other work: each change is one the clean run made, or flips
// only bits that it flipped (ports not reached stay taken). The control sets mirror each other, and Wine's
// class installer keeps the driver key and port that Windows releases with the device: a change the clean
// run made in one set may come in another, where the device stayed.
bool Within(const std::string& key, const std::string& before, const std::string& after,
            const Snapshot& cleanBefore, const Snapshot& cleanAfter)
{
    auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::vector<std::string> keys = {key};
    const size_t end = key.compare(2, 7, "SYSTEM\\") == 0 ? key.find('\\', 9) : std::string::npos;
    for (const char* set : {"ControlSet001", "ControlSet002", "CurrentControlSet"})
        if (end != std::string::npos) keys.push_back(key.substr(0, 9) + set + key.substr(end));
    for (const std::string& k : keys) {
        const std::string c = Get(cleanAfter, k);
        if (c == Get(cleanBefore, k)) continue;  // the clean run left it alone
        bool bits = key[0] == 'V' && before != kAbsent && after != kAbsent && c != kAbsent &&
                    after.size() == before.size() && c.size() == before.size();
        for (size_t i = 0; bits && i < before.size(); ++i)
            bits = ((hex(before[i]) ^ hex(after[i])) & ~(hex(before[i]) ^ hex(c[i]))) == 0;
        if (after == c || bits) return true;
    }
    return false;
}

// Kernel handles of this process (keys, searches...): Wine's GetProcessHandleCount answers 0.
size_t KernelHandles()
{
    struct Entry { ULONG process; BYTE type, flags; USHORT handle; void* object; ACCESS_MASK access; };
    struct List { ULONG count; Entry entries[1]; };
    static std::vector<ULONGLONG> buffer(1 << 18);
    static auto query = reinterpret_cast<LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*)>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    EXPECT_EQ(query(16, buffer.data(), buffer.size() * 8, nullptr), 0);  // SystemHandleInformation
    const List* list = reinterpret_cast<const List*>(buffer.data());
    size_t mine = 0;
    for (ULONG i = 0; i < list->count; ++i) mine += list->entries[i].process == GetCurrentProcessId();
    return mine;
}

LONG WINAPI Crashed(EXCEPTION_POINTERS* e)
{
    fflush(stdout);
    fprintf(stderr, "CRASH 0x%08lx at %p while %s at %p failed once\n", e->ExceptionRecord->ExceptionCode,
            e->ExceptionRecord->ExceptionAddress, state.target.function, state.target.address);
    return EXCEPTION_EXECUTE_HANDLER;  // ends the process
}

// Runs 0 and 1 are clean: they record the sites and the machine before and after; run 0 also lets Wine open
// the keys it keeps (window metrics, Enum), so its handles are not counted. Each later run fails one site
// once. Every run starts on the machine seeded afresh.
void SweepRemoval(OsClass osClass, size_t floor)
{
    static const std::vector<std::string> seed = ReadLines(Setting("FAULT_SWEEP_SEED")[0].c_str());
    InstallHooks();
    SetUnhandledExceptionFilter(Crashed);
    state.sites.clear();
    Snapshot before, clean;
    for (size_t run = 0; run <= state.sites.size() + 1; ++run) {
        const Site* fault = run < 2 ? nullptr : &state.sites[run - 2];
        BoxRecorder boxes;  // answers every box of the run
        std::string problems;
        if (int failed = ApplySeed(seed)) problems += "  " + std::to_string(failed) + " seed lines failed\n";
        if (!fault) before = Take();
        state.recording = !fault;
        state.target = fault ? *fault : Site{};
        state.fired = false;
        launcherName[0] = '\0';  // loaded again by the note to the launcher, the last step
        state.open.clear();
        const size_t handlesBefore = KernelHandles();
        state.armed = true;
        RunRemoval(osClass);
        state.armed = false;
        const size_t handlesAfter = KernelHandles();
        const std::string text = fault ? SystemMessage(fault->error) : "";
        if (boxes.Count() > (fault ? 1u : 0u) || (boxes.Count() == 1 && !text.empty() && boxes.Boxes()[0].text != text))
            problems += "  boxes: " + boxes.Describe();
        Snapshot after = Take(), keys = before;
        if (!fault) clean = after;
        keys.insert(after.begin(), after.end());
        for (const auto& [key, data] : keys) {
            std::string was = Get(before, key), is = Get(after, key);
            if (was != is && !Within(key, was, is, before, clean))
                problems += "  changed " + key + ": " + was + " -> " + is + "\n";
        }
        if (fault && !state.fired) problems += "  the site was not reached again\n";
        if (!launcherName[0]) problems += "  ended before the launcher was told\n";
        if (handlesAfter != handlesBefore && run > 0)
            problems += "  handles " + std::to_string(handlesBefore) + " -> " + std::to_string(handlesAfter) + "\n";
        for (const auto& [kind, count] : state.open)
            if (count != 0) problems += "  " + kind + ": " + std::to_string(count) + " opened, not closed\n";
        EXPECT_EQ(problems, "") << "OsClass " << osClass << ", " << (fault ? fault->function : "clean run")
                                << " at " << (fault ? fault->address : nullptr) << " failing once";
    }
    EXPECT_GE(state.sites.size(), floor) << "a hook no longer applies, or the removal ends early";
    printf("OsClass %d: %zu call sites failed once each\n", osClass, state.sites.size());
    patches.clear();
}

TEST(FaultSweep, WindowsXp) { SweepRemoval(OsWinXP, 40); }
TEST(FaultSweep, Nt6) { SweepRemoval(OsWinVista, 20); }

}  // namespace
