// A console surface that records every call, in order, as "kind:fields" with the fields
// joined by '|': "status:TEXT", "detail:LINE|TEXT", "message:CAPTION|TEXT|ok" (or
// "|retry-cancel"), "row-changed:ROW|STATUS|IMAGE", "login:REASON|USER|PASSWORD",
// "destination:MESSAGE|PATH|AUTOMATIC", "mode:running", and "force", "url", "rows-cleared"
// without fields. The force box reads unchecked and the destination question is
// cancelled. The login and address questions take their next queued answer, or Cancel
// when none is left; a retry message is answered Retry as often as queued, then Cancel,
// so that no retry loop hangs.
// Threads: one; the tests run the engine on their own thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "run/ConsoleSurface.h"

namespace zephyrate::test {

class RecordingSurface : public ConsoleSurface {
  public:
    // Called with every event after it is recorded, e.g. to press a cancel button when a
    // given status appears.
    void OnEvent(std::function<void(const std::string& event)> callback) {
        callback_ = std::move(callback);
    }
    std::vector<std::string> Events() const { return events_; }
    // The events of one kind without the "kind:" prefix.
    std::vector<std::string> EventsOf(std::string_view kind) const {
        const std::string prefix = std::string(kind) + ":";
        std::vector<std::string> found;
        for (const std::string& event : events_) {
            if (event.starts_with(prefix) || event == kind) {
                found.push_back(event.substr(std::min(prefix.size(), event.size())));
            }
        }
        return found;
    }
    std::string LastStatus() const {
        const std::vector<std::string> texts = EventsOf("status");
        return texts.empty() ? std::string() : texts.back();
    }
    void Clear() { events_.clear(); }

    void QueueLogin(std::string user, std::string password) {
        logins_.emplace_back(std::move(user), std::move(password));
    }
    void QueueUrl(std::string url) { urls_.push_back(std::move(url)); }
    void QueueRetry(int count) { retries_ += count; }

    void SetStatusText(std::string_view text) override { Record("status", text); }
    void SetDetailLine(int line, std::string_view text) override { Record("detail", line, text); }
    void SetLogo(std::int64_t bitmap) override { Record("logo", bitmap); }
    void SetProviderLink(std::string_view address) override { Record("link", address); }
    bool IsForceChecked() override {
        Record("force");
        return false;
    }
    void SetProgressRange(std::uint32_t upper) override { Record("range", upper); }
    void SetProgressPosition(std::uint32_t position) override { Record("position", position); }
    void SetThroughputText(std::string_view text) override { Record("throughput", text); }
    void SetRunningMode(bool running) override { Record("mode", running ? "running" : "idle"); }
    Answer MessageBox(std::string_view text, std::string_view caption, Buttons buttons) override {
        const bool retry = buttons == Buttons::RetryCancel;
        Record("message", caption, text, retry ? "retry-cancel" : "ok");
        if (!retry) {
            return Answer::Ok;
        }
        return retries_ > 0 ? (--retries_, Answer::Retry) : Answer::Cancel;
    }
    bool AskLogin(int reason, std::string& user, std::string& password) override {
        Record("login", reason, user, password);
        return Take(logins_, std::tie(user, password));
    }
    bool AskUrl(std::string& url) override {
        Record("url");
        return Take(urls_, url);
    }
    bool AskDestination(std::string_view message, std::string& path, bool& automatic) override {
        Record("destination", message, path, automatic);
        return false;
    }
    void JobRowAdded(int row, std::string_view object, std::string_view status,
                     int image) override {
        Record("row-added", row, object, status, image);
    }
    void JobRowChanged(int row, std::string_view status, int image) override {
        Record("row-changed", row, status, image);
    }
    void JobRowsCleared() override { Record("rows-cleared"); }

  private:
    static std::string Text(std::string_view text) { return std::string(text); }
    static std::string Text(std::int64_t number) { return std::to_string(number); }

    template <typename... Fields>
    void Record(std::string_view kind, const Fields&... fields) {
        std::string event(kind);
        [[maybe_unused]] const char* separator = ":";
        ((event += separator, event += Text(fields), separator = "|"), ...);
        events_.push_back(event);
        if (callback_) {
            callback_(event);
        }
    }
    template <typename Queued, typename Answer>
    static bool Take(std::deque<Queued>& queue, Answer&& answer) {
        if (queue.empty()) {
            return false;
        }
        answer = std::move(queue.front());
        queue.pop_front();
        return true;
    }

    std::vector<std::string> events_;
    std::function<void(const std::string&)> callback_;
    std::deque<std::pair<std::string, std::string>> logins_;
    std::deque<std::string> urls_;
    int retries_ = 0;
};

}  // namespace zephyrate::test
