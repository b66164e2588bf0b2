#include <gtest/gtest.h>

#include <string>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/text.h"
#include "support/text_util.h"

namespace {

std::string Substituted(const PlaceholderList& list, const std::string& text, bool* ok = nullptr)
{
    HeapText heap;
    heap.Assign(text.c_str(), static_cast<int>(text.size()));
    bool result = list.SubstitutePlaceholders(heap);
    if (ok) *ok = result;
    return heap.Get();
}

TEST(PlaceholderList, ReplacesEveryOccurrenceInListOrder)
{
    PlaceholderList list;
    list.AddPlaceholder("<%SERIES%>", "GSM");
    list.AddPlaceholder("<%CATEGORY%>", "GSM/GPRS");
    bool ok = false;
    EXPECT_EQ("GSM and GSM, GSM/GPRS", Substituted(list, "<%SERIES%> and <%SERIES%>, <%CATEGORY%>", &ok));
    EXPECT_TRUE(ok);
    // Lower-case placeholders are other text.
    EXPECT_EQ("<%series%>", Substituted(list, "<%series%>"));
}

TEST(PlaceholderList, LaterPairsSearchWhatEarlierPairsInserted)
{
    PlaceholderList ordered;
    ordered.AddPlaceholder("<%SERIES%>", "X<%CATEGORY%>");
    ordered.AddPlaceholder("<%CATEGORY%>", "cat");
    EXPECT_EQ("Xcat", Substituted(ordered, "<%SERIES%>"));

    PlaceholderList reversed;
    reversed.AddPlaceholder("<%CATEGORY%>", "cat");
    reversed.AddPlaceholder("<%SERIES%>", "X<%CATEGORY%>");
    EXPECT_EQ("X<%CATEGORY%>", Substituted(reversed, "<%SERIES%>"));
}

TEST(PlaceholderList, RestartsSoThatFormedOccurrencesAreReplacedToo)
{
    PlaceholderList list;
    list.AddPlaceholder("ab", "a");
    // "aabb" -> "aab" -> "aa": the second "ab" only forms after the first
    // replacement, left of where the search would otherwise go on.
    EXPECT_EQ("aa", Substituted(list, "aabb"));
}

TEST(PlaceholderList, ValueHoldingItsOwnPlaceholderEnds)
{
    PlaceholderList list;
    list.AddPlaceholder("<%SERIES%>", "A<%SERIES%>B");
    EXPECT_EQ("A<%SERIES%>B-A<%SERIES%>B", Substituted(list, "<%SERIES%>-<%SERIES%>"));
}

TEST(PlaceholderList, FailedConversionLeavesTheTextUnchanged)
{
    PlaceholderList list;
    bool ok = true;
    EXPECT_EQ("", Substituted(list, "", &ok));
    EXPECT_FALSE(ok);

    list.AddPlaceholder("<%SERIES%>", "");  // an empty value cannot be converted
    EXPECT_EQ("x <%SERIES%>", Substituted(list, "x <%SERIES%>", &ok));
    EXPECT_FALSE(ok);

    if (GetACP() != 936) return;
    PlaceholderList valid;
    valid.AddPlaceholder("<%SERIES%>", "GSM");
    // A lone lead byte is not a character of code page 936.
    EXPECT_EQ("<%SERIES%>\x81", Substituted(valid, "<%SERIES%>\x81", &ok));
    EXPECT_FALSE(ok);
}

TEST(PlaceholderList, MatchesWholeDoubleByteCharactersOnly)
{
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    // 0xB1 0xED 0xB1 0xED: the bytes "\xED\xB1" in the middle are not a
    // character and must not match a placeholder made of them.
    PlaceholderList list;
    list.AddPlaceholder("\xED\xB1", "Z");
    EXPECT_EQ("\xB1\xED\xB1\xED", Substituted(list, "\xB1\xED\xB1\xED"));
    list.AddPlaceholder("\xB1\xED", "Y");
    EXPECT_EQ("YY", Substituted(list, "\xB1\xED\xB1\xED"));
}

TEST(SubstituteInBuffer, CutsToTheBufferWithoutSplittingACharacter)
{
    PlaceholderList list;
    list.AddPlaceholder("<%S%>", "\xB1\xED\xB1\xED");
    char buffer[8] = "ab<%S%>";
    ASSERT_TRUE(list.SubstituteInBuffer(buffer, sizeof(buffer)));
    if (GetACP() == 936) {
        // "ab" + four bytes fits 6 of 7; the next character would be cut.
        EXPECT_STREQ("ab\xB1\xED\xB1\xED", buffer);
        char small[6] = "a";
        PlaceholderList grow;
        grow.AddPlaceholder("a", "\xB1\xED\xB1\xED\xB1\xED");
        ASSERT_TRUE(grow.SubstituteInBuffer(small, sizeof(small)));
        EXPECT_STREQ("\xB1\xED\xB1\xED", small) << "five bytes of room keep two whole characters";
    }
}

TEST(SubstituteInBuffer, LongTextIsCutToTheBuffer)
{
    PlaceholderList list;
    list.AddPlaceholder("<%SERIES%>", "0123456789012345");
    std::string text;
    while (text.size() < 990) text += "<%SERIES%> ";
    char buffer[1024];
    lstrcpyA(buffer, text.c_str());
    ASSERT_TRUE(list.SubstituteInBuffer(buffer, sizeof(buffer)));
    EXPECT_EQ(1023u, strlen(buffer));
    EXPECT_EQ(std::string::npos, std::string(buffer).find("<%"));
}

TEST(TextRoutines, LoadTextSubstitutesAndReportsTheLoadedLength)
{
    char buffer[1024];
    int n = LoadText(IDS_NEED_ADMIN, buffer);
    EXPECT_GT(n, 0);
    std::string text = AnsiToUtf8(buffer);
    EXPECT_NE(std::string::npos, text.find("TAVRO GSM/GPRS USB Driver"));
    EXPECT_EQ(std::string::npos, text.find("<%CATEGORY%>"));
    // The count is that of the text before substitution.
    EXPECT_EQ(n, LoadStringA(GetModuleHandleA(nullptr), IDS_NEED_ADMIN, buffer, sizeof(buffer)));

    EXPECT_EQ(0, LoadText(9999, buffer));
    EXPECT_STREQ("", buffer);
}

TEST(TextRoutines, AppendAndCopyKeepTheOneByteReserve)
{
    char buffer[16] = "C:\\WINDOWS";
    EXPECT_EQ(14, AppendText(IDS_INF_DIR, buffer));
    EXPECT_STREQ("C:\\WINDOWS\\INF", buffer);
    // 14 characters in 16 bytes: room 1 leaves nothing to load into.
    EXPECT_EQ(0, AppendText(IDS_INF_DIR, buffer));
    EXPECT_STREQ("C:\\WINDOWS\\INF", buffer);
    char full[8] = "1234567";
    EXPECT_EQ(0, AppendText(IDS_INF_DIR, full));
    EXPECT_EQ(0, AppendString("x", full));
    EXPECT_STREQ("1234567", full);

    char name[261];
    EXPECT_EQ(17, CopyString("VID_1B3F&PID_5C13", name));
    EXPECT_STREQ("VID_1B3F&PID_5C13", name);
    EXPECT_EQ(20, AppendString("<%SERIES%>", name));
    EXPECT_STREQ("VID_1B3F&PID_5C13GSM", name);

    // A text that does not fit is refused whole, never cut.
    char small[8];
    EXPECT_EQ(0, CopyString("TVybus.inf", small));
    EXPECT_STREQ("", small);
    lstrcpyA(small, "abc");
    EXPECT_EQ(0, AppendString("defg", small));  // room 4 holds 3 characters
    EXPECT_STREQ("abc", small);
    EXPECT_EQ(6, AppendString("def", small));
}

TEST(FormatText, SubstitutesFirstThenFormats)
{
    char out[1024];
    int n = FormatText(IDS_TEXT_GENERAL_NEXT, out);
    std::string text = AnsiToUtf8(out);
    EXPECT_EQ(static_cast<int>(strlen(out)), n);
    EXPECT_NE(std::string::npos, text.find(u8"打开GSM系列手机的电源"));
    EXPECT_EQ(std::string::npos, text.find("<%"));
}

TEST(FormatText, PercentSignsFromNamesAreNeverDirectives)
{
    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", "100%s%d%n");
    Placeholders().AddPlaceholder("<%CATEGORY%>", "GSM/GPRS");
    char out[1024];
    FormatText(IDS_TEXT_GENERAL_NEXT, out);
    EXPECT_NE(std::string::npos, std::string(out).find("100%s%d%n"));

    // A failed substitution leaves "<%SERIES%>" (which holds "%S") in the text.
    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", "");
    FormatText(IDS_TEXT_GENERAL_NEXT, out);
    EXPECT_NE(std::string::npos, std::string(out).find("<%SERIES%>"));
}

}  // namespace
