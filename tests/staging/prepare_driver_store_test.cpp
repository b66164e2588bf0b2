#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/app.h"
#include "shell/expected_strings.h"
#include "staging/inf_stager.h"
#include "staging/staging_support.h"
#include "support/box_recorder.h"
#include "support/fault.h"
#include "support/files.h"
#include "support/import_patch.h"
#include "support/text_util.h"
#include "wizard/install_wizard.h"

namespace {

std::string Expected(unsigned id)
{
    for (const ExpectedString& s : kExpectedStrings)
        if (s.id == id) return Utf8ToAnsi(s.utf8);
    return "(missing)";
}

const char kStaleName[] = "oem9201.inf";
const char kStaleText[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nTAVRO=Tavro_wmc\r\n"
    "[Tavro_wmc]\r\n\"TV4170K\"=Bus.Install,USB\\VID_1B3F&PID_5C13\r\n";

// The wizard being prepared, and its state each time a package is copied.
const InstallWizard* preparing = nullptr;
std::vector<int> statesWhileCopying;
BOOL(WINAPI* realCopy)(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*) = nullptr;

BOOL WINAPI WatchCopy(PCSTR source, PCSTR location, DWORD media, DWORD style, PSTR dest, DWORD size,
                      PDWORD required, PSTR* component)
{
    statesWhileCopying.push_back(preparing ? preparing->State() : -1);
    return realCopy(source, location, media, style, dest, size, required, component);
}

class PrepareDriverStore : public testing::Test {
protected:
    PrepareDriverStore()
    {
        RemovePackageCopies();
        RemoveTree(StalePath());
        lstrcpyA(App().programDir, (DistDir() + "\\Setup\\").c_str());
        statesWhileCopying.clear();
    }
    ~PrepareDriverStore() override
    {
        preparing = nullptr;
        RemovePackageCopies();
        RemoveTree(StalePath());
    }

    static std::string StalePath() { return InfDir() + "\\" + kStaleName; }
    static size_t Staged()
    {
        size_t n = 0;
        for (const char* package : packageInfNames) n += CopiesOf(package).size();
        return n;
    }

    void ExpectNotice(const BoxRecorder& boxes)
    {
        ASSERT_EQ(1u, boxes.Count()) << boxes.Describe();
        const RecordedBox& box = boxes.Boxes()[0];
        EXPECT_EQ(Expected(15006), box.text);
        EXPECT_EQ(PROGRAM_TITLE, box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_OKCANCEL | MB_ICONINFORMATION), box.style);
        EXPECT_EQ(nullptr, box.owner);
    }
};

TEST_F(PrepareDriverStore, RefusedNoticeStagesNothing)
{
    for (int answer : {IDCANCEL, IDCLOSE, 0}) {
        ASSERT_TRUE(WriteFileText(StalePath(), kStaleText));
        FAIL_CALL_NAMED(copy, setupapi.dll, SetupCopyOEMInfA, FALSE, ERROR_ACCESS_DENIED, 1000);
        BoxRecorder boxes;
        boxes.Answer(answer);
        InstallWizard wizard(12, 0);
        EXPECT_EQ(0, wizard.PrepareDriverStore()) << answer;
        EXPECT_EQ(Idle, wizard.State()) << answer;
        ExpectNotice(boxes);
        EXPECT_EQ(0, copy.Calls()) << answer;
        EXPECT_TRUE(FileExists(StalePath())) << "the clean-up waits for the answer";
        EXPECT_EQ(0u, Staged());
    }
}

TEST_F(PrepareDriverStore, AcceptedNoticeCleansUpAndStagesAll)
{
    ASSERT_TRUE(WriteFileText(StalePath(), kStaleText));
    ImportPatch watch("setupapi.dll", "SetupCopyOEMInfA", reinterpret_cast<void*>(&WatchCopy));
    ASSERT_TRUE(watch.Applied());
    realCopy = reinterpret_cast<decltype(realCopy)>(watch.Original());
    BoxRecorder boxes;
    boxes.Answer(IDOK);
    InstallWizard wizard(12, 0);
    preparing = &wizard;

    EXPECT_EQ(1, wizard.PrepareDriverStore());
    EXPECT_EQ(Waiting, wizard.State());
    ExpectNotice(boxes);
    EXPECT_EQ(std::vector<int>(4, Staging), statesWhileCopying);
    EXPECT_FALSE(FileExists(StalePath()));
    for (const char* package : packageInfNames) EXPECT_EQ(1u, CopiesOf(package).size()) << package;
}

TEST_F(PrepareDriverStore, FailedStagingLeavesTheWizardIdle)
{
    FAIL_CALL(setupapi.dll, SetupCopyOEMInfA, FALSE, 0xE000022F);
    BoxRecorder boxes;
    InstallWizard wizard(14, 1);
    EXPECT_NE(1, wizard.PrepareDriverStore());
    EXPECT_EQ(Idle, wizard.State());
    ExpectNotice(boxes);  // and no error box for the missing catalog
}

TEST_F(PrepareDriverStore, NoticeOnEveryNtFiveAndLater)
{
    for (int os : {11, 12, 13, 14, 15}) {
        BoxRecorder boxes;
        boxes.Answer(IDCANCEL);
        InstallWizard wizard(os, 0);
        EXPECT_EQ(0, wizard.PrepareDriverStore()) << os;
        ExpectNotice(boxes);
    }
}

// The 9x family and NT 4: no notice, nothing cleaned or staged, and 0 so
// that the caller reports that the drivers could not be set up.
TEST_F(PrepareDriverStore, NothingBeforeWindows2000)
{
    for (int os : {0, 1, 2, 10}) {
        ASSERT_TRUE(WriteFileText(StalePath(), kStaleText));
        FAIL_CALL_NAMED(copy, setupapi.dll, SetupCopyOEMInfA, FALSE, ERROR_ACCESS_DENIED, 1000);
        BoxRecorder boxes;
        InstallWizard wizard(os, 0);
        EXPECT_EQ(0, wizard.PrepareDriverStore()) << os;
        EXPECT_EQ(Idle, wizard.State()) << os;
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
        EXPECT_EQ(0, copy.Calls()) << os;
        EXPECT_TRUE(FileExists(StalePath())) << os;
        EXPECT_EQ(0, InfStager(os).RunStaging()) << os;
    }
}

// A stale copy that cannot be deleted stops the clean-up, not the copying.
TEST_F(PrepareDriverStore, StagingGoesOnWhenTheCleanUpStops)
{
    ASSERT_TRUE(WriteFileText(StalePath(), kStaleText));
    HANDLE held = CreateFileA(StalePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ASSERT_EQ(0, InfStager(13).RemoveStaleOemInfs());
    BoxRecorder boxes;
    EXPECT_EQ(1, InfStager(13).RunStaging());
    CloseHandle(held);
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    EXPECT_TRUE(FileExists(StalePath()));
    EXPECT_EQ(4u, Staged());
}

}  // namespace
