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
    BoxRecorder boxes;
    ShowInfoBox(nullptr, IDS_NEED_ADMIN);
    ShowErrorBox(nullptr, IDS_SETUP_FAILED);
    ASSERT_EQ(2u, boxes.Count());

    const RecordedBox& info = boxes.Boxes()[0];
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), info.style);
    EXPECT_EQ(PROGRAM_TITLE, info.caption);
    EXPECT_EQ(nullptr, info.owner);
    EXPECT_EQ(u8"为了运行TAVRO GSM/GPRS USB Driver，\n请确保您具有对Windows 2000机器或Windows XP机器的管理权限。\n当您做好继续操作的准备时，请单击确认。",
              AnsiToUtf8(info.text));

    const RecordedBox& error = boxes.Boxes()[1];
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), error.style);
    EXPECT_EQ(PROGRAM_TITLE, error.caption);
    EXPECT_EQ(u8"无法将驱动程序软件配置为可在您的电脑上使用USB连接。\n程序安装完成后，请参阅您的手册以获取有关如何正确安装USB驱动程序的详细说明。",
              AnsiToUtf8(error.text));
}

TEST(Boxes, BrandNamesWithPercentSignsAreShownAsTheyStand)
{
    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", "GSM");
    Placeholders().AddPlaceholder("<%CATEGORY%>", "5%s%d");
    BoxRecorder boxes;
    ShowInfoBox(nullptr, IDS_NEED_ADMIN);
    ASSERT_EQ(1u, boxes.Count());
    EXPECT_NE(std::string::npos, boxes.Boxes()[0].text.find("TAVRO 5%s%d USB"));
}

TEST(Boxes, SystemErrorShowsTheSystemTextUnderError)
{
    BoxRecorder boxes;
    ShowSystemError(ERROR_ACCESS_DENIED);
    ShowSystemError(ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(2u, boxes.Count());
    EXPECT_EQ("Error", boxes.Boxes()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes.Boxes()[0].style);
    EXPECT_EQ(nullptr, boxes.Boxes()[0].owner);
    EXPECT_FALSE(SystemMessage(ERROR_ACCESS_DENIED).empty());
    EXPECT_EQ(SystemMessage(ERROR_ACCESS_DENIED), boxes.Boxes()[0].text);
    EXPECT_EQ(SystemMessage(ERROR_FILE_NOT_FOUND), boxes.Boxes()[1].text);
}

TEST(Boxes, SystemErrorWithoutASystemTextShowsTheCode)
{
    BoxRecorder boxes;
    ShowSystemError(0x2BADF00D);
    ASSERT_EQ(1u, boxes.Count());
    EXPECT_EQ("Error code 732819469 (0x2BADF00D)", boxes.Boxes()[0].text);
    EXPECT_EQ("Error", boxes.Boxes()[0].caption);
}

}  // namespace
