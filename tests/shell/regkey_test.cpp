#include <gtest/gtest.h>

#include "resources/ids.h"
#include "shell/regkey.h"
#include "support/registry.h"

namespace {

const char kPath[] = "SOFTWARE\\QuellinTests\\RegKey";

TEST(RegKey, EveryOperationOnRealKeys)
{
    RegistryScratch scratch({"SOFTWARE\\QuellinTests"});
    KeyBalance balance;
    {
        RegKey key;
        DWORD value = 7;
        EXPECT_EQ(0, key.CloseKey());
        EXPECT_EQ(0, key.ReadDword("InstallFlag", &value));
        EXPECT_EQ(0, key.WriteDword("InstallFlag", 1));
        EXPECT_EQ(0, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_ALL_ACCESS));
        EXPECT_FALSE(reg::KeyExists(kPath)) << "the key is only opened, never created";

        ASSERT_TRUE(reg::SetBinary(kPath, "Eight", {1, 2, 3, 4, 5, 6, 7, 8}));
        ASSERT_TRUE(reg::SetBinary(kPath, "Two", {0xAB, 0xCD}));
        ASSERT_EQ(1, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_ALL_ACCESS));
        EXPECT_EQ(0, key.ReadDword("InstallFlag", &value));
        EXPECT_EQ(0, key.ReadDword("Eight", &value));
        EXPECT_EQ(7u, value) << "failed reads leave the output alone";
        EXPECT_EQ(1, key.ReadDword("Two", &value));
        EXPECT_EQ(0x0000CDABu, value) << "the bytes a short value lacks read as zero";

        EXPECT_EQ(1, key.WriteDwordById(IDS_INSTALL_FLAG, 0x12345678));
        DWORD type = 0;
        EXPECT_EQ(std::vector<BYTE>({0x78, 0x56, 0x34, 0x12}), reg::GetValue(kPath, "InstallFlag", &type));
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        EXPECT_EQ(1, key.ReadDwordById(IDS_INSTALL_FLAG, &value));
        EXPECT_EQ(0x12345678u, value);
        EXPECT_EQ(0, key.WriteDwordById(9999, 1)) << "a name missing from the string table";
        EXPECT_EQ(0, key.ReadDwordById(9999, &value));
        EXPECT_EQ(3u, reg::ValueNames(kPath).size());

        // A failed open still lets go of the key held before.
        EXPECT_EQ(0, key.OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\QuellinTests\\Missing", KEY_READ));
        EXPECT_EQ(0, balance.Balance());
        EXPECT_EQ(0, key.CloseKey());
        ASSERT_EQ(1, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_READ));
        EXPECT_EQ(1, key.CloseKey());
        EXPECT_EQ(0, key.CloseKey());
        ASSERT_EQ(1, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_READ));
    }
    EXPECT_EQ(0, balance.Balance()) << "the destructor closes the key";
}

}  // namespace
