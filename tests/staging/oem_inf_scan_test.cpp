#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "staging/inf_stager.h"
#include "staging/staging_support.h"
#include "support/fault.h"
#include "support/files.h"
#include "support/import_patch.h"

namespace {

std::string OemInf(const std::string& hardwareId)
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\nProvider=TAVRO\r\n\r\n"
           "[Manufacturer]\r\nTAVRO=Tavro_wmc\r\n\r\n"
           "[Tavro_wmc]\r\n\"TV4170K USB Port\"=Port.Install," +
           hardwareId + "\r\n";
}

const std::string kPhone = OemInf("usb\\vid_1b3f&pid_5c13&mi_03");
const std::string kForeign = OemInf("USB\\VID_0BDA&PID_8150");

// Works in the prefix's real INF folder under names no system INF uses,
// and removes them before and after.
class OemInfScan : public testing::Test {
protected:
    OemInfScan() { Clean(); }
    ~OemInfScan() override { Clean(); }

    static std::string Path(const std::string& name) { return InfDir() + "\\" + name; }

    void Put(const std::string& name, const std::string& text)
    {
        created_.push_back(name);
        ASSERT_TRUE(WriteFileText(Path(name), text)) << name;
    }
    void PutFolder(const std::string& name)
    {
        created_.push_back(name);
        ASSERT_TRUE(CreateDirectoryA(Path(name).c_str(), nullptr)) << name;
        ASSERT_TRUE(WriteFileText(Path(name) + "\\inside.txt", "x"));
    }

    void Clean()
    {
        for (const std::string& name : created_) RemoveTree(Path(name));
        for (const std::string& name : ListFiles(InfDir(), "oem91*.*")) RemoveTree(Path(name));
        RemoveTree(Path("oem9105.inf"));
    }

    std::vector<std::string> created_;
    InfStager stager_{12};
};

TEST_F(OemInfScan, DeletesThePhonesCopiesWithTheirCompanions)
{
    Put("oem9101.inf", kPhone);
    Put("oem9101.PNF", "precompiled");
    Put("oem9102.inf", kPhone);  // no companion
    Put("oem9103.inf", kForeign);
    Put("oem9103.PNF", "precompiled");
    Put("oem9104.inf", kPhone);
    Put("oem9104.PNF", "precompiled");
    ASSERT_TRUE(SetFileAttributesA(Path("oem9104.inf").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA(Path("oem9104.PNF").c_str(), FILE_ATTRIBUTE_READONLY));
    PutFolder("oem9105.inf");
    Put("tavro9106.inf", kPhone);  // not an oem*.inf name

    EXPECT_EQ(1, stager_.RemoveStaleOemInfs());

    for (const char* gone :
         {"oem9101.inf", "oem9101.PNF", "oem9102.inf", "oem9104.inf", "oem9104.PNF"})
        EXPECT_FALSE(FileExists(Path(gone))) << gone;
    for (const char* kept :
         {"oem9103.inf", "oem9103.PNF", "tavro9106.inf", "oem9105.inf\\inside.txt"})
        EXPECT_TRUE(FileExists(Path(kept))) << kept;
    EXPECT_EQ(kForeign, ReadFileText(Path("oem9103.inf")));
}

// The scan stops at a copy it cannot delete: copies listed before it are
// gone, the one in use and every later one stay.
TEST_F(OemInfScan, StopsAtACopyInUse)
{
    for (const char* name : {"oem9111.inf", "oem9112.inf", "oem9113.inf", "oem9114.inf"})
        Put(name, kPhone);
    Put("oem9112.PNF", "precompiled");
    HANDLE held =
        CreateFileA(Path("oem9112.inf").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::vector<std::string> order = ListFiles(InfDir(), "oem*.inf");

    EXPECT_EQ(0, stager_.RemoveStaleOemInfs());
    CloseHandle(held);

    EXPECT_TRUE(FileExists(Path("oem9112.PNF"))) << "the companion goes only with its INF";
    bool seenHeld = false;
    for (const std::string& name : order) {
        if (name.compare(0, 5, "oem91") != 0) continue;
        if (name == "oem9112.inf") seenHeld = true;
        EXPECT_EQ(seenHeld, FileExists(Path(name)))
            << name << (seenHeld ? " must stay" : " must go");
    }
}

TEST_F(OemInfScan, FailsWithoutTheInfFolder)
{
    Put("oem9121.inf", kPhone);
    {
        FAIL_CALL(kernel32.dll, GetWindowsDirectoryA, 0u, ERROR_ACCESS_DENIED);
        EXPECT_EQ(0, stager_.RemoveStaleOemInfs());
    }
    EXPECT_TRUE(FileExists(Path("oem9121.inf")));
}

std::vector<std::string> searched;

HANDLE WINAPI FindNothing(LPCSTR pattern, LPWIN32_FIND_DATAA)
{
    searched.push_back(pattern);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

TEST_F(OemInfScan, NothingMatchingThePatternGivesZero)
{
    searched.clear();
    {
        ImportPatch patch("kernel32.dll", "FindFirstFileA", reinterpret_cast<void*>(&FindNothing));
        ASSERT_TRUE(patch.Applied());
        EXPECT_EQ(0, stager_.RemoveStaleOemInfs());
    }
    ASSERT_EQ(1u, searched.size());
    EXPECT_EQ(WindowsDir() + "\\INF\\oem*.inf", searched[0]);
}

}  // namespace
