#include <gtest/gtest.h>

#include <string>

#include "shell/app.h"
#include "shell/paths.h"
#include "support/text_util.h"

namespace {

// "表" is 0xB1 0xED in code page 936; "\" as a trail byte comes with
// characters such as "乗" ... here 0x81 0x5C is a valid GBK pair ("乗"
// is not needed: any lead byte followed by 0x5C forms one character).
const char kTrail5C[] = "\x81\x5C";

bool Dbcs() { return GetACP() == 936; }

TEST(DbcsStateAt, ClassifiesLeadAndTrailBytes)
{
    if (!Dbcs()) GTEST_SKIP() << "needs code page 936";
    std::string text = std::string("a") + kTrail5C + "b";
    EXPECT_EQ(0, DbcsStateAt(text.c_str(), 0));
    EXPECT_EQ(1, DbcsStateAt(text.c_str(), 1));
    EXPECT_EQ(2, DbcsStateAt(text.c_str(), 2));
    EXPECT_EQ(0, DbcsStateAt(text.c_str(), 3));
    EXPECT_EQ(0, DbcsStateAt(text.c_str(), -1));
}

TEST(CopyBounded, CutsAtMaximumWithoutSplittingACharacter)
{
    std::string source(300, 'x');
    char out[261];
    int copied = -1;
    EXPECT_EQ(0, CopyBounded(out, source.c_str(), 260, &copied));
    EXPECT_EQ(260, copied);
    EXPECT_EQ(260u, strlen(out));

    if (!Dbcs()) return;
    // The byte at index 260 is a trail byte: its lead byte is not copied alone.
    std::string dbcs = std::string(259, 'x') + kTrail5C + "yyy";
    EXPECT_EQ(0, CopyBounded(out, dbcs.c_str(), 260, &copied));
    EXPECT_EQ(259, copied);
    EXPECT_EQ(std::string(259, 'x'), out);
}

TEST(AppendBounded, KeepsTheBound)
{
    char out[300] = "abc";
    int length = 0;
    EXPECT_EQ(1, AppendBounded(out, "def", 260, &length));
    EXPECT_STREQ("abcdef", out);
    EXPECT_EQ(6, length);

    std::string longer(270, 'z');
    lstrcpyA(out, longer.c_str());
    EXPECT_EQ(1, AppendBounded(out, "q", 260, &length));  // already longer: nothing appended
    EXPECT_EQ(270, length);
    EXPECT_EQ(longer, out);

    lstrcpyA(out, std::string(258, 'a').c_str());
    EXPECT_EQ(0, AppendBounded(out, "bcd", 260, &length));
    EXPECT_EQ(260, length);

    if (!Dbcs()) return;
    lstrcpyA(out, std::string(259, 'a').c_str());
    std::string tail = std::string(kTrail5C) + "z";
    EXPECT_EQ(0, AppendBounded(out, tail.c_str(), 260, &length));
    EXPECT_EQ(259, length) << "a lead byte must not be appended without its trail byte";
}

TEST(AddBackslash, AppendsOnlyWhereItFits)
{
    char path[8] = "";
    EXPECT_EQ(0, AddBackslash(path, sizeof(path)));
    EXPECT_STREQ("", path);
    lstrcpyA(path, "C:\\");
    EXPECT_EQ(0, AddBackslash(path, sizeof(path)));
    lstrcpyA(path, "abcdef");  // 6 characters, size 8: room for one more
    EXPECT_EQ(1, AddBackslash(path, sizeof(path)));
    EXPECT_STREQ("abcdef\\", path);
    lstrcpyA(path, "abcdefg");
    EXPECT_EQ(0, AddBackslash(path, sizeof(path)));
}

TEST(RemoveBackslash, KeepsDriveRootsAndDoubleByteEnds)
{
    char path[64];
    lstrcpyA(path, "C:\\");
    EXPECT_EQ(1, RemoveBackslash(path));
    EXPECT_STREQ("C:\\", path);
    lstrcpyA(path, "\\");
    EXPECT_EQ(0, RemoveBackslash(path));
    lstrcpyA(path, "C:\\dir\\");
    EXPECT_EQ(1, RemoveBackslash(path));
    EXPECT_STREQ("C:\\dir", path);
    lstrcpyA(path, "C:\\dir");
    EXPECT_EQ(0, RemoveBackslash(path));

    if (!Dbcs()) return;
    // The last byte is the trail byte 0x5C of a character, not a backslash.
    std::string trail = std::string("C:\\") + kTrail5C;
    lstrcpyA(path, trail.c_str());
    EXPECT_EQ(0, RemoveBackslash(path));
    EXPECT_EQ(trail, path);
    // A folder name ending in a double-byte character keeps its backslash.
    std::string folder = "C:\\\xB1\xED\\";
    lstrcpyA(path, folder.c_str());
    EXPECT_EQ(1, RemoveBackslash(path));
    EXPECT_EQ(folder, path);
}

TEST(ReplaceExtension, CutsAtTheLastSingleByteDot)
{
    char path[261];
    lstrcpyA(path, "C:\\windows\\inf\\oem7.inf");
    EXPECT_EQ(1, ReplaceExtension(path, ".PNF", 260));
    EXPECT_STREQ("C:\\windows\\inf\\oem7.PNF", path);
    lstrcpyA(path, "oem7");
    EXPECT_EQ(1, ReplaceExtension(path, ".PNF", 260));
    EXPECT_STREQ("oem7.PNF", path);
    lstrcpyA(path, "C:\\a.b\\name");
    EXPECT_EQ(1, ReplaceExtension(path, ".PNF", 260));
    EXPECT_STREQ("C:\\a.PNF", path);
    path[0] = '\0';
    EXPECT_EQ(0, ReplaceExtension(path, ".PNF", 260));
}

TEST(GetModuleDirectory, EndsInABackslash)
{
    char dir[261];
    ASSERT_EQ(1, GetModuleDirectory(dir, sizeof(dir)));
    std::string text = dir;
    ASSERT_FALSE(text.empty());
    EXPECT_EQ('\\', text.back());
    char full[MAX_PATH];
    GetModuleFileNameA(nullptr, full, MAX_PATH);
    EXPECT_EQ(0u, std::string(full).find(text));
}

}  // namespace
