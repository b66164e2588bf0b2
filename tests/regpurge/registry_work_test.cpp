// How much registry work the walks over a device's instances do: a device
// with several instances must not cost one Class-key open or two port-name
// reads per instance.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "regpurge/seed.h"
#include "resources/ids.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/import_patch.h"
#include "support/registry.h"

namespace {

using seed::ExpectSystemErrors;
using Strings = std::vector<std::string>;

// Names of the values the code under test queries, in order.
class QueryLog {
public:
    QueryLog() : patch_("advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(&Query))
    {
        current_ = this;
    }
    ~QueryLog() { current_ = nullptr; }
    long Count(const std::string& name) const { return std::count(names_.begin(), names_.end(), name); }

private:
    static LONG WINAPI Query(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
    {
        current_->names_.push_back(name ? name : "");
        auto original = reinterpret_cast<decltype(&RegQueryValueExA)>(current_->patch_.Original());
        return original(key, name, reserved, type, data, size);
    }
    static QueryLog* current_;
    ImportPatch patch_;
    Strings names_;
};
QueryLog* QueryLog::current_ = nullptr;

long Opens(const seed::RegistryLog& log, const std::string& name)
{
    return std::count_if(log.opened.begin(), log.opened.end(),
                         [&](const std::string& opened) { return opened.rfind(name + " ", 0) == 0; });
}

Strings Deletions(const seed::RegistryLog& log)
{
    Strings names;
    for (const std::string& event : log.events)
        if (event.rfind("delete ", 0) == 0) names.push_back(event.substr(7));
    return names;
}

class RegistryWorkTest : public seed::RegistryTest {
protected:
    const std::string device = seed::EnumUsb(0, seed::kPhone + "&Mi_03");
    const std::string modem = seed::kSet[0] + "\\Control\\Class\\" + seed::kModemClass;
};

TEST_F(RegistryWorkTest, DriverKeyWalksOpenTheClassKeyOnce)
{
    // Three instances name driver keys; the first names one that is gone.
    ASSERT_TRUE(reg::SetString(device + "\\1", "Driver", seed::kModemClass + "\\0007"));
    ASSERT_TRUE(reg::SetString(device + "\\2", "Driver", seed::kModemClass + "\\0003"));
    ASSERT_TRUE(reg::SetString(device + "\\3", "Driver", seed::kModemClass + "\\0004"));
    ASSERT_TRUE(reg::SetString(modem + "\\0003", "InfPath", "oem12.inf"));
    ASSERT_TRUE(reg::SetString(modem + "\\0004", "InfPath", "oem13.inf"));

    {
        RegistryAccessor accessor(OsWinXP);
        char stem[PATH_BUFFER] = {0};
        seed::RegistryLog log;
        KeyBalance balance;
        EXPECT_EQ(1, accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, device.c_str(), stem));
        EXPECT_EQ(0, balance.Balance());
        EXPECT_STREQ("oem12", stem);
        EXPECT_EQ(1, Opens(log, "Class")) << "the Class key of both walked instances";
    }
    {
        RegistryPurger purger(OsWinXP);
        seed::RegistryLog log;
        KeyBalance balance;
        EXPECT_EQ(1, purger.PurgeDriverKeysById(HKEY_LOCAL_MACHINE, device.c_str(), IDS_CONTROL_CLASS));
        EXPECT_EQ(0, balance.Balance());
        EXPECT_EQ(1, Opens(log, "Class"));
        EXPECT_EQ((Strings{"0003", "0004"}), Deletions(log));
    }
    EXPECT_FALSE(reg::KeyExists(modem + "\\0003"));
    EXPECT_FALSE(reg::KeyExists(modem + "\\0004"));
    ExpectSystemErrors(boxes, {});
}

TEST_F(RegistryWorkTest, PortReleaseReadsEachPortNameOnce)
{
    const std::string arbiter = seed::kSet[0] + "\\Control\\COM Name Arbiter";
    ASSERT_TRUE(reg::SetString(device + "\\1\\Device Parameters", "PortName", "COM5"));
    ASSERT_TRUE(reg::SetString(device + "\\2\\Device Parameters", "PortName", "COM7"));
    ASSERT_TRUE(reg::SetString(device + "\\3", "Service", "no port"));
    ASSERT_TRUE(reg::SetBinary(arbiter, "ComDB", std::vector<BYTE>(32, 0xFF), REG_BINARY));
    for (const char* name : {"COM5:", "COM7:", "COM50:"}) ASSERT_TRUE(reg::SetString(seed::kPorts, name, "9600,n,8,1"));

    RegistryPurger purger(OsWinXP);
    QueryLog queries;
    KeyBalance balance;
    EXPECT_EQ(1, purger.ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB, (seed::kPhone + "&Mi_03").c_str(),
                                           IDS_CONTROL));
    EXPECT_EQ(0, balance.Balance());
    EXPECT_EQ(2, queries.Count("PortName"));
    std::vector<BYTE> expected(32, 0xFF);
    expected[0] = 0xFF & ~0x10 & ~0x40;  // ports 5 and 7
    EXPECT_EQ(expected, reg::GetValue(arbiter, "ComDB"));
    EXPECT_FALSE(reg::ValueExists(seed::kPorts, "COM5:"));
    EXPECT_FALSE(reg::ValueExists(seed::kPorts, "COM7:"));
    EXPECT_TRUE(reg::ValueExists(seed::kPorts, "COM50:"));
    ExpectSystemErrors(boxes, {});
}

TEST(PortNumberOf, ReadsTheNumberAfterThreeCharacters)
{
    const struct {
        const char* name;
        long number;
    } cases[] = {{"COM5", 5}, {"COM12", 12}, {"COM", 0}, {"", 0}, {"COM 7x", 7}, {"COM-3", -3},
                 {"COMx", 0}, {"COM99999999999", 0x7FFFFFFFL}};
    for (const auto& c : cases) EXPECT_EQ(c.number, PortNumberOf(c.name)) << c.name;
}

}  // namespace
