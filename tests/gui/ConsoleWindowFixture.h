// The console window's test fixture: a temporary folder with a device folder and a
// settings file (Auto Close off), a real web site on 127.0.0.1 that serves the index a test
// publishes, and the real window opened on them, with its browser opener recorded. Tests
// drive it with real clicks and key presses (WindowDriver.h).
#pragma once

#include <gtest/gtest.h>
#include <wx/dataview.h>
#include <wx/menu.h>
#include <wx/weakref.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "console/ConsoleFrame.h"
#include "settings/SettingsStore.h"
#include "tests/gui/WindowDriver.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"

namespace zephyrate::test {

namespace fs = std::filesystem;

constexpr const char* kErrorsText = "There were error(s). Check details for more info.";

class ConsoleWindowFixture : public ::testing::Test {
  protected:
    ConsoleWindowFixture() : workFolder_(fs::current_path()) {
        fs::current_path(folder_.Path());  // where the runs write their update logs
        fs::create_directories(folder_ / "device");
        SettingsStore settings(Settings());
        settings.SetAutoClose(false);
    }
    ~ConsoleWindowFixture() override {
        Shut();
        fs::current_path(workFolder_);
    }

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
        setup.helpFile = helpFile_;
        setup.openBrowser = [this](const std::string& address) {
            opened_.push_back(address);
            return true;
        };
        setup.onTimer = [this] {
            ++ticks_;
            return false;
        };
        frame_ = new ConsoleFrame(std::move(setup));
        frame_->Open();
        WaitFor([&] { return frame_->IsShown(); });
        return frame_;
    }
    // Closes the window as the user would, cancelling whatever runs.
    void Shut() {
        site_.Hurry();
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
    // The rows after the job's.
    std::vector<std::string> FileRows() {
        std::vector<std::string> rows = Rows();
        return rows.empty() ? rows : std::vector(rows.begin() + 1, rows.end());
    }
    // Chooses item (from 1) of the menu bar's menu (from 0) by keyboard.
    void ChooseOption(int item, int menu = 0) {
        Hover(frame_);
        Press(WXK_F10);
        for (int i = 0; i < menu; ++i) {
            Press(WXK_RIGHT);
        }
        for (int i = 0; i < item; ++i) {
            Press(WXK_DOWN);
        }
        Press(WXK_RETURN);
    }
    bool MenuEnabled(int id) { return frame_->GetMenuBar()->IsEnabled(id); }

    // Checks that window shows whole: nothing clipped, nothing overlapping. With
    // ZEPHYRATE_SCREENSHOTS naming a folder, saves a picture of it there as name.png.
    void Look(wxTopLevelWindow* window, const std::string& name) {
        ASSERT_NE(window, nullptr) << name;
        Pump(100ms);
        EXPECT_EQ(LayoutProblems(window), std::vector<std::string>{}) << name;
        if (const char* folder = std::getenv("ZEPHYRATE_SCREENSHOTS")) {
            EXPECT_TRUE(SaveScreenshot(window, std::string(folder) + "/" + name + ".png"));
        }
    }

    // Answers the address prompt by typing into it and clicking OK.
    void AnswerUrl(const std::string& address) {
        wxTopLevelWindow* prompt = WaitForWindow("Zephyrate");
        ASSERT_NE(prompt, nullptr) << "no address prompt";
        Hover(prompt);
        Type(address);
        Click(FindButton(prompt, "OK"));
    }

    fs::path workFolder_;
    TempFolder folder_;
    TestSite site_;
    wxWeakRef<ConsoleFrame> frame_;
    std::vector<std::string> opened_;
    int ticks_ = 0;  // of the window's 100 ms timer
    std::string helpFile_ = ZEPHYRATE_HELP_FILE;
};

}  // namespace zephyrate::test
