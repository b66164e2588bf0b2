#include <gtest/gtest.h>

#include "shell/osclass.h"
#include "support/import_patch.h"

namespace {

OSVERSIONINFOEXA reported;
BOOL reportedResult;

BOOL WINAPI FakeGetVersionExA(OSVERSIONINFOA* info)
{
    if (!reportedResult) return FALSE;
    DWORD size = info->dwOSVersionInfoSize;
    memcpy(info, &reported, size < sizeof(reported) ? size : sizeof(reported));
    info->dwOSVersionInfoSize = size;
    return TRUE;
}

TEST(GetOsClass, EveryReportedVersion)
{
    ImportPatch patch("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&FakeGetVersionExA));
    ASSERT_TRUE(patch.Applied());
    const DWORD k9x = VER_PLATFORM_WIN32_WINDOWS, kNt = VER_PLATFORM_WIN32_NT;
    const struct {
        DWORD platform, major, minor;
        OsClass expected;
    } table[] = {
        {k9x, 4, 0, 0},  {k9x, 4, 10, 1},  {k9x, 4, 90, 2}, {k9x, 7, 10, 1}, {VER_PLATFORM_WIN32s, 3, 90, 2},
        {kNt, 3, 51, 10}, {kNt, 4, 0, 10}, {kNt, 5, 0, 11}, {kNt, 5, 1, 12}, {kNt, 5, 2, 13},
        {kNt, 5, 3, 10},  {kNt, 6, 0, 14}, {kNt, 6, 1, 14}, {kNt, 6, 2, 14}, {kNt, 10, 0, 15},
    };
    reportedResult = TRUE;
    for (const auto& row : table) {
        reported = {};
        reported.dwPlatformId = row.platform;
        reported.dwMajorVersion = row.major;
        reported.dwMinorVersion = row.minor;
        EXPECT_EQ(row.expected, GetOsClass()) << row.platform << " " << row.major << "." << row.minor;
    }
}

TEST(GetServicePackVersion, StoresOnlyOnSuccess)
{
    ImportPatch patch("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&FakeGetVersionExA));
    reported = {};
    reported.wServicePackMajor = 3;
    reported.wServicePackMinor = 1;
    reportedResult = TRUE;
    unsigned long major = 9, minor = 9;
    EXPECT_EQ(1, GetServicePackVersion(&major, &minor));
    EXPECT_EQ(3u, major);
    EXPECT_EQ(1u, minor);
    reportedResult = FALSE;
    major = 9;
    EXPECT_EQ(0, GetServicePackVersion(&major, nullptr));
    EXPECT_EQ(9u, major);
}

}  // namespace
