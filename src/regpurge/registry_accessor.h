// Registry operations of the purge: 1 when done or when the key or value is
// absent, 0 after a failure that has been shown with ShowSystemError.
#pragma once
#include <windows.h>
#include "shell/product.h"

class RegistryAccessor {
public:
    explicit RegistryAccessor(OsClass osClass) : osClass_(osClass) {}
    virtual ~RegistryAccessor() = default;

    int OpenSubKey(HKEY parent, const char* name, REGSAM access, HKEY* key);
    int OpenKeyByPath(HKEY root, const char* path, REGSAM access, HKEY* key);
    int OpenKeyById(HKEY root, UINT id, REGSAM access, HKEY* key);
    int ReadValue(HKEY key, const char* name, BYTE* destination, DWORD* length, DWORD* type);
    int ReadSubKeyValue(HKEY key, const char* subKey, const char* name, BYTE* destination,
                        DWORD* length, DWORD* type);
    int WriteSubKeyValue(HKEY key, const char* subKey, const char* name, const BYTE* data,
                         DWORD length, DWORD type);
    int ReadDriverValue(HKEY key, const char* instance, char* classPart, char* instancePart);
    int ReadPortName(HKEY key, const char* instance, char* portName);
    int ReadPortNumber(HKEY key, const char* instance, long* number);
    int FindDriverInfName(HKEY root, const char* deviceKeyPath, char* infBaseName);
    int GrantKeyAccess(const char* path, const char* relativePath);

    // Number of subkeys of an open key; a failure is shown and answers 0.
    int CountSubKeys(HKEY key, DWORD* count);
    // Name of the subkey at an index into a 261-byte buffer; any failure,
    // the end of the listing included, is shown and answers 0.
    int EnumSubKey(HKEY key, DWORD index, char* name);

private:
    OsClass osClass_;
};

// The number after the first three characters of a port name, read like
// atol (COM5 gives 5; three characters or fewer give 0).
long PortNumberOf(const char* portName);

// Grants BUILTIN\Administrators full control of one key; answers a Win32
// error code, 0 on success.
DWORD GrantAdminsFullControl(HKEY root, const char* path);
