#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "removal/removal.h"
#include "removal_fixtures.h"
#include "shell/osclass.h"
#include "support/registry.h"

namespace {

using Paths = std::vector<std::string>;

TEST(MakeInfFilePath, JoinsWholeOrNotAtAll)
{
    char out[PATH_BUFFER];
    EXPECT_EQ(1, MakeInfFilePath(out, "C:\\WINDOWS\\INF\\", "oem7", "PNF"));
    EXPECT_STREQ("C:\\WINDOWS\\INF\\oem7.PNF", out);
    const std::string fits(251, 'd');  // + "\oem7.inf": 260 characters
    EXPECT_EQ(1, MakeInfFilePath(out, fits.c_str(), "oem7", "inf"));
    EXPECT_EQ(fits + "\\oem7.inf", out);
    const std::pair<std::string, std::string> refused[] = {
        {fits + "d", "oem7"}, {"C:\\W", std::string(256, 's')}, {"C:\\W", ""}, {"", "oem7"}};
    for (const auto& parts : refused) {
        EXPECT_EQ(0, MakeInfFilePath(out, parts.first.c_str(), parts.second.c_str(), "inf")) << parts.first;
        EXPECT_STREQ("", out) << "never a cut name";
    }
}

// Instances of the phone's ids in ControlSet001 whose "Driver" leads to a
// ports class key.
class DriverKeyInfs : public testing::Test {
protected:
    static constexpr const char* kEnum = "SYSTEM\\ControlSet001\\Enum\\USB\\VID_1B3F&PID_5C13";
    static constexpr const char* kDriver = "{4D36E978-E325-11CE-BFC1-08002BE10318}\\0007";
    const std::string classKey_ = std::string("SYSTEM\\ControlSet001\\Control\\Class\\") + kDriver;

    // No driver: no "Driver" value. No InfPath: the driver key holds another value.
    void Instance(const std::string& function, const std::string& instance, const char* driver = "",
                  const std::string& infPath = "")
    {
        std::string key = kEnum + function + "\\" + instance;
        ASSERT_TRUE(*driver ? reg::SetString(key, "Driver", driver) : reg::CreateKey(key));
        ASSERT_TRUE(!*driver || reg::SetString(classKey_, infPath.empty() ? "Mfg" : "InfPath",
                                               infPath.empty() ? "TAVRO" : infPath));
    }

    RegistryScratch scratch_{{kEnum, std::string(kEnum) + "&Mi_01", std::string(kEnum) + "&Mi_03", classKey_}};
    SeededFiles files_;
    const std::string inf_ = WindowsDir() + "\\INF";
    const std::string lastGood_ = WindowsDir() + "\\LastGood\\INF";
};

TEST_F(DriverKeyInfs, OemSevenOfTheModemFunctionGoesWithItsPnfAndOnXpItsLastGoodCopies)
{
    files_.LastGoodFolders();
    Instance("&Mi_01", "7&1&0&0");  // no "Driver": the walk goes on
    Instance("&Mi_01", "7&1&0&1", kDriver, "oem7.inf");
    const Paths all = {inf_ + "\\oem7.inf", lastGood_ + "\\oem7.inf", inf_ + "\\oem7.PNF", lastGood_ + "\\oem7.PNF"};
    const Paths direct = {all[0], all[2]};
    const struct {
        OsClass osClass;
        Paths deleted;
    } cases[] = {{OsWin2000, direct}, {OsWinXP, all}, {OsWinServer2003, direct}, {OsWinLater, direct}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "OsClass " << c.osClass);
        for (const std::string& dir : {inf_, lastGood_}) {
            for (const char* name : {"\\oem7.inf", "\\oem7.PNF", "\\oem70.inf", "\\oem1.inf"}) files_.File(dir + name);
        }
        BoxRecorder boxes;
        DeleteFileRecorder deletions;

        EXPECT_EQ(1, DriverRemover(c.osClass).RemoveDriverKeyInfs());

        EXPECT_EQ(c.deleted, deletions.paths);
        for (const std::string& path : c.deleted) EXPECT_FALSE(FileExists(path)) << path;
        ExpectShown(boxes);
    }
}

TEST_F(DriverKeyInfs, IdsThatNameNoPlainInfDeleteNothing)
{
    files_.Folder(inf_ + "\\sub");
    for (const char* name : {"\\oem9inf", "\\oem9inf.inf", "\\sub\\oem7.inf"}) files_.File(inf_ + name);
    for (const std::string which : {"no key", "no Driver", "no InfPath", "InfPath without a dot", "InfPath in a folder"}) {
        SCOPED_TRACE(which);
        reg::DeleteTree(std::string(kEnum) + "&Mi_03");
        reg::DeleteTree(classKey_);
        if (which == "no Driver") Instance("&Mi_03", "7&1&0&3");
        if (which == "no InfPath") Instance("&Mi_03", "7&1&0&3", kDriver);
        if (which == "InfPath without a dot") Instance("&Mi_03", "7&1&0&3", kDriver, "oem9inf");
        if (which == "InfPath in a folder") Instance("&Mi_03", "7&1&0&3", kDriver, "sub\\oem7.inf");
        BoxRecorder boxes;
        DeleteFileRecorder deletions;

        EXPECT_EQ(1, DriverRemover(OsWinXP).RemoveDriverKeyInfs());

        EXPECT_EQ(Paths{}, deletions.paths);
        ExpectShown(boxes);
    }
}

TEST(RunPnputilDelete, RefusesUnsafeNamesAndStartsTheSystemsCopyByFullPathAndWaits)
{
    // The build's stand-in beside the test program logs each start as
    // "<command line>\t<path it ran from>". A copy goes into the system
    // folder; the one beside the program, which a bare name would find
    // first, must never run.
    char self[MAX_PATH];
    std::string source(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    source = source.substr(0, source.rfind('\\')) + "\\pnputil.exe";
    const std::string tool = WindowsDir() + "\\system32\\pnputil.exe", log = "C:\\pnputil.log";
    SeededFiles files;
    files.Track(tool);
    files.Track(log);
    DeleteFileA(log.c_str());
    ASSERT_TRUE(CopyFileA(source.c_str(), tool.c_str(), FALSE));
    BoxRecorder boxes;
    const std::string longest = std::string(238, 'b') + ".inf";  // the command line's 260 characters
    for (const std::string name : {"", "a b.inf", "x&calc.inf", "..\\evil.inf", "oem1.inf\" /x", "c:oem1.inf"})
        EXPECT_EQ(0, RunPnputilDelete(name.c_str())) << name;
    EXPECT_EQ(0, RunPnputilDelete((longest + "x").c_str()));
    SetEnvironmentVariableA("PNPUTIL_DELAY_MS", "700");
    DWORD start = GetTickCount();

    EXPECT_EQ(1, RunPnputilDelete(longest.c_str()));
    EXPECT_EQ(1, RunPnputilDelete("Oem_3-x.INF"));

    DWORD elapsed = GetTickCount() - start;
    SetEnvironmentVariableA("PNPUTIL_DELAY_MS", nullptr);
    EXPECT_GE(elapsed, 1300u) << "each start waited for";
    EXPECT_EQ("pnputil.exe -f -d " + longest + "\t" + tool + "\r\npnputil.exe -f -d Oem_3-x.INF\t" + tool + "\r\n",
              ReadFileText(log));
    ExpectShown(boxes);
}

// Scripted answers of SetupGetInfFileListA: {error (0: success), required
// size}; a fetch that succeeds fills `required` bytes of 'z', unterminated.
// The sizes offered are recorded (0: the size question).
std::vector<std::pair<DWORD, DWORD>> infListAnswers;
std::vector<DWORD> infListSizes;

BOOL WINAPI FakeInfList(PCSTR folder, DWORD style, PSTR buffer, DWORD size, DWORD* required)
{
    EXPECT_STREQ((WindowsDir() + "\\INF").c_str(), folder);
    EXPECT_EQ(static_cast<DWORD>(INF_STYLE_WIN4), style);
    infListSizes.push_back(buffer ? size : 0);
    const auto& answer = infListAnswers.at(infListSizes.size() - 1);
    *required = answer.second;
    if (buffer && !answer.first && answer.second <= size) memset(buffer, 'z', answer.second);
    SetLastError(answer.first);
    return answer.first == 0;
}

TEST(RemoveInfsWithPnputil, ReadsTheInfFoldersListWithFallbackSizeAndOneRetry)
{
    const DWORD small = ERROR_INSUFFICIENT_BUFFER, denied = ERROR_ACCESS_DENIED;
    const struct {
        const char* name;
        std::vector<std::pair<DWORD, DWORD>> answers;
        std::vector<DWORD> sizes;
        DWORD shown;  // also: 0 returned
    } cases[] = {
        {"size unknown (Wine)", {{0, 0}, {0, 23}}, {0, 65536}, 0},
        {"size of one byte", {{0, 1}, {0, 23}}, {0, 65536}, 0},
        {"size answered", {{0, 23}, {0, 23}}, {0, 23}, 0},
        {"size as too small a buffer", {{small, 23}, {0, 23}}, {0, 23}, 0},
        {"folder grew in between", {{0, 300}, {small, 500}, {0, 500}}, {0, 300, 500}, 0},
        {"grew twice", {{0, 300}, {small, 500}, {small, 700}}, {0, 300, 500}, small},
        {"size question refused", {{denied, 0}}, {0}, denied},
        {"fetch refused", {{0, 23}, {denied, 0}}, {0, 23}, denied},
    };
    ImportPatch patch("setupapi.dll", "SetupGetInfFileListA", reinterpret_cast<void*>(&FakeInfList));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        infListAnswers = c.answers;
        infListSizes.clear();
        BoxRecorder boxes;

        EXPECT_EQ(c.shown ? 0 : 1, RemoveInfsWithPnputil(OsWinVista));

        EXPECT_EQ(c.sizes, infListSizes);
        ExpectShown(boxes, c.shown);
    }
}

}  // namespace
