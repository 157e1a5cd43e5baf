#include "run/Console.h"
#include "settings/SettingsStore.h"

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
#include "run/NullSurface.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"

// The progress report runs once per 4096-byte chunk, so it must not allocate. Allocations
// are counted per thread: by a replacement of operator new, through which the library's
// other forms of new go (its delete frees with free; not inlined, or g++ warns about that
// pairing), or, as the address sanitizer owns operator new, by its allocation hook.
namespace {
thread_local std::size_t allocations = 0;
}  // namespace

#ifdef __SANITIZE_ADDRESS__
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onAllocate)(const volatile void*,
                                                                            std::size_t),
                                                         void (*onFree)(const volatile void*));
namespace {
const int hooked = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, std::size_t) { ++allocations; }, [](const volatile void*) {});
}  // namespace
#else
[[gnu::noinline]] void* operator new(std::size_t size) {
    ++allocations;
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
    TempFolder temp_;
    RecordingSurface surface_;
    InternetSession session_;
    FolderDevice device_{temp_.Path().string(), false};
    SettingsStore settings_{(temp_ / "settings.reg").string()};
    std::atomic<std::uint32_t> now_{1000};
    Console console_{surface_, session_, device_, settings_, [this] { return now_.load(); }};
};

TEST_F(ConsoleTest, StopCheckReportsEachRequestOnceAndCancelAllWins) {
    RunControl& control = console_.Control();
    EXPECT_EQ(console_.StopCheck(), 0);
    EXPECT_EQ(surface_.Events(), Events{}) << "a check without a request shows nothing";

    control.SetCancelAll();
    control.SetCancelThisJob();
    EXPECT_EQ(console_.StopCheck(), -1);
    EXPECT_EQ(console_.StopCheck(), 0) << "one -1 clears both requests";
    EXPECT_EQ(surface_.Events(), Events({"mode:idle"}));

    control.SetCancelThisJob();
    EXPECT_EQ(console_.StopCheck(), 1);
    EXPECT_EQ(console_.StopCheck(), 0);
    EXPECT_EQ(surface_.Events(),
              Events({"mode:idle", "status:Skipping to next job", "mode:running"}));

    // A request after a run's last check waits for the next run, and the running flag is
    // the run's own business.
    control.ClearRunning();
    control.SetCancelAll();
    control.SetRunning();
    EXPECT_EQ(console_.StopCheck(), -1);
    EXPECT_TRUE(control.Running());
}

TEST_F(ConsoleTest, StopCheckLosesNoRequestFromAnotherThread) {
    // The window's thread presses "cancel this job" again as soon as the last press was
    // taken up: every press must come back as exactly one 1.
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

TEST_F(ConsoleTest, ProgressShowsTextsThroughputAndBarAndPassesStopRequestsOn) {
    console_.StartProgressClock();
    now_ += 1000;
    EXPECT_EQ(console_.ReportProgress(2097152, 1048576, "docs/a.pdf"), 0);
    EXPECT_EQ(surface_.Events(),
              Events({"status:Retrieving: docs/a.pdf  1048576/2097152", "throughput:1024.00 Kbps",
                      "range:2097152", "position:1048576"}));

    // Unknown total: the "???" form and a range of 0 to 0. Past 4 GiB the count is printed
    // in full and the bar stops at its end.
    surface_.Clear();
    EXPECT_EQ(console_.ReportProgress(0, 5000000000, "c"), 0);
    EXPECT_EQ(console_.ReportProgress(4000000000u, 3000000000, "c"), 0);
    EXPECT_EQ(surface_.StatusTexts(),
              Events({"Retrieving: c  5000000000/???", "Retrieving: c  3000000000/4000000000"}));
    EXPECT_EQ(surface_.EventsOf("range"), Events({"0", "4000000000"}));
    EXPECT_EQ(surface_.Positions(), std::vector<std::uint32_t>({0xFFFFFFFFu, 3000000000u}));

    // done 0 restarts the clock by itself, whatever an earlier transfer left, and shows 0
    // for no time elapsed; 512 ms later, across the wrap of the tick count, 512 KiB make
    // 1000 Kbps.
    surface_.Clear();
    now_ = 0xFFFFFF00u;
    EXPECT_EQ(console_.ReportProgress(0, 0, "w"), 0);
    now_ = 0x100;
    EXPECT_EQ(console_.ReportProgress(0, 524288, "w"), 0);
    EXPECT_EQ(surface_.EventsOf("throughput"), Events({"0.00 Kbps", "1000.00 Kbps"}));

    // A stop request is passed on, and the bar goes back to its start.
    surface_.Clear();
    console_.Control().SetCancelThisJob();
    EXPECT_EQ(console_.ReportProgress(100, 50, "a"), 1);
    console_.Control().SetCancelAll();
    EXPECT_EQ(console_.ReportProgress(100, 60, "a"), -1);
    EXPECT_EQ(surface_.Positions(), std::vector<std::uint32_t>({50, 0, 60, 0}));
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
    const std::size_t before = allocations;
    for (std::int64_t done = 4096; done <= 4096000; done += 4096) {
        console.ReportProgress(done % 8192 == 0 ? 0u : 40960000u, done, name);
    }
    console.Control().SetCancelThisJob();
    console.ReportProgress(40960000u, 4096, name);
    EXPECT_EQ(allocations - before, 0u);

    // The counter does count: a string this long must allocate.
    const std::string grown = name + name;
    EXPECT_GT(allocations, before);
}

}  // namespace
}  // namespace zephyrate::test
