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
using Strings = std::vector<std::string>;

// RpTest\A holding B (which holds C) and D.
void SeedTree()
{
    ASSERT_TRUE(reg::SetString("RpTest\\A\\B\\C", "v", "c"));
    ASSERT_TRUE(reg::SetString("RpTest\\A\\D", "v", "d"));
    ASSERT_TRUE(reg::SetString("RpTest\\A", "v", "a"));
    ASSERT_TRUE(reg::SetString("RpTest\\Sibling", "v", "s"));
}

class TreeDeleteTest : public testing::Test {
protected:
    RegistryScratch scratch{seed::AllScratch()};
    RegistryPurger purger{OsWinXP};
    BoxRecorder boxes;

    // Runs a deletion below RpTest with the parent key open.
    int Delete(bool granted, const char* name = "A")
    {
        HKEY parent = nullptr;
        EXPECT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "RpTest", 0, KEY_READ, &parent));
        int result;
        {
            KeyBalance balance;
            result = granted ? purger.DeleteTreeGranted(parent, "RpTest", name)
                             : purger.DeleteTree(parent, name);
            EXPECT_EQ(0, balance.Balance());
        }
        RegCloseKey(parent);
        return result;
    }
};

TEST_F(TreeDeleteTest, DeletesLeavesFirstGrantingEachKeyBeforeItGoes)
{
    SeedTree();
    seed::RegistryLog log;
    EXPECT_EQ(1, Delete(true));
    EXPECT_EQ((Strings{"grant RpTest\\A\\B\\C", "delete C", "grant RpTest\\A\\B", "delete B",
                       "grant RpTest\\A\\D", "delete D", "grant RpTest\\A", "delete A"}),
              log.Events());
    EXPECT_FALSE(reg::KeyExists("RpTest\\A"));
    EXPECT_TRUE(reg::KeyExists("RpTest\\Sibling"));
    ExpectSystemErrors(boxes, {});
}

TEST_F(TreeDeleteTest, DeleteTreeLeavesSecurityAlone)
{
    SeedTree();
    seed::RegistryLog log;
    EXPECT_EQ(1, Delete(false));
    EXPECT_EQ((Strings{"delete C", "delete B", "delete D", "delete A"}), log.Events());
    EXPECT_FALSE(reg::KeyExists("RpTest\\A"));
    EXPECT_TRUE(reg::KeyExists("RpTest\\Sibling"));
    ExpectSystemErrors(boxes, {});
}

TEST_F(TreeDeleteTest, ASingleKeyAndAMissingKey)
{
    ASSERT_TRUE(reg::SetString("RpTest\\Lone", "v", "x"));
    {
        seed::RegistryLog log;
        EXPECT_EQ(1, Delete(true, "Lone"));
        EXPECT_EQ((Strings{"grant RpTest\\Lone", "delete Lone"}), log.Events());
    }
    EXPECT_FALSE(reg::KeyExists("RpTest\\Lone"));
    seed::RegistryLog log;
    EXPECT_EQ(1, Delete(true, "Missing"));
    EXPECT_EQ(1, Delete(false, "Missing"));
    EXPECT_EQ(1, purger.DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_UNIMODEM, "Missing"));
    EXPECT_TRUE(log.Events().empty());
    EXPECT_EQ(1, purger.DeleteKey(HKEY_LOCAL_MACHINE, "RpTest\\Missing"));
    ExpectSystemErrors(boxes, {});
}

TEST_F(TreeDeleteTest, DeleteTreeByIdGrantsAlongTheStringsPath)
{
    const std::string modem = seed::kUnimodem + "\\" + seed::kModemKey;
    ASSERT_TRUE(reg::SetString(modem + "\\Init", "1", "AT"));
    ASSERT_TRUE(reg::SetString(seed::kUnimodem + "\\Other Modem", "v", "x"));
    seed::RegistryLog log;
    EXPECT_EQ(1, purger.DeleteTreeById(HKEY_LOCAL_MACHINE, IDS_UNIMODEM, seed::kModemKey.c_str()));
    EXPECT_EQ((Strings{modem + "\\Init", modem}), log.Grants());
    EXPECT_FALSE(reg::KeyExists(modem));
    EXPECT_TRUE(reg::KeyExists(seed::kUnimodem + "\\Other Modem"));
    EXPECT_EQ(0, purger.DeleteTreeById(HKEY_LOCAL_MACHINE, 9999, "x")) << "no such string";
    ExpectSystemErrors(boxes, {});
}

// Deletes RpTest\A\B for real right after the registry listed it.
struct VanishingB {
    static LONG WINAPI Enum(HKEY key, DWORD index, LPSTR name, LPDWORD length, LPDWORD reserved,
                            LPSTR cls, LPDWORD clsLength, PFILETIME time)
    {
        auto original = reinterpret_cast<decltype(&RegEnumKeyExA)>(patch->Original());
        LONG status = original(key, index, name, length, reserved, cls, clsLength, time);
        if (status == 0 && lstrcmpiA(name, "B") == 0 && armed) {
            armed = false;
            reg::DeleteTree("RpTest\\A\\B");
        }
        return status;
    }
    static inline ImportPatch* patch = nullptr;
    static inline bool armed = false;
};

TEST_F(TreeDeleteTest, AKeyThatVanishesMidWalkStartsANewDescent)
{
    SeedTree();
    ImportPatch patch("advapi32.dll", "RegEnumKeyExA", reinterpret_cast<void*>(&VanishingB::Enum));
    VanishingB::patch = &patch;
    VanishingB::armed = true;
    seed::RegistryLog log;
    EXPECT_EQ(1, Delete(true));
    EXPECT_FALSE(VanishingB::armed);
    // The first two are the test's own deletion, right after B was listed.
    EXPECT_EQ((Strings{"delete RpTest\\A\\B\\C", "delete RpTest\\A\\B", "grant RpTest\\A\\D",
                       "delete D", "grant RpTest\\A", "delete A"}),
              log.Events());
    EXPECT_FALSE(reg::KeyExists("RpTest\\A"));
    ExpectSystemErrors(boxes, {});
}

TEST_F(TreeDeleteTest, SubKeysThatCannotBeFoundEndTheWalk)
{
    SeedTree();
    {
        // Counted but gone when listed: looked for again, then the walk goes on.
        FAIL_CALL(advapi32.dll, RegEnumKeyExA, ERROR_NO_MORE_ITEMS, ERROR_NO_MORE_ITEMS, 0, 1);
        EXPECT_EQ(1, Delete(false));
    }
    EXPECT_FALSE(reg::KeyExists("RpTest\\A"));
    SeedTree();
    {
        // A listed name that never opens (as a name the code page cannot
        // hold would) must not keep the walk going for ever.
        FAIL_CALL_NAMED(opens, advapi32.dll, RegOpenKeyExA, ERROR_FILE_NOT_FOUND,
                        ERROR_FILE_NOT_FOUND, 2);
        EXPECT_EQ(0, Delete(false));
        EXPECT_EQ(2, opens.Failures());
    }
    EXPECT_TRUE(reg::KeyExists("RpTest\\A\\B\\C"));
    ExpectSystemErrors(boxes, {});
}

TEST_F(TreeDeleteTest, AFailedGrantOrDeletionStopsTheTreeWithOneBox)
{
    SeedTree();
    {
        FAIL_CALL(advapi32.dll, RegSetKeySecurity, ERROR_ACCESS_DENIED, ERROR_SUCCESS);
        EXPECT_EQ(0, Delete(true));
    }
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED});
    EXPECT_TRUE(reg::KeyExists("RpTest\\A\\B\\C"));
    {
        BoxRecorder local;
        FAIL_CALL(advapi32.dll, RegDeleteKeyA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 1, 1);
        EXPECT_EQ(0, Delete(true));
        ExpectSystemErrors(local, {ERROR_ACCESS_DENIED});
    }
    EXPECT_FALSE(reg::KeyExists("RpTest\\A\\B\\C")) << "keys deleted so far stay deleted";
    EXPECT_TRUE(reg::KeyExists("RpTest\\A\\B"));
    EXPECT_TRUE(reg::KeyExists("RpTest\\A\\D"));
    {
        // A protected key: without the grant the access error is all there is.
        BoxRecorder local;
        FAIL_CALL(advapi32.dll, RegDeleteKeyA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
        EXPECT_EQ(0, Delete(false));
        ExpectSystemErrors(local, {ERROR_ACCESS_DENIED});
    }
    {
        BoxRecorder local;
        FAIL_CALL(advapi32.dll, RegQueryInfoKeyA, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE, 1, 1);
        EXPECT_EQ(0, Delete(false));
        ExpectSystemErrors(local, {ERROR_INVALID_HANDLE});
    }
    EXPECT_TRUE(reg::KeyExists("RpTest\\A\\B"));
}

TEST_F(TreeDeleteTest, ARelativePathBeyond260CharactersStopsWithoutABox)
{
    // Built level by level: the ANSI registry calls take no longer path.
    std::string a(120, 'a');
    std::string b(127, 'b');
    ASSERT_TRUE(reg::CreateKey("RpTest\\" + a + "\\" + b));
    HKEY key = nullptr, sub = nullptr;
    ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("RpTest\\" + a + "\\" + b).c_str(), 0,
                               KEY_ALL_ACCESS, &key));
    ASSERT_EQ(0, RegCreateKeyExA(key, std::string(20, 'c').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &sub, nullptr));
    RegCloseKey(sub);
    RegCloseKey(key);
    EXPECT_EQ(0, Delete(true, a.c_str()));
    EXPECT_TRUE(reg::KeyExists("RpTest\\" + a + "\\" + b));
    ExpectSystemErrors(boxes, {});
    EXPECT_EQ(1, Delete(false, a.c_str())) << "without grants no path is built";
    EXPECT_FALSE(reg::KeyExists("RpTest\\" + a));
}

class MatchingValuesTest : public TreeDeleteTest {
protected:
    void Seed(const Strings& names)
    {
        for (const std::string& name : names) ASSERT_TRUE(reg::SetString("RpTest\\Values", name, "x"));
    }
    Strings Left() { return reg::ValueNames("RpTest\\Values"); }
    int Run(char* pattern)
    {
        KeyBalance balance;
        int result = purger.DeleteMatchingValues(HKEY_LOCAL_MACHINE, "RpTest\\Values", pattern);
        EXPECT_EQ(0, balance.Balance());
        return result;
    }
};

TEST_F(MatchingValuesTest, DeletesOnlyTheEntriesOfThatPortOrFile)
{
    struct Case {
        const char* pattern;
        const char* upper;
        Strings seeded;
        Strings left;  // sorted as the registry lists them
    } cases[] = {
        {"com5", "COM5", {"COM5:", "LPT1:", "FILE:"}, {"FILE:", "LPT1:"}},
        // COM1 is part of the names of COM10 and COM11: those stay.
        {"COM1", "COM1", {"COM1:", "COM10:", "COM11:", "com1:x", "COM2:"}, {"COM10:", "COM11:", "COM2:"}},
        {"oem1", "OEM1",
         {"inf\\oem1.inf", "INF\\OEM1.PNF", "inf\\oem12.inf", "inf\\oem10.PNF", "inf\\xoem1"},
         {"inf\\oem10.PNF", "inf\\oem12.inf"}},
        {"oem12", "OEM12", {"inf\\oem1.inf", "inf\\OEM12.inf", "inf\\oem123.inf"},
         {"inf\\oem1.inf", "inf\\oem123.inf"}},
        // Adjacent matches: the second moves into the first's place.
        {"COM7", "COM7", {"COM7:", "COM7:a", "COM7:b", "COM8:"}, {"COM8:"}},
        {"COM9", "COM9", {"COM1:", "COM2:"}, {"COM1:", "COM2:"}},
    };
    for (const Case& c : cases) {
        reg::DeleteTree("RpTest\\Values");
        Seed(c.seeded);
        char pattern[261];
        lstrcpyA(pattern, c.pattern);
        EXPECT_EQ(1, Run(pattern)) << c.pattern;
        EXPECT_STREQ(c.upper, pattern);
        Strings left = Left();
        std::sort(left.begin(), left.end());
        EXPECT_EQ(c.left, left) << c.pattern;
    }
    ExpectSystemErrors(boxes, {});
}

TEST_F(MatchingValuesTest, AFailedValueDeletionIsShownAndThePassGoesOn)
{
    Seed({"COM5:", "COM5:a", "LPT1:", "COM5:b"});
    char pattern[261] = "COM5";
    {
        FAIL_CALL(advapi32.dll, RegDeleteValueA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0, 1);
        EXPECT_EQ(1, Run(pattern));
    }
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED});
    // The value that failed first was met again in a later pass.
    EXPECT_EQ((Strings{"LPT1:"}), Left());
}

TEST_F(MatchingValuesTest, MissingKeysAndFailedEnumerations)
{
    char pattern[261] = "com5";
    EXPECT_EQ(1, Run(pattern));
    EXPECT_STREQ("com5", pattern) << "nothing to match against";
    EXPECT_EQ(0, purger.DeleteMatchingValuesById(HKEY_LOCAL_MACHINE, 9999, pattern));
    Seed({"COM5:"});
    {
        FAIL_CALL(advapi32.dll, RegEnumValueA, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE);
        EXPECT_EQ(0, Run(pattern));
    }
    EXPECT_EQ((Strings{"COM5:"}), Left());
    ExpectSystemErrors(boxes, {ERROR_INVALID_HANDLE});
    {
        // A listing shorter than the count, with nothing deleted by us, is
        // not walked again (else a registry that keeps answering so would
        // hold the walk for ever).
        FAIL_CALL_NAMED(enums, advapi32.dll, RegEnumValueA, ERROR_NO_MORE_ITEMS, ERROR_NO_MORE_ITEMS, 0, 50);
        EXPECT_EQ(1, Run(pattern));
        EXPECT_EQ(1, enums.Calls());
    }
}

TEST_F(MatchingValuesTest, DoubleByteNamesAreMatchedByWholeCharacters)
{
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    // 0x81 0x63 is one character whose trail byte is a small c; 0x81 0x43 one
    // whose trail byte is a capital C.
    const std::string trailSmallC = std::string("COM5:") + "\x81" "c";
    const std::string trailCapitalC = std::string("X\x81") + "COM5:";
    Seed({trailSmallC, trailCapitalC, "LPT1:"});
    char pattern[261] = "com5";
    EXPECT_EQ(1, Run(pattern));
    Strings left = Left();
    std::sort(left.begin(), left.end());
    EXPECT_EQ((Strings{"LPT1:", trailCapitalC}), left);

    // A pattern's own double-byte character is not upper-cased into another.
    const std::string dbcsName = std::string("\x81") + "com5:";
    Seed({dbcsName});
    char dbcsPattern[261] = "\x81" "com5";
    EXPECT_EQ(1, Run(dbcsPattern));
    EXPECT_EQ(std::string("\x81") + "cOM5", dbcsPattern);
    EXPECT_FALSE(reg::ValueExists("RpTest\\Values", dbcsName));
    ExpectSystemErrors(boxes, {});
}

}  // namespace
