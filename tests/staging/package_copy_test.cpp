#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/app.h"
#include "staging/inf_stager.h"
#include "staging/staging_support.h"
#include "support/box_recorder.h"
#include "support/fault.h"
#include "support/files.h"
#include "support/import_patch.h"
#include "support/text_util.h"

namespace {

void SetProgramDir(const std::string& dir)
{
    ASSERT_LT(dir.size(), sizeof(App().programDir));
    lstrcpyA(App().programDir, dir.c_str());
}

// The sources SetupCopyOEMInfA was asked to copy; every copy "succeeds".
std::vector<std::string> copied;

BOOL WINAPI RecordCopy(PCSTR source, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*)
{
    copied.push_back(source ? source : "(null)");
    return TRUE;
}

class RecordedCopies {
public:
    RecordedCopies()
        : patch_("setupapi.dll", "SetupCopyOEMInfA", reinterpret_cast<void*>(&RecordCopy))
    {
        copied.clear();
        EXPECT_TRUE(patch_.Applied());
    }

private:
    ImportPatch patch_;
};

// A program folder whose Drivers folder beside it has the given length.
std::string ProgramDirForSource(int sourceLength)
{
    std::string parent = "C:\\" + std::string(sourceLength - 8 - 3, 'p');  // + "\Drivers"
    return parent + "\\Setup\\";
}

TEST(GetPackageSourceDir, IsTheDriversFolderBesideTheProgramsFolder)
{
    struct Case {
        const char* programDir;
        const char* expected;
    } const cases[] = {
        {"X:\\", "X:\\Drivers"},
        {"X:\\Setup\\", "X:\\Drivers"},
        {"X:\\CD\\Setup\\", "X:\\CD\\Drivers"},
        {"C:\\Program Files\\TAVRO\\Setup\\", "C:\\Program Files\\TAVRO\\Drivers"},
        {"\\\\server\\share\\Setup\\", "\\\\server\\share\\Drivers"},
    };
    InfStager stager(12);
    for (const Case& c : cases) {
        SetProgramDir(c.programDir);
        char out[PATH_BUFFER] = "previous";
        EXPECT_EQ(1, stager.GetPackageSourceDir(out)) << c.programDir;
        EXPECT_STREQ(c.expected, out) << c.programDir;
    }
}

TEST(GetPackageSourceDir, FailsRatherThanGuess)
{
    InfStager stager(12);
    // Without the program's folder there is nothing to be beside.
    SetProgramDir("");
    char out[PATH_BUFFER] = "previous";
    EXPECT_EQ(0, stager.GetPackageSourceDir(out));
    EXPECT_STREQ("", out);

    for (int length : {259, 260, 261}) {
        SetProgramDir(ProgramDirForSource(length));
        char result[PATH_BUFFER] = "previous";
        int expected = length <= 260 ? 1 : 0;
        EXPECT_EQ(expected, stager.GetPackageSourceDir(result)) << length;
        EXPECT_EQ(expected ? static_cast<size_t>(length) : 0u, strlen(result)) << length;
    }
}

TEST(GetPackageSourceDir, FolderNameEndingInTrailByte5C)
{
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    // The folder's last character is 0x81 0x5C: its trail byte is no
    // backslash to cut at.
    SetProgramDir("C:\\Tools\\\x81\x5C\\");
    InfStager stager(12);
    char out[PATH_BUFFER];
    EXPECT_EQ(1, stager.GetPackageSourceDir(out));
    EXPECT_STREQ("C:\\Tools\\Drivers", out);
}

// Folders of 259 and 260 characters leave no room for a package name, one of
// 261 is no folder at all; nothing is asked of the system and nothing shown.
TEST(CopyPackagesToStore, FolderThatLeavesNoRoomCopiesNothing)
{
    for (int length : {259, 260, 261}) {
        SetProgramDir(ProgramDirForSource(length));
        RecordedCopies record;
        BoxRecorder boxes;
        EXPECT_EQ(0, InfStager(12).CopyPackagesToStore()) << length;
        EXPECT_TRUE(copied.empty()) << length << ": " << (copied.empty() ? "" : copied[0]);
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    }
}

// A package path of 259 characters (MAX_PATH with its terminator) is copied;
// at 260 the copying stops, and the name is never cut short.
TEST(CopyPackagesToStore, PackagePathsUpTo259Characters)
{
    struct Case {
        int folderLength;
        int result;
        size_t copies;
    } const cases[] = {
        {246, 1, 4},  // TVymdat2.inf, the longest name, at 259
        {247, 0, 2},  // TVymdat2.inf at 260
        {248, 0, 1},  // TVybus.inf at 259, TVyobx2.inf at 260
        {249, 0, 0},  // TVybus.inf at 260
    };
    for (const Case& c : cases) {
        SetProgramDir(ProgramDirForSource(c.folderLength));
        RecordedCopies record;
        BoxRecorder boxes;
        EXPECT_EQ(c.result, InfStager(12).CopyPackagesToStore()) << c.folderLength;
        ASSERT_EQ(c.copies, copied.size()) << c.folderLength;
        std::string folder = "C:\\" + std::string(c.folderLength - 11, 'p') + "\\Drivers\\";
        for (size_t i = 0; i < copied.size(); ++i) {
            EXPECT_EQ(folder + packageInfNames[i], copied[i]);
            EXPECT_LE(copied[i].size(), 259u);
        }
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    }
}

class PackageStore : public testing::Test {
protected:
    PackageStore()
    {
        RemovePackageCopies();
        SetProgramDir(DistDir() + "\\Setup\\");
    }
    ~PackageStore() override { RemovePackageCopies(); }

    static size_t Copies(const char* package) { return CopiesOf(package).size(); }
};

TEST_F(PackageStore, CopiesAllFourIntoTheInfFolder)
{
    BoxRecorder boxes;
    EXPECT_EQ(1, InfStager(12).CopyPackagesToStore());
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    for (const char* package : packageInfNames) {
        std::vector<std::string> copies = CopiesOf(package);
        ASSERT_EQ(1u, copies.size()) << package;
        std::string pnf = InfDir() + "\\" + copies[0].substr(0, copies[0].size() - 4) + ".pnf";
        EXPECT_TRUE(FileExists(pnf)) << pnf;
    }
}

TEST_F(PackageStore, FirstFailureStopsTheRestWithOneBox)
{
    FAIL_CALL_NAMED(copy, setupapi.dll, SetupCopyOEMInfA, FALSE, ERROR_ACCESS_DENIED, 1, 1);
    BoxRecorder boxes;
    EXPECT_EQ(0, InfStager(12).CopyPackagesToStore());
    EXPECT_EQ(2, copy.Calls());
    ASSERT_EQ(1u, boxes.Count()) << boxes.Describe();
    const RecordedBox& box = boxes.Boxes()[0];
    EXPECT_EQ(SystemMessage(ERROR_ACCESS_DENIED), box.text);
    EXPECT_EQ("Error", box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.style);
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ(1u, Copies("TVybus.inf")) << "copied before the failure, stays";
    for (const char* later : {"TVyobx2.inf", "TVymdat2.inf", "TVymdm2.inf"})
        EXPECT_EQ(0u, Copies(later)) << later;
}

TEST_F(PackageStore, MissingCatalogIsSilent)
{
    // Wine reports a missing catalog as error 2, so the code Windows gives
    // is made up here.
    FAIL_CALL_NAMED(copy, setupapi.dll, SetupCopyOEMInfA, FALSE, 0xE000022F);
    BoxRecorder boxes;
    EXPECT_EQ(0, InfStager(12).CopyPackagesToStore());
    EXPECT_EQ(1, copy.Calls());
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    for (const char* package : packageInfNames) EXPECT_EQ(0u, Copies(package)) << package;
}

TEST_F(PackageStore, MissingPackageIsReportedByTheSystem)
{
    ScratchDir media("q9media");
    ASSERT_TRUE(CreateDirectoryA((media / "Setup").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((media / "Drivers").c_str(), nullptr));
    for (const std::string& name : ListFiles(DriversDir(), "*")) {
        if (name == "TVymdat2.inf") continue;
        ASSERT_TRUE(CopyFileA((DriversDir() + "\\" + name).c_str(),
                              (media / "Drivers\\" + name).c_str(), FALSE));
    }
    SetProgramDir(media / "Setup\\");

    BoxRecorder boxes;
    EXPECT_EQ(0, InfStager(12).CopyPackagesToStore());
    ASSERT_EQ(1u, boxes.Count()) << boxes.Describe();
    EXPECT_EQ(SystemMessage(ERROR_FILE_NOT_FOUND), boxes.Boxes()[0].text)
        << AnsiToUtf8(boxes.Boxes()[0].text);
    EXPECT_EQ("Error", boxes.Boxes()[0].caption);
    EXPECT_EQ(1u, Copies("TVybus.inf"));
    EXPECT_EQ(1u, Copies("TVyobx2.inf"));
    EXPECT_EQ(0u, Copies("TVymdm2.inf"));
}

}  // namespace
