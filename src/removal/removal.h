// Removal of what earlier installations of the phone's drivers left.
#pragma once
#include "shell/product.h"

void RunRemoval(OsClass osClass);
void RemovePreviousInstallation(OsClass osClass);
void RemovePreviousInstallationNt6(OsClass osClass);
void ResetInstallFlag();
void NotifyLauncherWindows();

// Name of the window property that marks the CD launcher's windows (string
// 104), loaded before each notification.
enum { LAUNCHER_NAME_SIZE = 32 };
extern char launcherName[LAUNCHER_NAME_SIZE];

// Device nodes and driver services.
int RemoveUsbDevice(const char* phoneId);
int RemoveUsbFunctionDevices();
int RemoveModemDevices(const char* description, const char* phoneId);
int DeleteDriverService(const char* serviceName);

// Driver packages through the system's package tool (NT 6). The tool is
// started from the system folder; RunPnputilDelete answers 0 without
// starting it for a name that is not a plain file name or would not fit.
int RemoveInfsWithPnputil(OsClass osClass);
int RunPnputilDelete(const char* infName);

class DriverRemover {
public:
    explicit DriverRemover(OsClass osClass) : osClass_(osClass) {}
    virtual ~DriverRemover() = default;

    int RemoveInfsAndFiles();
    int RemoveDriverKeyInfs();
    int RemoveDriverFiles();
    int DeleteInfFile(const char* directory, const char* stem, const char* extension);

private:
    OsClass osClass_;
};

// Builds directory + "\" + stem + "." + extension in a 261-byte buffer;
// 0 (and an empty buffer) when it would not fit or a part is empty.
int MakeInfFilePath(char* destination, const char* directory, const char* stem,
                    const char* extension);
