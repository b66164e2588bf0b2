#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regpurge/registry_purger.h"
#include "regpurge/seed.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/registry.h"

namespace {

using seed::ExpectSystemErrors;
using seed::kSet;
using Bytes = std::vector<BYTE>;
using Strings = std::vector<std::string>;

const std::string kMi01 = seed::kPhone + "&Mi_01";
const std::string kMi03 = seed::kPhone + "&Mi_03";
const std::string kMi05 = seed::kPhone + "&Mi_05";

// The setup class of each control set's phone drivers.
std::string ClassOf(int set) { return set == 2 ? seed::kTestClass : seed::kModemClass; }
std::string ClassKey(int set) { return kSet[set] + "\\Control\\Class\\" + ClassOf(set); }
std::string Arbiter(int set) { return kSet[set] + "\\Control\\COM Name Arbiter"; }
std::string Interfaces(int set) { return kSet[set] + "\\Control\\DeviceClasses\\" + seed::kTestInterface; }
std::string Root(int set) { return kSet[set] + "\\Enum\\Root"; }

const char* const kPortOf[3] = {"COM5", "COM7", "COM5"};

// An earlier installation in all three control sets, and things that look
// like it but belong to something else.
void SeedEarlierInstallation()
{
    struct Instance {
        std::string id;
        const char* name;
        const char* number;
        const char* port;
    };
    for (int set = 0; set < 3; ++set) {
        Instance instances[] = {{seed::kPhone, "5&1", "0000", nullptr},
                                {kMi01, "6&1&1", "0002", nullptr},
                                {kMi03, "6&1&3", "0001", kPortOf[set]},
                                {kMi05, "6&1&5", "0003", "COM12"},
                                {"VID_1B3F&PID_5C14", "1", "0009", "COM9"},
                                {"VID_1B3F&PID_5C130", "1", "0009", "COM9"}};
        for (const Instance& i : instances) {
            std::string path = seed::EnumUsb(set, i.id) + "\\" + i.name;
            ASSERT_TRUE(reg::SetString(path, "Driver", ClassOf(set) + "\\" + i.number));
            if (i.port) {
                ASSERT_TRUE(reg::SetString(path + "\\Device Parameters", "PortName", i.port));
            }
        }
        const char* infs[][2] = {{"0000", "oem12.inf"}, {"0001", "oem14.inf"}, {"0002", "oem12.inf"},
                                 {"0003", "oem15.inf"}, {"0009", "oem1.inf"}};
        for (auto& inf : infs) {
            ASSERT_TRUE(reg::SetString(ClassKey(set) + "\\" + inf[0], "InfPath", inf[1]));
            ASSERT_TRUE(reg::SetString(ClassKey(set) + "\\" + inf[0] + "\\Settings", "Init", "AT"));
        }
        Bytes database(32, 0);
        database[0] = 0x50;  // ports 5 and 7
        database[1] = 0x09;  // ports 9 and 12
        ASSERT_TRUE(reg::SetBinary(Arbiter(set), "ComDB", database));
        const char* interfaces[][2] = {{"phone-a", "USB\\VID_1B3F&PID_5C13\\5&1"},
                                       {"phone-b", "USB\\VID_1B3F&PID_5C13&MI_03\\6&1&3"},
                                       {"phone-c", "usb\\vid_1b3f&pid_5c13&mi_05\\6&1&5"},
                                       {"other", "USB\\VID_1B3F&PID_5C14\\1"}};
        for (auto& i : interfaces) {
            ASSERT_TRUE(reg::SetString(Interfaces(set) + "\\" + i[0], "DeviceInstance", i[1]));
            ASSERT_TRUE(reg::CreateKey(Interfaces(set) + "\\" + i[0] + "\\#\\Control"));
        }
    }
    ASSERT_TRUE(reg::SetString(Root(0) + "\\LEGACY_TVYMDM\\0000", "Service", "TVymdm"));
    ASSERT_TRUE(reg::SetString(Root(2) + "\\LEGACY_TVybus\\0000", "Service", "TVybus"));
    ASSERT_TRUE(reg::SetString(Root(1) + "\\LEGACY_TVother\\0000", "Service", "TVother"));
    for (const char* service : {"TVybus", "TVymdm", "Other"})
        ASSERT_TRUE(reg::SetString(kSet[1] + "\\Services\\" + service + "\\Enum", "Count", "1"));
    ASSERT_TRUE(reg::SetString(kSet[0] + "\\Services\\TVymdm", "Start", "3"));
    ASSERT_TRUE(reg::SetString(kSet[2] + "\\Services\\TVybus", "Start", "3"));
    for (const char* name : {"inf\\oem12.inf", "INF\\OEM12.PNF", "inf\\oem14.inf", "inf\\oem15.inf",
                             "inf\\oem123.inf", "inf\\oem1.inf", "inf\\oem13.inf"})
        ASSERT_TRUE(reg::SetDword(seed::kLastGood, name, 1));
    for (const char* name : {"COM5:", "COM7:", "COM12:", "COM50:", "COM9:"})
        ASSERT_TRUE(reg::SetString(seed::kPorts, name, "9600,n,8,1"));
    ASSERT_TRUE(reg::SetString(seed::kUnimodem + "\\" + seed::kModemKey + "\\Init", "1", "AT"));
    ASSERT_TRUE(reg::SetString(seed::kUnimodem + "\\Other Modem", "1", "AT"));
}

// Everything the purge may touch, for comparing before and after.
std::string ExportAll()
{
    std::string all = reg::Export(kSet[0]) + reg::Export(kSet[1]) + reg::Export(seed::kLastGoodRoot) +
                      reg::Export(seed::kUnimodem) + reg::Export(seed::kPorts);
    for (const std::string& path : seed::CurrentSetScratch()) all += reg::Export(path);
    return all;
}

enum Steps { Always = 1, XpOnly = 2, W2kOnly = 4, Never = 0 };

struct Probe {
    std::string path;
    const char* value;  // nullptr: the key itself
    int goneWith;
};

std::vector<Probe> Probes()
{
    std::vector<Probe> probes;
    for (int set = 0; set < 3; ++set) {
        for (const std::string& id : {seed::kPhone, kMi01, kMi03, kMi05})
            probes.push_back({seed::EnumUsb(set, id), nullptr, Always});
        for (const char* id : {"VID_1B3F&PID_5C14", "VID_1B3F&PID_5C130"})
            probes.push_back({seed::EnumUsb(set, id), nullptr, Never});
        for (const char* number : {"0000", "0001", "0002", "0003"})
            probes.push_back({ClassKey(set) + "\\" + number, nullptr, Always});
        probes.push_back({ClassKey(set) + "\\0009", nullptr, Never});
        for (const char* name : {"phone-a", "phone-b", "phone-c"})
            probes.push_back({Interfaces(set) + "\\" + name, nullptr, Always});
        probes.push_back({Interfaces(set) + "\\other", nullptr, Never});
    }
    probes.push_back({Root(0) + "\\LEGACY_TVYMDM", nullptr, W2kOnly});
    probes.push_back({Root(2) + "\\LEGACY_TVybus", nullptr, W2kOnly});
    probes.push_back({Root(1) + "\\LEGACY_TVother", nullptr, Never});
    probes.push_back({kSet[1] + "\\Services\\TVybus", nullptr, Always});
    probes.push_back({kSet[1] + "\\Services\\TVymdm", nullptr, Always});
    probes.push_back({kSet[1] + "\\Services\\Other", nullptr, Never});
    probes.push_back({kSet[0] + "\\Services\\TVymdm", nullptr, Never});
    probes.push_back({kSet[2] + "\\Services\\TVybus", nullptr, Never});
    for (const char* name : {"inf\\oem12.inf", "INF\\OEM12.PNF", "inf\\oem14.inf", "inf\\oem15.inf"})
        probes.push_back({seed::kLastGood, name, XpOnly});
    for (const char* name : {"inf\\oem123.inf", "inf\\oem1.inf", "inf\\oem13.inf"})
        probes.push_back({seed::kLastGood, name, Never});
    for (const char* name : {"COM5:", "COM7:", "COM12:"}) probes.push_back({seed::kPorts, name, Always});
    for (const char* name : {"COM50:", "COM9:", "COM1:"}) probes.push_back({seed::kPorts, name, Never});
    probes.push_back({seed::kUnimodem + "\\" + seed::kModemKey, nullptr, Always});
    probes.push_back({seed::kUnimodem + "\\Other Modem", nullptr, Never});
    return probes;
}

bool Exists(const Probe& p) { return p.value ? reg::ValueExists(p.path, p.value) : reg::KeyExists(p.path); }

class PurgeTest : public testing::TestWithParam<OsClass> {
protected:
    RegistryScratch scratch{seed::AllScratch()};
    seed::SavedValues ports{seed::kPorts};
    BoxRecorder boxes;
};

TEST_P(PurgeTest, RemovesTheEarlierInstallationOnce)
{
    const OsClass os = GetParam();
    SeedEarlierInstallation();
    if (HasFatalFailure()) return;
    for (const Probe& p : Probes()) ASSERT_TRUE(Exists(p)) << "seeded: " << p.path << " " << (p.value ? p.value : "");
    std::string before = ExportAll();

    seed::RegistryLog log;
    {
        KeyBalance balance;
        RegistryPurger purger(os);
        EXPECT_NE(0, purger.Purge());
        EXPECT_EQ(0, balance.Balance());
    }
    ExpectSystemErrors(boxes, {});

    if (os < OsWin2000) {
        EXPECT_EQ(before, ExportAll()) << "nothing is purged before Windows 2000";
        EXPECT_TRUE(log.Events().empty());
        return;
    }
    int acting = Always | (os == OsWinXP ? XpOnly : 0) | (os == OsWin2000 ? W2kOnly : 0);
    for (const Probe& p : Probes())
        EXPECT_EQ((p.goneWith & acting) != 0, !Exists(p))
            << (Exists(p) ? "left: " : "deleted: ") << p.path << " " << (p.value ? p.value : "");

    // Each control set releases the ports its own instances hold.
    Bytes expected(32, 0);
    for (int set = 0; set < 3; ++set) {
        expected[0] = set == 1 ? 0x10 : 0x40;  // COM7 or COM5 released
        expected[1] = 0x01;                    // COM12 released, COM9 kept
        EXPECT_EQ(expected, reg::GetValue(Arbiter(set), "ComDB")) << kSet[set];
    }

    // Driver keys are granted only where Windows protects them; the trees
    // deleted by name always are.
    bool classGranted = false, serviceGranted = false;
    for (const std::string& path : log.Grants()) {
        if (path.find("\\Control\\Class\\") != std::string::npos) classGranted = true;
        if (path == kSet[1] + "\\Services\\TVybus\\Enum") serviceGranted = true;
    }
    EXPECT_EQ(os == OsWin2000 || os == OsWinXP, classGranted);
    EXPECT_TRUE(serviceGranted);

    std::string after = ExportAll();
    BoxRecorder second;
    {
        KeyBalance balance;
        RegistryPurger purger(os);
        EXPECT_NE(0, purger.Purge());
        EXPECT_EQ(0, balance.Balance());
    }
    EXPECT_EQ(after, ExportAll()) << "a second purge finds nothing more";
    ExpectSystemErrors(second, {});
}

INSTANTIATE_TEST_SUITE_P(OsClasses, PurgeTest,
                         testing::Values(OsNtOther, OsWin2000, OsWinXP, OsWinServer2003, OsWinLater),
                         [](const testing::TestParamInfo<OsClass>& info) {
                             return "OsClass" + std::to_string(info.param);
                         });

TEST(PurgeOnAFreshSystem, ShowsNothingAndChangesNothing)
{
    RegistryScratch scratch{seed::AllScratch()};
    seed::SavedValues ports{seed::kPorts};
    ASSERT_TRUE(reg::CreateKey(kSet[0] + "\\Enum\\USB"));
    ASSERT_TRUE(reg::CreateKey(kSet[0] + "\\Control\\Class"));
    std::string before = ExportAll();
    BoxRecorder boxes;
    for (OsClass os : {OsWin2000, OsWinXP, OsWinServer2003}) {
        RegistryPurger purger(os);
        EXPECT_EQ(1, purger.Purge());
    }
    EXPECT_EQ(before, ExportAll());
    ExpectSystemErrors(boxes, {});
}

}  // namespace
