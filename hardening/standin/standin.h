// Controls of the native stand-in for the few Windows calls the hardened
// routines make. Tests and fuzz targets use these to set up the world the
// routines see: the program's path, files and INI texts, string-table
// overrides, allocation failures, and the formatter's argument count.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Code page 936 through iconv's GBK: text in UTF-8 to GBK bytes and back.
// Characters GBK cannot hold become '?'. Used by tests to write readable
// expectations.
std::string Gbk(const std::string& utf8);
std::string Utf8(const std::string& gbk);

// GetModuleFileNameA answers this path (default C:\Quellin\Setup\Quellin9.exe).
void StandinSetModulePath(const std::string& path);

// GetWindowsDirectoryA answers this folder (default C:\WINDOWS);
// GetSystemDirectoryA the same with \system32.
void StandinSetWindowsDirectory(const std::string& folder);

// A file GetFileAttributesA and GetPrivateProfileStringA can find; the
// path is matched without regard to ASCII letter case.
void StandinAddFile(const std::string& path, const std::string& content, bool directory = false);
void StandinClearFiles();
void StandinSetFileReadOnly(const std::string& path);
bool StandinFileExists(const std::string& path);
// Names in a folder matching a pattern with * and ?, as FindFirstFileA
// lists them.
std::vector<std::string> StandinListFolder(const std::string& folder, const std::string& pattern,
                                           std::vector<DWORD>* attributes = nullptr);
// Searches opened with FindFirstFileA and not yet closed.
int StandinOpenSearches();
// The content of a file of the table; false when there is none.
bool StandinReadFile(const std::string& path, std::string* content);

// INF handles opened with SetupOpenInfFileA and not yet closed.
int StandinOpenInfs();

// LoadStringA answers this text (bytes in code page 936) for the id instead
// of the one from src/resources/strings.rc; an empty optional removes the id.
void StandinSetString(unsigned id, const std::string& text);
void StandinRemoveString(unsigned id);
void StandinResetStrings();

// The allocation with this index (0 = the next one) through HeapAlloc or
// LocalAlloc fails; -1 lets every allocation succeed. Counts from the call.
void StandinFailAllocation(int index);
int StandinAllocationsSeen();

// wvsprintfA may take at most this many arguments (-1: no limit). A
// directive beyond it takes no argument; StandinFormatOverread() then
// reports true until the limit is set again.
void StandinLimitFormatArguments(int count);
bool StandinFormatOverread();
int StandinFormatArgumentsTaken();

// The registry below HKEY_LOCAL_MACHINE, set up and read back by tests.
void StandinRegClear();
void StandinRegCreateKey(const std::string& path);
void StandinRegSetValue(const std::string& path, const std::string& name, DWORD type, const std::string& data);
bool StandinRegKeyExists(const std::string& path);
bool StandinRegGetValue(const std::string& path, const std::string& name, DWORD* type, std::string* data);
std::vector<std::string> StandinRegValueNames(const std::string& path);
std::vector<std::string> StandinRegSubKeys(const std::string& path);
// Registry handles opened and not closed.
int StandinOpenKeys();
// The registry call with this index (0 = the next, any Reg* function)
// answers the error; -1 for none. StandinRegistryCallsSeen counts calls.
void StandinFailRegistryCall(int index, LONG error);
int StandinRegistryCallsSeen();

// Key security: a DACL of entries for Everyone (type, mask), set on a key;
// whether a DACL grants the Administrators group full control.
std::string StandinMakeDacl(const std::vector<std::pair<BYTE, DWORD>>& everyoneEntries);
void StandinRegSetDacl(const std::string& path, const std::string& dacl);
bool StandinRegGetDacl(const std::string& path, std::string* dacl);
bool StandinDaclGrantsAdmins(const std::string& dacl);

// Message boxes shown, in order; every box is answered with the value
// (IDOK unless set).
struct StandinBox {
    std::string text;
    std::string caption;
    UINT style;
};
const std::vector<StandinBox>& StandinBoxes();
void StandinClearBoxes();
void StandinAnswerBoxes(int value);

// Processes started with CreateProcessA (none really runs); a start can be
// made to fail with an error; process and thread handles not yet closed.
struct StandinProcess {
    std::string application;
    std::string commandLine;
    DWORD flags;
    bool inheritHandles;
};
const std::vector<StandinProcess>& StandinProcesses();
void StandinClearProcesses();
void StandinFailProcessStart(DWORD error);
int StandinOpenKernelHandles();

// Puts everything above back to its default.
void StandinReset();
