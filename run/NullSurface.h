// A console surface that shows nothing: for runs where nobody watches (benchmarks, and
// tests that measure the engine rather than what it shows). Answers Ok, force unchecked,
// cancels every question.
#pragma once

#include "run/ConsoleSurface.h"

namespace zephyrate {

class NullSurface final : public ConsoleSurface {
  public:
    void SetStatusText(std::string_view) override {}
    void SetDetailLine(int, std::string_view) override {}
    void SetLogo(std::int64_t) override {}
    void SetProviderLink(std::string_view) override {}
    bool IsForceChecked() override { return false; }
    void SetProgressRange(std::uint32_t) override {}
    void SetProgressPosition(std::uint32_t) override {}
    void SetThroughputText(std::string_view) override {}
    void SetRunningMode(bool) override {}
    Answer MessageBox(std::string_view, std::string_view, Buttons) override { return Answer::Ok; }
    bool AskLogin(int, std::string&, std::string&) override { return false; }
    bool AskUrl(std::string&) override { return false; }
    bool AskDestination(std::string_view, std::string&, bool&) override { return false; }
    void JobRowAdded(int, std::string_view, std::string_view, int) override {}
    void JobRowChanged(int, std::string_view, int) override {}
    void JobRowsCleared() override {}
};

}  // namespace zephyrate
