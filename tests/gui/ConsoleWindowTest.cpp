// The console window driven as a user drives it: real clicks and key presses on the real
// window, a real web site on 127.0.0.1 and a real device folder.
#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/dataview.h>
#include <wx/menu.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

#include <filesystem>
#include <string>
#include <vector>

#include "console/ConsoleFrame.h"
#include "run/Maker.h"
#include "settings/SettingsStore.h"
#include "tests/gui/WindowDriver.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kErrorsText = "There were error(s). Check details for more info.";

class ConsoleWindowTest : public ::testing::Test {
  protected:
    ConsoleWindowTest() {
        fs::create_directories(folder_ / "device");
        SettingsStore settings(Settings());
        settings.SetAutoClose(false);
    }
    ~ConsoleWindowTest() override { Shut(); }

    std::string Settings() const { return (folder_ / "settings.reg").string(); }

    // The index of the site with its files; missing names are listed but not served.
    void Publish(const std::vector<std::string>& files, const std::vector<std::string>& missing,
                 const std::string& extra = "") {
        std::string index = "Header:Zephyrate v1.0\nCEFolder: \\News\\\n" + extra;
        for (const std::string& name : files) {
            folder_.WriteFile("site/" + name, "contents of " + name);
            index += "File: " + name + "\n";
        }
        for (const std::string& name : missing) {
            index += "File: " + name + "\n";
        }
        folder_.WriteFile("site/index.txt", index);
    }
    void StartSite() {
        site_.ServeFolder(folder_ / "site");
        site_.Start();
    }

    ConsoleFrame* Open(std::string deviceFolder = "") {
        ConsoleFrame::Setup setup;
        setup.settingsPath = Settings();
        setup.deviceFolder =
            deviceFolder.empty() ? (folder_ / "device").string() : std::move(deviceFolder);
        setup.openBrowser = [this](const std::string& address) {
            opened_.push_back(address);
            return true;
        };
        frame_ = new ConsoleFrame(std::move(setup));
        WaitFor([&] { return frame_->IsShown(); });
        return frame_;
    }
    // Closes the window as the user would, cancelling whatever runs.
    void Shut() {
        if (frame_) {
            frame_->Close();
            EXPECT_TRUE(WaitFor([&] { return !frame_; }, 20s)) << "the window did not close";
        }
    }

    std::string Text(const char* name) {
        return wxWindow::FindWindowByName(wxString::FromUTF8(name), frame_)
            ->GetLabel()
            .utf8_string();
    }
    std::string Status() { return Text("status"); }
    bool WaitForStatus(const std::string& text, std::chrono::milliseconds limit = 15s) {
        return WaitFor([&] { return Status() == text; }, limit);
    }
    wxButton* Button(const char* label) { return FindButton(frame_, label); }
    wxDataViewListCtrl* Jobs() { return FindControl<wxDataViewListCtrl>(frame_); }
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        wxDataViewListCtrl* list = Jobs();
        for (unsigned row = 0; row < static_cast<unsigned>(list->GetItemCount()); ++row) {
            wxVariant object;
            list->GetValue(object, row, 0);
            wxDataViewIconText icon;
            icon << object;
            rows.push_back(icon.GetText().utf8_string() + "|" +
                           list->GetTextValue(row, 1).utf8_string());
        }
        return rows;
    }
    bool MenuEnabled(int id) { return frame_->GetMenuBar()->IsEnabled(id); }

    // Answers the address prompt by typing into it and clicking OK.
    void AnswerUrl(const std::string& address) {
        wxTopLevelWindow* prompt = WaitForWindow("Zephyrate");
        ASSERT_NE(prompt, nullptr) << "no address prompt";
        Type(address);
        Click(FindButton(prompt, "OK"));
    }

    TempFolder folder_;
    TestSite site_;
    wxWeakRef<ConsoleFrame> frame_;
    std::vector<std::string> opened_;
};

TEST_F(ConsoleWindowTest, StartUpAsksForTheAddressAndSyncsIt) {
    const std::string splash(2000, 'S');
    Publish({"a.txt", "b.txt"}, {"gone.txt"}, "Splash:" + splash + "\n");
    StartSite();
    Open();
    const wxSize size = frame_->GetSize();
    // Automatic path selection is on: the first question is the address.
    ASSERT_NE(WaitForWindow("Zephyrate"), nullptr);
    EXPECT_EQ(FindWindow("Destination Path"), nullptr);
    EXPECT_NE(Button("Cancel all jobs"), nullptr);
    EXPECT_NE(Button("Cancel this job"), nullptr);
    EXPECT_FALSE(MenuEnabled(ConsoleFrame::kSetDevicePath));
    EXPECT_FALSE(MenuEnabled(ConsoleFrame::kEditLoginInfo));

    AnswerUrl(site_.Address("/index.txt"));
    ASSERT_TRUE(WaitForStatus(kErrorsText)) << Status();
    EXPECT_EQ(Rows(), (std::vector<std::string>{
                          "Kestrelwynd NV|Succesfully parsed server configuration file",
                          "Kestrelwynd NV: a.txt|Added: \\Zephyrate\\News\\a.txt.",
                          "Kestrelwynd NV: b.txt|Added: \\Zephyrate\\News\\b.txt.",
                          "Kestrelwynd NV: gone.txt|Failed: HTTP ERROR CODE: 404.",
                      }));
    EXPECT_EQ(Text("detail1"), splash);
    EXPECT_EQ(frame_->GetSize(), size) << "a long splash line changed the layout";
    EXPECT_EQ(TempFolder::ReadFile(folder_ / "device/Zephyrate/News/a.txt"), "contents of a.txt");
    EXPECT_NE(Button("Synchronize"), nullptr);
    EXPECT_NE(Button("Close"), nullptr);
    EXPECT_TRUE(MenuEnabled(ConsoleFrame::kSetDevicePath));
    EXPECT_EQ(frame_->GetMenuBar()->GetLabel(ConsoleFrame::kSetDevicePath).utf8_string(),
              "Set device path");

    // Once the file is there, the same address finishes without errors.
    folder_.WriteFile("site/gone.txt", "back");
    Click(Button("Synchronize"));
    AnswerUrl(site_.Address("/index.txt"));
    ASSERT_TRUE(WaitForStatus("Finished")) << Status();
    EXPECT_EQ(Rows().back(), "Kestrelwynd NV: gone.txt|Added: \\Zephyrate\\News\\gone.txt.");
    Click(Button("Details >>>"));

    Click(FindControl<wxStaticBitmap>(frame_));
    EXPECT_EQ(opened_, std::vector<std::string>{kMakerWebSite});
}

}  // namespace
}  // namespace zephyrate::test
