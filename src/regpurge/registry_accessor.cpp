#include "regpurge/registry_accessor.h"

#include "resources/ids.h"
#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

const char kRootName[] = "HKEY_LOCAL_MACHINE";

// Registry key names hold at most 255 characters; a longer component names
// no key at all.
const int kComponentMax = PATH_MAX_CHARS;

// Position of the first backslash that is a character of its own (a trail
// byte 0x5C of a double-byte character is not one), or -1.
int FindSeparator(const char* text)
{
    for (int i = 0; text[i] != '\0'; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i]))) {
            if (text[i + 1] == '\0') break;
            ++i;
            continue;
        }
        if (text[i] == '\\') return i;
    }
    return -1;
}

// Exact, case-sensitive comparison (lstrcmpA sorts by locale rules).
bool SameBytes(const char* a, const char* b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace

int RegistryAccessor::OpenSubKey(HKEY parent, const char* name, REGSAM access, HKEY* key)
{
    *key = nullptr;
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExA(parent, name, 0, access | KEY_READ, &opened);
    if (status == ERROR_SUCCESS) {
        *key = opened;
        return 1;
    }
    if (status == ERROR_FILE_NOT_FOUND) return 1;
    ShowSystemError(status);
    return 0;
}

int RegistryAccessor::OpenKeyByPath(HKEY root, const char* path, REGSAM access, HKEY* key)
{
    *key = nullptr;
    UniqueHkey current;  // empty while the current key is the root
    const char* rest = path;
    for (int separator = FindSeparator(rest); separator >= 0; separator = FindSeparator(rest)) {
        if (separator > kComponentMax) return 1;
        char component[PATH_BUFFER] = {};
        CopyMemory(component, rest, separator);
        component[separator] = '\0';
        rest += separator + 1;
        if (SameBytes(component, kRootName)) continue;
        HKEY next = nullptr;
        int result = OpenSubKey(current ? current.Get() : root, component, KEY_READ, &next);
        current.Reset(next);
        if (result == 0) return 0;
        if (!current) return 1;
    }
    if (rest[0] == '\0') {
        *key = current.Release();
        return 1;
    }
    if (lstrlenA(rest) > kComponentMax) return 1;
    HKEY last = nullptr;
    int result = OpenSubKey(current ? current.Get() : root, rest, access, &last);
    *key = last;
    return result;
}

int RegistryAccessor::OpenKeyById(HKEY root, UINT id, REGSAM access, HKEY* key)
{
    *key = nullptr;
    char path[PATH_BUFFER] = {0};
    if (LoadText(id, path) == 0) return 0;
    return OpenKeyByPath(root, path, access, key);
}

int RegistryAccessor::ReadValue(HKEY key, const char* name, BYTE* destination, DWORD* length,
                                DWORD* type)
{
    if (!key) return 1;
    DWORD capacity = *length;
    // One byte is held back so that whatever the registry holds, the text
    // read stays terminated: a value that fills the buffer counts as too long.
    BYTE local[PATH_BUFFER] = {0};
    DWORD size = PATH_BUFFER - 1;
    DWORD valueType = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &valueType, local, &size);
    if (status == ERROR_FILE_NOT_FOUND) return 1;
    // A value the caller's buffer cannot hold whole is no more use than one
    // the registry would not give.
    if (status == ERROR_SUCCESS && size > capacity) status = ERROR_MORE_DATA;
    if (status != ERROR_SUCCESS) {
        ShowSystemError(status);
        return 0;
    }
    CopyMemory(destination, local, size);
    if (size < capacity) destination[size] = 0;
    *length = size;
    if (type) *type = valueType;
    return 1;
}

int RegistryAccessor::ReadSubKeyValue(HKEY key, const char* subKey, const char* name,
                                      BYTE* destination, DWORD* length, DWORD* type)
{
    if (!key) return 1;
    UniqueHkey sub;
    if (OpenSubKey(key, subKey, KEY_READ, sub.Put()) == 0) return 0;
    if (!sub) return 1;
    return ReadValue(sub.Get(), name, destination, length, type);
}

int RegistryAccessor::WriteSubKeyValue(HKEY key, const char* subKey, const char* name,
                                       const BYTE* data, DWORD length, DWORD type)
{
    if (!key) return 1;
    UniqueHkey sub;
    if (OpenSubKey(key, subKey, KEY_WRITE, sub.Put()) == 0) return 0;
    if (!sub) return 1;
    LONG status = RegSetValueExA(sub.Get(), name, 0, type, data, length);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return 1;
    ShowSystemError(status);
    return 0;
}

int RegistryAccessor::ReadDriverValue(HKEY key, const char* instance, char* classPart,
                                      char* instancePart)
{
    classPart[0] = '\0';
    instancePart[0] = '\0';
    char text[PATH_BUFFER] = {0};
    DWORD length = sizeof(text);
    DWORD type = 0;
    if (ReadSubKeyValue(key, instance, "Driver", reinterpret_cast<BYTE*>(text), &length, &type) == 0)
        return 0;
    int separator = FindSeparator(text);
    // Without a backslash the value names no driver key; both parts stay empty.
    if (separator < 0) return 1;
    CopyMemory(classPart, text, separator);
    classPart[separator] = '\0';
    lstrcpyA(instancePart, text + separator + 1);
    return 1;
}

int RegistryAccessor::ReadPortName(HKEY key, const char* instance, char* portName)
{
    UniqueHkey instanceKey;
    if (OpenSubKey(key, instance, KEY_READ, instanceKey.Put()) == 0) return 0;
    if (!instanceKey) return 1;
    char text[PATH_BUFFER] = {0};
    DWORD length = sizeof(text);
    DWORD type = 0;
    int result = ReadSubKeyValue(instanceKey.Get(), "Device Parameters", "PortName",
                                 reinterpret_cast<BYTE*>(text), &length, &type);
    instanceKey.Reset();
    if (result == 0) return 0;
    if (text[0] != '\0') lstrcpyA(portName, text);
    return result;
}

int RegistryAccessor::ReadPortNumber(HKEY key, const char* instance, long* number)
{
    *number = 0;
    char name[PATH_BUFFER] = {0};
    int result = ReadPortName(key, instance, name);
    if (result == 0) return 0;
    *number = PortNumberOf(name);
    return result;
}

long PortNumberOf(const char* portName)
{
    if (lstrlenA(portName) <= 3) return 0;
    // Read like atol, but a number too large for a long stops growing
    // instead of overflowing.
    const char* p = portName + 3;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        int digit = *p - '0';
        if (value > (0x7FFFFFFFL - digit) / 10) {
            value = 0x7FFFFFFFL;
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

int RegistryAccessor::FindDriverInfName(HKEY root, const char* deviceKeyPath, char* infBaseName)
{
    UniqueHkey deviceKey;
    if (OpenKeyByPath(root, deviceKeyPath, KEY_READ, deviceKey.Put()) == 0 || !deviceKey) return 0;
    DWORD count = 0;
    if (!CountSubKeys(deviceKey.Get(), &count)) return 0;
    char infPath[PATH_BUFFER] = {0};
    // Opened at the first instance that names a driver key and kept for the
    // rest of the walk: one open serves every instance.
    UniqueHkey classRoot;
    for (DWORD index = 0; index < count; ++index) {
        char instance[PATH_BUFFER] = {0};
        if (!EnumSubKey(deviceKey.Get(), index, instance)) return 0;
        char classPart[PATH_BUFFER] = {0};
        char number[PATH_BUFFER] = {0};
        if (ReadDriverValue(deviceKey.Get(), instance, classPart, number) == 0 ||
            classPart[0] == '\0' || number[0] == '\0')
            continue;
        if (!classRoot &&
            (OpenKeyById(HKEY_LOCAL_MACHINE, IDS_CONTROL_CLASS, KEY_READ, classRoot.Put()) == 0 ||
             !classRoot))
            return 0;
        UniqueHkey classKey;
        if (OpenSubKey(classRoot.Get(), classPart, KEY_READ, classKey.Put()) == 0 || !classKey)
            continue;
        // The walk ends at the first driver key that exists, whether or not
        // it names an INF file; a missing driver key sends it on.
        UniqueHkey driverKey;
        if (OpenSubKey(classKey.Get(), number, KEY_READ, driverKey.Put()) == 0 || !driverKey)
            continue;
        DWORD length = sizeof(infPath);
        DWORD type = 0;
        if (ReadValue(driverKey.Get(), "InfPath", reinterpret_cast<BYTE*>(infPath), &length,
                      &type) == 1)
            break;
        infPath[0] = '\0';
    }
    classRoot.Reset();
    deviceKey.Reset();
    int dot = -1;
    for (int i = 0; infPath[i] != '\0'; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(infPath[i]))) {
            if (infPath[i + 1] == '\0') break;
            ++i;
            continue;
        }
        if (infPath[i] == '.') {
            dot = i;
            break;
        }
    }
    // An empty stem would match every entry of the callers' value sweeps.
    if (dot <= 0) return 0;
    CopyMemory(infBaseName, infPath, dot);
    infBaseName[dot] = '\0';
    return 1;
}

int RegistryAccessor::CountSubKeys(HKEY key, DWORD* count)
{
    *count = 0;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, count, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) return 1;
    ShowSystemError(status);
    return 0;
}

int RegistryAccessor::EnumSubKey(HKEY key, DWORD index, char* name)
{
    DWORD length = PATH_BUFFER;
    LONG status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) return 1;
    ShowSystemError(status);
    return 0;
}
