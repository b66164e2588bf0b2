// robot.exe, the tests' hands on a Wine machine: seeds and exports the registry and drives Quellin9.exe as a
// user and Plug and Play would. robot.exe seed <seed file> | export <output file> <HKLM path>... | close-launcher
//   robot.exe [run <exe> [program arguments...] --] <step>...   ("run" starts instance 1)
// Steps print "key=value" lines below their @tag or name, texts in UTF-8 escaped as strings.rc writes them. Exit 0
// when all worked, 1 after "error=<step>: <why>", 2 on misuse; instances left running are reported
// (left_running<n>=1) and ended. Waits last at most 60 s, less once all have ended.
// Steps: box=ok|cancel (tag box<n>), boxes[=<s>] (OK to instance 1's boxes until it ends, at most <s> s apart,
// 90; then as exit), wizard, plug=<0..3> (function n arrives), unplug, press=<id> (2 Cancel, 3 Next or End),
// key=<vk>, close, minimize, start[=<args>], exit[=<n>] (tag exit<n>), nowizard, state, setflag=<InstallFlag>
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/seed.h"

namespace {

using std::string;
using std::to_string;

const char kEnumUsb[] = "System\\CurrentControlSet\\Enum\\USB\\";
const char kProductKey[] = "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K";
const DWORD kWaitMs = 60000;
const std::vector<string> kDialogSteps = {"box", "wizard", "plug", "press", "key", "close", "minimize"};

// What Plug and Play leaves for each of the phone's functions: id, instance, class, port.
const char* const kFunctions[4][4] = {
    {"VID_1B3F&PID_5C13", "TV4170K0001", "USB", nullptr},
    {"VID_1B3F&PID_5C13&Mi_01", "6&2f1c3a0b&0&0001", "Modem", "COM3"},
    {"VID_1B3F&PID_5C13&Mi_03", "6&2f1c3a0b&0&0003", "Ports", "COM4"},
    {"VID_1B3F&PID_5C13&Mi_05", "6&2f1c3a0b&0&0005", "Ports", "COM5"},
};

string exePath;
std::vector<PROCESS_INFORMATION> instances;
int boxCount = 0;

void Print(const string& key, const string& value) { std::printf("%s=%s\n", key.c_str(), value.c_str()); }
bool Fail(const string& step, const string& why) { Print("error", step + ": " + why); return false; }
string Flag(bool value) { return value ? "1" : "0"; }
bool Send(HWND w, UINT msg, WPARAM wp = 0) { return SendMessageTimeoutA(w, msg, wp, 0, SMTO_NORMAL, 10000, nullptr); }

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

bool Ended(const PROCESS_INFORMATION& p) { return WaitForSingleObject(p.hProcess, 0) == WAIT_OBJECT_0; }
bool AllEnded() { return !instances.empty() && std::all_of(instances.begin(), instances.end(), Ended); }

// A shown dialog (of process unless 0) within ms, or none once all have ended; the wizard has bar 1003, a box 0xFFFF.
HWND FindDialog(bool wantWizard, DWORD process = 0, DWORD ms = kWaitMs)
{
    for (DWORD start = GetTickCount();; Sleep(50)) {
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr;) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            bool wanted = GetDlgItem(w, 1003) ? wantWizard : !wantWizard && GetDlgItem(w, 0xFFFF);
            if (wanted && IsWindowVisible(w) && (!process || owner == process)) return w;
        }
        if (GetTickCount() - start >= ms || AllEnded()) return nullptr;
    }
}

// Back only once the box is gone, so that the next search cannot find it again.
bool Answer(const string& step, HWND box, const string& tag, int id)
{
    string key = tag.empty() ? "box" + to_string(++boxCount) : tag;
    Print(key + ".caption", TextOf(box));
    Print(key + ".text", TextOf(GetDlgItem(box, 0xFFFF)));
    Print(key + ".buttons", IsWindowVisible(GetDlgItem(box, IDCANCEL)) ? "OK,Cancel" : "OK");
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    for (DWORD waited = 0; IsWindow(box) && waited < kWaitMs; waited += 20) Sleep(20);
    return !IsWindow(box) || Fail(step, "the box stayed open");
}

// With boxMs, answers the instance's boxes with OK until it ends or none came for boxMs.
bool WaitForExit(const string& step, size_t number, const string& tag, DWORD boxMs = 0)
{
    if (number < 1 || number > instances.size()) return Fail(step, "no such instance");
    while (HWND box = boxMs ? FindDialog(false, instances[number - 1].dwProcessId, boxMs) : nullptr)
        if (!Answer(step, box, "", IDOK)) return false;
    DWORD code = 0;
    if (WaitForSingleObject(instances[number - 1].hProcess, boxMs ? 0 : kWaitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(instances[number - 1].hProcess, &code))
        return Fail(step, "the program did not end");
    Print(tag.empty() ? "exit" + to_string(number) : tag, to_string(code));
    return true;
}

// The font of the program's template 102 in the language Windows picks (the robot runs in the same locale):
// another process's font handle means nothing here.
HFONT DialogFont()
{
    HMODULE exe = LoadLibraryExA(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = exe ? FindResourceA(exe, MAKEINTRESOURCEA(102), reinterpret_cast<LPCSTR>(RT_DIALOG)) : nullptr;
    const WORD* p = found ? static_cast<const WORD*>(LockResource(LoadResource(exe, found))) : nullptr;
    HFONT font = nullptr;
    if (p) {
        p += 9;  // style, extended style, control count, x, y, width, height
        for (int field = 0; field < 3; ++field) p += *p == 0xFFFF ? 2 : wcslen(reinterpret_cast<const wchar_t*>(p)) + 1;
        HDC screen = GetDC(nullptr);  // menu, class, caption passed; the point size, then the face
        font = CreateFontW(-MulDiv(p[0], GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                           DEFAULT_CHARSET, 0, 0, 0, 0, reinterpret_cast<const wchar_t*>(p + 1));
        ReleaseDC(nullptr, screen);
    }
    if (exe) FreeLibrary(exe);
    return font;
}

// Whether a control's text fits it whole: wrapped in the instruction text, on one line in a button.
bool Fits(HWND control, HFONT font, UINT format)
{
    wchar_t text[4096] = L"";
    GetWindowTextW(control, text, 4096);
    RECT box, need = {};
    GetClientRect(control, &box);
    need.right = box.right;
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, font);
    DrawTextW(dc, text, -1, &need, format | DT_CALCRECT | DT_EXPANDTABS);
    ReleaseDC(control, (SelectObject(dc, old), dc));
    return font && need.right + (format & DT_SINGLELINE ? 8 : 0) <= box.right && need.bottom <= box.bottom;
}

void ReportWizard(HWND wizard, HWND focus, const string& tag)
{
    HFONT font = DialogFont();
    Print(tag + ".fits", Flag(Fits(GetDlgItem(wizard, 1000), font, DT_WORDBREAK) &&
                              Fits(GetDlgItem(wizard, 2), font, DT_SINGLELINE) && Fits(GetDlgItem(wizard, 3), font, DT_SINGLELINE)));
    DeleteObject(font);
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
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    Print(tag + ".offcentre", to_string(r.left - (cx - (r.right - r.left)) / 2) + "," +
                                  to_string(r.top - (cy - (r.bottom - r.top)) / 2));
    Print(tag + ".onscreen", Flag(r.left >= 0 && r.top >= 0 && r.right <= cx && r.bottom <= cy));
    // The templates' second control: the instruction text (1000) in 101, the finishing button (3) in 102.
    int second = GetDlgCtrlID(GetWindow(GetWindow(wizard, GW_CHILD), GW_HWNDNEXT));
    Print(tag + ".template", second == 1000 ? "101" : second == 3 ? "102" : "?");
    Print(tag + ".iconic", Flag(IsIconic(wizard)));
    Print(tag + ".foreground", Flag(GetForegroundWindow() == wizard));
}

// arguments: empty, or each one after a space.
bool Start(const string& step, const string& arguments)
{
    string line = "\"" + exePath + "\"" + arguments;
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
    string key = tag.empty() ? name : tag;

    if (name == "boxes") return WaitForExit(step, 1, "", (arg.empty() ? 90 : number) * 1000);
    if (name == "start") return Start(step, arg.empty() ? "" : " " + arg);
    if (name == "exit") return WaitForExit(step, arg.empty() ? 1 : number, tag);
    if (name == "setflag")
        return ApplySeed({"dword\t" + string(kProductKey) + "\tInstallFlag\t" + arg}) == 0 || Fail(step, "not written");
    if (name == "unplug")
        for (const auto& f : kFunctions) RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kEnumUsb + string(f[0])).c_str());
    if (name == "nowizard") Print(key, Flag(FindDialog(true, 0, 0) == nullptr));
    if (name == "state") {
        DWORD flag = 0, size = sizeof(flag);
        bool read = !RegGetValueA(HKEY_LOCAL_MACHINE, kProductKey, "InstallFlag", RRF_RT_REG_DWORD, 0, &flag, &size);
        Print(key + ".flag", read ? to_string(flag) : "absent");
        string phone;
        for (const auto& f : kFunctions) phone += Flag(!ExportRegistry({kEnumUsb + string(f[0])}).empty());
        Print(key + ".phone", phone);
    }
    if (name == "unplug" || name == "nowizard" || name == "state") return true;
    if (!std::count(kDialogSteps.begin(), kDialogSteps.end(), name)) return Fail(step, "unknown step");
    if (name == "box" && arg != "ok" && arg != "cancel") return Fail(step, "answer ok or cancel");
    if (name == "plug" && (arg.empty() || number < 0 || number > 3)) return Fail(step, "plug=0..3");

    HWND dialog = FindDialog(name != "box");
    if (!dialog) return Fail(step, name == "box" ? "no message box appeared" : "no wizard appeared");
    if (name == "box") return Answer(step, dialog, tag, arg == "ok" ? IDOK : IDCANCEL);
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
    if (name == "wizard") ReportWizard(dialog, gui.hwndFocus, key);
    if (name == "plug") {
        const char* const* f = kFunctions[number];
        string path = kEnumUsb + string(f[0]) + "\\" + f[1];
        std::vector<string> lines = {"sz\t" + path + "\tClass\t" + f[2]};
        if (f[3]) lines.push_back("sz\t" + path + "\\Device Parameters\tPortName\t" + f[3]);
        if (ApplySeed(lines) || !Send(dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED))
            return Fail(step, "cannot write the device keys, or the wizard did not answer WM_DEVICECHANGE");
    }
    if (name == "press")
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(number, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, number)));
    HWND focus = gui.hwndFocus ? gui.hwndFocus : dialog;
    if (name == "key") PostMessageA(focus, WM_KEYDOWN, number, 1);
    if (name == "key") PostMessageA(focus, WM_KEYUP, number, 0xC0000001);
    if (name == "close") Send(dialog, WM_CLOSE);
    if (name == "minimize") ShowWindowAsync(dialog, SW_MINIMIZE);
    // Back once the wizard has handled what was posted or sent, the minimising too: the second WM_NULL waits.
    for (int i = 0; i < 2; ++i) Send(dialog, WM_NULL);
    return true;
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
    // Either window's WM_CLOSE ends the launcher stand-in.
    if (verb == "close-launcher") return !PostMessageA(FindWindowA("QuellinLauncherStandIn", nullptr), WM_CLOSE, 0, 0);
    bool ok = true;
    int first = 1;
    if (verb == "run" && argc > 2) {
        exePath = argv[2];
        string arguments;
        for (first = 3; first < argc && string(argv[first]) != "--"; ++first) arguments += " " + string(argv[first]);
        if (first++ == argc) return 2;  // no "--"
        ok = Start("run", arguments);
    }
    for (int i = first; ok && i < argc; ++i) ok = RunStep(argv[i]);

    // Whatever is still running now would outlive the test.
    for (size_t i = 0; i < instances.size(); ++i) {
        if (!Ended(instances[i])) Print("left_running" + to_string(i + 1), "1");
        TerminateProcess(instances[i].hProcess, 1);
        WaitForSingleObject(instances[i].hProcess, 5000);
    }
    return ok ? 0 : 1;
}
