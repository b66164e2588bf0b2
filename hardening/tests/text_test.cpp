#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/text.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

const std::string kTable = "\xB1\xED";  // "表"

// Substitutes in an exact block of the given size; the bytes behind the
// terminator are part of what must stay unchanged on failure.
struct Substitution {
    bool ok;
    std::string text;
    bool untouched;
};

Substitution SubstituteIn(const PlaceholderList& list, const std::string& text, int size)
{
    ExactBuffer buffer(size, text);
    std::vector<char> before(buffer.Get(), buffer.Get() + size);
    bool ok = list.SubstituteInBuffer(buffer.Get(), size);
    EXPECT_TRUE(buffer.Terminated());
    bool untouched = std::equal(before.begin(), before.end(), buffer.Get());
    return {ok, buffer.Text(), untouched};
}

TEST(SubstituteInBuffer, CutsAtTheBufferAroundPathSizes)
{
    PlaceholderList list;
    list.AddPlaceholder("<%SERIES%>", "0123456789ABCDEF");  // grows by 6
    for (int size : {259, 260, 261, 262}) {
        // The text fills the buffer; substitution pushes it over the end.
        std::string text = std::string(size - 11, 'p') + "<%SERIES%>";
        Substitution s = SubstituteIn(list, text, size);
        ASSERT_TRUE(s.ok) << size;
        EXPECT_EQ(static_cast<size_t>(size - 1), s.text.size()) << size;
        EXPECT_EQ(std::string(size - 11, 'p') + std::string("0123456789ABCDEF").substr(0, 10), s.text);
    }
}

TEST(SubstituteInBuffer, NeverEndsInHalfACharacter)
{
    PlaceholderList list;
    std::string eight;
    for (int i = 0; i < 8; ++i) eight += kTable;  // 16 bytes, the longest INI name
    list.AddPlaceholder("<%SERIES%>", eight.c_str());
    // With every parity of room, the cut falls between characters.
    for (int size = 12; size <= 19; ++size) {
        Substitution s = SubstituteIn(list, "a<%SERIES%>", size);
        ASSERT_TRUE(s.ok);
        EXPECT_FALSE(EndsInLoneLeadByte(s.text)) << size << ": " << Show(s.text);
        EXPECT_GE(s.text.size() + 2, static_cast<size_t>(size - 1)) << "cut more than one byte short";
    }
}

TEST(SubstituteInBuffer, FailureLeavesEveryByteAsItWas)
{
    const struct {
        const char* why;
        std::string placeholder, value, text;
    } cases[] = {
        {"empty text", "<%SERIES%>", "GSM", ""},
        {"lone lead byte at the end", "<%SERIES%>", "GSM", "<%SERIES%>\x81"},
        {"lead byte with no valid trail", "<%SERIES%>", "GSM", "\x81\x20<%SERIES%>"},
        {"empty value", "<%SERIES%>", "", "x <%SERIES%>"},
        {"invalid value", "<%SERIES%>", "\x81\x7F", "x <%SERIES%>"},
        {"invalid placeholder", "\x81", "v", "x"},
    };
    for (const auto& c : cases) {
        PlaceholderList list;
        list.AddPlaceholder(c.placeholder.c_str(), c.value.c_str());
        Substitution s = SubstituteIn(list, c.text, 64);
        EXPECT_FALSE(s.ok) << c.why;
        EXPECT_TRUE(s.untouched) << c.why;
    }
}

TEST(SubstituteInBuffer, WorkingTextHasABound)
{
    // The same pair twice, its value holding its placeholder: each pass
    // makes every "a" sixteen. 300 * 256 units is past the bound, so the
    // substitution gives up and changes nothing; 200 * 256 is not.
    PlaceholderList list;
    list.AddPlaceholder("a", std::string(16, 'a').c_str());
    list.AddPlaceholder("a", std::string(16, 'a').c_str());
    Substitution s = SubstituteIn(list, std::string(300, 'a'), 1024);
    EXPECT_FALSE(s.ok);
    EXPECT_TRUE(s.untouched);
    s = SubstituteIn(list, std::string(200, 'a'), 1024);
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(std::string(1023, 'a'), s.text);
}

TEST(SubstituteInBuffer, EveryFailedAllocationLeavesTheTextAndLeaksNothing)
{
    PlaceholderList list;
    list.AddPlaceholder("<%SERIES%>", "GSM%d");
    list.AddPlaceholder("<%CATEGORY%>", kTable.c_str());
    const std::string text = "<%SERIES%> " + kTable + " <%CATEGORY%> <%SERIES%>";
    const std::string expected = "GSM%d " + kTable + " " + kTable + " GSM%d";
    StandinFailAllocation(-1);
    Substitution clean = SubstituteIn(list, text, 64);
    ASSERT_TRUE(clean.ok);
    ASSERT_EQ(expected, clean.text);
    int allocations = 0;
    {
        ExactBuffer buffer(64, text);
        StandinFailAllocation(-1);
        list.SubstituteInBuffer(buffer.Get(), 64);
        allocations = StandinAllocationsSeen();
    }
    ASSERT_GT(allocations, 0);
    for (int i = 0; i < allocations; ++i) {
        StandinFailAllocation(i);
        Substitution s = SubstituteIn(list, text, 64);
        StandinFailAllocation(-1);
        EXPECT_FALSE(s.ok) << "allocation " << i;
        EXPECT_TRUE(s.untouched) << "allocation " << i;
    }
    // LeakSanitizer reports at exit whatever a failed path did not free.
}

TEST(PlaceholderList, FailedAllocationAddsNothing)
{
    for (int i = 0; i < 3; ++i) {
        PlaceholderList list;
        StandinFailAllocation(i);
        list.AddPlaceholder("<%SERIES%>", "GSM");
        StandinFailAllocation(-1);
        EXPECT_EQ(0, list.Count()) << "allocation " << i;
    }
}

TEST(PlaceholderList, SelfContainingValuesEndAndDoubleByteTextsMatchWhole)
{
    PlaceholderList list;
    list.AddPlaceholder("<%SERIES%>", ("<%SERIES%>" + kTable).c_str());
    EXPECT_EQ("<%SERIES%>" + kTable + "-<%SERIES%>" + kTable, SubstituteIn(list, "<%SERIES%>-<%SERIES%>", 64).text);

    // The placeholder made of the bytes between two characters is no match.
    PlaceholderList inner;
    inner.AddPlaceholder("\xED\xB1", "Z");
    EXPECT_EQ(kTable + kTable, SubstituteIn(inner, kTable + kTable, 16).text);
    // 0x5C trail bytes do not stand for backslashes.
    PlaceholderList slash;
    slash.AddPlaceholder("\\", "/");
    EXPECT_EQ("/\xD5\x5C/", SubstituteIn(slash, "\\\xD5\x5C\\", 16).text);
}

TEST(TextRoutines, LoadTextAtEveryBufferSize)
{
    char full[1024];
    int length = LoadStringA(nullptr, IDS_NEED_ADMIN, full, sizeof(full));
    ASSERT_GT(length, 20);
    for (int size = 1; size <= length + 2; ++size) {
        ExactBuffer buffer(size);
        int n = LoadText(IDS_NEED_ADMIN, buffer.Get(), size);
        ASSERT_TRUE(buffer.Terminated()) << size;
        EXPECT_LE(n, size - 1);
        EXPECT_FALSE(EndsInLoneLeadByte(buffer.Text())) << size;
        EXPECT_EQ(std::string::npos, buffer.Text().find("<%CATEGORY%>")) << size;
    }
    ExactBuffer missing(8, "junk");
    EXPECT_EQ(0, LoadText(9999, missing.Get(), 8));
    EXPECT_EQ("", missing.Text());
}

TEST(TextRoutines, AppendsKeepTheReserveAtEveryLength)
{
    // "\INF" after texts of every length in a 16-byte buffer.
    for (int existing = 0; existing <= 16; ++existing) {
        int size = 16;
        ExactBuffer buffer(existing >= size ? existing + 1 : size, std::string(existing, 'w'));
        int n = AppendText(IDS_INF_DIR, buffer.Get(), size);
        std::string text = buffer.Text();
        if (existing + 4 <= size - 2) {
            EXPECT_EQ(existing + 4, n) << existing;
            EXPECT_EQ(std::string(existing, 'w') + "\\INF", text);
        } else if (existing + 1 >= size) {
            EXPECT_EQ(0, n) << existing;
            EXPECT_EQ(std::string(existing, 'w'), text);
        } else {
            // Room for part of it: the string table's cut, never the last byte.
            EXPECT_LE(static_cast<int>(text.size()), size - 2) << existing;
        }

        ExactBuffer other(existing >= size ? existing + 1 : size, std::string(existing, 'w'));
        int m = AppendString("\\INF", other.Get(), size);
        if (existing + 4 <= size - 2) {
            EXPECT_EQ(existing + 4, m) << existing;
        } else {
            EXPECT_EQ(0, m) << existing;
            EXPECT_EQ(std::string(existing, 'w'), other.Text()) << "a name is never cut";
        }
    }
}

TEST(TextRoutines, CopyStringWholeOrNothing)
{
    for (int length : {259, 260, 261}) {
        ExactBuffer buffer(261, "old");
        int n = CopyString(std::string(length, 'k').c_str(), buffer.Get(), 261);
        if (length <= 260) {
            EXPECT_EQ(length, n);
            EXPECT_EQ(std::string(length, 'k'), buffer.Text());
        } else {
            EXPECT_EQ(0, n);
            EXPECT_EQ("", buffer.Text());
        }
    }
    // Substitution after the copy may grow the text; it is cut to the buffer.
    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", (kTable + kTable + kTable + kTable).c_str());
    ExactBuffer small(16);
    int n = CopyString("abc<%SERIES%>", small.Get(), 16);
    EXPECT_EQ("abc" + kTable + kTable + kTable + kTable, small.Text());
    EXPECT_EQ(11, n);
}

TEST(FormatText, NamesNeverBecomeDirectives)
{
    const char* names[] = {"%s%s%s%s", "%S", "100%", "%n%x%%", "%-08d", "%ls", "%", "%C%c"};
    const UINT ids[] = {IDS_TEXT_GENERAL_NEXT, IDS_TEXT_NEWHW_END, IDS_TEXT_XPSP2_OTHER, IDS_NEED_ADMIN};
    for (const char* name : names) {
        Placeholders().Clear();
        Placeholders().AddPlaceholder("<%SERIES%>", name);
        Placeholders().AddPlaceholder("<%CATEGORY%>", name);
        for (UINT id : ids) {
            char out[1024];
            StandinLimitFormatArguments(0);
            int n = FormatText(id, out);
            EXPECT_FALSE(StandinFormatOverread()) << name << " in " << id;
            EXPECT_EQ(static_cast<int>(strlen(out)), n);
            EXPECT_NE(std::string::npos, std::string(out).find(name)) << name << " in " << id;
        }
    }
    StandinLimitFormatArguments(-1);
}

TEST(FormatText, FailedSubstitutionPrintsThePlaceholdersAsTheyStand)
{
    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", "\x81");  // cannot be converted
    Placeholders().AddPlaceholder("<%CATEGORY%>", "GSM/GPRS");
    char out[1024];
    StandinLimitFormatArguments(0);
    FormatText(IDS_TEXT_GENERAL_NEXT, out);
    EXPECT_FALSE(StandinFormatOverread()) << "\"<%SERIES%>\" holds the directive %S";
    EXPECT_NE(std::string::npos, std::string(out).find("<%SERIES%>"));
    StandinLimitFormatArguments(-1);
}

TEST(FormatText, OwnDirectivesTakeTheCallersArguments)
{
    StandinSetString(40000, "<%SERIES%> %d of %s, 50%%");
    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", "S%d");
    char out[1024];
    StandinLimitFormatArguments(2);
    FormatText(40000, out, 3, "four");
    EXPECT_FALSE(StandinFormatOverread());
    EXPECT_EQ(2, StandinFormatArgumentsTaken());
    EXPECT_STREQ("S%d 3 of four, 50%", out);
    StandinLimitFormatArguments(-1);
}

TEST(FormatText, LongResultsStayInside1024Bytes)
{
    // The text fills the formatter's limit; the number pushes it over.
    StandinSetString(40001, std::string(1015, 'L') + "%d");
    char out[1024];
    memset(out, 0x7E, sizeof(out));
    int n = FormatText(40001, out, 123456789);
    EXPECT_EQ(1023, n);
    EXPECT_EQ('\0', out[1023]);
}

}  // namespace
