// Stand-in for the system's driver-package tool. Appends one line per start
// to a log: the command line it received, a tab, and its own full path (so a
// test sees which copy ran). With "-d <name>" it deletes <name> and its .PNF
// from the Windows INF folder, as the real tool drops an OEM package.
//   log file: %PNPUTIL_LOG%, else C:\pnputil.log
//   %PNPUTIL_DELAY_MS%: wait this long before writing (to prove the caller waits)
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Environment(const char* name)
{
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
    return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

bool PlainName(const std::string& name)
{
    if (name.empty()) return false;
    for (char c : name) {
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
    }
    return true;
}

void DeletePackage(const std::string& name)
{
    if (!PlainName(name)) return;
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    std::string inf = std::string(windows) + "\\inf\\" + name;
    SetFileAttributesA(inf.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(inf.c_str());
    std::string::size_type dot = inf.rfind('.');
    if (dot != std::string::npos && dot > inf.rfind('\\')) {
        std::string pnf = inf.substr(0, dot) + ".PNF";
        SetFileAttributesA(pnf.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(pnf.c_str());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string delay = Environment("PNPUTIL_DELAY_MS");
    if (!delay.empty()) Sleep(static_cast<DWORD>(atoi(delay.c_str())));

    std::string log = Environment("PNPUTIL_LOG");
    if (log.empty()) log = "C:\\pnputil.log";
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = std::string(GetCommandLineA()) + "\t" + self + "\r\n";

    HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }

    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "-d") == 0 || strcmp(argv[i], "/d") == 0) DeletePackage(argv[i + 1]);
    }
    return 0;
}
