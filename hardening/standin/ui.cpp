// Message boxes are recorded and answered; the system's message texts are
// stand-ins of the form "System message N.".
#include <stdio.h>
#include <windows.h>

#include <string>
#include <vector>

#include "standin.h"

namespace {

std::vector<StandinBox>& Boxes()
{
    static std::vector<StandinBox> boxes;
    return boxes;
}

int answer = IDOK;

}  // namespace

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style)
{
    Boxes().push_back(StandinBox{text ? text : "", caption ? caption : "", style});
    return answer;
}

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD id, DWORD, LPSTR buffer, DWORD size, va_list*)
{
    char text[64];
    int n = snprintf(text, sizeof(text), "System message %lu.\r\n", static_cast<unsigned long>(id));
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        char* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, n + 1));
        if (!block) return 0;
        memcpy(block, text, n + 1);
        *reinterpret_cast<char**>(buffer) = block;
        return n;
    }
    if (!buffer || size < static_cast<DWORD>(n + 1)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(buffer, text, n + 1);
    return n;
}

const std::vector<StandinBox>& StandinBoxes() { return Boxes(); }
void StandinClearBoxes() { Boxes().clear(); }
void StandinAnswerBoxes(int value) { answer = value; }
