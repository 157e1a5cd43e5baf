// The console surface of the terminal program. Status texts become lines on the output;
// the per-chunk progress reports drive a progress bar redrawn in place at most ten times a
// second when the output is a terminal, and are dropped otherwise. Questions are
// asked through a TerminalPrompt when there is one; without it they are answered as a
// script needs: the address with the command line's, the first login question with the
// given or stored login, every other question with Cancel. Message boxes with an OK button
// go to the error stream as "CAPTION: TEXT".
//
// Threads: every member on the thread that runs the engine (the program's main thread).
// The streams and the prompt belong to the caller and must outlive the object.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/ConsoleSurface.h"
#include "run/JobList.h"

namespace zephyrate {

class TerminalPrompt;

class TerminalSurface final : public ConsoleSurface {
  public:
    struct Setup {
        std::string address;       // the answer to the address question
        bool quiet = false;        // no status lines, no progress
        bool force = false;        // "Force update to device"
        bool progressBar = false;  // the output is a terminal
        // The answer to the first login question; a part not given keeps the stored one.
        std::optional<std::string> user;
        std::optional<std::string> password;
    };

    // prompt: null when nobody can be asked.
    TerminalSurface(Setup setup, std::FILE* out, std::FILE* err, TerminalPrompt* prompt);

    void SetStatusText(std::string_view text) override;
    void SetDetailLine(int, std::string_view) override {}
    void SetLogo(std::int64_t) override {}
    void SetProviderLink(std::string_view) override {}
    bool IsForceChecked() override { return setup_.force; }
    void SetProgressRange(std::uint32_t) override {}
    void SetProgressPosition(std::uint32_t) override {}
    void SetThroughputText(std::string_view) override {}
    void ShowProgress(const ProgressReport& report) override;
    void SetRunningMode(bool) override {}
    Answer MessageBox(std::string_view text, std::string_view caption, Buttons buttons) override;
    bool AskLogin(int reason, std::string& userName, std::string& password) override;
    bool AskUrl(std::string& url) override;
    bool AskDestination(std::string_view message, std::string& path, bool& automatic) override;
    void JobRowAdded(int, std::string_view, std::string_view, int) override {}
    void JobRowChanged(int, std::string_view, int) override {}
    void JobRowsCleared() override {}

    // The latest status text: the final status after a run.
    const std::string& LastStatus() const { return lastStatus_; }
    // Whether a login question was answered Cancel (the server kept refusing).
    bool LoginDeclined() const { return loginDeclined_; }

    // The job list, one row per line with object and status in full, then the final
    // status (not repeated when there are no rows and the status lines were printed).
    void PrintJobList(const std::vector<JobList::Row>& rows);
    // A line of the program's own on the error stream: "zephyrate-sync: TEXT".
    void Note(std::string_view text);

  private:
    void DrawProgress();
    void ClearProgress();
    int TerminalWidth() const;

    Setup setup_;
    std::FILE* out_;
    std::FILE* err_;
    TerminalPrompt* prompt_;

    std::string lastStatus_;
    int loginQuestions_ = 0;
    bool loginDeclined_ = false;

    // The progress bar: the texts of the drawing that is due or was made last.
    std::string progressName_;
    std::int64_t progressDone_ = 0;
    std::uint32_t progressTotal_ = 0;
    std::string throughputText_;
    std::string line_;                 // reused for every drawing
    std::int64_t lastDrawMs_ = -1000;  // the coarse clock's time of the latest drawing
    bool barShown_ = false;
};

}  // namespace zephyrate
