// The program's message boxes.
#pragma once
#include <windows.h>

void ShowErrorBox(HWND owner, UINT id, ...);
void ShowInfoBox(HWND owner, UINT id, ...);
void ShowSystemError(DWORD code);
// The system errors shown so far: a step that must know whether the steps it
// ran met a failure compares this before and after.
unsigned long SystemErrorsShown();
