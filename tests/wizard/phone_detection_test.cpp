// Detection on real device keys: shapes Plug and Play may leave, values at
// the edge of their buffer, orders of events the road test cannot produce.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "resources/ids.h"
#include "shell/osclass.h"
#include "wizard/wizard_harness.h"

using namespace wizard_test;

namespace {

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

TEST(IsPhoneFunctionInstalled, ReadsTheFirstInstanceOfAnIdentifier)
{
    const std::string composite = InstanceKey(0);
    const std::string modem = InstanceKey(1);
    const std::string port = modem + "\\Device Parameters";
    struct Case {
        const char* name;
        int index;
        std::function<void()> seed;
        int expected;
    } const cases[] = {
        {"identifier without instances", 0, [] { reg::CreateKey(IdKey(0)); }, 0},
        {"instance without a class", 0, [&] { reg::SetString(composite, "Driver", "x"); }, 0},
        {"composite, class in lower case", 0, [&] { reg::SetString(composite, "Class", "usb"); }, 1},
        {"class USBX needs a port", 0, [&] { reg::SetString(composite, "Class", "USBX"); }, 0},
        {"function with an empty port name", 1,
         [&] { reg::SetString(modem, "Class", "Modem"), reg::SetString(port, "PortName", ""); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryScratch scratch(PhoneKeys());
        c.seed();
        KeyBalance keys;
        EXPECT_EQ(c.expected, IsPhoneFunctionInstalled(phoneIds[c.index]));
        EXPECT_EQ(0, keys.Balance()) << "keys left open";
    }
}

TEST(ReadRegistryString, LeavesEveryValueTerminatedInItsBuffer)
{
    const std::string key = IdKey(0) + "\\Q9ReadTest";
    RegistryScratch scratch({IdKey(0)});
    const DWORD size = 8;
    struct Case {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;  // empty with REG_NONE: no value
        int expected;
        const char* text;
    } const cases[] = {
        {"string", REG_SZ, Bytes(std::string("COM3", 5)), 1, "COM3"},
        {"binary, one short of the buffer", REG_BINARY, Bytes("ABCDEFG"), 1, "ABCDEFG"},
        {"binary, exactly the buffer", REG_BINARY, Bytes("ABCDEFGH"), 1, "ABCDEFG"},
        {"binary, longer than the buffer", REG_BINARY, Bytes("ABCDEFGHI"), 0, ""},
        {"string, longer than the buffer", REG_SZ, Bytes(std::string("COM12345678", 12)), 0, ""},
        {"dword", REG_DWORD, Bytes("AAAA"), 1, "AAAA"},
        {"multi-string", REG_MULTI_SZ, Bytes(std::string("A\0B\0\0", 5)), 1, "A"},
        {"empty binary", REG_BINARY, {}, 1, ""},
        {"no such value", REG_NONE, {}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reg::DeleteTree(key);
        ASSERT_TRUE(reg::CreateKey(key + "\\Device Parameters"));
        if (c.type != REG_NONE) {
            ASSERT_TRUE(reg::SetBinary(key + "\\Device Parameters", "PortName", c.data, c.type));
        }
        HKEY parent = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &parent));
        char buffer[16];
        FillMemory(buffer, sizeof(buffer), 'x');
        EXPECT_EQ(c.expected, ReadRegistryString(parent, "Device Parameters", "PortName", buffer, size));
        RegCloseKey(parent);
        EXPECT_EQ(c.text, std::string(buffer, strnlen(buffer, sizeof(buffer))));
        EXPECT_EQ(std::string(8, 'x'), std::string(buffer + size, 8)) << "written past the buffer";
    }
}

TEST(Detection, EveryNotificationRechecksFromTheCompositeDevice)
{
    // Each step changes the device keys, then one notification arrives.
    struct Step {
        std::function<void()> change;
        int position;
        bool detected;
    };
    auto plugged = [](std::vector<int> indexes) {
        return [=] { for (int i : indexes) Plug(i); };
    };
    auto nothing = [] {};
    struct Case {
        const char* name;
        OsClass osClass;
        std::function<void()> seed;  // before the dialog opens
        std::vector<Step> steps;
    } const cases[] = {
        {"set up before the dialog opened; found for good", OsWinXP, plugged({0, 1, 2, 3}),
         {{nothing, 4, true}, {[] { reg::DeleteTree(IdKey(3)); }, 4, true}}},
        {"bar moves back from 3 to 1", OsWinXP, plugged({0, 1, 2}),
         {{nothing, 3, false}, {[] { reg::DeleteTree(InstanceKey(1) + "\\Device Parameters"); }, 1, false}}},
        {"composite fails: the bar keeps its place", OsWinVista, plugged({0, 1, 2}),
         {{nothing, 3, false}, {[] { reg::DeleteTree(IdKey(0)); }, 3, false}}},
        {"a function without its port stops the check", OsWin2000,
         [] { Plug(0), Plug(1, false), Plug(2), Plug(3); }, {{nothing, 1, false}}},
        {"the first instance decides", OsWinXP,
         [] { Plug(0), Plug(1, false, "0000"), Plug(1), Plug(2), Plug(3); },
         {{nothing, 1, false}, {[] { Plug(1, true, "0000"); }, 4, true}}},
        {"Windows 98 never sees the phone", OsWin98, plugged({0, 1, 2, 3}), {{nothing, 0, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryScratch phone(PhoneKeys());
        c.seed();
        InstallWizard wizard(c.osClass, 0);
        WizardTestAccess::SetState(wizard, Waiting);
        INT_PTR result = RunWizard(wizard, [&](HWND dialog) {
            EXPECT_EQ(0, Position(dialog)) << "nothing is looked at before a notification";
            for (size_t i = 0; i < c.steps.size(); ++i) {
                SCOPED_TRACE("step " + std::to_string(i + 1));
                c.steps[i].change();
                bool found = wizard.State() == Detected;
                KeyBalance keys;
                Notify(dialog);
                EXPECT_EQ(0, keys.Balance()) << "keys left open";
                EXPECT_TRUE(!found || keys.Opened() == 0) << "a wizard that found the phone looks no more";
                EXPECT_EQ(c.steps[i].position, Position(dialog));
                EXPECT_EQ(c.steps[i].detected ? Detected : Waiting, wizard.State());
                EXPECT_EQ(c.steps[i].detected, IsWindowEnabled(GetDlgItem(dialog, IDC_FINISH)) != FALSE);
                EXPECT_EQ(!c.steps[i].detected, IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE);
            }
        });
        EXPECT_EQ(99, result);
    }
}

}  // namespace
