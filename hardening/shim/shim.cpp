// The calls behind shim/windows.h, on glibc. The run's code page acts as Windows' ANSI
// one: 936 through iconv's GBK (lead bytes 0x81-0xFE, 0x80 the euro sign), 1252 through
// its CP1252 (which, unlike Windows, refuses the five unassigned bytes).
#include <windows.h>

#include <iconv.h>
#include <stdlib.h>
#include <vector>

namespace {

UINT activeCodePage = 936;

// Between the code page and UTF-16LE. An invalid or cut sequence fails the call: the
// product asks for that (MB_ERR_INVALID_CHARS), and what goes back came from the same
// code page. Descriptors are opened once: iconv_open costs far more than a conversion.
int Convert(UINT codePage, bool toWide, const void* in, size_t inLeft, void* out, int room)
{
    static iconv_t open[2][2] = {{(iconv_t)-1, (iconv_t)-1}, {(iconv_t)-1, (iconv_t)-1}};
    if (codePage == CP_ACP) codePage = activeCodePage;
    if ((codePage != 936 && codePage != 1252) || room < 0) return 0;
    const char* name = codePage == 936 ? "GBK" : "CP1252";
    iconv_t& cd = open[codePage == 936][toWide];
    if (cd == (iconv_t)-1) cd = toWide ? iconv_open("UTF-16LE", name) : iconv_open(name, "UTF-16LE");
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> result(2 * inLeft + 2);
    char* from = static_cast<char*>(const_cast<void*>(in));
    char* to = result.data();
    size_t outLeft = result.size();
    if (iconv(cd, &from, &inLeft, &to, &outLeft) == (size_t)-1) return 0;
    const size_t bytes = to - result.data();
    const int count = static_cast<int>(toWide ? bytes / 2 : bytes);
    // With no room given, the count; nothing when the result does not fit.
    if (room == 0) return count;
    if (count > room) return 0;
    memcpy(out, result.data(), bytes);
    return count;
}

}  // namespace

void ShimSetCodePage(UINT codePage) { activeCodePage = codePage; }

BOOL IsDBCSLeadByte(BYTE byte) { return activeCodePage == 936 && byte >= 0x81 && byte <= 0xFE; }

// The product always gives the length: -1 (up to the terminator) is not taken.
int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, WCHAR* out, int units)
{
    return length < 0 ? 0 : Convert(codePage, true, text, length, out, units);
}

int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* text, int units, LPSTR out, int size,
                        LPCSTR, BOOL*)
{
    return units < 0 ? 0 : Convert(codePage, false, text, 2 * static_cast<size_t>(units), out, size);
}

HANDLE GetProcessHeap() { return reinterpret_cast<HANDLE>(1); }

LPVOID HeapAlloc(HANDLE, DWORD how, size_t n) { return how & HEAP_ZERO_MEMORY ? calloc(1, n) : malloc(n); }

BOOL HeapFree(HANDLE, DWORD, LPVOID memory) { return free(memory), 1; }

int lstrlenA(LPCSTR text) { return text ? static_cast<int>(strlen(text)) : 0; }
LPSTR lstrcpyA(LPSTR to, LPCSTR from) { return strcpy(to, from); }
LPSTR lstrcatA(LPSTR to, LPCSTR from) { return strcat(to, from); }

// No string table natively: nothing is found. wvsprintfA only lets
// text.cpp link; no check formats.
int LoadStringA(HINSTANCE, UINT, LPSTR, int) { return 0; }
int wvsprintfA(LPSTR out, LPCSTR, va_list) { return *out = '\0', 0; }
