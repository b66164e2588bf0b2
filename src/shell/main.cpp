#include <windows.h>

#include "shell/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    // Before anything else can load a DLL by name.
    RestrictDllSearch();
    return RunProgram(instance, commandLine);
}
