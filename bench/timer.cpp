// bench_timer.exe <timeout seconds> <program> [arguments...]
// Starts the program and measures, with the performance counter, the time
// from the start request to the end of its process. Message boxes of the
// program are answered with OK (they would stop the clock otherwise) and
// reported. Prints:
//   elapsed_ms <ms>
//   exit <code>
//   boxes <n>
//   box <caption> <tab> <text>   (one per box)
// Exit code 0 when the program ended in time, 2 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

struct BoxSearch {
    DWORD processId;
    std::vector<HWND> boxes;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    if (owner == search->processId && lstrcmpA(className, "#32770") == 0 && IsWindowVisible(window))
        search->boxes.push_back(window);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_timer.exe <timeout seconds> <program> [arguments...]\n");
        return 2;
    }
    DWORD timeoutMs = static_cast<DWORD>(std::atoi(argv[1])) * 1000;
    std::string commandLine;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) commandLine += ' ';
        commandLine += std::string("\"") + argv[i] + "\"";
    }
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::printf("cannot_start %lu\n", GetLastError());
        return 2;
    }
    CloseHandle(process.hThread);
    std::set<HWND> answered;
    std::vector<std::string> boxes;
    bool ended = false;
    for (;;) {
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) {
            QueryPerformanceCounter(&end);
            ended = true;
            break;
        }
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        if ((now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart > timeoutMs) break;
        BoxSearch search = {process.dwProcessId, {}};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.boxes) {
            if (answered.count(box)) continue;
            Sleep(100);  // let the box put its texts in
            char caption[512] = "";
            char text[4096] = "";
            GetWindowTextA(box, caption, sizeof(caption));
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            for (char* p = text; *p; ++p)
                if (*p == '\r' || *p == '\n' || *p == '\t') *p = ' ';
            boxes.push_back(std::string(caption) + "\t" + text);
            answered.insert(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    if (!ended) {
        TerminateProcess(process.hProcess, 99);
        std::printf("timeout\n");
        CloseHandle(process.hProcess);
        return 2;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    std::printf("elapsed_ms %.1f\n", static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                                         static_cast<double>(frequency.QuadPart));
    std::printf("exit %lu\n", code);
    std::printf("boxes %u\n", static_cast<unsigned>(boxes.size()));
    for (const std::string& box : boxes) std::printf("box %s\n", box.c_str());
    return 0;
}
