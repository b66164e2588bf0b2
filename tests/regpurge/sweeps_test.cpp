#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regpurge/registry_purger.h"
#include "regpurge/seed.h"
#include "resources/ids.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/fault.h"
#include "support/registry.h"

namespace {

using seed::ExpectSystemErrors;
using Strings = std::vector<std::string>;

class SweepsTest : public testing::Test {
protected:
    RegistryScratch scratch{seed::AllScratch()};
    BoxRecorder boxes;

    static std::string Interfaces(int set, const std::string& cls)
    {
        return seed::kSet[set] + "\\Control\\DeviceClasses\\" + cls;
    }
    static void InterfaceInstance(int set, const std::string& cls, const std::string& name,
                                  const std::string& deviceInstance)
    {
        std::string path = Interfaces(set, cls) + "\\" + name;
        ASSERT_TRUE(reg::SetString(path, "DeviceInstance", deviceInstance));
        ASSERT_TRUE(reg::SetString(path + "\\#", "SymbolicLink", "\\\\?\\" + name));
        ASSERT_TRUE(reg::CreateKey(path + "\\#\\Control"));
    }
    static int SweepInterfaces(int set, const std::string& id)
    {
        RegistryPurger purger(OsWinXP);
        KeyBalance balance;
        int result = purger.PurgeDeviceInterfaces(HKEY_LOCAL_MACHINE, IDS_DEVICE_CLASSES + set, id.c_str());
        EXPECT_EQ(0, balance.Balance());
        return result;
    }
};

TEST_F(SweepsTest, InterfaceSweepDeletesThePhonesInterfacesInAnyLetterCase)
{
    const std::string first = "{00000000-0000-0000-0000-0000000000A1}";
    const std::string empty = "{00000000-0000-0000-0000-0000000000A2}";
    const std::string last = "{00000000-0000-0000-0000-0000000000A3}";
    // Two phone interfaces listed one after the other, then another device's.
    InterfaceInstance(0, first, "a", "USB\\VID_1B3F&PID_5C13\\5&1");
    InterfaceInstance(0, first, "b", "usb\\vid_1b3f&pid_5c13&mi_03\\6&1&3");
    InterfaceInstance(0, first, "c", "USB\\VID_1B3F&PID_5C14\\5&1");
    ASSERT_TRUE(reg::CreateKey(Interfaces(0, empty)));
    InterfaceInstance(0, last, "a", "USB\\VID_0000&PID_0001\\1");
    InterfaceInstance(0, last, "b", "USB\\Vid_1b3f&Pid_5c13&Mi_05\\6&1&5");
    ASSERT_TRUE(reg::CreateKey(Interfaces(0, last) + "\\d-no-value"));

    EXPECT_EQ(1, SweepInterfaces(0, seed::kPhone));
    EXPECT_EQ((Strings{"c"}), reg::SubKeys(Interfaces(0, first)));
    EXPECT_TRUE(reg::KeyExists(Interfaces(0, empty)));
    EXPECT_EQ((Strings{"a", "d-no-value"}), reg::SubKeys(Interfaces(0, last)));
    ExpectSystemErrors(boxes, {});
}

TEST_F(SweepsTest, InterfaceSweepWorksInEachControlSetAlone)
{
    InterfaceInstance(2, seed::kTestInterface, "phone", "USB\\VID_1B3F&PID_5C13&MI_01\\6&1&1");
    InterfaceInstance(2, seed::kTestInterface, "other", "USB\\VID_1B3F&PID_5C15\\1");
    InterfaceInstance(1, seed::kTestInterface, "phone", "USB\\VID_1B3F&PID_5C13\\1");
    std::string controlSet2 = reg::Export(seed::kSet[1]);
    EXPECT_EQ(1, SweepInterfaces(0, seed::kPhone)) << "no DeviceClasses key in ControlSet001";
    EXPECT_EQ(1, SweepInterfaces(2, seed::kPhone));
    EXPECT_EQ((Strings{"other"}), reg::SubKeys(Interfaces(2, seed::kTestInterface)));
    EXPECT_EQ(controlSet2, reg::Export(seed::kSet[1]));
    ExpectSystemErrors(boxes, {});
}

TEST_F(SweepsTest, InterfaceSweepShowsAFailedCountOnce)
{
    InterfaceInstance(0, seed::kTestInterface, "phone", "USB\\VID_1B3F&PID_5C13\\1");
    {
        FAIL_CALL(advapi32.dll, RegQueryInfoKeyA, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE, 1, 1);
        EXPECT_EQ(0, SweepInterfaces(0, seed::kPhone));
    }
    EXPECT_TRUE(reg::KeyExists(Interfaces(0, seed::kTestInterface) + "\\phone"));
    ExpectSystemErrors(boxes, {ERROR_INVALID_HANDLE});
}

class DriverKeySweepTest : public SweepsTest, public testing::WithParamInterface<OsClass> {};

TEST_P(DriverKeySweepTest, DeletesTheDriverKeysTheInstancesName)
{
    const std::string device = seed::EnumUsb(0, seed::kPhone);
    const std::string classes = seed::kSet[0] + "\\Control\\Class";
    const std::string modem = classes + "\\" + seed::kModemClass;
    ASSERT_TRUE(reg::SetString(device + "\\1", "Driver", seed::kModemClass + "\\0003"));
    ASSERT_TRUE(reg::SetString(device + "\\2", "Service", "no driver"));
    ASSERT_TRUE(reg::SetString(device + "\\3", "Driver", seed::kModemClass + "\\0003"));
    ASSERT_TRUE(reg::SetString(device + "\\4", "Driver", seed::kModemClass + "\\0009"));
    ASSERT_TRUE(reg::SetString(device + "\\5", "Driver", "{00000000-0000-0000-0000-00000000DEAD}\\0001"));
    ASSERT_TRUE(reg::SetString(modem + "\\0003", "InfPath", "oem12.inf"));
    ASSERT_TRUE(reg::SetString(modem + "\\0003\\Settings", "Init1", "AT"));
    ASSERT_TRUE(reg::SetString(modem + "\\0004", "InfPath", "oem13.inf"));

    RegistryPurger purger(GetParam());
    seed::RegistryLog log;
    {
        KeyBalance balance;
        EXPECT_EQ(1, purger.PurgeDriverKeysById(HKEY_LOCAL_MACHINE, device.c_str(), IDS_CONTROL_CLASS));
        EXPECT_EQ(0, balance.Balance());
    }
    EXPECT_FALSE(reg::KeyExists(modem + "\\0003"));
    EXPECT_TRUE(reg::KeyExists(modem + "\\0004"));
    EXPECT_EQ(5u, reg::SubKeys(device).size()) << "the device keys stay for a later step";
    bool grants = GetParam() == OsWin2000 || GetParam() == OsWinXP;
    Strings expected;
    if (grants) expected = {modem + "\\0003\\Settings", modem + "\\0003"};
    EXPECT_EQ(expected, log.Grants());
    EXPECT_EQ((Strings{"Settings", "0003"}), log.Deletions());
    ExpectSystemErrors(boxes, {});
}

INSTANTIATE_TEST_SUITE_P(OsClasses, DriverKeySweepTest,
                         testing::Values(OsWin2000, OsWinXP, OsWinServer2003, OsWinLater));

TEST_F(SweepsTest, DriverKeySweepStaysInItsControlSet)
{
    const std::string current = seed::kSet[2] + "\\Control\\Class\\" + seed::kTestClass;
    ASSERT_TRUE(reg::SetString(seed::EnumUsb(2, seed::kPhone) + "\\1", "Driver", seed::kTestClass + "\\0001"));
    ASSERT_TRUE(reg::SetString(current + "\\0001", "InfPath", "oem3.inf"));
    ASSERT_TRUE(reg::SetString(current + "\\0002", "InfPath", "oem4.inf"));
    ASSERT_TRUE(reg::SetString(seed::EnumUsb(1, seed::kPhone) + "\\1", "Driver", seed::kTestClass + "\\0002"));

    RegistryPurger purger(OsWinXP);
    // ControlSet002 has device keys but no Class key: the sweep stops quietly.
    EXPECT_EQ(0, purger.PurgeDriverKeysById(HKEY_LOCAL_MACHINE, seed::EnumUsb(1, seed::kPhone).c_str(),
                                            IDS_CONTROL_CLASS + 1));
    EXPECT_EQ((Strings{"0001", "0002"}), reg::SubKeys(current));
    EXPECT_EQ(1, purger.PurgeDriverKeysById(HKEY_LOCAL_MACHINE, seed::EnumUsb(2, seed::kPhone).c_str(),
                                            IDS_CONTROL_CLASS + 2));
    EXPECT_EQ((Strings{"0002"}), reg::SubKeys(current));
    EXPECT_EQ(1, purger.PurgeDriverKeysById(HKEY_LOCAL_MACHINE, seed::EnumUsb(0, seed::kPhone).c_str(),
                                            IDS_CONTROL_CLASS))
        << "no device key";
    EXPECT_EQ(0, purger.PurgeDriverKeysById(HKEY_LOCAL_MACHINE, seed::EnumUsb(2, seed::kPhone).c_str(), 9999));
    ExpectSystemErrors(boxes, {});
}

}  // namespace
