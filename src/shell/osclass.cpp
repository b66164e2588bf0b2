#include "shell/osclass.h"

#include <windows.h>

OsClass GetOsClass()
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);  // 148
    // A failed query leaves the structure zeroed, which reads as Windows 95:
    // the road on which the program changes nothing.
    GetVersionExA(&info);
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        if (info.dwMinorVersion == 10) return OsWin98;
        if (info.dwMinorVersion == 90) return OsWinMe;
        return OsWin95;
    }
    if (info.dwMajorVersion < 5) return OsNtOther;
    if (info.dwMajorVersion == 6) return OsWinVista;
    if (info.dwMajorVersion > 6) return OsWinLater;
    switch (info.dwMinorVersion) {
    case 0: return OsWin2000;
    case 1: return OsWinXP;
    case 2: return OsWinServer2003;
    default: return OsNtOther;
    }
}

int GetServicePackVersion(unsigned long* major, unsigned long* minor)
{
    OSVERSIONINFOEXA info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);  // 156
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return 0;
    *major = info.wServicePackMajor;
    if (minor) *minor = info.wServicePackMinor;
    return 1;
}
