// Stand-in for the companion CD launcher: two top-level windows, the first with
// the string property "CDROMLauncher". Logs "ready" once both exist, then each
// WM_DEVICECHANGE as "<launcher|other> WM_DEVICECHANGE wParam=<hex> lParam=<hex>".
// Ends on WM_CLOSE to either window or after the timeout.
//   launcher.exe <log file> [timeout seconds, default 120]   (2 on misuse)
#include <windows.h>

#include <cstdio>
#include <cstdlib>

static FILE* logFile = nullptr;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER || message == WM_CLOSE) PostQuitMessage(0);
    if (message != WM_DEVICECHANGE) return DefWindowProcA(window, message, wParam, lParam);
    std::fprintf(logFile, "%s WM_DEVICECHANGE wParam=%#llx lParam=%#llx\r\n",
                 GetPropA(window, "CDROMLauncher") ? "launcher" : "other", static_cast<unsigned long long>(wParam),
                 static_cast<unsigned long long>(lParam));
    return TRUE;
}

int main(int argc, char** argv)
{
    // Unbuffered, so that a test reads each line as soon as it happened.
    if (argc < 2 || !(logFile = std::fopen(argv[1], "ab")) || setvbuf(logFile, nullptr, _IONBF, 0)) return 2;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuellinLauncherStandIn";
    RegisterClassA(&windowClass);
    // Made last, the other window is met first by whoever walks the windows.
    HWND windows[2] = {};
    const char* titles[2] = {"CD Launcher", "Other Window"};
    for (int i = 0; i < 2; ++i)
        windows[i] = CreateWindowExA(0, windowClass.lpszClassName, titles[i], WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                     nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!windows[1] || !SetPropA(windows[0], "CDROMLauncher", reinterpret_cast<HANDLE>(1))) return 1;
    SetTimer(windows[0], 1, static_cast<UINT>(argc > 2 ? std::atoi(argv[2]) : 120) * 1000, nullptr);
    std::fprintf(logFile, "ready\r\n");
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}
