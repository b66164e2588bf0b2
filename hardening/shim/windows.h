// Just enough of <windows.h> for the product's text, path and matching routines;
// shim.cpp holds the calls. Windows sizes where they matter: DWORD 32, WCHAR 16 bits.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstring>

#define WINAPI
#define CP_ACP 0
#define MB_ERR_INVALID_CHARS 0x08
#define HEAP_ZERO_MEMORY 0x08
#define LMEM_ZEROINIT 0x40
#define MAX_PATH 260
#define CopyMemory memcpy
#define MoveMemory memmove
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define LOWORD(x) ((WORD)((x) & 0xFFFF))
#define HIWORD(x) ((WORD)((x) >> 16))

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD, *LPDWORD;
typedef unsigned int UINT, *PUINT;
typedef char16_t WCHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const void* LPCVOID;
typedef void *HANDLE, *LPVOID, *HINSTANCE, *HMODULE, *HLOCAL, *HKEY, *PSID, *HDEVINFO, *HINF, *SC_HANDLE;
typedef int(WINAPI* FARPROC)();
struct VS_FIXEDFILEINFO { DWORD dwFileVersionMS, dwFileVersionLS; };  // what paths.cpp reads

HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);
int lstrlenA(LPCSTR text);
LPSTR lstrcpyA(LPSTR to, LPCSTR from);
LPSTR lstrcatA(LPSTR to, LPCSTR from);
BOOL IsDBCSLeadByte(BYTE byte);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, WCHAR* out, int units);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* text, int units, LPSTR out, int size,
                        LPCSTR defaultChar, BOOL* usedDefault);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
int wvsprintfA(LPSTR out, LPCSTR format, va_list args);
void ShimSetCodePage(UINT codePage);  // the run's ANSI code page: 936 (the default) or 1252

// GetModuleDirectory and GetFileVersion in paths.cpp link against these;
// with no module or file to ask, they fail.
inline DWORD GetModuleFileNameA(HMODULE, LPSTR, DWORD) { return 0; }
inline UINT GetSystemDirectoryA(LPSTR, UINT) { return 0; }
inline HMODULE LoadLibraryA(LPCSTR) { return nullptr; }
inline FARPROC GetProcAddress(HMODULE, LPCSTR) { return nullptr; }
inline BOOL FreeLibrary(HMODULE) { return 0; }
inline HLOCAL LocalAlloc(UINT, size_t) { return nullptr; }
inline HLOCAL LocalFree(HLOCAL memory) { return memory; }

// Named by the handle owners in shell/handles.h. Declared, never defined:
// code that really closed one of these handles would not link.
long RegCloseKey(HKEY key);
BOOL CloseHandle(HANDLE), FindClose(HANDLE), CloseServiceHandle(HANDLE), SetupDiDestroyDeviceInfoList(HANDLE);
void SetupCloseInfFile(HINF inf);
PSID FreeSid(PSID sid);
