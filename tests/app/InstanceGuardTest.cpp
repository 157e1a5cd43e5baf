// The guard between real processes: copies of a small program that starts as zephyrate
// does (GuardProbe.cpp) meet through a private lock folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "platform/SharedInstanceBlock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Field = SharedInstanceBlock::Field;
using Clock = std::chrono::steady_clock;

constexpr int kKilled = 128 + SIGKILL;

bool Eventually(const std::function<bool()>& condition) {
    for (const auto deadline = Clock::now() + 10s; Clock::now() < deadline;) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

class InstanceGuardTest : public ::testing::Test {
  protected:
    InstanceGuardTest() { fs::create_directory(Runtime()); }
    ~InstanceGuardTest() override { shm_unlink(SharedInstanceBlock::NameFor(LockPath()).c_str()); }

    fs::path Runtime() const { return folder_ / "run"; }
    std::string LockPath() const { return Runtime() / "ZephyrateLock"; }
    SharedInstanceBlock Block() const { return SharedInstanceBlock::Open(LockPath()); }
    ChildProcess::Strings Environment() const {
        ChildProcess::Strings environment = ChildProcess::CleanEnvironment();
        environment.push_back("XDG_RUNTIME_DIR=" + Runtime().string());
        return environment;
    }
    // A copy that has become the owner (or runs alone).
    std::unique_ptr<ChildProcess> StartOwner(ChildProcess::Strings arguments = {}) {
        arguments.insert(arguments.begin(), ZEPHYRATE_GUARD_PROBE);
        auto probe = std::make_unique<ChildProcess>(arguments, Environment());
        EXPECT_TRUE(Eventually([&] { return probe->Out().starts_with("owner"); })) << probe->Err();
        return probe;
    }
    // A second start: its exit code when it ended, -1 when it became an owner instead.
    int SecondStart(std::chrono::milliseconds* took = nullptr) {
        const auto start = Clock::now();
        ChildProcess probe({ZEPHYRATE_GUARD_PROBE}, Environment());
        Eventually([&] { return !probe.Running() || probe.Out().starts_with("owner"); });
        if (took != nullptr) {
            *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        }
        const bool ended = !probe.Running();
        const std::optional<int> code = probe.Wait(ended ? 5s : 0ms);
        return ended ? code.value_or(-2) : -1;
    }

    TempFolder folder_;
};

TEST_F(InstanceGuardTest, HandsOverToTheLockHolderAndEndsWithAnEmptyBlock) {
    const std::unique_ptr<ChildProcess> owner = StartOwner();
    ASSERT_TRUE(Eventually([&] { return Block().Load(Field::ConsoleWindow) != 0; }));
    EXPECT_EQ(Block().Load(Field::OwnerProcessId), static_cast<std::uint32_t>(owner->Pid()));

    // A garbled block names a bystander; the signal goes to the lock's holder all the same.
    ChildProcess bystander({"/bin/sleep", "30"}, Environment());
    Block().Store(Field::OwnerProcessId, static_cast<std::uint32_t>(bystander.Pid()));
    std::chrono::milliseconds took{};
    EXPECT_EQ(SecondStart(&took), 1);
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3s);
    EXPECT_TRUE(Eventually([&] { return owner->Out() == "owner\nstart\n"; })) << owner->Out();
    EXPECT_TRUE(bystander.Running());

    owner->Signal(SIGTERM);
    EXPECT_EQ(owner->Wait(10s), 0);
    for (const Field field : {Field::OwnerProcessId, Field::ConsoleWindow, Field::Heartbeat}) {
        EXPECT_EQ(Block().Load(field), 0u);
    }
}

TEST_F(InstanceGuardTest, TakesOverFromAnOwnerThatIsHungHasNoWindowOrIsGone) {
    struct Case {
        const char* name;
        bool window;
        int signal;
        bool waits;  // for the heartbeat
    };
    for (const Case& c : {Case{"hung", true, SIGSTOP, true}, Case{"no window", false, 0, false},
                          Case{"killed", true, SIGKILL, false}}) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<ChildProcess> first =
            StartOwner(c.window ? ChildProcess::Strings{} : ChildProcess::Strings{"--no-window"});
        ASSERT_TRUE(Eventually([&] { return Block().Load(Field::Heartbeat) != 0; }));
        if (c.signal != 0) {
            first->Signal(c.signal);
        }
        if (c.signal == SIGKILL) {
            EXPECT_EQ(first->Wait(5s), kKilled);
        }

        const auto start = Clock::now();
        const std::unique_ptr<ChildProcess> second = StartOwner();
        EXPECT_EQ(Clock::now() - start >= 900ms, c.waits);
        EXPECT_EQ(first->Wait(5s), kKilled);
        EXPECT_EQ(Block().Load(Field::OwnerProcessId), static_cast<std::uint32_t>(second->Pid()));
        ASSERT_TRUE(Eventually([&] {
            return Block().Load(Field::ConsoleWindow) == static_cast<std::uint32_t>(second->Pid());
        }));
        second->Signal(SIGTERM);
        EXPECT_EQ(second->Wait(10s), 0);
    }
}

TEST_F(InstanceGuardTest, DamagedLockOrBlockNeverStopsAStart) {
    const std::string lock = LockPath();
    const std::string outside = folder_ / "outside";
    struct Case {
        const char* name;
        std::function<void()> damage;
        bool locks;  // the copy still keeps a second one out
    };
    const std::vector<Case> cases = {
        {"garbage in the lock file",
         [&] { folder_.WriteFile("run/ZephyrateLock", std::string(5000, '\xff')); }, true},
        {"garbage in the block",
         [&] {
             SharedInstanceBlock block = Block();
             block.Store(Field::OwnerProcessId, 1);  // init: must never be signalled
             block.Store(Field::ConsoleWindow, 0xdeadbeef);
             block.Store(Field::Heartbeat, 0xffffffff);
         },
         true},
        {"block cut short",
         [&] {
             (void)Block();
             truncate(("/dev/shm" + SharedInstanceBlock::NameFor(lock)).c_str(), 0);
         },
         true},
        {"lock is a folder", [&] { fs::create_directory(lock); }, false},
        {"lock is a link", [&] { fs::create_symlink(outside, lock); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Runtime());
        fs::create_directory(Runtime());
        shm_unlink(SharedInstanceBlock::NameFor(lock).c_str());
        c.damage();
        const std::unique_ptr<ChildProcess> first = StartOwner();
        EXPECT_EQ(SecondStart(), c.locks ? 1 : -1);
        EXPECT_FALSE(fs::exists(outside));
        if (c.locks) {
            EXPECT_EQ(Block().Load(Field::OwnerProcessId),
                      static_cast<std::uint32_t>(first->Pid()));
        }
    }
}

TEST_F(InstanceGuardTest, OwnerOfAnotherUserIsNotTakenOver) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to start a copy as another user";
    }
    // A lock folder and file that both users may use.
    fs::permissions(folder_.Path(), fs::perms::all);
    fs::permissions(Runtime(), fs::perms::all);
    folder_.WriteFile("run/ZephyrateLock", "");
    chmod(LockPath().c_str(), 0666);
    const std::unique_ptr<ChildProcess> owner = StartOwner({"--no-window"});

    ChildProcess::Strings other = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                   "--clear-groups", ZEPHYRATE_GUARD_PROBE};
    ChildProcess::Result result = ChildProcess::Run(other, Environment(), 10s);
    EXPECT_EQ(result.code, 2) << result.out << result.err;
    EXPECT_TRUE(owner->Running());
    // The other user's block, beside this one's.
    std::string name = SharedInstanceBlock::NameFor(LockPath());
    name.replace(name.find('-') + 1, std::to_string(getuid()).size(), "65534");
    shm_unlink(name.c_str());
}

}  // namespace
}  // namespace zephyrate::test
