// What the roads cannot reach on Wine: each test fakes at most one import for one case
// and says why in its first line.
#include <windows.h>
#include <sddl.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include "regpurge/registry_purger.h"
#include "removal/removal.h"
#include "resources/ids.h"
#include "shell/app.h"
#include "shell/osclass.h"
#include "shell/text.h"
#include "support/box_recorder.h"
#include "support/seed.h"
#include "wizard/install_wizard.h"

namespace {

bool Exists(const std::string& path) { return !ExportRegistry({path}).empty(); }

BOOL WINAPI UsersOnlyToken(HANDLE, TOKEN_INFORMATION_CLASS cls, LPVOID out, DWORD length, PDWORD needed)
{
    static BYTE users[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(users);
    CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size);
    *needed = sizeof(TOKEN_GROUPS);
    if (cls != TokenGroups || length < *needed) return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    *static_cast<TOKEN_GROUPS*>(out) = {1, {{users, SE_GROUP_ENABLED | SE_GROUP_MANDATORY}}};
    return TRUE;
}

TEST(Rights, WithoutAdministratorsOnlyTheFlagIsResetAndTheBoxShown)
{
    // Wine's token always holds the Administrators group.
    ImportPatch token("advapi32.dll", "GetTokenInformation", reinterpret_cast<void*>(&UsersOnlyToken));
    ASSERT_TRUE(token.Applied());
    for (bool keyExists : {true, false}) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH);
        ASSERT_EQ(0, ApplySeed({keyExists ? "dword\t" PRODUCT_KEY_PATH "\tInstallFlag\t1" : ""}));
        for (const char* line : {"", "/R", "/I"}) {
            BoxRecorder boxes;
            EXPECT_EQ(0, RunProgram(GetModuleHandleA(nullptr), line));
            ASSERT_EQ(1u, boxes.Count()) << line << boxes.Describe();
            const RecordedBox& box = boxes.Boxes()[0];
            EXPECT_TRUE(box.style == MB_ICONINFORMATION && box.caption == PROGRAM_TITLE &&
                        box.text.find("TAVRO GSM/GPRS USB Driver") != std::string::npos) << boxes.Describe();
            std::vector<std::string> want;  // the flag is reset, the key never created
            if (keyExists) want = {"K " PRODUCT_KEY_PATH, "V " PRODUCT_KEY_PATH "\tInstallFlag\t4\t00000000"};
            EXPECT_EQ(want, ExportRegistry({PRODUCT_KEY_PATH})) << line;
        }
    }
}

int reportedServicePack;  // below 0: the query fails
BOOL WINAPI XpWithServicePack(OSVERSIONINFOA* info)
{
    auto* ex = reinterpret_cast<OSVERSIONINFOEXA*>(info);
    if (reportedServicePack < 0 || info->dwOSVersionInfoSize < sizeof(*ex)) return FALSE;
    ex->dwMajorVersion = 5, ex->dwMinorVersion = 1, ex->dwPlatformId = VER_PLATFORM_WIN32_NT;
    ex->wServicePackMajor = static_cast<WORD>(reportedServicePack);
    return TRUE;
}

TEST(InstructionText, XpBelowServicePackTwoGetsTheNewHardwareTexts)
{
    // Wine reports XP with service pack 3 only.
    ImportPatch version("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&XpWithServicePack));
    ASSERT_TRUE(version.Applied());
    for (reportedServicePack = -1; reportedServicePack <= 3; ++reportedServicePack) {
        const bool sp2 = reportedServicePack >= 2;  // -1: the query fails, which counts as below 2
        EXPECT_EQ(sp2 ? 15009u : 15002u, InstructionTextId(OsWinXP, 1)) << "SP" << reportedServicePack;
        EXPECT_EQ(sp2 ? 15010u : 15004u, InstructionTextId(OsWinXP, 0)) << "SP" << reportedServicePack;
    }
}

LPVOID WINAPI NoMemory(HANDLE, DWORD, SIZE_T) { return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr; }

TEST(Placeholders, APairThatCouldNotBeStoredFailsSubstitution)
{
    // An allocation failure cannot be provoked in the real program.
    Placeholders().Clear();
    {
        ImportPatch heap("kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(&NoMemory));
        ASSERT_TRUE(heap.Applied());
        Placeholders().AddPlaceholder("<%SERIES%>", "GSM");
    }
    Placeholders().AddPlaceholder("<%CATEGORY%>", "GSM/GPRS");
    char text[64] = "A <%SERIES%> phone";
    EXPECT_FALSE(Placeholders().SubstituteInBuffer(text, sizeof(text)));
    EXPECT_STREQ("A <%SERIES%> phone", text);
    // The placeholder's "%S" must reach the formatter as text, not as a directive.
    char shown[1024] = {};
    FormatText(IDS_TEXT_GENERAL_NEXT, shown);
    EXPECT_NE(nullptr, strstr(shown, "<%SERIES%>")) << shown;
}

const std::string kClasses = R"(SYSTEM\ControlSet001\Control\DeviceClasses\)";
std::string vanishing;  // a class key deleted just before the sweep opens it
decltype(&RegOpenKeyExA) realOpen;
LONG WINAPI OpenAfterTheKeyVanished(HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY key)
{
    if (name && vanishing == name) RegDeleteTreeA(parent, name), vanishing.clear();
    return realOpen(parent, name, options, access, key);
}

TEST(InterfaceSweep, AClassThatVanishesAfterTheListingIsSimplyAbsent)
{
    // A key cannot be made to vanish between listing and opening on the real program.
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kClasses.c_str());
    const std::string phone = kClasses + R"({B0000000-0000-0000-0000-000000000000}\##?#phone#1)";
    ASSERT_EQ(0, ApplySeed({"sz\t" + kClasses + "{A}\\##?#other#1\tDeviceInstance\tUSB\\VID_0403&PID_6001\\1",
                            "sz\t" + phone + "\tDeviceInstance\tUSB\\VID_1B3F&PID_5C13\\5&1"}));
    vanishing = "{A}";
    ImportPatch open("advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&OpenAfterTheKeyVanished));
    realOpen = reinterpret_cast<decltype(&RegOpenKeyExA)>(open.Original());
    BoxRecorder boxes;
    RegistryPurger(OsWinXP).PurgeDeviceInterfaces(HKEY_LOCAL_MACHINE, IDS_DEVICE_CLASSES, phoneIds, PHONE_ID_COUNT);
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    EXPECT_TRUE(vanishing.empty()) << "the class was never opened";
    EXPECT_FALSE(Exists(phone)) << "the class that moved into the slot was skipped";
}

TEST(InterfaceSweep, AFailingReadIsShownOncePerControlSet)
{
    // Nothing faked: a damaged registry, kept off the roads, whose second runs must show no box.
    const std::string damaged = R"(\Control\DeviceClasses\{C})";
    for (const char* set : {"ControlSet001", "ControlSet002", "CurrentControlSet"})
        ASSERT_EQ(0, ApplySeed({std::string("sz\tSYSTEM\\") + set + damaged + "\\##?#long#1\tDeviceInstance\tUSB\\" +
                                std::string(300, 'X')}));
    BoxRecorder boxes;
    RegistryPurger(OsWinXP).Purge();
    EXPECT_EQ(3u, boxes.Count()) << "one walk per control set, whatever the identifiers" << boxes.Describe();
    for (const RecordedBox& box : boxes.Boxes()) EXPECT_EQ(SystemMessage(ERROR_MORE_DATA), box.text);
    for (const char* set : {"ControlSet001", "ControlSet002"})
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string("SYSTEM\\") + set + damaged).c_str());
}

decltype(&RegDeleteKeyA) realDelete;
LONG WINAPI DeleteOnlyWithFullControl(HKEY parent, LPCSTR name)
{
    HKEY key = nullptr;  // Wine checks the key's DACL for everything but DELETE
    LONG status = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key);
    return status == ERROR_SUCCESS ? RegCloseKey(key), realDelete(parent, name) : status;
}

// Full control for LocalSystem, reading for the Administrators: a driver key as 2000 and XP protect it.
void Protect(const std::string& path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KA;;;SY)(A;;KR;;;BA)", SDDL_REVISION_1,
                                                                     &sd, nullptr));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd));
    RegCloseKey(key);
    LocalFree(sd);
}

TEST(DriverKeys, XpGrantsTheAdministratorsEachKeyBeforeDeletingIt)
{
    // Wine lets a key's owner delete it whatever its DACL says; Windows 2000 and XP protect driver keys.
    const std::string device = R"(SYSTEM\ControlSet001\Enum\USB\VID_1B3F&PID_5C13\5&1)";
    const std::string driver = R"(SYSTEM\ControlSet001\Control\Class\{36FC9E60-C465-11CF-8056-444553540000}\0021)";
    ImportPatch del("advapi32.dll", "RegDeleteKeyA", reinterpret_cast<void*>(&DeleteOnlyWithFullControl));
    realDelete = reinterpret_cast<decltype(&RegDeleteKeyA)>(del.Original());
    for (OsClass os : {OsWinXP, OsWinServer2003}) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, driver.c_str());
        ASSERT_EQ(0, ApplySeed({"sz\t" + device + "\tDriver\t{36FC9E60-C465-11CF-8056-444553540000}\\0021",
                                "sz\t" + driver + R"(\Settings)" + "\tPrefix\tAT"}));
        Protect(driver + R"(\Settings)");
        Protect(driver);
        BoxRecorder boxes;
        RegistryPurger(os).PurgeDriverKeysById(HKEY_LOCAL_MACHINE, R"(SYSTEM\ControlSet001\Enum\USB\VID_1B3F&PID_5C13)",
                                               IDS_CONTROL_CLASS);
        EXPECT_EQ(os != OsWinXP, Exists(driver)) << "OsClass " << os;
        EXPECT_EQ(os == OsWinXP ? 0u : 1u, boxes.Count()) << boxes.Describe();
    }
}

}  // namespace
