#include "support/seed.h"

#include <windows.h>
#include <rpc.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using Bytes = std::vector<BYTE>;
using Fields = std::vector<std::string>;

Bytes Hex(const std::string& text)
{
    Bytes data;
    for (size_t i = 0; i + 1 < text.size(); i += 2) data.push_back(BYTE(strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    return data;
}

// The fields from `first` on, each terminated; a multi-string ends with one more.
Bytes Texts(const Fields& f, size_t first, bool list)
{
    std::string joined;
    for (size_t i = first; i < f.size(); ++i) joined += f[i] + '\0';
    if (list) joined += '\0';
    return Bytes(joined.begin(), joined.end());
}

bool SetValue(const std::string& path, const char* name, DWORD type, const Bytes& data)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS && name) status = RegSetValueExA(key, name, 0, type, data.data(), DWORD(data.size()));
    if (key) RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool CreateDevice(const Fields& f)
{
    GUID guid = {};
    if (f[2].size() != 38 || UuidFromStringA(reinterpret_cast<RPC_CSTR>(&f[2].substr(1, 36)[0]), &guid) != RPC_S_OK)
        return false;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {sizeof(device)};
    bool ok = SetupDiCreateDeviceInfoA(set, f[1].c_str(), &guid, f[3].c_str(), nullptr, 0, &device);
    bool exists = !ok && GetLastError() == ERROR_DEVINST_ALREADY_EXISTS;
    const Bytes ids = Texts(f, 4, true), description = Texts({f[3]}, 0, false);
    ok = ok && SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, ids.data(), DWORD(ids.size())) &&
         SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, description.data(), DWORD(description.size())) &&
         SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    SetupDiDestroyDeviceInfoList(set);
    return ok || exists;
}

bool CreateDriverService(const std::string& name, const std::string& binary)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    bool ok = service || GetLastError() == ERROR_SERVICE_EXISTS;
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok;
}

bool WriteFileBytes(const Fields& f)
{
    const std::string& path = f[1];
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    Bytes data = Hex(f[2]);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr) && written == data.size();
    CloseHandle(file);
    return ok && (f.size() < 4 || f[3] != "readonly" || SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
}

bool Apply(const Fields& f)
{
    const std::string& op = f[0];
    size_t n = f.size();
    if (op == "key" && n == 2) return SetValue(f[1], nullptr, 0, {});
    if ((op == "sz" || op == "expand_sz") && n == 4)
        return SetValue(f[1], f[2].c_str(), op == "sz" ? REG_SZ : REG_EXPAND_SZ, Texts(f, 3, false));
    if (op == "multi_sz" && n >= 3) return SetValue(f[1], f[2].c_str(), REG_MULTI_SZ, Texts(f, 3, true));
    if (op == "dword" && n == 4) {
        DWORD v = strtoul(f[3].c_str(), nullptr, 0);
        return SetValue(f[1], f[2].c_str(), REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)});
    }
    if (op == "binary" && n == 4) return SetValue(f[1], f[2].c_str(), REG_BINARY, Hex(f[3]));
    if (op == "device" && n >= 5) return CreateDevice(f);
    if (op == "service" && n == 3) return CreateDriverService(f[1], f[2]);
    return op == "file" && n >= 3 && WriteFileBytes(f);
}

void ExportKey(HKEY parent, const std::string& path, const std::string& name, std::vector<std::string>& lines)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    lines.push_back("K " + path);
    char text[16384] = {};
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(text), type = 0, size = 0;
        if (RegEnumValueA(key, i, text, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        Bytes data(size + 1);
        length = sizeof(text);
        RegEnumValueA(key, i, text, &length, nullptr, &type, data.data(), &size);
        std::string line = "V " + path + "\t" + text + "\t" + std::to_string(type) + "\t";
        char byte[3] = {};
        for (DWORD b = 0; b < size; ++b) line += (snprintf(byte, sizeof(byte), "%02x", data[b]), byte);
        lines.push_back(line);
    }
    std::vector<std::string> children;
    for (DWORD i = 0, length = sizeof(text);
         RegEnumKeyExA(key, i, text, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i, length = sizeof(text))
        children.push_back(text);
    for (const std::string& child : children) ExportKey(key, path + "\\" + child, child, lines);
    RegCloseKey(key);
}

}  // namespace

int ApplySeed(const std::vector<std::string>& lines)
{
    int failures = 0;
    for (const std::string& line : lines) {
        Fields fields;
        std::string field;
        for (std::istringstream in(line); std::getline(in, field, '\t');) fields.push_back(field);
        if (!fields.empty() && !Apply(fields)) {
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
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> ExportRegistry(const std::vector<std::string>& paths)
{
    std::vector<std::string> lines;
    for (const std::string& path : paths) ExportKey(HKEY_LOCAL_MACHINE, path, path, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}
