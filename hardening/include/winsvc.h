// Stand-in: the service handle the handle owners name.
#pragma once
#include <windows.h>

DECLARE_HANDLE(SC_HANDLE);
BOOL WINAPI CloseServiceHandle(SC_HANDLE service);
