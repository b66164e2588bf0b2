#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/config.h"
#include "shell/expected_strings.h"
#include "shell/osclass.h"
#include "shell/text.h"
#include "support/fault.h"
#include "support/files.h"
#include "support/import_patch.h"
#include "support/registry.h"
#include "support/text_util.h"
#include "wizard/install_wizard.h"
#include "wizard/wizard_harness.h"

using wizard_test::RunningWizard;

namespace {

const char kProductKey[] = "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K";

// A string table text as the program must show it: UTF-8 from the table,
// the series name filled in, in the ANSI code page.
std::string Expected(unsigned id, const std::string& seriesUtf8 = "GSM")
{
    for (const ExpectedString& entry : kExpectedStrings) {
        if (entry.id != id) continue;
        std::string text = entry.utf8;
        const std::string placeholder = "<%SERIES%>";
        for (size_t at = text.find(placeholder); at != std::string::npos;
             at = text.find(placeholder, at + seriesUtf8.size()))
            text.replace(at, placeholder.size(), seriesUtf8);
        return Utf8ToAnsi(text);
    }
    ADD_FAILURE() << "no expected text for " << id;
    return "";
}

// Service pack reported to GetServicePackVersion; -1 makes the query fail.
int reportedServicePack = 0;

BOOL WINAPI FakeGetVersionExA(OSVERSIONINFOA* info)
{
    if (reportedServicePack < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    ZeroMemory(info, size);
    info->dwOSVersionInfoSize = size;
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    if (size >= sizeof(OSVERSIONINFOEXA))
        reinterpret_cast<OSVERSIONINFOEXA*>(info)->wServicePackMajor =
            static_cast<WORD>(reportedServicePack);
    return TRUE;
}

SIZE IconSize(HWND iconControl)
{
    SIZE size = {0, 0};
    HICON icon = reinterpret_cast<HICON>(SendMessageA(iconControl, STM_GETICON, 0, 0));
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info)) return size;
    BITMAP bitmap;
    if (GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap)) {
        size.cx = bitmap.bmWidth;
        size.cy = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return size;
}

// ---- Templates and the wizard's picture -------------------------------------

struct TemplateControl {
    int id;
    WORD classOrdinal;  // 0 for a class given by name
    const char* className;
    const char* text;   // nullptr: the text is resource ordinal 108
    DWORD style;
    short x, y, cx, cy;
};

const DWORD kVisibleChild = WS_CHILD | WS_VISIBLE;
const DWORD kPushButton = kVisibleChild | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD kText = kVisibleChild | WS_GROUP | SS_LEFT;
const DWORD kIcon = kVisibleChild | SS_ICON | SS_REALSIZEIMAGE;
const DWORD kLine = kVisibleChild | SS_BLACKFRAME | SS_SUNKEN;
const DWORD kBar = kVisibleChild | WS_BORDER;

const TemplateControl kSmall[] = {
    {2, 0x80, "", "&Cancel", kPushButton, 305, 112, 50, 15},
    {1000, 0x82, "", "", kText, 66, 15, 289, 71},
    {1002, 0x82, "", nullptr, kIcon, 13, 15, 20, 20},
    {1001, 0x82, "", "", kText, 7, 110, 86, 8},
    {-1, 0x82, "", "", kLine, 0, 105, 361, 1},
    {3, 0x80, "", "&Next", kPushButton, 249, 112, 50, 15},
    {1003, 0, "msctls_progress32", "Progress1", kBar, 66, 91, 289, 10},
};
const TemplateControl kLarge[] = {
    {2, 0x80, "", "&Cancel", kPushButton, 310, 144, 50, 15},
    {3, 0x80, "", "&Next", kPushButton, 254, 144, 50, 15},
    {1000, 0x82, "", "", kText, 66, 15, 294, 101},
    {1002, 0x82, "", nullptr, kIcon, 13, 15, 20, 20},
    {1001, 0x82, "", "", kText, 7, 142, 86, 8},
    {-1, 0x82, "", "", kLine, 0, 137, 367, 1},
    {1003, 0, "msctls_progress32", "Progress1", kBar, 66, 123, 294, 10},
};

// Reads a name-or-ordinal field of a dialog template.
const WORD* ReadField(const WORD* p, std::wstring* name, WORD* ordinal)
{
    *ordinal = 0;
    name->clear();
    if (*p == 0xFFFF) {
        *ordinal = p[1];
        return p + 2;
    }
    while (*p) name->push_back(static_cast<wchar_t>(*p++));
    return p + 1;
}

std::wstring Wide(const char* utf8)
{
    std::wstring wide(64, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], 64);
    wide.resize(n > 0 ? n - 1 : 0);
    return wide;
}

void CheckTemplate(int id, short width, short height, const TemplateControl* controls, int count)
{
    SCOPED_TRACE("template " + std::to_string(id));
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(id),
                                  MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_TRUE(found) << "no Chinese (Simplified) template";
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    ASSERT_TRUE(data);

    const DLGTEMPLATE* header = reinterpret_cast<const DLGTEMPLATE*>(data);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT), header->style);
    EXPECT_EQ(0u, header->dwExtendedStyle);
    EXPECT_EQ(count, header->cdit);
    EXPECT_EQ(width, header->cx);
    EXPECT_EQ(height, header->cy);

    const WORD* p = reinterpret_cast<const WORD*>(header + 1);
    std::wstring name;
    WORD ordinal = 0;
    p = ReadField(p, &name, &ordinal);  // menu
    EXPECT_TRUE(name.empty() && ordinal == 0);
    p = ReadField(p, &name, &ordinal);  // class
    EXPECT_TRUE(name.empty() && ordinal == 0);
    p = ReadField(p, &name, &ordinal);  // caption
    EXPECT_TRUE(name.empty() && ordinal == 0);
    EXPECT_EQ(9, *p++);
    p = ReadField(p, &name, &ordinal);
    EXPECT_TRUE(name == Wide(u8"宋体")) << "font face";

    for (int i = 0; i < count; ++i) {
        const TemplateControl& want = controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        p = reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
        const DLGITEMTEMPLATE* item = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
        EXPECT_EQ(want.style, item->style);
        EXPECT_EQ(0u, item->dwExtendedStyle);
        EXPECT_EQ(want.x, item->x);
        EXPECT_EQ(want.y, item->y);
        EXPECT_EQ(want.cx, item->cx);
        EXPECT_EQ(want.cy, item->cy);
        EXPECT_EQ(static_cast<WORD>(want.id), item->id);
        p = reinterpret_cast<const WORD*>(item + 1);
        p = ReadField(p, &name, &ordinal);
        if (want.classOrdinal) {
            EXPECT_EQ(want.classOrdinal, ordinal);
        } else {
            // windres keeps class names in capitals; lookups ignore case.
            EXPECT_EQ(0, lstrcmpiW(name.c_str(), Wide(want.className).c_str()));
        }
        p = ReadField(p, &name, &ordinal);
        if (want.text) {
            EXPECT_TRUE(name == Wide(want.text) && ordinal == 0);
        } else {
            EXPECT_EQ(IDI_WIZARD, ordinal);
        }
        WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
    }
}

TEST(WizardResources, TemplatesHoldTheLayout)
{
    CheckTemplate(IDD_WIZARD_SMALL, 362, 130, kSmall, 7);
    CheckTemplate(IDD_WIZARD_LARGE, 367, 162, kLarge, 7);
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconGroup {
    WORD reserved, type, count;
    GroupEntry entries[1];
};
#pragma pack(pop)

const IconGroup* LoadGroup(int id)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));
    return found ? static_cast<const IconGroup*>(LockResource(LoadResource(module, found))) : nullptr;
}

TEST(WizardResources, PictureIsOne50By95ImageIn256Colours)
{
    const IconGroup* group = LoadGroup(IDI_WIZARD);
    ASSERT_TRUE(group);
    ASSERT_EQ(1, group->count);
    EXPECT_EQ(50, group->entries[0].width);
    EXPECT_EQ(95, group->entries[0].height);
    EXPECT_EQ(0, group->entries[0].colours);  // 0 stands for 256 and more
    EXPECT_EQ(8, group->entries[0].bitCount);
}

// Every image a group names is its own: images of two icons must not share
// a resource id.
TEST(WizardResources, EachIconGroupFindsItsOwnImages)
{
    HMODULE module = GetModuleHandleA(nullptr);
    for (int id : {IDI_PROGRAM, IDI_WIZARD}) {
        const IconGroup* group = LoadGroup(id);
        ASSERT_TRUE(group) << "group " << id;
        for (int i = 0; i < group->count; ++i) {
            const GroupEntry& entry = group->entries[i];
            SCOPED_TRACE("group " + std::to_string(id) + ", image " + std::to_string(entry.id));
            HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3));
            ASSERT_TRUE(found);
            const BITMAPINFOHEADER* image =
                static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, found)));
            ASSERT_TRUE(image);
            EXPECT_EQ(entry.width, image->biWidth);
            EXPECT_EQ(entry.height * 2, image->biHeight);  // colour and mask
            EXPECT_EQ(entry.bitCount, image->biBitCount);
            EXPECT_EQ(entry.bytes, SizeofResource(module, found));
        }
    }
}

// ---- What the dialog shows when it opens ------------------------------------

struct TextCase {
    OsClass osClass;
    int servicePack;  // -1: the query fails
    int installMode;
    unsigned textId;
    unsigned finishId;
    int templateId;
};

const TextCase kTextCases[] = {
    {OsWin2000, 4, 1, 15007, 15050, 102},
    {OsWin2000, 4, 0, 15008, 15052, 102},
    {OsWinXP, 2, 1, 15009, 15050, 102},
    {OsWinXP, 3, 0, 15010, 15052, 102},
    {OsWinXP, 1, 1, 15002, 15050, 102},
    {OsWinXP, 0, 0, 15004, 15052, 102},
    {OsWinXP, -1, 1, 15002, 15050, 102},
    {OsWinXP, -1, 0, 15004, 15052, 102},
    {OsWinServer2003, 2, 1, 15001, 15050, 102},
    {OsWinServer2003, 2, 0, 15003, 15052, 102},
    {OsWinVista, 3, 1, 15002, 15050, 102},
    {OsWinVista, 3, 0, 15004, 15052, 102},
    {OsWinLater, 3, 0, 15003, 15052, 102},
    {OsWin95, 0, 0, 15003, 15052, 101},
    {OsWin98, 0, 1, 15001, 15050, 101},
    {OsWinMe, 0, 0, 15003, 15052, 101},
    {OsNtOther, 6, 1, 15001, 15050, 101},
};

TEST(WizardDialog, InstructionsCaptionsAndTemplateFollowSystemAndMode)
{
    ImportPatch version("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&FakeGetVersionExA));
    ASSERT_TRUE(version.Applied());
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE("OsClass " + std::to_string(c.osClass) + ", service pack " +
                     std::to_string(c.servicePack) + ", install mode " + std::to_string(c.installMode));
        reportedServicePack = c.servicePack;
        InstallWizard wizard(c.osClass, c.installMode);
        WizardTestAccess::SetState(wizard, Waiting);
        RunningWizard dialog(wizard);
        ASSERT_TRUE(dialog.Dialog());
        EXPECT_EQ(Expected(c.textId), dialog.Text(IDC_INSTRUCTIONS)) << "expected text " << c.textId;
        EXPECT_EQ(Expected(c.finishId), dialog.Text(IDC_FINISH));
        EXPECT_EQ(Expected(15051), dialog.Text(IDCANCEL));
        if (c.templateId == 102) {
            EXPECT_TRUE(dialog.ClientIsTemplate(367, 162)) << "template 102";
        } else {
            EXPECT_TRUE(dialog.ClientIsTemplate(362, 130)) << "template 101";
        }
    }
}

TEST(WizardDialog, SeriesNameFromTheConfigurationFillsTheInstructions)
{
    // "星光X9" as the NAME of a Quellin9.ini.
    lstrcpynA(App().seriesName, Utf8ToAnsi(u8"星光X9").c_str(), sizeof(App().seriesName));
    Placeholders().Clear();
    RegisterPlaceholders();
    InstallWizard wizard(OsWin2000, 1);
    WizardTestAccess::SetState(wizard, Waiting);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    EXPECT_EQ(Expected(15007, u8"星光X9"), dialog.Text(IDC_INSTRUCTIONS));
}

TEST(WizardDialog, OpensWaitingWithCancelAsTheDefaultAndTheBarEmpty)
{
    App().versionMajor = 9;
    App().versionMinor = 0;
    App().versionBuild = 0;
    App().versionRevision = 1;
    InstallWizard wizard(OsWin2000, 0);
    WizardTestAccess::SetState(wizard, Waiting);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());

    EXPECT_EQ(PROGRAM_TITLE, dialog.Caption());
    EXPECT_TRUE(dialog.Enabled(IDCANCEL));
    EXPECT_TRUE(dialog.IsDefault(IDCANCEL));
    EXPECT_EQ(dialog.Item(IDCANCEL), dialog.Focus());
    EXPECT_FALSE(dialog.Enabled(IDC_FINISH));
    EXPECT_FALSE(dialog.IsDefault(IDC_FINISH));
    EXPECT_EQ(0, dialog.Position());
    PBRANGE range = dialog.Range();
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(4, range.iHigh);
    EXPECT_EQ("Ver. 9.0.0", dialog.Text(IDC_VERSION_LABEL));

    // The template's picture, at its own size.
    SIZE picture = IconSize(dialog.Item(IDC_WIZARD_ICON));
    EXPECT_EQ(50, picture.cx);
    EXPECT_EQ(95, picture.cy);

    RECT rect;
    GetWindowRect(dialog.Dialog(), &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - width) / 2, rect.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - height) / 2, rect.top);
}

TEST(WizardDialog, VersionLabelStaysEmptyWhenSwitchedOff)
{
    App().versionMajor = 9;
    App().showVersionLabel = 0;
    InstallWizard wizard(OsWinXP, 0);
    WizardTestAccess::SetState(wizard, Waiting);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    EXPECT_EQ("", dialog.Text(IDC_VERSION_LABEL));
}

// A 16x16 icon file with one 32-bit image.
std::string SmallIconFile()
{
    std::string file;
    auto put16 = [&](int v) { file.push_back(char(v & 0xFF)), file.push_back(char(v >> 8)); };
    auto put32 = [&](DWORD v) { put16(v & 0xFFFF), put16(v >> 16); };
    const DWORD pixels = 16 * 16 * 4;
    const DWORD mask = 16 * 4;
    const DWORD image = 40 + pixels + mask;
    put16(0), put16(1), put16(1);
    file += std::string("\x10\x10\x00\x00", 4);
    put16(1), put16(32), put32(image), put32(22);
    put32(40), put32(16), put32(32), put16(1), put16(32);
    for (int i = 0; i < 6; ++i) put32(0);
    file += std::string(pixels / 2, '\x7f') + std::string(pixels / 2, '\x20');
    file += std::string(mask, '\0');
    return file;
}

TEST(WizardDialog, IconFileOfTheConfigurationReplacesThePicture)
{
    ScratchDir dir;
    struct Case {
        std::string name;
        std::string content;
        LONG width;
    } cases[] = {
        {"own.ico", SmallIconFile(), 16},
        {"broken.ico", "not an icon at all", 50},  // the template's picture stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFileText(dir / c.name, c.content));
        lstrcpynA(App().iconPath, (dir / c.name).c_str(), sizeof(App().iconPath));
        InstallWizard wizard(OsWinXP, 0);
        WizardTestAccess::SetState(wizard, Waiting);
        RunningWizard dialog(wizard);
        ASSERT_TRUE(dialog.Dialog());
        EXPECT_EQ(c.width, IconSize(dialog.Item(IDC_WIZARD_ICON)).cx);
    }
}

// ---- How the dialog ends -----------------------------------------------------

TEST(WizardDialog, CancelEscapeAndCloseEndAWaitingWizardWithZero)
{
    RegistryScratch scratch({"SOFTWARE\\TAVRO"});
    ASSERT_TRUE(reg::SetDword(kProductKey, "InstallFlag", 0));
    enum Way { CancelButton, EscapeKey, CloseMessage };
    for (Way way : {CancelButton, EscapeKey, CloseMessage}) {
        SCOPED_TRACE("way " + std::to_string(way));
        InstallWizard wizard(OsWinXP, 1);
        WizardTestAccess::SetState(wizard, Waiting);
        RunningWizard dialog(wizard);
        ASSERT_TRUE(dialog.Dialog());
        if (way == CancelButton) dialog.Command(IDCANCEL);
        if (way == EscapeKey) PostMessageA(dialog.Item(IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        if (way == CloseMessage) dialog.Close();
        ASSERT_TRUE(dialog.Ended());
        EXPECT_EQ(0, dialog.Result());
    }
    EXPECT_EQ(0u, *reinterpret_cast<const DWORD*>(reg::GetValue(kProductKey, "InstallFlag").data()));
}

struct FinishCase {
    int installMode;
    bool productKey;
    bool detected;
    INT_PTR result;
    const char* flagAfter;  // "absent", "0" or "1"
};

TEST(WizardDialog, FinishingRecordsTheInstallationOnlyInInstallMode)
{
    const FinishCase cases[] = {
        {1, true, true, 1, "1"},
        {0, true, true, 1, "0"},
        {1, false, true, 1, "absent"},  // the key is never created
        {1, true, false, 0, "0"},       // before detection the command only ends the dialog
    };
    RegistryScratch phone(wizard_test::PhoneKeys());
    wizard_test::PlugAll();
    for (const FinishCase& c : cases) {
        SCOPED_TRACE("install mode " + std::to_string(c.installMode) + ", key " +
                     std::to_string(c.productKey) + ", detected " + std::to_string(c.detected));
        RegistryScratch scratch({"SOFTWARE\\TAVRO"});
        if (c.productKey) {
            ASSERT_TRUE(reg::SetDword(kProductKey, "InstallFlag", 0));
        }
        InstallWizard wizard(OsWinXP, c.installMode);
        WizardTestAccess::SetState(wizard, Waiting);
        RunningWizard dialog(wizard);
        ASSERT_TRUE(dialog.Dialog());
        if (c.detected) {
            dialog.Notify();
            ASSERT_EQ(Detected, wizard.State());
        }
        dialog.Command(IDC_FINISH);
        ASSERT_TRUE(dialog.Ended());
        EXPECT_EQ(c.result, dialog.Result());
        std::vector<BYTE> flag = reg::GetValue(kProductKey, "InstallFlag");
        std::string seen = flag.size() == 4 ? std::to_string(*reinterpret_cast<DWORD*>(flag.data()))
                                            : "absent";
        EXPECT_EQ(c.flagAfter, seen);
        if (!c.productKey) {
            EXPECT_FALSE(reg::KeyExists(kProductKey));
        }
    }
}

TEST(WizardDialog, CloseDoesNotEndADetectedWizard)
{
    RegistryScratch phone(wizard_test::PhoneKeys());
    wizard_test::PlugAll();
    InstallWizard wizard(OsWinVista, 0);
    WizardTestAccess::SetState(wizard, Waiting);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    dialog.Notify();
    ASSERT_EQ(Detected, wizard.State());
    dialog.Close();
    EXPECT_FALSE(dialog.Ended(500)) << "Cancel is disabled, so WM_CLOSE must not end the dialog";
    dialog.Command(IDC_FINISH);
    ASSERT_TRUE(dialog.Ended());
    EXPECT_EQ(1, dialog.Result());
}

// ---- Centring ----------------------------------------------------------------

struct Placement {
    int x, y, width, height;
};

HWND Popup(const Placement& p, HWND parent)
{
    return CreateWindowExA(0, "STATIC", "", WS_POPUP, p.x, p.y, p.width, p.height, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

int fakeWidth = 0;
int fakeHeight = 0;
decltype(&GetDeviceCaps) realGetDeviceCaps = nullptr;

int WINAPI FakeGetDeviceCaps(HDC dc, int index)
{
    if (index == HORZRES) return fakeWidth;
    if (index == VERTRES) return fakeHeight;
    return realGetDeviceCaps(dc, index);
}

TEST(CenterOnDisplay, CentresOnTheParentOrTheDisplayAndKeepsTheWindowOnIt)
{
    const int w = GetSystemMetrics(SM_CXSCREEN);
    const int h = GetSystemMetrics(SM_CYSCREEN);
    struct Case {
        const char* name;
        bool hasParent;
        Placement parent;
        Placement window;
        POINT expected;
    } cases[] = {
        {"display", false, {}, {0, 0, 300, 200}, {(w - 300) / 2, (h - 200) / 2}},
        {"parent", true, {100, 50, 500, 400}, {0, 0, 300, 200}, {200, 150}},
        // (300 - 301) / 2 truncates toward zero.
        {"parent, odd difference", true, {100, 100, 300, 200}, {0, 0, 301, 201}, {100, 100}},
        {"parent off the top left", true, {-200, -100, 300, 200}, {0, 0, 400, 300}, {0, 0}},
        {"parent off the bottom right", true, {w - 124, h - 68, 400, 300}, {0, 0, 300, 200},
         {w - 300, h - 200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND parent = c.hasParent ? Popup(c.parent, nullptr) : nullptr;
        HWND window = Popup(c.window, parent);
        ASSERT_TRUE(window);
        CenterOnDisplay(window);
        RECT rect;
        GetWindowRect(window, &rect);
        EXPECT_EQ(c.expected.x, rect.left);
        EXPECT_EQ(c.expected.y, rect.top);
        EXPECT_EQ(c.window.width, rect.right - rect.left);
        EXPECT_EQ(c.window.height, rect.bottom - rect.top);
        DestroyWindow(window);
        if (parent) DestroyWindow(parent);
    }
}

TEST(CenterOnDisplay, AWindowLargerThanTheDisplayLinesUpWithItsRightAndBottomEdges)
{
    fakeWidth = 400;
    fakeHeight = 300;
    ImportPatch caps("gdi32.dll", "GetDeviceCaps", reinterpret_cast<void*>(&FakeGetDeviceCaps));
    ASSERT_TRUE(caps.Applied());
    realGetDeviceCaps = reinterpret_cast<decltype(&GetDeviceCaps)>(caps.Original());
    HWND window = Popup({10, 10, 600, 350}, nullptr);
    CenterOnDisplay(window);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(-200, rect.left);
    EXPECT_EQ(-50, rect.top);
    DestroyWindow(window);
}

TEST(CenterOnDisplay, WithoutADisplayContextAssumes640By480)
{
    FAIL_CALL(gdi32.dll, CreateICA, nullptr, ERROR_NOT_ENOUGH_MEMORY);
    HWND window = Popup({0, 0, 300, 200}, nullptr);
    CenterOnDisplay(window);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(170, rect.left);
    EXPECT_EQ(140, rect.top);
    DestroyWindow(window);
}

}  // namespace
