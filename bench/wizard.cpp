// bench_wizard.exe <program>
// Starts the program without switches, answers its notice with OK and waits
// for the wizard. Then:
//   1. idle: prints "idle_start", waits 10 s without sending anything, prints
//      "idle_end" (the driver reads the process's CPU times from /proc at
//      these two lines) and the CPU time GetProcessTimes reports;
//   2. notifications: plugs the phone's functions one by one (the device
//      keys Plug and Play writes), posts one WM_DEVICECHANGE for each and
//      polls PBM_GETPOS until the bar shows the new position;
//      before the last function, times 20 synchronous WM_DEVICECHANGE round
//      trips (the check of three present functions);
//   3. presses the finishing button and waits for the program to end.
// Prints "key value" lines; exit code 0 when every step worked.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const DWORD kWaitMs = 60000;
const int kProgress = 1003;
const int kFinish = 3;
const char kEnumUsb[] = "System\\CurrentControlSet\\Enum\\USB";

struct Function {
    const char* id;
    const char* instance;
    const char* deviceClass;
    const char* classGuid;
    const char* port;
};

const Function kFunctions[4] = {
    {"VID_1B3F&PID_5C13", "TV4170K0001", "USB", "{36FC9E60-C465-11CF-8056-444553540000}", nullptr},
    {"VID_1B3F&PID_5C13&Mi_01", "6&2f1c3a0b&0&0001", "Modem", "{4D36E96D-E325-11CE-BFC1-08002BE10318}", "COM3"},
    {"VID_1B3F&PID_5C13&Mi_03", "6&2f1c3a0b&0&0003", "Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}", "COM4"},
    {"VID_1B3F&PID_5C13&Mi_05", "6&2f1c3a0b&0&0005", "Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}", "COM5"},
};

PROCESS_INFORMATION program;
LARGE_INTEGER frequency;

double Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Print(const char* key, const std::string& value)
{
    std::printf("%s %s\n", key, value.c_str());
    std::fflush(stdout);
}

void Print(const char* key, double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%.3f", value);
    Print(key, std::string(text));
}

int Fail(const std::string& reason)
{
    Print("error", reason);
    TerminateProcess(program.hProcess, 1);
    return 1;
}

// A visible dialog of the program: the wizard holds the progress bar.
HWND FindDialog(bool wizard)
{
    for (HWND window = FindWindowExA(nullptr, nullptr, "#32770", nullptr); window;
         window = FindWindowExA(nullptr, window, "#32770", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != program.dwProcessId || !IsWindowVisible(window)) continue;
        bool isWizard = GetDlgItem(window, kProgress) != nullptr;
        if (isWizard == wizard) return window;
    }
    return nullptr;
}

HWND WaitForDialog(bool wizard)
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        HWND found = FindDialog(wizard);
        if (found) return found;
        Sleep(50);
    }
    return nullptr;
}

double CpuMs(HANDLE process)
{
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    ULARGE_INTEGER k;
    ULARGE_INTEGER u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

bool SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ)
{
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool Plug(const Function& f)
{
    std::string path = std::string(kEnumUsb) + "\\" + f.id + "\\" + f.instance;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    std::string hardwareIds = std::string("USB\\") + f.id + '\0' + '\0';
    bool ok = SetText(key, "Class", f.deviceClass) && SetText(key, "ClassGUID", f.classGuid) &&
              SetText(key, "HardwareID", hardwareIds, REG_MULTI_SZ);
    if (ok && f.port) {
        HKEY parameters = nullptr;
        ok = RegCreateKeyExA(key, "Device Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parameters,
                             nullptr) == ERROR_SUCCESS;
        if (ok) {
            ok = SetText(parameters, "PortName", f.port);
            RegCloseKey(parameters);
        }
    }
    RegCloseKey(key);
    return ok;
}

void Unplug()
{
    for (const Function& f : kFunctions)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kEnumUsb) + "\\" + f.id).c_str());
}

LRESULT Position(HWND bar)
{
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, 10000, &position)) return -1;
    return static_cast<LRESULT>(position);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_wizard.exe <program>\n");
        return 2;
    }
    QueryPerformanceFrequency(&frequency);
    Unplug();  // nothing of the phone before the start
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(argv[1], line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &program)) {
        Print("error", "cannot start the program");
        return 1;
    }
    CloseHandle(program.hThread);

    HWND notice = WaitForDialog(false);
    if (!notice) return Fail("no notice");
    Sleep(200);
    PostMessageA(notice, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(notice, IDOK)));
    HWND wizard = WaitForDialog(true);
    if (!wizard) return Fail("no wizard");
    HWND bar = GetDlgItem(wizard, kProgress);
    Print("wizard_ready", std::string("1"));
    Sleep(1000);  // let it finish painting

    // 1. Waiting without notifications.
    double cpuBefore = CpuMs(program.hProcess);
    Print("idle_start", Now());
    Sleep(10000);
    Print("idle_end", Now());
    double cpuAfter = CpuMs(program.hProcess);
    Print("idle_cpu_ms_getprocesstimes", cpuAfter - cpuBefore);
    Print("cpu_total_ms_getprocesstimes", cpuAfter);

    // 2. One notification per plugged function.
    for (int k = 0; k < 4; ++k) {
        if (k == 3) {
            std::vector<double> trips;
            for (int i = 0; i < 20; ++i) {
                double start = Now();
                DWORD_PTR answer = 0;
                if (!SendMessageTimeoutA(wizard, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_NORMAL, 10000,
                                         &answer))
                    return Fail("no answer to WM_DEVICECHANGE");
                trips.push_back(Now() - start);
            }
            std::sort(trips.begin(), trips.end());
            Print("roundtrip_median_ms", trips[trips.size() / 2]);
            Print("roundtrip_max_ms", trips.back());
        }
        if (!Plug(kFunctions[k])) return Fail("cannot write the device keys");
        double start = Now();
        PostMessageA(wizard, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        LRESULT position = -1;
        int polls = 0;
        while ((position = Position(bar)) != k + 1) {
            ++polls;
            if (position < 0 || Now() - start > 10000) return Fail("the bar did not move to " + std::to_string(k + 1));
        }
        char key[32];
        std::snprintf(key, sizeof(key), "latency_ms_%d", k + 1);
        Print(key, Now() - start);
        std::snprintf(key, sizeof(key), "polls_%d", k + 1);
        Print(key, std::to_string(polls));
    }

    // 3. Finish.
    bool enabled = IsWindowEnabled(GetDlgItem(wizard, kFinish)) != FALSE;
    Print("finish_enabled", std::string(enabled ? "1" : "0"));
    PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(kFinish, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(wizard, kFinish)));
    if (WaitForSingleObject(program.hProcess, kWaitMs) != WAIT_OBJECT_0) return Fail("the program did not end");
    DWORD code = 0;
    GetExitCodeProcess(program.hProcess, &code);
    Print("exit", std::to_string(code));
    CloseHandle(program.hProcess);
    Unplug();
    return enabled ? 0 : 1;
}
