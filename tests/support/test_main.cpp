#include <gtest/gtest.h>

#include "shell/app.h"
#include "shell/config.h"
#include "shell/text.h"

namespace {

// Every test starts from a normal start-up's process state: the record
// filled for the test program, default brand names, both placeholders.
class NormalStart : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override
    {
        static ApplicationRecord record;
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
};

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new NormalStart);
    return RUN_ALL_TESTS();
}
