// Kernel and user calls of the native stand-in: last error, heap, the
// lstr* family, the program's path, a small table of files for attribute
// queries and INI reads, and stubs for the handles the owners name.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <map>
#include <string>

#include "standin.h"

namespace {

thread_local DWORD lastError = 0;

int failAllocationAt = -1;
int allocationsSeen = 0;

std::string& ModulePath()
{
    static std::string path = "C:\\Quellin\\Setup\\Quellin9.exe";
    return path;
}

struct File {
    std::string content;
    bool directory;
};

std::string FoldCase(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::map<std::string, File>& Files()
{
    static std::map<std::string, File> files;
    return files;
}

const File* FindFile(const char* path)
{
    auto it = Files().find(FoldCase(path));
    return it == Files().end() ? nullptr : &it->second;
}

bool AllocationAllowed()
{
    int index = allocationsSeen++;
    if (failAllocationAt >= 0 && index == failAllocationAt) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return true;
}

[[noreturn]] void NotNative(const char* name)
{
    fprintf(stderr, "standin: %s is not part of the native build\n", name);
    abort();
}

std::string Trim(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\r')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r')) --e;
    return text.substr(b, e - b);
}

// The profile reader's view of an INI text: "[section]" lines, "key=value"
// lines, names compared without regard to ASCII case, blanks around names
// and values dropped, one pair of enclosing quotes removed from a value.
bool FindProfileValue(const std::string& content, const std::string& section, const std::string& key,
                      std::string* value)
{
    std::string wantedSection = FoldCase(section);
    std::string wantedKey = FoldCase(key);
    bool inSection = false;
    size_t pos = 0;
    while (pos <= content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        std::string line = Trim(content.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = FoldCase(name) == wantedSection;
            continue;
        }
        if (!inSection) continue;
        size_t eq = line.find('=');
        std::string name = Trim(line.substr(0, eq));
        if (FoldCase(name) != wantedKey) continue;
        std::string text = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
        if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
            text = text.substr(1, text.size() - 2);
        *value = text;
        return true;
    }
    return false;
}

}  // namespace

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD code) { lastError = code; }

// Heap: malloc underneath, so AddressSanitizer sees every block.
HANDLE WINAPI GetProcessHeap(void)
{
    static int heap;
    return &heap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (!heap || !AllocationAllowed()) return nullptr;
    void* block = (flags & HEAP_ZERO_MEMORY) ? calloc(bytes ? bytes : 1, 1) : malloc(bytes ? bytes : 1);
    if (!block) lastError = ERROR_NOT_ENOUGH_MEMORY;
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID memory)
{
    if (!heap) return FALSE;
    free(memory);
    return TRUE;
}

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes)
{
    if (!AllocationAllowed()) return nullptr;
    return (flags & LMEM_ZEROINIT) ? calloc(bytes ? bytes : 1, 1) : malloc(bytes ? bytes : 1);
}

HLOCAL WINAPI LocalFree(HLOCAL memory)
{
    free(memory);
    return nullptr;
}

// lstr*: byte-wise like the real ones; a null text counts as empty where
// Windows would catch the fault.
int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(strlen(text)) : 0; }

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source)
{
    if (!destination || !source) return nullptr;
    return strcpy(destination, source);
}

LPSTR WINAPI lstrcpynA(LPSTR destination, LPCSTR source, int size)
{
    if (!destination || !source || size <= 0) return destination;
    int i = 0;
    for (; i < size - 1 && source[i]; ++i) destination[i] = source[i];
    destination[i] = '\0';
    return destination;
}

LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source)
{
    if (!destination || !source) return nullptr;
    return strcat(destination, source);
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return strcmp(a ? a : "", b ? b : ""); }

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b)
{
    std::string x = FoldCase(a ? a : ""), y = FoldCase(b ? b : "");
    return x < y ? -1 : (x == y ? 0 : 1);
}

// The program's path. Cut as Windows XP does: size characters without a
// terminator, answering size.
DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size)
{
    const std::string& path = ModulePath();
    if (path.empty()) {
        lastError = ERROR_MOD_NOT_FOUND;
        return 0;
    }
    if (path.size() >= size) {
        memcpy(buffer, path.data(), size);
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    const char windows[] = "C:\\WINDOWS";
    if (size < sizeof(windows)) return sizeof(windows);
    memcpy(buffer, windows, sizeof(windows));
    return sizeof(windows) - 1;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    const char system[] = "C:\\WINDOWS\\system32";
    if (size < sizeof(system)) return sizeof(system);
    memcpy(buffer, system, sizeof(system));
    return sizeof(system) - 1;
}

// No DLLs natively: the version routines then report no version resource.
HMODULE WINAPI LoadLibraryA(LPCSTR)
{
    lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE) { return TRUE; }

FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR)
{
    lastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path)
{
    const File* file = path ? FindFile(path) : nullptr;
    if (!file) {
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    return file->directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

// Copies the value, or the default, cut at size - 1 bytes without regard
// to double-byte characters (the harshest cut a profile reader makes).
DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                                      DWORD size, LPCSTR fileName)
{
    if (!buffer || size == 0) return 0;
    if (!section || !key) NotNative("GetPrivateProfileStringA listing names");
    std::string name = fileName ? fileName : "";
    // A bare name is looked for in the Windows folder.
    if (name.find('\\') == std::string::npos) name = "C:\\WINDOWS\\" + name;
    std::string value = Trim(defaultValue ? defaultValue : "");
    const File* file = FindFile(name.c_str());
    if (file && !file->directory) {
        std::string found;
        if (FindProfileValue(file->content, section, key, &found)) value = found;
    }
    DWORD n = static_cast<DWORD>(value.size());
    if (n > size - 1) n = size - 1;
    memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return n;
}

BOOL WINAPI CloseHandle(HANDLE) { NotNative("CloseHandle"); }
BOOL WINAPI FindClose(HANDLE) { NotNative("FindClose"); }

void StandinSetModulePath(const std::string& path) { ModulePath() = path; }

void StandinAddFile(const std::string& path, const std::string& content, bool directory)
{
    Files()[FoldCase(path)] = File{content, directory};
}

void StandinClearFiles() { Files().clear(); }

bool StandinReadFile(const std::string& path, std::string* content)
{
    const File* file = FindFile(path.c_str());
    if (!file || file->directory) return false;
    *content = file->content;
    return true;
}

void StandinFailAllocation(int index)
{
    failAllocationAt = index;
    allocationsSeen = 0;
}

int StandinAllocationsSeen() { return allocationsSeen; }
