#include <gtest/gtest.h>

#include "shell/app.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

TEST(ScanCommandLine, SwitchesAnywhereLastModeWins)
{
    const struct {
        const char* line;
        InstallMode mode;
        DWORD label;
    } cases[] = {
        {"", None, 1},
        {"/i /r", Remove, 1},
        {"/r -I", Install, 1},
        {"-V", None, 0},
        {"/R/v", Remove, 0},
        {"//R", Remove, 1},   // the scan goes on with the character after the slash
        {"/-r", Remove, 1},
        {"-/i", Install, 1},
        {"/X", None, 1},
        {"/", None, 1},       // a slash as the very last character
        {"-", None, 1},
        {"abc/", None, 1},
        {"\"C:\\my-rom\\setup.exe\"", Remove, 1},  // inside a quoted path too
        {"/I/R/I/R/i", Install, 1},
        {"-i/", Install, 1},
        {"\"C:\\my-rom\\setup\" /I", Install, 1},
        {"/IV", Install, 1},  // only the character right after the slash counts
    };
    for (const auto& c : cases) {
        // An exact block: reading past the terminator would be reported.
        ExactBuffer line(strlen(c.line) + 1, c.line);
        DWORD label = 1;
        EXPECT_EQ(c.mode, ScanCommandLine(line.Get(), &label)) << c.line;
        EXPECT_EQ(c.label, label) << c.line;
    }
}

TEST(ScanCommandLine, DoubleByteTextCannotFormASwitch)
{
    // '/' and '-' are never trail bytes in code page 936, and a lead byte
    // is never a switch letter: "路-径" style texts select nothing, while
    // trail bytes equal to 'r', 'I' or 'v' (0x81 0x72, 0x81 0x49, 0x81 0x76)
    // only count after a real '-' or '/'.
    std::string line = std::string("-\x81r \x81I/") + "\x81v";
    ExactBuffer text(line.size() + 1, line);
    DWORD label = 1;
    EXPECT_EQ(None, ScanCommandLine(text.Get(), &label));
    EXPECT_EQ(1u, label);

    std::string path = Gbk(u8"\"C:\\手机-驱动\\安装.exe\" -r");
    ExactBuffer withSwitch(path.size() + 1, path);
    EXPECT_EQ(Remove, ScanCommandLine(withSwitch.Get(), &label));
}

TEST(ScanCommandLine, NullLineIsNoSwitches)
{
    DWORD label = 1;
    EXPECT_EQ(None, ScanCommandLine(nullptr, &label));
    EXPECT_EQ(1u, label);
}

}  // namespace
