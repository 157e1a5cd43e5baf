#include "tests/support/RecordingSurface.h"

#include <utility>

namespace zephyrate::test {

namespace {

std::string Join(std::string_view kind, std::initializer_list<std::string_view> fields) {
    std::string event(kind);
    event += ':';
    bool first = true;
    for (std::string_view field : fields) {
        if (!first) {
            event += '|';
        }
        event += field;
        first = false;
    }
    return event;
}

}  // namespace

void RecordingSurface::SetForce(bool checked) {
    std::lock_guard guard(mutex_);
    force_ = checked;
}

void RecordingSurface::QueueAnswer(Answer answer) {
    std::lock_guard guard(mutex_);
    answers_.push_back(answer);
}

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
    std::lock_guard guard(mutex_);
    for (const std::string& event : events_) {
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

std::uint32_t RecordingSurface::ProgressRange() const {
    std::lock_guard guard(mutex_);
    return range_;
}

std::uint32_t RecordingSurface::ProgressPosition() const {
    std::lock_guard guard(mutex_);
    return position_;
}

bool RecordingSurface::RunningMode() const {
    std::lock_guard guard(mutex_);
    return running_;
}

std::string RecordingSurface::DetailLine(int line) const {
    std::lock_guard guard(mutex_);
    const auto found = details_.find(line);
    return found == details_.end() ? std::string() : found->second;
}

std::int64_t RecordingSurface::Logo() const {
    std::lock_guard guard(mutex_);
    return logo_;
}

std::string RecordingSurface::ProviderLink() const {
    std::lock_guard guard(mutex_);
    return link_;
}

std::vector<RecordingSurface::Row> RecordingSurface::Rows() const {
    std::lock_guard guard(mutex_);
    return rows_;
}

std::vector<RecordingSurface::Message> RecordingSurface::Messages() const {
    std::lock_guard guard(mutex_);
    return messages_;
}

void RecordingSurface::Clear() {
    std::lock_guard guard(mutex_);
    events_.clear();
    messages_.clear();
    range_ = 0;
    position_ = 0;
    running_ = false;
    details_.clear();
    logo_ = 0;
    link_.clear();
    rows_.clear();
}

void RecordingSurface::RecordLocked(std::string event) {
    events_.push_back(std::move(event));
}

void RecordingSurface::Notify(const std::string& event) {
    std::function<void(const std::string&)> callback;
    {
        std::lock_guard guard(mutex_);
        callback = callback_;
    }
    if (callback) {
        callback(event);
    }
}

void RecordingSurface::SetStatusText(std::string_view text) {
    std::string event = Join("status", {text});
    {
        std::lock_guard guard(mutex_);
        RecordLocked(event);
    }
    Notify(event);
}

void RecordingSurface::SetDetailLine(int line, std::string_view text) {
    std::string event = Join("detail", {std::to_string(line), text});
    {
        std::lock_guard guard(mutex_);
        details_[line] = std::string(text);
        RecordLocked(event);
    }
    Notify(event);
}

void RecordingSurface::SetLogo(std::int64_t bitmap) {
    std::string event = Join("logo", {std::to_string(bitmap)});
    {
        std::lock_guard guard(mutex_);
        logo_ = bitmap;
        RecordLocked(event);
    }
    Notify(event);
}

void RecordingSurface::SetProviderLink(std::string_view address) {
    std::string event = Join("link", {address});
    {
        std::lock_guard guard(mutex_);
        link_ = std::string(address);
        RecordLocked(event);
    }
    Notify(event);
}

bool RecordingSurface::IsForceChecked() {
    bool checked = false;
    std::string event;
    {
        std::lock_guard guard(mutex_);
        checked = force_;
        event = Join("force", {checked ? "1" : "0"});
        RecordLocked(event);
    }
    Notify(event);
    return checked;
}

void RecordingSurface::SetProgressRange(std::uint32_t upper) {
    std::string event = Join("range", {std::to_string(upper)});
    {
        std::lock_guard guard(mutex_);
        range_ = upper;
        RecordLocked(event);
    }
    Notify(event);
}

void RecordingSurface::SetProgressPosition(std::uint32_t position) {
    std::string event = Join("position", {std::to_string(position)});
    {
        std::lock_guard guard(mutex_);
        position_ = position;
        RecordLocked(event);
    }
    Notify(event);
}

void RecordingSurface::SetThroughputText(std::string_view text) {
    std::string event = Join("throughput", {text});
    {
        std::lock_guard guard(mutex_);
        RecordLocked(event);
    }
    Notify(event);
}

void RecordingSurface::SetRunningMode(bool running) {
    std::string event = Join("mode", {running ? "running" : "idle"});
    {
        std::lock_guard guard(mutex_);
        running_ = running;
        RecordLocked(event);
    }
    Notify(event);
}

ConsoleSurface::Answer RecordingSurface::MessageBox(std::string_view text, std::string_view caption,
                                                    Buttons buttons) {
    const bool retryCancel = buttons == Buttons::RetryCancel;
    std::string event = Join("message", {caption, text, retryCancel ? "retry-cancel" : "ok"});
    Answer answer = retryCancel ? Answer::Cancel : Answer::Ok;
    {
        std::lock_guard guard(mutex_);
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
        messages_.push_back(Message{std::string(text), std::string(caption), buttons, answer});
        RecordLocked(event);
    }
    Notify(event);
    return answer;
}

void RecordingSurface::JobRowAdded(int row, std::string_view object, std::string_view status,
                                   int image) {
    std::string event =
        Join("row-added", {std::to_string(row), object, status, std::to_string(image)});
    {
        std::lock_guard guard(mutex_);
        // Rows are only appended; a gap would show a fault of the list being mirrored.
        if (row >= 0 && static_cast<std::size_t>(row) == rows_.size()) {
            rows_.push_back(Row{std::string(object), std::string(status), image});
        }
        RecordLocked(event);
    }
    Notify(event);
}

void RecordingSurface::JobRowChanged(int row, std::string_view status, int image) {
    std::string event = Join("row-changed", {std::to_string(row), status, std::to_string(image)});
    {
        std::lock_guard guard(mutex_);
        if (row >= 0 && static_cast<std::size_t>(row) < rows_.size()) {
            rows_[static_cast<std::size_t>(row)].status = std::string(status);
            rows_[static_cast<std::size_t>(row)].image = image;
        }
        RecordLocked(event);
    }
    Notify(event);
}

void RecordingSurface::JobRowsCleared() {
    std::string event = "rows-cleared";
    {
        std::lock_guard guard(mutex_);
        rows_.clear();
        RecordLocked(event);
    }
    Notify(event);
}

}  // namespace zephyrate::test
