#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "removal/removal.h"
#include "removal_fixtures.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/files.h"
#include "support/import_patch.h"
#include "support/registry.h"

namespace {

const char kProductKey[] = "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K";

TEST(ResetInstallFlag, ResetsOnlyAFlagThatIsThere)
{
    struct Case {
        const char* name;
        bool key;
        DWORD type;
        std::vector<BYTE> data;
        bool reset;  // ends as REG_DWORD 0
    };
    const std::vector<Case> cases = {
        {"no product key", false, 0, {}, false},
        {"key without flag", true, 0, {}, false},
        {"flag 1", true, REG_DWORD, {1, 0, 0, 0}, true},
        {"flag 0", true, REG_DWORD, {0, 0, 0, 0}, true},
        {"other number", true, REG_DWORD, {0xEF, 0xBE, 0xAD, 0xDE}, true},
        {"four bytes of another type", true, REG_BINARY, {1, 2, 3, 4}, true},
        {"eight bytes", true, REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryScratch scratch({"SOFTWARE\\TAVRO"});
        if (c.key) {
            ASSERT_TRUE(reg::CreateKey(kProductKey));
        }
        if (!c.data.empty()) {
            ASSERT_TRUE(reg::SetBinary(kProductKey, "InstallFlag", c.data, c.type));
        }
        BoxRecorder boxes;

        ResetInstallFlag();

        EXPECT_EQ(c.key, reg::KeyExists(kProductKey)) << "the key is never created";
        DWORD type = 0;
        std::vector<BYTE> after = reg::GetValue(kProductKey, "InstallFlag", &type);
        if (c.reset) {
            EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
            EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 0}), after);
        } else {
            EXPECT_EQ(c.data, after);
        }
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    }
}

// Top-level windows of the test that record the WM_DEVICECHANGE they get.
class TestWindows {
public:
    struct Received {
        HWND window;
        WPARAM wParam;
        LPARAM lParam;
    };

    TestWindows()
    {
        self = this;
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QuellinRemovalTestWindow";
        RegisterClassA(&windowClass);
    }
    ~TestWindows()
    {
        for (HWND window : windows_) {
            RemovePropA(window, "CDROMLauncher");
            DestroyWindow(window);
        }
        self = nullptr;
    }

    HWND Create(HWND parent = nullptr)
    {
        HWND window = CreateWindowExA(0, "QuellinRemovalTestWindow", "test",
                                      parent ? WS_CHILD : WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, parent, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        EXPECT_NE(nullptr, window);
        windows_.insert(windows_.begin(), window);  // children go first
        return window;
    }

    std::vector<Received> received;
    int For(HWND window) const
    {
        int n = 0;
        for (const Received& r : received) n += r.window == window ? 1 : 0;
        return n;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_DEVICECHANGE && self) {
            self->received.push_back({window, wParam, lParam});
            return TRUE;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static inline TestWindows* self = nullptr;
    std::vector<HWND> windows_;
};

TEST(NotifyLauncherWindows, OnlyTopLevelWindowsWithTheStringPropertyHearOfIt)
{
    TestWindows windows;
    HWND launcher = windows.Create();
    ASSERT_TRUE(SetPropA(launcher, "CDROMLauncher", reinterpret_cast<HANDLE>(1)));
    HWND atom = windows.Create();
    ASSERT_TRUE(SetPropA(atom, MAKEINTATOM(0x1234), reinterpret_cast<HANDLE>(1)));
    HWND longer = windows.Create();
    ASSERT_TRUE(SetPropA(longer, "CDROMLauncher2", reinterpret_cast<HANDLE>(1)));
    HWND plain = windows.Create();
    HWND child = windows.Create(plain);
    ASSERT_TRUE(SetPropA(child, "CDROMLauncher", reinterpret_cast<HANDLE>(1)));

    NotifyLauncherWindows();

    ASSERT_EQ(1u, windows.received.size());
    EXPECT_EQ(launcher, windows.received[0].window);
    EXPECT_EQ(0u, windows.received[0].wParam);
    EXPECT_EQ(0, windows.received[0].lParam);
    EXPECT_STREQ("CDROMLauncher", launcherName);
}

// Integer-atom names reach the callback as small numbers on Windows; Wine
// passes their "#nnnn" text instead, so a replaced EnumPropsA hands them over.
HWND atomWindow = nullptr;
BOOL WINAPI EnumPropsWithAtoms(HWND window, PROPENUMPROCA callback)
{
    if (window != atomWindow) return -1;
    callback(window, MAKEINTATOM(0x1234), reinterpret_cast<HANDLE>(1));
    callback(window, MAKEINTATOM(0xBFFF), reinterpret_cast<HANDLE>(1));
    callback(window, "CDROMLauncher", reinterpret_cast<HANDLE>(1));
    return TRUE;
}

TEST(NotifyLauncherWindows, IntegerAtomNamesAreSkipped)
{
    TestWindows windows;
    atomWindow = windows.Create();
    ImportPatch patch("user32.dll", "EnumPropsA", reinterpret_cast<void*>(&EnumPropsWithAtoms));
    ASSERT_TRUE(patch.Applied());

    NotifyLauncherWindows();

    EXPECT_EQ(1, windows.For(atomWindow));
    EXPECT_EQ(1u, windows.received.size());
}

// Records a setupapi or advapi32 call and lets it through.
template <int Tag, typename Signature>
class CallRecorder;
template <int Tag, typename R, typename... Args>
class CallRecorder<Tag, R(WINAPI*)(Args...)> {
public:
    using Hook = void (*)(Args...);
    CallRecorder(const char* dll, const char* function, Hook hook)
        : patch_(dll, function, reinterpret_cast<void*>(&Replacement))
    {
        EXPECT_TRUE(patch_.Applied()) << function;
        original_ = reinterpret_cast<R(WINAPI*)(Args...)>(patch_.Original());
        hook_ = hook;
    }
    ~CallRecorder() { hook_ = nullptr; }

private:
    static R WINAPI Replacement(Args... args)
    {
        if (hook_) hook_(args...);
        return original_(args...);
    }
    static inline R(WINAPI* original_)(Args...) = nullptr;
    static inline Hook hook_ = nullptr;
    ImportPatch patch_;
};

struct StepLog {
    int modemClassLookups = 0;
    std::vector<DWORD> deviceSetFlags;
    std::vector<std::string> services;
    int infListReads = 0;
};
StepLog steps;

// One earlier installation's traces that each step of the sequence removes.
class RemovalSequence : public testing::Test {
protected:
    static constexpr const char* kEnum = "SYSTEM\\ControlSet001\\Enum\\USB\\VID_1B3F&PID_5C13&Mi_01";
    static constexpr const char* kDriverKey =
        "SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0003";

    void SetUp() override
    {
        lastGoodCreated_ = !FileExists(WindowsDir() + "\\LastGood");
        for (const char* dir : {"\\LastGood", "\\LastGood\\SYSTEM32", "\\LastGood\\SYSTEM32\\DRIVERS"})
            CreateDirectoryA((WindowsDir() + dir).c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const std::string& path : {KeyInf(), StaleInf(), DriverFile(), LastGoodDriverFile()}) RemoveTree(path);
        if (lastGoodCreated_) RemoveTree(WindowsDir() + "\\LastGood");
    }

    static std::string KeyInf() { return WindowsDir() + "\\inf\\oem77.inf"; }
    static std::string StaleInf() { return WindowsDir() + "\\inf\\oem78.inf"; }
    static std::string DriverFile() { return WindowsDir() + "\\system32\\drivers\\TVywh.sys"; }
    static std::string LastGoodDriverFile() { return WindowsDir() + "\\LastGood\\SYSTEM32\\DRIVERS\\TVywh.sys"; }

    void Seed()
    {
        ASSERT_TRUE(reg::SetDword(kProductKey, "InstallFlag", 1));
        ASSERT_TRUE(reg::SetString(std::string(kEnum) + "\\7&1&0&1", "Driver",
                                   "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0003"));
        ASSERT_TRUE(reg::SetString(kDriverKey, "InfPath", "oem77.inf"));
        // The driver keys name oem77.inf, which is no phone INF by its content;
        // oem78.inf is a stale phone INF that no key names.
        ASSERT_TRUE(WriteFileText(KeyInf(), "; not the phone's\r\n"));
        ASSERT_TRUE(WriteFileText(StaleInf(), PhoneInfText("%Modem%=Modem_Install, USB\\VID_1B3F&PID_5C13&MI_01")));
        ASSERT_TRUE(WriteFileText(DriverFile(), "driver"));
        ASSERT_TRUE(WriteFileText(LastGoodDriverFile(), "driver"));
    }

    RegistryScratch scratch_{{"SOFTWARE\\TAVRO", kEnum, kDriverKey}};
    bool lastGoodCreated_ = false;
};

TEST_F(RemovalSequence, StepsFollowTheWindowsFamily)
{
    struct Case {
        OsClass osClass;
        bool devices;      // modem and USB device steps, services (2000, XP)
        bool functions;    // all USB functions, services, package tool (NT 6)
        bool keyInfs;      // INF copies named by the driver keys
        bool files;        // driver files
        bool lastGood;     // last-known-good driver files
    };
    const Case cases[] = {
        {OsWin95, false, false, false, false, false},        {OsWin98, false, false, false, false, false},
        {OsWinMe, false, false, false, false, false},        {OsNtOther, false, false, false, false, false},
        {OsWin2000, true, false, true, true, false},         {OsWinXP, true, false, true, true, true},
        {OsWinServer2003, false, false, true, true, false}, {OsWinVista, false, true, false, true, false},
        {OsWinLater, false, false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "OsClass " << c.osClass);
        Seed();
        TestWindows windows;
        HWND launcher = windows.Create();
        SetPropA(launcher, "CDROMLauncher", reinterpret_cast<HANDLE>(1));
        PnputilStandIn tool;
        BoxRecorder boxes;
        steps = StepLog();
        {
            CallRecorder<1, decltype(&SetupDiClassGuidsFromNameA)> modem(
                "setupapi.dll", "SetupDiClassGuidsFromNameA", [](PCSTR, GUID*, DWORD, DWORD*) { ++steps.modemClassLookups; });
            CallRecorder<2, decltype(&SetupDiGetClassDevsA)> sets(
                "setupapi.dll", "SetupDiGetClassDevsA",
                [](const GUID*, PCSTR, HWND, DWORD flags) { steps.deviceSetFlags.push_back(flags); });
            CallRecorder<3, decltype(&OpenServiceA)> services(
                "advapi32.dll", "OpenServiceA", [](SC_HANDLE, LPCSTR name, DWORD) { steps.services.push_back(name); });
            CallRecorder<4, decltype(&SetupGetInfFileListA)> infList(
                "setupapi.dll", "SetupGetInfFileListA", [](PCSTR, DWORD, PSTR, DWORD, DWORD*) { ++steps.infListReads; });

            RunRemoval(c.osClass);
        }

        const bool servicesDeleted = c.devices || c.functions;
        EXPECT_EQ(c.devices ? 1 : 0, steps.modemClassLookups);
        std::vector<DWORD> flags;
        if (c.devices) flags.push_back(DIGCF_PRESENT | DIGCF_ALLCLASSES);
        if (c.functions) flags.push_back(DIGCF_ALLCLASSES);
        EXPECT_EQ(flags, steps.deviceSetFlags);
        const std::vector<std::string> allServices = {"TVybus", "TVymdfl", "TVymdm", "TVyobex"};
        EXPECT_EQ(servicesDeleted ? allServices : std::vector<std::string>(), steps.services);
        EXPECT_EQ(c.functions ? 2 : 0, steps.infListReads) << "size question and fetch on NT 6 only";
        EXPECT_EQ(!c.keyInfs, FileExists(KeyInf()));
        EXPECT_EQ(!c.files, FileExists(DriverFile()));
        EXPECT_EQ(!c.lastGood, FileExists(LastGoodDriverFile()));
        // The stale copy goes through the OEM scan (2000, XP) or the tool (NT 6).
        EXPECT_EQ(!(c.devices || c.functions), FileExists(StaleInf()));
        const std::vector<std::string> toolStarts = {"pnputil.exe -f -d oem78.inf"};
        EXPECT_EQ(c.functions ? toolStarts : std::vector<std::string>(), tool.CommandLines());
        DWORD flag = 1;
        std::vector<BYTE> value = reg::GetValue(kProductKey, "InstallFlag");
        ASSERT_EQ(4u, value.size());
        memcpy(&flag, value.data(), 4);
        EXPECT_EQ(0u, flag);
        EXPECT_EQ(1, windows.For(launcher));
        EXPECT_EQ(1u, windows.received.size());
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
        RemoveTree(StaleInf());
    }
}

}  // namespace
