// bench_count.exe: counts the registry calls of one in-process removal by
// replacing the registry functions in this program's import table (the
// product library linked in calls through the same table).
//
//   bench_count.exe program     RunRemoval(12), the Windows XP removal
//   bench_count.exe reference   the benchmark's reference removal
//
// Output, one fact a line:
//   time_ms <ms>                   the whole run, in process
//   calls <function> <n>           per registry function called
//   calls_total <n>
//   devices_listed <n>             devices handed out by SetupDiEnumDeviceInfo
//   listing_ms <ms>                time from each device listing's start to its end
//   step <name> <ms> <calls>       the reference's phases
//   box <caption> <tab> <text>     a message box, answered with OK
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <list>
#include <string>

#include "reference.h"
#include "removal/removal.h"
#include "shell/app.h"
#include "shell/config.h"
#include "shell/osclass.h"
#include "support/import_patch.h"

namespace {

std::list<ImportPatch> patches;
unsigned long long totalCalls, devicesListed;
LARGE_INTEGER listingStart, phaseStart;
double listingMs;
unsigned long long phaseCalls;

double MillisecondsSince(const LARGE_INTEGER& from)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// One registry function: counts its calls and hands them on.
template <int Tag, typename Signature> struct Counter;
template <int Tag, typename R, typename... A>
struct Counter<Tag, R(WINAPI*)(A...)> {
    static inline R(WINAPI* original)(A...);
    static inline const char* name;
    static inline unsigned long long calls;
    static R WINAPI Count(A... args)
    {
        ++calls, ++totalCalls;
        return original(args...);
    }
    static void Install(const char* function)
    {
        name = function;
        original = reinterpret_cast<decltype(original)>(
            patches.emplace_back("advapi32.dll", function, reinterpret_cast<void*>(&Count)).Original());
    }
    static void Print()
    {
        if (calls) std::printf("calls %s %llu\n", name, calls);
    }
};
struct Row { void (*install)(const char*); void (*print)(); const char* name; };
template <typename C> constexpr Row MakeRow(const char* name) { return {&C::Install, &C::Print, name}; }
#define COUNT(fn) MakeRow<Counter<__COUNTER__, decltype(&fn)>>(#fn)
const Row kRows[] = {
    COUNT(RegOpenKeyExA),     COUNT(RegCloseKey),       COUNT(RegQueryValueExA), COUNT(RegQueryInfoKeyA),
    COUNT(RegEnumKeyExA),     COUNT(RegEnumValueA),     COUNT(RegSetValueExA),   COUNT(RegDeleteKeyA),
    COUNT(RegDeleteValueA),   COUNT(RegDeleteTreeA),    COUNT(RegGetKeySecurity), COUNT(RegSetKeySecurity),
    COUNT(RegCreateKeyExA),
};

decltype(&SetupDiEnumDeviceInfo) originalEnumDevice;
decltype(&SetupDiGetClassDevsA) originalListDevices;
decltype(&SetupDiDestroyDeviceInfoList) originalDestroyList;

BOOL WINAPI CountEnumDevice(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device)
{
    BOOL listed = originalEnumDevice(set, index, device);
    devicesListed += listed ? 1 : 0;
    return listed;
}

HDEVINFO WINAPI TimeListDevices(const GUID* cls, PCSTR enumerator, HWND window, DWORD flags)
{
    QueryPerformanceCounter(&listingStart);
    return originalListDevices(cls, enumerator, window, flags);
}

BOOL WINAPI TimeDestroyList(HDEVINFO set)
{
    listingMs += MillisecondsSince(listingStart);
    return originalDestroyList(set);
}

int WINAPI AnswerBox(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    std::string line = text ? text : "";
    for (char& c : line)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    std::printf("box %s\t%s\n", caption ? caption : "", line.c_str());
    return IDOK;
}

void PrintPhase(const char* name)
{
    std::printf("step %s %.1f %llu\n", name, MillisecondsSince(phaseStart), totalCalls - phaseCalls);
    QueryPerformanceCounter(&phaseStart);
    phaseCalls = totalCalls;
}

template <typename F> F Patch(const char* dll, const char* function, F replacement)
{
    return reinterpret_cast<F>(patches.emplace_back(dll, function, reinterpret_cast<void*>(replacement)).Original());
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc == 2 ? argv[1] : "";
    if (mode != "program" && mode != "reference") {
        std::fprintf(stderr, "usage: bench_count.exe program|reference\n");
        return 2;
    }
    // The program's own start-up: record, brand names, placeholders.
    static ApplicationRecord record;
    InitApplication(GetModuleHandleA(nullptr), &record, PROGRAM_TITLE, PROGRAM_CLASS, PROGRAM_MUTEX);
    ReadConfiguration();

    // Each original is taken before any counted call can reach its replacement.
    for (const Row& row : kRows) row.install(row.name);
    originalEnumDevice = Patch("setupapi.dll", "SetupDiEnumDeviceInfo", &CountEnumDevice);
    originalListDevices = Patch("setupapi.dll", "SetupDiGetClassDevsA", &TimeListDevices);
    originalDestroyList = Patch("setupapi.dll", "SetupDiDestroyDeviceInfoList", &TimeDestroyList);
    Patch("user32.dll", "MessageBoxA", &AnswerBox);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    phaseStart = start;
    int result = 0;
    if (mode == "program") {
        RunRemoval(OsWinXP);
    } else {
        result = RunReferenceRemoval(PrintPhase);
    }
    const double ms = MillisecondsSince(start);
    patches.clear();

    std::printf("time_ms %.1f\n", ms);
    for (const Row& row : kRows) row.print();
    std::printf("calls_total %llu\n", totalCalls);
    std::printf("devices_listed %llu\n", devicesListed);
    std::printf("listing_ms %.1f\n", listingMs);
    ReleaseApplication();
    return result == 0 ? 0 : 1;
}
