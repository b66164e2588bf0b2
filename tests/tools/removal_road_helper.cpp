// Helper of the process-level removal suite, run inside the seeded prefix.
//
//   removal_road_helper seed <seed file>
//       One operation per line, fields separated by tabs; paths below
//       HKEY_LOCAL_MACHINE:
//         key       <path>
//         sz        <path> <name> <text>          (also expand_sz)
//         multi_sz  <path> <name> <text> <text>...
//         dword     <path> <name> <number, 0x for hex>
//         binary    <path> <name> <hex bytes>
//         device    <instance id> <class GUID> <description or -> <hardware id>...
//         service   <name> <binary path>
//   removal_road_helper export <output file> <path>...
//       Every key and value below the paths, one line each:
//         K <path>
//         V <path> <tab> <name> <tab> <type> <tab> <hex data>
//   removal_road_helper run <timeout seconds> <program> [arguments...]
//       Runs the program, answers every dialog box of it with OK and prints
//         BOX <tab> <caption> <tab> <text>
//       for each, then "EXIT <code>" or "TIMEOUT". Exit code 0 when the
//       program ended in time without a box, 1 with boxes, 2 on time-out.
//   removal_road_helper close-launcher
//       Posts WM_CLOSE to the windows of the launcher stand-in.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) fields.push_back(field);
    return fields;
}

bool SetValue(const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        fprintf(stderr, "cannot create %s: %ld\n", path.c_str(), status);
        return false;
    }
    status = RegSetValueExA(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) fprintf(stderr, "cannot set %s\\%s: %ld\n", path.c_str(), name.c_str(), status);
    return status == ERROR_SUCCESS;
}

std::vector<BYTE> TextBytes(const std::string& text)
{
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

std::vector<BYTE> MultiBytes(const std::vector<std::string>& texts, size_t first)
{
    std::vector<BYTE> data;
    for (size_t i = first; i < texts.size(); ++i) {
        data.insert(data.end(), texts[i].begin(), texts[i].end());
        data.push_back(0);
    }
    data.push_back(0);
    return data;
}

bool ParseGuid(const std::string& text, GUID* guid)
{
    unsigned long data1 = 0;
    unsigned int d[10] = {};
    if (sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &d[0], &d[1], &d[2],
               &d[3], &d[4], &d[5], &d[6], &d[7], &d[8], &d[9]) != 11)
        return false;
    guid->Data1 = data1;
    guid->Data2 = static_cast<unsigned short>(d[0]);
    guid->Data3 = static_cast<unsigned short>(d[1]);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<unsigned char>(d[2 + i]);
    return true;
}

bool CreateDevice(const std::vector<std::string>& f)
{
    GUID classGuid;
    if (!ParseGuid(f[2], &classGuid)) {
        fprintf(stderr, "bad GUID %s\n", f[2].c_str());
        return false;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    bool ok = SetupDiCreateDeviceInfoA(set, f[1].c_str(), &classGuid,
                                       f[3] == "-" ? nullptr : f[3].c_str(), nullptr, 0, &device);
    if (ok && f.size() > 4) {
        std::vector<BYTE> ids = MultiBytes(f, 4);
        ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, ids.data(),
                                               static_cast<DWORD>(ids.size()));
    }
    if (ok && f[3] != "-") {
        std::vector<BYTE> text = TextBytes(f[3]);
        ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, text.data(),
                                               static_cast<DWORD>(text.size()));
    }
    if (ok) ok = SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    if (!ok) fprintf(stderr, "device %s: error %lu\n", f[1].c_str(), GetLastError());
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

bool CreateDriverService(const std::string& name, const std::string& binary)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    if (!service) fprintf(stderr, "service %s: error %lu\n", name.c_str(), GetLastError());
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

int Seed(const char* file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fprintf(stderr, "cannot read %s\n", file);
        return 2;
    }
    std::string line;
    int failures = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f = Split(line);
        const std::string& op = f[0];
        bool ok = false;
        if (op == "key" && f.size() == 2) {
            HKEY key = nullptr;
            ok = RegCreateKeyExA(HKEY_LOCAL_MACHINE, f[1].c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr) == ERROR_SUCCESS;
            if (ok) RegCloseKey(key);
        } else if ((op == "sz" || op == "expand_sz") && f.size() == 4) {
            ok = SetValue(f[1], f[2], op == "sz" ? REG_SZ : REG_EXPAND_SZ, TextBytes(f[3]));
        } else if (op == "multi_sz" && f.size() >= 3) {
            ok = SetValue(f[1], f[2], REG_MULTI_SZ, MultiBytes(f, 3));
        } else if (op == "dword" && f.size() == 4) {
            DWORD value = static_cast<DWORD>(strtoul(f[3].c_str(), nullptr, 0));
            std::vector<BYTE> data(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + 4);
            ok = SetValue(f[1], f[2], REG_DWORD, data);
        } else if (op == "binary" && f.size() == 4) {
            std::vector<BYTE> data;
            for (size_t i = 0; i + 1 < f[3].size(); i += 2)
                data.push_back(static_cast<BYTE>(strtoul(f[3].substr(i, 2).c_str(), nullptr, 16)));
            ok = SetValue(f[1], f[2], REG_BINARY, data);
        } else if (op == "device" && f.size() >= 4) {
            ok = CreateDevice(f);
        } else if (op == "service" && f.size() == 3) {
            ok = CreateDriverService(f[1], f[2]);
        } else {
            fprintf(stderr, "bad line: %s\n", line.c_str());
        }
        if (!ok) ++failures;
    }
    return failures ? 1 : 0;
}

void ExportKey(HKEY parent, const std::string& path, const std::string& name,
               std::vector<std::string>& lines)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    lines.push_back("K " + path);
    for (DWORD i = 0;; ++i) {
        char valueName[16384];
        DWORD nameLength = sizeof(valueName);
        DWORD type = 0;
        DWORD size = 0;
        LONG status = RegEnumValueA(key, i, valueName, &nameLength, nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + 1);
        nameLength = sizeof(valueName);
        RegEnumValueA(key, i, valueName, &nameLength, nullptr, &type, data.data(), &size);
        std::string hex;
        char byte[3];
        for (DWORD b = 0; b < size; ++b) {
            snprintf(byte, sizeof(byte), "%02x", data[b]);
            hex += byte;
        }
        lines.push_back("V " + path + "\t" + valueName + "\t" + std::to_string(type) + "\t" + hex);
    }
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char child[512];
        DWORD length = sizeof(child);
        if (RegEnumKeyExA(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(child);
    }
    for (const std::string& child : children) ExportKey(key, path + "\\" + child, child, lines);
    RegCloseKey(key);
}

int Export(int argc, char** argv)
{
    std::vector<std::string> lines;
    for (int i = 3; i < argc; ++i) ExportKey(HKEY_LOCAL_MACHINE, argv[i], argv[i], lines);
    std::sort(lines.begin(), lines.end());
    std::ofstream out(argv[2], std::ios::binary);
    for (const std::string& line : lines) out << line << "\n";
    return out ? 0 : 2;
}

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

int Run(int argc, char** argv)
{
    int timeout = atoi(argv[2]);
    std::string commandLine;
    for (int i = 3; i < argc; ++i) {
        if (i > 3) commandLine += ' ';
        commandLine += std::string("\"") + argv[i] + "\"";
    }
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        printf("CANNOT START %lu\n", GetLastError());
        return 2;
    }
    CloseHandle(process.hThread);
    int boxes = 0;
    std::set<HWND> answered;
    DWORD start = GetTickCount();
    bool ended = false;
    while (GetTickCount() - start < static_cast<DWORD>(timeout) * 1000) {
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        BoxSearch search = {process.dwProcessId, {}};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.boxes) {
            if (answered.count(box)) continue;
            Sleep(200);  // let the box finish building its texts
            char caption[512] = "";
            char text[4096] = "";
            GetWindowTextA(box, caption, sizeof(caption));
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            for (char* p = text; *p; ++p) {
                if (*p == '\r' || *p == '\n' || *p == '\t') *p = ' ';
            }
            printf("BOX\t%s\t%s\n", caption, text);
            fflush(stdout);
            ++boxes;
            answered.insert(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    if (!ended) {
        TerminateProcess(process.hProcess, 99);
        printf("TIMEOUT\n");
        CloseHandle(process.hProcess);
        return 2;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    printf("EXIT %lu\n", code);
    return boxes ? 1 : 0;
}

BOOL CALLBACK CloseLauncher(HWND window, LPARAM)
{
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    if (lstrcmpA(className, "QuellinLauncherStandIn") == 0) PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "seed" && argc == 3) return Seed(argv[2]);
    if (command == "export" && argc >= 4) return Export(argc, argv);
    if (command == "run" && argc >= 4) return Run(argc, argv);
    if (command == "close-launcher") {
        EnumWindows(CloseLauncher, 0);
        return 0;
    }
    fprintf(stderr, "usage: removal_road_helper seed|export|run|close-launcher ...\n");
    return 2;
}
