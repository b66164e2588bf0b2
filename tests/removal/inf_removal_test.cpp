#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "removal/removal.h"
#include "removal_fixtures.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/files.h"
#include "support/import_patch.h"
#include "support/registry.h"

namespace {

TEST(MakeInfFilePath, JoinsOrRefusesWhole)
{
    char out[PATH_BUFFER];
    EXPECT_EQ(1, MakeInfFilePath(out, "C:\\WINDOWS\\INF", "oem7", "inf"));
    EXPECT_STREQ("C:\\WINDOWS\\INF\\oem7.inf", out);
    EXPECT_EQ(1, MakeInfFilePath(out, "C:\\WINDOWS\\INF\\", "oem7", "PNF"));
    EXPECT_STREQ("C:\\WINDOWS\\INF\\oem7.PNF", out) << "no second backslash";

    // 251 + "\" + "oem7" + "." + "inf" = 260 characters: fits exactly.
    std::string dir(251, 'd');
    EXPECT_EQ(1, MakeInfFilePath(out, dir.c_str(), "oem7", "inf"));
    EXPECT_EQ(260u, strlen(out));
    // One more and the extension would be cut into another name.
    std::string longer(252, 'd');
    EXPECT_EQ(0, MakeInfFilePath(out, longer.c_str(), "oem7", "inf"));
    EXPECT_STREQ("", out);
    std::string stem(256, 's');
    EXPECT_EQ(0, MakeInfFilePath(out, "C:\\W", stem.c_str(), "inf"));
    EXPECT_STREQ("", out);

    EXPECT_EQ(0, MakeInfFilePath(out, "C:\\W", "", "inf"));
    EXPECT_EQ(0, MakeInfFilePath(out, "", "oem7", "inf")) << "never a path relative to the current folder";
}

// Driver keys of ControlSet001 that name the phone's INF copies, and the
// copies themselves in the INF folder and its last-known-good twin.
class DriverKeyInfs : public testing::Test {
protected:
    static constexpr const char* kEnum = "SYSTEM\\ControlSet001\\Enum\\USB\\";
    static constexpr const char* kModemClass =
        "SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
    static constexpr const char* kPortsClass =
        "SYSTEM\\ControlSet001\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}";

    void SetUp() override
    {
        infDir_ = WindowsDir() + "\\INF";
        lastGoodInfDir_ = WindowsDir() + "\\LastGood\\INF";
        lastGoodCreated_ = !FileExists(WindowsDir() + "\\LastGood");
        CreateDirectoryA((WindowsDir() + "\\LastGood").c_str(), nullptr);
        CreateDirectoryA(lastGoodInfDir_.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const std::string& file : files_) RemoveTree(file);
        if (lastGoodCreated_) RemoveTree(WindowsDir() + "\\LastGood");
    }

    void Seed(const std::string& path)
    {
        files_.push_back(path);
        ASSERT_TRUE(WriteFileText(path, "; " + path));
    }

    // An instance of the id whose "Driver" names the class key's subkey.
    static void Instance(const std::string& id, const std::string& instance, const std::string& driver)
    {
        std::string key = std::string(kEnum) + id + "\\" + instance;
        ASSERT_TRUE(reg::CreateKey(key));
        if (!driver.empty()) {
            ASSERT_TRUE(reg::SetString(key, "Driver", driver));
        }
    }

    RegistryScratch scratch_{{std::string(kEnum) + "VID_1B3F&PID_5C13", std::string(kEnum) + "VID_1B3F&PID_5C13&Mi_01",
                              std::string(kEnum) + "VID_1B3F&PID_5C13&Mi_03", std::string(kEnum) + "VID_1B3F&PID_5C13&Mi_05",
                              std::string(kModemClass) + "\\0003", std::string(kPortsClass) + "\\0005",
                              std::string(kPortsClass) + "\\0006", std::string(kPortsClass) + "\\0007"}};
    std::string infDir_;
    std::string lastGoodInfDir_;
    bool lastGoodCreated_ = false;
    std::vector<std::string> files_;
};

TEST_F(DriverKeyInfs, OemSevenOfTheModemFunction)
{
    struct Case {
        OsClass osClass;
        bool inf;
        bool lastGood;
    };
    const Case cases[] = {{OsNtOther, false, false},      {OsWin2000, true, false}, {OsWinXP, true, true},
                          {OsWinServer2003, true, false}, {OsWinLater, true, false}};
    // The first instance has no "Driver"; the second leads to oem7.inf.
    Instance("VID_1B3F&PID_5C13&Mi_01", "7&1&0&0", "");
    Instance("VID_1B3F&PID_5C13&Mi_01", "7&1&0&1", "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0003");
    ASSERT_TRUE(reg::SetString(std::string(kModemClass) + "\\0003", "InfPath", "oem7.inf"));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "OsClass " << c.osClass);
        for (const std::string& dir : {infDir_, lastGoodInfDir_}) {
            Seed(dir + "\\oem7.inf");
            Seed(dir + "\\oem7.PNF");
            Seed(dir + "\\oem70.inf");
            Seed(dir + "\\oem1.inf");
        }
        std::vector<std::string> expected;
        for (const char* extension : {"inf", "PNF"}) {
            if (c.inf) expected.push_back(infDir_ + "\\oem7." + extension);
            if (c.lastGood) expected.push_back(lastGoodInfDir_ + "\\oem7." + extension);
        }
        BoxRecorder boxes;
        DriverRemover remover(c.osClass);
        DeleteFileRecorder deletions;

        EXPECT_EQ(1, remover.RemoveDriverKeyInfs());

        EXPECT_EQ(expected, deletions.paths);
        EXPECT_EQ(!c.inf, FileExists(infDir_ + "\\oem7.inf"));
        EXPECT_EQ(!c.inf, FileExists(infDir_ + "\\oem7.PNF"));
        EXPECT_EQ(!c.lastGood, FileExists(lastGoodInfDir_ + "\\oem7.inf"));
        EXPECT_EQ(!c.lastGood, FileExists(lastGoodInfDir_ + "\\oem7.PNF"));
        EXPECT_TRUE(FileExists(infDir_ + "\\oem70.inf"));
        EXPECT_TRUE(FileExists(infDir_ + "\\oem1.inf"));
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    }
}

TEST_F(DriverKeyInfs, IdsThatNameNoUsableInfDeleteNothing)
{
    // Composite: InfPath without a dot. Mi_01: no key at all. Mi_03: driver
    // key without InfPath. Mi_05: a key without instances.
    Instance("VID_1B3F&PID_5C13", "7&1&0&0", "{4D36E978-E325-11CE-BFC1-08002BE10318}\\0005");
    ASSERT_TRUE(reg::SetString(std::string(kPortsClass) + "\\0005", "InfPath", "oem9inf"));
    Instance("VID_1B3F&PID_5C13&Mi_03", "7&1&0&3", "{4D36E978-E325-11CE-BFC1-08002BE10318}\\0006");
    ASSERT_TRUE(reg::SetString(std::string(kPortsClass) + "\\0006", "ProviderName", "TAVRO"));
    ASSERT_TRUE(reg::CreateKey(std::string(kEnum) + "VID_1B3F&PID_5C13&Mi_05"));
    Seed(infDir_ + "\\oem9inf");
    Seed(infDir_ + "\\oem9inf.inf");
    BoxRecorder boxes;
    DriverRemover remover(OsWinXP);
    DeleteFileRecorder deletions;

    EXPECT_EQ(1, remover.RemoveDriverKeyInfs());

    EXPECT_TRUE(deletions.paths.empty()) << deletions.paths.front();
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST_F(DriverKeyInfs, StemsThatWouldNotFitOrNameAnotherFolderAreSkipped)
{
    Instance("VID_1B3F&PID_5C13&Mi_03", "7&1&0&3", "{4D36E978-E325-11CE-BFC1-08002BE10318}\\0006");
    ASSERT_TRUE(reg::SetString(std::string(kPortsClass) + "\\0006", "InfPath", std::string(250, 'a') + ".inf"));
    Instance("VID_1B3F&PID_5C13&Mi_05", "7&1&0&5", "{4D36E978-E325-11CE-BFC1-08002BE10318}\\0007");
    ASSERT_TRUE(reg::SetString(std::string(kPortsClass) + "\\0007", "InfPath", "sub\\oem7.inf"));
    CreateDirectoryA((infDir_ + "\\sub").c_str(), nullptr);
    Seed(infDir_ + "\\sub\\oem7.inf");
    files_.push_back(infDir_ + "\\sub");
    BoxRecorder boxes;
    DriverRemover remover(OsWinServer2003);
    DeleteFileRecorder deletions;

    EXPECT_EQ(1, remover.RemoveDriverKeyInfs());

    EXPECT_TRUE(deletions.paths.empty()) << deletions.paths.front();
    EXPECT_TRUE(FileExists(infDir_ + "\\sub\\oem7.inf"));
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

// INF files in the INF folder for the NT 6 road, with the stand-in tool.
class PnputilRoad : public testing::Test {
protected:
    void SetUp() override { infDir_ = WindowsDir() + "\\inf"; }
    void TearDown() override
    {
        for (const std::string& file : files_) RemoveTree(file);
        SetCurrentDirectoryA(savedDir_.c_str());
    }
    void Inf(const std::string& name, const std::string& text)
    {
        files_.push_back(infDir_ + "\\" + name);
        ASSERT_TRUE(WriteFileText(infDir_ + "\\" + name, text));
    }
    std::string infDir_;
    std::vector<std::string> files_;
    std::string savedDir_ = [] {
        char dir[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, dir);
        return std::string(dir);
    }();
};

bool SameFile(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

TEST_F(PnputilRoad, HandsExactlyThePhonesInfsToTheSystemsTool)
{
    Inf("tvq_phone.inf", PhoneInfText("%Modem%=Modem_Install, USB\\VID_1B3F&PID_5C13&MI_01"));
    Inf("tvq_lower.inf", PhoneInfText("%Port%=Port_Install, usb\\vid_1b3f&pid_5c13&mi_03"));
    Inf("tvq_field1.inf", PhoneInfText("%Port%=VID_1B3F&PID_5C13_Install, USB\\VID_1B3F&PID_5C14"));
    Inf("tvq_second.inf", PhoneInfText("%Port%=Port_Install, USB\\VID_1B3F&PID_5C14",
                                       "%Modem%=Modem_Install, USB\\VID_1B3F&PID_5C13&MI_01"));
    Inf("tvq bad&name.inf", PhoneInfText("%Modem%=Modem_Install, USB\\VID_1B3F&PID_5C13&MI_01"));
    // Copies of the tool in the current folder and beside the test program
    // (the build puts one there) must never be the one that runs.
    ScratchDir current("q9cwd");
    std::string planted = TestProgramDir() + "\\pnputil.exe";
    ASSERT_TRUE(FileExists(planted));
    ASSERT_TRUE(CopyFileA(planted.c_str(), (current / "pnputil.exe").c_str(), FALSE));
    SetCurrentDirectoryA(current.Path().c_str());
    PnputilStandIn tool;
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveInfsWithPnputil(OsWinVista));

    std::vector<PnputilStandIn::Start> starts = tool.Starts();
    std::vector<std::string> lines = tool.CommandLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ((std::vector<std::string>{"pnputil.exe -f -d tvq_lower.inf", "pnputil.exe -f -d tvq_phone.inf"}), lines);
    for (const PnputilStandIn::Start& start : starts)
        EXPECT_TRUE(SameFile(tool.InstalledPath(), start.image)) << start.image;
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    EXPECT_TRUE(FileExists(infDir_ + "\\tvq_field1.inf"));
    EXPECT_TRUE(FileExists(infDir_ + "\\tvq_second.inf"));

    // The tool dropped both packages: a second walk has nothing to hand over.
    EXPECT_EQ(1, RemoveInfsWithPnputil(OsWinVista));
    EXPECT_EQ(2u, tool.Starts().size());
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST(RunPnputilDelete, WaitsForTheToolAndPassesTheBareName)
{
    PnputilStandIn tool;
    ScopedEnvironment delay("PNPUTIL_DELAY_MS", "700");
    BoxRecorder boxes;
    DWORD start = GetTickCount();

    EXPECT_EQ(1, RunPnputilDelete("oem12.inf"));

    EXPECT_GE(GetTickCount() - start, 600u);
    EXPECT_EQ(std::vector<std::string>{"pnputil.exe -f -d oem12.inf"}, tool.CommandLines())
        << "the tool had finished when the call returned";
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST(RunPnputilDelete, RefusesNamesThatAreNotPlainOrDoNotFit)
{
    PnputilStandIn tool;
    BoxRecorder boxes;
    const std::string refused[] = {"", "a b.inf", "x&calc.inf", "..\\evil.inf", "oem1.inf\" /x", "c:oem1.inf",
                                   std::string(243, 'a')};
    for (const std::string& name : refused) EXPECT_EQ(0, RunPnputilDelete(name.c_str())) << name;
    EXPECT_TRUE(tool.Starts().empty());

    // The longest name that fits the 260 characters of the command line.
    std::string longest = std::string(238, 'b') + ".inf";
    EXPECT_EQ(1, RunPnputilDelete(longest.c_str()));
    EXPECT_EQ(std::vector<std::string>{"pnputil.exe -f -d " + longest}, tool.CommandLines());
    EXPECT_EQ(1, RunPnputilDelete("Oem_3-x.INF"));
    EXPECT_EQ(2u, tool.Starts().size());
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST(RunPnputilDelete, MissingToolIsShownOnce)
{
    PnputilStandIn absent(false);
    BoxRecorder boxes;
    EXPECT_EQ(1, RunPnputilDelete("oem12.inf"));
    ExpectOneSystemError(boxes, ERROR_FILE_NOT_FOUND);
}

// Replaces SetupGetInfFileListA with scripted answers.
class FakeInfList {
public:
    struct Answer {
        BOOL result;
        DWORD error;
        DWORD required;
        std::string list;  // written when it fits the buffer
    };
    explicit FakeInfList(std::vector<Answer> answers) : answers_(std::move(answers)) { self = this; }
    ~FakeInfList() { self = nullptr; }

    std::vector<DWORD> sizes;
    std::vector<std::string> directories;
    std::vector<DWORD> styles;

private:
    static BOOL WINAPI Replacement(PCSTR directory, DWORD style, PSTR buffer, DWORD size, DWORD* required)
    {
        self->sizes.push_back(buffer ? size : 0);
        self->directories.push_back(directory ? directory : "(none)");
        self->styles.push_back(style);
        if (self->next_ >= self->answers_.size()) {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        const Answer& answer = self->answers_[self->next_++];
        if (required) *required = answer.required;
        if (buffer && answer.list.size() <= size) memcpy(buffer, answer.list.data(), answer.list.size());
        SetLastError(answer.error);
        return answer.result;
    }
    static inline FakeInfList* self = nullptr;
    std::vector<Answer> answers_;
    size_t next_ = 0;
    ImportPatch patch_{"setupapi.dll", "SetupGetInfFileListA", reinterpret_cast<void*>(&Replacement)};
};

TEST(RemoveInfsWithPnputil, ReadsTheListOfTheNamedInfFolder)
{
    struct Case {
        const char* name;
        std::vector<FakeInfList::Answer> answers;
        int expected;
        std::vector<DWORD> sizes;
        DWORD shownError;  // 0: no box
    };
    const std::string list = std::string("none_a.inf") + '\0' + "none_b.inf" + '\0' + '\0';
    const std::string unterminated(300, 'z');
    const std::vector<Case> cases = {
        {"size unknown (Wine)", {{TRUE, 0, 0, ""}, {TRUE, 0, 23, list}}, 1, {0, 65536}, 0},
        {"size of one byte", {{TRUE, 0, 1, ""}, {TRUE, 0, 23, list}}, 1, {0, 65536}, 0},
        {"size answered", {{TRUE, 0, 23, ""}, {TRUE, 0, 23, list}}, 1, {0, 23}, 0},
        {"size as insufficient buffer", {{FALSE, ERROR_INSUFFICIENT_BUFFER, 23, ""}, {TRUE, 0, 23, list}}, 1, {0, 23}, 0},
        {"folder grew in between", {{TRUE, 0, 300, ""}, {FALSE, ERROR_INSUFFICIENT_BUFFER, 500, ""}, {TRUE, 0, 23, list}},
         1, {0, 300, 500}, 0},
        {"grew twice", {{TRUE, 0, 300, ""}, {FALSE, ERROR_INSUFFICIENT_BUFFER, 500, ""},
                        {FALSE, ERROR_INSUFFICIENT_BUFFER, 700, ""}}, 0, {0, 300, 500}, ERROR_INSUFFICIENT_BUFFER},
        {"size question refused", {{FALSE, ERROR_ACCESS_DENIED, 0, ""}}, 0, {0}, ERROR_ACCESS_DENIED},
        {"fetch refused", {{TRUE, 0, 23, ""}, {FALSE, ERROR_ACCESS_DENIED, 0, ""}}, 0, {0, 23}, ERROR_ACCESS_DENIED},
        {"list fills the buffer unterminated", {{TRUE, 0, 300, ""}, {TRUE, 0, 300, unterminated}}, 1, {0, 300}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PnputilStandIn tool;
        BoxRecorder boxes;
        FakeInfList fake(c.answers);

        EXPECT_EQ(c.expected, RemoveInfsWithPnputil(OsWinVista));

        EXPECT_EQ(c.sizes, fake.sizes);
        for (const std::string& directory : fake.directories) EXPECT_TRUE(SameFile(WindowsDir() + "\\INF", directory)) << directory;
        for (DWORD style : fake.styles) EXPECT_EQ(static_cast<DWORD>(INF_STYLE_WIN4), style);
        if (c.shownError) {
            ExpectOneSystemError(boxes, c.shownError);
        } else {
            EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
        }
        EXPECT_TRUE(tool.Starts().empty());
    }
}

}  // namespace
