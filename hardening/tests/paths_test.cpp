#include <gtest/gtest.h>

#include <string>

#include "shell/paths.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

// "誠" is 0xD5 0x5C and "乗" 0x81 0x5C in code page 936: their trail byte is
// the backslash's code.
const std::string kSincere = "\xD5\x5C";
const std::string kRide = "\x81\x5C";

TEST(DbcsStateAt, WalksFromTheStart)
{
    std::string text = "a" + kSincere + kRide + "\\" + "\x81";  // ends in a lone lead byte
    const int expected[] = {0, 1, 2, 1, 2, 0, 1};
    for (int i = 0; i < static_cast<int>(text.size()); ++i)
        EXPECT_EQ(expected[i], DbcsStateAt(text.c_str(), i)) << "index " << i;
    EXPECT_EQ(0, DbcsStateAt(text.c_str(), -1));
    EXPECT_EQ(0, DbcsStateAt(text.c_str(), static_cast<int>(text.size())));  // the terminator
    // Past the terminator nothing is read: the block ends right after it.
    ExactBuffer exact(text.size() + 1, text);
    EXPECT_EQ(0, DbcsStateAt(exact.Get(), static_cast<int>(text.size()) + 5));
}

TEST(CopyBounded, BoundariesAroundTheMaximum)
{
    const struct {
        std::string source;
        int result;
        int copied;
    } cases[] = {
        {std::string(259, 'x'), 1, 259},
        {std::string(260, 'x'), 1, 260},
        {std::string(261, 'x'), 0, 260},
        {std::string(262, 'x'), 0, 260},
        // A character over indexes 259 and 260 is left out whole.
        {std::string(259, 'x') + kSincere, 0, 259},
        {std::string(259, 'x') + kSincere + "y", 0, 259},
        // One ending at index 259 fits.
        {std::string(258, 'x') + kSincere + "y", 0, 260},
        {std::string(258, 'x') + kSincere, 1, 260},
        // Trail bytes 0x5C all the way: cuts only between characters.
        {kRide + kRide + kRide, 1, 6},
    };
    for (const auto& c : cases) {
        ExactBuffer out(261);
        int copied = -1;
        EXPECT_EQ(c.result, CopyBounded(out.Get(), c.source.c_str(), 260, &copied)) << c.source.size();
        EXPECT_EQ(c.copied, copied) << c.source.size();
        ASSERT_TRUE(out.Terminated());
        EXPECT_EQ(c.source.substr(0, c.copied), out.Text());
        EXPECT_FALSE(EndsInLoneLeadByte(out.Text())) << Show(out.Text());
    }
    std::string shortRun(300, '\x81');  // lead bytes only: pairs of them
    for (int maximum : {0, 1, 2, 3}) {
        ExactBuffer out(maximum + 1);
        CopyBounded(out.Get(), shortRun.c_str(), maximum);
        EXPECT_EQ(static_cast<size_t>(maximum / 2 * 2), out.Text().size()) << maximum;
    }
}

TEST(AppendBounded, BoundariesAroundTheMaximum)
{
    const struct {
        int existing;
        std::string text;
        int result;
        int length;
    } cases[] = {
        {258, "ab", 1, 260},
        {258, "abc", 0, 260},
        {259, "a", 1, 260},
        {260, "a", 0, 260},            // full: nothing fits
        {261, "a", 1, 261},            // already longer: nothing appended, 1
        {258, kSincere, 1, 260},
        {259, kSincere, 0, 259},       // the character would need index 260 too
        {257, kRide + kRide, 0, 259},  // one of the two fits
        {0, std::string(300, 'z'), 0, 260},
    };
    for (const auto& c : cases) {
        // The block holds the maximum plus terminator, or the longer text.
        ExactBuffer out(c.existing > 260 ? c.existing + 1 : 261, std::string(c.existing, 'p'));
        int length = -1;
        EXPECT_EQ(c.result, AppendBounded(out.Get(), c.text.c_str(), 260, &length)) << c.existing;
        EXPECT_EQ(c.length, length) << c.existing;
        ASSERT_TRUE(out.Terminated());
        EXPECT_EQ(static_cast<size_t>(c.length), out.Text().size());
        EXPECT_FALSE(EndsInLoneLeadByte(out.Text()));
    }
}

TEST(AddBackslash, RoomAndTheLastCharacter)
{
    const struct {
        std::string path;
        int size;
        int result;
        std::string after;
    } cases[] = {
        {"", 261, 0, ""},
        {"C:\\", 261, 0, "C:\\"},
        {std::string(259, 'a'), 261, 1, std::string(259, 'a') + "\\"},
        {std::string(260, 'a'), 261, 0, std::string(260, 'a')},
        {"C:\\" + kSincere, 261, 1, "C:\\" + kSincere + "\\"},  // 0x5C here is a trail byte
        {"C:\\" + kRide + "\\", 261, 0, "C:\\" + kRide + "\\"},
        {"ab", 3, 0, "ab"},
        {"ab", 4, 1, "ab\\"},
    };
    for (const auto& c : cases) {
        ExactBuffer path(c.size, c.path);
        EXPECT_EQ(c.result, AddBackslash(path.Get(), c.size)) << Show(c.path);
        EXPECT_EQ(c.after, path.Text()) << Show(c.path);
    }
}

TEST(RemoveBackslash, OnlyARealTrailingBackslash)
{
    const struct {
        std::string path;
        int result;
        std::string after;
    } cases[] = {
        {"C:\\", 1, "C:\\"},
        {"\\", 0, "\\"},
        {"a\\", 1, "a"},
        {"C:\\dir\\", 1, "C:\\dir"},
        {"C:\\dir\\\\", 1, "C:\\dir\\"},
        {"C:\\" + kSincere, 0, "C:\\" + kSincere},             // trail byte, not a backslash
        {"C:\\" + kSincere + "\\", 1, "C:\\" + kSincere + "\\"},  // folder ends in a character
        {kRide, 0, kRide},
        {std::string(260, 'q') + "\\", 1, std::string(260, 'q')},
    };
    for (const auto& c : cases) {
        ExactBuffer path(c.path.size() + 1, c.path);
        EXPECT_EQ(c.result, RemoveBackslash(path.Get())) << Show(c.path);
        EXPECT_EQ(c.after, path.Text()) << Show(c.path);
    }
}

TEST(ReplaceExtension, DotsTrailBytesAndTheBound)
{
    const struct {
        std::string path;
        int result;
        std::string after;
    } cases[] = {
        {"", 0, ""},
        {"C:\\WINDOWS\\INF\\oem7.inf", 1, "C:\\WINDOWS\\INF\\oem7.PNF"},
        {"oem7", 1, "oem7.PNF"},
        {"C:\\a.b\\name", 1, "C:\\a.PNF"},
        {"C:\\" + kSincere + ".inf", 1, "C:\\" + kSincere + ".PNF"},
        {"C:\\x." + kRide + kRide, 1, "C:\\x.PNF"},
        // Exactly at the bound: ".inf" and ".PNF" have the same length.
        {std::string(256, 'n') + ".inf", 1, std::string(256, 'n') + ".PNF"},
        // The new extension does not fit whole: a cut name is another file.
        {std::string(257, 'n'), 0, std::string(257, 'n') + ".PN"},
        {std::string(259, 'n') + ".", 0, std::string(259, 'n') + "."},
    };
    for (const auto& c : cases) {
        ExactBuffer path(261, c.path);
        EXPECT_EQ(c.result, ReplaceExtension(path.Get(), ".PNF", 260)) << Show(c.path);
        EXPECT_EQ(c.after, path.Text()) << Show(c.path);
    }
}

TEST(GetModuleDirectory, DoubleByteFoldersAndCutNames)
{
    const struct {
        std::string module;
        int size;
        int result;
        std::string folder;
    } cases[] = {
        {"C:\\Quellin\\Setup\\Quellin9.exe", 261, 1, "C:\\Quellin\\Setup\\"},
        {"C:\\Quellin9.exe", 261, 1, "C:\\"},
        // The trail byte 0x5C of the file name's last character is no separator.
        {"C:\\" + kSincere + "\\a" + kSincere, 261, 1, "C:\\" + kSincere + "\\"},
        {"Q" + kSincere, 261, 0, ""},
        {"C:\\" + std::string(257, 'x'), 261, 1, "C:\\"},
        {"C:\\" + std::string(258, 'x'), 261, 0, ""},  // 261 characters do not fit
        {"C:\\x", 1, 0, ""},
    };
    for (const auto& c : cases) {
        StandinSetModulePath(c.module);
        ExactBuffer folder(c.size);
        EXPECT_EQ(c.result, GetModuleDirectory(folder.Get(), c.size)) << Show(c.module);
        EXPECT_EQ(c.folder, folder.Text()) << Show(c.module);
    }
}

}  // namespace
