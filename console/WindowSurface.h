// The console surface of the window. The worker thread of a run writes what it shows into
// state shared with the main thread, which paints it from a timer (Take), so that a
// download at full speed never waits for the screen; the job list's changes are kept in
// order, so the list ends with every row and every final status. Questions (login,
// address, destination, messages) are shown by the main thread through a Questions
// object: the worker waits for the answer while the console stays usable.
//
// Threads: the ConsoleSurface calls on any thread (the worker of a run, or the main thread
// for the menu's own dialogs, which then show modally); Take, SetClosing on the main thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "run/ConsoleSurface.h"

namespace zephyrate {

class WindowSurface : public ConsoleSurface {
  public:
    // One change of the job list.
    struct RowChange {
        enum class Kind { Added, Changed, Cleared };
        Kind kind = Kind::Added;
        int row = 0;
        std::string object;  // Added only
        std::string status;
        int image = 0;
    };

    // What changed since the main thread last painted; a field is set when it changed.
    struct Changes {
        std::optional<std::string> status;
        std::array<std::optional<std::string>, 4> details;
        std::optional<std::string> throughput;
        std::optional<std::uint32_t> range;
        std::optional<std::uint32_t> position;
        std::optional<std::int64_t> logo;
        std::optional<std::string> link;
        std::optional<bool> running;
        std::vector<RowChange> rows;

        bool Empty() const;
    };

    // The window's side of the questions, called on the main thread. Each shows its
    // question, modally when modal is true (the caller is the main thread itself), and
    // calls its reply exactly once: nothing in the optional means Cancel.
    class Questions {
      public:
        struct Login {
            std::string userName;
            std::string password;
        };
        struct Destination {
            std::string path;
            bool automatic = false;
        };
        template <class T>
        using Reply = std::function<void(T)>;

        virtual ~Questions() = default;
        virtual void AskUrl(bool modal, Reply<std::optional<std::string>> reply) = 0;
        virtual void AskLogin(bool modal, int reason, Login login,
                              Reply<std::optional<Login>> reply) = 0;
        virtual void AskDestination(bool modal, std::string message, Destination destination,
                                    Reply<std::optional<Destination>> reply) = 0;
        virtual void AskMessage(bool modal, std::string text, std::string caption, Buttons buttons,
                                Reply<Answer> reply) = 0;
        // Paints what is pending before a question shows, so the user reads the question
        // under the status that led to it.
        virtual void PaintPending() = 0;
    };

    // post runs a function on the main thread later; isMainThread tells the threads apart.
    WindowSurface(Questions& questions, std::function<void(std::function<void()>)> post,
                  std::function<bool()> isMainThread);

    // Main thread: takes the changes made since the last call.
    Changes Take();
    // Main thread: what the user sets on the window itself (a button's message in the
    // status line) goes through the same state, so a later paint does not undo it.
    void SetStatusFromWindow(std::string_view text) { SetStatusText(text); }
    // The force check box, mirrored by the window whenever the user changes it.
    void SetForceChecked(bool checked) { force_.store(checked, std::memory_order_relaxed); }
    // From now on every question is answered Cancel at once (the window is closing).
    void SetClosing() { closing_.store(true, std::memory_order_release); }

    void SetStatusText(std::string_view text) override;
    void SetDetailLine(int line, std::string_view text) override;
    void SetLogo(std::int64_t bitmap) override;
    void SetProviderLink(std::string_view address) override;
    bool IsForceChecked() override { return force_.load(std::memory_order_relaxed); }
    void SetProgressRange(std::uint32_t upper) override;
    void SetProgressPosition(std::uint32_t position) override;
    void SetThroughputText(std::string_view text) override;
    void SetRunningMode(bool running) override;
    Answer MessageBox(std::string_view text, std::string_view caption, Buttons buttons) override;
    bool AskLogin(int reason, std::string& userName, std::string& password) override;
    bool AskUrl(std::string& url) override;
    bool AskDestination(std::string_view message, std::string& path, bool& automatic) override;
    void JobRowAdded(int row, std::string_view object, std::string_view status, int image) override;
    void JobRowChanged(int row, std::string_view status, int image) override;
    void JobRowsCleared() override;
    // One lock for the four parts of a report: this is called once per chunk.
    void ShowProgress(const ProgressReport& report) override;

  private:
    // Shows a question on the main thread and waits for its answer; closed when the window
    // is closing.
    template <class T>
    T Ask(std::function<void(bool modal, Questions::Reply<T> reply)> show, T closed);
    static void Assign(std::optional<std::string>& field, std::string_view text);

    Questions& questions_;
    std::function<void(std::function<void()>)> post_;
    std::function<bool()> isMainThread_;
    std::atomic<bool> force_{false};
    std::atomic<bool> closing_{false};
    std::mutex lock_;
    Changes pending_;  // guarded by lock_
};

}  // namespace zephyrate
