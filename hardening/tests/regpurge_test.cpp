#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regpurge/name_match.h"
#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "resources/ids.h"
#include "standin/standin.h"
#include "tests/native_support.h"

namespace {

const std::string kEnum = "SYSTEM\\ControlSet001\\Enum\\USB\\VID_1B3F&PID_5C13&Mi_03";
const std::string kArbiter = "SYSTEM\\ControlSet001\\Control\\COM Name Arbiter";
const std::string kPorts = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

TEST(ContainsPattern, DigitRuleAndWholeCharacters)
{
    const struct {
        std::string text, pattern;
        int digitBoundary, expected;
    } cases[] = {
        {"COM5:", "COM5", 1, 1},
        {"COM50:", "COM5", 1, 0},
        {"COM50:", "COM5", 0, 1},
        {"COM1", "COM1", 1, 1},          // at the very end
        {"XCOM1:", "COM1", 1, 1},        // containment, not a prefix match
        {"COM10:COM1:", "COM1", 1, 1},   // a later occurrence counts
        {"OEM12.INF", "OEM1", 1, 0},
        {"OEM1.INF", "OEM1", 1, 1},
        {"COM1", "", 1, 0},              // an empty pattern matches nothing
        {"", "COM1", 1, 0},
        {"COM", "COM1", 1, 0},           // the text ends inside the pattern
        // 0x81 'C' is one character: no match may start at its trail byte.
        {"\x81" "COM1:", "COM1", 1, 0},
        {"\x81\x81" "COM1:", "COM1", 1, 1},
        {"\xD5\x5C" "COM1", "\\COM1", 1, 0},
        {"COM1\xD5\x5C", "COM1", 1, 1},  // a lead byte is no digit
    };
    for (const auto& c : cases) {
        ExactBuffer text(c.text.size() + 1, c.text);
        ExactBuffer pattern(c.pattern.size() + 1, c.pattern);
        EXPECT_EQ(c.expected, ContainsPattern(text.Get(), pattern.Get(), c.digitBoundary))
            << Show(c.text) << " / " << Show(c.pattern);
    }
}

TEST(UpperCaseAscii, LeavesDoubleByteCharactersWhole)
{
    // 0x81 0x61 is a character whose trail byte is 'a'.
    std::string text = "com5:\x81" "a\xB1\xED" "b\x81";
    ExactBuffer buffer(text.size() + 1, text);
    UpperCaseAscii(buffer.Get());
    EXPECT_EQ("COM5:\x81" "a\xB1\xED" "B\x81", buffer.Text());
}

TEST(ReadPortNumber, OddPortNames)
{
    const struct {
        std::string data;
        int result;
        long number;
    } cases[] = {
        {Sz("COM5"), 1, 5},
        {Sz("COM12"), 1, 12},
        {Sz("COM"), 1, 0},
        {Sz("COM0"), 1, 0},
        {Sz("COM 7"), 1, 7},
        {Sz("COM-3"), 1, -3},
        {Sz("COM+4"), 1, 4},
        {Sz("COM5x"), 1, 5},
        {Sz("COM99999999999"), 1, 0x7FFFFFFFL},
        {"COM8", 1, 8},                               // stored without a terminator
        {Sz("\xD5\x5C" "5"), 1, 0},                   // three bytes, nothing behind them
        {Sz(""), 1, 0},
        {"COM" + std::string(257, '1'), 1, 0x7FFFFFFFL},  // 260 bytes fill the text
        {"COM" + std::string(258, '1'), 0, 0},        // 261 bytes: too long, shown
    };
    for (const auto& c : cases) {
        StandinRegClear();
        StandinClearBoxes();
        StandinRegSetValue(kEnum + "\\6&1\\Device Parameters", "PortName", REG_SZ, c.data);
        HKEY device = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnum.c_str(), 0, KEY_READ, &device));
        RegistryAccessor accessor(12);
        long number = -99;
        EXPECT_EQ(c.result, accessor.ReadPortNumber(device, "6&1", &number)) << Show(c.data);
        EXPECT_EQ(c.number, number) << Show(c.data);
        EXPECT_EQ(c.result ? 0u : 1u, StandinBoxes().size()) << Show(c.data);
        RegCloseKey(device);
        EXPECT_EQ(0, StandinOpenKeys());
    }
}

std::string ComDb(size_t size, std::initializer_list<std::pair<size_t, BYTE>> bytes)
{
    std::string data(size, '\0');
    for (const auto& b : bytes) data[b.first] = static_cast<char>(b.second);
    return data;
}

TEST(ReleaseComDbPort, ClearsOnlyTheOneBitInsideTheValue)
{
    const struct {
        std::string before;
        DWORD type;
        long port;
        int result;
        std::string after;
    } cases[] = {
        {ComDb(32, {{0, 0x1F}}), REG_BINARY, 5, 1, ComDb(32, {{0, 0x0F}})},
        {ComDb(32, {{0, 0x1F}}), REG_BINARY, 1, 1, ComDb(32, {{0, 0x1E}})},
        {ComDb(32, {{0, 0x80}, {1, 0x01}}), REG_BINARY, 8, 1, ComDb(32, {{1, 0x01}})},
        {ComDb(32, {{0, 0x80}, {1, 0x01}}), REG_BINARY, 9, 1, ComDb(32, {{0, 0x80}})},
        {ComDb(32, {{2, 0xFF}}), REG_NONE, 20, 1, ComDb(32, {{2, 0xF7}})},  // type kept
        {ComDb(32, {{31, 0x80}}), REG_BINARY, 256, 1, ComDb(32, {})},
        {ComDb(32, {{31, 0xFF}}), REG_BINARY, 257, 1, ComDb(32, {{31, 0xFF}})},  // beyond the value
        {ComDb(32, {{0, 0xFF}}), REG_BINARY, 0, 1, ComDb(32, {{0, 0xFF}})},
        {ComDb(32, {{0, 0xFF}}), REG_BINARY, -1, 1, ComDb(32, {{0, 0xFF}})},
        {ComDb(32, {{0, 0xFF}}), REG_BINARY, 0x7FFFFFFFL, 1, ComDb(32, {{0, 0xFF}})},
        {ComDb(1, {{0, 0x01}}), REG_BINARY, 1, 1, ComDb(1, {})},
        {ComDb(260, {{259, 0x80}}), REG_BINARY, 2080, 1, ComDb(260, {})},
        {ComDb(261, {{0, 0x01}}), REG_BINARY, 1, 0, ComDb(261, {{0, 0x01}})},  // too long: shown
    };
    for (const auto& c : cases) {
        StandinRegClear();
        StandinClearBoxes();
        StandinRegSetValue(kArbiter, "ComDB", c.type, c.before);
        RegistryPurger purger(12);
        EXPECT_EQ(c.result, purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, c.port)) << c.port;
        DWORD type = 0;
        std::string after;
        ASSERT_TRUE(StandinRegGetValue(kArbiter, "ComDB", &type, &after));
        EXPECT_EQ(c.after, after) << c.port;
        EXPECT_EQ(c.type, type) << c.port;
        EXPECT_EQ(c.result ? 0u : 1u, StandinBoxes().size()) << c.port;
        EXPECT_EQ(0, StandinOpenKeys());
    }
    // Without the arbiter key nothing is written and nothing shown.
    StandinRegClear();
    StandinClearBoxes();
    RegistryPurger purger(12);
    EXPECT_EQ(1, purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, 3));
    EXPECT_FALSE(StandinRegKeyExists(kArbiter));
    EXPECT_TRUE(StandinBoxes().empty());
}

// The phone's modem port COM1 beside ports it must not touch.
void SeedPorts()
{
    StandinRegClear();
    StandinRegSetValue(kEnum + "\\6&1\\Device Parameters", "PortName", REG_SZ, Sz("COM1"));
    StandinRegCreateKey(kEnum + "\\6&2");  // an instance without a port
    StandinRegSetValue(kArbiter, "ComDB", REG_BINARY, ComDb(32, {{0, 0x1F}, {1, 0x02}}));
    for (const char* name : {"COM10:", "COM1:", "COM11:", "LPT1:", "XCOM1:", "FILE:", "COM1"})
        StandinRegSetValue(kPorts, name, REG_SZ, Sz("9600,n,8,1"));
}

const std::vector<std::string> kOtherPorts = {"COM10:", "COM11:", "LPT1:", "FILE:"};

TEST(ReleaseDevicePorts, ReleasesThePhonesPortAndSparesTheOthers)
{
    SeedPorts();
    RegistryPurger purger(12);
    EXPECT_EQ(1, purger.ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB, "VID_1B3F&PID_5C13&Mi_03", IDS_CONTROL));
    EXPECT_EQ(kOtherPorts, StandinRegValueNames(kPorts));
    std::string comDb;
    StandinRegGetValue(kArbiter, "ComDB", nullptr, &comDb);
    EXPECT_EQ(ComDb(32, {{0, 0x1E}, {1, 0x02}}), comDb);
    EXPECT_TRUE(StandinBoxes().empty());
    EXPECT_EQ(0, StandinOpenKeys());
}

TEST(ReleaseDevicePorts, EveryFailingRegistryCallIsShownOnceAndTouchesNothingElse)
{
    SeedPorts();
    RegistryPurger probe(12);
    StandinFailRegistryCall(-1, 0);
    probe.ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB, "VID_1B3F&PID_5C13&Mi_03", IDS_CONTROL);
    const int calls = StandinRegistryCallsSeen();
    ASSERT_GT(calls, 10);
    for (int i = 0; i < calls; ++i) {
        SeedPorts();
        StandinClearBoxes();
        StandinFailRegistryCall(i, ERROR_ACCESS_DENIED);
        RegistryPurger purger(12);
        purger.ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB, "VID_1B3F&PID_5C13&Mi_03", IDS_CONTROL);
        StandinFailRegistryCall(-1, 0);
        EXPECT_EQ(0, StandinOpenKeys()) << "call " << i;
        ASSERT_LE(StandinBoxes().size(), 1u) << "call " << i;
        if (!StandinBoxes().empty()) {
            EXPECT_EQ("System message 5.\r\n", StandinBoxes()[0].text) << "call " << i;
            EXPECT_EQ("Error", StandinBoxes()[0].caption);
        }
        std::vector<std::string> left = StandinRegValueNames(kPorts);
        for (const std::string& other : kOtherPorts)
            EXPECT_NE(left.end(), std::find(left.begin(), left.end(), other)) << other << ", call " << i;
        std::string comDb;
        StandinRegGetValue(kArbiter, "ComDB", nullptr, &comDb);
        EXPECT_EQ(0x1E, static_cast<BYTE>(comDb[0]) & 0x1E) << "call " << i;
        EXPECT_EQ(ComDb(32, {}).substr(2), comDb.substr(2)) << "call " << i;
        EXPECT_EQ(0x02, comDb[1]) << "call " << i;
    }
}

TEST(DeleteMatchingValues, PatternUpperCasedAdjacentMatchesAndDoubleByteNames)
{
    StandinRegClear();
    for (const std::string& name : {std::string("com5:"), std::string("COM5"), std::string("COM50:"),
                                    std::string("\x81" "COM5"), std::string("\xB1\xED" "COM5:"), std::string("LPT1:")})
        StandinRegSetValue(kPorts, name, REG_SZ, Sz("x"));
    char pattern[] = "com5";
    RegistryPurger purger(12);
    EXPECT_EQ(1, purger.DeleteMatchingValues(HKEY_LOCAL_MACHINE, kPorts.c_str(), pattern));
    EXPECT_STREQ("COM5", pattern);
    // "\x81" "C" is one character, so "\x81" "COM5" holds no "COM5".
    std::vector<std::string> expected = {"COM50:", "\x81" "COM5", "LPT1:"};
    EXPECT_EQ(expected, StandinRegValueNames(kPorts));
    EXPECT_TRUE(StandinBoxes().empty());
    EXPECT_EQ(0, StandinOpenKeys());
}

}  // namespace
