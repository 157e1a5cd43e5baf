// A console surface that records every call, in order, as a text event:
//   "status:TEXT"  "detail:LINE|TEXT"  "logo:BITMAP"  "link:ADDRESS"  "force"
//   "range:UPPER"  "position:POS"  "throughput:TEXT"  "mode:running" / "mode:idle"
//   "message:CAPTION|TEXT|ok" or "...|retry-cancel"
//   "row-added:ROW|OBJECT|STATUS|IMAGE"  "row-changed:ROW|STATUS|IMAGE"  "rows-cleared"
//   "login:REASON|USER|PASSWORD" "url" "destination:MESSAGE|PATH|0 or 1" (pre-filled values)
// The force box reads unchecked; a message box is answered Ok, or,
// when it offers retry, Retry as often as queued and then Cancel, so that no retry loop
// hangs; each question takes its next queued answer, or Cancel when none is left.
// Threads: every member may be called from any thread; one mutex guards the record. The
// event callback runs on the calling thread, outside the lock, after the event is recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "run/ConsoleSurface.h"

namespace zephyrate::test {

class RecordingSurface : public ConsoleSurface {
  public:
    // Called with every event as it is recorded, e.g. to press a cancel button when a
    // given status appears. Pass an empty function to stop.
    void OnEvent(std::function<void(const std::string& event)> callback);

    std::vector<std::string> Events() const;
    // The events of one kind ("status", "row-changed", ...) without the "kind:" prefix.
    std::vector<std::string> EventsOf(std::string_view kind) const;
    std::vector<std::string> StatusTexts() const { return EventsOf("status"); }
    std::string LastStatus() const;  // empty when none was set
    std::vector<std::uint32_t> Positions() const;
    // Forgets the events; keeps the callback.
    void Clear();

    void SetStatusText(std::string_view text) override { Record("status:", text); }
    void SetDetailLine(int line, std::string_view text) override {
        Record("detail:", std::to_string(line) + "|" + std::string(text));
    }
    void SetLogo(std::int64_t bitmap) override { Record("logo:", std::to_string(bitmap)); }
    void SetProviderLink(std::string_view address) override { Record("link:", address); }
    bool IsForceChecked() override;
    void SetProgressRange(std::uint32_t upper) override { Record("range:", std::to_string(upper)); }
    void SetProgressPosition(std::uint32_t position) override {
        Record("position:", std::to_string(position));
    }
    void SetThroughputText(std::string_view text) override { Record("throughput:", text); }
    void SetRunningMode(bool running) override { Record("mode:", running ? "running" : "idle"); }
    Answer MessageBox(std::string_view text, std::string_view caption, Buttons buttons) override;
    void JobRowAdded(int row, std::string_view object, std::string_view status, int image) override;
    void JobRowChanged(int row, std::string_view status, int image) override;
    void JobRowsCleared() override;

    // Login answers, taken in order: OK with the user and password given.
    void QueueLogin(std::string userName, std::string password);
    bool AskLogin(int reason, std::string& userName, std::string& password) override;
    void QueueUrl(std::string url);
    bool AskUrl(std::string& url) override;
    void QueueDestination(std::string path, bool automatic);
    bool AskDestination(std::string_view message, std::string& path, bool& automatic) override;
    // The next count retry messages are answered Retry.
    void QueueRetry(int count);
    // The job list's rows as the surface saw them: "OBJECT|STATUS|IMAGE" per row.
    std::vector<std::string> Rows() const;

  private:
    void Record(std::string_view kind, std::string_view fields);

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::function<void(const std::string&)> callback_;
    std::deque<std::pair<std::string, std::string>> logins_;
    std::deque<std::string> urls_;
    std::deque<std::pair<std::string, bool>> destinations_;
    int retries_ = 0;
    std::vector<std::string> rows_;
};

}  // namespace zephyrate::test
