// Stand-in for the companion CD launcher: two top-level windows, one carrying
// the string property "CDROMLauncher". Each WM_DEVICECHANGE either receives is
// appended to the log as "<launcher|other> WM_DEVICECHANGE wParam=<hex>
// lParam=<hex>", after a first line "ready" once both windows exist.
//   launcher.exe <log file> [timeout seconds, default 120]
// Ends on WM_CLOSE to either window or after the timeout.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

static FILE* logFile = nullptr;
static HWND windows[2] = {};  // the launcher's, the other

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER || message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    if (message != WM_DEVICECHANGE) return DefWindowProcA(window, message, wParam, lParam);
    std::fprintf(logFile, "%s WM_DEVICECHANGE wParam=%#llx lParam=%#llx\r\n", window == windows[0] ? "launcher" : "other",
                 static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam));
    return TRUE;
}

int main(int argc, char** argv)
{
    // Unbuffered, so that a test reads each line as soon as it happened.
    if (argc < 2 || !(logFile = std::fopen(argv[1], "ab")) || setvbuf(logFile, nullptr, _IONBF, 0)) {
        std::fprintf(stderr, "usage: launcher <log file> [timeout seconds]\n");
        return 2;
    }
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuellinLauncherStandIn";
    const char* titles[2] = {"CD Launcher", "Other Window"};
    if (!RegisterClassA(&windowClass)) return 1;
    for (int i = 0; i < 2; ++i)
        windows[i] = CreateWindowExA(0, windowClass.lpszClassName, titles[i], WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                     nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!windows[0] || !windows[1]) return 1;
    SetPropA(windows[0], "CDROMLauncher", reinterpret_cast<HANDLE>(1));
    SetTimer(windows[0], 1, static_cast<UINT>(argc > 2 ? std::atoi(argv[2]) : 120) * 1000, nullptr);
    std::fprintf(logFile, "ready\r\n");
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}
