// What the engine sets and reads in the console while it works: status line, detail
// lines, logo, provider link, force check box, progress bar, throughput label, job-list
// rows, running/idle mode, a message box, and the questions
// the engine asks the user (login, address, destination root). The window and the terminal program
// each implement it; tests record it.
//
// Threads: the engine calls it from the worker thread. Frequent calls (status text,
// progress, throughput: once per 4096-byte chunk) must return quickly and must not wait
// for the screen; an implementation copies what it needs (the string_views die with the
// call) and paints later. Rare calls (IsForceChecked, MessageBox) may wait for an answer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace zephyrate {

class ConsoleSurface {
  public:
    // Buttons of MessageBox and the button pressed.
    enum class Buttons { Ok, RetryCancel };
    enum class Answer { Ok, Retry, Cancel };

    virtual ~ConsoleSurface() = default;

    virtual void SetStatusText(std::string_view text) = 0;
    // line is 1 to 4: splash text, provider name, provider e-mail, provider web site.
    virtual void SetDetailLine(int line, std::string_view text) = 0;
    // The job's logo picture: a bitmap number; 131 is the program's own logo.
    virtual void SetLogo(std::int64_t bitmap) = 0;
    virtual void SetProviderLink(std::string_view address) = 0;
    virtual bool IsForceChecked() = 0;
    virtual void SetProgressRange(std::uint32_t upper) = 0;  // lower bound is 0
    virtual void SetProgressPosition(std::uint32_t position) = 0;
    virtual void SetThroughputText(std::string_view text) = 0;
    virtual void SetRunningMode(bool running) = 0;
    virtual Answer MessageBox(std::string_view text, std::string_view caption, Buttons buttons) = 0;

    // The login question: reason 1 or 2 (LoginReasonText gives its message), userName and
    // password come pre-filled. True (OK) with the typed values in them; false (Cancel).
    virtual bool AskLogin(int reason, std::string& userName, std::string& password) = 0;
    // The address prompt: url comes empty. True (OK) with the text as typed, without
    // "http://".
    virtual bool AskUrl(std::string& url) = 0;
    // The destination question: message (empty: "Enter here the root path on your
    // device."), the root path and the automatic selection check box pre-filled. True (OK)
    // with the edited values.
    virtual bool AskDestination(std::string_view message, std::string& path, bool& automatic) = 0;

    // The job list's rows, mirrored: rows are only ever appended, changed or all removed.
    virtual void JobRowAdded(int row, std::string_view object, std::string_view status,
                             int image) = 0;
    virtual void JobRowChanged(int row, std::string_view status, int image) = 0;
    virtual void JobRowsCleared() = 0;

    // One progress report of a transfer, with the texts made of it: the status text
    // "Retrieving: NAME  DONE/TOTAL" and the throughput text "K.KK Kbps".
    struct ProgressReport {
        std::string_view name;
        std::int64_t done = 0;
        std::uint32_t total = 0;  // 0: unknown
        double kilobytesPerSecond = 0;
        std::string_view statusText;
        std::string_view throughputText;
    };
    // Shows a report: by default the status text, the throughput text, the range and the
    // position, in that order. A front end that draws progress its own way (the terminal's
    // bar) overrides it and works from the numbers.
    virtual void ShowProgress(const ProgressReport& report) {
        SetStatusText(report.statusText);
        SetThroughputText(report.throughputText);
        SetProgressRange(report.total);
        // 64 bits in, 32 out: a file past 4 GiB holds the bar full rather than wrapping.
        SetProgressPosition(
            static_cast<std::uint32_t>(std::clamp<std::int64_t>(report.done, 0, UINT32_MAX)));
    }
};

}  // namespace zephyrate
