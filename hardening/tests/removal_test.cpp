#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "removal/removal.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

const std::string kSincere = "\xD5\x5C";

TEST(RunPnputilDelete, PlainNamesOnlyByTheToolsFullPath)
{
    const struct {
        std::string name;
        bool started;
    } cases[] = {
        {"oem12.inf", true},
        {"OEM_1-2.INF", true},
        {std::string(242, 'n'), true},   // "pnputil.exe -f -d " and 242: 260 characters
        {std::string(243, 'n'), false},
        {"", false},
        {"oem 1.inf", false},
        {"oem1.inf & calc.exe", false},
        {"\"oem1.inf\"", false},
        {"..\\oem1.inf", false},
        {"C:oem1.inf", false},
        {"oem1.inf%PATH%", false},
        {kSincere + ".inf", false},
    };
    for (const auto& c : cases) {
        StandinClearProcesses();
        StandinClearBoxes();
        ExactBuffer name(c.name.size() + 1, c.name);
        EXPECT_EQ(c.started ? 1 : 0, RunPnputilDelete(name.Get())) << Show(c.name);
        ASSERT_EQ(c.started ? 1u : 0u, StandinProcesses().size()) << Show(c.name);
        if (c.started) {
            const StandinProcess& p = StandinProcesses()[0];
            EXPECT_EQ("C:\\WINDOWS\\system32\\pnputil.exe", p.application);
            EXPECT_EQ("pnputil.exe -f -d " + c.name, p.commandLine);
            EXPECT_EQ(static_cast<DWORD>(CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS), p.flags);
            EXPECT_FALSE(p.inheritHandles);
        }
        EXPECT_EQ(0, StandinOpenKernelHandles()) << Show(c.name);
        EXPECT_TRUE(StandinBoxes().empty());
    }
}

TEST(RunPnputilDelete, FailedStartIsShownOnceAndLongSystemFoldersStartNothing)
{
    StandinFailProcessStart(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(1, RunPnputilDelete("oem3.inf"));
    ASSERT_EQ(1u, StandinBoxes().size());
    EXPECT_EQ("System message 2.\r\n", StandinBoxes()[0].text);
    EXPECT_EQ(0, StandinOpenKernelHandles());
    StandinFailProcessStart(0);
    StandinClearBoxes();

    // C:\ and 237 characters, then \system32\pnputil.exe: 261.
    StandinSetWindowsDirectory("C:\\" + std::string(237, 'w'));
    EXPECT_EQ(0, RunPnputilDelete("oem3.inf"));
    EXPECT_TRUE(StandinProcesses().empty());
    StandinSetWindowsDirectory("C:\\" + std::string(236, 'w'));
    EXPECT_EQ(1, RunPnputilDelete("oem3.inf"));
    EXPECT_EQ(1u, StandinProcesses().size());
}

std::string PhoneInf()
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Tavro_wmc]\r\n%D%=Install,USB\\VID_1B3F&PID_5C13&Mi_05\r\n"
           "[Strings]\r\nD=\"Modem\"\r\n";
}

TEST(RemoveInfsWithPnputil, HandsOverThePhonesPlainNamedPackagesInListOrder)
{
    const std::string inf = "C:\\WINDOWS\\INF\\";
    StandinAddFile(inf + "oem2.inf", PhoneInf());
    StandinAddFile(inf + "oem10.inf", PhoneInf());
    StandinAddFile(inf + "oem3.inf", "[Tavro_wmc]\r\nx=y,USB\\VID_2222\r\n");
    StandinAddFile(inf + "oem 4.inf", PhoneInf());  // would need quoting: never on a command line
    StandinAddFile(inf + "machine.inf", "[Version]\r\n");
    EXPECT_EQ(1, RemoveInfsWithPnputil(14));
    std::vector<std::string> lines;
    for (const StandinProcess& p : StandinProcesses()) lines.push_back(p.commandLine);
    EXPECT_EQ((std::vector<std::string>{"pnputil.exe -f -d oem10.inf", "pnputil.exe -f -d oem2.inf"}), lines);
    EXPECT_EQ(0, StandinOpenKernelHandles());
    EXPECT_EQ(0, StandinOpenInfs());
}

TEST(MakeInfFilePath, PartsWholeOrNothing)
{
    const struct {
        std::string directory, stem, extension;
        int result;
        std::string path;
    } cases[] = {
        {"C:\\WINDOWS\\INF", "oem7", "inf", 1, "C:\\WINDOWS\\INF\\oem7.inf"},
        {"C:\\WINDOWS\\INF\\", "oem7", "PNF", 1, "C:\\WINDOWS\\INF\\oem7.PNF"},
        // A folder ending in a character with a 0x5C trail byte still gets
        // its separator.
        {"C:\\" + kSincere, "oem7", "inf", 1, "C:\\" + kSincere + "\\oem7.inf"},
        {"", "oem7", "inf", 0, ""},
        {"C:\\INF", "", "inf", 0, ""},
        {"C:\\INF", "oem7", "", 0, ""},
        {"C:\\" + std::string(248, 'd'), "oem7", "inf", 1, "C:\\" + std::string(248, 'd') + "\\oem7.inf"},  // 260
        {"C:\\" + std::string(249, 'd'), "oem7", "inf", 0, ""},
    };
    for (const auto& c : cases) {
        ExactBuffer out(261, "junk");
        EXPECT_EQ(c.result, MakeInfFilePath(out.Get(), c.directory.c_str(), c.stem.c_str(), c.extension.c_str()))
            << Show(c.directory);
        EXPECT_EQ(c.path, out.Text()) << Show(c.directory);
    }
}

// A driver key of the Mi_01 function naming the INF by its InfPath.
void SeedDriverKey(const std::string& infPath)
{
    StandinRegClear();
    StandinRegSetValue("SYSTEM\\ControlSet001\\Enum\\USB\\VID_1B3F&PID_5C13&Mi_01\\7&1", "Driver", REG_SZ,
                       std::string("{4D36E978-E325-11CE-BFC1-08002BE10318}\\0003") + '\0');
    StandinRegSetValue("SYSTEM\\ControlSet001\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}\\0003",
                       "InfPath", REG_SZ, infPath + '\0');
}

TEST(RemoveDriverKeyInfs, DeletesTheNamedCopyInBothFoldersOnXpAndNothingElse)
{
    const std::vector<std::string> mine = {"C:\\WINDOWS\\INF\\oem7.inf", "C:\\WINDOWS\\INF\\oem7.PNF",
                                           "C:\\WINDOWS\\LastGood\\INF\\oem7.inf", "C:\\WINDOWS\\LastGood\\INF\\oem7.PNF"};
    const std::vector<std::string> others = {"C:\\WINDOWS\\INF\\oem70.inf", "C:\\WINDOWS\\INF\\oem.inf",
                                             "C:\\WINDOWS\\INF\\oem7.inf.bak", "C:\\WINDOWS\\evil.inf",
                                             "C:\\WINDOWS\\INF\\oem7"};
    const struct {
        std::string infPath;
        OsClass osClass;
        size_t deleted;  // of mine
    } cases[] = {
        {"oem7.inf", 12, 4}, {"oem7.inf", 11, 2}, {"oem7.inf", 13, 2}, {"OEM7.INF", 12, 4},
        {"..\\evil.inf", 12, 0}, {"oem7", 12, 0}, {".inf", 12, 0}, {"C:oem7.inf", 12, 0},
    };
    for (const auto& c : cases) {
        SeedDriverKey(c.infPath);
        StandinClearFiles();
        for (const std::string& f : mine) StandinAddFile(f, "x");
        for (const std::string& f : others) StandinAddFile(f, "x");
        DriverRemover remover(c.osClass);
        EXPECT_EQ(1, remover.RemoveDriverKeyInfs()) << c.infPath;
        size_t gone = 0;
        for (const std::string& f : mine) gone += StandinFileExists(f) ? 0 : 1;
        EXPECT_EQ(c.deleted, gone) << c.infPath << " on " << c.osClass;
        for (const std::string& f : others) EXPECT_TRUE(StandinFileExists(f)) << f << " for " << c.infPath;
        EXPECT_EQ(0, StandinOpenKeys());
        EXPECT_EQ(0, StandinOpenSearches());
        EXPECT_TRUE(StandinBoxes().empty());
    }
}

}  // namespace
