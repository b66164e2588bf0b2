// robot.exe: drives Quellin9.exe for the process-level tests the way a user
// and Plug and Play would, and prints what it sees.
//
//   robot.exe [run <exe> [program arguments...] --] <step>...
//
// "run" starts the program (instance 1) and the steps follow in order. Every
// step is one argument; most accept "@tag" at the end to name the keys they
// print (the default tag is given below). Output is one "key=value" line per
// fact on stdout; texts are UTF-8 with a line feed written as \n, a carriage
// return as \r and a backslash as \\ (the notation of the string table's
// source). Exit code 0 when every step worked; 1 when one failed, after an
// "error=<step>: <reason>" line (programs still running are then ended);
// 2 for a usage error.
//
// Steps:
//   box=ok|cancel[@tag]  wait (60 s) for the next message box of a started
//                        instance; print tag.caption, tag.text,
//                        tag.buttons (e.g. "OK,Cancel") and tag.instance;
//                        press OK or Cancel and wait until it is gone.
//                        Default tag box1, box2, ... in order.
//   wizard[@tag]         wait (60 s) for the wizard to be visible and print:
//                        tag.caption, tag.text1000, tag.text1001,
//                        tag.button2.text/.enabled/.default/.focus, the same
//                        for button3, tag.progress.pos, tag.progress.range
//                        ("0..4"), tag.rect (left,top,right,bottom),
//                        tag.screen (WxH), tag.template (101, 102 or ?,
//                        from the client size measured in the Cancel button's
//                        dialog units), tag.iconic, tag.foreground,
//                        tag.instance. Default tag "wizard".
//   plug=<n>             write the device keys Plug and Play writes when
//                        function n is set up (0 the composite device, class
//                        USB; 1 "&Mi_01" modem on COM3; 2 "&Mi_03" port on
//                        COM4; 3 "&Mi_05" port on COM5), below
//                        HKLM\System\CurrentControlSet\Enum\USB\<id>\<instance>,
//                        then send WM_DEVICECHANGE to the wizard.
//   notify               send WM_DEVICECHANGE (DBT_DEVNODES_CHANGED) only.
//   unplug               delete the phone's device keys (all four ids).
//   press=<id>           press wizard button <id> (2 Cancel, 3 Next/End).
//   close                send WM_CLOSE to the wizard, as a second start does.
//   minimize             minimise the wizard.
//   start[=<args>]       start one more instance of the program with <args>
//                        (one argument; instances are numbered from 1).
//   exit[=<n>][@tag]     wait (60 s) for instance n (default 1) to end and
//                        print tag=<exit code>. Default tag "exit<n>".
//   nowizard[@tag]       print tag=1 when no wizard window exists, else 0.
//                        Default tag "nowizard".
//   state[@tag]          print tag.flag (InstallFlag of the product key:
//                        a number, or "absent") and tag.phone (four 0/1 for
//                        the device keys of the four ids). Default "state".
//   setflag=<value>      write InstallFlag = value into the product key,
//                        creating the key.
//   shot=<file.bmp>      save the whole screen as a 24-bit BMP (a Windows
//                        path, for example Z:\tmp\wizard.bmp).
//   sleep=<ms>           wait.
//
// Example:
//   robot.exe run Z:\q\Setup\Quellin9.exe /I -- box=ok@notice wizard@waiting
//       plug=0 plug=1 plug=2 plug=3 wizard@done press=3 exit
//   (one command line)
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

const char kTitle[] = "TAVRO GSM/GPRS USB Driver Installer";
const char kEnumUsb[] = "System\\CurrentControlSet\\Enum\\USB";
const char kProductKey[] = "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K";
const DWORD kWaitMs = 60000;

struct Function {
    const char* id;
    const char* instance;
    const char* deviceClass;
    const char* classGuid;
    const char* description;
    const char* service;
    const char* port;
};

// What Plug and Play leaves for each of the phone's functions.
const Function kFunctions[4] = {
    {"VID_1B3F&PID_5C13", "TV4170K0001", "USB", "{36FC9E60-C465-11CF-8056-444553540000}",
     "USB Composite Device", "usbccgp", nullptr},
    {"VID_1B3F&PID_5C13&Mi_01", "6&2f1c3a0b&0&0001", "Modem", "{4D36E96D-E325-11CE-BFC1-08002BE10318}",
     "TV4170K USB Modem", "TVymdm", "COM3"},
    {"VID_1B3F&PID_5C13&Mi_03", "6&2f1c3a0b&0&0003", "Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}",
     "TV4170K USB OBEX Port", "TVyobex", "COM4"},
    {"VID_1B3F&PID_5C13&Mi_05", "6&2f1c3a0b&0&0005", "Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}",
     "TV4170K USB Diagnostics Port", "TVymdfl", "COM5"},
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

void Print(const std::string& key, long long value) { Print(key, std::to_string(value)); }

std::string Escape(const std::wstring& text)
{
    std::string utf8;
    if (!text.empty()) {
        int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
        utf8.resize(n);
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], n, nullptr,
                            nullptr);
    }
    std::string out;
    for (char c : utf8) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::string TextOf(HWND window)
{
    wchar_t text[4096] = L"";
    if (window) GetWindowTextW(window, text, 4096);
    return Escape(text);
}

// 1-based number of the started instance that owns a window, 0 for none.
int InstanceOf(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (size_t i = 0; i < instances.size(); ++i)
        if (instances[i].dwProcessId == pid) return static_cast<int>(i + 1);
    return 0;
}

// Visible dialogs of the started instances: the wizard holds the progress
// bar, a message box its text control 0xFFFF.
HWND FindDialog(bool wantWizard)
{
    for (HWND window = FindWindowExA(nullptr, nullptr, "#32770", nullptr); window;
         window = FindWindowExA(nullptr, window, "#32770", nullptr)) {
        if (!IsWindowVisible(window) || !InstanceOf(window)) continue;
        bool wizard = GetDlgItem(window, 1003) != nullptr;
        bool box = GetDlgItem(window, 0xFFFF) != nullptr;
        if (wantWizard && wizard) return window;
        if (!wantWizard && box && !wizard && !answeredBoxes.count(window)) return window;
    }
    return nullptr;
}

HWND WaitForDialog(bool wantWizard)
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        HWND found = FindDialog(wantWizard);
        if (found) return found;
        Sleep(50);
    }
    return nullptr;
}

bool Fail(const std::string& step, const std::string& reason)
{
    Print("error", step + ": " + reason);
    return false;
}

bool AnswerBox(const std::string& step, const std::string& answer, std::string tag)
{
    if (answer != "ok" && answer != "cancel") return Fail(step, "answer ok or cancel");
    ++boxCount;
    if (tag.empty()) tag = "box" + std::to_string(boxCount);
    HWND box = WaitForDialog(false);
    if (!box) return Fail(step, "no message box appeared");
    Print(tag + ".caption", TextOf(box));
    Print(tag + ".text", TextOf(GetDlgItem(box, 0xFFFF)));
    static const struct {
        int id;
        const char* name;
    } buttons[] = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}, {IDYES, "Yes"}, {IDNO, "No"}};
    std::string names;
    for (const auto& b : buttons) {
        HWND button = GetDlgItem(box, b.id);
        if (!button || !IsWindowVisible(button)) continue;
        names += (names.empty() ? "" : ",") + std::string(b.name);
    }
    Print(tag + ".buttons", names);
    Print(tag + ".instance", InstanceOf(box));
    int id = answer == "ok" ? IDOK : IDCANCEL;
    answeredBoxes.insert(box);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    for (DWORD waited = 0; IsWindow(box) && waited < kWaitMs; waited += 20) Sleep(20);
    if (IsWindow(box)) return Fail(step, "the box stayed open");
    return true;
}

HWND Wizard(const std::string& step)
{
    HWND wizard = WaitForDialog(true);
    if (!wizard) Fail(step, "no wizard appeared");
    return wizard;
}

std::string Flag(bool value) { return value ? "1" : "0"; }

// Which template the dialog was built from, judged by its client area in
// the dialog units of the Cancel button (50 x 15 in both templates).
std::string TemplateOf(HWND wizard)
{
    RECT client;
    RECT cancel;
    GetClientRect(wizard, &client);
    GetWindowRect(GetDlgItem(wizard, IDCANCEL), &cancel);
    int cw = cancel.right - cancel.left;
    int ch = cancel.bottom - cancel.top;
    if (cw <= 0 || ch <= 0) return "?";
    double width = client.right * 50.0 / cw;
    double height = client.bottom * 15.0 / ch;
    if (std::abs(width - 362) < 4 && std::abs(height - 130) < 4) return "101";
    if (std::abs(width - 367) < 4 && std::abs(height - 162) < 4) return "102";
    return "?";
}

void ReportWizard(HWND wizard, const std::string& tag)
{
    DWORD thread = GetWindowThreadProcessId(wizard, nullptr);
    GUITHREADINFO gui;
    ZeroMemory(&gui, sizeof(gui));
    gui.cbSize = sizeof(gui);
    GetGUIThreadInfo(thread, &gui);

    Print(tag + ".caption", TextOf(wizard));
    Print(tag + ".text1000", TextOf(GetDlgItem(wizard, 1000)));
    Print(tag + ".text1001", TextOf(GetDlgItem(wizard, 1001)));
    for (int id : {2, 3}) {
        HWND button = GetDlgItem(wizard, id);
        std::string key = tag + ".button" + std::to_string(id);
        Print(key + ".text", TextOf(button));
        Print(key + ".enabled", Flag(IsWindowEnabled(button)));
        Print(key + ".default", Flag((GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON));
        Print(key + ".focus", Flag(gui.hwndFocus == button));
    }
    HWND bar = GetDlgItem(wizard, 1003);
    Print(tag + ".progress.pos", SendMessageA(bar, PBM_GETPOS, 0, 0));
    Print(tag + ".progress.range", std::to_string(SendMessageA(bar, PBM_GETRANGE, TRUE, 0)) + ".." +
                                       std::to_string(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)));
    RECT rect;
    GetWindowRect(wizard, &rect);
    Print(tag + ".rect", std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                             std::to_string(rect.right) + "," + std::to_string(rect.bottom));
    Print(tag + ".screen",
          std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" + std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    Print(tag + ".template", TemplateOf(wizard));
    Print(tag + ".iconic", Flag(IsIconic(wizard)));
    Print(tag + ".foreground", Flag(GetForegroundWindow() == wizard));
    Print(tag + ".instance", InstanceOf(wizard));
}

bool SetValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size)
{
    return RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ)
{
    return SetValue(key, name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool WriteFunctionKeys(int index)
{
    const Function& f = kFunctions[index];
    std::string path = std::string(kEnumUsb) + "\\" + f.id + "\\" + f.instance;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    std::string hardwareIds = std::string("USB\\") + f.id + "&REV_0100" + '\0' + "USB\\" + f.id + '\0';
    DWORD capabilities = 0x84;
    bool ok = SetText(key, "Class", f.deviceClass) && SetText(key, "ClassGUID", f.classGuid) &&
              SetText(key, "DeviceDesc", f.description) && SetText(key, "Service", f.service) &&
              SetText(key, "Mfg", index == 0 ? "(Standard USB Host Controller)" : "TAVRO") &&
              SetText(key, "HardwareID", hardwareIds, REG_MULTI_SZ) &&
              SetValue(key, "Capabilities", REG_DWORD, &capabilities, sizeof(capabilities));
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

bool Notify(const std::string& step)
{
    HWND wizard = Wizard(step);
    if (!wizard) return false;
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(wizard, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_NORMAL, 10000, &answer))
        return Fail(step, "the wizard did not answer WM_DEVICECHANGE");
    return true;
}

bool KeyExists(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
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
    for (const Function& f : kFunctions) phone += KeyExists(std::string(kEnumUsb) + "\\" + f.id) ? "1" : "0";
    Print(tag + ".phone", phone);
}

bool SetFlag(const std::string& step, const std::string& value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return Fail(step, "cannot create the product key");
    DWORD flag = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
    bool ok = SetValue(key, "InstallFlag", REG_DWORD, &flag, sizeof(flag));
    RegCloseKey(key);
    return ok || Fail(step, "cannot write InstallFlag");
}

bool Start(const std::string& step, const std::string& arguments)
{
    std::string commandLine = "\"" + exePath + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(exePath.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
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
    Print(tag.empty() ? "exit" + std::to_string(number) : tag, code);
    return true;
}

bool Screenshot(const std::string& step, const std::string& file)
{
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    BITMAPINFOHEADER header;
    ZeroMemory(&header, sizeof(header));
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header.biSizeImage = stride * height;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits,
                                      nullptr, 0);
    bool ok = bitmap && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        BITMAPFILEHEADER fileHeader;
        ZeroMemory(&fileHeader, sizeof(fileHeader));
        fileHeader.bfType = 0x4D42;
        fileHeader.bfOffBits = sizeof(fileHeader) + sizeof(header);
        fileHeader.bfSize = fileHeader.bfOffBits + header.biSizeImage;
        HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
        ok = out != INVALID_HANDLE_VALUE;
        if (ok) {
            DWORD written = 0;
            ok = WriteFile(out, &fileHeader, sizeof(fileHeader), &written, nullptr) &&
                 WriteFile(out, &header, sizeof(header), &written, nullptr) &&
                 WriteFile(out, bits, header.biSizeImage, &written, nullptr);
            CloseHandle(out);
        }
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok) return Fail(step, "cannot save the screen to " + file);
    Print("shot", file);
    return true;
}

bool RunStep(const std::string& step)
{
    std::string body = step;
    std::string tag;
    size_t at = body.rfind('@');
    if (at != std::string::npos) {
        tag = body.substr(at + 1);
        body.resize(at);
    }
    std::string name = body;
    std::string arg;
    size_t eq = body.find('=');
    bool hasArg = eq != std::string::npos;
    if (hasArg) {
        name = body.substr(0, eq);
        arg = body.substr(eq + 1);
    }

    if (name == "box") return AnswerBox(step, arg, tag);
    if (name == "wizard") {
        HWND wizard = Wizard(step);
        if (!wizard) return false;
        ReportWizard(wizard, tag.empty() ? "wizard" : tag);
        return true;
    }
    if (name == "plug") {
        int index = std::atoi(arg.c_str());
        if (!hasArg || index < 0 || index > 3) return Fail(step, "plug=0..3");
        if (!WriteFunctionKeys(index)) return Fail(step, "cannot write the device keys");
        return Notify(step);
    }
    if (name == "notify") return Notify(step);
    if (name == "unplug") {
        for (const Function& f : kFunctions)
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kEnumUsb) + "\\" + f.id).c_str());
        return true;
    }
    if (name == "press" || name == "close" || name == "minimize") {
        HWND wizard = Wizard(step);
        if (!wizard) return false;
        if (name == "press") {
            int id = std::atoi(arg.c_str());
            PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(wizard, id)));
        } else if (name == "close") {
            DWORD_PTR answer = 0;
            SendMessageTimeoutA(wizard, WM_CLOSE, 0, 0, SMTO_NORMAL, 10000, &answer);
        } else {
            ShowWindowAsync(wizard, SW_MINIMIZE);
            for (int i = 0; i < 100 && !IsIconic(wizard); ++i) Sleep(20);
        }
        return true;
    }
    if (name == "start") {
        if (exePath.empty()) return Fail(step, "no program given with run");
        return Start(step, arg);
    }
    if (name == "exit") return WaitForExit(step, hasArg ? std::atoi(arg.c_str()) : 1, tag);
    if (name == "nowizard") {
        Print(tag.empty() ? "nowizard" : tag, Flag(FindDialog(true) == nullptr));
        return true;
    }
    if (name == "state") {
        ReportState(tag.empty() ? "state" : tag);
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
        int i = 3;
        for (; i < argc && std::string(argv[i]) != "--"; ++i) arguments += (arguments.empty() ? "" : " ") + std::string(argv[i]);
        if (i == argc) {
            std::fprintf(stderr, "usage: robot.exe [run <exe> [arguments...] --] <step>...\n");
            return 2;
        }
        first = i + 1;
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
