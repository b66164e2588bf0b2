// Handle-closing calls the handle owners name but the native routines never
// reach, and the reset of the stand-in's state.
#include <stdio.h>
#include <stdlib.h>
#include <setupapi.h>
#include <winsvc.h>

#include "standin.h"

namespace {

[[noreturn]] void NotNative(const char* name)
{
    fprintf(stderr, "standin: %s is not part of the native build\n", name);
    abort();
}

}  // namespace

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO) { NotNative("SetupDiDestroyDeviceInfoList"); }
BOOL WINAPI CloseServiceHandle(SC_HANDLE) { NotNative("CloseServiceHandle"); }

void StandinReset()
{
    StandinSetModulePath("C:\\Quellin\\Setup\\Quellin9.exe");
    StandinClearFiles();
    StandinSetWindowsDirectory("C:\\WINDOWS");
    StandinResetStrings();
    StandinFailAllocation(-1);
    StandinLimitFormatArguments(-1);
    StandinRegClear();
    StandinClearBoxes();
    StandinAnswerBoxes(IDOK);
    StandinClearProcesses();
    StandinFailProcessStart(0);
    SetLastError(0);
}
