// Stand-in for the system's driver-package tool, which Wine lacks. Each start
// appends its command line, a tab and its own full path to C:\pnputil.log, so
// that a test sees which copy ran. "-d <name>" deletes <name> and its .PNF from
// the Windows INF folder, as the real tool drops an OEM package.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    char self[MAX_PATH] = "", windows[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (FILE* log = std::fopen("C:\\pnputil.log", "ab")) std::fprintf(log, "%s\t%s\r\n", GetCommandLineA(), self);
    if (GetWindowsDirectoryA(windows, MAX_PATH) >= MAX_PATH || !*windows) return 1;
    const std::string inf = std::string(windows) + "\\inf\\";
    const char* plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-";
    for (int i = 2; i < argc; ++i) {
        std::string flag = argv[i - 1], name = argv[i];
        // A plain file name only, so that nothing outside the INF folder goes.
        if (flag != "-d" || name.empty() || name.find_first_not_of(plain) != std::string::npos) continue;
        for (const std::string& file : {inf + name, inf + name.substr(0, name.rfind('.')) + ".PNF"}) {
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file.c_str());
        }
    }
    return 0;
}
