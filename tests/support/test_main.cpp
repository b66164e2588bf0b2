#include <windows.h>

#include <gtest/gtest.h>

#include "shell/app.h"
#include "shell/config.h"
#include "shell/text.h"
#include "support/program_state.h"

void ResetProgramState()
{
    static ApplicationRecord record;
    // InitApplication would take the single-instance mutex; tests that want
    // it call it themselves.
    ZeroMemory(&record, sizeof(record));
    record.instance = GetModuleHandleA(nullptr);
    lstrcpyA(record.title, PROGRAM_TITLE);
    lstrcpyA(record.windowClassName, PROGRAM_CLASS);
    lstrcpyA(record.mutexName, PROGRAM_MUTEX);
    lstrcpyA(record.seriesName, "GSM");
    lstrcpyA(record.categoryName, "GSM/GPRS");
    record.showVersionLabel = 1;
    UseApplicationRecord(&record);
    Placeholders().Clear();
    RegisterPlaceholders();
}

namespace {

class ResetBeforeEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { ResetProgramState(); }
};

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ResetBeforeEachTest);
    return RUN_ALL_TESTS();
}
