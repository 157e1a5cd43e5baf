#include "engine/Console.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"

// The progress report runs once per 4096-byte chunk, so it must not allocate. These
// replacements count the allocations of the thread that asks for it; every form goes
// through malloc and free, so the counting changes nothing else.
namespace {
thread_local bool countAllocations = false;
thread_local std::size_t allocations = 0;

void* Allocate(std::size_t size) {
    if (countAllocations) {
        ++allocations;
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

namespace zephyrate::test {
namespace {

using Events = std::vector<std::string>;

class ConsoleTest : public ::testing::Test {
  protected:
    ConsoleTest()
        : device_(temp_.Path().string(), false),
          console_(surface_, session_, device_, [this] { return now_.load(); }) {}

    TempFolder temp_;
    RecordingSurface surface_;
    InternetSession session_;
    FolderDevice device_;
    std::atomic<std::uint32_t> now_{1000};
    Console console_;
};

TEST_F(ConsoleTest, StopCheckReportsEachRequestOnceAndCancelAllWins) {
    RunControl& control = console_.Control();
    EXPECT_EQ(console_.StopCheck(), 0);
    EXPECT_TRUE(surface_.Events().empty());

    // Cancel all, then cancel this job before the next check: one -1 clears both.
    control.SetCancelAll();
    control.SetCancelThisJob();
    EXPECT_EQ(console_.StopCheck(), -1);
    EXPECT_FALSE(control.CancelAll());
    EXPECT_FALSE(control.CancelThisJob());
    EXPECT_EQ(surface_.Events(), Events({"mode:idle"}));
    EXPECT_EQ(console_.StopCheck(), 0);

    surface_.Clear();
    control.SetCancelThisJob();
    EXPECT_EQ(console_.StopCheck(), 1);
    EXPECT_EQ(surface_.Events(), Events({"status:Skipping to next job", "mode:running"}));
    EXPECT_FALSE(control.CancelThisJob());
    EXPECT_EQ(console_.StopCheck(), 0);
    EXPECT_EQ(surface_.Events().size(), 2u);

    // A request after a run's last check waits for the next run, and the running flag
    // is the run's own business.
    control.SetRunning();
    control.ClearRunning();
    control.SetCancelAll();
    EXPECT_FALSE(control.Running());
    EXPECT_TRUE(control.CancelAll());
    control.SetRunning();
    EXPECT_EQ(console_.StopCheck(), -1);
    EXPECT_TRUE(control.Running());
}

TEST_F(ConsoleTest, StopCheckLosesNoRequestFromAnotherThread) {
    // The window's thread presses "cancel this job" again as soon as the last press was
    // taken up; every press must come back as exactly one 1.
    constexpr int kPresses = 200;
    std::thread window([this] {
        for (int i = 0; i < kPresses; ++i) {
            console_.Control().SetCancelThisJob();
            while (console_.Control().CancelThisJob()) {
                std::this_thread::yield();
            }
        }
    });
    int reported = 0;
    while (reported < kPresses) {
        const int code = console_.StopCheck();
        ASSERT_TRUE(code == 0 || code == 1);
        reported += code;
        if (code == 0) {
            std::this_thread::yield();
        }
    }
    window.join();
    EXPECT_EQ(console_.StopCheck(), 0);
    EXPECT_EQ(surface_.StatusTexts().size(), static_cast<std::size_t>(kPresses));
}

TEST_F(ConsoleTest, ProgressShowsTextsThroughputAndBarInOrder) {
    console_.StartProgressClock();
    now_ += 1000;
    EXPECT_EQ(console_.ReportProgress(2097152, 1048576, "docs/a.pdf"), 0);
    EXPECT_EQ(surface_.Events(),
              Events({"status:Retrieving: docs/a.pdf  1048576/2097152", "throughput:1024.00 Kbps",
                      "range:2097152", "position:1048576"}));

    surface_.Clear();
    console_.StartProgressClock();
    now_ += 250;
    EXPECT_EQ(console_.ReportProgress(8192, 4096, "b"), 0);
    EXPECT_EQ(surface_.ThroughputTexts(), Events({"16.00 Kbps"}));

    // Same millisecond as the clock's start.
    surface_.Clear();
    console_.StartProgressClock();
    EXPECT_EQ(console_.ReportProgress(8192, 4096, "b"), 0);
    EXPECT_EQ(surface_.ThroughputTexts(), Events({"0.00 Kbps"}));

    // Unknown total: the "???" form and a range of 0 to 0, on every report.
    surface_.Clear();
    EXPECT_EQ(console_.ReportProgress(0, 4096, "c"), 0);
    EXPECT_EQ(console_.ReportProgress(0, 8192, "c"), 0);
    EXPECT_EQ(surface_.StatusTexts(),
              Events({"Retrieving: c  4096/???", "Retrieving: c  8192/???"}));
    EXPECT_EQ(surface_.EventsOf("range"), Events({"0", "0"}));
}

TEST_F(ConsoleTest, ProgressClockRestartsAtZeroAndSurvivesTheTickWrap) {
    now_ = 0xFFFFFF00u;
    // done 0 restarts the clock by itself, whatever an earlier transfer left.
    EXPECT_EQ(console_.ReportProgress(0, 0, "w"), 0);
    now_ = 0x100;  // 512 ms later, across the wrap
    EXPECT_EQ(console_.ReportProgress(0, 524288, "w"), 0);
    EXPECT_EQ(surface_.ThroughputTexts(), Events({"0.00 Kbps", "1000.00 Kbps"}));
}

TEST_F(ConsoleTest, ProgressPastFourGibibytesPrintsTheCountAndClampsTheBar) {
    EXPECT_EQ(console_.ReportProgress(4000000000u, 3000000000, "big.iso"), 0);
    EXPECT_EQ(console_.ReportProgress(0, 5000000000, "big.iso"), 0);
    EXPECT_EQ(surface_.StatusTexts(), Events({"Retrieving: big.iso  3000000000/4000000000",
                                              "Retrieving: big.iso  5000000000/???"}));
    EXPECT_EQ(surface_.Positions(), std::vector<std::uint32_t>({3000000000u, 0xFFFFFFFFu}));
}

TEST_F(ConsoleTest, ProgressPassesCancelRequestsOnAndResetsTheBar) {
    console_.StartProgressClock();
    console_.Control().SetCancelThisJob();
    EXPECT_EQ(console_.ReportProgress(100, 50, "a"), 1);
    EXPECT_EQ(surface_.Events(),
              Events({"status:Retrieving: a  50/100", "throughput:0.00 Kbps", "range:100",
                      "position:50", "status:Skipping to next job", "mode:running", "position:0"}));

    surface_.Clear();
    console_.Control().SetCancelAll();
    EXPECT_EQ(console_.ReportProgress(100, 60, "a"), -1);
    EXPECT_EQ(surface_.Positions(), std::vector<std::uint32_t>({60, 0}));
    EXPECT_FALSE(surface_.RunningMode());

    surface_.Clear();
    EXPECT_EQ(console_.ReportProgress(100, 70, "a"), 0);
    EXPECT_EQ(surface_.Positions(), std::vector<std::uint32_t>({70}));
}

// Takes the texts and drops them, as a painting surface would between two frames.
class DiscardingSurface final : public ConsoleSurface {
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
    void JobRowAdded(int, std::string_view, std::string_view, int) override {}
    void JobRowChanged(int, std::string_view, int) override {}
    void JobRowsCleared() override {}
};

TEST_F(ConsoleTest, ProgressAllocatesNothingOnceItsBuffersFit) {
    DiscardingSurface surface;
    std::uint32_t now = 5;
    Console console(surface, session_, device_, [&now] { return now; });
    const std::string name(300, 'n');  // longer than any short-string buffer
    // The first report grows the buffers to the longest texts of this name.
    ASSERT_EQ(console.ReportProgress(0xFFFFFFFFu, 999999999999999, name), 0);

    countAllocations = true;
    allocations = 0;
    std::int64_t done = 0;
    for (int i = 0; i < 1000; ++i) {
        now += 3;
        done += 4096;
        console.ReportProgress(i % 2 == 0 ? 0u : 40960000u, done, name);
    }
    console.Control().SetCancelThisJob();
    console.ReportProgress(40960000u, done, name);
    countAllocations = false;
    EXPECT_EQ(allocations, 0u);

    // The counter does count: a string this long must allocate.
    countAllocations = true;
    allocations = 0;
    std::string grown(name + name);
    countAllocations = false;
    EXPECT_EQ(grown.size(), 600u);
    EXPECT_GE(allocations, 1u);
}

}  // namespace
}  // namespace zephyrate::test
