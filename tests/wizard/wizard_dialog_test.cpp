// The dialog where only a test inside the program reaches: service packs and
// Windows versions Wine cannot report, closing a wizard that found the phone,
// small displays. The road test covers the rest.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resources/ids.h"
#include "shell/osclass.h"
#include "shell/text.h"
#include "support/import_patch.h"
#include "wizard/wizard_harness.h"

using namespace wizard_test;

namespace {

int servicePack = 0;  // what the fake reports; -1: the query fails

BOOL WINAPI FakeGetVersionExA(OSVERSIONINFOA* info)
{
    if (servicePack < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    OSVERSIONINFOEXA* ex = reinterpret_cast<OSVERSIONINFOEXA*>(info);  // the size asked for
    ex->dwMajorVersion = 5;
    ex->dwMinorVersion = 1;
    ex->dwPlatformId = VER_PLATFORM_WIN32_NT;
    ex->wServicePackMajor = static_cast<WORD>(servicePack);
    return TRUE;
}

LONG PictureWidth(HWND dialog)
{
    HICON icon = reinterpret_cast<HICON>(SendDlgItemMessageA(dialog, IDC_WIZARD_ICON, STM_GETICON, 0, 0));
    ICONINFO info;
    BITMAP mask = {};
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    GetObjectA(info.hbmMask, sizeof(mask), &mask);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return mask.bmWidth;
}

TEST(WizardDialog, InstructionsAndTemplateWineCannotReach)
{
    struct Case {
        OsClass osClass;
        int servicePack;
        int installMode;
        UINT text;
        LONG width, height;  // template, in dialog units
    } const cases[] = {
        {OsWinXP, 3, 0, IDS_TEXT_XPSP2_OTHER, 367, 162},  // the fake is in use
        {OsWinXP, 1, 1, IDS_TEXT_NEWHW_NEXT, 367, 162},
        {OsWinXP, 0, 0, IDS_TEXT_NEWHW_END, 367, 162},
        {OsWinXP, -1, 1, IDS_TEXT_NEWHW_NEXT, 367, 162},
        {OsWinXP, -1, 0, IDS_TEXT_NEWHW_END, 367, 162},
        {OsWinLater, 0, 0, IDS_TEXT_GENERAL_END, 367, 162},
        {OsNtOther, 0, 1, IDS_TEXT_GENERAL_NEXT, 362, 130},
    };
    ImportPatch version("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&FakeGetVersionExA));
    ASSERT_TRUE(version.Applied());
    for (const Case& c : cases) {
        SCOPED_TRACE("OsClass " + std::to_string(c.osClass) + ", service pack " +
                     std::to_string(c.servicePack) + ", mode " + std::to_string(c.installMode));
        servicePack = c.servicePack;
        char expected[1024];
        FormatText(c.text, expected);
        InstallWizard wizard(c.osClass, c.installMode);
        INT_PTR result = RunWizard(wizard, [&](HWND dialog) {
            char text[1024] = "";
            GetDlgItemTextA(dialog, IDC_INSTRUCTIONS, text, sizeof(text));
            EXPECT_STREQ(expected, text);
            RECT units = {0, 0, c.width, c.height}, client;
            MapDialogRect(dialog, &units);
            GetClientRect(dialog, &client);
            EXPECT_TRUE(EqualRect(&units, &client)) << "template of " << c.width << " x " << c.height;
            EXPECT_EQ(50, PictureWidth(dialog)) << "the picture at its own size";
        });
        EXPECT_EQ(99, result);
    }
}

// WM_CLOSE, as a second start sends it, counts as Cancel only while Cancel
// can be pressed.
TEST(WizardDialog, CloseEndsTheWizardOnlyBeforeThePhoneIsFound)
{
    RegistryScratch phone(PhoneKeys());
    for (int i = 0; i < 4; ++i) Plug(i);
    for (bool found : {false, true}) {
        SCOPED_TRACE(found ? "detected" : "waiting");
        InstallWizard wizard(OsWinXP, 1);
        WizardTestAccess::SetState(wizard, Waiting);
        INT_PTR result = RunWizard(wizard, [&](HWND dialog) {
            if (found) Notify(dialog);
            ASSERT_EQ(found ? Detected : Waiting, wizard.State());
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            Pump();
        });
        EXPECT_EQ(found ? 99 : 0, result);
    }
}

int displayWidth = 0;  // 0: no display context
int displayHeight = 0;
decltype(&CreateICA) realCreateICA = nullptr;
decltype(&GetDeviceCaps) realGetDeviceCaps = nullptr;

HDC WINAPI FakeCreateICA(LPCSTR driver, LPCSTR device, LPCSTR port, const DEVMODEA* mode)
{
    return displayWidth ? realCreateICA(driver, device, port, mode) : nullptr;
}

int WINAPI FakeGetDeviceCaps(HDC dc, int index)
{
    if (index == HORZRES) return displayWidth;
    if (index == VERTRES) return displayHeight;
    return realGetDeviceCaps(dc, index);
}

TEST(CenterOnDisplay, CentresAndKeepsTheTopLeftCornerOnTheDisplay)
{
    struct Case {
        const char* name;
        int displayWidth, displayHeight;
        RECT parent;  // empty: none
        int width, height;
        POINT expected;
    } const cases[] = {
        {"no display context: 640 x 480", 0, 0, {}, 300, 200, {170, 140}},
        {"display smaller than the window", 400, 300, {}, 600, 350, {-200, -50}},
        // (300 - 301) / 2 truncates toward zero.
        {"parent", 1000, 800, {100, 100, 400, 300}, 301, 201, {100, 100}},
        {"parent off the top left", 1000, 800, {-200, -100, 100, 100}, 400, 300, {0, 0}},
        {"parent off the bottom right", 1000, 800, {876, 732, 1276, 1032}, 300, 200, {700, 600}},
    };
    ImportPatch context("gdi32.dll", "CreateICA", reinterpret_cast<void*>(&FakeCreateICA));
    ImportPatch caps("gdi32.dll", "GetDeviceCaps", reinterpret_cast<void*>(&FakeGetDeviceCaps));
    ASSERT_TRUE(context.Applied() && caps.Applied());
    realCreateICA = reinterpret_cast<decltype(realCreateICA)>(context.Original());
    realGetDeviceCaps = reinterpret_cast<decltype(realGetDeviceCaps)>(caps.Original());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        displayWidth = c.displayWidth;
        displayHeight = c.displayHeight;
        auto popup = [](int x, int y, int w, int h, HWND parent) {
            return CreateWindowExA(0, "STATIC", "", WS_POPUP, x, y, w, h, parent, nullptr, nullptr, nullptr);
        };
        const RECT& p = c.parent;
        HWND parent = p.right ? popup(p.left, p.top, p.right - p.left, p.bottom - p.top, nullptr) : nullptr;
        HWND window = popup(5, 5, c.width, c.height, parent);
        ASSERT_TRUE(window);
        CenterOnDisplay(window);
        RECT rect;
        GetWindowRect(window, &rect);
        EXPECT_EQ(c.expected.x, rect.left);
        EXPECT_EQ(c.expected.y, rect.top);
        EXPECT_EQ(c.width, rect.right - rect.left);
        DestroyWindow(window);
        if (parent) DestroyWindow(parent);
    }
}

}  // namespace
