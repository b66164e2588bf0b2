#include <gtest/gtest.h>

#include <algorithm>
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
using Bytes = std::vector<BYTE>;
using Strings = std::vector<std::string>;

std::string Arbiter(int set) { return seed::kSet[set] + "\\Control\\COM Name Arbiter"; }

class SerialPortsTest : public testing::Test {
protected:
    RegistryScratch scratch{seed::AllScratch()};
    seed::SavedValues ports{seed::kPorts};
    RegistryPurger purger{OsWinXP};
    BoxRecorder boxes;

    void Instance(int set, const std::string& id, const std::string& instance, const char* portName)
    {
        std::string path = seed::EnumUsb(set, id) + "\\" + instance;
        if (portName)
            ASSERT_TRUE(reg::SetString(path + "\\Device Parameters", "PortName", portName));
        else
            ASSERT_TRUE(reg::SetString(path, "Driver", seed::kModemClass + "\\0001"));
    }
    int Release(int set, const std::string& id)
    {
        KeyBalance balance;
        int result = purger.ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB + set, id.c_str(),
                                               IDS_CONTROL + set);
        EXPECT_EQ(0, balance.Balance());
        return result;
    }
    Strings PortNames()
    {
        Strings names = reg::ValueNames(seed::kPorts);
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(SerialPortsTest, ClearsTheBitOfThePortAndKeepsLengthAndType)
{
    struct Case {
        long port;
        DWORD type;
        Bytes before;
        int changedByte;  // -1: the value stays as it was
        BYTE after;
    } cases[] = {
        {1, REG_BINARY, Bytes(32, 0xFF), 0, 0xFE},
        {8, REG_BINARY, Bytes(32, 0xFF), 0, 0x7F},
        {9, REG_BINARY, Bytes(32, 0xFF), 1, 0xFE},
        {20, REG_BINARY, Bytes(32, 0xFF), 2, 0xF7},
        {256, REG_BINARY, Bytes(32, 0xFF), 31, 0x7F},
        {257, REG_BINARY, Bytes(32, 0xFF), -1, 0},
        {300, REG_BINARY, Bytes(32, 0xFF), -1, 0},
        {9, REG_DWORD, Bytes{0xFF, 0x03, 0, 0}, 1, 0x02},
        {3, REG_BINARY, Bytes(32, 0xFB), -1, 0},  // not reserved: nothing to write
        {0, REG_BINARY, Bytes(32, 0xFF), -1, 0},
        {-7, REG_BINARY, Bytes(32, 0xFF), -1, 0},
        {0x7FFFFFFF, REG_BINARY, Bytes(32, 0xFF), -1, 0},
        {1, REG_BINARY, Bytes(), -1, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(reg::SetBinary(Arbiter(0), "ComDB", c.before, c.type));
        FAIL_CALL_NAMED(writes, advapi32.dll, RegSetValueExA, 0, 0, 1000);
        EXPECT_EQ(1, purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, c.port)) << c.port;
        Bytes expected = c.before;
        if (c.changedByte >= 0) expected[c.changedByte] = c.after;
        DWORD type = 0;
        EXPECT_EQ(expected, reg::GetValue(Arbiter(0), "ComDB", &type)) << "port " << c.port;
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.changedByte >= 0 ? 1 : 0, writes.Calls()) << "port " << c.port;
    }
    ExpectSystemErrors(boxes, {});
}

TEST_F(SerialPortsTest, AMissingDatabaseIsNotCreated)
{
    EXPECT_EQ(1, purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, 5)) << "no control set";
    ASSERT_TRUE(reg::CreateKey(seed::kSet[0] + "\\Control"));
    EXPECT_EQ(1, purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, 5)) << "no arbiter key";
    EXPECT_FALSE(reg::KeyExists(Arbiter(0)));
    ASSERT_TRUE(reg::CreateKey(Arbiter(0)));
    EXPECT_EQ(1, purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, 5)) << "no ComDB";
    EXPECT_FALSE(reg::ValueExists(Arbiter(0), "ComDB"));
    ExpectSystemErrors(boxes, {});
}

TEST_F(SerialPortsTest, ReleasesThePortsOfEveryInstanceInItsOwnControlSet)
{
    const std::string mi03 = seed::kPhone + "&Mi_03";
    Bytes database(32, 0);
    database[0] = 0x1F;
    database[1] = 0x80;
    for (int set : {0, 2}) ASSERT_TRUE(reg::SetBinary(Arbiter(set), "ComDB", database));
    ASSERT_TRUE(reg::SetBinary(Arbiter(1), "ComDB", database));
    Instance(0, mi03, "6&1&3", "COM5");
    Instance(0, mi03, "6&2&3", "COM16");
    Instance(2, mi03, "6&1&3", "COM5");
    for (const char* name : {"COM5:", "COM50:", "COM16:", "COM1:"})
        ASSERT_TRUE(reg::SetString(seed::kPorts, name, "9600,n,8,1"));
    Strings otherPorts = PortNames();
    otherPorts.erase(std::find(otherPorts.begin(), otherPorts.end(), "COM5:"));
    otherPorts.erase(std::find(otherPorts.begin(), otherPorts.end(), "COM16:"));

    EXPECT_EQ(1, Release(0, mi03));
    Bytes released = database;
    released[0] = 0x0F;
    released[1] = 0x00;
    EXPECT_EQ(released, reg::GetValue(Arbiter(0), "ComDB"));
    EXPECT_EQ(database, reg::GetValue(Arbiter(2), "ComDB")) << "other control sets wait for their turn";
    EXPECT_EQ(otherPorts, PortNames()) << "COM50: and COM1: are other ports";

    EXPECT_EQ(1, Release(2, mi03));
    released[1] = 0x80;
    EXPECT_EQ(released, reg::GetValue(Arbiter(2), "ComDB"));
    EXPECT_EQ(database, reg::GetValue(Arbiter(1), "ComDB"));
    EXPECT_EQ(otherPorts, PortNames());
    ExpectSystemErrors(boxes, {});
}

TEST_F(SerialPortsTest, InstancesWithoutAPortChangeNothing)
{
    const std::string mi01 = seed::kPhone + "&Mi_01";
    ASSERT_TRUE(reg::SetBinary(Arbiter(0), "ComDB", Bytes(32, 0xFF)));
    ASSERT_TRUE(reg::SetString(seed::kPorts, "COM0:", ""));
    Instance(0, mi01, "a", nullptr);
    Instance(0, mi01, "b", "COM0");
    Instance(0, mi01, "c", "COM");
    Instance(0, mi01, "d", "");
    std::string before = reg::Export(seed::kSet[0]);
    Strings portsBefore = PortNames();
    EXPECT_EQ(1, Release(0, mi01));
    EXPECT_EQ(1, Release(1, mi01)) << "no key in this control set";
    EXPECT_EQ(1, Release(0, seed::kPhone + "&Mi_05"));
    EXPECT_EQ(before, reg::Export(seed::kSet[0]));
    EXPECT_EQ(portsBefore, PortNames());
    ExpectSystemErrors(boxes, {});
}

TEST_F(SerialPortsTest, PortSettingsGoOnlyAfterTheDatabaseWasWritten)
{
    const std::string mi03 = seed::kPhone + "&Mi_03";
    ASSERT_TRUE(reg::SetBinary(Arbiter(0), "ComDB", Bytes(32, 0xFF)));
    Instance(0, mi03, "1", "COM5");
    Instance(0, mi03, "2", "COM6");
    ASSERT_TRUE(reg::SetString(seed::kPorts, "COM5:", ""));
    ASSERT_TRUE(reg::SetString(seed::kPorts, "COM6:", ""));
    {
        FAIL_CALL(advapi32.dll, RegSetValueExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0, 1);
        EXPECT_EQ(1, Release(0, mi03));
    }
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED});
    EXPECT_TRUE(reg::ValueExists(seed::kPorts, "COM5:"));
    EXPECT_FALSE(reg::ValueExists(seed::kPorts, "COM6:")) << "the next instance goes on";
    Bytes expected(32, 0xFF);
    expected[0] = 0xDF;
    EXPECT_EQ(expected, reg::GetValue(Arbiter(0), "ComDB"));
}

TEST_F(SerialPortsTest, AFailedEnumerationEndsTheWalk)
{
    const std::string mi03 = seed::kPhone + "&Mi_03";
    ASSERT_TRUE(reg::SetBinary(Arbiter(0), "ComDB", Bytes(32, 0xFF)));
    Instance(0, mi03, "1", "COM5");
    {
        FAIL_CALL(advapi32.dll, RegEnumKeyExA, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE);
        EXPECT_EQ(0, Release(0, mi03));
    }
    EXPECT_EQ(Bytes(32, 0xFF), reg::GetValue(Arbiter(0), "ComDB"));
    ExpectSystemErrors(boxes, {ERROR_INVALID_HANDLE});
}

}  // namespace
