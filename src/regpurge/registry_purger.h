// The registry purge: every key and value an earlier installation of the
// phone left, in every control set.
#pragma once
#include <windows.h>
#include "shell/product.h"

class RegistryPurger {
public:
    explicit RegistryPurger(OsClass osClass) : osClass_(osClass) {}
    virtual ~RegistryPurger() = default;

    int Purge();
    int PurgeAll();

    int DeleteTreeById(HKEY root, UINT id, const char* name);
    int DeleteTreeGranted(HKEY parent, const char* parentPath, const char* name);
    int DeleteTree(HKEY parent, const char* name);
    int DeleteMatchingValuesById(HKEY root, UINT id, char* pattern);
    int DeleteMatchingValues(HKEY root, const char* path, char* pattern);

    int ReleaseDevicePorts(HKEY root, UINT enumUsbId, const char* identifier, UINT controlId);
    int ReleaseComDbPort(HKEY root, UINT controlId, long portNumber);

    // Deletes, in one walk over the DeviceClasses key, the interface
    // instances whose device instance path contains any of the identifiers.
    int PurgeDeviceInterfaces(HKEY root, UINT deviceClassesId, const char* const* identifiers,
                              int identifierCount);
    int PurgeDriverKeysById(HKEY root, const char* deviceKeyPath, UINT classId);
    int PurgeDriverKeys(HKEY root, const char* deviceKeyPath, const char* classPath);

    int DeleteKey(HKEY parent, const char* name);
    int DeleteValue(HKEY key, const char* name);

private:
    OsClass osClass_;
};
