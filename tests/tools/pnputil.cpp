// Stand-in for the system's driver-package tool, which Wine lacks. Appends one
// line per start to %PNPUTIL_LOG% (else C:\pnputil.log): its command line, a
// tab and its own full path, so a test sees which copy ran; %PNPUTIL_DELAY_MS%
// delays it, to prove the caller waits. "-d <name>" deletes <name> and its
// .PNF from the Windows INF folder, as the real tool drops an OEM package.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const char* delay = std::getenv("PNPUTIL_DELAY_MS");
    const char* logPath = std::getenv("PNPUTIL_LOG");
    if (delay) Sleep(static_cast<DWORD>(std::atoi(delay)));
    char self[MAX_PATH] = "", windows[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (FILE* log = std::fopen(logPath && *logPath ? logPath : "C:\\pnputil.log", "ab")) {
        std::fprintf(log, "%s\t%s\r\n", GetCommandLineA(), self);
        std::fclose(log);
    }
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    const char* plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-";
    for (int i = 1; i + 1 < argc; ++i) {
        std::string flag = argv[i], name = argv[i + 1], inf = std::string(windows) + "\\inf\\";
        // A plain file name only, so that nothing outside the INF folder goes.
        if ((flag != "-d" && flag != "/d") || name.empty() || name.find_first_not_of(plain) != std::string::npos ||
            !length || length >= MAX_PATH)
            continue;
        size_t dot = name.rfind('.');
        for (const std::string& file : {inf + name, dot == std::string::npos ? "" : inf + name.substr(0, dot) + ".PNF"}) {
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file.c_str());
        }
    }
    return 0;
}
