#include "support/seed.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) fields.push_back(field);
    return fields;
}

std::vector<BYTE> Hex(const std::string& text)
{
    std::vector<BYTE> data;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        data.push_back(static_cast<BYTE>(strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    return data;
}

// The texts from `first` on, each terminated; a multi-string ends with one more.
std::vector<BYTE> Texts(const std::vector<std::string>& f, size_t first, bool list)
{
    std::vector<BYTE> data;
    for (size_t i = first; i < f.size(); ++i) {
        data.insert(data.end(), f[i].begin(), f[i].end());
        data.push_back(0);
    }
    if (list) data.push_back(0);
    return data;
}

bool SetValue(const std::string& path, const char* name, DWORD type, const std::vector<BYTE>& data)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS && name)
        status = RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    if (key) RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool CreateDevice(const std::vector<std::string>& f)
{
    GUID guid = {};
    unsigned int d[10] = {};
    unsigned long d1 = 0;
    if (sscanf(f[2].c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d[0], &d[1], &d[2],
               &d[3], &d[4], &d[5], &d[6], &d[7], &d[8], &d[9]) != 11)
        return false;
    guid.Data1 = d1;
    guid.Data2 = static_cast<WORD>(d[0]);
    guid.Data3 = static_cast<WORD>(d[1]);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<BYTE>(d[2 + i]);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    bool ok = SetupDiCreateDeviceInfoA(set, f[1].c_str(), &guid, f[3].c_str(), nullptr, 0, &device);
    if (!ok && GetLastError() == ERROR_DEVINST_ALREADY_EXISTS) {
        SetupDiDestroyDeviceInfoList(set);
        return true;
    }
    const std::vector<BYTE> ids = Texts(f, 4, true), description = Texts({f[3]}, 0, false);
    ok = ok && SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, ids.data(),
                                                 static_cast<DWORD>(ids.size()));
    ok = ok && SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, description.data(),
                                                 static_cast<DWORD>(description.size()));
    ok = ok && SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
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
    bool ok = service || GetLastError() == ERROR_SERVICE_EXISTS;
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok;
}

bool WriteFileBytes(const std::vector<std::string>& f)
{
    std::string path = f[1];
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::vector<BYTE> data = Hex(f[2]);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
              written == data.size();
    CloseHandle(file);
    if (ok && f.size() > 3 && f[3] == "readonly") ok = SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    return ok;
}

bool Apply(const std::vector<std::string>& f)
{
    const std::string& op = f[0];
    if (op == "key" && f.size() == 2) return SetValue(f[1], nullptr, 0, {});
    if ((op == "sz" || op == "expand_sz") && f.size() == 4)
        return SetValue(f[1], f[2].c_str(), op == "sz" ? REG_SZ : REG_EXPAND_SZ, Texts(f, 3, false));
    if (op == "multi_sz" && f.size() >= 3) return SetValue(f[1], f[2].c_str(), REG_MULTI_SZ, Texts(f, 3, true));
    if (op == "dword" && f.size() == 4) {
        DWORD v = static_cast<DWORD>(strtoul(f[3].c_str(), nullptr, 0));
        return SetValue(f[1], f[2].c_str(), REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)});
    }
    if (op == "binary" && f.size() == 4) return SetValue(f[1], f[2].c_str(), REG_BINARY, Hex(f[3]));
    if (op == "device" && f.size() >= 5) return CreateDevice(f);
    if (op == "service" && f.size() == 3) return CreateDriverService(f[1], f[2]);
    if (op == "file" && f.size() >= 3) return WriteFileBytes(f);
    return false;
}

void ExportKey(HKEY parent, const std::string& path, const std::string& name, std::vector<std::string>& lines)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    lines.push_back("K " + path);
    for (DWORD i = 0;; ++i) {
        char valueName[16384] = {};
        DWORD nameLength = sizeof(valueName), type = 0, size = 0;
        if (RegEnumValueA(key, i, valueName, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + 1);
        nameLength = sizeof(valueName);
        RegEnumValueA(key, i, valueName, &nameLength, nullptr, &type, data.data(), &size);
        std::string hex;
        char byte[3] = {};
        for (DWORD b = 0; b < size; ++b) {
            snprintf(byte, sizeof(byte), "%02x", data[b]);
            hex += byte;
        }
        lines.push_back("V " + path + "\t" + valueName + "\t" + std::to_string(type) + "\t" + hex);
    }
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char child[512] = {};
        DWORD length = sizeof(child);
        if (RegEnumKeyExA(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(child);
    }
    for (const std::string& child : children) ExportKey(key, path + "\\" + child, child, lines);
    RegCloseKey(key);
}

}  // namespace

int ApplySeed(const std::vector<std::string>& lines)
{
    int failures = 0;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == '#') continue;
        if (!Apply(Split(line))) {
            fprintf(stderr, "seed line failed (error %lu): %s\n", GetLastError(), line.c_str());
            ++failures;
        }
    }
    return failures;
}

std::vector<std::string> ReadLines(const char* file)
{
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> ExportRegistry(const std::vector<std::string>& paths)
{
    std::vector<std::string> lines;
    for (const std::string& path : paths) ExportKey(HKEY_LOCAL_MACHINE, path, path, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}
