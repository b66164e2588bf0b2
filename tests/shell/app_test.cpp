#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/product.h"
#include "support/box_recorder.h"
#include "support/import_patch.h"
#include "support/registry.h"
#include "support/text_util.h"

namespace {

// ---- administrator test ----------------------------------------------------

struct FakeGroups {
    std::vector<BYTE> buffer;
    std::vector<std::vector<BYTE>> sids;
};
FakeGroups fakeGroups;

std::vector<BYTE> MakeSid(DWORD first, DWORD second)
{
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    std::vector<BYTE> sid(GetSidLengthRequired(2));
    InitializeSid(sid.data(), &nt, 2);
    *GetSidSubAuthority(sid.data(), 0) = first;
    *GetSidSubAuthority(sid.data(), 1) = second;
    return sid;
}

void SetGroups(const std::vector<std::pair<std::vector<BYTE>, DWORD>>& groups)
{
    fakeGroups.sids.clear();
    for (const auto& g : groups) fakeGroups.sids.push_back(g.first);
    fakeGroups.buffer.assign(sizeof(TOKEN_GROUPS) + groups.size() * sizeof(SID_AND_ATTRIBUTES), 0);
    auto* tg = reinterpret_cast<TOKEN_GROUPS*>(fakeGroups.buffer.data());
    tg->GroupCount = static_cast<DWORD>(groups.size());
    for (size_t i = 0; i < groups.size(); ++i) {
        tg->Groups[i].Sid = fakeGroups.sids[i].data();
        tg->Groups[i].Attributes = groups[i].second;
    }
}

BOOL WINAPI FakeGetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS cls, LPVOID out, DWORD length,
                                    PDWORD needed)
{
    if (cls != TokenGroups) return FALSE;
    *needed = static_cast<DWORD>(fakeGroups.buffer.size());
    if (length < fakeGroups.buffer.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(out, fakeGroups.buffer.data(), fakeGroups.buffer.size());
    return TRUE;
}

const DWORD kEnabled = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;

TEST(IsUserAdmin, TheRealTokenOfTheTestProgram) { EXPECT_EQ(1, IsUserAdmin()); }

TEST(IsUserAdmin, CountsTheAdministratorsGroupOnlyWhenEnabled)
{
    ImportPatch patch("advapi32.dll", "GetTokenInformation",
                      reinterpret_cast<void*>(&FakeGetTokenInformation));
    ASSERT_TRUE(patch.Applied());
    auto users = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS);
    auto admins = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);

    SetGroups({{users, kEnabled}, {admins, kEnabled}});
    EXPECT_EQ(1, IsUserAdmin());
    SetGroups({{users, kEnabled}});
    EXPECT_EQ(0, IsUserAdmin());
    // A filtered token keeps the group for deny checks only.
    SetGroups({{users, kEnabled}, {admins, SE_GROUP_USE_FOR_DENY_ONLY}});
    EXPECT_EQ(0, IsUserAdmin());
    SetGroups({});
    EXPECT_EQ(0, IsUserAdmin());
}

// ---- dispatch ---------------------------------------------------------------

struct Reported {
    DWORD platform, major, minor;
};
Reported reportedVersion;

BOOL WINAPI FakeGetVersionExA(OSVERSIONINFOA* info)
{
    info->dwPlatformId = reportedVersion.platform;
    info->dwMajorVersion = reportedVersion.major;
    info->dwMinorVersion = reportedVersion.minor;
    return TRUE;
}

// A top-level window standing in for a running instance's wizard (found by
// its title) or for the companion launcher (found by its property); it
// records the messages the program sends it.
struct StandIn {
    HWND window = nullptr;
    std::vector<UINT> messages;
};

LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* standIn = reinterpret_cast<StandIn*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (standIn && (message == WM_CLOSE || message == WM_DEVICECHANGE)) {
        standIn->messages.push_back(message);
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class DispatchTest : public testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = StandInProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QuellinStandIn";
        RegisterClassA(&wc);
        SetGroups({{MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS), kEnabled}});
    }

    void TearDown() override
    {
        for (auto& s : standIns_) DestroyWindow(s->window);
        if (otherInstance_) CloseHandle(otherInstance_);
    }

    StandIn* Window(const char* title, bool launcher)
    {
        standIns_.emplace_back(new StandIn);
        StandIn* s = standIns_.back().get();
        s->window = CreateWindowA("QuellinStandIn", title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(s->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
        if (launcher) SetPropA(s->window, "CDROMLauncher", reinterpret_cast<HANDLE>(1));
        return s;
    }

    void AnotherInstanceRuns() { otherInstance_ = CreateMutexA(nullptr, TRUE, PROGRAM_MUTEX); }

    int Run(Reported version, const char* commandLine, bool admin)
    {
        reportedVersion = version;
        ImportPatch versionPatch("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&FakeGetVersionExA));
        EXPECT_TRUE(versionPatch.Applied());
        ImportPatch tokenPatch("advapi32.dll", "GetTokenInformation",
                               admin ? CurrentImport("advapi32.dll", "GetTokenInformation")
                                     : reinterpret_cast<void*>(&FakeGetTokenInformation));
        return RunProgram(GetModuleHandleA(nullptr), commandLine);
    }

    std::vector<std::unique_ptr<StandIn>> standIns_;
    HANDLE otherInstance_ = nullptr;
    BoxRecorder boxes_;
    RegistryScratch scratch_{{"SOFTWARE\\TAVRO"}};
};

const Reported kXP = {VER_PLATFORM_WIN32_NT, 5, 1};
const Reported k2000 = {VER_PLATFORM_WIN32_NT, 5, 0};
const Reported k98 = {VER_PLATFORM_WIN32_WINDOWS, 4, 10};

TEST_F(DispatchTest, WithoutRightsOnlyTheFlagIsResetAndTheBoxShown)
{
    ASSERT_TRUE(reg::SetDword(PRODUCT_KEY_PATH, "InstallFlag", 1));
    StandIn* launcher = Window("launcher", true);
    for (const char* line : {"", "/R", "/I"}) {
        ASSERT_TRUE(reg::SetDword(PRODUCT_KEY_PATH, "InstallFlag", 1));
        size_t before = boxes_.Count();
        EXPECT_EQ(0, Run(kXP, line, false));
        ASSERT_EQ(before + 1, boxes_.Count()) << line << "\n" << boxes_.Describe();
        const RecordedBox& box = boxes_.Boxes().back();
        EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), box.style);
        EXPECT_EQ(PROGRAM_TITLE, box.caption);
        EXPECT_NE(std::string::npos, box.text.find("TAVRO GSM/GPRS USB Driver"));
        EXPECT_EQ(std::vector<BYTE>({0, 0, 0, 0}), reg::GetValue(PRODUCT_KEY_PATH, "InstallFlag"));
    }
    EXPECT_TRUE(launcher->messages.empty()) << "no removal ran";
}

TEST_F(DispatchTest, WithoutRightsAndWithoutTheProductKeyNothingIsCreated)
{
    EXPECT_EQ(0, Run(k2000, "", false));
    EXPECT_EQ(1u, boxes_.Count());
    EXPECT_FALSE(reg::KeyExists(PRODUCT_KEY_PATH));
}

TEST_F(DispatchTest, NoRightsCheckOnWindows98)
{
    EXPECT_EQ(0, Run(k98, "", false));
    // Nothing is set up on Windows 98: the failure box, never the rights box.
    ASSERT_EQ(1u, boxes_.Count()) << boxes_.Describe();
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes_.Boxes()[0].style);
    EXPECT_EQ(u8"无法将驱动程序软件配置为可在您的电脑上使用USB连接。\n程序安装完成后，请参阅您的手册以获取有关如何正确安装USB驱动程序的详细说明。",
              AnsiToUtf8(boxes_.Boxes()[0].text));
}

TEST_F(DispatchTest, RemoveClosesTheRunningInstanceThenRemoves)
{
    AnotherInstanceRuns();
    StandIn* wizard = Window(PROGRAM_TITLE, false);
    StandIn* launcher = Window("launcher", true);
    EXPECT_EQ(0, Run(kXP, "/R", true));
    EXPECT_EQ(std::vector<UINT>({WM_CLOSE}), wizard->messages);
    EXPECT_EQ(std::vector<UINT>({WM_DEVICECHANGE}), launcher->messages) << "the removal ran";
    EXPECT_EQ(0u, boxes_.Count()) << boxes_.Describe();
}

TEST_F(DispatchTest, SecondStartHandsOverToTheRunningInstance)
{
    AnotherInstanceRuns();
    StandIn* wizard = Window(PROGRAM_TITLE, false);
    ShowWindow(wizard->window, SW_MINIMIZE);
    StandIn* launcher = Window("launcher", true);
    for (const char* line : {"", "/I"}) {
        EXPECT_EQ(0, Run(kXP, line, true));
        EXPECT_FALSE(IsIconic(wizard->window)) << "a minimised wizard is restored";
        ShowWindow(wizard->window, SW_MINIMIZE);
    }
    EXPECT_EQ(0u, boxes_.Count()) << boxes_.Describe();
    EXPECT_TRUE(wizard->messages.empty());
    EXPECT_TRUE(launcher->messages.empty()) << "nothing is removed";
}

TEST_F(DispatchTest, SecondStartWhileTheOtherIsStillRemovingDoesNothing)
{
    AnotherInstanceRuns();  // no window of the title yet
    EXPECT_EQ(0, Run(kXP, "", true));
    EXPECT_EQ(0u, boxes_.Count()) << boxes_.Describe();
}

TEST_F(DispatchTest, TheMutexIsReleasedAtTheEnd)
{
    EXPECT_EQ(0, Run(k98, "/R", true));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, PROGRAM_MUTEX);
    DWORD error = GetLastError();
    EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), error);
    CloseHandle(mutex);
}

}  // namespace
