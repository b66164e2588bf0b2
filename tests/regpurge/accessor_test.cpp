#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "regpurge/registry_accessor.h"
#include "regpurge/seed.h"
#include "shell/osclass.h"
#include "support/fault.h"

namespace {

using namespace seed;

class AccessorTest : public RegistryTest {
protected:
    RegistryAccessor accessor{OsWinXP};
};

TEST_F(AccessorTest, OpenKeyByPathWalksLevelByLevel)
{
    Seed({"RpTest\\Inner", "HKEY_LOCAL_MACHINE\\RpTest\\Nested"});
    const std::string longLevel(261, 'k');
    struct Case { std::string path; bool opened; } cases[] = {
        {"RpTest\\Inner", true}, {"RpTest\\Inner\\", true}, {"RpTest\\NoSuchLevel\\Inner", false},
        {"RpTest\\Inner\\NoSuchLeaf", false}, {"", false},
        // Only the exact spelling of the root is skipped; any other is a key name.
        {"HKEY_LOCAL_MACHINE\\RpTest\\Inner", true}, {"hkey_local_machine\\RpTest\\Inner", false},
        {"hkey_local_machine\\RpTest\\Nested", true},
        // A level longer than any key name is no key, whatever its place.
        {"RpTest\\" + longLevel + "\\Inner", false}, {"RpTest\\" + longLevel, false},
    };
    KeyBalance balance;
    for (const Case& c : cases) {
        HKEY key = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(1, accessor.OpenKeyByPath(HKEY_LOCAL_MACHINE, c.path.c_str(), KEY_READ, &key)) << c.path;
        EXPECT_EQ(c.opened, key != nullptr) << c.path;
        RegCloseKey(key);
    }
    // Only the last level gets the caller's mask; a failing level is shown once.
    HKEY key = nullptr;
    {
        RegistryLog log;
        ASSERT_EQ(1, accessor.OpenKeyByPath(HKEY_LOCAL_MACHINE, "RpTest\\Inner", KEY_WRITE, &key));
        // KEY_READ, then KEY_READ | KEY_WRITE.
        EXPECT_EQ((Strings{"RpTest 131097", "Inner 131103"}), log.opened);
    }
    RegCloseKey(key);
    FAIL_CALL(advapi32.dll, RegOpenKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 1, 1);
    EXPECT_EQ(0, accessor.OpenKeyByPath(HKEY_LOCAL_MACHINE, "RpTest\\Inner\\X", KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(0, balance.Balance());
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED});
}

TEST_F(AccessorTest, ReadsKeepEveryTextTerminated)
{
    OpenKey key("RpTest");
    KeyBalance balance;
    // Bytes, or texts stored with their terminator: whatever fills all 261 bytes is too long.
    struct Case { DWORD type, size, capacity; int result; } cases[] = {
        {REG_BINARY, 260, 261, 1}, {REG_BINARY, 261, 261, 0}, {REG_BINARY, 300, 261, 0},
        {REG_SZ, 259, 261, 1},     {REG_SZ, 260, 261, 0},     {REG_BINARY, 10, 4, 0}};
    std::vector<DWORD> codes;  // one box for each value too long
    for (const Case& c : cases) {
        Bytes data(c.size, 'x');
        if (c.type == REG_SZ) data.push_back(0);
        ASSERT_TRUE(reg::SetBinary("RpTest", "v", data, c.type));
        BYTE destination[300];
        memset(destination, 0xCC, sizeof(destination));
        DWORD length = c.capacity, type = 0xBAD;
        EXPECT_EQ(c.result, accessor.ReadValue(key.key, "v", destination, &length, &type));
        EXPECT_EQ(c.result ? data.size() : c.capacity, length) << c.size;
        EXPECT_EQ(c.result ? c.type : 0xBADu, type) << c.size;
        const char* text = reinterpret_cast<char*>(destination);
        const std::string read = c.result ? std::string(text) : std::string(text, 2);
        EXPECT_EQ(c.result ? std::string(c.size, 'x') : "\xCC\xCC", read) << "copied, terminated: " << c.size;
        if (!c.result) codes.push_back(ERROR_MORE_DATA);
    }
    ExpectSystemErrors(boxes, codes);

    // A port number follows the port name's first three characters; nullptr: no Device Parameters key.
    struct Port { const char* portName; long number; } ports[] = {
        {"COM3", 3}, {"COM12", 12}, {"COM", 0}, {"COM0", 0}, {"COM 7x", 7}, {"COM-4", -4},
        {"COM99999999999", 0x7FFFFFFF}, {nullptr, 0}};
    for (const Port& c : ports) {
        reg::DeleteTree("RpTest\\i");
        Seed({c.portName ? std::string("RpTest\\i\\Device Parameters|PortName=") + c.portName : "RpTest\\i"});
        long number = -99;
        EXPECT_EQ(1, accessor.ReadPortNumber(key.key, "i", &number));
        EXPECT_EQ(c.number, number) << (c.portName ? c.portName : "(no Device Parameters)");
    }
    EXPECT_EQ(0, balance.Balance());
    EXPECT_EQ(codes.size(), boxes.Count());
}

TEST_F(AccessorTest, FindDriverInfNameTakesTheFirstExistingDriverKey)
{
    const std::string cls = kSet[0] + "\\Control\\Class\\" + kModemClass + "\\";
    auto driver = [](int set, const char* instance, const char* number) {
        return EnumUsb(set, kPhone) + "\\" + instance + "|Driver=" + kModemClass + "\\" + number;
    };
    const std::string oem8 = cls + "0008|InfPath=oem8.inf";
    // The control set of the device key, what is seeded, and the name found (empty: answers 0).
    struct Case { int set; Strings seeded; const char* name; } cases[] = {
        {0, {EnumUsb(0, kPhone) + "\\1|Service=x", driver(0, "2", "0007"), driver(0, "3", "0008"), oem8,
             cls + "0007|InfPath=oem7.inf"}, "oem7"},
        // An existing driver key without InfPath ends the walk; a missing one does not.
        {0, {driver(0, "1", "0007"), driver(0, "2", "0008"), cls + "0007|DriverDesc=x", oem8}, ""},
        {0, {driver(0, "1", "0006"), driver(0, "2", "0008"), oem8}, "oem8"},
        {0, {driver(0, "1", "0007"), cls + "0007|InfPath=.inf"}, ""},
        {0, {driver(0, "1", "0007"), cls + "0007|InfPath=oem17.inf.bak"}, "oem17"},
        // The class keys are always those of the first control set.
        {1, {driver(1, "1", "0007"), kSet[1] + "\\Control\\Class\\" + kModemClass + "\\0007|InfPath=oem2.inf",
             cls + "0007|InfPath=oem1.inf"}, "oem1"},
    };
    KeyBalance balance;
    for (const Case& c : cases) {
        reg::DeleteTree(kSet[0]);
        reg::DeleteTree(kSet[1]);
        Seed(c.seeded);
        char name[261] = {0};
        const std::string device = EnumUsb(c.set, kPhone);
        EXPECT_EQ(c.name[0] ? 1 : 0, accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, device.c_str(), name));
        EXPECT_STREQ(c.name, name);
    }
    ExpectSystemErrors(boxes, {});
    char name[261] = {0};
    {
        FAIL_CALL(advapi32.dll, RegEnumKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
        EXPECT_EQ(0, accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, EnumUsb(1, kPhone).c_str(), name));
    }
    EXPECT_EQ(0, balance.Balance());
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED});
}

// The key's access list in SDDL.
std::string Dacl(const std::string& path)
{
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    Bytes buffer(0x10014);
    DWORD size = static_cast<DWORD>(buffer.size());
    char* text = nullptr;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size) == 0)
        ConvertSecurityDescriptorToStringSecurityDescriptorA(buffer.data(), SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &text, nullptr);
    RegCloseKey(key);
    std::string dacl = text ? text : "(unreadable)";
    LocalFree(text);
    return dacl;
}

bool SetDacl(const std::string& path, const char* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr))
        return false;
    OpenKey key(path);
    LONG status = RegSetKeySecurity(key.key, DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    return status == ERROR_SUCCESS;
}

TEST_F(AccessorTest, GrantAppendsFullControlForAdministratorsAfterTheOldEntries)
{
    // Five entries: a denial, inheritable ones, and a weaker Administrators entry.
    const char* five = "D:(D;;0x2;;;BU)(A;CI;KR;;;WD)(A;;KA;;;SY)(A;CIIO;KA;;;CO)(A;;KR;;;BA)";
    Seed({"RpTest\\Key\\Sub"});
    ASSERT_TRUE(SetDacl("RpTest\\Key", five) && SetDacl("RpTest\\Key\\Sub", five));
    const std::string before = Dacl("RpTest\\Key");
    ASSERT_EQ(5, std::count(before.begin(), before.end(), '(')) << before;
    KeyBalance balance;
    auto grant = [&] { return accessor.GrantKeyAccess("RpTest", "Key"); };
    EXPECT_EQ(1, grant());
    const std::string after = before + "(A;;KA;;;BA)";  // 0xF003F for S-1-5-32-544, no inheritance
    EXPECT_EQ(after, Dacl("RpTest\\Key"));
    EXPECT_EQ(before, Dacl("RpTest\\Key\\Sub")) << "subkeys keep their list";
    EXPECT_EQ(1, accessor.GrantKeyAccess("RpTest", "Missing"));

    // Nothing is written unless every step succeeded; the box shows the code
    // of the failing step, which the registry answers without a last error.
    { FAIL_CALL(advapi32.dll, RegSetKeySecurity, ERROR_ACCESS_DENIED, ERROR_SUCCESS); EXPECT_EQ(0, grant()); }
    { FAIL_CALL(advapi32.dll, RegGetKeySecurity, ERROR_INVALID_SECURITY_DESCR, 0); EXPECT_EQ(0, grant()); }
    { FAIL_CALL(kernel32.dll, HeapAlloc, nullptr, ERROR_SUCCESS); EXPECT_EQ(0, grant()); }
    { FAIL_CALL(advapi32.dll, AddAce, FALSE, ERROR_INVALID_PARAMETER, 2, 1); EXPECT_EQ(0, grant()); }
    EXPECT_EQ(after, Dacl("RpTest\\Key"));
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED, ERROR_INVALID_SECURITY_DESCR, ERROR_NOT_ENOUGH_MEMORY,
                               ERROR_INVALID_PARAMETER});

    // A null list lets everyone in; an Administrators-only list would not.
    ASSERT_TRUE(SetDacl("RpTest\\Open", "D:NO_ACCESS_CONTROL"));
    const std::string open = Dacl("RpTest\\Open");
    EXPECT_EQ(1, accessor.GrantKeyAccess("RpTest", "Open"));
    EXPECT_EQ(open, Dacl("RpTest\\Open"));

    // 255 + 1 + 10 characters do not fit and fail without a box; 250 + 1 + 9 fit exactly.
    const std::string path = "RpTest\\" + std::string(120, 'k') + "\\" + std::string(127, 'm');
    Seed({path.substr(0, 250) + "\\012345678"});
    FAIL_CALL_NAMED(sets, advapi32.dll, RegSetKeySecurity, 0, 0);
    EXPECT_EQ(0, accessor.GrantKeyAccess(path.c_str(), "0123456789"));
    EXPECT_EQ(0, accessor.GrantKeyAccess("", "RpTest"));
    EXPECT_EQ(0, sets.Calls());
    EXPECT_EQ(1, accessor.GrantKeyAccess(path.substr(0, 250).c_str(), "012345678"));
    EXPECT_EQ(1, sets.Calls());
    EXPECT_EQ(4u, boxes.Count());
    EXPECT_EQ(0, balance.Balance());
}

}  // namespace
