#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regpurge/registry_accessor.h"
#include "resources/ids.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/fault.h"
#include "support/registry.h"
#include "regpurge/seed.h"

namespace {

using seed::ExpectSystemErrors;

std::string ValueOf(HKEY key, const char* name)
{
    char text[300] = {0};
    DWORD size = sizeof(text) - 1;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) != 0)
        return "(none)";
    return text;
}

class RegistryAccessorTest : public testing::Test {
protected:
    RegistryScratch scratch{seed::AllScratch()};
    RegistryAccessor accessor{OsWinXP};
    BoxRecorder boxes;
};

TEST_F(RegistryAccessorTest, OpenKeyByPathWalksLevelByLevel)
{
    ASSERT_TRUE(reg::SetString("RpTest\\Inner", "where", "outer"));
    ASSERT_TRUE(reg::SetString("HKEY_LOCAL_MACHINE\\RpTest\\Inner", "where", "nested"));
    struct Case {
        const char* path;
        const char* where;  // value read from the key opened, nullptr: no key
    } cases[] = {
        {"RpTest\\Inner", "outer"},
        {"RpTest\\Inner\\", "outer"},
        // Only the exact spelling of the root is skipped; any other is a key name.
        {"HKEY_LOCAL_MACHINE\\RpTest\\Inner", "outer"},
        {"hkey_local_machine\\RpTest\\Inner", "nested"},
        {"RpTest\\NoSuchLevel\\Inner", nullptr},
        {"RpTest\\Inner\\NoSuchLeaf", nullptr},
        {"NoSuchRoot\\Inner", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        KeyBalance balance;
        HKEY key = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(1, accessor.OpenKeyByPath(HKEY_LOCAL_MACHINE, c.path, KEY_READ, &key)) << c.path;
        if (c.where) {
            ASSERT_NE(nullptr, key) << c.path;
            EXPECT_EQ(c.where, ValueOf(key, "where")) << c.path;
            RegCloseKey(key);
        } else {
            EXPECT_EQ(nullptr, key) << c.path;
        }
        EXPECT_EQ(0, balance.Balance()) << c.path;
    }
    // A level longer than any key name can be is no key, whatever its place.
    for (std::string path : {"RpTest\\" + std::string(261, 'k') + "\\Inner", "RpTest\\" + std::string(261, 'k')}) {
        HKEY key = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(1, accessor.OpenKeyByPath(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ, &key));
        EXPECT_EQ(nullptr, key);
    }
    ExpectSystemErrors(boxes, {});
}

TEST_F(RegistryAccessorTest, OnlyTheLastLevelGetsTheCallersMask)
{
    ASSERT_TRUE(reg::CreateKey("RpTest\\A\\B"));
    HKEY key = nullptr;
    {
        seed::RegistryLog log;
        ASSERT_EQ(1, accessor.OpenKeyByPath(HKEY_LOCAL_MACHINE, "RpTest\\A\\B", KEY_WRITE, &key));
        EXPECT_EQ((std::vector<std::string>{"RpTest", "A", "B"}), log.OpenNames());
        EXPECT_EQ((std::vector<REGSAM>{0x20019, 0x20019, 0x2001F}), log.OpenMasks());
    }
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "w", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2));
    RegCloseKey(key);
}

TEST_F(RegistryAccessorTest, OpenKeyByPathShowsAFailingLevelOnce)
{
    ASSERT_TRUE(reg::CreateKey("RpTest\\A\\B"));
    KeyBalance balance;
    HKEY key = reinterpret_cast<HKEY>(1);
    {
        FAIL_CALL(advapi32.dll, RegOpenKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 1, 1);
        EXPECT_EQ(0, accessor.OpenKeyByPath(HKEY_LOCAL_MACHINE, "RpTest\\A\\B", KEY_READ, &key));
    }
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(0, balance.Balance());
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED});
}

TEST_F(RegistryAccessorTest, OpenKeyByIdLoadsThePath)
{
    ASSERT_TRUE(reg::SetString(seed::kSet[1] + "\\Enum\\USB", "where", "usb2"));
    HKEY key = nullptr;
    ASSERT_EQ(1, accessor.OpenKeyById(HKEY_LOCAL_MACHINE, IDS_ENUM_USB + 1, KEY_READ, &key));
    ASSERT_NE(nullptr, key);
    EXPECT_EQ("usb2", ValueOf(key, "where"));
    RegCloseKey(key);
    key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(0, accessor.OpenKeyById(HKEY_LOCAL_MACHINE, 9999, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
    ExpectSystemErrors(boxes, {});
}

TEST_F(RegistryAccessorTest, ReadValueKeepsEveryTextTerminated)
{
    ASSERT_TRUE(reg::CreateKey("RpTest"));
    HKEY key = nullptr;
    ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "RpTest", 0, KEY_READ, &key));
    // Binary values of a given size, and texts of a given length stored with
    // their terminator: whatever fills all 261 bytes is too long.
    struct Case {
        DWORD type;
        DWORD size;  // characters of a text, bytes of anything else
        DWORD capacity;
        int result;
    } cases[] = {{REG_BINARY, 0, 261, 1},   {REG_BINARY, 1, 261, 1},   {REG_BINARY, 259, 261, 1},
                 {REG_BINARY, 260, 261, 1}, {REG_BINARY, 261, 261, 0}, {REG_BINARY, 300, 261, 0},
                 {REG_SZ, 259, 261, 1},     {REG_SZ, 260, 261, 0},     {REG_SZ, 299, 261, 0},
                 {REG_BINARY, 10, 4, 0}};
    for (const Case& c : cases) {
        std::string what = std::to_string(c.type) + "/" + std::to_string(c.size);
        std::string text(c.size, 'x');
        if (c.type == REG_SZ)
            ASSERT_TRUE(reg::SetString("RpTest", "v", text));
        else
            ASSERT_TRUE(reg::SetBinary("RpTest", "v", std::vector<BYTE>(text.begin(), text.end())));
        DWORD stored = c.type == REG_SZ ? c.size + 1 : c.size;
        BoxRecorder local;
        BYTE destination[300];
        memset(destination, 0xCC, sizeof(destination));
        DWORD length = c.capacity;
        DWORD type = 0xBAD;
        EXPECT_EQ(c.result, accessor.ReadValue(key, "v", destination, &length, &type)) << what;
        if (c.result == 1) {
            EXPECT_EQ(stored, length) << what;
            EXPECT_EQ(c.type, type) << what;
            EXPECT_EQ(text, reinterpret_cast<char*>(destination)) << what;
            ExpectSystemErrors(local, {});
        } else {
            EXPECT_EQ(c.capacity, length) << what;
            EXPECT_EQ(0xBADu, type) << what;
            EXPECT_EQ(0xCC, destination[0]) << "nothing is copied from a value too long: " << what;
            ExpectSystemErrors(local, {ERROR_MORE_DATA});
        }
    }
    // A missing value and no key leave everything as it was.
    BYTE destination[4] = {7, 7, 7, 7};
    DWORD length = 4;
    DWORD type = 0xBAD;
    EXPECT_EQ(1, accessor.ReadValue(key, "missing", destination, &length, &type));
    EXPECT_EQ(1, accessor.ReadValue(nullptr, "v", destination, &length, &type));
    EXPECT_EQ(7, destination[0]);
    EXPECT_EQ(4u, length);
    EXPECT_EQ(0xBADu, type);
    RegCloseKey(key);
    ExpectSystemErrors(boxes, {});
}

TEST_F(RegistryAccessorTest, SubKeyValuesAreReadAndWrittenOnlyWhereTheSubKeyExists)
{
    ASSERT_TRUE(reg::SetString("RpTest\\Sub", "name", "text"));
    HKEY key = nullptr;
    ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "RpTest", 0, KEY_READ, &key));
    KeyBalance balance;
    char text[261] = {0};
    DWORD length = sizeof(text);
    DWORD type = 0;
    EXPECT_EQ(1, accessor.ReadSubKeyValue(key, "Sub", "name", reinterpret_cast<BYTE*>(text), &length, &type));
    EXPECT_STREQ("text", text);
    EXPECT_EQ(5u, length);
    text[0] = '\0';
    length = sizeof(text);
    EXPECT_EQ(1, accessor.ReadSubKeyValue(key, "NoSub", "name", reinterpret_cast<BYTE*>(text), &length, &type));
    EXPECT_EQ(261u, length);

    const BYTE data[3] = {1, 2, 3};
    EXPECT_EQ(1, accessor.WriteSubKeyValue(key, "Sub", "bin", data, 3, REG_NONE));
    EXPECT_EQ(1, accessor.WriteSubKeyValue(key, "NoSub", "bin", data, 3, REG_BINARY));
    {
        FAIL_CALL(advapi32.dll, RegSetValueExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
        EXPECT_EQ(0, accessor.WriteSubKeyValue(key, "Sub", "other", data, 3, REG_BINARY));
    }
    EXPECT_EQ(0, balance.Balance());
    RegCloseKey(key);
    DWORD written = 0;
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), reg::GetValue("RpTest\\Sub", "bin", &written));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), written);
    EXPECT_FALSE(reg::KeyExists("RpTest\\NoSub"));
    EXPECT_FALSE(reg::ValueExists("RpTest\\Sub", "other"));
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED});
}

TEST_F(RegistryAccessorTest, DriverValueIsSplitAtItsFirstBackslash)
{
    ASSERT_TRUE(reg::SetString("RpTest\\0000", "Driver", seed::kModemClass + "\\0003"));
    ASSERT_TRUE(reg::SetString("RpTest\\0001", "Driver", "NoBackslash"));
    ASSERT_TRUE(reg::SetString("RpTest\\0002", "Other", "x"));
    ASSERT_TRUE(reg::SetString("RpTest\\0003", "Driver", "{A}\\0001\\extra"));
    HKEY key = nullptr;
    ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "RpTest", 0, KEY_READ, &key));
    struct Case {
        const char* instance;
        const char* classPart;
        const char* number;
    } cases[] = {{"0000", "{4D36E96D-E325-11CE-BFC1-08002BE10318}", "0003"},
                 {"0001", "", ""},
                 {"0002", "", ""},
                 {"0003", "{A}", "0001\\extra"},
                 {"missing", "", ""}};
    for (const Case& c : cases) {
        char classPart[261] = "stale";
        char number[261] = "stale";
        EXPECT_EQ(1, accessor.ReadDriverValue(key, c.instance, classPart, number)) << c.instance;
        EXPECT_STREQ(c.classPart, classPart) << c.instance;
        EXPECT_STREQ(c.number, number) << c.instance;
    }
    RegCloseKey(key);
    ExpectSystemErrors(boxes, {});
}

TEST_F(RegistryAccessorTest, PortNumberFollowsThePortNamesFirstThreeCharacters)
{
    struct Case {
        const char* portName;  // nullptr: no Device Parameters key
        long number;
    } cases[] = {{"COM3", 3},     {"COM12", 12},         {"COM", 0},  {"COM0", 0},
                 {"COM 7x", 7},   {"LPT2", 2},           {"CO", 0},   {"COMx", 0},
                 {"COM-4", -4},   {"COM99999999999", 0x7FFFFFFF},     {nullptr, 0}};
    int i = 0;
    for (const Case& c : cases) {
        std::string instance = "RpTest\\" + std::to_string(i++);
        if (c.portName)
            ASSERT_TRUE(reg::SetString(instance + "\\Device Parameters", "PortName", c.portName));
        else
            ASSERT_TRUE(reg::SetString(instance, "Driver", "x"));
    }
    HKEY key = nullptr;
    ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "RpTest", 0, KEY_READ, &key));
    KeyBalance balance;
    i = 0;
    for (const Case& c : cases) {
        std::string name = std::to_string(i++);
        long number = -99;
        EXPECT_EQ(1, accessor.ReadPortNumber(key, name.c_str(), &number)) << name;
        EXPECT_EQ(c.number, number) << (c.portName ? c.portName : "(no Device Parameters)");
    }
    long number = -99;
    EXPECT_EQ(1, accessor.ReadPortNumber(key, "missing", &number));
    EXPECT_EQ(0, number);
    char portName[261] = "untouched";
    EXPECT_EQ(1, accessor.ReadPortName(key, "missing", portName));
    EXPECT_STREQ("untouched", portName);
    EXPECT_EQ(1, accessor.ReadPortName(key, "0", portName));
    EXPECT_STREQ("COM3", portName);
    EXPECT_EQ(0, balance.Balance());
    RegCloseKey(key);
    ExpectSystemErrors(boxes, {});
}

class FindDriverInfNameTest : public RegistryAccessorTest {
protected:
    const std::string device = seed::EnumUsb(0, seed::kPhone);
    const std::string classes = seed::kSet[0] + "\\Control\\Class\\" + seed::kModemClass;

    void Instance(const std::string& name, const std::string& number)
    {
        if (number.empty())
            ASSERT_TRUE(reg::SetString(device + "\\" + name, "Service", "x"));
        else
            ASSERT_TRUE(reg::SetString(device + "\\" + name, "Driver", seed::kModemClass + "\\" + number));
    }
    std::string Find(int expected)
    {
        KeyBalance balance;
        char name[261] = {0};
        EXPECT_EQ(expected, accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, device.c_str(), name));
        EXPECT_EQ(0, balance.Balance());
        return name;
    }
};

TEST_F(FindDriverInfNameTest, TakesTheFirstInstanceWithADriverKey)
{
    Instance("1", "");
    Instance("2", "0007");
    Instance("3", "0008");
    ASSERT_TRUE(reg::SetString(classes + "\\0007", "InfPath", "oem7.inf"));
    ASSERT_TRUE(reg::SetString(classes + "\\0008", "InfPath", "oem8.inf"));
    EXPECT_EQ("oem7", Find(1));
    ExpectSystemErrors(boxes, {});
}

TEST_F(FindDriverInfNameTest, StopsAtAnExistingDriverKeyWithoutInfPath)
{
    Instance("1", "0007");
    Instance("2", "0008");
    ASSERT_TRUE(reg::SetString(classes + "\\0007", "DriverDesc", "no inf"));
    ASSERT_TRUE(reg::SetString(classes + "\\0008", "InfPath", "oem8.inf"));
    EXPECT_EQ("", Find(0));
    ExpectSystemErrors(boxes, {});
}

TEST_F(FindDriverInfNameTest, PassesOverADriverKeyThatDoesNotExist)
{
    Instance("1", "0006");
    Instance("2", "0008");
    ASSERT_TRUE(reg::SetString(classes + "\\0008", "InfPath", "oem8.inf"));
    EXPECT_EQ("oem8", Find(1));
    ExpectSystemErrors(boxes, {});
}

TEST_F(FindDriverInfNameTest, NeedsANameBeforeADot)
{
    Instance("1", "0007");
    for (const char* infPath : {"oem7", ".inf", ""}) {
        ASSERT_TRUE(reg::SetString(classes + "\\0007", "InfPath", infPath));
        EXPECT_EQ("", Find(0)) << infPath;
    }
    ASSERT_TRUE(reg::SetString(classes + "\\0007", "InfPath", "oem17.inf.bak"));
    EXPECT_EQ("oem17", Find(1));
    ExpectSystemErrors(boxes, {});
}

TEST_F(FindDriverInfNameTest, ReadsTheClassKeysOfTheFirstControlSetOnly)
{
    const std::string device2 = seed::EnumUsb(1, seed::kPhone);
    ASSERT_TRUE(reg::SetString(device2 + "\\1", "Driver", seed::kModemClass + "\\0007"));
    ASSERT_TRUE(reg::SetString(seed::kSet[1] + "\\Control\\Class\\" + seed::kModemClass + "\\0007",
                               "InfPath", "oem2.inf"));
    char name[261] = {0};
    EXPECT_EQ(0, accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, device2.c_str(), name));
    ASSERT_TRUE(reg::SetString(classes + "\\0007", "InfPath", "oem1.inf"));
    EXPECT_EQ(1, accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, device2.c_str(), name));
    EXPECT_STREQ("oem1", name);
    EXPECT_EQ("", Find(0)) << "no device key in ControlSet001";
    ExpectSystemErrors(boxes, {});
}

TEST_F(FindDriverInfNameTest, ShowsAFailedEnumerationOnce)
{
    Instance("1", "0007");
    ASSERT_TRUE(reg::SetString(classes + "\\0007", "InfPath", "oem7.inf"));
    {
        FAIL_CALL(advapi32.dll, RegEnumKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
        EXPECT_EQ("", Find(0));
    }
    {
        FAIL_CALL(advapi32.dll, RegQueryInfoKeyA, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE);
        EXPECT_EQ("", Find(0));
    }
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE});
}

}  // namespace
