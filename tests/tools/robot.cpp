// robot.exe: the tests' hands on a Wine machine. It seeds and exports the
// registry and drives Quellin9.exe as a user and Plug and Play would.
//   robot.exe seed <seed file>   apply support/seed.h lines; 1 when one failed
//   robot.exe export <output file> <HKLM path>...   ExportRegistry, one a line
//   robot.exe close-launcher     WM_CLOSE to the launcher stand-in's windows
//   robot.exe [run <exe> [program arguments...] --] <step>...
// "run" starts the program (instance 1), then the steps run in order; "@tag"
// names the keys a step prints. Output: "key=value" lines, texts in UTF-8
// with \n, \r and \\ escaped as the string table's source writes them. Exit
// 0 when every step worked, 1 after "error=<step>: <reason>", 2 on misuse.
// Instances still running at the end are reported (left_running<n>=1) and
// ended. A wait lasts at most 60 s, less once every instance has ended.
//   box=ok|cancel[@tag]  answer the next box; print tag.caption, .text and
//                        .buttons ("OK" or "OK,Cancel"); tag box<n>
//   boxes[=<seconds>]    until instance 1 ends (90 s) answer its boxes with OK,
//                        printing box<n>.caption and .text; then exit1=<code>
//   wizard[@tag]         tag.caption, .text1000, .text1001, .button<2|3>.text,
//                        .enabled, .default, .focus, .progress.pos, .progress.range
//                        ("0..4"), .rect (l,t,r,b), .screen (WxH), .template
//                        (101, 102 or ?), .iconic, .foreground
//   plug=<0..3>          write the keys Plug and Play writes for function n
//                        (composite USB; modem COM3; ports COM4, COM5), then
//                        send WM_DEVICECHANGE to the wizard; unplug deletes them
//   press=<id>, key=<vk> press a wizard button (2 Cancel, 3 Next or End), or type
//                        a key (27 Escape) into its focus; close sends WM_CLOSE
//                        (as a second start does), minimize minimises it
//   start[=<args>]       one more instance; exit[=<n>][@tag] waits for one and
//                        prints tag (exit<n>)=<code>
//   nowizard[@tag]       1 when no wizard is shown; state[@tag]: .flag
//                        (InstallFlag or "absent"), .phone (1/0 per id)
//   setflag=<value>      write InstallFlag, creating the product key; sleep=<ms>
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "support/seed.h"

namespace {

using std::string;
using std::to_string;

const char kEnumUsb[] = "System\\CurrentControlSet\\Enum\\USB\\";
const char kProductKey[] = "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K";
const DWORD kWaitMs = 60000;

// What Plug and Play leaves for each of the phone's functions: id, instance, class, port.
const char* const kFunctions[4][4] = {
    {"VID_1B3F&PID_5C13", "TV4170K0001", "USB", nullptr},
    {"VID_1B3F&PID_5C13&Mi_01", "6&2f1c3a0b&0&0001", "Modem", "COM3"},
    {"VID_1B3F&PID_5C13&Mi_03", "6&2f1c3a0b&0&0003", "Ports", "COM4"},
    {"VID_1B3F&PID_5C13&Mi_05", "6&2f1c3a0b&0&0005", "Ports", "COM5"},
};

string exePath;
std::vector<PROCESS_INFORMATION> instances;
std::set<HWND> answered;
int boxCount = 0;

void Print(const string& key, const string& value) { std::printf("%s=%s\n", key.c_str(), value.c_str()); }
bool Fail(const string& step, const string& why) { Print("error", step + ": " + why); return false; }
string Flag(bool value) { return value ? "1" : "0"; }

string TextOf(HWND window)
{
    wchar_t wide[4096] = L"";
    if (window) GetWindowTextW(window, wide, 4096);
    char utf8[16384] = "";
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof(utf8), nullptr, nullptr);
    string out;
    for (const char* c = utf8; *c; ++c)
        out += *c == '\\' ? "\\\\" : *c == '\n' ? "\\n" : *c == '\r' ? "\\r" : string(1, *c);
    return out;
}

bool Ended(size_t i) { return WaitForSingleObject(instances[i].hProcess, 0) == WAIT_OBJECT_0; }
bool AllEnded()
{
    for (size_t i = 0; i < instances.size(); ++i) if (!Ended(i)) return false;
    return !instances.empty();
}

// A shown dialog (of one process, or of any when 0): the wizard holds the
// progress bar, a message box its text control 0xFFFF.
HWND FindDialog(bool wantWizard, DWORD process = 0)
{
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (!IsWindowVisible(w) || (process && owner != process)) continue;
        bool wizard = GetDlgItem(w, 1003) != nullptr;
        if (wantWizard ? wizard : !wizard && GetDlgItem(w, 0xFFFF) && !answered.count(w)) return w;
    }
    return nullptr;
}

HWND WaitForDialog(const string& step, bool wantWizard)
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        if (HWND found = FindDialog(wantWizard)) return found;
        if (AllEnded()) break;
        Sleep(50);
    }
    Fail(step, wantWizard ? "no wizard appeared" : "no message box appeared");
    return nullptr;
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui);
    return gui.hwndFocus;
}

bool Answer(const string& step, HWND box, const string& tag, int id, bool buttons)
{
    Print(tag + ".caption", TextOf(box));
    Print(tag + ".text", TextOf(GetDlgItem(box, 0xFFFF)));
    if (buttons) Print(tag + ".buttons", IsWindowVisible(GetDlgItem(box, IDCANCEL)) ? "OK,Cancel" : "OK");
    answered.insert(box);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    for (DWORD waited = 0; IsWindow(box) && waited < kWaitMs; waited += 20) Sleep(20);
    return !IsWindow(box) || Fail(step, "the box stayed open");
}

bool WaitForExit(const string& step, size_t number, const string& tag)
{
    if (number < 1 || number > instances.size()) return Fail(step, "no such instance");
    if (WaitForSingleObject(instances[number - 1].hProcess, kWaitMs) != WAIT_OBJECT_0)
        return Fail(step, "the program did not end");
    DWORD code = 0;
    GetExitCodeProcess(instances[number - 1].hProcess, &code);
    Print(tag.empty() ? "exit" + to_string(number) : tag, to_string(code));
    return true;
}

bool Boxes(const string& step, DWORD seconds)
{
    if (instances.empty()) return Fail(step, "no program given with run");
    for (DWORD start = GetTickCount(); !Ended(0); Sleep(50)) {
        if (GetTickCount() - start > seconds * 1000) return Fail(step, "the program did not end");
        if (HWND box = FindDialog(false, instances[0].dwProcessId))
            if (!Answer(step, box, "box" + to_string(++boxCount), IDOK, false)) return false;
    }
    return WaitForExit(step, 1, "");
}

void ReportWizard(HWND wizard, const string& tag)
{
    HWND focus = FocusOf(wizard);
    Print(tag + ".caption", TextOf(wizard));
    for (int id : {1000, 1001}) Print(tag + ".text" + to_string(id), TextOf(GetDlgItem(wizard, id)));
    for (int id : {2, 3}) {
        HWND button = GetDlgItem(wizard, id);
        string key = tag + ".button" + to_string(id);
        Print(key + ".text", TextOf(button));
        Print(key + ".enabled", Flag(IsWindowEnabled(button)));
        Print(key + ".default", Flag((GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON));
        Print(key + ".focus", Flag(focus == button));
    }
    HWND bar = GetDlgItem(wizard, 1003);
    Print(tag + ".progress.pos", to_string(SendMessageA(bar, PBM_GETPOS, 0, 0)));
    Print(tag + ".progress.range", to_string(SendMessageA(bar, PBM_GETRANGE, TRUE, 0)) + ".." +
                                       to_string(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)));
    RECT r;
    GetWindowRect(wizard, &r);
    Print(tag + ".rect", to_string(r.left) + "," + to_string(r.top) + "," + to_string(r.right) + "," +
                             to_string(r.bottom));
    Print(tag + ".screen", to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" + to_string(GetSystemMetrics(SM_CYSCREEN)));
    // The two templates list the same controls in different orders: the
    // second one is the instruction text in 101, the finishing button in 102.
    int second = GetDlgCtrlID(GetWindow(GetWindow(wizard, GW_CHILD), GW_HWNDNEXT));
    Print(tag + ".template", second == 1000 ? "101" : second == 3 ? "102" : "?");
    Print(tag + ".iconic", Flag(IsIconic(wizard)));
    Print(tag + ".foreground", Flag(GetForegroundWindow() == wizard));
}

bool Plug(const string& step, const string& arg)
{
    int index = std::atoi(arg.c_str());
    if (arg.empty() || index < 0 || index > 3) return Fail(step, "plug=0..3");
    const char* const* f = kFunctions[index];
    string path = kEnumUsb + string(f[0]) + "\\" + f[1];
    std::vector<string> lines = {"sz\t" + path + "\tClass\t" + f[2]};
    if (f[3]) lines.push_back("sz\t" + path + "\\Device Parameters\tPortName\t" + f[3]);
    if (ApplySeed(lines)) return Fail(step, "cannot write the device keys");
    HWND wizard = WaitForDialog(step, true);
    DWORD_PTR answer = 0;
    return wizard && (SendMessageTimeoutA(wizard, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_NORMAL, 10000,
                                          &answer) ||
                      Fail(step, "the wizard did not answer WM_DEVICECHANGE"));
}

void ReportState(const string& tag)
{
    DWORD flag = 0, size = sizeof(flag);
    Print(tag + ".flag", RegGetValueA(HKEY_LOCAL_MACHINE, kProductKey, "InstallFlag", RRF_RT_REG_DWORD, nullptr,
                                      &flag, &size) == ERROR_SUCCESS ? to_string(flag) : "absent");
    string phone;
    for (const auto& f : kFunctions) {
        HKEY key = nullptr;
        phone += Flag(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kEnumUsb + string(f[0])).c_str(), 0, KEY_READ, &key) == 0);
        if (key) RegCloseKey(key);
    }
    Print(tag + ".phone", phone);
}

bool Start(const string& step, const string& arguments)
{
    if (exePath.empty()) return Fail(step, "no program given with run");
    string line = "\"" + exePath + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(exePath.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return Fail(step, "cannot start " + exePath + " (error " + to_string(GetLastError()) + ")");
    instances.push_back(process);
    return true;
}

bool RunStep(const string& step)
{
    string name = step.substr(0, step.rfind('@'));
    string tag = name.size() < step.size() ? step.substr(name.size() + 1) : "";
    size_t eq = name.find('=');
    string arg = eq == string::npos ? "" : name.substr(eq + 1);
    name = name.substr(0, eq);
    int number = std::atoi(arg.c_str());
    auto tagOr = [&](const string& fallback) { return tag.empty() ? fallback : tag; };

    if (name == "box") {
        if (arg != "ok" && arg != "cancel") return Fail(step, "answer ok or cancel");
        string boxTag = tagOr("box" + to_string(++boxCount));
        HWND box = WaitForDialog(step, false);
        return box && Answer(step, box, boxTag, arg == "ok" ? IDOK : IDCANCEL, true);
    }
    if (name == "boxes") return Boxes(step, arg.empty() ? 90 : number);
    if (name == "plug") return Plug(step, arg);
    if (name == "unplug") {
        for (const auto& f : kFunctions) RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kEnumUsb + string(f[0])).c_str());
        return true;
    }
    if (name == "wizard" || name == "press" || name == "key" || name == "close" || name == "minimize") {
        HWND wizard = WaitForDialog(step, true);
        if (!wizard) return false;
        if (name == "wizard") ReportWizard(wizard, tagOr("wizard"));
        if (name == "press")
            PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(number, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(wizard, number)));
        HWND focus = FocusOf(wizard) ? FocusOf(wizard) : wizard;
        if (name == "key") PostMessageA(focus, WM_KEYDOWN, number, 1);
        if (name == "key") PostMessageA(focus, WM_KEYUP, number, 0xC0000001);
        DWORD_PTR answer = 0;
        if (name == "close") SendMessageTimeoutA(wizard, WM_CLOSE, 0, 0, SMTO_NORMAL, 10000, &answer);
        if (name == "minimize") ShowWindowAsync(wizard, SW_MINIMIZE);
        for (int i = 0; name == "minimize" && i < 100 && !IsIconic(wizard); ++i) Sleep(20);
        // Back once the wizard has handled what was posted: the second sent
        // message waits behind the posted ones.
        for (int i = 0; i < 2; ++i) SendMessageTimeoutA(wizard, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer);
        return true;
    }
    if (name == "start") return Start(step, arg);
    if (name == "exit") return WaitForExit(step, arg.empty() ? 1 : number, tag);
    if (name == "nowizard") Print(tagOr("nowizard"), Flag(FindDialog(true) == nullptr));
    if (name == "state") ReportState(tagOr("state"));
    if (name == "setflag" && ApplySeed({"dword\t" + string(kProductKey) + "\tInstallFlag\t" + arg}))
        return Fail(step, "cannot write InstallFlag");
    if (name == "sleep") Sleep(static_cast<DWORD>(number));
    return name == "nowizard" || name == "state" || name == "setflag" || name == "sleep" ||
           Fail(step, "unknown step");
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    string verb = argc > 1 ? argv[1] : "";
    if (verb == "seed" && argc == 3) {
        std::vector<string> lines = ReadLines(argv[2]);
        if (lines.empty()) std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return lines.empty() || ApplySeed(lines) ? 1 : 0;
    }
    if (verb == "export" && argc > 3) {
        std::ofstream out(argv[2], std::ios::binary);
        for (const string& line : ExportRegistry(std::vector<string>(argv + 3, argv + argc))) out << line << "\n";
        return out ? 0 : 1;
    }
    if (verb == "close-launcher") {
        const char* standIn = "QuellinLauncherStandIn";
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, standIn, nullptr)) != nullptr;)
            PostMessageA(w, WM_CLOSE, 0, 0);
        return 0;
    }
    int first = 1;
    if (verb == "run" && argc > 2) {
        exePath = argv[2];
        string arguments;
        for (first = 3; first < argc && string(argv[first]) != "--"; ++first)
            arguments += (arguments.empty() ? "" : " ") + string(argv[first]);
        if (first++ == argc) {
            std::fprintf(stderr, "usage: robot.exe [run <exe> [arguments...] --] <step>...\n");
            return 2;
        }
        if (!Start("run", arguments)) first = argc + 1;
    }
    bool ok = first <= argc;
    for (int i = first; ok && i < argc; ++i) ok = RunStep(argv[i]);

    // Whatever is still running now would outlive the test.
    for (size_t i = 0; i < instances.size(); ++i) {
        if (!Ended(i)) {
            Print("left_running" + to_string(i + 1), "1");
            TerminateProcess(instances[i].hProcess, 1);
            WaitForSingleObject(instances[i].hProcess, 5000);
        }
        CloseHandle(instances[i].hThread);
        CloseHandle(instances[i].hProcess);
    }
    return ok ? 0 : 1;
}
