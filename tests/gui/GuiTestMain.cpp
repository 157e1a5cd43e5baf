// The window tests' main: one wxWidgets application for the process, made when the first
// test starts (listing the tests needs no X server), with an event loop that the tests run
// through WaitFor. A failed wxWidgets assertion fails the test instead of opening a dialog.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/init.h>

#include <memory>

namespace {

class WindowEnvironment : public ::testing::Environment {
  public:
    WindowEnvironment(int argc, char** argv) : argc_(argc), argv_(argv) {}

    void SetUp() override {
        wxSetAssertHandler([](const wxString& file, int line, const wxString& function,
                              const wxString& condition, const wxString& message) {
            ADD_FAILURE() << "wxWidgets assertion " << condition.utf8_string() << " in "
                          << function.utf8_string() << " (" << file.utf8_string() << ":" << line
                          << "): " << message.utf8_string();
        });
        wxApp::SetInstance(new wxApp);  // owned and deleted by wxWidgets
        ASSERT_TRUE(wxEntryStart(argc_, argv_)) << "no X server (run under scripts/with-xvfb)";
        wxInitAllImageHandlers();
        loop_ = std::make_unique<wxGUIEventLoop>();
        wxEventLoopBase::SetActive(loop_.get());
    }
    void TearDown() override {
        wxEventLoopBase::SetActive(nullptr);
        loop_.reset();
        wxEntryCleanup();
    }

  private:
    int argc_;
    char** argv_;
    std::unique_ptr<wxGUIEventLoop> loop_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // gtest owns the environment once added.
    ::testing::AddGlobalTestEnvironment(new WindowEnvironment(argc, argv));
    return RUN_ALL_TESTS();
}
