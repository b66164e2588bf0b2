#include "shell/app.h"

InstallMode ScanCommandLine(const char* commandLine, DWORD* showVersionLabel)
{
    InstallMode mode = None;
    if (!commandLine) return mode;
    for (const char* p = commandLine; *p; ++p) {
        if (*p != '/' && *p != '-') continue;
        switch (p[1]) {
        case 'I':
        case 'i': mode = Install; break;
        case 'R':
        case 'r': mode = Remove; break;
        case 'V':
        case 'v': *showVersionLabel = 0; break;
        default: break;
        }
    }
    return mode;
}
