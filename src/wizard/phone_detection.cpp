// Decides from the device registry whether Plug and Play has set up the
// phone's composite device and its three functions.
#include "wizard/install_wizard.h"

#include <commctrl.h>

#include "resources/ids.h"
#include "shell/handles.h"
#include "shell/paths.h"
#include "shell/text.h"

BOOL InstallWizard::OnDeviceChange(HWND dialog, WPARAM, LPARAM)
{
    // Any notification starts a check; once detected, the dialog no longer
    // listens.
    if (state_ != Waiting) return FALSE;
    if (CheckPhone(dialog) != 1) return TRUE;

    state_ = Detected;
    HWND finish = GetDlgItem(dialog, IDC_FINISH);
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    EnableWindow(finish, TRUE);
    EnableWindow(cancel, FALSE);
    SetDefaultButtonStyle(cancel, 0);
    SetFocus(finish);
    SetDefaultButtonStyle(finish, 1);
    InvalidateRect(dialog, nullptr, TRUE);
    UpdateWindow(dialog);
    return TRUE;
}

int InstallWizard::CheckPhone(HWND dialog)
{
    // The bar shows how many functions passed in a row; a check that fails
    // at the composite device leaves it where it was.
    for (int index = 0; index < 4; ++index) {
        if (CheckPhoneFunction(index) == 0) return 0;
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, index + 1, 0);
    }
    return 1;
}

int InstallWizard::CheckPhoneFunction(int index)
{
    if (index < 0 || index > 3) return 0;
    char identifier[1024] = {};
    CopyString(phoneIds[index], identifier);
    // The 9x family and NT 4 never report the phone.
    if (osClass_ <= 10) return 0;
    return IsPhoneFunctionInstalled(identifier);
}

int IsPhoneFunctionInstalled(const char* identifier)
{
    char path[PATH_BUFFER] = {};
    if (!CopyBounded(path, "System\\CurrentControlSet\\Enum\\USB", PATH_MAX_CHARS)) return 0;
    if (!AddBackslash(path, PATH_BUFFER)) return 0;
    if (!AppendBounded(path, identifier, PATH_MAX_CHARS)) return 0;

    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &opened) != ERROR_SUCCESS) return 0;
    UniqueHkey key(opened);

    DWORD instances = 0;
    if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &instances, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        instances == 0)
        return 0;

    // Only the first instance decides.
    char instance[PATH_BUFFER] = {};
    DWORD length = PATH_BUFFER;
    if (RegEnumKeyExA(key.Get(), 0, instance, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return 0;

    char deviceClass[PATH_BUFFER] = {};
    if (!ReadRegistryString(key.Get(), instance, "Class", deviceClass, PATH_BUFFER)) return 0;
    // The composite device has no port of its own.
    int composite = lstrcmpiA(deviceClass, "USB") == 0;

    if (!AddBackslash(instance, PATH_BUFFER)) return 0;
    if (!AppendBounded(instance, "Device Parameters", PATH_MAX_CHARS)) return 0;
    if (!composite) {
        char portName[PATH_BUFFER] = {};
        if (!ReadRegistryString(key.Get(), instance, "PortName", portName, PATH_BUFFER)) return 0;
    }
    return 1;
}

int ReadRegistryString(HKEY parent, const char* subKey, const char* valueName, char* buffer,
                       DWORD size)
{
    if (!buffer || size == 0) return 0;
    buffer[0] = '\0';
    HKEY opened = nullptr;
    if (RegOpenKeyExA(parent, subKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return 0;
    UniqueHkey key(opened);

    DWORD length = size;
    if (RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &length) != ERROR_SUCCESS) {
        // What a failed query left in the buffer is not a text.
        buffer[0] = '\0';
        return 0;
    }
    // The data need not bring its own terminator (any type, or a string
    // that fills the buffer exactly).
    if (length >= size) length = size - 1;
    buffer[length] = '\0';
    return 1;
}
