#include <gtest/gtest.h>

#include <string>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/msgbox.h"
#include "shell/text.h"
#include "support/box_recorder.h"
#include "support/text_util.h"

namespace {

TEST(Boxes, StringBoxesShowTheSubstitutedTextUnderTheTitle)
{
    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", "GSM");
    Placeholders().AddPlaceholder("<%CATEGORY%>", "5%s%d");  // never a directive
    BoxRecorder boxes;
    ShowInfoBox(nullptr, IDS_NEED_ADMIN);
    ShowErrorBox(nullptr, IDS_SETUP_FAILED);
    ASSERT_EQ(2u, boxes.Count());
    const RecordedBox& info = boxes.Boxes()[0];
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), info.style);
    EXPECT_EQ(PROGRAM_TITLE, info.caption);
    EXPECT_EQ(nullptr, info.owner);
    EXPECT_EQ(0u, AnsiToUtf8(info.text).find(u8"为了运行TAVRO 5%s%d USB Driver，\n请确保"));
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes.Boxes()[1].style);
    EXPECT_EQ(PROGRAM_TITLE, boxes.Boxes()[1].caption);
}

TEST(Boxes, SystemErrorShowsTheSystemTextOrTheCodeUnderError)
{
    BoxRecorder boxes;
    ShowSystemError(ERROR_ACCESS_DENIED);
    ShowSystemError(0x2BADF00D);  // no system text for this one
    ASSERT_EQ(2u, boxes.Count());
    ASSERT_FALSE(SystemMessage(ERROR_ACCESS_DENIED).empty());
    EXPECT_EQ(SystemMessage(ERROR_ACCESS_DENIED), boxes.Boxes()[0].text);
    EXPECT_EQ("Error code 732819469 (0x2BADF00D)", boxes.Boxes()[1].text);
    for (const RecordedBox& box : boxes.Boxes()) {
        EXPECT_EQ("Error", box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.style);
        EXPECT_EQ(nullptr, box.owner);
    }
}

}  // namespace
