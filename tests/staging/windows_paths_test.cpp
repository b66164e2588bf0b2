#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "staging/inf_stager.h"
#include "support/fault.h"
#include "support/files.h"
#include "support/import_patch.h"

namespace {

typedef int (InfStager::*Builder)(char*);

struct BuilderCase {
    const char* name;
    Builder build;
    const char* suffix;
    bool emptiesOutput;
};

const BuilderCase kBuilders[] = {
    {"GetDriversDir", &InfStager::GetDriversDir, "\\SYSTEM32\\DRIVERS", true},
    {"GetLastGoodDriversDir", &InfStager::GetLastGoodDriversDir, "\\LastGood\\SYSTEM32\\DRIVERS",
     true},
    {"GetInfDir", &InfStager::GetInfDir, "\\INF", false},
    {"GetLastGoodInfDir", &InfStager::GetLastGoodInfDir, "\\LastGood\\INF", false},
};

// A Windows directory of a chosen length, for the bounds of the builders.
std::string fakeWindowsDir;

UINT WINAPI FakeWindowsDirectory(LPSTR buffer, UINT size)
{
    UINT n = static_cast<UINT>(fakeWindowsDir.size());
    if (n + 1 > size) return n + 1;
    lstrcpyA(buffer, fakeWindowsDir.c_str());
    return n;
}

TEST(WindowsPaths, BuildFromTheWindowsDirectory)
{
    InfStager stager(12);
    for (const BuilderCase& c : kBuilders) {
        char out[PATH_BUFFER];
        memset(out, 'x', sizeof(out));
        out[PATH_BUFFER - 1] = '\0';
        EXPECT_EQ(1, (stager.*c.build)(out)) << c.name;
        EXPECT_EQ(WindowsDir() + c.suffix, out) << c.name;
    }
}

TEST(WindowsPaths, FailWhenTheWindowsDirectoryIsUnknown)
{
    FAIL_CALL(kernel32.dll, GetWindowsDirectoryA, 0u, ERROR_ACCESS_DENIED);
    InfStager stager(12);
    for (const BuilderCase& c : kBuilders) {
        char out[PATH_BUFFER] = "previous";
        EXPECT_EQ(0, (stager.*c.build)(out)) << c.name;
        EXPECT_STREQ(c.emptiesOutput ? "" : "previous", out) << c.name;
    }
}

// A result of 260 characters fits; one more never comes back cut.
TEST(WindowsPaths, NeverCutAPathThatDoesNotFit)
{
    ImportPatch patch("kernel32.dll", "GetWindowsDirectoryA",
                      reinterpret_cast<void*>(&FakeWindowsDirectory));
    ASSERT_TRUE(patch.Applied());
    InfStager stager(12);
    for (const BuilderCase& c : kBuilders) {
        int suffix = lstrlenA(c.suffix);
        for (int total : {259, 260, 261, 262}) {
            fakeWindowsDir = "C:\\" + std::string(total - suffix - 3, 'w');
            char out[PATH_BUFFER] = "previous";
            int result = (stager.*c.build)(out);
            if (total <= 260) {
                EXPECT_EQ(1, result) << c.name << " at " << total;
                EXPECT_EQ(fakeWindowsDir + c.suffix, out) << c.name << " at " << total;
            } else {
                EXPECT_EQ(0, result) << c.name << " at " << total;
                EXPECT_STREQ(c.emptiesOutput ? "" : "previous", out) << c.name << " at " << total;
            }
        }
    }
    // A Windows directory that fills the whole buffer is not taken either.
    fakeWindowsDir = "C:\\" + std::string(270, 'w');
    char out[PATH_BUFFER] = "previous";
    EXPECT_EQ(0, stager.GetInfDir(out));
    EXPECT_STREQ("previous", out);
}

class DeleteFileForcedTest : public testing::Test {
protected:
    ScratchDir dir{"q9del"};
    InfStager stager{12};
};

TEST_F(DeleteFileForcedTest, DeletesPlainAndReadOnlyFiles)
{
    std::string plain = dir / "plain.sys";
    std::string readOnly = dir / "readonly.sys";
    ASSERT_TRUE(WriteFileText(plain, "x"));
    ASSERT_TRUE(WriteFileText(readOnly, "x"));
    ASSERT_TRUE(
        SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    EXPECT_EQ(1, stager.DeleteFileForced(plain.c_str()));
    EXPECT_FALSE(FileExists(plain));
    EXPECT_EQ(1, stager.DeleteFileForced(readOnly.c_str()));
    EXPECT_FALSE(FileExists(readOnly));
}

TEST_F(DeleteFileForcedTest, AbsentFileCountsAsDeleted)
{
    EXPECT_EQ(1, stager.DeleteFileForced((dir / "never.sys").c_str()));
    // Only a missing file counts: a missing folder is reported as a failure.
    EXPECT_EQ(0, stager.DeleteFileForced((dir / "no-folder\\never.sys").c_str()));
}

TEST_F(DeleteFileForcedTest, FileInUseStays)
{
    std::string path = dir / "inuse.sys";
    ASSERT_TRUE(WriteFileText(path, "held"));
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, stager.DeleteFileForced(path.c_str()));
    CloseHandle(held);
    EXPECT_EQ("held", ReadFileText(path));
}

TEST_F(DeleteFileForcedTest, FolderIsNotDeletedNorChanged)
{
    std::string folder = dir / "oem1.inf";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(0, stager.DeleteFileForced(folder.c_str()));
    DWORD attributes = GetFileAttributesA(folder.c_str());
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), attributes);
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
