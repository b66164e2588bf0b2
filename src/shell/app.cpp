#include "shell/app.h"

#include <commctrl.h>

#include "resources/ids.h"
#include "removal/removal.h"
#include "shell/config.h"
#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/osclass.h"
#include "shell/paths.h"
#include "shell/regkey.h"
#include "shell/text.h"
#include "wizard/install_wizard.h"

namespace {

typedef void(WINAPI* InitCommonControlsFn)();
typedef BOOL(WINAPI* InitCommonControlsExFn)(const INITCOMMONCONTROLSEX*);

void InitializeCommonControls(ApplicationRecord& record)
{
    record.commonControlsModule = LoadLibraryA("COMCTL32.DLL");
    if (!record.commonControlsModule) return;
    // Both entry points are looked up in the loaded module, so the program
    // does not import comctl32 by name.
    if (GetFileVersionMS("COMCTL32.DLL") < 0x40046) {
        InitCommonControlsFn init = reinterpret_cast<InitCommonControlsFn>(
            GetProcAddress(record.commonControlsModule, "InitCommonControls"));
        if (init) init();
    } else {
        InitCommonControlsExFn initEx = reinterpret_cast<InitCommonControlsExFn>(
            GetProcAddress(record.commonControlsModule, "InitCommonControlsEx"));
        if (initEx) {
            INITCOMMONCONTROLSEX controls;
            controls.dwSize = 8;
            controls.dwICC = ICC_INTERNET_CLASSES;
            initEx(&controls);
        }
    }
}

}  // namespace

void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    SetDefaultDllDirectoriesFn setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        GetProcAddress(kernel, "SetDefaultDllDirectories"));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Older systems: at least take the current folder out of the search.
    SetDllDirectoryFn setDirectory =
        reinterpret_cast<SetDllDirectoryFn>(GetProcAddress(kernel, "SetDllDirectoryA"));
    if (setDirectory) setDirectory("");
}

int InitApplication(HINSTANCE instance, ApplicationRecord* record, const char* title,
                    const char* className, const char* mutexName)
{
    UseApplicationRecord(record);
    ZeroMemory(record, sizeof(*record));
    record->instance = instance;

    GetModuleDirectory(record->programDir, sizeof(record->programDir));

    char fileName[260] = {};
    DWORD n = GetModuleFileNameA(instance, fileName, sizeof(fileName));
    if (n > 0 && n < sizeof(fileName)) {
        WORD major = 0, minor = 0, build = 0, revision = 0;
        if (GetFileVersion(fileName, &major, &minor, &build, &revision)) {
            record->versionMajor = major;
            record->versionMinor = minor;
            record->versionBuild = build;
            record->versionRevision = revision;
        }
    }

    lstrcpynA(record->title, title, sizeof(record->title));
    Placeholders().SubstituteInBuffer(record->title, sizeof(record->title));
    lstrcpynA(record->windowClassName, className, sizeof(record->windowClassName));
    Placeholders().SubstituteInBuffer(record->windowClassName, sizeof(record->windowClassName));
    lstrcpynA(record->mutexName, mutexName, sizeof(record->mutexName));
    Placeholders().SubstituteInBuffer(record->mutexName, sizeof(record->mutexName));

    InitializeCommonControls(*record);

    record->alreadyRunning = 0;
    record->mutexHandle = CreateMutexA(nullptr, TRUE, record->mutexName);
    if (!record->mutexHandle) return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        record->alreadyRunning = 1;
        return 0;
    }
    return 1;
}

int FindRunningInstance(int action)
{
    ApplicationRecord& app = App();
    if (!app.alreadyRunning) return 0;
    HWND window = FindWindowA(app.windowClassName, nullptr);
    if (!window) window = FindWindowA(nullptr, app.title);
    if (!window) return 1;
    if (action == Activate) {
        if (IsIconic(window)) {
            ShowWindow(window, SW_RESTORE);
        } else {
            BringWindowToTop(window);
        }
        SetForegroundWindow(window);
    } else if (action == Close) {
        SendMessageA(window, WM_CLOSE, 0, 0);
    }
    return 1;
}

void ReleaseApplication()
{
    ApplicationRecord& app = App();
    if (app.mutexHandle) {
        ReleaseMutex(app.mutexHandle);
        CloseHandle(app.mutexHandle);
        app.mutexHandle = nullptr;
    }
    if (app.commonControlsModule) {
        FreeLibrary(app.commonControlsModule);
        app.commonControlsModule = nullptr;
    }
}

int IsUserAdmin()
{
    UniqueKernelHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token.Put())) {
        if (GetLastError() != ERROR_NO_TOKEN) return 0;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return 0;
    }
    DWORD size = 0;
    if (GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;
    UniqueLocalMem buffer(LocalAlloc(LPTR, size));
    if (!buffer) return 0;
    TOKEN_GROUPS* groups = static_cast<TOKEN_GROUPS*>(buffer.Get());
    if (!GetTokenInformation(token.Get(), TokenGroups, groups, size, &size)) return 0;

    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    UniqueSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, administrators.Put()))
        return 0;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (!EqualSid(groups->Groups[i].Sid, administrators.Get())) continue;
        // A group kept only for deny checks grants nothing.
        DWORD attributes = groups->Groups[i].Attributes;
        return (attributes & SE_GROUP_ENABLED) && !(attributes & SE_GROUP_USE_FOR_DENY_ONLY) ? 1 : 0;
    }
    return 0;
}

int IsWow64()
{
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return 0;
    // Looked up: Windows 2000 and XP before service pack 2 do not have it.
    IsWow64ProcessFn isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(GetProcAddress(kernel, "IsWow64Process"));
    BOOL wow64 = FALSE;
    if (!isWow64Process || !isWow64Process(GetCurrentProcess(), &wow64)) return 0;
    return wow64 ? 1 : 0;
}

int RunProgram(HINSTANCE instance, const char* commandLine)
{
    static ApplicationRecord record;
    RegKey productKey;
    InitApplication(instance, &record, PROGRAM_TITLE, PROGRAM_CLASS, PROGRAM_MUTEX);
    ReadConfiguration();
    record.showVersionLabel = 1;
    InstallMode mode = ScanCommandLine(commandLine, &record.showVersionLabel);
    OsClass osClass = GetOsClass();

    if (IsWow64()) {
        // 64-bit Windows loads none of these 32-bit drivers, and under WOW64
        // the system folders the removal works in are redirected: say so and
        // change nothing, not even the install flag.
        ShowErrorBox(nullptr, IDS_NEEDS_32BIT);
    } else if (osClass >= OsWin2000 && !IsUserAdmin()) {
        if (productKey.OpenKey(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, KEY_ALL_ACCESS))
            productKey.WriteDwordById(IDS_INSTALL_FLAG, 0);
        ShowInfoBox(nullptr, IDS_NEED_ADMIN);
    } else if (mode == Remove) {
        FindRunningInstance(Close);
        RunRemoval(osClass);
    } else if (FindRunningInstance(Activate) != 1) {
        RunRemoval(osClass);
        InstallWizard wizard(osClass, mode == Install ? 1 : 0);
        if (wizard.PrepareDriverStore() == 1) {
            wizard.ShowWizard(nullptr);
        } else {
            ShowErrorBox(nullptr, IDS_SETUP_FAILED);
        }
    }

    ReleaseApplication();
    productKey.CloseKey();
    return 0;
}
