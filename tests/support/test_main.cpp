#include <gtest/gtest.h>

#include "shell/app.h"
#include "shell/config.h"
#include "shell/text.h"

// Every test starts from a normal start-up's process state: the record
// filled for the test program, default brand names, both placeholders.
struct NormalStart : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override
    {
        static ApplicationRecord record;
        record = ApplicationRecord{GetModuleHandleA(nullptr)};
        lstrcpyA(record.title, PROGRAM_TITLE);
        lstrcpyA(record.seriesName, "GSM");
        lstrcpyA(record.categoryName, "GSM/GPRS");
        record.showVersionLabel = 1;
        UseApplicationRecord(&record);
        Placeholders().Clear();
        RegisterPlaceholders();
    }
};

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new NormalStart);
    return RUN_ALL_TESTS();
}
