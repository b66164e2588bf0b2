#include "shell/paths.h"

#include "shell/app.h"
#include "shell/handles.h"

int DbcsStateAt(const char* text, int index)
{
    if (index < 0) return 0;
    int state = 0;
    for (int i = 0; i <= index; ++i) {
        // Past the terminator there is no character to classify.
        if (text[i] == '\0') return 0;
        if (state == 1) {
            state = 2;
        } else {
            state = IsDBCSLeadByte(static_cast<BYTE>(text[i])) ? 1 : 0;
        }
    }
    return state;
}

int CopyBounded(char* destination, const char* source, int maximum, int* copied)
{
    int n = lstrlenA(source);
    int result = 1;
    if (n > maximum) {
        n = maximum;
        if (DbcsStateAt(source, maximum) == 2) --n;
        result = 0;
    }
    if (n < 0) n = 0;
    CopyMemory(destination, source, n);
    destination[n] = '\0';
    if (copied) *copied = n;
    return result;
}

int AppendBounded(char* destination, const char* text, int maximum, int* length)
{
    int p = lstrlenA(destination);
    if (p > maximum) {
        if (length) *length = p;
        return 1;
    }
    int n = lstrlenA(text);
    int result = 1;
    if (n > maximum - p) {
        n = maximum - p;
        if (n > 0 && DbcsStateAt(text, n) == 2) --n;
        result = 0;
    }
    CopyMemory(destination + p, text, n);
    destination[p + n] = '\0';
    if (length) *length = p + n;
    return result;
}

int GetModuleDirectory(char* buffer, int size)
{
    if (size < 1) return 0;
    DWORD n = GetModuleFileNameA(App().instance, buffer, size);
    // A name cut to the buffer is no use as a folder.
    if (n == 0 || n >= static_cast<DWORD>(size)) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[n] = '\0';
    for (int i = static_cast<int>(n) - 1; i >= 0; --i) {
        if (buffer[i] == '\\' && DbcsStateAt(buffer, i) == 0) {
            buffer[i + 1] = '\0';
            return 1;
        }
    }
    buffer[0] = '\0';
    return 0;
}

int AddBackslash(char* path, int size)
{
    int n = lstrlenA(path);
    if (n >= size - 1 || n < 1) return 0;
    // The trail byte of a character such as 0xD5 0x5C is no backslash.
    if (path[n - 1] == '\\' && DbcsStateAt(path, n - 1) == 0) return 0;
    path[n] = '\\';
    path[n + 1] = '\0';
    return 1;
}

int RemoveBackslash(char* path)
{
    int n = lstrlenA(path);
    if (n < 2) return 0;
    if (DbcsStateAt(path, n - 1) != 0 || path[n - 1] != '\\') return 0;
    if (DbcsStateAt(path, n - 2) == 0 && path[n - 2] != ':') path[n - 1] = '\0';
    return 1;
}

int ReplaceExtension(char* path, const char* extension, int maximum)
{
    int n = lstrlenA(path);
    if (n == 0) return 0;
    for (int i = n - 1; i >= 0;) {
        int state = DbcsStateAt(path, i);
        if (state == 2) {
            i -= 2;
            continue;
        }
        if (state == 0 && path[i] == '.') {
            path[i] = '\0';
            break;
        }
        --i;
    }
    // A cut extension would name some other file: only a whole one counts.
    int cut = lstrlenA(path);
    int length = 0;
    if (AppendBounded(path, extension, maximum, &length) != 1) return 0;
    return length == cut + lstrlenA(extension) ? 1 : 0;
}

int IsDosDeviceName(const char* name)
{
    // The part before the first dot, without the trailing blanks that
    // Windows drops: "com1 .inf" is the port too.
    int n = 0;
    while (name[n] != '\0' && name[n] != '.') ++n;
    while (n > 0 && name[n - 1] == ' ') --n;
    const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "COM#", "LPT#"};
    for (const char* device : devices) {
        int i = 0;
        for (; i < n && device[i] != '\0'; ++i) {
            char c = name[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            // '#' stands for the digits 1 to 9 (COM0 and LPT0 are plain names).
            if (device[i] == '#' ? c < '1' || c > '9' : c != device[i]) break;
        }
        if (i == n && device[i] == '\0') return 1;
    }
    return 0;
}

// version.dll is not one of the system's known DLLs, so it is loaded from
// the system folder by full path rather than imported (an import would be
// resolved through the program's own folder first).
namespace {

typedef DWORD(WINAPI* SizeFn)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* InfoFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* QueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);

bool ReadFixedFileInfo(const char* path, VS_FIXEDFILEINFO* info)
{
    char dllPath[MAX_PATH + 16] = {};
    UINT n = GetSystemDirectoryA(dllPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    lstrcatA(dllPath, "\\version.dll");
    UniqueModule module(LoadLibraryA(dllPath));
    if (!module) return false;
    SizeFn getSize = reinterpret_cast<SizeFn>(GetProcAddress(module.Get(), "GetFileVersionInfoSizeA"));
    InfoFn getInfo = reinterpret_cast<InfoFn>(GetProcAddress(module.Get(), "GetFileVersionInfoA"));
    QueryFn query = reinterpret_cast<QueryFn>(GetProcAddress(module.Get(), "VerQueryValueA"));
    if (!getSize || !getInfo || !query) return false;

    DWORD handle = 0;
    DWORD size = getSize(path, &handle);
    if (size == 0) return false;
    UniqueLocalMem memory(LocalAlloc(LMEM_ZEROINIT, size + 100));
    if (!memory) return false;
    void* block = memory.Get();
    if (!getInfo(path, 0, size, block)) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (!query(block, "\\", reinterpret_cast<void**>(&fixed), &fixedLength) || !fixed ||
        fixedLength < sizeof(VS_FIXEDFILEINFO))
        return false;
    *info = *fixed;
    return true;
}

}  // namespace

DWORD GetFileVersionMS(const char* path)
{
    VS_FIXEDFILEINFO info;
    if (!ReadFixedFileInfo(path, &info)) return 0;
    return info.dwFileVersionMS;
}

int GetFileVersion(const char* path, WORD* major, WORD* minor, WORD* build, WORD* revision)
{
    VS_FIXEDFILEINFO info;
    if (!ReadFixedFileInfo(path, &info)) return 0;
    if (major) *major = HIWORD(info.dwFileVersionMS);
    if (minor) *minor = LOWORD(info.dwFileVersionMS);
    if (build) *build = HIWORD(info.dwFileVersionLS);
    if (revision) *revision = LOWORD(info.dwFileVersionLS);
    return 1;
}
