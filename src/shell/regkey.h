// Owner of one open registry key with 4-byte value access; used for the
// product key's install flag.
#pragma once
#include <windows.h>

class RegKey {
public:
    RegKey() = default;
    virtual ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    int OpenKey(HKEY root, const char* path, REGSAM access);
    int CloseKey();
    int ReadDword(const char* name, DWORD* value);
    int ReadDwordById(UINT id, DWORD* value);
    int WriteDword(const char* name, DWORD value);
    int WriteDwordById(UINT id, DWORD value);

private:
    HKEY key_ = nullptr;
};
