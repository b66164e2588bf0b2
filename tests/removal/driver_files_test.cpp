#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "removal/removal.h"
#include "removal_fixtures.h"
#include "shell/osclass.h"

namespace {

TEST(RemoveDriverFiles, XpDeletesEighteenInTurnReadOnlyIncludedAndSkipsAFileInUse)
{
    SeededFiles files;
    files.LastGoodFolders();
    const std::string drivers = WindowsDir() + "\\SYSTEM32\\DRIVERS";
    const std::string lastGood = WindowsDir() + "\\LastGood\\SYSTEM32\\DRIVERS";
    std::vector<std::string> expected;
    for (const char* name : driverFileNames) {
        for (const std::string& dir : {drivers, lastGood}) {
            expected.push_back(dir + "\\" + name);
            files.File(expected.back());
        }
    }
    for (const std::string& dir : {drivers, lastGood})
        ASSERT_TRUE(SetFileAttributesA((dir + "\\TVymdm.sys").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string inUse = drivers + "\\TVycmnt.sys";
    HANDLE file = CreateFileA(inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    BoxRecorder boxes;
    DeleteFileRecorder deletions;

    EXPECT_EQ(1, DriverRemover(OsWinXP).RemoveDriverFiles());

    CloseHandle(file);
    EXPECT_EQ(expected, deletions.paths) << "table order, driver folder then its last-good copy";
    for (const std::string& path : expected) EXPECT_EQ(path == inUse, FileExists(path)) << path;
    ExpectShown(boxes);
}

}  // namespace
