// Kernel and user calls of the native stand-in: last error, heap, the
// lstr* family, the program's path, a small table of files for attribute
// queries and INI reads, and stubs for the handles the owners name.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

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
    std::string path;  // as added, for listings
    std::string content;
    DWORD attributes;
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

// The Windows folder (C:\WINDOWS unless set) and its system32. A buffer
// too small gets nothing and the answer is the size needed.
namespace {

std::string& WindowsFolder()
{
    static std::string folder = "C:\\WINDOWS";
    return folder;
}

UINT AnswerFolder(const std::string& folder, LPSTR buffer, UINT size)
{
    if (folder.size() + 1 > size) return static_cast<UINT>(folder.size() + 1);
    memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<UINT>(folder.size());
}

}  // namespace

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) { return AnswerFolder(WindowsFolder(), buffer, size); }

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    return AnswerFolder(WindowsFolder() + "\\system32", buffer, size);
}

void StandinSetWindowsDirectory(const std::string& folder) { WindowsFolder() = folder; }

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
    return file->attributes;
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
    if (name.find('\\') == std::string::npos) name = WindowsFolder() + "\\" + name;
    std::string value = Trim(defaultValue ? defaultValue : "");
    const File* file = FindFile(name.c_str());
    if (file && !(file->attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::string found;
        if (FindProfileValue(file->content, section, key, &found)) value = found;
    }
    DWORD n = static_cast<DWORD>(value.size());
    if (n > size - 1) n = size - 1;
    memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return n;
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes)
{
    auto it = path ? Files().find(FoldCase(path)) : Files().end();
    if (it == Files().end()) {
        lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    DWORD kind = it->second.attributes & FILE_ATTRIBUTE_DIRECTORY;
    it->second.attributes = (attributes == FILE_ATTRIBUTE_NORMAL && !kind) ? FILE_ATTRIBUTE_NORMAL
                                                                            : ((attributes & ~FILE_ATTRIBUTE_NORMAL) | kind);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path)
{
    auto it = path ? Files().find(FoldCase(path)) : Files().end();
    if (it == Files().end()) {
        lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if (it->second.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    Files().erase(it);
    return TRUE;
}

// Searches: the pattern's folder is matched exactly, its last part with *
// and ? (without regard to ASCII case).
namespace {

struct Search {
    std::vector<std::string> names;
    std::vector<DWORD> attributes;
    size_t next = 0;
};

std::map<HANDLE, Search>& Searches()
{
    static std::map<HANDLE, Search> searches;
    return searches;
}

ULONG_PTR nextKernelHandle = 0x10000;
std::map<HANDLE, int>& KernelHandles()
{
    static std::map<HANDLE, int> handles;
    return handles;
}

bool Wildcard(const char* pattern, const char* name)
{
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') return Wildcard(pattern + 1, name) || (*name && Wildcard(pattern, name + 1));
    if (*name == '\0') return false;
    if (*pattern == '?' || *pattern == *name) return Wildcard(pattern + 1, name + 1);
    return false;
}

// Index of the last single-byte backslash, or -1.
int LastSeparator(const std::string& path)
{
    int found = -1;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (path[i] == '\\') found = static_cast<int>(i);
    }
    return found;
}

void Fill(const std::string& name, DWORD attributes, LPWIN32_FIND_DATAA found)
{
    memset(found, 0, sizeof(*found));
    found->dwFileAttributes = attributes;
    size_t n = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
    memcpy(found->cFileName, name.data(), n);
}

}  // namespace

std::vector<std::string> StandinListFolder(const std::string& folder, const std::string& pattern,
                                           std::vector<DWORD>* attributes)
{
    std::vector<std::string> names;
    std::string wantedFolder = FoldCase(folder);
    std::string wantedPattern = FoldCase(pattern);
    for (const auto& entry : Files()) {
        const std::string& path = entry.second.path;
        int cut = LastSeparator(path);
        if (cut < 0 || FoldCase(path.substr(0, cut)) != wantedFolder) continue;
        std::string name = path.substr(cut + 1);
        if (!Wildcard(wantedPattern.c_str(), FoldCase(name).c_str())) continue;
        names.push_back(name);
        if (attributes) attributes->push_back(entry.second.attributes);
    }
    return names;
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    std::string text = pattern ? pattern : "";
    int cut = LastSeparator(text);
    Search search;
    if (cut >= 0)
        search.names = StandinListFolder(text.substr(0, cut), text.substr(cut + 1), &search.attributes);
    if (search.names.empty()) {
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    Fill(search.names[0], search.attributes[0], found);
    search.next = 1;
    HANDLE handle = reinterpret_cast<HANDLE>(nextKernelHandle += 4);
    Searches()[handle] = search;
    return handle;
}

BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA found)
{
    auto it = Searches().find(handle);
    if (it == Searches().end()) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    Search& search = it->second;
    if (search.next >= search.names.size()) {
        lastError = ERROR_NO_MORE_FILES;
        return FALSE;
    }
    Fill(search.names[search.next], search.attributes[search.next], found);
    ++search.next;
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle)
{
    if (!Searches().erase(handle)) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

int StandinOpenSearches() { return static_cast<int>(Searches().size()); }

// Processes: recorded, "run" at once; their handles are counted.
namespace {

std::vector<StandinProcess>& Processes()
{
    static std::vector<StandinProcess> processes;
    return processes;
}

DWORD processStartError = 0;

HANDLE NewKernelHandle()
{
    HANDLE handle = reinterpret_cast<HANDLE>(nextKernelHandle += 4);
    KernelHandles()[handle] = 1;
    return handle;
}

}  // namespace

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL inherit, DWORD flags, LPVOID, LPCSTR, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION information)
{
    if (!startup || !information || startup->cb != sizeof(STARTUPINFOA)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    StandinProcess record{application ? application : "", commandLine ? commandLine : "", flags, inherit != 0};
    if (processStartError) {
        lastError = processStartError;
        return FALSE;
    }
    Processes().push_back(record);
    information->hProcess = NewKernelHandle();
    information->hThread = NewKernelHandle();
    information->dwProcessId = 100 + static_cast<DWORD>(Processes().size());
    information->dwThreadId = 200 + static_cast<DWORD>(Processes().size());
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD)
{
    if (!KernelHandles().count(handle)) {
        lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    if (!KernelHandles().erase(handle)) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

const std::vector<StandinProcess>& StandinProcesses() { return Processes(); }
void StandinClearProcesses() { Processes().clear(); }
void StandinFailProcessStart(DWORD error) { processStartError = error; }
int StandinOpenKernelHandles() { return static_cast<int>(KernelHandles().size()); }

void StandinSetModulePath(const std::string& path) { ModulePath() = path; }

void StandinAddFile(const std::string& path, const std::string& content, bool directory)
{
    Files()[FoldCase(path)] = File{path, content, static_cast<DWORD>(directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL)};
}

void StandinSetFileReadOnly(const std::string& path)
{
    auto it = Files().find(FoldCase(path));
    if (it != Files().end()) it->second.attributes = FILE_ATTRIBUTE_READONLY;
}

bool StandinFileExists(const std::string& path) { return Files().count(FoldCase(path)) != 0; }

void StandinClearFiles() { Files().clear(); }

bool StandinReadFile(const std::string& path, std::string* content)
{
    const File* file = FindFile(path.c_str());
    if (!file || (file->attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    *content = file->content;
    return true;
}

void StandinFailAllocation(int index)
{
    failAllocationAt = index;
    allocationsSeen = 0;
}

int StandinAllocationsSeen() { return allocationsSeen; }
