#include <gtest/gtest.h>

#include "shell/osclass.h"
#include "support/import_patch.h"

namespace {

struct Reported {
    DWORD platform, major, minor;
    WORD servicePack;
    BOOL result;
};
Reported reported;

BOOL WINAPI FakeGetVersionExA(OSVERSIONINFOA* info)
{
    if (!reported.result) return FALSE;
    info->dwPlatformId = reported.platform;
    info->dwMajorVersion = reported.major;
    info->dwMinorVersion = reported.minor;
    if (info->dwOSVersionInfoSize >= sizeof(OSVERSIONINFOEXA))
        reinterpret_cast<OSVERSIONINFOEXA*>(info)->wServicePackMajor = reported.servicePack;
    return TRUE;
}

TEST(GetOsClass, ClassifiesEveryReport)
{
    ImportPatch patch("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&FakeGetVersionExA));
    ASSERT_TRUE(patch.Applied());
    const struct {
        DWORD platform, major, minor;
        OsClass expected;
    } table[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, OsWin95},  {VER_PLATFORM_WIN32_WINDOWS, 4, 10, OsWin98},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, OsWinMe}, {VER_PLATFORM_WIN32_WINDOWS, 7, 10, OsWin98},
        {VER_PLATFORM_WIN32s, 3, 90, OsWinMe},        {VER_PLATFORM_WIN32_NT, 3, 51, OsNtOther},
        {VER_PLATFORM_WIN32_NT, 4, 0, OsNtOther},     {VER_PLATFORM_WIN32_NT, 5, 0, OsWin2000},
        {VER_PLATFORM_WIN32_NT, 5, 1, OsWinXP},       {VER_PLATFORM_WIN32_NT, 5, 2, OsWinServer2003},
        {VER_PLATFORM_WIN32_NT, 5, 3, OsNtOther},     {VER_PLATFORM_WIN32_NT, 6, 0, OsWinVista},
        {VER_PLATFORM_WIN32_NT, 6, 1, OsWinVista},    {VER_PLATFORM_WIN32_NT, 6, 2, OsWinVista},
        {VER_PLATFORM_WIN32_NT, 10, 0, OsWinLater},
    };
    for (const auto& row : table) {
        reported = {row.platform, row.major, row.minor, 0, TRUE};
        EXPECT_EQ(row.expected, GetOsClass()) << row.platform << " " << row.major << "." << row.minor;
    }
}

TEST(GetServicePackVersion, StoresOnlyOnSuccess)
{
    ImportPatch patch("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&FakeGetVersionExA));
    reported = {VER_PLATFORM_WIN32_NT, 5, 1, 3, TRUE};
    unsigned long major = 9, minor = 9;
    EXPECT_EQ(1, GetServicePackVersion(&major, &minor));
    EXPECT_EQ(3u, major);
    EXPECT_EQ(0u, minor);
    EXPECT_EQ(1, GetServicePackVersion(&major, nullptr));

    reported.result = FALSE;
    major = 9;
    EXPECT_EQ(0, GetServicePackVersion(&major, nullptr));
    EXPECT_EQ(9u, major);
}

TEST(GetOsClass, WhatWineReportsForTheTestProgram)
{
    // The prefix reports one real version to this program; it must land on
    // one of the codes the program knows.
    OsClass code = GetOsClass();
    EXPECT_TRUE(code == 0 || code == 1 || code == 2 || (code >= 10 && code <= 15)) << code;
}

}  // namespace
