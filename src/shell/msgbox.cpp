#include "shell/msgbox.h"

#include <stdarg.h>

#include "shell/app.h"
#include "shell/text.h"

namespace {

unsigned long systemErrorsShown = 0;

void ShowStringBox(HWND owner, UINT id, UINT style, va_list args)
{
    char text[2048] = {};
    LoadStringA(App().instance, id, text, sizeof(text));
    Placeholders().SubstituteForFormat(text, sizeof(text));
    char message[4096] = {};
    FormatBounded(message, sizeof(message), text, args);
    MessageBoxA(owner, message, App().title, style);
}

}  // namespace

void ShowErrorBox(HWND owner, UINT id, ...)
{
    va_list args;
    va_start(args, id);
    ShowStringBox(owner, id, MB_ICONERROR, args);
    va_end(args);
}

void ShowInfoBox(HWND owner, UINT id, ...)
{
    va_list args;
    va_start(args, id);
    ShowStringBox(owner, id, MB_ICONINFORMATION, args);
    va_end(args);
}

unsigned long SystemErrorsShown() { return systemErrorsShown; }

void ShowSystemError(DWORD code)
{
    ++systemErrorsShown;
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<char*>(&text), 0, nullptr);
    if (n != 0 && text) {
        MessageBoxA(nullptr, text, "Error", MB_ICONERROR);
    } else {
        // The system has no text for this code; the number still tells.
        char fallback[64] = {};
        wsprintfA(fallback, "Error code %lu (0x%08lX)", code, code);
        MessageBoxA(nullptr, fallback, "Error", MB_ICONERROR);
    }
    if (text) LocalFree(text);
}
