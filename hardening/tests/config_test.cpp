#include <gtest/gtest.h>

#include <string>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/config.h"
#include "shell/text.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

const char kIni[] = "C:\\Quellin\\Setup\\Quellin9.ini";

void ReadWith(const std::string& body)
{
    StandinAddFile(kIni, "[UsbInst]\r\n" + body);
    Placeholders().Clear();
    ReadConfiguration();
}

std::string Substituted(const std::string& text)
{
    char buffer[256];
    lstrcpyA(buffer, text.c_str());
    Placeholders().SubstituteInBuffer(buffer, sizeof(buffer));
    return buffer;
}

TEST(Configuration, OddNameValues)
{
    std::string eight = Gbk(u8"手机手机手机手机");  // 16 bytes
    const struct {
        std::string line;
        std::string series;
    } cases[] = {
        {"NAME=", "GSM"},
        {"NAME=   ", "GSM"},
        {"NAME=  Spaced Out  ", "Spaced Out"},
        {"NAME=\"Quoted\"", "Quoted"},
        {"NAME=0123456789ABCDEF", "0123456789ABCDEF"},
        {"NAME=0123456789ABCDEFG", "0123456789ABCDEF"},
        {"NAME=" + std::string(300, 'N'), std::string(16, 'N')},
        {"NAME=" + eight, eight},
        // 17 bytes: the reader cuts after the lead byte of the last character.
        {"NAME=A" + eight, "A" + eight.substr(0, 14)},
        {"NAME=\x81", "GSM"},  // only a lone lead byte: nothing is left
        {"NAME=\xD5\x5C\xD5\x5C", "\xD5\x5C\xD5\x5C"},
        {"NAME=100%s%n%S", "100%s%n%S"},
        {"name=lower-case key", "lower-case key"},
        {"NAME=a=b", "a=b"},
    };
    for (const auto& c : cases) {
        ReadWith(c.line + "\r\n");
        EXPECT_EQ(c.series, std::string(App().seriesName)) << Show(c.line);
        EXPECT_EQ("GSM/GPRS", std::string(App().categoryName)) << Show(c.line);
        ASSERT_EQ(2, Placeholders().Count());
        EXPECT_EQ(c.series, Substituted("<%SERIES%>")) << Show(c.line);
    }
}

TEST(Configuration, NamesReferringToEachOther)
{
    ReadWith("NAME=<%CATEGORY%>\r\nNAME2=<%SERIES%>\r\n");
    // Series first: its value brings in the category's placeholder, which
    // the second pair then fills; the category's own value stays literal.
    EXPECT_EQ("<%SERIES%>", Substituted("<%SERIES%>"));
    EXPECT_EQ("<%SERIES%>", Substituted("<%CATEGORY%>"));

    ReadWith("NAME=x<%SERIES%>\r\nNAME2=%<%CATEGORY%>\r\n");
    EXPECT_EQ("x<%SERIES%>", Substituted("<%SERIES%>"));
    EXPECT_EQ("%<%CATEGORY%>", Substituted("<%CATEGORY%>"));
}

TEST(Configuration, IconPathsAtTheBound)
{
    // The program folder C:\Quellin\Setup\ has 17 characters: a value of
    // 243 makes the joined path 260 characters, 244 would need 261.
    const std::string folder = "C:\\Quellin\\Setup\\";
    const std::string fits = std::string(239, 'i') + ".ico";
    const std::string over = std::string(240, 'i') + ".ico";
    const std::string sincere = "\xD5\x5C.ico";
    StandinAddFile(folder + fits, "icon");
    StandinAddFile(folder + over.substr(0, 243), "a file named by the cut value");
    StandinAddFile(folder + sincere, "icon");
    StandinAddFile(folder + "icons", "", true);
    const struct {
        std::string value;
        std::string icon;
    } cases[] = {
        {fits, folder + fits},
        {over, ""},
        {sincere, folder + sincere},
        {"icons", ""},
        {"missing.ico", ""},
        {folder + sincere, ""},  // absolute: joined to the folder all the same
        {std::string(400, 'i'), ""},
    };
    for (const auto& c : cases) {
        ReadWith("ICON=" + c.value + "\r\n");
        EXPECT_EQ(c.icon, std::string(App().iconPath)) << c.value.size();
    }
}

TEST(Configuration, NoProgramFolder)
{
    // A program path without any backslash leaves the folder empty: the INI
    // is then looked for by its bare name (in the Windows folder) and the
    // ICON value alone names the icon.
    StandinSetModulePath("Quellin9.exe");
    App().programDir[0] = '\0';
    StandinAddFile("C:\\WINDOWS\\Quellin9.ini", "[UsbInst]\r\nNAME=Win\r\nICON=C:\\icon.ico\r\n");
    StandinAddFile("C:\\icon.ico", "icon");
    Placeholders().Clear();
    ReadConfiguration();
    EXPECT_STREQ("Win", App().seriesName);
    EXPECT_STREQ("C:\\icon.ico", App().iconPath);
}

TEST(Configuration, FolderFillingThePathBuffer)
{
    // No room for "Quellin9.ini" behind a 255-character folder: the names
    // fall back to the defaults and nothing is written past the fields.
    std::string folder = "C:\\" + std::string(251, 'f') + "\\";
    lstrcpyA(App().programDir, folder.c_str());
    StandinAddFile(folder + "Quellin9.ini", "[UsbInst]\r\nNAME=Unreachable\r\n");
    Placeholders().Clear();
    ReadConfiguration();
    EXPECT_STREQ("GSM", App().seriesName);
    EXPECT_STREQ("GSM/GPRS", App().categoryName);
}

TEST(Configuration, MissingStringsLeaveEmptyNamesTerminated)
{
    // Without the default texts the names stay empty; substitution with an
    // empty value then fails and leaves every text as it was.
    StandinRemoveString(IDS_DEFAULT_SERIES);
    StandinRemoveString(IDS_DEFAULT_CATEGORY);
    ReadWith("");
    EXPECT_STREQ("", App().seriesName);
    EXPECT_EQ("a <%SERIES%>", Substituted("a <%SERIES%>"));
}

}  // namespace
