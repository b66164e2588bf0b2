// The removal of earlier installations: one fixed list of steps per Windows
// family, ending with a note to the CD launcher that devices changed.
#include "removal/removal.h"

#include "regpurge/registry_purger.h"
#include "resources/ids.h"
#include "shell/osclass.h"
#include "shell/regkey.h"
#include "shell/text.h"
#include "staging/inf_stager.h"

char launcherName[LAUNCHER_NAME_SIZE];

namespace {

BOOL CALLBACK NotifyIfLauncherProperty(HWND window, LPCSTR name, HANDLE)
{
    // Names below 0xC000 are integer atoms, not texts; compare the pointer
    // unsigned so that a high string address is never taken for an atom.
    if (reinterpret_cast<ULONG_PTR>(name) < 0xC000) return TRUE;
    if (lstrcmpA(name, launcherName) == 0) SendMessageA(window, WM_DEVICECHANGE, 0, 0);
    return TRUE;
}

BOOL CALLBACK VisitTopLevelWindow(HWND window, LPARAM)
{
    EnumPropsA(window, NotifyIfLauncherProperty);
    return TRUE;
}

void DeleteDriverServices()
{
    for (const char* name : driverServiceNames) DeleteDriverService(name);
}

}  // namespace

void RunRemoval(OsClass osClass)
{
    if (osClass == OsWinVista) {
        RemovePreviousInstallationNt6(osClass);
    } else {
        RemovePreviousInstallation(osClass);
    }
}

void RemovePreviousInstallation(OsClass osClass)
{
    DriverRemover remover(osClass);
    ResetInstallFlag();
    remover.RemoveInfsAndFiles();
    const bool removesDevices = osClass == OsWin2000 || osClass == OsWinXP;
    if (removesDevices) {
        RemoveModemDevices(MODEM_DESCRIPTION, PHONE_ID);
        RemoveUsbDevice(PHONE_ID);
        DeleteDriverServices();
    }
    {
        RegistryPurger purger(osClass);
        purger.Purge();
    }
    if (removesDevices) {
        InfStager stager(osClass);
        stager.RemoveStaleOemInfs();
    }
    NotifyLauncherWindows();
}

void RemovePreviousInstallationNt6(OsClass osClass)
{
    DriverRemover remover(osClass);
    ResetInstallFlag();
    remover.RemoveDriverFiles();
    RemoveUsbFunctionDevices();
    DeleteDriverServices();
    RemoveInfsWithPnputil(osClass);
    NotifyLauncherWindows();
}

void ResetInstallFlag()
{
    RegKey productKey;
    if (productKey.OpenKey(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, KEY_ALL_ACCESS)) {
        DWORD value = 0;
        // Only a flag that is there is reset; the key and value are never created.
        if (productKey.ReadDwordById(IDS_INSTALL_FLAG, &value))
            productKey.WriteDwordById(IDS_INSTALL_FLAG, 0);
    }
    productKey.CloseKey();
}

void NotifyLauncherWindows()
{
    LoadText(IDS_LAUNCHER_PROPERTY, launcherName, LAUNCHER_NAME_SIZE);
    EnumWindows(VisitTopLevelWindow, 0);
}

int DriverRemover::RemoveInfsAndFiles()
{
    RemoveDriverKeyInfs();
    return RemoveDriverFiles();
}
