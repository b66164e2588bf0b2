// The program's message boxes.
#pragma once
#include <windows.h>

void ShowErrorBox(HWND owner, UINT id, ...);
void ShowInfoBox(HWND owner, UINT id, ...);
void ShowSystemError(DWORD code);
