// The questions of the console: shown for the run's worker while the console stays usable,
// or modally for the menu's own commands; every way of closing them answers them.
#include <wx/checkbox.h>
#include <wx/html/htmlwin.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include <tuple>

#include "device/FolderBrowser.h"
#include "tests/gui/ConsoleWindowFixture.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate::test {
namespace {

using ConsoleQuestionsTest = ConsoleWindowFixture;

wxTextCtrl* Field(wxWindow* dialog, const char* name) {
    return FindControl<wxTextCtrl>(
        dialog, [&](wxTextCtrl* field) { return field->GetName().utf8_string() == name; });
}

TEST_F(ConsoleQuestionsTest, DestinationTreeListsLazilyAndCreatesFolders) {
    fs::create_directories(folder_ / "device/Card/Docs");
    fs::create_directories(folder_ / "device/alpha");
    folder_.WriteFile("device/afile", "");
    SettingsStore(Settings()).SetDontask(false);
    Open();
    wxTopLevelWindow* dialog = WaitForWindow("Destination Path");
    ASSERT_NE(dialog, nullptr);
    auto* tree = FindControl<wxDataViewTreeCtrl>(dialog);
    wxTextCtrl* path = Field(dialog, "Path on the device");
    const auto children = [&](wxDataViewItem parent) {
        wxDataViewItemArray items;
        tree->GetStore()->GetChildren(parent, items);
        std::vector<std::string> names;
        for (const wxDataViewItem& item : items) {
            names.push_back(tree->GetItemText(item).utf8_string() +
                            (tree->IsContainer(item) ? "/" : ""));
        }
        return std::pair(names, items);
    };
    const wxDataViewItem top = children(wxDataViewItem()).second.at(0);
    EXPECT_EQ(children(top).first, std::vector<std::string>{""}) << "listed before it was opened";

    ClickItem(tree, top);
    Press(WXK_NUMPAD_ADD);  // opens the selected item
    ASSERT_EQ(children(top).first, (std::vector<std::string>{"alpha", "Card/"}));
    Look(dialog, "destination");
    ClickItem(tree, children(top).second.at(1));
    EXPECT_EQ(path->GetValue().utf8_string(), "\\Card");

    // Create Folder, pre-filled with the chosen path; its parents come with it.
    WhenShown("Create Folder", [&](wxTopLevelWindow* ask) {
        EXPECT_EQ(Field(ask, "Folder name")->GetValue().utf8_string(), "\\Card");
        Look(ask, "create-folder");
        Hover(ask);
        Type("\\New\\Sub");
        Click(FindButton(ask, "OK"));
    });
    Click(FindButton(dialog, "Create Folder"));
    EXPECT_TRUE(fs::is_directory(folder_ / "device/Card/New/Sub"));
    EXPECT_EQ(path->GetValue().utf8_string(), "\\Card\\New\\Sub");
    EXPECT_EQ(children(children({}).second.at(0)).first, std::vector<std::string>{""});

    // A folder where a file is: the failure is said, the path stays.
    WhenShown("Create Folder", [&](wxTopLevelWindow* ask) {
        Field(ask, "Folder name")->SelectAll();
        Hover(ask);
        Type("\\afile\\x");
        WhenShown("Zephyrate", [&](wxTopLevelWindow* message) {
            Look(message, "create-folder-failed");
            EXPECT_TRUE(ShowsText(message, kCreateFolderFailedText));
            Click(FindButton(message, "OK"));
        });
        Click(FindButton(ask, "OK"));
    });
    Click(FindButton(dialog, "Create Folder"));
    EXPECT_EQ(path->GetValue().utf8_string(), "\\Card\\New\\Sub");

    Click(FindButton(dialog, "OK"));
    ASSERT_NE(WaitForWindow("Zephyrate"), nullptr) << "the chosen root was not taken";
    EXPECT_EQ(SettingsStore(Settings()).PrePath(), "\\Card\\New\\Sub");
    Click(FindButton(FindWindow("Zephyrate"), "Cancel"));
    ASSERT_TRUE(WaitForStatus("Finished"));

    // Closed by the window manager, the question counts as Cancel: the run ends there.
    Click(Button("Synchronize"));
    ASSERT_NE(dialog = WaitForWindow("Destination Path"), nullptr);
    dialog->Close();
    ASSERT_TRUE(WaitFor([&] { return Button("Synchronize") != nullptr; }));
    EXPECT_EQ(Status(), "Connecting to mobile device.");
}

TEST_F(ConsoleQuestionsTest, LoginComesBackUntilTheServerTakesIt) {
    {
        SettingsStore settings(Settings());
        settings.SetUserUsername("old");
        settings.SetUserPassword("pw");
    }
    Publish({"a.txt"}, {});
    site_.RequireLogin("ann", "secret");
    StartSite();
    Open();
    AnswerUrl(site_.Address("/index.txt"));
    const auto answer = [&](const char* user, const char* password, const char* shownUser) {
        wxTopLevelWindow* login = WaitForWindow("Login information");
        ASSERT_NE(login, nullptr);
        wxTextCtrl* name = Field(login, "Username");
        wxTextCtrl* secret = Field(login, "Password");
        EXPECT_EQ(name->GetValue().utf8_string(), shownUser);
        EXPECT_TRUE(secret->HasFlag(wxTE_PASSWORD));
        EXPECT_TRUE(ShowsText(login, "The credentials you supplied are invalid."));
        Click(name);
        name->SelectAll();
        Type(user);
        Press(WXK_TAB);
        Type(password);
        const wxWeakRef<wxTopLevelWindow> answered(login);
        Click(FindButton(login, "OK"));
        WaitFor([&] { return !answered; });
    };
    Look(WaitForWindow("Login information"), "login");
    answer("bob", "nope", "old");
    answer("ann", "secret", "bob");  // each answer is stored, and offered the next time
    ASSERT_TRUE(WaitForStatus("Finished")) << Status();
    EXPECT_EQ(SettingsStore(Settings()).UserUsername(), "ann");
}

TEST_F(ConsoleQuestionsTest, NoDeviceAsksToRetryAndCancelEndsTheRun) {
    Open((folder_ / "absent").string());
    wxTopLevelWindow* message = WaitForWindow("Error", 8s);  // after one attempt of 5 s
    Look(message, "retry-message");
    Click(FindButton(message, "Cancel"));
    ASSERT_TRUE(WaitForStatus("Failed to connect to the mobile device."));
    EXPECT_NE(Button("Synchronize"), nullptr);
    EXPECT_TRUE(MenuEnabled(ConsoleFrame::kEditLoginInfo));
}

TEST_F(ConsoleQuestionsTest, MenuCommandsAskModally) {
    Open();
    Click(FindButton(WaitForWindow("Zephyrate"), "Cancel"));
    ASSERT_TRUE(WaitForStatus("Finished"));
    bool asked = false;
    bool ticked = false;  // the timer that proves the program alive to a second start
    WhenShown("Destination Path", [&](wxTopLevelWindow* dialog) {
        asked = ShowsText(dialog, "Enter an existing path on the device.");
        const int ticks = ticks_;
        Pump(300ms);
        ticked = ticks_ > ticks;
        Click(FindButton(dialog, "Cancel"));
    });
    ChooseOption(1);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(ticked);
    WhenShown("Login information", [&](wxTopLevelWindow* dialog) {
        Hover(dialog);
        Type("carol");
        Click(FindButton(dialog, "OK"));
    });
    ChooseOption(2);
    EXPECT_EQ(SettingsStore(Settings()).UserUsername(), "carol");
    WhenShown("About Zephyrate", [&](wxTopLevelWindow* dialog) {
        Look(dialog, "about");
        Click(FindButton(dialog, "OK"));
    });
    ChooseOption(1, 1);
    EXPECT_EQ(FindWindow("About Zephyrate"), nullptr);

    // Help (F1, as the menu item) opens at the contents, whose links lead to the other pages.
    Press(WXK_F1);
    wxTopLevelWindow* help = WaitForWindow("Zephyrate Help");
    Look(help, "help");
    auto* pages = FindControl<wxHtmlWindow>(help);
    wxHtmlContainerCell* page = pages->GetInternalRepresentation();
    const wxHtmlCell* cell = nullptr;
    for (wxHtmlTerminalCellsInterator at(page->GetFirstTerminal(), page->GetLastTerminal());
         at && cell == nullptr; ++at) {
        if (at->GetLink() != nullptr && at->GetLink()->GetHref() == wxS("console.htm")) {
            cell = *at;
        }
    }
    ASSERT_NE(cell, nullptr);
    const wxPoint link = pages->CalcScrolledPosition(cell->GetAbsPos()) + wxSize(2, 2);
    wxUIActionSimulator().MouseMove(pages->ClientToScreen(link));
    Pump(50ms);
    wxUIActionSimulator().MouseClick();
    EXPECT_NE(WaitForWindow("The console window"), nullptr);
}

TEST_F(ConsoleQuestionsTest, HelpWithoutItsFileShowsNothing) {
    helpFile_ = (folder_ / "none.chm").string();
    Open();
    Click(FindButton(WaitForWindow("Zephyrate"), "Cancel"));
    ChooseOption(2, 1);
    Pump(300ms);
    EXPECT_EQ(FindWindow("Zephyrate Help"), nullptr);
}

TEST_F(ConsoleQuestionsTest, ProxySettingsEnableWhatAppliesAndStoreOnOkOnly) {
    Open();
    Click(FindButton(WaitForWindow("Zephyrate"), "Cancel"));
    ASSERT_TRUE(WaitForStatus("Finished"));
    const auto enabled = [](wxWindow* dialog) {
        std::string states;
        for (const char* name : {"Server", "HTTP Port", "Username", "Password"}) {
            states += wxWindow::FindWindowByName(wxString::FromUTF8(name), dialog)->IsEnabled()
                          ? "1"
                          : "0";
        }
        return states;
    };
    WhenShown("Zephyrate Proxy Settings", [&](wxTopLevelWindow* dialog) {
        Look(dialog, "proxy");
        EXPECT_EQ(enabled(dialog), "0000");  // a fresh profile: the system's settings
        Click(FindControl<wxRadioButton>(dialog, [](wxRadioButton* button) {
            return button->GetLabel() == wxS("Use manual proxy settings");
        }));
        EXPECT_EQ(enabled(dialog), "1100");
        Click(FindControl<wxCheckBox>(dialog));
        EXPECT_EQ(enabled(dialog), "1111");
        Click(wxWindow::FindWindowByName(wxS("Server"), dialog));
        Type("proxy");
        Click(FindButton(dialog, "OK"));
    });
    ChooseOption(3);
    SettingsStore settings(Settings());
    EXPECT_EQ(std::tuple(settings.UseProxy(), settings.ProxyServer(), settings.ProxyAuth()),
              std::tuple(3, "proxy", true));
    WhenShown("Zephyrate Proxy Settings", [&](wxTopLevelWindow* dialog) {
        EXPECT_EQ(enabled(dialog), "1111");
        Click(FindControl<wxRadioButton>(dialog));  // direct: everything off, kept
        EXPECT_EQ(enabled(dialog), "0000");
        Click(FindButton(dialog, "Cancel"));
    });
    ChooseOption(3);
    EXPECT_EQ(settings.UseProxy(), 3);
}

// The session's options are guarded: a proxy chosen while a file comes in carries the run's
// next request.
TEST_F(ConsoleQuestionsTest, AProxyChosenDuringARunCarriesItsNextRequest) {
    TinyProxy proxy;
    Publish({"after.txt"}, {}, "File: slow.bin\n");
    site_.ServeSlowFile("/slow.bin", 1 << 20, 200ms);
    StartSite();
    Open();
    AnswerUrl(site_.Address("/index.txt"));
    ASSERT_TRUE(WaitFor([&] { return Status().starts_with("Retrieving: slow.bin"); }));
    WhenShown("Zephyrate Proxy Settings", [&](wxTopLevelWindow* dialog) {
        Click(FindControl<wxRadioButton>(dialog, [](wxRadioButton* button) {
            return button->GetLabel() == wxS("Use manual proxy settings");
        }));
        Click(wxWindow::FindWindowByName(wxS("Server"), dialog));
        Type(proxy.Address().substr(0, proxy.Address().find(':')));
        Click(wxWindow::FindWindowByName(wxS("HTTP Port"), dialog));
        Type(proxy.Address().substr(proxy.Address().find(':') + 1));
        Click(FindButton(dialog, "OK"));
    });
    ChooseOption(1);  // the first item that is not greyed during a run
    site_.Hurry();
    ASSERT_TRUE(WaitForStatus("Finished")) << Status();
    EXPECT_NE(proxy.Log().find("/after.txt"), std::string::npos) << proxy.Log();
    EXPECT_EQ(proxy.Log().find("/slow.bin"), std::string::npos);
}

TEST_F(ConsoleQuestionsTest, ClosingTheWindowStopsTheRunFirst) {
    Publish({}, {}, "File: slow.bin\n");
    site_.ServeSlowFile("/slow.bin", 64 << 20, 300ms);
    StartSite();
    Open();
    AnswerUrl(site_.Address("/index.txt"));
    ASSERT_TRUE(WaitFor([&] { return Status().starts_with("Retrieving: slow.bin"); }));
    frame_->Close();
    EXPECT_TRUE(frame_);  // still there while the worker winds down
    EXPECT_TRUE(WaitFor([&] { return !frame_; }, 5s));
    EXPECT_FALSE(fs::exists(folder_ / "device/Zephyrate/News/slow.bin"));
}

TEST_F(ConsoleQuestionsTest, AutoCloseEndsAStartUpRunThatFinished) {
    SettingsStore(Settings()).SetAutoClose(true);
    Publish({"a.txt"}, {});
    StartSite();
    Open();
    AnswerUrl(site_.Address("/index.txt"));
    EXPECT_TRUE(WaitFor([&] { return !frame_; }));
}

}  // namespace
}  // namespace zephyrate::test
