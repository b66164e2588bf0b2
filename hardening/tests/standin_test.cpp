// The stand-in itself: what the product's tests rely on it to do as
// Windows does.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resources/ids.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

TEST(Standin, CodePage936Conversions)
{
    std::string gbk = Gbk(u8"表誠");
    EXPECT_EQ("\xB1\xED\xD5\x5C", gbk);
    EXPECT_EQ(u8"表誠", Utf8(gbk));
    WCHAR wide[8];
    EXPECT_EQ(2, MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, gbk.c_str(), 4, wide, 8));
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\x81", 2, wide, 8));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "", 0, wide, 8));
    const WCHAR surrogates[] = {0xD83D, 0xDE00, 0xDC00, 'a'};
    char out[8];
    EXPECT_EQ(3, WideCharToMultiByte(CP_ACP, 0, surrogates, 4, out, 8, nullptr, nullptr));
    EXPECT_EQ("??a", std::string(out, 3));
}

TEST(Standin, LoadStringReadsTheProgramsTableAndCutsWholeCharacters)
{
    char buffer[64];
    EXPECT_EQ(7, LoadStringA(nullptr, IDS_INI_SECTION, buffer, sizeof(buffer)));
    EXPECT_STREQ("UsbInst", buffer);
    EXPECT_EQ(4, LoadStringA(nullptr, IDS_BUTTON_END, buffer, 5));  // "结束"
    EXPECT_EQ(Gbk(u8"结束"), buffer);
    EXPECT_EQ(2, LoadStringA(nullptr, IDS_BUTTON_END, buffer, 4));  // never half of "束"
    EXPECT_EQ(Gbk(u8"结"), buffer);
    EXPECT_EQ(0, LoadStringA(nullptr, 9999, buffer, 4));
    EXPECT_EQ(-1, LoadStringA(nullptr, IDS_BUTTON_END, buffer, 0));
}

TEST(Standin, FormatterTakesArgumentsAsTheSystemDoes)
{
    char out[1024];
    EXPECT_EQ(11, wsprintfA(out, "%d|%5s|%q", -12, "ab"));
    EXPECT_STREQ("-12|   ab|q", out) << "an unknown type prints as a character";
    StandinLimitFormatArguments(1);
    wsprintfA(out, "%S%d", static_cast<const WCHAR*>(nullptr));
    EXPECT_TRUE(StandinFormatOverread());
    StandinLimitFormatArguments(-1);
    std::string big(2000, 'x');
    EXPECT_EQ(1023, wsprintfA(out, "%s", big.c_str()));
}

TEST(Standin, RegistryAnswersAsWindowsDoes)
{
    StandinRegSetValue("SYSTEM\\Test\\B", "v", REG_SZ, std::string("abc", 4));
    StandinRegCreateKey("SYSTEM\\Test\\A");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "system\\test", 0, KEY_READ, &key));
    EXPECT_EQ(1, StandinOpenKeys());
    char name[1];  // "A" needs two bytes
    DWORD length = sizeof(name);
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\Test"));
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, "B", 0, KEY_READ, &child));
    BYTE data[3];
    length = sizeof(data);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(child, "V", nullptr, nullptr, data, &length));
    EXPECT_EQ(4u, length);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "B"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(child, "v", nullptr, nullptr, nullptr, &length));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(0, StandinOpenKeys());
}

}  // namespace
