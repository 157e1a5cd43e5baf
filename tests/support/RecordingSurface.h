// A console surface that records every call, in order, as a text event, and answers the
// two questions from a script: the force check box from SetForce, message boxes from
// QueueAnswer. Events read:
//   "status:TEXT"  "detail:LINE|TEXT"  "logo:BITMAP"  "link:ADDRESS"  "force:0|1"
//   "range:UPPER"  "position:POS"  "throughput:TEXT"  "mode:running" / "mode:idle"
//   "message:CAPTION|TEXT|ok" or "...|retry-cancel" (the answer is in Messages())
//   "row-added:ROW|OBJECT|STATUS|IMAGE"  "row-changed:ROW|STATUS|IMAGE"  "rows-cleared"
// Threads: every member may be called from any thread; one mutex guards the record. The
// event callback runs on the calling thread, outside the lock, after the event is recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ConsoleSurface.h"

namespace zephyrate::test {

class RecordingSurface : public ConsoleSurface {
  public:
    struct Row {
        std::string object;
        std::string status;
        int image = 0;
        friend bool operator==(const Row&, const Row&) = default;
    };
    struct Message {
        std::string text;
        std::string caption;
        Buttons buttons = Buttons::Ok;
        Answer answer = Answer::Ok;
    };

    // --- Script
    void SetForce(bool checked);
    // Answers of the next message boxes, first in first out. With none queued a box is
    // answered Ok (Buttons::Ok) or Cancel (Buttons::RetryCancel), so no retry loop hangs.
    void QueueAnswer(Answer answer);
    // Called with every event as it is recorded, e.g. to press a cancel button when a
    // given status appears. Pass an empty function to stop.
    void OnEvent(std::function<void(const std::string& event)> callback);

    // --- Record
    std::vector<std::string> Events() const;
    // The events of one kind ("status", "throughput", "row-changed", ...), with the
    // "kind:" prefix taken off.
    std::vector<std::string> EventsOf(std::string_view kind) const;
    std::vector<std::string> StatusTexts() const { return EventsOf("status"); }
    std::string LastStatus() const;  // empty when none was set
    std::vector<std::string> ThroughputTexts() const { return EventsOf("throughput"); }
    std::vector<std::uint32_t> Positions() const;
    std::uint32_t ProgressRange() const;     // the last one set; 0 before any
    std::uint32_t ProgressPosition() const;  // likewise
    bool RunningMode() const;                // the last mode set; false before any
    std::string DetailLine(int line) const;  // the last text of line 1..4
    std::int64_t Logo() const;               // the last bitmap; 0 before any
    std::string ProviderLink() const;
    std::vector<Row> Rows() const;  // the job list as the mirrored calls built it
    std::vector<Message> Messages() const;
    // Forgets the events, messages and mirrored state; keeps the script.
    void Clear();

    // --- ConsoleSurface
    void SetStatusText(std::string_view text) override;
    void SetDetailLine(int line, std::string_view text) override;
    void SetLogo(std::int64_t bitmap) override;
    void SetProviderLink(std::string_view address) override;
    bool IsForceChecked() override;
    void SetProgressRange(std::uint32_t upper) override;
    void SetProgressPosition(std::uint32_t position) override;
    void SetThroughputText(std::string_view text) override;
    void SetRunningMode(bool running) override;
    Answer MessageBox(std::string_view text, std::string_view caption, Buttons buttons) override;
    void JobRowAdded(int row, std::string_view object, std::string_view status, int image) override;
    void JobRowChanged(int row, std::string_view status, int image) override;
    void JobRowsCleared() override;

  private:
    // Records an event; the caller holds the lock.
    void RecordLocked(std::string event);
    // Runs the callback, if any, outside the lock.
    void Notify(const std::string& event);

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<Message> messages_;
    std::deque<Answer> answers_;
    std::function<void(const std::string&)> callback_;
    bool force_ = false;
    std::uint32_t range_ = 0;
    std::uint32_t position_ = 0;
    bool running_ = false;
    std::map<int, std::string> details_;
    std::int64_t logo_ = 0;
    std::string link_;
    std::vector<Row> rows_;
};

}  // namespace zephyrate::test
