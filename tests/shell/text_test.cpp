#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "resources/ids.h"
#include "shell/text.h"
#include "support/text_util.h"

namespace {

using Pairs = std::vector<std::pair<const char*, const char*>>;

std::string Substituted(const Pairs& pairs, const std::string& text, bool* ok)
{
    PlaceholderList list;
    for (const auto& p : pairs) list.AddPlaceholder(p.first, p.second);
    HeapText heap;
    heap.Assign(text.c_str(), static_cast<int>(text.size()));
    *ok = list.SubstitutePlaceholders(heap);
    return heap.Get();
}

TEST(PlaceholderList, Substitution)
{
    const Pairs brand = {{"<%SERIES%>", "GSM"}, {"<%CATEGORY%>", "GSM/GPRS"}};
    const struct {
        Pairs pairs;
        std::string text, expected;
        bool ok;
    } table[] = {
        {brand, "<%SERIES%> and <%SERIES%>, <%CATEGORY%>", "GSM and GSM, GSM/GPRS", true},
        {brand, "<%series%>", "<%series%>", true},  // case-sensitive
        // Later pairs search what earlier ones inserted, not the other way round.
        {{{"<%SERIES%>", "X<%CATEGORY%>"}, {"<%CATEGORY%>", "c"}}, "<%SERIES%>", "Xc", true},
        {{{"<%CATEGORY%>", "c"}, {"<%SERIES%>", "X<%CATEGORY%>"}}, "<%SERIES%>", "X<%CATEGORY%>", true},
        // The search restarts, so an occurrence a replacement forms is found.
        {{{"ab", "a"}}, "aabb", "aa", true},
        // A value holding its own placeholder must not loop for ever.
        {{{"<%SERIES%>", "A<%SERIES%>B"}}, "<%SERIES%>-<%SERIES%>", "A<%SERIES%>B-A<%SERIES%>B", true},
        // Conversion failures leave the text as it was.
        {brand, "", "", false},
        {{{"<%SERIES%>", ""}}, "x <%SERIES%>", "x <%SERIES%>", false},
        {{}, "plain", "plain", true},
    };
    for (const auto& row : table) {
        bool ok = !row.ok;
        EXPECT_EQ(row.expected, Substituted(row.pairs, row.text, &ok)) << row.text;
        EXPECT_EQ(row.ok, ok) << row.text;
    }
}

TEST(PlaceholderList, DoubleByteTexts)
{
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    bool ok = false;
    // "\xED\xB1" sits across two characters of "\xB1\xED\xB1\xED": no match.
    EXPECT_EQ("\xB1\xED\xB1\xED", Substituted({{"\xED\xB1", "Z"}}, "\xB1\xED\xB1\xED", &ok));
    EXPECT_EQ("YY", Substituted({{"\xB1\xED", "Y"}}, "\xB1\xED\xB1\xED", &ok));
    // A lone lead byte is no character of code page 936.
    EXPECT_EQ("<%SERIES%>\x81", Substituted({{"<%SERIES%>", "GSM"}}, "<%SERIES%>\x81", &ok));
    EXPECT_FALSE(ok);

    // Cut to the buffer without leaving half a character: five bytes of
    // room hold two of the three characters.
    PlaceholderList grow;
    grow.AddPlaceholder("a", "\xB1\xED\xB1\xED\xB1\xED");
    char small[6] = "a";
    ASSERT_TRUE(grow.SubstituteInBuffer(small, sizeof(small)));
    EXPECT_STREQ("\xB1\xED\xB1\xED", small);
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

TEST(TextRoutines, LoadAppendCopyAndTheirResults)
{
    char buffer[1024];
    int n = LoadText(IDS_NEED_ADMIN, buffer);
    EXPECT_EQ(n, LoadStringA(GetModuleHandleA(nullptr), IDS_NEED_ADMIN, buffer, sizeof(buffer)))
        << "the length before substitution";
    LoadText(IDS_NEED_ADMIN, buffer);
    EXPECT_NE(std::string::npos, AnsiToUtf8(buffer).find("TAVRO GSM/GPRS USB Driver"));
    EXPECT_EQ(0, LoadText(9999, buffer));
    EXPECT_STREQ("", buffer);

    char path[16] = "C:\\WINDOWS";
    EXPECT_EQ(14, AppendText(IDS_INF_DIR, path));
    EXPECT_STREQ("C:\\WINDOWS\\INF", path);
    EXPECT_EQ(0, AppendText(IDS_INF_DIR, path)) << "one byte of room holds no text";
    EXPECT_STREQ("C:\\WINDOWS\\INF", path);

    char name[261];
    EXPECT_EQ(17, CopyString("VID_1B3F&PID_5C13", name));
    EXPECT_EQ(20, AppendString("<%SERIES%>", name));
    EXPECT_STREQ("VID_1B3F&PID_5C13GSM", name);

    // A text that does not fit is refused whole, never cut into a name.
    char small[8];
    EXPECT_EQ(0, CopyString("TVybus.inf", small));
    EXPECT_STREQ("", small);
    lstrcpyA(small, "abc");
    EXPECT_EQ(0, AppendString("defg", small));  // the room of 4 holds 3
    EXPECT_STREQ("abc", small);
    EXPECT_EQ(6, AppendString("def", small));
}

TEST(FormatText, SubstitutesFirstAndNeverReadsArgumentsFromNames)
{
    char out[1024];
    EXPECT_EQ(static_cast<int>(strlen(out)), FormatText(IDS_TEXT_GENERAL_NEXT, out));
    if (GetACP() == 936) {
        EXPECT_NE(std::string::npos, AnsiToUtf8(out).find(u8"打开GSM系列手机的电源"));
    }

    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", "100%s%d%n");
    FormatText(IDS_TEXT_GENERAL_NEXT, out);
    EXPECT_NE(std::string::npos, std::string(out).find("100%s%d%n"));

    // A failed substitution leaves "<%SERIES%>", which holds "%S".
    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", "");
    FormatText(IDS_TEXT_GENERAL_NEXT, out);
    EXPECT_NE(std::string::npos, std::string(out).find("<%SERIES%>"));
}

}  // namespace
