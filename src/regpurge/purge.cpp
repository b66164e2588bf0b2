#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "resources/ids.h"
#include "shell/msgbox.h"
#include "shell/osclass.h"
#include "shell/paths.h"
#include "shell/text.h"
#include "staging/inf_stager.h"

namespace {

const int kControlSets = 3;

// The string's path, a backslash and a name; 0 when the string is missing
// or the whole does not fit.
int BuildPath(UINT id, const char* name, char (&path)[PATH_BUFFER])
{
    path[0] = '\0';
    if (LoadText(id, path) == 0) return 0;
    if (!AddBackslash(path, sizeof(path))) return 0;
    return AppendString(name, path) != 0 ? 1 : 0;
}

}  // namespace

int RegistryPurger::Purge()
{
    if (osClass_ < OsWin2000) return 1;
    return PurgeAll();
}

int RegistryPurger::PurgeAll()
{
    // The phone's ports first: their COM numbers are found below the device
    // keys that the last steps delete.
    for (int i = 1; i < 4; ++i)
        for (int set = 0; set < kControlSets; ++set)
            ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB + set, phoneIds[i],
                               IDS_CONTROL + set);

    for (const char* service : driverServiceNames)
        DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_SERVICES_CS002, service);

    if (osClass_ == OsWinXP) {
        RegistryAccessor accessor(osClass_);
        InfStager stager(osClass_);
        for (const char* id : phoneIds) {
            char infName[PATH_BUFFER] = {0};
            char devicePath[PATH_BUFFER] = {};
            if (!BuildPath(IDS_ENUM_USB, id, devicePath)) continue;
            // The stem becomes a pattern over every last-known-good entry:
            // only one of the phone's may lend it (never "usb").
            if (accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, devicePath, infName) == 1 &&
                infName[0] != '\0' && stager.IsPhoneDriverStem(infName) == 1)
                DeleteMatchingValuesById(HKEY_LOCAL_MACHINE, IDS_LASTGOOD, infName);
        }
    }

    if (osClass_ == OsWin2000) {
        for (int set = 0; set < kControlSets; ++set) {
            for (const char* service : driverServiceNames) {
                char legacy[PATH_BUFFER] = {0};
                if (LoadText(IDS_LEGACY_PREFIX, legacy) == 0) continue;
                if (AppendString(service, legacy) == 0) continue;
                DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_ENUM_ROOT + set, legacy);
            }
        }
    }

    for (int set = 0; set < kControlSets; ++set)
        PurgeDeviceInterfaces(HKEY_LOCAL_MACHINE, IDS_DEVICE_CLASSES + set, phoneIds, PHONE_ID_COUNT);

    for (const char* id : phoneIds) {
        for (int set = 0; set < kControlSets; ++set) {
            char devicePath[PATH_BUFFER] = {};
            if (!BuildPath(IDS_ENUM_USB + set, id, devicePath)) continue;
            PurgeDriverKeysById(HKEY_LOCAL_MACHINE, devicePath, IDS_CONTROL_CLASS + set);
        }
    }

    for (const char* id : phoneIds)
        for (int set = 0; set < kControlSets; ++set)
            DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_ENUM_USB + set, id);

    DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_UNIMODEM, MODEM_UNIMODEM_KEY);
    return 1;
}

int RegistryPurger::DeleteKey(HKEY parent, const char* name)
{
    LONG status = RegDeleteKeyA(parent, name);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return 1;
    ShowSystemError(status);
    return 0;
}

int RegistryPurger::DeleteValue(HKEY key, const char* name)
{
    LONG status = RegDeleteValueA(key, name);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return 1;
    ShowSystemError(status);
    return 0;
}
