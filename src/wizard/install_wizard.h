// The wizard dialog that waits for the phone's USB functions.
#pragma once
#include <windows.h>
#include "shell/product.h"

class InstallWizard {
public:
    InstallWizard(OsClass osClass, int installMode)
        : osClass_(osClass), state_(Idle), installMode_(installMode) {}
    virtual ~InstallWizard() = default;

    int PrepareDriverStore();
    INT_PTR ShowWizard(HWND owner);

    BOOL OnInitDialog(HWND dialog);
    BOOL OnFinish(HWND dialog);
    BOOL OnDeviceChange(HWND dialog, WPARAM wParam, LPARAM lParam);
    int CheckPhone(HWND dialog);
    int CheckPhoneFunction(int index);

    WizardState State() const { return static_cast<WizardState>(state_); }

private:
    OsClass osClass_;
    int state_;
    int installMode_;
};

// The instruction text for the Windows version and mode (string id); on XP
// it depends on the service pack.
UINT InstructionTextId(OsClass osClass, int installMode);
INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void CenterOnDisplay(HWND window);
// Gives a push button the default-button look, or takes it away.
void SetDefaultButtonStyle(HWND button, int isDefault);
int IsPhoneFunctionInstalled(const char* identifier);
int ReadRegistryString(HKEY parent, const char* subKey, const char* valueName, char* buffer, DWORD size);
