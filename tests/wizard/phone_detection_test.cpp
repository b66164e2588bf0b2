#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "resources/ids.h"
#include "shell/osclass.h"
#include "support/import_patch.h"
#include "support/registry.h"
#include "wizard/install_wizard.h"
#include "wizard/wizard_harness.h"

using wizard_test::IdKey;
using wizard_test::InstanceKey;
using wizard_test::Plug;
using wizard_test::RunningWizard;

namespace {

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

// Wine takes a key path of at most 255 characters per call, so a long
// instance name is created below its already open identifier key.
void SetClassBelow(const std::string& parentPath, const std::string& instance, const char* value)
{
    ASSERT_TRUE(reg::CreateKey(parentPath));
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KEY_ALL_ACCESS, &parent));
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(parent, instance.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    EXPECT_EQ(ERROR_SUCCESS, status);
    if (status == ERROR_SUCCESS) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Class", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                                lstrlenA(value) + 1));
        RegCloseKey(key);
    }
    RegCloseKey(parent);
}

// Removes the instance keys below an identifier by their own names, which
// also reaches those whose full path is too long for one call.
void DeleteInstancesBelow(const std::string& parentPath)
{
    HKEY parent = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KEY_ALL_ACCESS, &parent) != ERROR_SUCCESS)
        return;
    char name[300];
    DWORD length = sizeof(name);
    while (RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        if (RegDeleteKeyA(parent, name) != ERROR_SUCCESS) break;
        length = sizeof(name);
    }
    RegCloseKey(parent);
}

// ---- One function, straight from the registry ---------------------------------

struct PresenceCase {
    std::string name;
    int index;
    std::function<void()> seed;
    int expected;
};

TEST(IsPhoneFunctionInstalled, ReadsTheFirstInstanceOfAnIdentifier)
{
    const std::string modem = InstanceKey(1);
    const std::string params = modem + "\\Device Parameters";
    auto longInstance = [](int length, int expected) {
        return PresenceCase{"composite instance name of " + std::to_string(length), 0,
                            [length] { SetClassBelow(IdKey(0), std::string(length, 'N'), "USB"); },
                            expected};
    };
    const PresenceCase cases[] = {
        {"nothing", 0, [] {}, 0},
        {"identifier without instances", 0, [] { reg::CreateKey(IdKey(0)); }, 0},
        {"composite", 0, [] { Plug(0); }, 1},
        {"composite, class in lower case", 0, [] { reg::SetString(InstanceKey(0), "Class", "usb"); }, 1},
        // Binary data of the right bytes without a terminator still reads as "USB".
        {"composite, class as unterminated binary", 0,
         [] { reg::SetBinary(InstanceKey(0), "Class", Bytes("USB")); }, 1},
        {"composite, class with a tail", 0, [] { reg::SetString(InstanceKey(0), "Class", "USBX"); }, 0},
        {"instance without a class", 0, [] { reg::SetString(InstanceKey(0), "Driver", "x"); }, 0},
        {"function", 1, [] { Plug(1); }, 1},
        {"function without Device Parameters", 1, [=] { reg::SetString(modem, "Class", "Modem"); }, 0},
        {"function without PortName", 1,
         [=] {
             reg::SetString(modem, "Class", "Modem");
             reg::SetString(params, "PollingPeriod", "0");
         },
         0},
        {"function with an empty PortName", 1,
         [=] {
             reg::SetString(modem, "Class", "Modem");
             reg::SetString(params, "PortName", "");
         },
         1},
        {"function with a binary PortName", 1,
         [=] {
             reg::SetString(modem, "Class", "Ports");
             reg::SetBinary(params, "PortName", Bytes("COM7"));
         },
         1},
        // A class longer than the buffer cannot be read.
        {"function with a 300-character class", 1,
         [=] {
             reg::SetString(modem, "Class", std::string(300, 'M'));
             reg::SetString(params, "PortName", "COM3");
         },
         0},
        {"first instance lacks its port", 1,
         [] {
             reg::SetString(InstanceKey(1, "0000"), "Class", "Modem");
             reg::SetString(InstanceKey(1, "ZZZZ"), "Class", "Modem");
             reg::SetString(InstanceKey(1, "ZZZZ") + "\\Device Parameters", "PortName", "COM3");
         },
         0},
        {"only the first instance has its port", 1,
         [] {
             reg::SetString(InstanceKey(1, "0000"), "Class", "Modem");
             reg::SetString(InstanceKey(1, "0000") + "\\Device Parameters", "PortName", "COM3");
             reg::SetString(InstanceKey(1, "ZZZZ"), "Class", "Modem");
         },
         1},
        // Instance name + "\Device Parameters" must fit in 260 characters.
        longInstance(242, 1),
        longInstance(243, 0),
    };
    for (const PresenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryScratch scratch(wizard_test::PhoneKeys());
        c.seed();
        KeyBalance balance;
        EXPECT_EQ(c.expected, IsPhoneFunctionInstalled(phoneIds[c.index]));
        EXPECT_EQ(0, balance.Balance()) << "keys left open";
        DeleteInstancesBelow(IdKey(0));
    }
}

// ---- Values stay terminated in their buffer ------------------------------------

struct ReadCase {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    int expected;
    const char* text;
};

TEST(ReadRegistryString, LeavesEveryValueTerminatedInItsBuffer)
{
    const std::string key = "System\\CurrentControlSet\\Enum\\USB\\Q9ReadTest";
    RegistryScratch scratch({key});
    const DWORD size = 8;
    const ReadCase cases[] = {
        {"string", REG_SZ, Bytes(std::string("COM3", 5)), 1, "COM3"},
        {"binary, shorter than the buffer", REG_BINARY, Bytes("ABCDEFG"), 1, "ABCDEFG"},
        {"binary, exactly the buffer", REG_BINARY, Bytes("ABCDEFGH"), 1, "ABCDEFG"},
        {"binary, longer than the buffer", REG_BINARY, Bytes("ABCDEFGHI"), 0, ""},
        {"string, longer than the buffer", REG_SZ, Bytes(std::string("COM12345678", 12)), 0, ""},
        {"dword", REG_DWORD, Bytes("AAAA"), 1, "AAAA"},
        {"multi-string", REG_MULTI_SZ, Bytes(std::string("A\0B\0\0", 5)), 1, "A"},
        {"empty binary", REG_BINARY, {}, 1, ""},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reg::SetBinary(key + "\\Device Parameters", "PortName", c.data, c.type));
        HKEY parent = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &parent));
        char buffer[16];
        FillMemory(buffer, sizeof(buffer), 'x');
        EXPECT_EQ(c.expected, ReadRegistryString(parent, "Device Parameters", "PortName", buffer, size));
        RegCloseKey(parent);
        EXPECT_STREQ(c.text, buffer);
        EXPECT_EQ(std::string(8, 'x'), std::string(buffer + size, 8)) << "written past the buffer";
    }

    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &parent));
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(0, ReadRegistryString(parent, "Device Parameters", "NoSuchValue", buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(0, ReadRegistryString(parent, "NoSuchKey", "PortName", buffer, sizeof(buffer)));
    RegCloseKey(parent);
}

// ---- Detection in the running dialog --------------------------------------------

class Detection : public testing::Test {
protected:
    Detection() : scratch_(wizard_test::PhoneKeys()) {}

    RegistryScratch scratch_;
};

InstallWizard WaitingWizard(OsClass osClass)
{
    InstallWizard wizard(osClass, 0);
    WizardTestAccess::SetState(wizard, Waiting);
    return wizard;
}

void ExpectStillWaiting(const InstallWizard& wizard, const RunningWizard& dialog)
{
    EXPECT_EQ(Waiting, wizard.State());
    EXPECT_FALSE(dialog.Enabled(IDC_FINISH));
    EXPECT_TRUE(dialog.Enabled(IDCANCEL));
    EXPECT_TRUE(dialog.IsDefault(IDCANCEL));
}

TEST_F(Detection, ProgressCountsTheFunctionsUntilAllFourAreThere)
{
    InstallWizard wizard = WaitingWizard(OsWinXP);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE("plugged up to " + std::to_string(index));
        Plug(index);
        dialog.Notify();
        EXPECT_EQ(index + 1, dialog.Position());
        ExpectStillWaiting(wizard, dialog);
    }
    Plug(3);
    dialog.Notify();
    EXPECT_EQ(4, dialog.Position());
    EXPECT_EQ(Detected, wizard.State());
}

TEST_F(Detection, APhoneAlreadySetUpIsSeenOnlyAtTheFirstNotification)
{
    wizard_test::PlugAll();
    InstallWizard wizard = WaitingWizard(OsWin2000);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    EXPECT_EQ(0, dialog.Position());
    ExpectStillWaiting(wizard, dialog);
    dialog.Notify();
    EXPECT_EQ(4, dialog.Position());
    EXPECT_EQ(Detected, wizard.State());
}

// Subkey paths opened through the test program's imports.
std::vector<std::string> openedPaths;
decltype(&RegOpenKeyExA) realRegOpenKeyExA = nullptr;

LONG WINAPI RecordingRegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY out)
{
    openedPaths.push_back(path ? path : "");
    return realRegOpenKeyExA(root, path, options, access, out);
}

TEST_F(Detection, AFunctionWithoutItsPortStopsTheCheckThere)
{
    Plug(0);
    reg::SetString(InstanceKey(1), "Class", "Modem");
    Plug(2);
    Plug(3);
    InstallWizard wizard = WaitingWizard(OsWinXP);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());

    openedPaths.clear();
    ImportPatch recorder("advapi32.dll", "RegOpenKeyExA",
                         reinterpret_cast<void*>(&RecordingRegOpenKeyExA));
    ASSERT_TRUE(recorder.Applied());
    realRegOpenKeyExA = reinterpret_cast<decltype(&RegOpenKeyExA)>(recorder.Original());
    dialog.Notify();
    std::vector<std::string> opened = openedPaths;
    openedPaths.clear();

    EXPECT_EQ(1, dialog.Position());
    ExpectStillWaiting(wizard, dialog);
    for (const std::string& path : opened) {
        EXPECT_EQ(std::string::npos, path.find("&Mi_03")) << path;
        EXPECT_EQ(std::string::npos, path.find("&Mi_05")) << path;
    }
    bool modemTested = false;
    for (const std::string& path : opened) modemTested |= path.find("&Mi_01") != std::string::npos;
    EXPECT_TRUE(modemTested);
}

TEST_F(Detection, TheFirstInstanceDecides)
{
    wizard_test::PlugAll();
    reg::SetString(InstanceKey(1, "0000"), "Class", "Modem");  // sorts before the complete one
    InstallWizard wizard = WaitingWizard(OsWinVista);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    dialog.Notify();
    EXPECT_EQ(1, dialog.Position());
    ExpectStillWaiting(wizard, dialog);

    reg::SetString(InstanceKey(1, "0000") + "\\Device Parameters", "PortName", "COM9");
    dialog.Notify();
    EXPECT_EQ(4, dialog.Position());
    EXPECT_EQ(Detected, wizard.State());
}

TEST_F(Detection, WhenTheCompositeDeviceFailsTheBarKeepsItsPlace)
{
    for (int i = 0; i < 3; ++i) Plug(i);
    InstallWizard wizard = WaitingWizard(OsWinXP);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    dialog.Notify();
    ASSERT_EQ(3, dialog.Position());

    reg::DeleteTree(IdKey(0));
    dialog.Notify();
    EXPECT_EQ(3, dialog.Position());
    ExpectStillWaiting(wizard, dialog);
}

TEST_F(Detection, TheBarMovesBackWhenAnEarlierFunctionFails)
{
    for (int i = 0; i < 3; ++i) Plug(i);
    InstallWizard wizard = WaitingWizard(OsWinXP);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    dialog.Notify();
    ASSERT_EQ(3, dialog.Position());

    reg::DeleteTree(InstanceKey(1) + "\\Device Parameters");
    dialog.Notify();
    EXPECT_EQ(1, dialog.Position());
    ExpectStillWaiting(wizard, dialog);
}

TEST_F(Detection, TheSwitchToDetectedHappensOnceAndForGood)
{
    wizard_test::PlugAll();
    InstallWizard wizard = WaitingWizard(OsWinXP);
    RunningWizard dialog(wizard);
    ASSERT_TRUE(dialog.Dialog());
    dialog.Notify();

    EXPECT_EQ(Detected, wizard.State());
    EXPECT_TRUE(dialog.Enabled(IDC_FINISH));
    EXPECT_TRUE(dialog.IsDefault(IDC_FINISH));
    EXPECT_EQ(dialog.Item(IDC_FINISH), dialog.Focus());
    EXPECT_FALSE(dialog.Enabled(IDCANCEL));
    EXPECT_FALSE(dialog.IsDefault(IDCANCEL));

    // Unplugged afterwards: nothing is looked at any more.
    for (int i = 0; i < 4; ++i) reg::DeleteTree(IdKey(i));
    KeyBalance opened;
    dialog.Notify();
    EXPECT_EQ(0, opened.Opened());
    EXPECT_EQ(4, dialog.Position());
    EXPECT_EQ(Detected, wizard.State());
    EXPECT_TRUE(dialog.Enabled(IDC_FINISH));
    EXPECT_FALSE(dialog.Enabled(IDCANCEL));
}

TEST_F(Detection, TheNineXFamilyAndNt4NeverSeeThePhone)
{
    wizard_test::PlugAll();
    for (OsClass osClass : {OsWin95, OsWin98, OsWinMe, OsNtOther}) {
        SCOPED_TRACE("OsClass " + std::to_string(osClass));
        InstallWizard wizard = WaitingWizard(osClass);
        RunningWizard dialog(wizard);
        ASSERT_TRUE(dialog.Dialog());
        dialog.Notify();
        EXPECT_EQ(0, dialog.Position());
        ExpectStillWaiting(wizard, dialog);
    }
}

TEST_F(Detection, NotificationsAreAnsweredOnlyWhileWaiting)
{
    wizard_test::PlugAll();
    for (WizardState state : {Idle, Staging, Detected}) {
        InstallWizard wizard(OsWinXP, 0);
        WizardTestAccess::SetState(wizard, state);
        EXPECT_FALSE(wizard.OnDeviceChange(nullptr, DBT_DEVNODES_CHANGED, 0)) << "state " << state;
        EXPECT_EQ(state, wizard.State());
    }
    // Waiting answers TRUE whether or not the phone is complete.
    reg::DeleteTree(IdKey(3));
    InstallWizard wizard = WaitingWizard(OsWinXP);
    EXPECT_TRUE(wizard.OnDeviceChange(nullptr, DBT_DEVICEARRIVAL, 0));
    EXPECT_EQ(Waiting, wizard.State());
}

}  // namespace
