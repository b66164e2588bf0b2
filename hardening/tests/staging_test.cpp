#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/app.h"
#include "staging/inf_stager.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

const std::string kSincere = "\xD5\x5C";  // "誠": trail byte 0x5C

std::string PhoneInf()
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Tavro_wmc]\r\n%D%=Install,USB\\VID_1B3F&PID_5C13&Mi_01\r\n"
           "[Strings]\r\nD=\"Port\"\r\n";
}

TEST(GetPackageSourceDir, BesideTheProgramsFolder)
{
    const struct {
        std::string programDir;
        int result;
        std::string source;
    } cases[] = {
        {"C:\\Quellin\\Setup\\", 1, "C:\\Quellin\\Drivers"},
        {"C:\\", 1, "C:\\Drivers"},
        {"C:\\" + kSincere + "\\", 1, "C:\\Drivers"},                       // 0x5C trail is no separator
        {"C:\\a\\" + kSincere + kSincere + "\\", 1, "C:\\a\\Drivers"},
        {kSincere + "\\", 1, kSincere + "\\Drivers"},
        {"", 0, ""},
        {"C:\\" + std::string(249, 'p') + "\\Setup\\", 1, "C:\\" + std::string(249, 'p') + "\\Drivers"},
        {"C:\\" + std::string(250, 'p') + "\\Setup\\", 0, ""},  // 261 characters
    };
    for (const auto& c : cases) {
        lstrcpyA(App().programDir, c.programDir.c_str());
        ExactBuffer out(261, "junk");
        InfStager stager(12);
        EXPECT_EQ(c.result, stager.GetPackageSourceDir(out.Get())) << Show(c.programDir);
        EXPECT_EQ(c.source, out.Text()) << Show(c.programDir);
    }
}

TEST(WindowsPaths, FitOrFailAtTheBound)
{
    // "\LastGood\SYSTEM32\DRIVERS" has 26 characters: a Windows folder of 234
    // makes 260.
    for (int length : {233, 234, 235, 256, 259, 260}) {
        std::string windows = "C:\\" + std::string(length - 3, 'w');
        StandinSetWindowsDirectory(windows);
        InfStager stager(12);
        ExactBuffer out(261);
        int result = stager.GetLastGoodDriversDir(out.Get());
        std::string expected = windows + "\\LastGood\\SYSTEM32\\DRIVERS";
        if (expected.size() <= 260) {
            EXPECT_EQ(1, result) << length;
            EXPECT_EQ(expected, out.Text());
        } else {
            EXPECT_EQ(0, result) << length;
            EXPECT_EQ("", out.Text()) << length;
        }
        ExactBuffer inf(261);
        int infResult = stager.GetInfDir(inf.Get());
        EXPECT_EQ(windows.size() + 4 <= 260 ? 1 : 0, infResult) << length;
        EXPECT_LE(inf.Text().size(), 260u);
    }
}

TEST(RemoveStaleOemInfs, DeletesThePhonesCopiesOnly)
{
    const std::string inf = "C:\\WINDOWS\\INF\\";
    const std::string sincere = "oem" + kSincere + ".inf";  // a name with a 0x5C trail byte
    StandinAddFile(inf + "oem1.inf", PhoneInf());
    StandinAddFile(inf + "oem1.PNF", "compiled");
    StandinAddFile(inf + "oem2.inf", "[Tavro_wmc]\r\nx=y,USB\\VID_2222\r\n");
    StandinAddFile(inf + "oem2.PNF", "compiled");
    StandinAddFile(inf + sincere, PhoneInf());
    StandinAddFile(inf + "oem" + kSincere + ".PNF", "compiled");
    StandinAddFile(inf + "oem3.inf", PhoneInf());
    StandinSetFileReadOnly(inf + "oem3.inf");
    StandinAddFile(inf + "oem4.inf", "", true);  // a folder
    StandinAddFile(inf + "machine.inf", PhoneInf());
    StandinAddFile(inf + "oem5.inf.bak", PhoneInf());
    InfStager stager(12);
    EXPECT_EQ(1, stager.RemoveStaleOemInfs());
    for (const std::string& gone : {"oem1.inf", "oem1.PNF", "oem3.inf"})
        EXPECT_FALSE(StandinFileExists(inf + gone)) << gone;
    EXPECT_FALSE(StandinFileExists(inf + sincere));
    EXPECT_FALSE(StandinFileExists(inf + "oem" + kSincere + ".PNF"));
    for (const std::string& kept : {"oem2.inf", "oem2.PNF", "oem4.inf", "machine.inf", "oem5.inf.bak"})
        EXPECT_TRUE(StandinFileExists(inf + kept)) << kept;
    EXPECT_EQ(0, StandinOpenSearches());
    EXPECT_EQ(0, StandinOpenInfs());
    EXPECT_TRUE(StandinBoxes().empty());
}

}  // namespace
