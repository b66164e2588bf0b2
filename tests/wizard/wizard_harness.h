// Shows the wizard the way the program does, modal on the test's thread, and
// writes the device keys Plug and Play writes for the phone's functions.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <functional>
#include <string>
#include <vector>

#include "shell/app.h"
#include "shell/product.h"
#include "support/registry.h"
#include "wizard/install_wizard.h"

// Puts a wizard into a state without running the staging.
struct WizardTestAccess {
    static void SetState(InstallWizard& wizard, WizardState state) { wizard.state_ = state; }
};

namespace wizard_test {

const char kInstance[] = "6&2f1c3a0b&0&1";

inline std::string IdKey(int index)
{
    return std::string("System\\CurrentControlSet\\Enum\\USB\\") + phoneIds[index];
}
inline std::string InstanceKey(int index, const char* instance = kInstance)
{
    return IdKey(index) + "\\" + instance;
}
inline std::vector<std::string> PhoneKeys() { return {IdKey(0), IdKey(1), IdKey(2), IdKey(3)}; }

// The composite device gets class "USB"; a function a port class and, with
// `withPort`, a port name.
inline void Plug(int index, bool withPort = true, const char* instance = kInstance)
{
    std::string key = InstanceKey(index, instance);
    reg::SetString(key, "Class", index == 0 ? "USB" : index == 1 ? "Modem" : "Ports");
    if (index > 0 && withPort)
        reg::SetString(key + "\\Device Parameters", "PortName", "COM" + std::to_string(index + 2));
}

inline int Position(HWND dialog)
{
    return static_cast<int>(SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));
}
// What Plug and Play sends whenever the device tree changes.
inline void Notify(HWND dialog) { SendMessageA(dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0); }
// Delivers what the dialog posted to itself.
inline void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

inline std::function<void(HWND)> driver;

inline void CALLBACK DriveOnce(HWND, UINT, UINT_PTR timer, DWORD)
{
    // Shown once the dialog's queue first runs empty.
    HWND dialog = FindWindowA("#32770", App().title);
    if (!dialog || !IsWindowVisible(dialog)) return;
    KillTimer(nullptr, timer);
    driver(dialog);
    if (IsWindowVisible(dialog)) EndDialog(dialog, 99);
}

// Runs ShowWizard; `drive` runs inside its message loop once the dialog is
// shown. Returns the dialog's end code, 99 when `drive` left it open.
inline INT_PTR RunWizard(InstallWizard& wizard, std::function<void(HWND)> drive)
{
    LoadLibraryA("comctl32.dll");  // registers the progress bar
    driver = std::move(drive);
    UINT_PTR timer = SetTimer(nullptr, 0, 20, DriveOnce);
    INT_PTR result = wizard.ShowWizard(nullptr);
    KillTimer(nullptr, timer);
    return result;
}

}  // namespace wizard_test
