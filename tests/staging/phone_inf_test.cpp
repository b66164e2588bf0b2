#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "staging/inf_stager.h"
#include "support/files.h"
#include "support/text_util.h"
#include "staging/staging_support.h"

namespace {

// A Windows 4 style INF around a given model section body.
std::string Inf(const std::string& models, const std::string& modelSection = "Tavro_wmc")
{
    return "[Version]\r\n"
           "Signature=\"$Windows NT$\"\r\n"
           "Class=Ports\r\n"
           "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\n"
           "Provider=%Tavro%\r\n"
           "\r\n"
           "[Manufacturer]\r\n"
           "%Tavro%=" +
           modelSection +
           "\r\n"
           "\r\n"
           "[" +
           modelSection + "]\r\n" + models +
           "\r\n"
           "[Port.Install.NT]\r\n"
           "CopyFiles=Port.Files\r\n"
           "\r\n"
           "[Strings]\r\n"
           "Tavro=\"TAVRO\"\r\n"
           "PortDesc=\"TV4170K USB Port\"\r\n"
           "PhoneHwid=\"USB\\VID_1B3F&PID_5C13&Mi_03\"\r\n";
}

struct InfCase {
    const char* name;
    std::string text;
    int expected;
};

TEST(IsPhoneInf, LooksOnlyAtTheFirstHardwareIdOfTheFirstModelLine)
{
    const InfCase cases[] = {
        {"upper case", Inf("%PortDesc%=Port.Install,USB\\VID_1B3F&PID_5C13&Mi_01\r\n"), 1},
        {"lower case", Inf("%PortDesc%=Port.Install,usb\\vid_1b3f&pid_5c13&mi_01\r\n"), 1},
        {"composite only", Inf("%PortDesc%=Port.Install,USB\\VID_1B3F&PID_5C13\r\n"), 1},
        {"from the strings", Inf("%PortDesc%=Port.Install,%PhoneHwid%\r\n"), 1},
        {"first of two ids",
         Inf("%PortDesc%=Port.Install,USB\\VID_1B3F&PID_5C13&Mi_05,USB\\VID_0001\r\n"), 1},
        {"only on the second line",
         Inf("%PortDesc%=Port.Install,USB\\VID_2222&PID_0001\r\n"
             "%PortDesc%=Port.Install,USB\\VID_1B3F&PID_5C13&Mi_01\r\n"),
         0},
        {"only as the second id",
         Inf("%PortDesc%=Port.Install,USB\\VID_2222&PID_0001,USB\\VID_1B3F&PID_5C13\r\n"), 0},
        {"only in the install section",
         Inf("%PortDesc%=VID_1B3F&PID_5C13,USB\\VID_2222&PID_0001\r\n"), 0},
        {"only as the key", Inf("VID_1B3F&PID_5C13=Port.Install,USB\\VID_2222&PID_0001\r\n"), 0},
        {"another phone", Inf("%PortDesc%=Port.Install,USB\\VID_1B3F&PID_5C14\r\n"), 0},
        {"no hardware id", Inf("%PortDesc%=Port.Install\r\n"), 0},
        {"empty section", Inf(""), 0},
        {"other model section",
         Inf("%PortDesc%=Port.Install,USB\\VID_1B3F&PID_5C13\r\n", "Other_wmc"), 0},
        {"model section name in lower case",
         Inf("%PortDesc%=Port.Install,USB\\VID_1B3F&PID_5C13\r\n", "tavro_WMC"), 1},
    };
    ScratchDir dir("q9inf");
    InfStager stager(12);
    int index = 0;
    for (const InfCase& c : cases) {
        std::string path = dir / ("case" + std::to_string(++index) + ".inf");
        ASSERT_TRUE(WriteFileText(path, c.text));
        EXPECT_EQ(c.expected, stager.IsPhoneInf(path.c_str())) << c.name;
    }
}

TEST(IsPhoneInf, DoubleByteTextBeforeTheId)
{
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    // "表" and a character whose trail byte is 'v': upper-casing must not
    // turn that trail byte into the 'V' of the id.
    ScratchDir dir("q9inf");
    InfStager stager(12);
    std::string word = Utf8ToAnsi(u8"表");
    std::string path = dir / "dbcs.inf";
    ASSERT_TRUE(
        WriteFileText(path, Inf("%PortDesc%=Port.Install,USB\\" + word + "VID_1B3F&PID_5C13\r\n")));
    EXPECT_EQ(1, stager.IsPhoneInf(path.c_str()));
    ASSERT_TRUE(WriteFileText(path, Inf("%PortDesc%=Port.Install,USB\\\x81vid_1b3f&pid_5c13\r\n")));
    EXPECT_EQ(0, stager.IsPhoneInf(path.c_str())) << "a match must start on a whole character";
}

TEST(IsPhoneInf, UnreadableFilesAreNotThePhones)
{
    ScratchDir dir("q9inf");
    InfStager stager(12);
    EXPECT_EQ(0, stager.IsPhoneInf((dir / "missing.inf").c_str()));

    std::string locked = dir / "locked.inf";
    ASSERT_TRUE(WriteFileText(locked, Inf("%PortDesc%=Port.Install,USB\\VID_1B3F&PID_5C13\r\n")));
    ASSERT_EQ(1, stager.IsPhoneInf(locked.c_str()));
    HANDLE held = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, stager.IsPhoneInf(locked.c_str()));
    CloseHandle(held);

    std::string oldStyle = dir / "old.inf";
    ASSERT_TRUE(
        WriteFileText(oldStyle, "[Tavro_wmc]\r\nx=Port.Install,USB\\VID_1B3F&PID_5C13\r\n"));
    EXPECT_EQ(0, stager.IsPhoneInf(oldStyle.c_str())) << "no Windows 4 signature";
}

TEST(IsPhoneInf, RecognisesEveryPackageOfThePhone)
{
    InfStager stager(12);
    for (const char* name : packageInfNames) {
        std::string path = DriversDir() + "\\" + name;
        ASSERT_TRUE(FileExists(path)) << path;
        EXPECT_EQ(1, stager.IsPhoneInf(path.c_str())) << name;
    }
}

}  // namespace
