#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "removal/removal.h"
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

// 1 while a copy of the stem (.inf or .PNF, with lastGood under LastGood
// too) may still be in the INF folder.
int CopiesRemain(InfStager& stager, const char* stem, bool lastGood)
{
    char folders[2][PATH_BUFFER] = {};
    if (!stager.GetInfDir(folders[0]) || (lastGood && !stager.GetLastGoodInfDir(folders[1]))) return 0;
    const char* const extensions[] = {"inf", "PNF"};
    for (const char* folder : folders) {
        for (const char* extension : extensions) {
            char path[PATH_BUFFER] = {};
            // A file whose presence cannot be told counts as there.
            if (MakeInfFilePath(path, folder, stem, extension) && FilePresence(path) != 0) return 1;
        }
    }
    return 0;
}

// Tells whether a failure was shown since it was made.
struct FailureWatch {
    unsigned long start = SystemErrorsShown();
    bool Met() const { return SystemErrorsShown() != start; }
};

}  // namespace

int RegistryPurger::Purge()
{
    if (osClass_ < OsWin2000) return 1;
    return PurgeAll();
}

int RegistryPurger::PurgeAll()
{
    // A device key is the only record of the ports, driver keys and
    // last-known-good entries it names: a key whose sweep met a failure stays,
    // so that the next start can finish the work.
    bool keep[PHONE_ID_COUNT][kControlSets] = {};

    // The phone's ports first: their COM numbers are found below the device
    // keys that the last steps delete.
    for (int i = 1; i < 4; ++i) {
        for (int set = 0; set < kControlSets; ++set) {
            FailureWatch watch;
            ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB + set, phoneIds[i],
                               IDS_CONTROL + set);
            keep[i][set] = watch.Met();
        }
    }

    for (const char* service : driverServiceNames)
        DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_SERVICES_CS002, service);

    // The INF copies that the driver keys of ControlSet001 name (the removal
    // deleted them before the purge) and, on XP, their last-known-good
    // entries. The stem becomes a pattern over every last-known-good entry:
    // only one of the phone's may lend it (never "usb"). A copy that is still
    // there keeps the keys that name it for the next start.
    RegistryAccessor accessor(osClass_);
    InfStager stager(osClass_);
    for (int i = 0; i < PHONE_ID_COUNT; ++i) {
        char infName[PATH_BUFFER] = {0};
        char devicePath[PATH_BUFFER] = {};
        if (!BuildPath(IDS_ENUM_USB, phoneIds[i], devicePath)) continue;
        FailureWatch watch;
        int phone = 0;  // -1: whether the copy is there cannot be told
        if (accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, devicePath, infName) == 1 && infName[0] != '\0')
            phone = stager.IsPhoneDriverStem(infName);
        if (phone == 1 && osClass_ == OsWinXP)
            DeleteMatchingValuesById(HKEY_LOCAL_MACHINE, IDS_LASTGOOD, infName);
        keep[i][0] = keep[i][0] || watch.Met() || phone == -1 ||
                     (phone == 1 && CopiesRemain(stager, infName, osClass_ == OsWinXP));
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

    for (int i = 0; i < PHONE_ID_COUNT; ++i) {
        for (int set = 0; set < kControlSets; ++set) {
            char devicePath[PATH_BUFFER] = {};
            if (keep[i][set] || !BuildPath(IDS_ENUM_USB + set, phoneIds[i], devicePath)) continue;
            FailureWatch watch;
            PurgeDriverKeysById(HKEY_LOCAL_MACHINE, devicePath, IDS_CONTROL_CLASS + set);
            keep[i][set] = watch.Met();
        }
    }

    for (int i = 0; i < PHONE_ID_COUNT; ++i)
        for (int set = 0; set < kControlSets; ++set)
            if (!keep[i][set]) DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_ENUM_USB + set, phoneIds[i]);

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
