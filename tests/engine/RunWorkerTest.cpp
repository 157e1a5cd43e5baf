// The window's way of running: a worker thread, never two runs at once.
#include "engine/RunWorker.h"

#include <gtest/gtest.h>

#include <future>

#include "tests/support/ConsoleFixture.h"

namespace zephyrate::test {
namespace {

using RunWorkerTest = ConsoleFixture;

// The worker holds at its first event until the second start request has been made: a
// start while a run is active starts nothing; the next one, after the end, runs.
TEST_F(RunWorkerTest, AStartWhileARunIsActiveStartsNothing) {
    std::promise<void> secondTried;
    std::shared_future<void> tried = secondTried.get_future().share();
    surface_.OnEvent([tried](const std::string&) { tried.wait(); });
    int ended = 0;
    RunWorker worker(console_);
    const auto onEnd = [&ended](const RunResult& r) { ended += r.outcome == RunOutcome::Finished; };
    ASSERT_TRUE(worker.Start(onEnd));
    EXPECT_FALSE(worker.Start(onEnd));
    secondTried.set_value();
    worker.Join();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(worker.Start(onEnd));  // the address question is cancelled again
    worker.Join();
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(surface_.EventsOf("url").size(), 2u);
}

}  // namespace
}  // namespace zephyrate::test
