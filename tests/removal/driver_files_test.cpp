#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "removal/removal.h"
#include "removal_fixtures.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/files.h"

namespace {

// The nine driver files in the driver folder and in its last-known-good copy.
class DriverFiles : public testing::Test {
protected:
    void SetUp() override
    {
        driversDir_ = WindowsDir() + "\\SYSTEM32\\DRIVERS";
        lastGoodDir_ = WindowsDir() + "\\LastGood\\SYSTEM32\\DRIVERS";
        lastGoodCreated_ = !FileExists(WindowsDir() + "\\LastGood");
        CreateDirectoryA((WindowsDir() + "\\LastGood").c_str(), nullptr);
        CreateDirectoryA((WindowsDir() + "\\LastGood\\SYSTEM32").c_str(), nullptr);
        CreateDirectoryA(lastGoodDir_.c_str(), nullptr);
        RemoveAll();
    }
    void TearDown() override
    {
        RemoveAll();
        if (lastGoodCreated_) RemoveTree(WindowsDir() + "\\LastGood");
    }

    void RemoveAll()
    {
        for (const char* name : driverFileNames) {
            RemoveTree(driversDir_ + "\\" + name);
            RemoveTree(lastGoodDir_ + "\\" + name);
        }
    }

    void SeedBoth()
    {
        for (const char* name : driverFileNames) {
            ASSERT_TRUE(WriteFileText(driversDir_ + "\\" + name, name));
            ASSERT_TRUE(WriteFileText(lastGoodDir_ + "\\" + name, name));
        }
    }

    int Count(const std::string& dir)
    {
        int n = 0;
        for (const char* name : driverFileNames) n += FileExists(dir + "\\" + name) ? 1 : 0;
        return n;
    }

    std::string driversDir_;
    std::string lastGoodDir_;
    bool lastGoodCreated_ = false;
};

TEST_F(DriverFiles, WhichFoldersAreCleanedFollowsTheWindowsFamily)
{
    struct Case {
        OsClass osClass;
        bool drivers;
        bool lastGood;
    };
    const Case cases[] = {
        {OsWin95, false, false},  {OsWin98, false, false},        {OsWinMe, false, false},
        {OsNtOther, false, false}, {OsWin2000, true, false},       {OsWinXP, true, true},
        {OsWinServer2003, true, false}, {OsWinVista, true, false}, {OsWinLater, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "OsClass " << c.osClass);
        SeedBoth();
        BoxRecorder boxes;
        std::vector<std::string> expected;
        for (const char* name : driverFileNames) {
            if (c.drivers) expected.push_back(driversDir_ + "\\" + name);
            if (c.lastGood) expected.push_back(lastGoodDir_ + "\\" + name);
        }
        DriverRemover remover(c.osClass);
        DeleteFileRecorder deletions;

        EXPECT_EQ(1, remover.RemoveDriverFiles());

        EXPECT_EQ(expected, deletions.paths) << "deletions in table order, alternating on XP";
        EXPECT_EQ(c.drivers ? 0 : 9, Count(driversDir_));
        EXPECT_EQ(c.lastGood ? 0 : 9, Count(lastGoodDir_));
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    }
}

TEST_F(DriverFiles, ReadOnlyFileIsDeleted)
{
    std::string path = driversDir_ + "\\TVymdm.sys";
    ASSERT_TRUE(WriteFileText(path, "x"));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    DriverRemover remover(OsWinServer2003);
    EXPECT_EQ(1, remover.RemoveDriverFiles());
    EXPECT_FALSE(FileExists(path));
}

TEST_F(DriverFiles, FileInUseStaysAndTheNextNamesAreStillDeleted)
{
    SeedBoth();
    std::string held = driversDir_ + "\\TVycmnt.sys";
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    BoxRecorder boxes;
    DriverRemover remover(OsWinXP);

    EXPECT_EQ(1, remover.RemoveDriverFiles());

    CloseHandle(file);
    EXPECT_TRUE(FileExists(held));
    EXPECT_EQ(1, Count(driversDir_));
    EXPECT_EQ(0, Count(lastGoodDir_)) << "the held file's last-good copy and every later name go";
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST_F(DriverFiles, NothingPresentChangesNothing)
{
    BoxRecorder boxes;
    DriverRemover remover(OsWinXP);
    DeleteFileRecorder deletions;
    EXPECT_EQ(1, remover.RemoveDriverFiles());
    EXPECT_TRUE(deletions.paths.empty());
    EXPECT_EQ(0u, boxes.Count());
}

}  // namespace
