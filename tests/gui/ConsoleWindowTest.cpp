// The console window driven as a user drives it: real clicks and key presses on the real
// window, a real web site on 127.0.0.1 and a real device folder.
#include <wx/statbmp.h>

#include "run/Maker.h"
#include "tests/gui/ConsoleWindowFixture.h"

namespace zephyrate::test {
namespace {

using ConsoleWindowTest = ConsoleWindowFixture;

// The rows, captions and menu states of both modes are read end to end by the
// accessibility check (accessibility-check.py).
TEST_F(ConsoleWindowTest, StartUpAsksForTheAddressAndSyncsIt) {
    const std::string splash(2000, 'S');
    Publish({"a.txt", "b.txt"}, {"gone.txt"}, "Splash:" + splash + "\n");
    StartSite();
    Open();
    const wxSize size = frame_->GetSize();
    // Automatic path selection is on: the first question is the address.
    wxTopLevelWindow* prompt = WaitForWindow("Zephyrate");
    Look(frame_, "console-collapsed");
    Look(prompt, "url-prompt");  // raised last: the address is typed into it
    EXPECT_EQ(FindWindow("Destination Path"), nullptr);

    AnswerUrl(site_.Address("/index.txt"));
    ASSERT_TRUE(WaitForStatus(kErrorsText)) << Status();
    EXPECT_EQ(FileRows().back(), "Kestrelwynd NV: gone.txt|Failed: HTTP ERROR CODE: 404.");
    EXPECT_EQ(Text("detail1"), splash);
    EXPECT_EQ(frame_->GetSize(), size) << "a long splash line changed the layout";
    Click(Button("Details >>>"));
    Look(frame_, "console-errors");

    Click(FindControl<wxStaticBitmap>(frame_));
    EXPECT_EQ(opened_, std::vector<std::string>{kMakerWebSite});
}

TEST_F(ConsoleWindowTest, CancelButtonsStopTheRun) {
    Publish({"a.txt"}, {}, "File: slow.bin\n");
    site_.ServeSlowFile("/slow.bin", 64 << 20, 1s);
    StartSite();
    const auto startDownload = [&] {
        AnswerUrl(site_.Address("/index.txt"));
        ASSERT_TRUE(WaitFor([&] { return Status().starts_with("Retrieving: slow.bin"); }))
            << Status();
    };
    Open();
    startDownload();
    // Cancel this job: the run ends the job and stays in running mode until its end.
    Click(Button("Details >>>"));
    Look(frame_, "console-expanded-running");
    Click(Button("Cancel this job"));
    EXPECT_EQ(Status(), "Waiting for connections to shut down.");
    EXPECT_NE(Button("Cancel this job"), nullptr);
    ASSERT_TRUE(WaitForStatus(kErrorsText)) << Status();
    const std::vector<std::string> stopped = {"Kestrelwynd NV: slow.bin|User abort",
                                              "Kestrelwynd NV: a.txt|User abort"};
    EXPECT_EQ(FileRows(), stopped);
    EXPECT_NE(Button("Close"), nullptr);

    // Cancel all jobs: idle captions at once, while the worker still winds down.
    Click(Button("Synchronize"));
    startDownload();
    Click(Button("Cancel all jobs"));
    ASSERT_TRUE(WaitFor([&] { return Button("Synchronize") != nullptr; }, 500ms));
    ASSERT_TRUE(frame_->GetConsole().Control().Running()) << "the run ended too soon to test";
    // Synchronize during the wind-down starts nothing (the run control keeps the request
    // until a run takes it).
    Click(Button("Synchronize"));
    ASSERT_TRUE(WaitForStatus(kErrorsText)) << Status();
    EXPECT_EQ(FindWindow("Zephyrate"), nullptr);
    EXPECT_EQ(FileRows(), stopped);
}

TEST_F(ConsoleWindowTest, DetailsAndOptionsStayAsTheUserLeftThem) {
    Open();
    Click(FindButton(WaitForWindow("Zephyrate"), "Cancel"));  // no job: the run just ends
    ASSERT_TRUE(WaitForStatus("Finished"));
    frame_->Move(150, 120);
    Pump(100ms);
    const wxPoint place = frame_->GetPosition();
    const wxSize collapsed = frame_->GetSize();
    EXPECT_FALSE(Jobs()->IsShownOnScreen());
    Click(Button("Details >>>"));
    EXPECT_TRUE(Jobs()->IsShownOnScreen());
    EXPECT_GT(frame_->GetSize().y, collapsed.y);
    Click(Button("<<< Details"));
    EXPECT_EQ(frame_->GetPosition(), place);
    EXPECT_EQ(frame_->GetSize(), collapsed);

    // The fourth item is Auto Close, the fifth Minimize on Startup.
    ChooseOption(4);
    ChooseOption(5);
    EXPECT_TRUE(frame_->GetMenuBar()->IsChecked(ConsoleFrame::kAutoClose));
    EXPECT_TRUE(frame_->GetMenuBar()->IsChecked(ConsoleFrame::kMinimizeOnStartup));
    Shut();
    Open();
    EXPECT_TRUE(frame_->GetMenuBar()->IsChecked(ConsoleFrame::kAutoClose));
    EXPECT_TRUE(frame_->GetMenuBar()->IsChecked(ConsoleFrame::kMinimizeOnStartup));
    // Minimised (which X shows only under a window manager), the window still starts its run.
    EXPECT_NE(WaitForWindow("Zephyrate"), nullptr);
}

}  // namespace
}  // namespace zephyrate::test
