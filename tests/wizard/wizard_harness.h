// Runs the wizard dialog for real on a thread of its own, the way the
// program shows it, and lets a test read and drive it by messages; writes
// the device keys Plug and Play would write for the phone's functions.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "shell/product.h"
#include "support/registry.h"
#include "wizard/install_wizard.h"

// Puts a wizard into a state without running the staging.
struct WizardTestAccess {
    static void SetState(InstallWizard& wizard, WizardState state) { wizard.state_ = state; }
};

namespace wizard_test {

const char kEnumUsb[] = "System\\CurrentControlSet\\Enum\\USB";

inline std::string IdKey(int index) { return std::string(kEnumUsb) + "\\" + phoneIds[index]; }

// Instance keys, device classes and ports as Plug and Play names them.
inline std::string InstanceKey(int index, const std::string& instance = "")
{
    static const char* const instances[4] = {"0123456789ABCDEF", "6&2f1c3a0b&0&0001",
                                             "6&2f1c3a0b&0&0003", "6&2f1c3a0b&0&0005"};
    return IdKey(index) + "\\" + (instance.empty() ? instances[index] : instance);
}

// The composite device gets class "USB"; the functions a port class and a
// port name.
inline void Plug(int index)
{
    static const char* const classes[4] = {"USB", "Modem", "Ports", "Ports"};
    static const char* const ports[4] = {"", "COM3", "COM4", "COM5"};
    std::string key = InstanceKey(index);
    ASSERT_TRUE(reg::SetString(key, "Class", classes[index]));
    if (index > 0) {
        ASSERT_TRUE(reg::SetString(key + "\\Device Parameters", "PortName", ports[index]));
    }
}

inline void PlugAll()
{
    for (int i = 0; i < 4; ++i) Plug(i);
}

// The four identifier trees, removed before and after a test.
inline std::vector<std::string> PhoneKeys()
{
    return {IdKey(0), IdKey(1), IdKey(2), IdKey(3)};
}

// comctl32 registers the progress bar class the templates use.
inline void LoadCommonControls()
{
    static HMODULE module = LoadLibraryA("comctl32.dll");
    typedef BOOL(WINAPI * InitEx)(const INITCOMMONCONTROLSEX*);
    InitEx init = module ? reinterpret_cast<InitEx>(GetProcAddress(module, "InitCommonControlsEx"))
                         : nullptr;
    if (!init) return;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    init(&controls);
}

class RunningWizard {
public:
    explicit RunningWizard(InstallWizard& wizard)
    {
        LoadCommonControls();
        thread_ = std::thread([this, &wizard] {
            threadId_ = GetCurrentThreadId();
            result_ = wizard.ShowWizard(nullptr);
            done_ = true;
        });
        for (int i = 0; i < 400 && !dialog_; ++i) {
            if (done_) break;
            Sleep(25);
            dialog_ = FindDialog();
        }
    }

    ~RunningWizard()
    {
        if (!done_) {
            HWND dialog = dialog_ ? dialog_ : FindDialog();
            if (dialog) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        if (thread_.joinable()) thread_.join();
    }

    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    std::string Text(int id) const
    {
        char text[2048] = "";
        GetDlgItemTextA(dialog_, id, text, sizeof(text));
        return text;
    }
    std::string Caption() const
    {
        char text[256] = "";
        GetWindowTextA(dialog_, text, sizeof(text));
        return text;
    }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool IsDefault(int id) const
    {
        return (GetWindowLongA(Item(id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    }
    HWND Focus() const
    {
        GUITHREADINFO info;
        ZeroMemory(&info, sizeof(info));
        info.cbSize = sizeof(info);
        if (!GetGUIThreadInfo(threadId_, &info)) return nullptr;
        return info.hwndFocus;
    }
    int Position() const { return static_cast<int>(SendDlgItemMessageA(dialog_, 1003, PBM_GETPOS, 0, 0)); }
    PBRANGE Range() const
    {
        PBRANGE range = {-1, -1};
        SendDlgItemMessageA(dialog_, 1003, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
        return range;
    }
    // The client area in pixels against a template size in dialog units.
    bool ClientIsTemplate(int width, int height) const
    {
        RECT units = {0, 0, width, height};
        MapDialogRect(dialog_, &units);
        RECT client;
        GetClientRect(dialog_, &client);
        return client.right == units.right && client.bottom == units.bottom;
    }

    // What Plug and Play sends whenever the device tree changes.
    void Notify() const { SendMessageA(dialog_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0); }
    void Command(int id) const { SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    void Close() const { SendMessageA(dialog_, WM_CLOSE, 0, 0); }

    // True when the dialog ended within the time; Result() is then its code.
    bool Ended(DWORD milliseconds = 3000)
    {
        for (DWORD waited = 0; !done_ && waited < milliseconds; waited += 10) Sleep(10);
        if (done_ && thread_.joinable()) thread_.join();
        return done_;
    }
    INT_PTR Result() const { return result_; }

private:
    static BOOL CALLBACK Pick(HWND window, LPARAM found)
    {
        char name[16] = "";
        GetClassNameA(window, name, sizeof(name));
        if (lstrcmpA(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    HWND FindDialog() const
    {
        HWND found = nullptr;
        if (threadId_) EnumThreadWindows(threadId_, Pick, reinterpret_cast<LPARAM>(&found));
        return found;
    }

    std::thread thread_;
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> done_{false};
    INT_PTR result_ = -1;
    HWND dialog_ = nullptr;
};

}  // namespace wizard_test
