// Device nodes of the phone, removed through the class installer, and the
// four driver services, deleted through the service control manager.
#include <windows.h>
#include <setupapi.h>
#include <string.h>

#include "removal/removal.h"
#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

enum { ID_TARGETS = 4, PROPERTY_BUFFER = 1024, PROPERTY_READ_ROUNDS = 4 };

struct HardwareIdTargets {
    char ids[ID_TARGETS][PATH_BUFFER];
    int count;
};

// "USB\" + phone id; 0 when it does not fit.
int MakeUsbTarget(char (&target)[PATH_BUFFER], const char* phoneId)
{
    if (!CopyBounded(target, "USB\\", PATH_MAX_CHARS)) return 0;
    return AppendString(phoneId, target) != 0;
}

enum PropertyResult { PropertyRead, PropertyAbsent, PropertyFailed };

// Reads a device's hardware ids into zero-filled local memory of the size the
// system asks for, with two spare zero bytes so that the last string is
// terminated whatever the device reports.
PropertyResult ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* device, UniqueLocalMem& buffer,
                               DWORD* size, DWORD* error)
{
    buffer.Reset();
    DWORD capacity = 0;
    for (int round = 0;; ++round) {
        DWORD required = 0;
        if (SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr,
                                              static_cast<BYTE*>(buffer.Get()), capacity, &required)) {
            *size = required < capacity ? required : capacity;
            return PropertyRead;
        }
        DWORD code = GetLastError();
        if (code == ERROR_INVALID_DATA) return PropertyAbsent;
        // A list that keeps growing would otherwise be asked for forever.
        if (code != ERROR_INSUFFICIENT_BUFFER || round == PROPERTY_READ_ROUNDS) {
            *error = code;
            return PropertyFailed;
        }
        buffer.Reset(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, required + 2));
        if (!buffer) {
            *error = GetLastError();
            return PropertyFailed;
        }
        capacity = required;
    }
}

int MatchesTarget(const char* hardwareId, const HardwareIdTargets& targets)
{
    for (int i = 0; i < targets.count; ++i) {
        if (lstrcmpiA(hardwareId, targets.ids[i]) == 0) return 1;
    }
    return 0;
}

// Removes every device of the listing (no class, no enumerator: a phone node
// may sit under any enumerator, a hand-added ROOT one too) that lists one of
// the targets as a whole hardware id. Ends at the first failure, which it
// shows.
int RemoveDevicesWithIds(const HardwareIdTargets& targets, DWORD flags)
{
    UniqueDevInfo set(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, flags));
    if (!set) {
        ShowSystemError(GetLastError());
        return 0;
    }
    int result = 0;
    DWORD error = 0;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device;
        ZeroMemory(&device, sizeof(device));
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(set.Get(), index, &device)) {
            error = GetLastError();  // ERROR_NO_MORE_ITEMS at the end of the listing
            break;
        }
        UniqueLocalMem buffer;
        DWORD size = 0;
        PropertyResult read = ReadHardwareIds(set.Get(), &device, buffer, &size, &error);
        if (read == PropertyFailed) break;
        if (read == PropertyAbsent) continue;

        const char* ids = static_cast<const char*>(buffer.Get());
        DWORD offset = 0;
        while (offset < size && ids[offset] && !MatchesTarget(ids + offset, targets))
            offset += lstrlenA(ids + offset) + 1;
        if (offset >= size || !ids[offset]) continue;
        // One removal per device: a second id of the same device must not ask
        // to remove a node that is already gone.
        if (!SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &device)) {
            error = GetLastError();
            break;
        }
        result = 1;
    }
    set.Reset();
    if (error != 0 && error != ERROR_NO_MORE_ITEMS) ShowSystemError(error);
    return result;
}

// Reads one text property into the 1024-byte buffer; the buffer has room for
// two more zero bytes, so the text stays terminated.
BOOL ReadTextProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                      char (&buffer)[PROPERTY_BUFFER + 2])
{
    ZeroMemory(buffer, sizeof(buffer));
    return SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr,
                                             reinterpret_cast<BYTE*>(buffer), PROPERTY_BUFFER,
                                             nullptr);
}

}  // namespace

int RemoveUsbDevice(const char* phoneId)
{
    HardwareIdTargets targets;
    targets.count = 1;
    if (!MakeUsbTarget(targets.ids[0], phoneId)) return 0;
    return RemoveDevicesWithIds(targets, DIGCF_PRESENT | DIGCF_ALLCLASSES);
}

int RemoveUsbFunctionDevices()
{
    HardwareIdTargets targets;
    targets.count = ID_TARGETS;
    for (int i = 0; i < ID_TARGETS; ++i) {
        if (!MakeUsbTarget(targets.ids[i], phoneIds[i])) return 0;
    }
    return RemoveDevicesWithIds(targets, DIGCF_ALLCLASSES);
}

int RemoveModemDevices(const char* description, const char* phoneId)
{
    char wanted[PATH_BUFFER] = {};
    if (CopyString(description, wanted) == 0) return 0;
    char id[PATH_BUFFER] = {};
    if (CopyString(phoneId, id) == 0) return 0;
    CharUpperA(id);

    GUID classes[10] = {};
    DWORD count = 0;
    if (!SetupDiClassGuidsFromNameA("Modem", classes, 10, &count)) return 0;
    if (count > 10) return 0;

    for (DWORD c = 0; c < count; ++c) {
        // DIGCF_ALLCLASSES: the GUID does not narrow the listing, so every
        // device is examined, connected or not, whatever its class and
        // enumerator (a modem added by hand is a ROOT node).
        UniqueDevInfo set(SetupDiGetClassDevsA(&classes[c], nullptr, nullptr, DIGCF_ALLCLASSES));
        if (!set) return 0;
        for (DWORD index = 0;; ++index) {
            SP_DEVINFO_DATA device;
            ZeroMemory(&device, sizeof(device));
            device.cbSize = sizeof(device);
            if (!SetupDiEnumDeviceInfo(set.Get(), index, &device)) break;

            char property[PROPERTY_BUFFER + 2] = {};
            if (!ReadTextProperty(set.Get(), &device, SPDRP_DEVICEDESC, property)) {
                if (GetLastError() == ERROR_INVALID_DATA) continue;
                return 0;
            }
            if (lstrcmpA(property, wanted) != 0) continue;
            if (!ReadTextProperty(set.Get(), &device, SPDRP_HARDWAREID, property)) {
                if (GetLastError() == ERROR_INVALID_DATA) continue;
                return 0;
            }
            CharUpperA(property);  // the first hardware id only
            if (!strstr(property, id)) continue;
            if (!SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &device)) return 0;
        }
    }
    return 1;
}

int DeleteDriverService(const char* serviceName)
{
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        ShowSystemError(GetLastError());
        return 0;
    }
    char name[PATH_BUFFER] = {};
    if (CopyString(serviceName, name) != 0) {
        // A service that cannot be opened is not installed: nothing to say.
        UniqueScHandle service(OpenServiceA(manager.Get(), name, SERVICE_ALL_ACCESS));
        if (service) {
            if (!DeleteService(service.Get())) ShowSystemError(GetLastError());
            if (!CloseServiceHandle(service.Release())) ShowSystemError(GetLastError());
        }
    }
    if (!CloseServiceHandle(manager.Release())) {
        ShowSystemError(GetLastError());
        return 0;
    }
    return 1;
}
