#include "engine/Console.h"
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engine/NullSurface.h"
#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"

// The progress report runs once per 4096-byte chunk, so it must not allocate. The count
// is kept for the thread that asks for it: by a replacement of operator new, through which
// the library's other forms of new go (its delete frees with free), or, as the address
// sanitizer owns operator new, by the sanitizer's allocation hook.
namespace {
thread_local bool countAllocations = false;
thread_local std::size_t allocations = 0;

// Runs work and returns how many allocations it made on this thread.
template <typename Work>
std::size_t AllocationsOf(Work work) {
    allocations = 0;
    countAllocations = true;
    work();
    countAllocations = false;
    return allocations;
}
}  // namespace

#ifdef __SANITIZE_ADDRESS__
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onAllocate)(const volatile void*,
                                                                            std::size_t),
                                                         void (*onFree)(const volatile void*));
namespace {
const int hooked = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, std::size_t) { allocations += countAllocations ? 1 : 0; },
    [](const volatile void*) {});
}  // namespace
#else
void* operator new(std::size_t size) {
    allocations += countAllocations ? 1 : 0;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
#endif

namespace zephyrate::test {
namespace {

using Events = std::vector<std::string>;

class ConsoleTest : public ::testing::Test {
  protected:
    ConsoleTest()
        : device_(temp_.Path().string(), false),
          settings_((temp_.Path() / "settings.reg").string()),
          console_(surface_, session_, device_, settings_, [this] { return now_.load(); }) {}

    TempFolder temp_;
    RecordingSurface surface_;
    InternetSession session_;
    FolderDevice device_;
    SettingsStore settings_;
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
    EXPECT_EQ(surface_.Events().size(), 2u) << "a check without a request shows nothing";

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
    for (int reported = 0; reported < kPresses;) {
        const int code = console_.StopCheck();
        ASSERT_TRUE(code == 0 || code == 1);
        reported += code;
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

    // 4096 bytes in 250 ms and in the clock's first millisecond.
    for (const auto& [elapsed, shown] :
         {std::pair<std::uint32_t, const char*>{250, "16.00 Kbps"}, {0, "0.00 Kbps"}}) {
        surface_.Clear();
        console_.StartProgressClock();
        now_ += elapsed;
        EXPECT_EQ(console_.ReportProgress(8192, 4096, "b"), 0);
        EXPECT_EQ(surface_.EventsOf("throughput"), Events({shown}));
    }

    // Unknown total: the "???" form and a range of 0 to 0, on every report. Past 4 GiB
    // the count is printed in full and the bar stops at its end.
    surface_.Clear();
    EXPECT_EQ(console_.ReportProgress(0, 4096, "c"), 0);
    EXPECT_EQ(console_.ReportProgress(0, 5000000000, "c"), 0);
    EXPECT_EQ(console_.ReportProgress(4000000000u, 3000000000, "c"), 0);
    EXPECT_EQ(surface_.StatusTexts(),
              Events({"Retrieving: c  4096/???", "Retrieving: c  5000000000/???",
                      "Retrieving: c  3000000000/4000000000"}));
    EXPECT_EQ(surface_.EventsOf("range"), Events({"0", "0", "4000000000"}));
    EXPECT_EQ(surface_.Positions(), std::vector<std::uint32_t>({4096, 0xFFFFFFFFu, 3000000000u}));

    // done 0 restarts the clock by itself, whatever an earlier transfer left; 512 ms later,
    // across the wrap of the tick count, 512 KiB make 1000 Kbps.
    surface_.Clear();
    now_ = 0xFFFFFF00u;
    EXPECT_EQ(console_.ReportProgress(0, 0, "w"), 0);
    now_ = 0x100;
    EXPECT_EQ(console_.ReportProgress(0, 524288, "w"), 0);
    EXPECT_EQ(surface_.EventsOf("throughput"), Events({"0.00 Kbps", "1000.00 Kbps"}));
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
    EXPECT_EQ(surface_.EventsOf("mode"), Events({"idle"}));
}

TEST_F(ConsoleTest, ProgressAllocatesNothingOnceItsBuffersFit) {
#ifdef __SANITIZE_ADDRESS__
    ASSERT_NE(hooked, 0);
#endif
    NullSurface surface;
    Console console(surface, session_, device_, settings_, [this] { return now_ += 3; });
    const std::string name(300, 'n');  // longer than any short-string buffer
    // The first report grows the buffers to the longest texts of this name.
    ASSERT_EQ(console.ReportProgress(0xFFFFFFFFu, 999999999999999, name), 0);
    EXPECT_EQ(AllocationsOf([&] {
                  for (std::int64_t done = 4096; done <= 4096000; done += 4096) {
                      console.ReportProgress(done % 8192 == 0 ? 0u : 40960000u, done, name);
                  }
                  console.Control().SetCancelThisJob();
                  console.ReportProgress(40960000u, 4096, name);
              }),
              0u);

    // The counter does count: a string this long must allocate.
    std::string grown;
    EXPECT_GE(AllocationsOf([&] { grown = name + name; }), 1u);
}

}  // namespace
}  // namespace zephyrate::test
