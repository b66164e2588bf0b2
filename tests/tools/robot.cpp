// robot.exe: drives Quellin9.exe for the process-level tests the way a user
// and Plug and Play would, and prints what it sees.
//
//   robot.exe [run <exe> [program arguments...] --] <step>...
//
// "run" starts the program (instance 1); the steps follow in order, one
// argument each; "@tag" at the end names the keys a step prints. Output is
// one "key=value" line per fact; texts are UTF-8 with \n, \r and \\ for a
// line feed, a carriage return and a backslash, as the string table's source
// writes them. Exit code 0 when every step worked; 1 after an
// "error=<step>: <reason>" line; 2 for a usage error. Instances still running
// at the end are reported as left_running<n>=1 and ended.
//
// Steps (each wait is at most 60 s):
//   box=ok|cancel[@tag]  wait for the next message box, print tag.caption,
//                        tag.text, tag.buttons ("OK" or "OK,Cancel"), answer
//                        it and wait until it is gone. Default tag box<n>.
//   wizard[@tag]         wait for the wizard and print tag.caption, .text1000,
//                        .text1001, .button<n>.text/.enabled/.default/.focus
//                        for n = 2 (Cancel) and 3 (Next or End),
//                        .progress.pos, .progress.range ("0..4"), .rect
//                        (left,top,right,bottom), .screen (WxH), .template
//                        (101, 102 or ?, from the client size in the Cancel
//                        button's dialog units), .iconic, .foreground.
//   plug=<n>             write the keys Plug and Play writes for function n
//                        (0 the composite device, class USB; 1 the modem on
//                        COM3; 2 and 3 ports on COM4 and COM5) below
//                        HKLM\System\CurrentControlSet\Enum\USB, then send
//                        WM_DEVICECHANGE to the wizard.
//   unplug               delete the device keys of the phone's four ids.
//   press=<id>           press wizard button <id> (2 Cancel, 3 Next or End).
//   close, minimize      send WM_CLOSE to the wizard (as a second start
//                        does), or minimise it.
//   start[=<args>]       start one more instance with <args> (one argument).
//   exit[=<n>][@tag]     wait for instance n (default 1) to end; print
//                        tag=<exit code> (default exit<n>).
//   nowizard[@tag]       print tag=1 when no wizard is shown, else 0.
//   state[@tag]          print tag.flag (InstallFlag, or "absent") and
//                        tag.phone (1 or 0 per id for its device keys).
//   setflag=<value>      write InstallFlag, creating the product key.
//   shot=<file.bmp>      save the screen as a 24-bit BMP (a Windows path).
//   sleep=<ms>           wait.
//
// Example: robot.exe run Z:\q\Setup\Quellin9.exe /I -- box=ok@notice wizard
//              plug=0 plug=1 plug=2 plug=3 wizard@done press=3 exit
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

const char kEnumUsb[] = "System\\CurrentControlSet\\Enum\\USB\\";
const char kProductKey[] = "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K";
const DWORD kWaitMs = 60000;

// What Plug and Play leaves for each of the phone's functions.
const struct {
    const char* id;
    const char* instance;
    const char* deviceClass;
    const char* port;
} kFunctions[4] = {
    {"VID_1B3F&PID_5C13", "TV4170K0001", "USB", nullptr},
    {"VID_1B3F&PID_5C13&Mi_01", "6&2f1c3a0b&0&0001", "Modem", "COM3"},
    {"VID_1B3F&PID_5C13&Mi_03", "6&2f1c3a0b&0&0003", "Ports", "COM4"},
    {"VID_1B3F&PID_5C13&Mi_05", "6&2f1c3a0b&0&0005", "Ports", "COM5"},
};

std::string exePath;
std::vector<PROCESS_INFORMATION> instances;
std::set<HWND> answeredBoxes;
int boxCount = 0;

void Print(const std::string& key, const std::string& value)
{
    std::printf("%s=%s\n", key.c_str(), value.c_str());
    std::fflush(stdout);
}

bool Fail(const std::string& step, const std::string& reason)
{
    Print("error", step + ": " + reason);
    return false;
}

std::string TextOf(HWND window)
{
    wchar_t wide[4096] = L"";
    if (window) GetWindowTextW(window, wide, 4096);
    char utf8[16384] = "";
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof(utf8), nullptr, nullptr);
    std::string out;
    for (const char* c = utf8; *c; ++c) {
        if (*c == '\\') out += "\\\\";
        else if (*c == '\n') out += "\\n";
        else if (*c == '\r') out += "\\r";
        else out += *c;
    }
    return out;
}

std::string Flag(bool value) { return value ? "1" : "0"; }

// A shown dialog: the wizard holds the progress bar, a message box its text
// control 0xFFFF.
HWND FindDialog(bool wantWizard)
{
    for (HWND window = FindWindowExA(nullptr, nullptr, "#32770", nullptr); window;
         window = FindWindowExA(nullptr, window, "#32770", nullptr)) {
        if (!IsWindowVisible(window)) continue;
        bool wizard = GetDlgItem(window, 1003) != nullptr;
        if (wantWizard && wizard) return window;
        bool box = !wizard && GetDlgItem(window, 0xFFFF) != nullptr;
        if (!wantWizard && box && !answeredBoxes.count(window)) return window;
    }
    return nullptr;
}

HWND WaitForDialog(const std::string& step, bool wantWizard)
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        if (HWND found = FindDialog(wantWizard)) return found;
        Sleep(50);
    }
    Fail(step, wantWizard ? "no wizard appeared" : "no message box appeared");
    return nullptr;
}

bool AnswerBox(const std::string& step, const std::string& answer, std::string tag)
{
    if (answer != "ok" && answer != "cancel") return Fail(step, "answer ok or cancel");
    ++boxCount;
    if (tag.empty()) tag = "box" + std::to_string(boxCount);
    HWND box = WaitForDialog(step, false);
    if (!box) return false;
    Print(tag + ".caption", TextOf(box));
    Print(tag + ".text", TextOf(GetDlgItem(box, 0xFFFF)));
    HWND cancel = GetDlgItem(box, IDCANCEL);
    Print(tag + ".buttons", cancel && IsWindowVisible(cancel) ? "OK,Cancel" : "OK");
    int id = answer == "ok" ? IDOK : IDCANCEL;
    answeredBoxes.insert(box);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    for (DWORD waited = 0; IsWindow(box) && waited < kWaitMs; waited += 20) Sleep(20);
    return !IsWindow(box) || Fail(step, "the box stayed open");
}

// Which template the wizard was built from, judged by its client area in
// the dialog units of the Cancel button (50 x 15 in both templates).
std::string TemplateOf(HWND wizard)
{
    RECT client;
    RECT cancel;
    GetClientRect(wizard, &client);
    GetWindowRect(GetDlgItem(wizard, IDCANCEL), &cancel);
    if (cancel.right <= cancel.left || cancel.bottom <= cancel.top) return "?";
    double width = client.right * 50.0 / (cancel.right - cancel.left);
    double height = client.bottom * 15.0 / (cancel.bottom - cancel.top);
    if (std::abs(width - 362) < 4 && std::abs(height - 130) < 4) return "101";
    if (std::abs(width - 367) < 4 && std::abs(height - 162) < 4) return "102";
    return "?";
}

void ReportWizard(HWND wizard, const std::string& tag)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    GetGUIThreadInfo(GetWindowThreadProcessId(wizard, nullptr), &gui);
    Print(tag + ".caption", TextOf(wizard));
    Print(tag + ".text1000", TextOf(GetDlgItem(wizard, 1000)));
    Print(tag + ".text1001", TextOf(GetDlgItem(wizard, 1001)));
    for (int id : {2, 3}) {
        HWND button = GetDlgItem(wizard, id);
        std::string key = tag + ".button" + std::to_string(id);
        Print(key + ".text", TextOf(button));
        Print(key + ".enabled", Flag(IsWindowEnabled(button)));
        LONG style = GetWindowLongA(button, GWL_STYLE);
        Print(key + ".default", Flag((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON));
        Print(key + ".focus", Flag(gui.hwndFocus == button));
    }
    HWND bar = GetDlgItem(wizard, 1003);
    Print(tag + ".progress.pos", std::to_string(SendMessageA(bar, PBM_GETPOS, 0, 0)));
    Print(tag + ".progress.range", std::to_string(SendMessageA(bar, PBM_GETRANGE, TRUE, 0)) + ".." +
                                       std::to_string(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)));
    RECT r;
    GetWindowRect(wizard, &r);
    Print(tag + ".rect", std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                             std::to_string(r.right) + "," + std::to_string(r.bottom));
    Print(tag + ".screen",
          std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" + std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    Print(tag + ".template", TemplateOf(wizard));
    Print(tag + ".iconic", Flag(IsIconic(wizard)));
    Print(tag + ".foreground", Flag(GetForegroundWindow() == wizard));
}

// Creates the key below HKLM and writes one value into it.
bool SetValue(const std::string& path, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool SetString(const std::string& path, const char* name, const char* value)
{
    return SetValue(path, name, REG_SZ, value, static_cast<DWORD>(lstrlenA(value) + 1));
}

bool Plug(const std::string& step, const std::string& arg)
{
    int index = std::atoi(arg.c_str());
    if (arg.empty() || index < 0 || index > 3) return Fail(step, "plug=0..3");
    const auto& f = kFunctions[index];
    std::string path = std::string(kEnumUsb) + f.id + "\\" + f.instance;
    if (!SetString(path, "Class", f.deviceClass) ||
        (f.port && !SetString(path + "\\Device Parameters", "PortName", f.port)))
        return Fail(step, "cannot write the device keys");
    HWND wizard = WaitForDialog(step, true);
    DWORD_PTR answer = 0;
    if (wizard &&
        !SendMessageTimeoutA(wizard, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_NORMAL, 10000, &answer))
        return Fail(step, "the wizard did not answer WM_DEVICECHANGE");
    return wizard != nullptr;
}

void ReportState(const std::string& tag)
{
    std::string flag = "absent";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (RegQueryValueExA(key, "InstallFlag", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS)
            flag = std::to_string(value);
        RegCloseKey(key);
    }
    Print(tag + ".flag", flag);
    std::string phone;
    for (const auto& f : kFunctions) {
        std::string path = kEnumUsb + std::string(f.id);
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
        phone += Flag(status == ERROR_SUCCESS);
        if (status == ERROR_SUCCESS) RegCloseKey(key);
    }
    Print(tag + ".phone", phone);
}

bool SetFlag(const std::string& step, const std::string& value)
{
    DWORD flag = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
    return SetValue(kProductKey, "InstallFlag", REG_DWORD, &flag, sizeof(flag)) ||
           Fail(step, "cannot write InstallFlag");
}

bool Start(const std::string& step, const std::string& arguments)
{
    if (exePath.empty()) return Fail(step, "no program given with run");
    std::string line = "\"" + exePath + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(exePath.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return Fail(step, "cannot start " + exePath + " (error " + std::to_string(GetLastError()) + ")");
    instances.push_back(process);
    return true;
}

bool WaitForExit(const std::string& step, int number, const std::string& tag)
{
    if (number < 1 || number > static_cast<int>(instances.size())) return Fail(step, "no such instance");
    HANDLE process = instances[number - 1].hProcess;
    if (WaitForSingleObject(process, kWaitMs) != WAIT_OBJECT_0) return Fail(step, "the program did not end");
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    Print(tag.empty() ? "exit" + std::to_string(number) : tag, std::to_string(code));
    return true;
}

bool Screenshot(const std::string& step, const std::string& file)
{
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = GetSystemMetrics(SM_CXSCREEN);
    header.biHeight = GetSystemMetrics(SM_CYSCREEN);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = ((header.biWidth * 3 + 3) & ~3) * header.biHeight;
    std::vector<char> pixels(header.biSizeImage);

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, header.biWidth, header.biHeight);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool ok = BitBlt(memory, 0, 0, header.biWidth, header.biHeight, screen, 0, 0, SRCCOPY) != FALSE;
    SelectObject(memory, old);
    ok = ok && GetDIBits(screen, bitmap, 0, header.biHeight, pixels.data(),
                         reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == header.biHeight;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfOffBits = sizeof(fileHeader) + sizeof(header);
    fileHeader.bfSize = fileHeader.bfOffBits + header.biSizeImage;
    FILE* out = ok ? std::fopen(file.c_str(), "wb") : nullptr;
    ok = out && std::fwrite(&fileHeader, sizeof(fileHeader), 1, out) == 1 &&
         std::fwrite(&header, sizeof(header), 1, out) == 1 &&
         std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    if (out) std::fclose(out);
    if (!ok) return Fail(step, "cannot save the screen to " + file);
    Print("shot", file);
    return true;
}

bool RunStep(const std::string& step)
{
    std::string name = step.substr(0, step.rfind('@'));
    std::string tag = name.size() < step.size() ? step.substr(name.size() + 1) : "";
    std::string arg;
    size_t eq = name.find('=');
    if (eq != std::string::npos) {
        arg = name.substr(eq + 1);
        name.resize(eq);
    }
    auto orDefault = [&](const std::string& fallback) { return tag.empty() ? fallback : tag; };

    if (name == "box") return AnswerBox(step, arg, tag);
    if (name == "plug") return Plug(step, arg);
    if (name == "unplug") {
        for (const auto& f : kFunctions)
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kEnumUsb + std::string(f.id)).c_str());
        return true;
    }
    if (name == "wizard" || name == "press" || name == "close" || name == "minimize") {
        HWND wizard = WaitForDialog(step, true);
        if (!wizard) return false;
        int id = std::atoi(arg.c_str());
        if (name == "wizard") ReportWizard(wizard, orDefault("wizard"));
        if (name == "press")
            PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(wizard, id)));
        DWORD_PTR answer = 0;
        if (name == "close") SendMessageTimeoutA(wizard, WM_CLOSE, 0, 0, SMTO_NORMAL, 10000, &answer);
        if (name == "minimize") {
            ShowWindowAsync(wizard, SW_MINIMIZE);
            for (int i = 0; i < 100 && !IsIconic(wizard); ++i) Sleep(20);
        }
        return true;
    }
    if (name == "start") return Start(step, arg);
    if (name == "exit") return WaitForExit(step, arg.empty() ? 1 : std::atoi(arg.c_str()), tag);
    if (name == "nowizard") {
        Print(orDefault("nowizard"), Flag(FindDialog(true) == nullptr));
        return true;
    }
    if (name == "state") {
        ReportState(orDefault("state"));
        return true;
    }
    if (name == "setflag") return SetFlag(step, arg);
    if (name == "shot") return Screenshot(step, arg);
    if (name == "sleep") {
        Sleep(static_cast<DWORD>(std::atoi(arg.c_str())));
        return true;
    }
    return Fail(step, "unknown step");
}

}  // namespace

int main(int argc, char** argv)
{
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "run") {
        exePath = argv[2];
        std::string arguments;
        for (first = 3; first < argc && std::string(argv[first]) != "--"; ++first)
            arguments += (arguments.empty() ? "" : " ") + std::string(argv[first]);
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
        if (WaitForSingleObject(instances[i].hProcess, 0) == WAIT_TIMEOUT) {
            Print("left_running" + std::to_string(i + 1), "1");
            TerminateProcess(instances[i].hProcess, 1);
            WaitForSingleObject(instances[i].hProcess, 5000);
        }
        CloseHandle(instances[i].hThread);
        CloseHandle(instances[i].hProcess);
    }
    return ok ? 0 : 1;
}
