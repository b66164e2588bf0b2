#include <gtest/gtest.h>

#include <string>

#include "staging/inf_stager.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

const char kPath[] = "C:\\WINDOWS\\INF\\oem3.inf";

std::string Inf(const std::string& firstHardwareId)
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n%Tavro%=Tavro_wmc\r\n"
           "[Tavro_wmc]\r\n%PortDesc%=Port.Install," +
           firstHardwareId + ",USB\\VID_0001\r\n[Strings]\r\nTavro=\"TAVRO\"\r\nPortDesc=\"Port\"\r\n";
}

int Recognised(const std::string& text)
{
    StandinAddFile(kPath, text);
    InfStager stager(12);
    int result = stager.IsPhoneInf(kPath);
    EXPECT_EQ(0, StandinOpenInfs()) << "the INF handle was not closed";
    return result;
}

TEST(IsPhoneInf, FieldMatchOnWholeCharacters)
{
    const struct {
        const char* why;
        std::string field;
        int expected;
    } cases[] = {
        {"upper case", "USB\\VID_1B3F&PID_5C13&Mi_01", 1},
        {"lower case", "usb\\vid_1b3f&pid_5c13&mi_01", 1},
        {"inside other text", "xVID_1B3F&PID_5C13x", 1},
        {"another product", "USB\\VID_1B3F&PID_5C14", 0},
        // 0x81 0x76 is one character whose trail byte is 'v': neither
        // upper-cased nor the start of a match.
        {"trail byte 'v'", "\x81vid_1b3f&pid_5c13", 0},
        {"trail byte 'V'", "\x81VID_1B3F&PID_5C13", 0},
        {"behind a whole character", "\x81\x5CVID_1B3F&PID_5C13", 1},
        {"behind a 0x5C trail byte", "USB\\\xD5\x5Cvid_1b3f&pid_5c13", 1},
        {"empty", "", 0},
        {"longest that fits", std::string(1006, 'x') + "VID_1B3F&PID_5C13", 1},  // 1023 bytes
        {"one byte too long", std::string(1007, 'x') + "VID_1B3F&PID_5C13", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Recognised(Inf(c.field))) << c.why;
}

TEST(IsPhoneInf, MissingPiecesAndTheHandle)
{
    EXPECT_EQ(0, Recognised("[Version]\r\n"));
    EXPECT_EQ(0, Recognised("[Tavro_wmc]\r\n"));
    EXPECT_EQ(0, Recognised("[Tavro_wmc]\r\nkey=install\r\n"));
    EXPECT_EQ(1, Recognised("[tavro_WMC]\r\nk = i , \" VID_1B3F&PID_5C13 \"\r\n"));
    InfStager stager(12);
    EXPECT_EQ(0, stager.IsPhoneInf("C:\\WINDOWS\\INF\\missing.inf"));
    EXPECT_EQ(0, StandinOpenInfs());
}

}  // namespace
