// bench_count.exe: counts the registry calls of one in-process removal by
// replacing the registry functions in this program's import table (the
// product library linked in calls through the same table).
//
//   bench_count.exe program     RunRemoval(12), the Windows XP removal
//   bench_count.exe steps       the same steps one by one (the order of the
//                               XP removal and of its registry purge), with
//                               calls and time per step
//   bench_count.exe reference   the benchmark's reference removal
//
// Output, one fact a line:
//   time_ms <ms>                   the whole run, in process
//   calls <function> <n>           per registry function called
//   calls_total <n>
//   devices_listed <n>             devices handed out by SetupDiEnumDeviceInfo
//   step <name> <ms> <calls>       (steps, and the reference's phases)
//   box <caption> <tab> <text>     a message box, answered with OK
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "reference.h"
#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "removal/removal.h"
#include "resources/ids.h"
#include "shell/app.h"
#include "shell/config.h"
#include "shell/osclass.h"
#include "shell/paths.h"
#include "shell/text.h"
#include "staging/inf_stager.h"
#include "support/import_patch.h"

namespace {

enum Counted {
    kRegOpenKeyExA,
    kRegCloseKey,
    kRegQueryValueExA,
    kRegQueryInfoKeyA,
    kRegEnumKeyExA,
    kRegEnumValueA,
    kRegSetValueExA,
    kRegDeleteKeyA,
    kRegDeleteValueA,
    kRegDeleteTreeA,
    kRegGetKeySecurity,
    kRegSetKeySecurity,
    kRegCreateKeyExA,
    kCountedFunctions
};

const char* const kNames[kCountedFunctions] = {
    "RegOpenKeyExA",  "RegCloseKey",     "RegQueryValueExA", "RegQueryInfoKeyA",  "RegEnumKeyExA",
    "RegEnumValueA",  "RegSetValueExA",  "RegDeleteKeyA",    "RegDeleteValueA",   "RegDeleteTreeA",
    "RegGetKeySecurity", "RegSetKeySecurity", "RegCreateKeyExA"};

unsigned long long counts[kCountedFunctions];
void* originals[kCountedFunctions];
unsigned long long devicesListed;
void* originalEnumDevice;

template <typename F>
F Original(Counted which)
{
    return reinterpret_cast<F>(originals[which]);
}

LONG WINAPI CountOpen(HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e)
{
    ++counts[kRegOpenKeyExA];
    return Original<decltype(&RegOpenKeyExA)>(kRegOpenKeyExA)(a, b, c, d, e);
}
LONG WINAPI CountClose(HKEY a)
{
    ++counts[kRegCloseKey];
    return Original<decltype(&RegCloseKey)>(kRegCloseKey)(a);
}
LONG WINAPI CountQueryValue(HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f)
{
    ++counts[kRegQueryValueExA];
    return Original<decltype(&RegQueryValueExA)>(kRegQueryValueExA)(a, b, c, d, e, f);
}
LONG WINAPI CountQueryInfo(HKEY a, LPSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f, LPDWORD g, LPDWORD h,
                           LPDWORD i, LPDWORD j, LPDWORD k, PFILETIME l)
{
    ++counts[kRegQueryInfoKeyA];
    return Original<decltype(&RegQueryInfoKeyA)>(kRegQueryInfoKeyA)(a, b, c, d, e, f, g, h, i, j, k, l);
}
LONG WINAPI CountEnumKey(HKEY a, DWORD b, LPSTR c, LPDWORD d, LPDWORD e, LPSTR f, LPDWORD g, PFILETIME h)
{
    ++counts[kRegEnumKeyExA];
    return Original<decltype(&RegEnumKeyExA)>(kRegEnumKeyExA)(a, b, c, d, e, f, g, h);
}
LONG WINAPI CountEnumValue(HKEY a, DWORD b, LPSTR c, LPDWORD d, LPDWORD e, LPDWORD f, LPBYTE g, LPDWORD h)
{
    ++counts[kRegEnumValueA];
    return Original<decltype(&RegEnumValueA)>(kRegEnumValueA)(a, b, c, d, e, f, g, h);
}
LONG WINAPI CountSetValue(HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f)
{
    ++counts[kRegSetValueExA];
    return Original<decltype(&RegSetValueExA)>(kRegSetValueExA)(a, b, c, d, e, f);
}
LONG WINAPI CountDeleteKey(HKEY a, LPCSTR b)
{
    ++counts[kRegDeleteKeyA];
    return Original<decltype(&RegDeleteKeyA)>(kRegDeleteKeyA)(a, b);
}
LONG WINAPI CountDeleteValue(HKEY a, LPCSTR b)
{
    ++counts[kRegDeleteValueA];
    return Original<decltype(&RegDeleteValueA)>(kRegDeleteValueA)(a, b);
}
LONG WINAPI CountDeleteTree(HKEY a, LPCSTR b)
{
    ++counts[kRegDeleteTreeA];
    return Original<decltype(&RegDeleteTreeA)>(kRegDeleteTreeA)(a, b);
}
LONG WINAPI CountGetSecurity(HKEY a, SECURITY_INFORMATION b, PSECURITY_DESCRIPTOR c, LPDWORD d)
{
    ++counts[kRegGetKeySecurity];
    return Original<decltype(&RegGetKeySecurity)>(kRegGetKeySecurity)(a, b, c, d);
}
LONG WINAPI CountSetSecurity(HKEY a, SECURITY_INFORMATION b, PSECURITY_DESCRIPTOR c)
{
    ++counts[kRegSetKeySecurity];
    return Original<decltype(&RegSetKeySecurity)>(kRegSetKeySecurity)(a, b, c);
}
LONG WINAPI CountCreateKey(HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g,
                           PHKEY h, LPDWORD i)
{
    ++counts[kRegCreateKeyExA];
    return Original<decltype(&RegCreateKeyExA)>(kRegCreateKeyExA)(a, b, c, d, e, f, g, h, i);
}

void* const kReplacements[kCountedFunctions] = {
    reinterpret_cast<void*>(CountOpen),        reinterpret_cast<void*>(CountClose),
    reinterpret_cast<void*>(CountQueryValue),  reinterpret_cast<void*>(CountQueryInfo),
    reinterpret_cast<void*>(CountEnumKey),     reinterpret_cast<void*>(CountEnumValue),
    reinterpret_cast<void*>(CountSetValue),    reinterpret_cast<void*>(CountDeleteKey),
    reinterpret_cast<void*>(CountDeleteValue), reinterpret_cast<void*>(CountDeleteTree),
    reinterpret_cast<void*>(CountGetSecurity), reinterpret_cast<void*>(CountSetSecurity),
    reinterpret_cast<void*>(CountCreateKey)};

BOOL WINAPI CountEnumDevice(HDEVINFO a, DWORD b, PSP_DEVINFO_DATA c)
{
    BOOL listed = reinterpret_cast<decltype(&SetupDiEnumDeviceInfo)>(originalEnumDevice)(a, b, c);
    if (listed) ++devicesListed;
    return listed;
}

int WINAPI AnswerBox(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    std::string line = text ? text : "";
    for (char& c : line)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    std::printf("box %s\t%s\n", caption ? caption : "", line.c_str());
    return IDOK;
}

unsigned long long TotalCalls()
{
    unsigned long long total = 0;
    for (unsigned long long n : counts) total += n;
    return total;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The XP removal step by step, in RemovePreviousInstallation's order, with
// the purge split into its sweeps in PurgeAll's order.
struct Step {
    const char* name;
    void (*run)();
};

const OsClass kXp = OsWinXP;
const int kSets = 3;

bool DevicePath(UINT id, const char* identifier, char (&path)[PATH_BUFFER])
{
    path[0] = '\0';
    return LoadText(id, path) != 0 && AddBackslash(path, sizeof(path)) && AppendString(identifier, path) != 0;
}

const Step kSteps[] = {
    {"install_flag", [] { ResetInstallFlag(); }},
    {"inf_and_driver_files", [] { DriverRemover(kXp).RemoveInfsAndFiles(); }},
    {"modem_devices", [] { RemoveModemDevices(MODEM_DESCRIPTION, PHONE_ID); }},
    {"usb_device", [] { RemoveUsbDevice(PHONE_ID); }},
    {"services", [] {
         for (const char* name : driverServiceNames) DeleteDriverService(name);
     }},
    {"purge_ports", [] {
         RegistryPurger purger(kXp);
         for (int i = 1; i < 4; ++i)
             for (int set = 0; set < kSets; ++set)
                 purger.ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB + set, phoneIds[i], IDS_CONTROL + set);
     }},
    {"purge_cs002_services", [] {
         RegistryPurger purger(kXp);
         for (const char* service : driverServiceNames)
             purger.DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_SERVICES_CS002, service);
     }},
    {"purge_lastgood", [] {
         RegistryPurger purger(kXp);
         RegistryAccessor accessor(kXp);
         for (const char* id : phoneIds) {
             char infName[PATH_BUFFER] = {0};
             char path[PATH_BUFFER];
             if (!DevicePath(IDS_ENUM_USB, id, path)) continue;
             if (accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, path, infName) == 1 && infName[0] != '\0')
                 purger.DeleteMatchingValuesById(HKEY_LOCAL_MACHINE, IDS_LASTGOOD, infName);
         }
     }},
    {"purge_interfaces", [] {
         RegistryPurger purger(kXp);
         for (int set = 0; set < kSets; ++set)
             purger.PurgeDeviceInterfaces(HKEY_LOCAL_MACHINE, IDS_DEVICE_CLASSES + set, phoneIds, PHONE_ID_COUNT);
     }},
    {"purge_driver_keys", [] {
         RegistryPurger purger(kXp);
         for (const char* id : phoneIds)
             for (int set = 0; set < kSets; ++set) {
                 char path[PATH_BUFFER];
                 if (DevicePath(IDS_ENUM_USB + set, id, path))
                     purger.PurgeDriverKeysById(HKEY_LOCAL_MACHINE, path, IDS_CONTROL_CLASS + set);
             }
     }},
    {"purge_device_keys", [] {
         RegistryPurger purger(kXp);
         for (const char* id : phoneIds)
             for (int set = 0; set < kSets; ++set) purger.DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_ENUM_USB + set, id);
     }},
    {"purge_modem_entry", [] { RegistryPurger(kXp).DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_UNIMODEM, MODEM_UNIMODEM_KEY); }},
    {"stale_oem_infs", [] { InfStager(kXp).RemoveStaleOemInfs(); }},
    {"launcher", [] { NotifyLauncherWindows(); }},
};

LARGE_INTEGER phaseStart;
unsigned long long phaseCalls;

void PrintPhase(const char* name)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::printf("step %s %.1f %llu\n", name, Milliseconds(phaseStart, now), TotalCalls() - phaseCalls);
    phaseStart = now;
    phaseCalls = TotalCalls();
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc == 2 ? argv[1] : "";
    if (mode != "program" && mode != "steps" && mode != "reference") {
        std::fprintf(stderr, "usage: bench_count.exe program|steps|reference\n");
        return 2;
    }
    // The program's own start-up: record, brand names, placeholders.
    static ApplicationRecord record;
    InitApplication(GetModuleHandleA(nullptr), &record, PROGRAM_TITLE, PROGRAM_CLASS, PROGRAM_MUTEX);
    ReadConfiguration();

    std::vector<std::unique_ptr<ImportPatch>> patches;
    // Each original is taken before any counted call can reach its replacement.
    for (int i = 0; i < kCountedFunctions; ++i) {
        patches.emplace_back(new ImportPatch("advapi32.dll", kNames[i], kReplacements[i]));
        originals[i] = patches.back()->Original();
    }
    patches.emplace_back(new ImportPatch("setupapi.dll", "SetupDiEnumDeviceInfo", reinterpret_cast<void*>(CountEnumDevice)));
    originalEnumDevice = patches.back()->Original();
    patches.emplace_back(new ImportPatch("user32.dll", "MessageBoxA", reinterpret_cast<void*>(AnswerBox)));

    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    int result = 0;
    if (mode == "program") {
        RunRemoval(kXp);
    } else if (mode == "reference") {
        phaseStart = start;
        phaseCalls = 0;
        result = RunReferenceRemoval(PrintPhase);
    } else {
        for (const Step& step : kSteps) {
            unsigned long long before = TotalCalls();
            LARGE_INTEGER stepStart;
            LARGE_INTEGER stepEnd;
            QueryPerformanceCounter(&stepStart);
            step.run();
            QueryPerformanceCounter(&stepEnd);
            std::printf("step %s %.1f %llu\n", step.name, Milliseconds(stepStart, stepEnd), TotalCalls() - before);
        }
    }
    QueryPerformanceCounter(&end);
    patches.clear();

    std::printf("time_ms %.1f\n", Milliseconds(start, end));
    for (int i = 0; i < kCountedFunctions; ++i)
        if (counts[i]) std::printf("calls %s %llu\n", kNames[i], counts[i]);
    std::printf("calls_total %llu\n", TotalCalls());
    std::printf("devices_listed %llu\n", devicesListed);
    ReleaseApplication();
    return result == 0 ? 0 : 1;
}
