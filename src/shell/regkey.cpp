#include "shell/regkey.h"

#include "shell/app.h"

namespace {

// Value names from the string table are taken as they stand.
bool LoadValueName(UINT id, char (&name)[260])
{
    name[0] = '\0';
    return LoadStringA(App().instance, id, name, sizeof(name)) > 0;
}

}  // namespace

RegKey::~RegKey() { CloseKey(); }

int RegKey::OpenKey(HKEY root, const char* path, REGSAM access)
{
    CloseKey();
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, access, &key) != ERROR_SUCCESS) return 0;
    key_ = key;
    return 1;
}

int RegKey::CloseKey()
{
    if (!key_) return 0;
    RegCloseKey(key_);
    key_ = nullptr;
    return 1;
}

int RegKey::ReadDword(const char* name, DWORD* value)
{
    if (!key_) return 0;
    // A value shorter than four bytes fills only its own bytes.
    BYTE data[4] = {0, 0, 0, 0};
    DWORD size = sizeof(data);
    if (RegQueryValueExA(key_, name, nullptr, nullptr, data, &size) != ERROR_SUCCESS) return 0;
    CopyMemory(value, data, sizeof(data));
    return 1;
}

int RegKey::ReadDwordById(UINT id, DWORD* value)
{
    char name[260] = {};
    if (!key_ || !LoadValueName(id, name)) return 0;
    return ReadDword(name, value);
}

int RegKey::WriteDword(const char* name, DWORD value)
{
    if (!key_) return 0;
    LONG status = RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof(value));
    return status == ERROR_SUCCESS ? 1 : 0;
}

int RegKey::WriteDwordById(UINT id, DWORD value)
{
    char name[260] = {};
    if (!key_ || !LoadValueName(id, name)) return 0;
    return WriteDword(name, value);
}
