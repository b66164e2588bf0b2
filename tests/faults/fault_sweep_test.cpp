// The whole removal with exactly one failing system call: every call site the
// removal reaches on a seeded earlier installation fails once, in its own run.
// Each run must end, show at most one box (the system's text of the injected
// error), close every handle it opened and change nothing but the phone's
// entries. Sites are told apart by the caller's return address.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "faults/fault_seed.h"
#include "removal/removal.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/import_patch.h"

namespace {

struct SweepState {
    bool armed = false;
    bool recording = false;
    std::string targetFunction;
    void* targetSite = nullptr;
    bool fired = false;
    std::map<std::string, std::vector<void*>> sites;  // per function, in the order first reached
    std::map<void*, std::string> open;                  // handle or block -> kind
    std::map<std::string, int> opened;
    std::map<std::string, int> closed;
    std::vector<std::string> strayCloses;
};
SweepState state;

void Opened(const char* kind, void* handle)
{
    if (!state.armed || !handle) return;
    state.open[handle] = kind;
    ++state.opened[kind];
}

// strict: closing something this run did not open is a fault (a root key, a
// handle closed twice); memory from the system's own allocations is not.
void Closed(const char* kind, void* handle, bool strict = true)
{
    if (!state.armed) return;
    auto it = state.open.find(handle);
    if (it == state.open.end() || it->second != kind) {
        if (strict) state.strayCloses.push_back(kind);
        return;
    }
    state.open.erase(it);
    ++state.closed[kind];
}

class HookBase {
public:
    virtual ~HookBase() = default;
};

template <int Tag, typename Signature>
class Hook;

// Replaces one import: records or fails calls by call site while the sweep is
// armed, and hands the result to a bookkeeping function.
template <int Tag, typename R, typename... Args>
class Hook<Tag, R(WINAPI*)(Args...)> : public HookBase {
public:
    using Result = std::conditional_t<std::is_void_v<R>, int, R>;
    using After = std::conditional_t<std::is_void_v<R>, void (*)(Args...), void (*)(Result, Args...)>;

    Hook(const char* dll, const char* name, bool canFail, Result failure, DWORD error, After after)
        : patch_(dll, name, reinterpret_cast<void*>(&Replacement))
    {
        EXPECT_TRUE(patch_.Applied()) << name << " is not imported from " << dll;
        original_ = reinterpret_cast<R(WINAPI*)(Args...)>(patch_.Original());
        name_ = name;
        canFail_ = canFail;
        failure_ = failure;
        error_ = error;
        after_ = after;
    }
    ~Hook() override { after_ = nullptr; }

private:
    static R WINAPI Replacement(Args... args)
    {
        void* site = __builtin_return_address(0);
        if (state.armed && canFail_) {
            if (state.recording) {
                std::vector<void*>& known = state.sites[name_];
                bool seen = false;
                for (void* s : known) seen = seen || s == site;
                if (!seen) known.push_back(site);
            } else if (!state.fired && site == state.targetSite && state.targetFunction == name_) {
                state.fired = true;
                SetLastError(error_);
                if constexpr (!std::is_void_v<R>) return failure_;
            }
        }
        if constexpr (std::is_void_v<R>) {
            original_(args...);
            if (after_) after_(args...);
        } else {
            R result = original_(args...);
            DWORD error = GetLastError();
            if (after_) after_(result, args...);
            SetLastError(error);
            return result;
        }
    }

    static inline R(WINAPI* original_)(Args...) = nullptr;
    static inline const char* name_ = nullptr;
    static inline bool canFail_ = false;
    static inline Result failure_{};
    static inline DWORD error_ = 0;
    static inline After after_ = nullptr;
    ImportPatch patch_;
};

using Hooks = std::vector<std::unique_ptr<HookBase>>;

#define FAULT(dll, fn, failure, error, after) \
    hooks.emplace_back(new Hook<__COUNTER__, decltype(&fn)>(#dll, #fn, true, failure, error, after))
#define TRACK(dll, fn, after) \
    hooks.emplace_back(new Hook<__COUNTER__, decltype(&fn)>(#dll, #fn, false, {}, 0, after))

// The failing result and error of each call: registry calls answer their
// status, the others their failure value with the last error set.
Hooks InstallHooks(std::map<std::string, DWORD>& errors)
{
    Hooks hooks;
    const HANDLE bad = INVALID_HANDLE_VALUE;
    // Registry
    FAULT(advapi32.dll, RegOpenKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
          +[](LONG r, HKEY, LPCSTR, DWORD, REGSAM, PHKEY out) { if (r == ERROR_SUCCESS) Opened("key", *out); });
    FAULT(advapi32.dll, RegCreateKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
          +[](LONG r, HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY out, LPDWORD) {
              if (r == ERROR_SUCCESS) Opened("key", *out);
          });
    TRACK(advapi32.dll, RegCloseKey, +[](LONG, HKEY key) { Closed("key", key); });
    FAULT(advapi32.dll, RegQueryValueExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, RegEnumKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, RegEnumValueA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, RegQueryInfoKeyA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, RegDeleteKeyA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, RegDeleteValueA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, RegSetValueExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, RegGetKeySecurity, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, RegSetKeySecurity, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr);
    FAULT(advapi32.dll, AllocateAndInitializeSid, FALSE, ERROR_NOT_ENOUGH_MEMORY,
          +[](BOOL r, PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
              PSID* sid) { if (r) Opened("sid", *sid); });
    TRACK(advapi32.dll, FreeSid, +[](PVOID, PSID sid) { Closed("sid", sid); });
    // Files
    FAULT(kernel32.dll, FindFirstFileA, bad, ERROR_ACCESS_DENIED,
          +[](HANDLE r, LPCSTR, LPWIN32_FIND_DATAA) { if (r != INVALID_HANDLE_VALUE) Opened("find", r); });
    FAULT(kernel32.dll, FindNextFileA, FALSE, ERROR_ACCESS_DENIED, nullptr);
    TRACK(kernel32.dll, FindClose, +[](BOOL, HANDLE h) { Closed("find", h); });
    FAULT(kernel32.dll, SetFileAttributesA, FALSE, ERROR_ACCESS_DENIED, nullptr);
    FAULT(kernel32.dll, DeleteFileA, FALSE, ERROR_SHARING_VIOLATION, nullptr);
    FAULT(kernel32.dll, GetWindowsDirectoryA, 0, ERROR_ACCESS_DENIED, nullptr);
    FAULT(kernel32.dll, GetSystemDirectoryA, 0, ERROR_ACCESS_DENIED, nullptr);
    FAULT(user32.dll, LoadStringA, 0, ERROR_RESOURCE_NAME_NOT_FOUND, nullptr);
    // Memory
    FAULT(kernel32.dll, LocalAlloc, nullptr, ERROR_NOT_ENOUGH_MEMORY,
          +[](HLOCAL r, UINT, SIZE_T) { Opened("local memory", r); });
    TRACK(kernel32.dll, LocalFree, +[](HLOCAL, HLOCAL block) { Closed("local memory", block, false); });
    FAULT(kernel32.dll, HeapAlloc, nullptr, ERROR_NOT_ENOUGH_MEMORY,
          +[](LPVOID r, HANDLE, DWORD, SIZE_T) { Opened("heap block", r); });
    TRACK(kernel32.dll, HeapFree, +[](BOOL, HANDLE, DWORD, LPVOID block) { Closed("heap block", block, false); });
    // Service manager
    FAULT(advapi32.dll, OpenSCManagerA, nullptr, ERROR_ACCESS_DENIED,
          +[](SC_HANDLE r, LPCSTR, LPCSTR, DWORD) { Opened("service handle", r); });
    FAULT(advapi32.dll, OpenServiceA, nullptr, ERROR_ACCESS_DENIED,
          +[](SC_HANDLE r, SC_HANDLE, LPCSTR, DWORD) { Opened("service handle", r); });
    FAULT(advapi32.dll, DeleteService, FALSE, ERROR_SERVICE_MARKED_FOR_DELETE, nullptr);
    TRACK(advapi32.dll, CloseServiceHandle, +[](BOOL, SC_HANDLE h) { Closed("service handle", h); });
    // Device installation
    FAULT(setupapi.dll, SetupDiClassGuidsFromNameA, FALSE, ERROR_NOT_ENOUGH_MEMORY, nullptr);
    FAULT(setupapi.dll, SetupDiGetClassDevsA, bad, ERROR_NOT_ENOUGH_MEMORY,
          +[](HDEVINFO r, const GUID*, PCSTR, HWND, DWORD) {
              if (r != INVALID_HANDLE_VALUE) Opened("device information set", r);
          });
    TRACK(setupapi.dll, SetupDiDestroyDeviceInfoList, +[](BOOL, HDEVINFO set) { Closed("device information set", set); });
    FAULT(setupapi.dll, SetupDiEnumDeviceInfo, FALSE, ERROR_ACCESS_DENIED, nullptr);
    FAULT(setupapi.dll, SetupDiGetDeviceRegistryPropertyA, FALSE, ERROR_ACCESS_DENIED, nullptr);
    FAULT(setupapi.dll, SetupDiCallClassInstaller, FALSE, ERROR_ACCESS_DENIED, nullptr);
    FAULT(setupapi.dll, SetupOpenInfFileA, bad, ERROR_ACCESS_DENIED,
          +[](HINF r, PCSTR, PCSTR, DWORD, PUINT) { if (r != INVALID_HANDLE_VALUE) Opened("INF handle", r); });
    TRACK(setupapi.dll, SetupCloseInfFile, +[](HINF inf) { Closed("INF handle", inf); });
    FAULT(setupapi.dll, SetupFindFirstLineA, FALSE, ERROR_LINE_NOT_FOUND, nullptr);
    FAULT(setupapi.dll, SetupGetStringFieldA, FALSE, ERROR_INVALID_PARAMETER, nullptr);
    FAULT(setupapi.dll, SetupGetInfFileListA, FALSE, ERROR_ACCESS_DENIED, nullptr);
    // Process start
    FAULT(kernel32.dll, CreateProcessA, FALSE, ERROR_ACCESS_DENIED,
          +[](BOOL r, LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
              LPSTARTUPINFOA, LPPROCESS_INFORMATION process) {
              if (r) {
                  Opened("process handle", process->hProcess);
                  Opened("process handle", process->hThread);
              }
          });
    TRACK(kernel32.dll, CloseHandle, +[](BOOL, HANDLE h) { Closed("process handle", h, false); });

    errors = {{"RegOpenKeyExA", ERROR_ACCESS_DENIED}, {"RegCreateKeyExA", ERROR_ACCESS_DENIED},
              {"RegQueryValueExA", ERROR_ACCESS_DENIED}, {"RegEnumKeyExA", ERROR_ACCESS_DENIED},
              {"RegEnumValueA", ERROR_ACCESS_DENIED}, {"RegQueryInfoKeyA", ERROR_ACCESS_DENIED},
              {"RegDeleteKeyA", ERROR_ACCESS_DENIED}, {"RegDeleteValueA", ERROR_ACCESS_DENIED},
              {"RegSetValueExA", ERROR_ACCESS_DENIED}, {"RegGetKeySecurity", ERROR_ACCESS_DENIED},
              {"RegSetKeySecurity", ERROR_ACCESS_DENIED}, {"AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY},
              {"FindFirstFileA", ERROR_ACCESS_DENIED}, {"FindNextFileA", ERROR_ACCESS_DENIED},
              {"SetFileAttributesA", ERROR_ACCESS_DENIED}, {"DeleteFileA", ERROR_SHARING_VIOLATION},
              {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED}, {"GetSystemDirectoryA", ERROR_ACCESS_DENIED},
              {"LoadStringA", ERROR_RESOURCE_NAME_NOT_FOUND}, {"LocalAlloc", ERROR_NOT_ENOUGH_MEMORY},
              {"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY}, {"OpenSCManagerA", ERROR_ACCESS_DENIED},
              {"OpenServiceA", ERROR_ACCESS_DENIED}, {"DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE},
              {"SetupDiClassGuidsFromNameA", ERROR_NOT_ENOUGH_MEMORY}, {"SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY},
              {"SetupDiEnumDeviceInfo", ERROR_ACCESS_DENIED}, {"SetupDiGetDeviceRegistryPropertyA", ERROR_ACCESS_DENIED},
              {"SetupDiCallClassInstaller", ERROR_ACCESS_DENIED}, {"SetupOpenInfFileA", ERROR_ACCESS_DENIED},
              {"SetupFindFirstLineA", ERROR_LINE_NOT_FOUND}, {"SetupGetStringFieldA", ERROR_INVALID_PARAMETER},
              {"SetupGetInfFileListA", ERROR_ACCESS_DENIED}, {"CreateProcessA", ERROR_ACCESS_DENIED}};
    return hooks;
}

// Ends the process with a message when one run takes far too long, so that a
// fault that makes the removal loop is reported by name.
class Watchdog {
public:
    Watchdog() : stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
        thread_ = CreateThread(nullptr, 0, &Watch, this, 0, nullptr);
    }
    ~Watchdog()
    {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(stop_);
    }
    void Start(const std::string& what)
    {
        what_ = what;
        started_ = GetTickCount();
    }

private:
    static DWORD WINAPI Watch(void* self)
    {
        Watchdog* w = static_cast<Watchdog*>(self);
        while (WaitForSingleObject(w->stop_, 1000) == WAIT_TIMEOUT) {
            if (state.armed && GetTickCount() - w->started_ > 60000) {
                printf("fault sweep: run did not end within 60 s: %s\n", w->what_.c_str());
                fflush(stdout);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
        return 0;
    }
    HANDLE stop_;
    HANDLE thread_;
    std::string what_;
    volatile DWORD started_ = 0;
};

std::string SiteName(void* site)
{
    char text[64];
    snprintf(text, sizeof(text), "+0x%llx",
             static_cast<unsigned long long>(reinterpret_cast<BYTE*>(site) -
                                             reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr))));
    return text;
}

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, n);
    return text.substr(0, text.rfind('\\'));
}

// The stand-in driver-package tool in the system folder for the NT 6 road.
class PackageTool {
public:
    PackageTool()
    {
        char dir[MAX_PATH];
        UINT n = GetSystemDirectoryA(dir, MAX_PATH);
        installed_ = std::string(dir, n) + "\\pnputil.exe";
        EXPECT_TRUE(CopyFileA((ProgramDir() + "\\pnputil.exe").c_str(), installed_.c_str(), FALSE));
        SetEnvironmentVariableA("PNPUTIL_LOG", "C:\\faults-pnputil.log");
    }
    ~PackageTool()
    {
        DeleteFileA(installed_.c_str());
        DeleteFileA("C:\\faults-pnputil.log");
        SetEnvironmentVariableA("PNPUTIL_LOG", nullptr);
    }

private:
    std::string installed_;
};

struct Totals {
    int points = 0;
    int runs = 0;
    int passed = 0;
};

class FaultSweep {
public:
    explicit FaultSweep(OsClass osClass) : osClass_(osClass) {}

    // One run; an empty function name runs without a fault and records sites.
    std::vector<std::string> Run(const std::string& function, void* site, DWORD error)
    {
        std::vector<std::string> problems;
        install_.Clean();
        std::string seedProblem;
        if (!install_.Seed(&seedProblem)) return {seedProblem};
        faults::Snapshot before = install_.Take();

        state.recording = function.empty();
        state.targetFunction = function;
        state.targetSite = site;
        state.fired = false;
        state.open.clear();
        state.strayCloses.clear();
        BoxRecorder boxes;
        watchdog_.Start(function.empty() ? "clean run" : function + SiteName(site));
        state.armed = true;
        RunRemoval(osClass_);
        state.armed = false;

        faults::Snapshot after = install_.Take();
        if (!function.empty() && !state.fired) problems.push_back("the site was not reached again");
        boxesShown_ += static_cast<int>(boxes.Count());
        const size_t allowedBoxes = function.empty() ? 0 : 1;
        if (boxes.Count() > allowedBoxes) problems.push_back("boxes: " + boxes.Describe());
        for (const RecordedBox& box : boxes.Boxes()) {
            if (box.caption != "Error" || box.style != MB_ICONERROR || box.owner != nullptr ||
                box.text != SystemMessage(error))
                problems.push_back("not the system's box for the injected error: " + boxes.Describe());
        }
        for (const auto& [handle, kind] : state.open) problems.push_back("left open: " + kind);
        for (const std::string& kind : state.strayCloses) problems.push_back("closed without opening: " + kind);
        for (const std::string& change : install_.ForeignChanges(before, after)) problems.push_back(change);
        if (function.empty()) ExpectPhoneGone(after, problems);
        return problems;
    }

    Totals Sweep()
    {
        std::map<std::string, DWORD> errors;
        Hooks hooks = InstallHooks(errors);
        state.sites.clear();
        state.opened.clear();
        state.closed.clear();
        Totals totals;
        std::vector<std::string> problems = Run("", nullptr, 0);
        EXPECT_TRUE(problems.empty()) << "clean run:\n" << Join(problems);
        EXPECT_FALSE(state.sites.empty());
        for (const auto& [function, sites] : state.sites) {
            for (void* site : sites) {
                ++totals.points;
                ++totals.runs;
                problems = Run(function, site, errors[function]);
                if (problems.empty()) {
                    ++totals.passed;
                } else {
                    ADD_FAILURE() << "OsClass " << osClass_ << ", " << function << SiteName(site) << " failing once:\n"
                                  << Join(problems);
                }
            }
        }
        install_.Clean();
        printf("fault sweep OsClass %d: %d fault points in %zu functions, %d runs, %d passed; "
               "%d runs showed the error's box, the others failed silently\n",
               osClass_, totals.points, state.sites.size(), totals.runs, totals.passed, boxesShown_);
        for (const auto& [function, sites] : state.sites) printf("  %s: %zu\n", function.c_str(), sites.size());
        for (const auto& [function, error] : errors)
            if (!state.sites.count(function)) printf("  %s: not reached\n", function.c_str());
        for (const auto& [kind, count] : state.opened)
            printf("  %s: %d opened, %d closed\n", kind.c_str(), count, state.closed[kind]);
        fflush(stdout);
        return totals;
    }

private:
    static std::string Join(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines) text += "  " + line + "\n";
        return text;
    }

    // The clean run removes what the road of its Windows family removes.
    void ExpectPhoneGone(const faults::Snapshot& after, std::vector<std::string>& problems)
    {
        const std::string windows = faults::detail::Lower(install_.WindowsDir());
        std::vector<std::string> keys = {"K SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1B3F&PID_5C13",
                                         "K SYSTEM\\CurrentControlSet\\Services\\TVybus"};
        std::vector<std::string> files = {windows + "\\system32\\drivers\\tvybus.sys",
                                          windows + "\\system32\\drivers\\tvymdm.sys", windows + "\\inf\\oem7.inf",
                                          windows + "\\inf\\oem30.inf"};
        if (osClass_ != OsWinVista) {
            keys.insert(keys.end(), {"K SYSTEM\\ControlSet001\\Enum\\USB\\VID_1B3F&PID_5C13",
                                     "K SYSTEM\\ControlSet002\\Enum\\USB\\VID_1B3F&PID_5C13&Mi_05",
                                     std::string("K SYSTEM\\ControlSet001\\Control\\Class\\") + faults::kModem + "\\0003",
                                     "K SYSTEM\\ControlSet002\\Services\\TVymdm",
                                     std::string("V ") + faults::kPortsKey + "\tCOM12:",
                                     std::string("V ") + faults::kLastGoodKey + "\tINF\\OEM12.INF",
                                     std::string("K ") + faults::kUnimodemKey + "\\" + faults::kPhoneModemKey});
            files.insert(files.end(), {windows + "\\lastgood\\inf\\oem12.pnf",
                                       windows + "\\lastgood\\system32\\drivers\\tvywhnt.sys"});
        }
        for (const std::string& key : keys)
            if (after.registry.count(key)) problems.push_back("clean run left " + key);
        for (const std::string& file : files)
            if (after.files.count(file)) problems.push_back("clean run left " + file);
        auto flag = after.registry.find(std::string("V ") + faults::kProductKey + "\tInstallFlag");
        if (flag == after.registry.end() || flag->second.substr(flag->second.size() - 11) != "\t4\t00000000")
            problems.push_back("InstallFlag not reset");
    }

    OsClass osClass_;
    int boxesShown_ = 0;
    faults::Installation install_;
    Watchdog watchdog_;
};

void Report(const char* name, const Totals& totals)
{
    testing::Test::RecordProperty(std::string(name) + "_fault_points", totals.points);
    testing::Test::RecordProperty(std::string(name) + "_runs_passed", totals.passed);
}

TEST(FaultSweep, WindowsXpRemovalSurvivesEveryFailingCallSite)
{
    FaultSweep sweep(OsWinXP);
    Totals totals = sweep.Sweep();
    Report("xp", totals);
    EXPECT_GT(totals.points, 40);
    EXPECT_EQ(totals.runs, totals.passed);
}

TEST(FaultSweep, Nt6RemovalSurvivesEveryFailingCallSite)
{
    PackageTool tool;
    FaultSweep sweep(OsWinVista);
    Totals totals = sweep.Sweep();
    Report("nt6", totals);
    EXPECT_GT(totals.points, 15);
    EXPECT_EQ(totals.runs, totals.passed);
}

}  // namespace
