#include <gtest/gtest.h>

#include <string>

#include "shell/app.h"
#include "shell/config.h"
#include "shell/text.h"
#include "support/files.h"
#include "support/text_util.h"

namespace {

class ConfigurationTest : public testing::Test {
protected:
    void SetUp() override
    {
        lstrcpyA(App().programDir, (dir_.Path() + "\\").c_str());
        Placeholders().Clear();
    }

    void WriteIni(const std::string& body) { WriteFileText(dir_ / "Quellin9.ini", "[UsbInst]\r\n" + body); }

    std::string Series() { return App().seriesName; }
    std::string Category() { return App().categoryName; }

    ScratchDir dir_{"cfg"};
};

TEST_F(ConfigurationTest, DefaultsWithoutAFile)
{
    ReadConfiguration();
    EXPECT_EQ("GSM", Series());
    EXPECT_EQ("GSM/GPRS", Category());
    EXPECT_STREQ("", App().iconPath);
    ASSERT_EQ(2, Placeholders().Count());
    char text[64] = "<%SERIES%> <%CATEGORY%>";
    Placeholders().SubstituteInBuffer(text, sizeof(text));
    EXPECT_STREQ("GSM GSM/GPRS", text);
}

TEST_F(ConfigurationTest, NamesFromTheFileEmptyAndOverLong)
{
    WriteIni("NAME=\r\nNAME2=ABCDEFGHIJKLMNOPQRST\r\n");
    ReadConfiguration();
    EXPECT_EQ("GSM", Series());
    EXPECT_EQ("ABCDEFGHIJKLMNOP", Category());
}

TEST_F(ConfigurationTest, PlaceholdersRegisteredSeriesFirst)
{
    WriteIni("NAME=S<%CATEGORY%>\r\nNAME2=Cat\r\n");
    ReadConfiguration();
    char text[64] = "<%SERIES%>";
    Placeholders().SubstituteInBuffer(text, sizeof(text));
    EXPECT_STREQ("SCat", text);
}

TEST_F(ConfigurationTest, OverLongDoubleByteNameKeepsWholeCharacters)
{
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    // "A" and eight Chinese characters: 17 bytes, cut by the profile reader
    // after the lead byte of the last one.
    WriteIni(Utf8ToAnsi(u8"NAME=A手机手机手机手机\r\n"));
    ReadConfiguration();
    EXPECT_EQ(Utf8ToAnsi(u8"A手机手机手机手"), Series());
    char text[64] = "<%SERIES%>";
    EXPECT_TRUE(Placeholders().SubstituteInBuffer(text, sizeof(text)));
    EXPECT_EQ(Series(), text);
}

TEST_F(ConfigurationTest, IconMustNameAnExistingFileBesideTheProgram)
{
    CreateDirectoryA((dir_ / "icons").c_str(), nullptr);
    WriteFileText(dir_ / "icons\\phone.ico", "not really an icon");
    const struct {
        std::string value;
        bool accepted;
    } cases[] = {
        {"icons\\phone.ico", true},
        {"icons", false},                 // a folder
        {"icons\\missing.ico", false},    // no such file
        {dir_ / "icons\\phone.ico", false},  // absolute: still joined to the folder
        {std::string(250, 'x') + ".ico", false},  // joined path over 260 characters
    };
    for (const auto& c : cases) {
        WriteIni("ICON=" + c.value + "\r\n");
        ReadConfiguration();
        if (c.accepted) {
            EXPECT_EQ(dir_ / c.value, App().iconPath) << c.value;
        } else {
            EXPECT_STREQ("", App().iconPath) << c.value;
        }
    }
}

}  // namespace
