// Stand-in: the device-installation handles the handle owners name.
#pragma once
#include <windows.h>

typedef PVOID HDEVINFO;
typedef PVOID HINF;
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);
void WINAPI SetupCloseInfFile(HINF inf);
