#include "wizard/install_wizard.h"

#include <commctrl.h>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/osclass.h"
#include "shell/regkey.h"
#include "shell/text.h"

UINT InstructionTextId(OsClass osClass, int installMode)
{
    bool install = installMode == 1;
    switch (osClass) {
    case OsWin2000:
        return install ? IDS_TEXT_W2K_INSTALL : IDS_TEXT_W2K_OTHER;
    case OsWinXP: {
        // A failed query counts as a service pack below 2.
        unsigned long servicePack = 0;
        GetServicePackVersion(&servicePack, nullptr);
        if (servicePack >= 2) return install ? IDS_TEXT_XPSP2_INSTALL : IDS_TEXT_XPSP2_OTHER;
        return install ? IDS_TEXT_NEWHW_NEXT : IDS_TEXT_NEWHW_END;
    }
    case OsWinVista:
        return install ? IDS_TEXT_NEWHW_NEXT : IDS_TEXT_NEWHW_END;
    default:
        return install ? IDS_TEXT_GENERAL_NEXT : IDS_TEXT_GENERAL_END;
    }
}

void SetDefaultButtonStyle(HWND button, int isDefault)
{
    SendMessageA(button, BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

INT_PTR InstallWizard::ShowWizard(HWND owner)
{
    UINT templateId = osClass_ >= OsWin2000 ? IDD_WIZARD_LARGE : IDD_WIZARD_SMALL;
    return DialogBoxParamA(App().instance, MAKEINTRESOURCEA(templateId), owner, WizardDialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    InstallWizard* wizard =
        reinterpret_cast<InstallWizard*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!wizard) {
        // Messages sent while the dialog is being built come before the
        // object is known.
        if (message != WM_INITDIALOG || !lParam) return FALSE;
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        wizard = reinterpret_cast<InstallWizard*>(lParam);
    }

    switch (message) {
    case WM_INITDIALOG:
        return wizard->OnInitDialog(dialog);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL: {
            // The dialog manager turns Escape into Cancel even while the
            // button is disabled; once the phone is found only the finishing
            // button ends the wizard.
            HWND cancel = GetDlgItem(dialog, IDCANCEL);
            if (cancel && IsWindowEnabled(cancel)) EndDialog(dialog, 0);
            return TRUE;
        }
        case IDC_FINISH:
            return wizard->OnFinish(dialog);
        default:
            return FALSE;
        }
    case WM_DEVICECHANGE:
        return wizard->OnDeviceChange(dialog, wParam, lParam);
    case WM_CLOSE: {
        // WM_CLOSE counts as Cancel only while Cancel can be pressed, so a
        // second start cannot close a wizard that has found the phone.
        // Some dialog managers post the Cancel command without asking.
        HWND cancel = GetDlgItem(dialog, IDCANCEL);
        if (cancel && IsWindowEnabled(cancel))
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(cancel));
        return TRUE;
    }
    default:
        return FALSE;
    }
}

BOOL InstallWizard::OnInitDialog(HWND dialog)
{
    ApplicationRecord& app = App();
    SetWindowTextA(dialog, app.title);

    char text[1024] = {};
    FormatText(InstructionTextId(osClass_, installMode_), text);
    SetDlgItemTextA(dialog, IDC_INSTRUCTIONS, text);

    if (app.iconPath[0] != '\0') {
        // Taken at the size the file gives; it stays loaded until the
        // process ends.
        HANDLE icon = LoadImageA(nullptr, app.iconPath, IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
        if (icon)
            SendDlgItemMessageA(dialog, IDC_WIZARD_ICON, STM_SETIMAGE, IMAGE_ICON,
                                reinterpret_cast<LPARAM>(icon));
    }

    LoadText(IDS_BUTTON_CANCEL, text);
    SetDlgItemTextA(dialog, IDCANCEL, text);
    LoadText(installMode_ == 1 ? IDS_BUTTON_NEXT : IDS_BUTTON_END, text);
    SetDlgItemTextA(dialog, IDC_FINISH, text);

    EnableWindow(GetDlgItem(dialog, IDC_FINISH), FALSE);
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    SetDefaultButtonStyle(cancel, 1);
    SetFocus(cancel);

    if (app.showVersionLabel == 1) {
        char label[64] = {};
        wsprintfA(label, "Ver. %d.%d.%d", static_cast<int>(app.versionMajor),
                  static_cast<int>(app.versionMinor), static_cast<int>(app.versionBuild));
        SetDlgItemTextA(dialog, IDC_VERSION_LABEL, label);
    }

    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 4));
    CenterOnDisplay(dialog);
    // The focus is set above.
    return FALSE;
}

BOOL InstallWizard::OnFinish(HWND dialog)
{
    INT_PTR result = 0;
    RegKey productKey;
    if (state_ == Detected) {
        // The key is only opened: without an installation record there is
        // nothing to mark.
        if (installMode_ == 1 &&
            productKey.OpenKey(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, KEY_ALL_ACCESS))
            productKey.WriteDwordById(IDS_INSTALL_FLAG, 1);
        result = 1;
    }
    EndDialog(dialog, result);
    productKey.CloseKey();
    return TRUE;
}

void CenterOnDisplay(HWND window)
{
    int displayWidth = 640;
    int displayHeight = 480;
    HDC display = CreateICA("DISPLAY", nullptr, nullptr, nullptr);
    if (display) {
        displayWidth = GetDeviceCaps(display, HORZRES);
        displayHeight = GetDeviceCaps(display, VERTRES);
        DeleteDC(display);
    }

    RECT rect;
    if (!GetWindowRect(window, &rect)) return;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;

    int left;
    int top;
    RECT parentRect;
    HWND parent = GetParent(window);
    if (parent && GetWindowRect(parent, &parentRect)) {
        left = parentRect.left + (parentRect.right - parentRect.left - width) / 2;
        top = parentRect.top + (parentRect.bottom - parentRect.top - height) / 2;
    } else {
        left = (displayWidth - width) / 2;
        top = (displayHeight - height) / 2;
    }

    // Keep the top left corner on the display first; a window larger than
    // the display then lines up with its right and bottom edges.
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (left > displayWidth - width) left = displayWidth - width;
    if (top > displayHeight - height) top = displayHeight - height;

    SetWindowPos(window, nullptr, left, top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}
