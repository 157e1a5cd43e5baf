#include "tests/support/RecordingSurface.h"

#include <tuple>
#include <utility>

namespace zephyrate::test {

void RecordingSurface::OnEvent(std::function<void(const std::string& event)> callback) {
    std::lock_guard guard(mutex_);
    callback_ = std::move(callback);
}

std::vector<std::string> RecordingSurface::Events() const {
    std::lock_guard guard(mutex_);
    return events_;
}

std::vector<std::string> RecordingSurface::EventsOf(std::string_view kind) const {
    const std::string prefix = std::string(kind) + ":";
    std::vector<std::string> found;
    for (const std::string& event : Events()) {
        if (event.starts_with(prefix)) {
            found.push_back(event.substr(prefix.size()));
        } else if (event == kind) {  // events without fields, such as "rows-cleared"
            found.emplace_back();
        }
    }
    return found;
}

std::string RecordingSurface::LastStatus() const {
    const std::vector<std::string> texts = StatusTexts();
    return texts.empty() ? std::string() : texts.back();
}

std::vector<std::uint32_t> RecordingSurface::Positions() const {
    std::vector<std::uint32_t> positions;
    for (const std::string& text : EventsOf("position")) {
        positions.push_back(static_cast<std::uint32_t>(std::stoul(text)));
    }
    return positions;
}

void RecordingSurface::Clear() {
    std::lock_guard guard(mutex_);
    events_.clear();
}

void RecordingSurface::Record(std::string_view kind, std::string_view fields) {
    const std::string event = std::string(kind) + std::string(fields);
    std::function<void(const std::string&)> callback;
    {
        std::lock_guard guard(mutex_);
        events_.push_back(event);
        callback = callback_;
    }
    if (callback) {
        callback(event);
    }
}

ConsoleSurface::Answer RecordingSurface::MessageBox(std::string_view text, std::string_view caption,
                                                    Buttons buttons) {
    const bool retry = buttons == Buttons::RetryCancel;
    Record("message:",
           std::string(caption) + "|" + std::string(text) + (retry ? "|retry-cancel" : "|ok"));
    if (!retry) {
        return Answer::Ok;
    }
    std::lock_guard guard(mutex_);
    return retries_ > 0 ? (--retries_, Answer::Retry) : Answer::Cancel;
}

}  // namespace zephyrate::test

namespace zephyrate::test {

bool RecordingSurface::IsForceChecked() {
    Record("force", "");
    return false;  // the tests pass force to the step itself
}

void RecordingSurface::QueueLogin(std::string userName, std::string password) {
    std::lock_guard guard(mutex_);
    logins_.emplace_back(std::move(userName), std::move(password));
}

bool RecordingSurface::AskLogin(int reason, std::string& userName, std::string& password) {
    Record("login:", std::to_string(reason) + "|" + userName + "|" + password);
    std::lock_guard guard(mutex_);
    if (logins_.empty()) {
        return false;
    }
    std::tie(userName, password) = std::move(logins_.front());
    logins_.pop_front();
    return true;
}

void RecordingSurface::QueueUrl(std::string url) {
    std::lock_guard guard(mutex_);
    urls_.push_back(std::move(url));
}

bool RecordingSurface::AskUrl(std::string& url) {
    Record("url", "");
    std::lock_guard guard(mutex_);
    if (urls_.empty()) {
        return false;
    }
    url = std::move(urls_.front());
    urls_.pop_front();
    return true;
}

void RecordingSurface::QueueDestination(std::string path, bool automatic) {
    std::lock_guard guard(mutex_);
    destinations_.emplace_back(std::move(path), automatic);
}

bool RecordingSurface::AskDestination(std::string_view message, std::string& path,
                                      bool& automatic) {
    Record("destination:", std::string(message) + "|" + path + "|" + (automatic ? "1" : "0"));
    std::lock_guard guard(mutex_);
    if (destinations_.empty()) {
        return false;
    }
    std::tie(path, automatic) = std::move(destinations_.front());
    destinations_.pop_front();
    return true;
}

void RecordingSurface::QueueRetry(int count) {
    std::lock_guard guard(mutex_);
    retries_ += count;
}

void RecordingSurface::JobRowAdded(int row, std::string_view object, std::string_view status,
                                   int image) {
    Record("row-added:", std::to_string(row) + "|" + std::string(object) + "|" +
                             std::string(status) + "|" + std::to_string(image));
    std::lock_guard guard(mutex_);
    if (row == static_cast<int>(rows_.size())) {
        rows_.push_back(std::string(object) + "|" + std::string(status) + "|" +
                        std::to_string(image));
    }
}

void RecordingSurface::JobRowChanged(int row, std::string_view status, int image) {
    Record("row-changed:",
           std::to_string(row) + "|" + std::string(status) + "|" + std::to_string(image));
    std::lock_guard guard(mutex_);
    if (row >= 0 && row < static_cast<int>(rows_.size())) {
        std::string& text = rows_[static_cast<std::size_t>(row)];
        text = text.substr(0, text.find('|')) + "|" + std::string(status) + "|" +
               std::to_string(image);
    }
}

void RecordingSurface::JobRowsCleared() {
    Record("rows-cleared", "");
    std::lock_guard guard(mutex_);
    rows_.clear();
}

std::vector<std::string> RecordingSurface::Rows() const {
    std::lock_guard guard(mutex_);
    return rows_;
}

}  // namespace zephyrate::test
