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
#include "staging/inf_stager.h"
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
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TAVRO");  // the seed made it: gone once empty
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

// Gives every key of the trees the DACL (the owner may always change it).
void SetDacl(const std::vector<std::string>& trees, const char* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr));
    for (const std::string& tree : trees)
        for (const std::string& line : ExportRegistry({tree})) {
            HKEY key = nullptr;
            if (line[0] == 'K' && !RegOpenKeyExA(HKEY_LOCAL_MACHINE, line.substr(2).c_str(), 0, WRITE_DAC, &key))
                RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd), RegCloseKey(key);
        }
    LocalFree(sd);
}

// Keys the test seeded, removed whatever their DACL, so that no test depends on another's leftovers.
void Remove(const std::vector<std::string>& trees)
{
    SetDacl(trees, "D:(A;;KA;;;BA)");
    for (const std::string& tree : trees) RegDeleteTreeA(HKEY_LOCAL_MACHINE, tree.c_str());
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
    Remove({kClasses + "{A}", kClasses + "{B0000000-0000-0000-0000-000000000000}"});
}

TEST(InterfaceSweep, AFailingReadIsShownOncePerControlSet)
{
    // Nothing faked: a damaged registry, kept off the roads, whose second runs must show no box.
    std::vector<std::string> damaged;
    for (const char* set : {"ControlSet001", "ControlSet002", "CurrentControlSet"}) {
        damaged.push_back(std::string("SYSTEM\\") + set + R"(\Control\DeviceClasses\{C})");
        ASSERT_EQ(0, ApplySeed({"sz\t" + damaged.back() + "\\##?#long#1\tDeviceInstance\tUSB\\" + std::string(300, 'X')}));
    }
    BoxRecorder boxes;
    RegistryPurger(OsWinXP).Purge();
    EXPECT_EQ(3u, boxes.Count()) << "one walk per control set, whatever the identifiers" << boxes.Describe();
    for (const RecordedBox& box : boxes.Boxes()) EXPECT_EQ(SystemMessage(ERROR_MORE_DATA), box.text);
    Remove(damaged);
}

decltype(&RegDeleteKeyA) realDelete;
LONG WINAPI DeleteOnlyWithFullControl(HKEY parent, LPCSTR name)
{
    HKEY key = nullptr;  // Wine checks the key's DACL for everything but DELETE
    LONG status = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key);
    return status == ERROR_SUCCESS ? RegCloseKey(key), realDelete(parent, name) : status;
}

TEST(Purge, EveryProtectedTreeGoesWithTheGrantsOf2000XpAnd2003)
{
    // Wine lets a key's owner delete it whatever its DACL says; 2000, XP and 2003 protect these trees, giving
    // the Administrators reading only. 2003 deletes driver keys without a grant, so those and the keys that
    // name them stay there for the next start.
    const std::string usb = R"(SYSTEM\ControlSet001\Enum\USB\VID_1B3F&PID_5C13)", cls = "{36FC9E60-C465-11CF-8056-444553540000}";
    const std::string driver = R"(SYSTEM\ControlSet001\Control\Class\)" + cls + R"(\0021)";
    const std::string legacy = R"(SYSTEM\ControlSet001\Enum\Root\LEGACY_TVYBUS)", service = R"(SYSTEM\ControlSet002\Services\TVymdm)";
    const std::string modem = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Unimodem\DeviceSpecific\TV4170K USB Modem::TAVRO::TAVRO)";
    const std::vector<std::string> trees = {usb, driver, legacy, service, modem};
    ImportPatch del("advapi32.dll", "RegDeleteKeyA", reinterpret_cast<void*>(&DeleteOnlyWithFullControl));
    realDelete = reinterpret_cast<decltype(&RegDeleteKeyA)>(del.Original());
    for (OsClass os : {OsWin2000, OsWinXP, OsWinServer2003}) {
        ASSERT_EQ(0, ApplySeed({"sz\t" + usb + "\\5&1\tDriver\t" + cls + "\\0021", "dword\t" + usb + "\\5&1\\Device Parameters\tx\t1",
                                "sz\t" + driver + "\\Settings\tPrefix\tAT", "sz\t" + legacy + "\\0000\tService\tTVybus",
                                "dword\t" + service + "\\Enum\tCount\t0", "sz\t" + modem + "\\Init\t1\tATZ"}));
        SetDacl(trees, "D:P(A;;KA;;;SY)(A;;KR;;;BA)");
        BoxRecorder boxes;
        RegistryPurger(os).Purge();
        // LEGACY_ keys are the purge's on 2000 only.
        const std::vector<bool> stays = {os == OsWinServer2003, os == OsWinServer2003, os != OsWin2000, false, false};
        for (size_t i = 0; i < trees.size(); ++i) EXPECT_EQ(stays[i], Exists(trees[i])) << trees[i] << ", OsClass " << os;
        EXPECT_EQ(os == OsWinServer2003 ? 1u : 0u, boxes.Count()) << boxes.Describe();
        Remove(trees);
    }
}

HDEVINFO(WINAPI* realList)(const GUID*, PCSTR, HWND, DWORD);
HDEVINFO WINAPI NothingPresent(const GUID* cls, PCSTR enumerator, HWND window, DWORD flags)
{
    return flags & DIGCF_PRESENT ? SetupDiCreateDeviceInfoList(nullptr, nullptr) : realList(cls, enumerator, window, flags);
}

TEST(DeviceSteps, Nt6RemovesTheNodesOfAPhoneThatIsNotPluggedIn)
{
    // Wine counts every node as present.
    const std::string usb = R"(SYSTEM\CurrentControlSet\Enum\USB\VID_1B3F&PID_5C13)";
    const std::string cls = "\t{4D36E978-E325-11CE-BFC1-08002BE10318}\t";
    ASSERT_EQ(0, ApplySeed({"device\tUSB\\VID_1B3F&PID_5C13\\5&9" + cls + "Phone\tUSB\\VID_1B3F&PID_5C13",
                            "device\tUSB\\VID_1B3F&PID_5C13&Mi_03\\6&9" + cls + "Port\tUSB\\VID_1B3F&PID_5C13&MI_03"}));
    ImportPatch list("setupapi.dll", "SetupDiGetClassDevsA", reinterpret_cast<void*>(&NothingPresent));
    realList = reinterpret_cast<decltype(realList)>(list.Original());
    BoxRecorder boxes;
    EXPECT_EQ(0, RemoveUsbDevice(PHONE_ID)) << "XP's step removes connected devices only";
    EXPECT_TRUE(Exists(usb + R"(\5&9)"));
    EXPECT_EQ(1, RemoveUsbFunctionDevices());
    EXPECT_FALSE(Exists(usb + R"(\5&9)") || Exists(usb + R"(&Mi_03\6&9)"));
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    Remove({usb, usb + "&Mi_03"});
}

// What the Windows a test plays has of the functions the program looks up at run time.
std::vector<std::string> searchCalls;  // the DLL search calls made, as "name(argument)"
bool hasDefaultDirectories, hasWow64;
BOOL WINAPI SetDefault(DWORD flags) { return searchCalls.push_back("SetDefaultDllDirectories(" + std::to_string(flags) + ")"), TRUE; }
BOOL WINAPI SetDirectory(LPCSTR path) { return searchCalls.push_back(std::string("SetDllDirectoryA(") + (path ? path : "null") + ")"), TRUE; }
BOOL WINAPI UnderWow64(HANDLE, PBOOL wow64) { return *wow64 = TRUE; }
FARPROC(WINAPI* realLookup)(HMODULE, LPCSTR);
FARPROC WINAPI Lookup(HMODULE module, LPCSTR name)
{
    const std::string wanted = HIWORD(name) ? name : "";
    if (wanted == "SetDefaultDllDirectories") return hasDefaultDirectories ? reinterpret_cast<FARPROC>(&SetDefault) : nullptr;
    if (wanted == "SetDllDirectoryA") return reinterpret_cast<FARPROC>(&SetDirectory);
    if (wanted == "IsWow64Process") return hasWow64 ? reinterpret_cast<FARPROC>(&UnderWow64) : nullptr;
    return realLookup(module, name);
}

TEST(Start, TheDllSearchLeavesTheProgramAndCurrentFolders)
{
    // Which of the two functions a Windows has cannot be chosen under Wine.
    ImportPatch lookup("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&Lookup));
    realLookup = reinterpret_cast<decltype(realLookup)>(lookup.Original());
    for (bool newer : {true, false}) {
        hasDefaultDirectories = newer, searchCalls.clear();
        RestrictDllSearch();
        EXPECT_EQ(std::vector<std::string>{newer ? "SetDefaultDllDirectories(2048)" : "SetDllDirectoryA()"}, searchCalls);
    }
}

TEST(Start, On64BitWindowsOneBoxAndNothingChanged)
{
    // The 64-bit test build never runs under WOW64, 32-bit Wine only where the kernel runs 32-bit programs.
    ImportPatch lookup("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&Lookup));
    realLookup = reinterpret_cast<decltype(realLookup)>(lookup.Original());
    const std::string device = R"(SYSTEM\CurrentControlSet\Enum\USB\VID_1B3F&PID_5C13\5&1)";
    const char file[] = R"(C:\windows\system32\drivers\TVybus.sys)";
    ASSERT_EQ(0, ApplySeed({"dword\t" PRODUCT_KEY_PATH "\tInstallFlag\t1", "sz\t" + device + "\tService\tTVybus",
                            std::string("file\t") + file + "\t00"}));
    const std::vector<std::string> seeded = ExportRegistry({PRODUCT_KEY_PATH, device});
    wchar_t wide[256] = {};  // the refusal as the box gets it, in the code page of the tests' Chinese Windows
    char text[512] = {};
    MultiByteToWideChar(CP_UTF8, 0, "TAVRO GSM/GPRS USB驱动程序仅适用于32位Windows，\n无法在64位Windows上安装。\n"
                                    "安装程序未对您的电脑做任何更改。", -1, wide, 255);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, 511, nullptr, nullptr);
    hasWow64 = true;
    for (const char* line : {"/R", "/I", ""}) {  // /R first: a missing check fails before a wizard opens
        BoxRecorder boxes;
        RunProgram(GetModuleHandleA(nullptr), line);
        ASSERT_EQ(1u, boxes.Count()) << line << boxes.Describe();
        EXPECT_TRUE(boxes.Boxes()[0].style == MB_ICONERROR && boxes.Boxes()[0].caption == PROGRAM_TITLE);
        EXPECT_EQ(text, boxes.Boxes()[0].text) << line;
        EXPECT_EQ(seeded, ExportRegistry({PRODUCT_KEY_PATH, device})) << line;
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(file)) << line;
    }
    hasWow64 = false;  // as on 2000 and XP before service pack 2: the removal runs as it always did
    BoxRecorder boxes;
    RunProgram(GetModuleHandleA(nullptr), "/R");
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(file));
    EXPECT_EQ(std::vector<std::string>({"K " PRODUCT_KEY_PATH, "V " PRODUCT_KEY_PATH "\tInstallFlag\t4\t00000000"}),
              ExportRegistry({PRODUCT_KEY_PATH}));
    Remove({"SOFTWARE\\TAVRO", device});
}

std::vector<std::string> copied;  // the packages handed to the copy
BOOL WINAPI NoCatalog(PCSTR path, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*)
{
    copied.push_back(path);
    return SetLastError(0xE000022F), FALSE;  // ERROR_NO_CATALOG_FOR_OEM_INF, which Wine never answers
}

TEST(Staging, APackageWithoutItsCatalogStopsTheCopiesInSilence)
{
    // Wine reports a missing catalog as a missing file (the road's case).
    ImportPatch copy("setupapi.dll", "SetupCopyOEMInfA", reinterpret_cast<void*>(&NoCatalog));
    lstrcpyA(App().programDir, "C:\\Q9\\Setup\\");
    BoxRecorder boxes;
    EXPECT_EQ(0, InfStager(OsWinXP).CopyPackagesToStore());
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    EXPECT_EQ(std::vector<std::string>{"C:\\Q9\\Drivers\\TVybus.inf"}, copied);
}

}  // namespace
