// zephyrate-window-bench: one start-up run of the window program, as a launcher starts it,
// with the address prompt answered at once, timed from the answer to the run's end (the
// status line reads "Finished", or Auto Close closes the window). Meanwhile it measures how
// the main thread keeps up: the ticks of a 100 ms timer of its own, and the delay of an
// event posted from another thread every 50 ms (a button press stands for one of these).
// A normal wxApp main loop runs it all, so the figures are the program's own.
//
// Usage: zephyrate-window-bench --settings FILE --device DIR --log-dir DIR ADDRESS
//        [--limit SECONDS]
// Prints "key value" lines on standard output; exits 0 when the run finished.
#include <sys/resource.h>
#include <time.h>

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "console/ConsoleFrame.h"
#include "console/Utf8.h"
#include "platform/LogFolder.h"

namespace {

using namespace zephyrate;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double ThreadProcessorMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double ProcessProcessorMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

template <class T>
T* FindChild(wxWindow* parent) {
    for (wxWindow* child : parent->GetChildren()) {
        if (auto* found = dynamic_cast<T*>(child)) {
            return found;
        }
        if (T* below = FindChild<T>(child)) {
            return below;
        }
    }
    return nullptr;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}

class BenchApp : public wxApp {
  public:
    bool OnInit() override;
    // The main loop, then the figures; the exit status tells whether the run finished.
    int OnRun() override;
    // Every event handler runs through here: the frame's timer handlers (its painting of
    // what the worker wrote) are timed during the transfer.
    void CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                          wxEvent& event) const override;

  private:
    enum { kFinderTimer = 1, kTickTimer };

    void LookForPrompt();
    void OnTick();
    // The run's end, seen first either way; later calls change nothing.
    void Ended(const wxString& status);
    std::string Status() const;
    void StartPoster();
    void StopPoster();

    std::string settings_, device_, logDir_, address_;
    std::chrono::seconds limit_{600};
    wxWeakRef<ConsoleFrame> frame_;
    wxWindow* status_ = nullptr;  // the frame's status line, while frame_ is there
    wxTimer finder_{this, kFinderTimer};
    wxTimer ticker_{this, kTickTimer};

    Clock::time_point start_ = Clock::now();
    std::optional<Clock::time_point> answered_, ended_, idleSince_;
    std::string endStatus_;
    double mainCpuAtAnswer_ = 0, mainCpu_ = 0, processCpuAtAnswer_ = 0, processCpu_ = 0;
    std::vector<Clock::time_point> ticks_;
    mutable std::vector<double> paints_;  // wall time of each, ms
    mutable double paintCpu_ = 0;         // main thread's processor time in them, ms
    // Each posted event: when it was posted and how long it waited.
    std::vector<std::pair<Clock::time_point, double>> posted_;

    std::thread poster_;
    std::mutex posterLock_;
    std::condition_variable posterWake_;
    bool posterStop_ = false;  // guarded by posterLock_
};

bool BenchApp::OnInit() {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i].utf8_string();
        const auto value = [&]() { return i + 1 < argc ? argv[++i].utf8_string() : std::string(); };
        if (arg == "--settings") {
            settings_ = value();
        } else if (arg == "--device") {
            device_ = value();
        } else if (arg == "--log-dir") {
            logDir_ = value();
        } else if (arg == "--limit") {
            limit_ = std::chrono::seconds(std::stoi(value()));
        } else {
            address_ = arg;
        }
    }
    if (settings_.empty() || device_.empty() || logDir_.empty() || address_.empty()) {
        std::fputs(
            "usage: zephyrate-window-bench --settings FILE --device DIR --log-dir DIR ADDRESS "
            "[--limit SECONDS]\n",
            stderr);
        return false;
    }
    // A failed wxWidgets check is reported, not shown as a dialog that nobody answers.
    wxSetAssertHandler([](const wxString& file, int line, const wxString&, const wxString& cond,
                          const wxString& message) {
        std::fprintf(stderr, "wxWidgets assertion %s (%s:%d): %s\n", cond.utf8_str().data(),
                     file.utf8_str().data(), line, message.utf8_str().data());
    });
    SetAppName(wxS("zephyrate"));
    SetAppDisplayName(wxS("Zephyrate"));
    if (std::string problem = EnterLogFolder(logDir_); !problem.empty()) {
        std::fprintf(stderr, "window-bench: %s\n", problem.c_str());
        return false;
    }

    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { LookForPrompt(); }, kFinderTimer);
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { OnTick(); }, kTickTimer);
    ConsoleFrame::Setup setup;
    setup.settingsPath = settings_;
    setup.deviceFolder = device_;
    setup.openBrowser = [](const std::string&) { return true; };
    frame_ = new ConsoleFrame(std::move(setup));  // owned by wxWidgets
    frame_->Open();
    status_ = wxWindow::FindWindowByName(wxS("status"), frame_);
    // Bound after the frame's own handler, so called before it.
    frame_->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (answered_ && !frame_->GetConsole().Control().Running()) {
            Ended(Utf8ToWx(Status()));
        }
        event.Skip();
    });
    // The run's end also shows in the status line, between two events of any kind.
    Bind(wxEVT_IDLE, [this](wxIdleEvent& event) {
        if (answered_ && frame_ && Status() == "Finished") {
            Ended(wxS("Finished"));
        }
        event.Skip();
    });
    finder_.Start(5);
    return true;
}

std::string BenchApp::Status() const {
    return frame_ && status_ != nullptr ? WxToUtf8(status_->GetLabel()) : std::string();
}

void BenchApp::LookForPrompt() {
    if (Clock::now() - start_ > 60s) {
        std::fputs("window-bench: no address prompt within 60 s\n", stderr);
        finder_.Stop();
        Ended(wxS("no address prompt"));
        return;
    }
    wxDialog* prompt = nullptr;
    for (wxWindow* window : wxTopLevelWindows) {
        auto* dialog = dynamic_cast<wxDialog*>(window);
        if (dialog != nullptr && dialog->IsShown() && dialog->GetTitle() == wxS("Zephyrate")) {
            prompt = dialog;
        }
    }
    wxTextCtrl* field = prompt != nullptr ? FindChild<wxTextCtrl>(prompt) : nullptr;
    wxWindow* ok = prompt != nullptr ? prompt->FindWindow(wxID_OK) : nullptr;
    if (field == nullptr || ok == nullptr) {
        return;
    }
    finder_.Stop();
    field->SetValue(Utf8ToWx(address_));
    ticks_.reserve(100000);
    posted_.reserve(100000);
    paints_.reserve(100000);
    ticker_.Start(100);
    StartPoster();
    answered_ = Clock::now();
    mainCpuAtAnswer_ = ThreadProcessorMs();
    processCpuAtAnswer_ = ProcessProcessorMs();
    // What a click on OK sends; it travels up from the button to the dialog.
    wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
    click.SetEventObject(ok);
    ok->GetEventHandler()->ProcessEvent(click);
}

void BenchApp::CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                                wxEvent& event) const {
    if (handler != frame_.get() || event.GetEventType() != wxEVT_TIMER || !answered_ || ended_) {
        wxApp::CallEventHandler(handler, functor, event);
        return;
    }
    const Clock::time_point begin = Clock::now();
    const double cpu = ThreadProcessorMs();
    wxApp::CallEventHandler(handler, functor, event);
    paintCpu_ += ThreadProcessorMs() - cpu;
    paints_.push_back(Ms(Clock::now() - begin));
}

void BenchApp::OnTick() {
    const Clock::time_point now = Clock::now();
    ticks_.push_back(now);
    if (ended_ || !frame_) {
        return;
    }
    if (now - *answered_ > limit_) {
        Ended(wxS("time limit passed, status: ") + Utf8ToWx(Status()));
        return;
    }
    // A run that ended otherwise (errors, a question) leaves the window open: the status
    // then stays what it is.
    if (frame_->GetConsole().Control().Running()) {
        idleSince_.reset();
    } else if (!idleSince_) {
        idleSince_ = now;
    } else if (now - *idleSince_ > 2s) {
        Ended(Utf8ToWx(Status()));
    }
}

void BenchApp::Ended(const wxString& status) {
    if (ended_) {
        return;
    }
    ended_ = Clock::now();
    mainCpu_ = ThreadProcessorMs();
    processCpu_ = ProcessProcessorMs();
    endStatus_ = WxToUtf8(status);
    ticker_.Stop();
    StopPoster();
    if (frame_) {
        // Closes it now if it did not close itself; the main loop ends with it.
        CallAfter([this] {
            if (frame_) {
                frame_->Close(true);
            }
        });
    }
}

void BenchApp::StartPoster() {
    poster_ = std::thread([this] {
        std::unique_lock<std::mutex> hold(posterLock_);
        for (Clock::time_point next = Clock::now(); !posterStop_; next += 50ms) {
            const Clock::time_point sent = Clock::now();
            CallAfter([this, sent] { posted_.emplace_back(sent, Ms(Clock::now() - sent)); });
            posterWake_.wait_until(hold, next + 50ms, [this] { return posterStop_; });
        }
    });
}

void BenchApp::StopPoster() {
    if (!poster_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(posterLock_);
        posterStop_ = true;
    }
    posterWake_.notify_all();
    poster_.join();
}

int BenchApp::OnRun() {
    wxApp::OnRun();
    StopPoster();
    if (!answered_ || !ended_) {
        std::puts("status no run");
        return 1;
    }
    const double wallMs = Ms(*ended_ - *answered_);
    // The ticks during the transfer, and the longest stretch without one.
    std::size_t ticks = 0;
    double longestGap = 0;
    Clock::time_point last = *answered_;
    for (Clock::time_point tick : ticks_) {
        if (tick > *ended_) {
            break;
        }
        ++ticks;
        longestGap = std::max(longestGap, Ms(tick - last));
        last = tick;
    }
    longestGap = std::max(longestGap, Ms(*ended_ - last));
    std::vector<double> delays;
    for (const auto& [sent, delay] : posted_) {
        if (sent >= *answered_ && sent <= *ended_) {
            delays.push_back(delay);
        }
    }
    std::printf("status %s\n", endStatus_.c_str());
    std::printf("wall_s %.4f\n", wallMs / 1e3);
    std::printf("since_start_s %.4f\n", Ms(*ended_ - start_) / 1e3);
    std::printf("ticks %zu\n", ticks);
    // Counted up to the last tick, so that a short run's rounding (a run of 0.65 s holds six
    // ticks at most) does not read as missed ticks; a stall at the end shows in the gap.
    std::printf("ticks_per_s %.2f\n", ticks == 0 ? 0.0 : ticks / (Ms(last - *answered_) / 1e3));
    std::printf("tick_gap_max_ms %.1f\n", longestGap);
    std::printf("posted %zu\n", delays.size());
    std::printf("posted_median_ms %.2f\n", Median(delays));
    std::printf("posted_max_ms %.2f\n",
                delays.empty() ? 0.0 : *std::max_element(delays.begin(), delays.end()));
    std::printf("paints %zu\n", paints_.size());
    std::printf("paint_median_ms %.3f\n", Median(paints_));
    std::printf("paint_max_ms %.2f\n",
                paints_.empty() ? 0.0 : *std::max_element(paints_.begin(), paints_.end()));
    double paintTotal = 0;
    for (double paint : paints_) {
        paintTotal += paint;
    }
    std::printf("paint_total_ms %.1f\n", paintTotal);
    std::printf("paint_cpu_ms %.1f\n", paintCpu_);
    std::printf("main_cpu_ms %.1f\n", mainCpu_ - mainCpuAtAnswer_);
    std::printf("process_cpu_ms %.1f\n", processCpu_ - processCpuAtAnswer_);
    std::fflush(stdout);
    return endStatus_ == "Finished" ? 0 : 1;
}

}  // namespace

wxIMPLEMENT_APP(BenchApp);
