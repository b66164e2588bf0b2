// Stand-in for the companion CD launcher: one top-level window carrying the
// string property "CDROMLauncher" and one without it. Every WM_DEVICECHANGE
// either receives is appended to a log as
//   <window> WM_DEVICECHANGE wParam=<hex> lParam=<hex>
// with <window> "launcher" or "other". The log starts with a line "ready"
// once both windows exist.
//   launcher.exe <log file> [timeout seconds, default 120]
// Ends on WM_CLOSE to either window or after the timeout.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kClassName[] = "QuellinLauncherStandIn";
std::string logPath;
HWND launcherWindow = nullptr;
HWND otherWindow = nullptr;

void AppendLog(const std::string& line)
{
    HANDLE file = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DEVICECHANGE: {
        char line[160];
        snprintf(line, sizeof(line), "%s WM_DEVICECHANGE wParam=%#llx lParam=%#llx",
                 window == launcherWindow ? "launcher" : "other",
                 static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam));
        AppendLog(line);
        return TRUE;
    }
    case WM_TIMER:
    case WM_CLOSE:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: launcher <log file> [timeout seconds]\n");
        return 2;
    }
    logPath = argv[1];
    int timeout = argc > 2 ? atoi(argv[2]) : 120;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass)) return 1;
    launcherWindow = CreateWindowExA(0, kClassName, "CD Launcher", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                     100, nullptr, nullptr, windowClass.hInstance, nullptr);
    otherWindow = CreateWindowExA(0, kClassName, "Other Window", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!launcherWindow || !otherWindow) return 1;
    SetPropA(launcherWindow, "CDROMLauncher", reinterpret_cast<HANDLE>(1));
    SetTimer(launcherWindow, 1, static_cast<UINT>(timeout) * 1000, nullptr);
    AppendLog("ready");

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    RemovePropA(launcherWindow, "CDROMLauncher");
    DestroyWindow(launcherWindow);
    DestroyWindow(otherWindow);
    return 0;
}
