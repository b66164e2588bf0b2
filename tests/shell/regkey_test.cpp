#include <gtest/gtest.h>

#include "resources/ids.h"
#include "shell/regkey.h"
#include "support/registry.h"

namespace {

const char kPath[] = "SOFTWARE\\QuellinTests\\RegKey";

class RegKeyTest : public testing::Test {
protected:
    RegistryScratch scratch_{{"SOFTWARE\\QuellinTests"}};
};

TEST_F(RegKeyTest, OpenReadWriteAndClose)
{
    RegKey key;
    EXPECT_EQ(0, key.CloseKey());
    DWORD value = 7;
    EXPECT_EQ(0, key.ReadDword("InstallFlag", &value));
    EXPECT_EQ(0, key.WriteDword("InstallFlag", 1));
    EXPECT_EQ(0, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_ALL_ACCESS)) << "never created";
    EXPECT_FALSE(reg::KeyExists(kPath));

    ASSERT_TRUE(reg::CreateKey(kPath));
    ASSERT_EQ(1, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_ALL_ACCESS));
    EXPECT_EQ(0, key.ReadDword("InstallFlag", &value));
    EXPECT_EQ(7u, value) << "a missing value leaves the output alone";
    EXPECT_EQ(1, key.WriteDwordById(IDS_INSTALL_FLAG, 0x12345678));
    DWORD type = 0;
    std::vector<BYTE> data = reg::GetValue(kPath, "InstallFlag", &type);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    ASSERT_EQ(4u, data.size());
    EXPECT_EQ(1, key.ReadDwordById(IDS_INSTALL_FLAG, &value));
    EXPECT_EQ(0x12345678u, value);
    EXPECT_EQ(1, key.CloseKey());
    EXPECT_EQ(0, key.CloseKey());
}

TEST_F(RegKeyTest, ValuesOfOtherSizes)
{
    ASSERT_TRUE(reg::SetBinary(kPath, "Eight", {1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(reg::SetBinary(kPath, "Two", {0xAB, 0xCD}));
    RegKey key;
    ASSERT_EQ(1, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_READ));
    DWORD value = 0xEEEEEEEE;
    EXPECT_EQ(0, key.ReadDword("Eight", &value));
    EXPECT_EQ(0xEEEEEEEEu, value);
    EXPECT_EQ(1, key.ReadDword("Two", &value));
    EXPECT_EQ(0x0000CDABu, value) << "the bytes a short value lacks read as zero";
}

TEST_F(RegKeyTest, FailedOpenClosesTheHeldKey)
{
    ASSERT_TRUE(reg::CreateKey(kPath));
    KeyBalance balance;
    {
        RegKey key;
        ASSERT_EQ(1, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_READ));
        EXPECT_EQ(0, key.OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\QuellinTests\\Missing", KEY_READ));
        EXPECT_EQ(0, balance.Balance());
        EXPECT_EQ(0, key.CloseKey());
        ASSERT_EQ(1, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_READ));
    }
    EXPECT_EQ(0, balance.Balance()) << "the destructor closes the key";
}

TEST_F(RegKeyTest, UnknownNameIdWritesNothing)
{
    ASSERT_TRUE(reg::CreateKey(kPath));
    RegKey key;
    ASSERT_EQ(1, key.OpenKey(HKEY_LOCAL_MACHINE, kPath, KEY_ALL_ACCESS));
    EXPECT_EQ(0, key.WriteDwordById(9999, 1));
    DWORD value = 0;
    EXPECT_EQ(0, key.ReadDwordById(9999, &value));
    EXPECT_TRUE(reg::ValueNames(kPath).empty());
}

}  // namespace
