#include "console/WindowSurface.h"

namespace zephyrate {

bool WindowSurface::Changes::Empty() const {
    for (const std::optional<std::string>& line : details) {
        if (line) {
            return false;
        }
    }
    return !status && !throughput && !range && !position && !logo && !link && !running &&
           rows.empty();
}

WindowSurface::WindowSurface(Questions& questions, std::function<void(std::function<void()>)> post,
                             std::function<bool()> isMainThread)
    : questions_(questions), post_(std::move(post)), isMainThread_(std::move(isMainThread)) {}

WindowSurface::Changes WindowSurface::Take() {
    Changes taken;
    std::lock_guard<std::mutex> hold(lock_);
    std::swap(taken, pending_);
    return taken;
}

void WindowSurface::Assign(std::optional<std::string>& field, std::string_view text) {
    if (field) {
        field->assign(text);  // keeps its buffer between paints
    } else {
        field.emplace(text);
    }
}

void WindowSurface::SetStatusText(std::string_view text) {
    std::lock_guard<std::mutex> hold(lock_);
    Assign(pending_.status, text);
}

void WindowSurface::SetDetailLine(int line, std::string_view text) {
    if (line < 1 || line > static_cast<int>(pending_.details.size())) {
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    Assign(pending_.details[line - 1], text);
}

void WindowSurface::SetLogo(std::int64_t bitmap) {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.logo = bitmap;
}

void WindowSurface::SetProviderLink(std::string_view address) {
    std::lock_guard<std::mutex> hold(lock_);
    Assign(pending_.link, address);
}

void WindowSurface::SetProgressRange(std::uint32_t upper) {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.range = upper;
}

void WindowSurface::SetProgressPosition(std::uint32_t position) {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.position = position;
}

void WindowSurface::SetThroughputText(std::string_view text) {
    std::lock_guard<std::mutex> hold(lock_);
    Assign(pending_.throughput, text);
}

void WindowSurface::SetRunningMode(bool running) {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.running = running;
}

void WindowSurface::ShowProgress(const ProgressReport& report) {
    const auto position =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(report.done, 0, UINT32_MAX));
    std::lock_guard<std::mutex> hold(lock_);
    Assign(pending_.status, report.statusText);
    Assign(pending_.throughput, report.throughputText);
    pending_.range = report.total;
    pending_.position = position;
}

void WindowSurface::JobRowAdded(int row, std::string_view object, std::string_view status,
                                int image) {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.rows.push_back(
        {RowChange::Kind::Added, row, std::string(object), std::string(status), image});
}

void WindowSurface::JobRowChanged(int row, std::string_view status, int image) {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.rows.push_back({RowChange::Kind::Changed, row, {}, std::string(status), image});
}

void WindowSurface::JobRowsCleared() {
    std::lock_guard<std::mutex> hold(lock_);
    // Changes before the clearing would only be undone by it.
    pending_.rows.clear();
    pending_.rows.push_back({RowChange::Kind::Cleared, 0, {}, {}, 0});
}

template <class T>
T WindowSurface::Ask(std::function<void(bool modal, Questions::Reply<T> reply)> show, T closed) {
    if (closing_.load(std::memory_order_acquire)) {
        return closed;
    }
    if (isMainThread_()) {
        T answer = closed;
        questions_.PaintPending();
        show(true, [&answer](T value) { answer = std::move(value); });
        return answer;
    }
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> answer = promise->get_future();
    post_([this, show = std::move(show), promise, closed]() {
        if (closing_.load(std::memory_order_acquire)) {
            promise->set_value(closed);
            return;
        }
        questions_.PaintPending();
        show(false, [promise](T value) { promise->set_value(std::move(value)); });
    });
    return answer.get();
}

ConsoleSurface::Answer WindowSurface::MessageBox(std::string_view text, std::string_view caption,
                                                 Buttons buttons) {
    return Ask<Answer>(
        [this, text = std::string(text), caption = std::string(caption), buttons](
            bool modal, Questions::Reply<Answer> reply) {
            questions_.AskMessage(modal, text, caption, buttons, std::move(reply));
        },
        buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel);
}

bool WindowSurface::AskLogin(int reason, std::string& userName, std::string& password) {
    using Login = Questions::Login;
    std::optional<Login> login = Ask<std::optional<Login>>(
        [this, reason, filled = Login{userName, password}](
            bool modal, Questions::Reply<std::optional<Login>> reply) {
            questions_.AskLogin(modal, reason, filled, std::move(reply));
        },
        std::nullopt);
    if (!login) {
        return false;
    }
    userName = std::move(login->userName);
    password = std::move(login->password);
    return true;
}

bool WindowSurface::AskUrl(std::string& url) {
    std::optional<std::string> typed = Ask<std::optional<std::string>>(
        [this](bool modal, Questions::Reply<std::optional<std::string>> reply) {
            questions_.AskUrl(modal, std::move(reply));
        },
        std::nullopt);
    if (!typed) {
        return false;
    }
    url = std::move(*typed);
    return true;
}

bool WindowSurface::AskDestination(std::string_view message, std::string& path, bool& automatic) {
    using Destination = Questions::Destination;
    std::optional<Destination> chosen = Ask<std::optional<Destination>>(
        [this, message = std::string(message), filled = Destination{path, automatic}](
            bool modal, Questions::Reply<std::optional<Destination>> reply) {
            questions_.AskDestination(modal, message, filled, std::move(reply));
        },
        std::nullopt);
    if (!chosen) {
        return false;
    }
    path = std::move(chosen->path);
    automatic = chosen->automatic;
    return true;
}

}  // namespace zephyrate
