#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "resources/ids.h"
#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

const char kArbiterKey[] = "COM Name Arbiter";
const char kComDbValue[] = "ComDB";

}  // namespace

int RegistryPurger::ReleaseDevicePorts(HKEY root, UINT enumUsbId, const char* identifier,
                                       UINT controlId)
{
    RegistryAccessor accessor(osClass_);
    char path[PATH_BUFFER] = {0};
    if (LoadText(enumUsbId, path) == 0 || !AddBackslash(path, sizeof(path)) ||
        AppendString(identifier, path) == 0)
        return 0;
    UniqueHkey deviceKey;
    if (accessor.OpenKeyByPath(root, path, KEY_READ, deviceKey.Put()) == 0) return 0;
    if (!deviceKey) return 1;
    DWORD count = 0;
    if (!accessor.CountSubKeys(deviceKey.Get(), &count)) return 0;
    for (DWORD index = 0; index < count; ++index) {
        char instance[PATH_BUFFER] = {0};
        if (!accessor.EnumSubKey(deviceKey.Get(), index, instance)) return 0;
        // One read of the port name gives both the number for the port
        // database and the name for the port settings.
        char portName[PATH_BUFFER] = {0};
        if (accessor.ReadPortName(deviceKey.Get(), instance, portName) == 0) continue;
        long number = PortNumberOf(portName);
        if (number <= 0) continue;
        if (ReleaseComDbPort(HKEY_LOCAL_MACHINE, controlId, number) == 0) continue;
        DeleteMatchingValuesById(HKEY_LOCAL_MACHINE, IDS_PORTS, portName);
    }
    return 1;
}

int RegistryPurger::ReleaseComDbPort(HKEY root, UINT controlId, long portNumber)
{
    RegistryAccessor accessor(osClass_);
    UniqueHkey control;
    if (accessor.OpenKeyById(root, controlId, KEY_READ, control.Put()) == 0) return 0;
    if (!control) return 1;
    BYTE database[PATH_BUFFER] = {0};
    // A read gives at most PATH_BUFFER - 1 bytes, so a length still at the
    // buffer's size means the key or the value is absent.
    DWORD length = sizeof(database);
    DWORD type = REG_BINARY;
    if (accessor.ReadSubKeyValue(control.Get(), kArbiterKey, kComDbValue, database, &length,
                                 &type) == 0)
        return 0;
    if (length >= sizeof(database)) return 1;
    // Numbers below 1 have no bit; a number beyond the value is not reserved.
    if (portNumber <= 0) return 1;
    unsigned long bit = static_cast<unsigned long>(portNumber) - 1;
    unsigned long byte = bit / 8;
    BYTE mask = static_cast<BYTE>(1u << (bit % 8));
    if (byte >= length || (database[byte] & mask) == 0) return 1;
    database[byte] = static_cast<BYTE>(database[byte] & ~mask);
    return accessor.WriteSubKeyValue(control.Get(), kArbiterKey, kComDbValue, database, length,
                                     type);
}
