#include "support/registry.h"

#include <algorithm>
#include <cstdio>

#include "support/import_patch.h"

namespace reg {

namespace {

struct Key {
    HKEY h = nullptr;
    ~Key()
    {
        if (h) RegCloseKey(h);
    }
};

}  // namespace

bool CreateKey(const std::string& path)
{
    Key key;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &key.h, nullptr) == ERROR_SUCCESS;
}

bool SetBinary(const std::string& path, const std::string& name, const std::vector<BYTE>& data,
               DWORD type)
{
    Key key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key.h, nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.h, name.c_str(), 0, type, data.data(),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool SetString(const std::string& path, const std::string& name, const std::string& value, DWORD type)
{
    std::vector<BYTE> data(value.begin(), value.end());
    data.push_back(0);
    if (type == REG_MULTI_SZ) data.push_back(0);
    return SetBinary(path, name, data, type);
}

bool SetDword(const std::string& path, const std::string& name, DWORD value)
{
    std::vector<BYTE> data(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + 4);
    return SetBinary(path, name, data, REG_DWORD);
}

bool KeyExists(const std::string& path)
{
    Key key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key.h) == ERROR_SUCCESS;
}

bool ValueExists(const std::string& path, const std::string& name)
{
    Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key.h) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExA(key.h, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::vector<BYTE> GetValue(const std::string& path, const std::string& name, DWORD* type)
{
    Key key;
    std::vector<BYTE> data;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key.h) != ERROR_SUCCESS)
        return data;
    DWORD size = 0;
    DWORD t = 0;
    if (RegQueryValueExA(key.h, name.c_str(), nullptr, &t, nullptr, &size) != ERROR_SUCCESS)
        return data;
    data.resize(size);
    RegQueryValueExA(key.h, name.c_str(), nullptr, &t, data.data(), &size);
    data.resize(size);
    if (type) *type = t;
    return data;
}

std::string GetString(const std::string& path, const std::string& name)
{
    std::vector<BYTE> data = GetValue(path, name);
    std::string text(data.begin(), data.end());
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::vector<std::string> SubKeys(const std::string& path)
{
    std::vector<std::string> names;
    Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key.h) != ERROR_SUCCESS)
        return names;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key.h, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    return names;
}

std::vector<std::string> ValueNames(const std::string& path)
{
    std::vector<std::string> names;
    Key key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key.h) != ERROR_SUCCESS)
        return names;
    char name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumValueA(key.h, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    return names;
}

void DeleteTree(const std::string& path)
{
    for (const std::string& sub : SubKeys(path)) DeleteTree(path + "\\" + sub);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

namespace {

void ExportInto(const std::string& path, const std::string& shown, std::vector<std::string>& lines)
{
    lines.push_back("[" + shown + "]");
    for (const std::string& name : ValueNames(path)) {
        DWORD type = 0;
        std::vector<BYTE> data = GetValue(path, name, &type);
        std::string line = "[" + shown + "] \"" + name + "\" type " + std::to_string(type) + " =";
        char hex[4];
        for (BYTE b : data) {
            std::snprintf(hex, sizeof(hex), " %02x", b);
            line += hex;
        }
        lines.push_back(line);
    }
    for (const std::string& sub : SubKeys(path)) ExportInto(path + "\\" + sub, shown + "\\" + sub, lines);
}

}  // namespace

std::string Export(const std::string& path)
{
    std::vector<std::string> lines;
    if (!KeyExists(path)) return "";
    ExportInto(path, path, lines);
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
}

}  // namespace reg

struct KeyBalance::Patches {
    static inline int opened = 0;
    static inline int closed = 0;
    static inline KeyBalance::Patches* self = nullptr;

    static LONG WINAPI Open(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY out)
    {
        auto original = reinterpret_cast<decltype(&RegOpenKeyExA)>(self->open.Original());
        LONG status = original(root, path, options, access, out);
        if (status == ERROR_SUCCESS) ++opened;
        return status;
    }
    static LONG WINAPI Create(HKEY root, LPCSTR path, DWORD reserved, LPSTR cls, DWORD options,
                             REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY out, LPDWORD disposition)
    {
        auto original = reinterpret_cast<decltype(&RegCreateKeyExA)>(self->create.Original());
        LONG status = original(root, path, reserved, cls, options, access, security, out, disposition);
        if (status == ERROR_SUCCESS) ++opened;
        return status;
    }
    static LONG WINAPI Close(HKEY key)
    {
        auto original = reinterpret_cast<decltype(&RegCloseKey)>(self->close.Original());
        LONG status = original(key);
        if (status == ERROR_SUCCESS) ++closed;
        return status;
    }

    ImportPatch open{"advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&Open)};
    ImportPatch create{"advapi32.dll", "RegCreateKeyExA", reinterpret_cast<void*>(&Create)};
    ImportPatch close{"advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&Close)};
};

KeyBalance::KeyBalance()
{
    Patches::opened = 0;
    Patches::closed = 0;
    patches_ = new Patches;
    Patches::self = patches_;
}

KeyBalance::~KeyBalance()
{
    delete patches_;
    Patches::self = nullptr;
}

int KeyBalance::Opened() const { return Patches::opened; }
int KeyBalance::Closed() const { return Patches::closed; }

RegistryScratch::RegistryScratch(std::vector<std::string> paths) : paths_(std::move(paths))
{
    for (const std::string& path : paths_) reg::DeleteTree(path);
}

RegistryScratch::~RegistryScratch()
{
    for (const std::string& path : paths_) reg::DeleteTree(path);
}
