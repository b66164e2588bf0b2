// Just enough of <windows.h> for the product's text, path and matching routines, and their
// calls on glibc. Windows sizes where they matter: DWORD 32, WCHAR 16 bits.
#pragma once
#include <iconv.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#define WINAPI
#define CP_ACP 0
#define MB_ERR_INVALID_CHARS 0x08
#define HEAP_ZERO_MEMORY 0x08
#define LMEM_ZEROINIT 0x40
#define MAX_PATH 260
#define CopyMemory memcpy
#define MoveMemory memmove
#define lstrcpyA strcpy
#define lstrcatA strcat
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define LOWORD(x) ((WORD)((x) & 0xFFFF))
#define HIWORD(x) ((WORD)((x) >> 16))

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int UINT, *PUINT, DWORD, *LPDWORD;
typedef char16_t WCHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const void* LPCVOID;
typedef void *HANDLE, *LPVOID, *HINSTANCE, *HMODULE, *HLOCAL, *HKEY, *PSID, *HDEVINFO, *HINF, *SC_HANDLE;
typedef int(WINAPI* FARPROC)();
struct VS_FIXEDFILEINFO { DWORD dwFileVersionMS, dwFileVersionLS; };  // what paths.cpp reads

inline HANDLE GetProcessHeap() { return nullptr; }
inline LPVOID HeapAlloc(HANDLE, DWORD how, size_t n) { return how & HEAP_ZERO_MEMORY ? calloc(1, n) : malloc(n); }
inline BOOL HeapFree(HANDLE, DWORD, LPVOID memory) { return free(memory), 1; }
inline int lstrlenA(LPCSTR text) { return text ? static_cast<int>(strlen(text)) : 0; }

// The run's ANSI code page: 936 (the default; lead bytes 0x81-0xFE) through iconv's GBK, or 1252 through its
// CP1252 (which, unlike Windows', refuses the five unassigned bytes). An invalid or cut sequence fails, as the
// product asks (MB_ERR_INVALID_CHARS); with no room, the count; a result that does not fit, nothing.
inline UINT shimCodePage = 936;
inline BOOL IsDBCSLeadByte(BYTE byte) { return shimCodePage == 936 && byte >= 0x81 && byte <= 0xFE; }
inline int ShimConvert(UINT codePage, bool toWide, const void* in, int length, void* out, int room)
{
    static iconv_t opened[2][2] = {};  // once: iconv_open costs far more than a conversion
    if (codePage == CP_ACP) codePage = shimCodePage;
    if ((codePage != 936 && codePage != 1252) || length < 0 || room < 0) return 0;
    const char* name = codePage == 936 ? "GBK" : "CP1252";
    iconv_t& cd = opened[codePage == 936][toWide];
    if (!cd) cd = toWide ? iconv_open("UTF-16LE", name) : iconv_open(name, "UTF-16LE");
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    size_t inLeft = length, outLeft = 2 * inLeft + 2;
    std::vector<char> result(outLeft);
    char *from = static_cast<char*>(const_cast<void*>(in)), *to = result.data();
    if (iconv(cd, &from, &inLeft, &to, &outLeft) == (size_t)-1) return 0;
    const int bytes = static_cast<int>(to - result.data()), count = toWide ? bytes / 2 : bytes;
    if (room > 0 && count <= room) memcpy(out, result.data(), bytes);
    return room == 0 || count <= room ? count : 0;
}
#define MultiByteToWideChar(page, flags, text, length, out, units) ShimConvert(page, true, text, length, out, units)
#define WideCharToMultiByte(codePage, flags, text, units, out, size, fallback, used) \
    ShimConvert(codePage, false, text, 2 * (units), out, size)

// No string table, module or file to ask natively: these find nothing and fail.
inline int LoadStringA(HINSTANCE, UINT, LPSTR, int) { return 0; }
inline int wvsprintfA(LPSTR out, LPCSTR, va_list) { return *out = '\0', 0; }
inline DWORD GetModuleFileNameA(HMODULE, LPSTR, DWORD) { return 0; }
inline UINT GetSystemDirectoryA(LPSTR, UINT) { return 0; }
inline HMODULE LoadLibraryA(LPCSTR) { return nullptr; }
inline FARPROC GetProcAddress(HMODULE, LPCSTR) { return nullptr; }
inline BOOL FreeLibrary(HMODULE) { return 0; }
inline HLOCAL LocalAlloc(UINT, size_t) { return nullptr; }
inline HLOCAL LocalFree(HLOCAL memory) { return memory; }

// Named by the handle owners in shell/handles.h (setupapi.h and winsvc.h are empty; their results
// go unread). Declared, never defined: code that really closed one of these handles would not link.
BOOL RegCloseKey(HKEY), CloseHandle(HANDLE), FindClose(HANDLE), CloseServiceHandle(SC_HANDLE),
    SetupDiDestroyDeviceInfoList(HDEVINFO), SetupCloseInfFile(HINF), FreeSid(PSID);
