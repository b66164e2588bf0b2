#include <gtest/gtest.h>

#include <algorithm>

#include "regpurge/registry_purger.h"
#include "regpurge/seed.h"
#include "resources/ids.h"
#include "shell/osclass.h"
#include "support/fault.h"

namespace {

using namespace seed;

// RpTest\A holding B (which holds C) and D, beside RpTest\Sibling.
const Strings kTree = {"RpTest\\A\\B\\C|v=c", "RpTest\\A\\D|v=d", "RpTest\\A|v=a", "RpTest\\Sibling|v=s"};

class PurgerTest : public RegistryTest {
protected:
    RegistryPurger purger{OsWinXP};

    // Deletes the tree RpTest\name, with grants or without.
    int Delete(bool granted, const char* name = "A")
    {
        OpenKey parent("RpTest");
        KeyBalance balance;
        int result = granted ? purger.DeleteTreeGranted(parent.key, "RpTest", name)
                             : purger.DeleteTree(parent.key, name);
        EXPECT_EQ(0, balance.Balance());
        return result;
    }
    // Seeds RpTest\Values with the names, then deletes those that match.
    int Match(const Strings& names, char* pattern)
    {
        reg::DeleteTree("RpTest\\Values");
        for (const std::string& name : names) EXPECT_TRUE(reg::SetString("RpTest\\Values", name, "x"));
        KeyBalance balance;
        int result = purger.DeleteMatchingValues(HKEY_LOCAL_MACHINE, "RpTest\\Values", pattern);
        EXPECT_EQ(0, balance.Balance());
        return result;
    }
    static Strings ValuesLeft()
    {
        Strings left = reg::ValueNames("RpTest\\Values");
        std::sort(left.begin(), left.end());
        return left;
    }
};

TEST_F(PurgerTest, TreeDeletionGoesLeafFirstGrantingEachKeyJustBefore)
{
    struct Case { bool granted; const char* name; Strings events; } cases[] = {
        {true, "A", {"grant RpTest\\A\\B\\C", "delete C", "grant RpTest\\A\\B", "delete B",
                     "grant RpTest\\A\\D", "delete D", "grant RpTest\\A", "delete A"}},
        {false, "A", {"delete C", "delete B", "delete D", "delete A"}},
        {true, "Sibling", {"grant RpTest\\Sibling", "delete Sibling"}},
        {false, "Missing", {}},
    };
    for (const Case& c : cases) {
        Seed(kTree);
        RegistryLog log;
        EXPECT_EQ(1, Delete(c.granted, c.name)) << c.name;
        EXPECT_EQ(c.events, log.events) << c.name;
        EXPECT_FALSE(reg::KeyExists(std::string("RpTest\\") + c.name));
        EXPECT_TRUE(reg::KeyExists(c.name[0] == 'A' ? "RpTest\\Sibling" : "RpTest\\A\\B\\C"));
    }
    EXPECT_EQ(1, purger.DeleteKey(HKEY_LOCAL_MACHINE, "RpTest\\Missing"));

    // Counted but gone when listed, or listed but gone when opened: a new descent.
    Seed(kTree);
    { FAIL_CALL(advapi32.dll, RegEnumKeyExA, ERROR_NO_MORE_ITEMS, 0, 0, 1); EXPECT_EQ(1, Delete(true)); }
    Seed(kTree);
    { FAIL_CALL(advapi32.dll, RegOpenKeyExA, ERROR_FILE_NOT_FOUND, 0, 1, 1); EXPECT_EQ(1, Delete(false)); }
    EXPECT_FALSE(reg::KeyExists("RpTest\\A"));
    // A listed name that never opens (as one the code page cannot hold) ends the walk.
    Seed(kTree);
    {
        FAIL_CALL_NAMED(opens, advapi32.dll, RegOpenKeyExA, ERROR_FILE_NOT_FOUND, 0, 2, 20);  // not for ever
        EXPECT_EQ(0, Delete(false));
        EXPECT_EQ(2, opens.Failures());
    }
    EXPECT_TRUE(reg::KeyExists("RpTest\\A\\B\\C"));
    ExpectSystemErrors(boxes, {});

    // A failed step stops the tree with one box.
    { FAIL_CALL(advapi32.dll, RegSetKeySecurity, ERROR_ACCESS_DENIED, 0); EXPECT_EQ(0, Delete(true)); }
    EXPECT_TRUE(reg::KeyExists("RpTest\\A\\B\\C"));
    { FAIL_CALL(advapi32.dll, RegDeleteKeyA, ERROR_ACCESS_DENIED, 0, 1, 1); EXPECT_EQ(0, Delete(true)); }
    EXPECT_FALSE(reg::KeyExists("RpTest\\A\\B\\C")) << "keys deleted so far stay deleted";
    // A protected key: without the grant the access error is all there is.
    { FAIL_CALL(advapi32.dll, RegDeleteKeyA, ERROR_ACCESS_DENIED, 0); EXPECT_EQ(0, Delete(false)); }
    { FAIL_CALL(advapi32.dll, RegQueryInfoKeyA, ERROR_INVALID_HANDLE, 0, 1, 1); EXPECT_EQ(0, Delete(false)); }
    EXPECT_TRUE(reg::KeyExists("RpTest\\A\\B") && reg::KeyExists("RpTest\\A\\D"));
    ExpectSystemErrors(boxes,
                       {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE});
}

TEST_F(PurgerTest, ValueDeletionTakesOnlyThatPortOrFilesEntries)
{
    // The pattern, as it reads afterwards, and the names seeded; those marked - go.
    struct Case { const char* pattern; const char* upper; Strings names; };
    std::vector<Case> cases = {
        {"com5", "COM5", {"-COM5:", "LPT1:", "FILE:"}},
        // A match followed by a digit is another port or file.
        {"COM1", "COM1", {"-COM1:", "COM10:", "COM11:", "-com1:x", "COM2:"}},
        {"oem1", "OEM1", {"-inf\\oem1.inf", "-INF\\OEM1.PNF", "inf\\oem12.inf", "inf\\oem10.PNF", "-xoem1"}},
        {"oem12", "OEM12", {"inf\\oem1.inf", "-inf\\OEM12.inf", "inf\\oem123.inf"}},
        // Adjacent matches: each moves into the place of the one deleted before it.
        {"COM7", "COM7", {"-COM7:", "-COM7:a", "-COM7:b", "COM8:"}},
    };
    // 0x81 0x43 is one double-byte character whose trail byte is a capital C.
    if (GetACP() == 936) cases.push_back({"com5", "COM5", {"X\x81" "COM5:", "-COM5:\x81" "c"}});
    for (const Case& c : cases) {
        Strings seeded, left;
        for (const std::string& name : c.names) {
            seeded.push_back(name.substr(name[0] == '-'));
            if (name[0] != '-') left.push_back(name);
        }
        std::sort(left.begin(), left.end());
        char pattern[261];
        lstrcpyA(pattern, c.pattern);
        EXPECT_EQ(1, Match(seeded, pattern)) << c.pattern;
        EXPECT_STREQ(c.upper, pattern);
        EXPECT_EQ(left, ValuesLeft()) << c.pattern;
    }
    ExpectSystemErrors(boxes, {});

    char pattern[261] = "COM5";
    const Strings names = {"COM5:"};
    {
        FAIL_CALL(advapi32.dll, RegDeleteValueA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0, 1);
        EXPECT_EQ(1, Match({"COM5:", "COM5:a", "LPT1:", "COM5:b"}, pattern));
    }
    EXPECT_EQ((Strings{"LPT1:"}), ValuesLeft()) << "the value that failed is met again in a later pass";
    { FAIL_CALL(advapi32.dll, RegEnumValueA, ERROR_INVALID_HANDLE, 0); EXPECT_EQ(0, Match(names, pattern)); }
    EXPECT_EQ((Strings{"COM5:"}), ValuesLeft());
    // A listing shorter than the count, with nothing deleted, is not walked again.
    FAIL_CALL_NAMED(enums, advapi32.dll, RegEnumValueA, ERROR_NO_MORE_ITEMS, ERROR_NO_MORE_ITEMS, 0, 50);
    EXPECT_EQ(1, Match(names, pattern));
    EXPECT_EQ(1, enums.Calls());
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE});
}

TEST_F(PurgerTest, InterfaceSweepDeletesThePhonesInterfacesInAnyLetterCase)
{
    const std::string cls = kSet[0] + "\\Control\\DeviceClasses\\{00000000-0000-0000-0000-0000000000A1}";
    auto sweep = [&] {
        return purger.PurgeDeviceInterfaces(HKEY_LOCAL_MACHINE, IDS_DEVICE_CLASSES, kPhone.c_str());
    };
    KeyBalance balance;
    // Two phone interfaces listed one after the other, then another device's: the
    // second is met only when the class is walked again after the first went.
    Seed({cls + "\\a|DeviceInstance=USB\\VID_1B3F&PID_5C13\\5&1", cls + "\\a\\#\\Control",
          cls + "\\b|DeviceInstance=usb\\vid_1b3f&pid_5c13&mi_03\\6&1&3",
          cls + "\\c|DeviceInstance=USB\\VID_1B3F&PID_5C14\\1"});
    {
        // A listing shorter than the count, with nothing deleted, is not walked again.
        FAIL_CALL_NAMED(enums, advapi32.dll, RegEnumKeyExA, ERROR_NO_MORE_ITEMS, ERROR_NO_MORE_ITEMS, 1, 50);
        EXPECT_EQ(1, sweep());
        EXPECT_EQ(2, enums.Calls());
    }
    { FAIL_CALL(advapi32.dll, RegQueryInfoKeyA, ERROR_INVALID_HANDLE, 0, 1, 1); EXPECT_EQ(0, sweep()); }
    EXPECT_EQ(3u, reg::SubKeys(cls).size());
    EXPECT_EQ(1, sweep());
    EXPECT_EQ((Strings{"c"}), reg::SubKeys(cls));
    EXPECT_EQ(0, balance.Balance());
    ExpectSystemErrors(boxes, {ERROR_INVALID_HANDLE});
}

TEST_F(PurgerTest, PortReleaseClearsTheComDbBitThenDeletesThePortSettings)
{
    // 32 bytes of 0xFB (every port reserved but 3, 11, 19 and so on) and the byte
    // that changes; -1: the value is neither changed nor written.
    struct Case { long port; DWORD type; int byte; BYTE after; } cases[] = {
        {1, REG_BINARY, 0, 0xFA}, {8, REG_NONE, 0, 0x7B},     {9, REG_BINARY, 1, 0xFA},
        {20, REG_BINARY, 2, 0xF3}, {256, REG_BINARY, 31, 0x7B}, {257, REG_BINARY, -1, 0},
        {300, REG_BINARY, -1, 0}, {3, REG_BINARY, -1, 0},     {0, REG_BINARY, -1, 0}};
    KeyBalance balance;
    for (const Case& c : cases) {
        ASSERT_TRUE(reg::SetBinary(Arbiter(0), "ComDB", Bytes(32, 0xFB), c.type));
        FAIL_CALL_NAMED(writes, advapi32.dll, RegSetValueExA, 0, 0, 1000);  // counts only
        EXPECT_EQ(1, purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, c.port)) << c.port;
        Bytes expected(32, 0xFB);
        if (c.byte >= 0) expected[c.byte] = c.after;
        DWORD type = 0;
        EXPECT_EQ(expected, reg::GetValue(Arbiter(0), "ComDB", &type)) << "port " << c.port;
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.byte >= 0 ? 1 : 0, writes.Calls()) << "port " << c.port;
    }
    reg::DeleteTree(Arbiter(0));
    EXPECT_EQ(1, purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, 5));
    EXPECT_FALSE(reg::KeyExists(Arbiter(0))) << "a missing database is not created";
    ExpectSystemErrors(boxes, {});

    // The port settings go only after the database was written.
    const std::string mi03 = kPhone + "&Mi_03", instance = EnumUsb(0, mi03) + "\\";
    // COM5's write fails; COM6 is released; COM0 and an instance without a port change nothing.
    Seed({instance + "1\\Device Parameters|PortName=COM5", instance + "2\\Device Parameters|PortName=COM6",
          instance + "3|Driver=x", instance + "4\\Device Parameters|PortName=COM0", kPorts + "|COM5:=x",
          kPorts + "|COM6:=x", kPorts + "|COM0:=x", kPorts + "|COM60:=x"});
    ASSERT_TRUE(reg::SetBinary(Arbiter(0), "ComDB", Bytes(32, 0xFF)));
    auto release = [&] {
        return purger.ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB, mi03.c_str(), IDS_CONTROL);
    };
    {
        FAIL_CALL(advapi32.dll, RegSetValueExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0, 1);
        EXPECT_EQ(1, release());
    }
    // A failed listing ends the walk.
    { FAIL_CALL(advapi32.dll, RegEnumKeyExA, ERROR_INVALID_HANDLE, 0); EXPECT_EQ(0, release()); }
    EXPECT_EQ(0, balance.Balance());
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE});
    Bytes expected(32, 0xFF);
    expected[0] = 0xDF;
    EXPECT_EQ(expected, reg::GetValue(Arbiter(0), "ComDB"));
    for (const char* name : {"COM5:", "COM0:", "COM60:"}) EXPECT_TRUE(reg::ValueExists(kPorts, name)) << name;
    EXPECT_FALSE(reg::ValueExists(kPorts, "COM6:"));
}

// Which OsClass deletes an entry: a bit each for 11, 12, 13 and 15.
enum { Never = 0, W2k = 1, Xp = 2, All = 15 };
int Bit(OsClass os) { return os == OsNtOther ? 0 : os == OsWinLater ? 8 : 1 << (os - OsWin2000); }

// An earlier installation in all three control sets and look-alikes of it,
// each entry with the OsClasses that delete it.
std::vector<std::pair<int, std::string>> EarlierInstallation()
{
    const std::string legacy = "\\Enum\\Root\\LEGACY_TV", services = "\\Services\\";
    std::vector<std::pair<int, std::string>> t = {
        {W2k, kSet[0] + legacy + "YMDM\\0000|Service=TVymdm"}, {W2k, kSet[2] + legacy + "ybus\\0000|Service=1"},
        {Never, kSet[1] + legacy + "other\\0000|Service=1"}, {Never, kSet[0] + services + "TVymdm|Start=3"},
        {All, kSet[1] + services + "TVybus\\Enum|Count=1"}, {All, kSet[1] + services + "TVymdm\\Enum|Count=1"},
        {Never, kSet[1] + services + "Other\\Enum|Count=1"},
        {Xp, kLastGood + "|inf\\oem12.inf=1"}, {Xp, kLastGood + "|INF\\OEM12.PNF=1"},
        {Xp, kLastGood + "|inf\\oem14.inf=1"}, {Xp, kLastGood + "|inf\\oem15.inf=1"},
        {Never, kLastGood + "|inf\\oem123.inf=1"}, {Never, kLastGood + "|inf\\oem1.inf=1"},
        {Never, kLastGood + "|inf\\oem13.inf=1"},
        {All, kPorts + "|COM5:=x"}, {All, kPorts + "|COM7:=x"}, {All, kPorts + "|COM12:=x"},
        {Never, kPorts + "|COM50:=x"}, {Never, kPorts + "|COM9:=x"},
        {All, kUnimodem + "\\TV4170K USB Modem::TAVRO::TAVRO\\Init|1=AT"},
        {Never, kUnimodem + "\\Other Modem|1=AT"}};
    const char* ports[3] = {"COM5", "COM7", "COM5"};
    for (int s = 0; s < 3; ++s) {
        const std::string cls = s == 2 ? kTestClass : kModemClass;
        const std::string classKey = kSet[s] + "\\Control\\Class\\" + cls + "\\";
        const std::string interfaces = kSet[s] + "\\Control\\DeviceClasses\\" + kTestInterface + "\\";
        // Identifier after VID_1B3F&PID_5C1, instance, driver key, port.
        const char* instances[][4] = {{"3", "5&1", "0000", ""},
                                      {"3&Mi_01", "6&1&1", "0002", ""},
                                      {"3&Mi_03", "6&1&3", "0001", ports[s]},
                                      {"3&Mi_05", "6&1&5", "0003", "COM12"},
                                      {"4", "1", "0009", "COM9"},
                                      {"30", "1", "0009", "COM9"}};
        // A second instance naming the same driver key, and one naming none.
        t.push_back({All, EnumUsb(s, kPhone) + "\\5&2|Driver=" + cls + "\\0000"});
        t.push_back({All, EnumUsb(s, kPhone) + "\\5&3|Service=x"});
        for (const auto& i : instances) {
            int gone = i[0][0] == '3' && i[0][1] != '0' ? All : Never;
            std::string path = EnumUsb(s, std::string("VID_1B3F&PID_5C1") + i[0]) + "\\" + i[1];
            t.push_back({gone, path + "|Driver=" + cls + "\\" + i[2]});
            if (*i[3]) t.push_back({gone, path + "\\Device Parameters|PortName=" + i[3]});
        }
        for (const char* inf : {"0000oem12", "0001oem14", "0002oem12", "0003oem15", "0009oem1"}) {
            int gone = inf[3] == '9' ? Never : All;
            t.push_back({gone, classKey + std::string(inf, 4) + "|InfPath=" + (inf + 4) + ".inf"});
            t.push_back({gone, classKey + std::string(inf, 4) + "\\Settings|Init=AT"});
        }
        for (const char* i : {"a|USB\\VID_1B3F&PID_5C13\\5&1", "b|USB\\VID_1B3F&PID_5C13&MI_03\\6&1&3",
                              "c|usb\\vid_1b3f&pid_5c13&mi_05\\6&1&5", "other|USB\\VID_1B3F&PID_5C14\\1"}) {
            const std::string entry = i, name = entry.substr(0, entry.find('|'));
            const int gone = name == "other" ? Never : All;
            t.push_back({gone, interfaces + name + "|DeviceInstance=" + entry.substr(name.size() + 1)});
            t.push_back({gone, interfaces + name + "\\#\\Control"});
        }
    }
    return t;
}

// Everything the purge may touch, for comparing before and after.
std::string ExportAll()
{
    std::string all = reg::Export(kPorts);
    for (const std::string& path : Scratch()) all += reg::Export(path);
    return all;
}

TEST_F(PurgerTest, RemovesTheEarlierInstallationOnceOnEveryWindowsVersion)
{
    for (OsClass os : {OsNtOther, OsWin2000, OsWinXP, OsWinServer2003, OsWinLater}) {
        RegistryScratch again(Scratch());
        const auto installation = EarlierInstallation();
        for (const auto& entry : installation) Seed({entry.second});
        for (int set = 0; set < 3; ++set)  // ports 5, 7, 9 and 12 reserved
            ASSERT_TRUE(reg::SetBinary(Arbiter(set), "ComDB", Bytes{0x50, 0x09, 0, 0}));
        RegistryLog log;
        KeyBalance balance;
        EXPECT_NE(0, RegistryPurger(os).Purge());
        const std::string after = ExportAll();
        EXPECT_NE(0, RegistryPurger(os).Purge());
        EXPECT_EQ(after, ExportAll()) << "a second purge finds nothing more, OsClass " << os;
        EXPECT_EQ(0, balance.Balance());
        ExpectSystemErrors(boxes, {});
        for (const auto& entry : installation) {
            const std::string probe = entry.second.substr(0, entry.second.find('='));
            const size_t bar = probe.find('|');
            bool exists = bar == std::string::npos
                              ? reg::KeyExists(probe)
                              : reg::ValueExists(probe.substr(0, bar), probe.substr(bar + 1));
            EXPECT_EQ((entry.first & Bit(os)) != 0, !exists) << "OsClass " << os << ": " << probe;
        }
        // Driver keys are granted only where Windows protects them, key by key;
        // trees deleted by name always are.
        std::string events;
        for (const std::string& e : log.events) events += e + "\n";
        const std::string classGrant = "grant " + kSet[2] + "\\Control\\Class\\" + kTestClass + "\\0001\\";
        EXPECT_EQ(os == OsWin2000 || os == OsWinXP, events.find(classGrant) != std::string::npos) << os;
        EXPECT_EQ(os == OsWin2000 || os == OsWinXP, events.find("Control\\Class") != std::string::npos) << os;
        const std::string serviceGrant = "grant " + kSet[1] + "\\Services\\TVybus\\Enum\n";
        EXPECT_EQ(os != OsNtOther, events.find(serviceGrant) != std::string::npos) << os;
        // Each control set releases the ports of its own instances: COM5 or COM7, and COM12.
        for (int set = 0; set < 3; ++set) {
            Bytes expected = {os == OsNtOther ? BYTE(0x50) : set == 1 ? BYTE(0x10) : BYTE(0x40),
                              BYTE(os == OsNtOther ? 0x09 : 0x01), 0, 0};
            EXPECT_EQ(expected, reg::GetValue(Arbiter(set), "ComDB")) << "OsClass " << os << ", " << kSet[set];
        }
    }
}

}  // namespace
