// Folders below the Windows directory, whole or not at all, and forced
// deletion where the stale-copy scan does not reach.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "staging/inf_stager.h"
#include "support/files.h"
#include "support/import_patch.h"

namespace {

std::string windowsDir;  // what the fake reports; empty: the call fails

UINT WINAPI FakeWindowsDirectory(LPSTR buffer, UINT size)
{
    UINT length = static_cast<UINT>(windowsDir.size());
    if (length > 0 && length < size) lstrcpyA(buffer, windowsDir.c_str());
    return length == 0 || length < size ? length : length + 1;
}

TEST(WindowsPaths, AreBuiltWholeOrNotAtAll)
{
    const std::pair<int (InfStager::*)(char*), std::string> builders[] = {
        {&InfStager::GetDriversDir, "\\SYSTEM32\\DRIVERS"},
        {&InfStager::GetLastGoodDriversDir, "\\LastGood\\SYSTEM32\\DRIVERS"},
        {&InfStager::GetInfDir, "\\INF"},
        {&InfStager::GetLastGoodInfDir, "\\LastGood\\INF"},
    };
    ImportPatch patch("kernel32.dll", "GetWindowsDirectoryA", reinterpret_cast<void*>(&FakeWindowsDirectory));
    ASSERT_TRUE(patch.Applied());
    InfStager stager(12);
    for (const auto& b : builders) {
        int suffix = static_cast<int>(b.second.size());
        // Unknown; the whole path at 260 and 261 characters; larger than the buffer.
        for (int length : {0, 260 - suffix, 261 - suffix, 270}) {
            SCOPED_TRACE(b.second + " after " + std::to_string(length));
            windowsDir = length ? "C:\\" + std::string(length - 3, 'w') : "";
            bool fits = length && length + suffix <= 260;
            char out[PATH_BUFFER] = "";
            EXPECT_EQ(fits ? 1 : 0, (stager.*b.first)(out));
            EXPECT_EQ(fits ? windowsDir + b.second : "", out);
        }
    }
}

TEST(DeleteFileForced, OnlyAMissingFileCountsAsDeleted)
{
    ScratchDir dir("q9del");
    std::string folder = dir / "oem1.inf";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_HIDDEN));
    InfStager stager(12);
    EXPECT_EQ(1, stager.DeleteFileForced((dir / "never.sys").c_str()));
    EXPECT_EQ(0, stager.DeleteFileForced((dir / "no-folder\\never.sys").c_str()));
    // A folder of that name is neither deleted nor changed.
    EXPECT_EQ(0, stager.DeleteFileForced(folder.c_str()));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN),
              GetFileAttributesA(folder.c_str()));
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
