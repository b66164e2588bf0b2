// Test program of the native hardening build: before each test the stand-in
// and the program's state go back to a normal start (record for the
// program at C:\Quellin\Setup\, no INI, default brand names, both
// placeholders), as the Windows tests do.
#include <gtest/gtest.h>

#include "shell/app.h"
#include "shell/config.h"
#include "shell/paths.h"
#include "shell/text.h"
#include "standin/normal_start.h"
#include "standin/standin.h"
#include "tests/native_support.h"

bool EndsInLoneLeadByte(const std::string& text)
{
    int state = 0;
    for (unsigned char c : text) state = state == 1 ? 2 : (IsDBCSLeadByte(c) ? 1 : 0);
    return state == 1;
}

std::string Show(const std::string& gbk)
{
    std::string out;
    for (unsigned char c : gbk) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

namespace {

class ResetBeforeEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { NormalStart(); }
};

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ResetBeforeEachTest);
    return RUN_ALL_TESTS();
}
