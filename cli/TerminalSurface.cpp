#include "cli/TerminalSurface.h"

#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <utility>

#include "cli/TerminalPrompt.h"
#include "engine/ServerAccess.h"

namespace zephyrate {

namespace {

constexpr std::int64_t kDrawIntervalMs = 100;
constexpr std::string_view kDefaultRootQuestion = "Enter here the root path on your device.";
constexpr std::size_t kBarCells = 20;
constexpr std::size_t kWidestObjectColumn = 48;

// Characters on the screen, near enough: UTF-8 sequences count once.
std::size_t ScreenLength(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The last `cells` characters of text, never starting inside a UTF-8 sequence.
std::string_view Tail(std::string_view text, std::size_t cells) {
    std::size_t start = text.size();
    std::size_t taken = 0;
    while (start > 0 && taken < cells) {
        --start;
        if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) {
            ++taken;
        }
    }
    return text.substr(start);
}

// Text from a server as the terminal may show it: control characters (C0, DEL, C1) and
// bytes that are not UTF-8 become "\xNN", so that no name or message from a server can
// move the cursor, retitle the window or otherwise reach the terminal as a command.
std::string Visible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        constexpr char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7F) {
                escape(lead);
            } else {
                out += static_cast<char>(lead);
            }
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence passes unless it encodes a C1 control (U+0080 to
        // U+009F, which some terminals obey like ESC sequences).
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        bool wellFormed = length != 0 && lead < 0xF5 && i + length <= text.size();
        for (std::size_t k = 1; wellFormed && k < length; ++k) {
            wellFormed = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (wellFormed && length == 3) {  // no overlong forms, no surrogates
            const auto second = static_cast<unsigned char>(text[i + 1]);
            wellFormed = !(lead == 0xE0 && second < 0xA0) && !(lead == 0xED && second >= 0xA0);
        }
        if (wellFormed && length == 4) {
            const auto second = static_cast<unsigned char>(text[i + 1]);
            wellFormed = !(lead == 0xF0 && second < 0x90) && !(lead == 0xF4 && second >= 0x90);
        }
        const bool control =
            wellFormed && lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (!wellFormed || control) {
            escape(lead);
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

// The coarse clock costs a few nanoseconds where the precise one may cost a hundred on a
// virtual machine; its few milliseconds of grain are nothing against the drawing interval.
std::int64_t CoarseMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

TerminalSurface::TerminalSurface(Setup setup, std::FILE* out, std::FILE* err,
                                 TerminalPrompt* prompt)
    : setup_(std::move(setup)), out_(out), err_(err), prompt_(prompt) {}

void TerminalSurface::SetStatusText(std::string_view text) {
    if (text == lastStatus_) {
        return;
    }
    lastStatus_.assign(text);
    if (setup_.quiet) {
        return;
    }
    ClearProgress();
    const std::string shown = Visible(text);
    std::fwrite(shown.data(), 1, shown.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);  // a log that follows the run sees each step as it happens
}

void TerminalSurface::ShowProgress(const ProgressReport& report) {
    // Once per 4096 bytes: nothing but a look at the clock unless a drawing is due. Without
    // a terminal the reports are dropped: a log gets the status lines only.
    if (!setup_.progressBar || setup_.quiet) {
        return;
    }
    const std::int64_t now = CoarseMilliseconds();
    if (now - lastDrawMs_ < kDrawIntervalMs) {
        return;
    }
    lastDrawMs_ = now;
    progressName_ = Visible(report.name);
    progressDone_ = report.done;
    progressTotal_ = report.total;
    throughputText_.assign(report.throughputText);
    DrawProgress();
}

ConsoleSurface::Answer TerminalSurface::MessageBox(std::string_view text, std::string_view caption,
                                                   Buttons buttons) {
    ClearProgress();
    const std::string shown = Visible(caption) + ": " + Visible(text) + "\n";
    if (buttons == Buttons::Ok) {
        std::fputs(shown.c_str(), err_);
        std::fflush(err_);
        return Answer::Ok;
    }
    if (prompt_ == nullptr) {
        return Answer::Cancel;  // the caller reports what failed
    }
    prompt_->Say(shown);
    for (;;) {
        const std::optional<std::string> answer = prompt_->Ask("[R]etry or [C]ancel? ");
        if (!answer) {
            return Answer::Cancel;
        }
        if (*answer == "r" || *answer == "R" || *answer == "retry" || *answer == "Retry") {
            return Answer::Retry;
        }
        if (*answer == "c" || *answer == "C" || *answer == "cancel" || *answer == "Cancel") {
            return Answer::Cancel;
        }
    }
}

bool TerminalSurface::AskLogin(int reason, std::string& userName, std::string& password) {
    ClearProgress();
    if (++loginQuestions_ == 1) {
        if (setup_.user || setup_.password) {
            userName = setup_.user.value_or(userName);
            password = setup_.password.value_or(password);
            return true;
        }
        if (prompt_ == nullptr) {
            return true;  // the stored login, as it came
        }
    }
    if (prompt_ == nullptr) {
        Note(std::string(LoginReasonText(reason)) +
             " There is no terminal to ask for another login; see --user and --password-file.");
        loginDeclined_ = true;
        return false;
    }

    prompt_->Say(std::string(LoginReasonText(reason)) + "\n");
    const std::string userQuestion =
        userName.empty() ? "Username: " : "Username [" + userName + "]: ";
    std::optional<std::string> user = prompt_->Ask(userQuestion);
    std::optional<std::string> typed;
    if (user) {
        typed = prompt_->Ask(
            password.empty() ? "Password: " : "Password (Enter keeps the stored one): ", true);
    }
    if (!user || !typed) {
        loginDeclined_ = true;
        return false;
    }
    if (!user->empty()) {
        userName = std::move(*user);
    }
    if (!typed->empty()) {
        password = std::move(*typed);
    }
    return true;
}

bool TerminalSurface::AskUrl(std::string& url) {
    url = setup_.address;
    return true;
}

bool TerminalSurface::AskDestination(std::string_view message, std::string& path, bool& automatic) {
    ClearProgress();
    const std::string question(message.empty() ? kDefaultRootQuestion : message);
    if (prompt_ == nullptr) {
        Note(question + " (" + (path.empty() ? std::string("no root") : path) +
             "; there is no terminal to ask: give an existing folder with --root)");
        return false;
    }
    prompt_->Say(question + "\n");
    const std::optional<std::string> typed =
        prompt_->Ask("Root path on the device [" + path + "]: ");
    if (!typed) {
        return false;
    }
    const std::optional<bool> choice =
        prompt_->AskYesNo(automatic ? "Enable automatic path selection? [Y/n] "
                                    : "Enable automatic path selection? [y/N] ",
                          automatic);
    if (!choice) {
        return false;
    }
    if (!typed->empty()) {
        path = *typed;
    }
    automatic = *choice;
    return true;
}

void TerminalSurface::PrintJobList(const std::vector<JobList::Row>& rows) {
    ClearProgress();
    std::vector<std::pair<std::string, std::string>> shown;
    shown.reserve(rows.size());
    std::size_t width = 0;
    for (const JobList::Row& row : rows) {
        shown.emplace_back(Visible(row.object), Visible(row.status));
        width = std::max(width, ScreenLength(shown.back().first));
    }
    width = std::min(width, kWidestObjectColumn);
    if (!rows.empty() && !setup_.quiet) {
        std::fputc('\n', out_);
    }
    for (const auto& [object, status] : shown) {
        // A longer object pushes its status along instead of being shortened.
        const std::size_t length = ScreenLength(object);
        const std::size_t gap = 2 + (length < width ? width - length : 0);
        std::fwrite(object.data(), 1, object.size(), out_);
        std::fprintf(out_, "%*s", static_cast<int>(gap), "");
        std::fwrite(status.data(), 1, status.size(), out_);
        std::fputc('\n', out_);
    }
    // Without rows the status lines have just said it, unless they were held back.
    if (!rows.empty() || setup_.quiet) {
        std::fprintf(out_, "%s\n", Visible(lastStatus_).c_str());
    }
    std::fflush(out_);
}

void TerminalSurface::Note(std::string_view text) {
    ClearProgress();
    std::fprintf(err_, "zephyrate-sync: %s\n", Visible(text).c_str());
    std::fflush(err_);
}

void TerminalSurface::DrawProgress() {
    // "NAME  DONE/TOTAL  [####----] P%  K.KK Kbps"; TOTAL is "???" and there is no bar
    // when the length is unknown.
    const std::string_view name = progressName_;
    std::string counts = std::to_string(progressDone_) + "/" +
                         (progressTotal_ != 0 ? std::to_string(progressTotal_) : "???");
    std::optional<std::int64_t> percent;
    if (progressTotal_ != 0) {
        percent = std::clamp<std::int64_t>(progressDone_ * 100 / progressTotal_, 0, 100);
    }

    std::string right = "  ";
    right += counts;
    if (percent) {
        right += "  [";
        const std::size_t filled = static_cast<std::size_t>(*percent) * kBarCells / 100;
        right.append(filled, '#');
        right.append(kBarCells - filled, '-');
        right += "] " + std::to_string(*percent) + "%";
    }
    if (!throughputText_.empty()) {
        right += "  " + throughputText_;
    }

    // The name gives way first (its end is kept: the file's own name), then the rest.
    const std::size_t width = static_cast<std::size_t>(TerminalWidth()) - 1;
    const std::size_t rightLength = ScreenLength(right);
    const std::size_t room = width > rightLength ? width - rightLength : 0;
    line_.assign("\r");
    if (ScreenLength(name) <= room) {
        line_ += name;
    } else if (room > 3) {
        line_ += "...";
        line_ += Tail(name, room - 3);
    }
    line_ += rightLength <= width ? std::string_view(right) : Tail(right, width);
    line_ += "\x1b[K";
    std::fwrite(line_.data(), 1, line_.size(), out_);
    std::fflush(out_);
    barShown_ = true;
}

void TerminalSurface::ClearProgress() {
    if (barShown_) {
        std::fputs("\r\x1b[K", out_);
        std::fflush(out_);
        barShown_ = false;
    }
}

int TerminalSurface::TerminalWidth() const {
    winsize size{};
    if (ioctl(fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) {
        return size.ws_col;
    }
    return 80;
}

}  // namespace zephyrate
