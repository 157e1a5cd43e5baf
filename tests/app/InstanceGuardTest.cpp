// The guard between real processes: copies of a small program that starts as zephyrate
// does (GuardProbe.cpp) meet through a private lock folder. The real program's hand-over,
// take-over and clean end are checked by tests/gui/single-instance-check.py.
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
    const auto deadline = Clock::now() + 10s;
    while (!condition() && Clock::now() < deadline) {
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
    std::uint32_t Owner() const { return Block().Load(Field::OwnerProcessId); }
    // A copy, started with `before` in front of it (another user, say); once it became the
    // owner (or runs alone) or ended.
    std::unique_ptr<ChildProcess> Start(ChildProcess::Strings arguments = {},
                                        ChildProcess::Strings before = {}) {
        arguments.insert(arguments.begin(), ZEPHYRATE_GUARD_PROBE);
        arguments.insert(arguments.begin(), before.begin(), before.end());
        ChildProcess::Strings environment = ChildProcess::CleanEnvironment();
        environment.push_back("XDG_RUNTIME_DIR=" + Runtime().string());
        auto probe = std::make_unique<ChildProcess>(arguments, environment);
        EXPECT_TRUE(Eventually([&] { return !probe->Running() || probe->Out() == "owner\n"; }));
        return probe;
    }
    // A second start's exit code; -1 when it became an owner (or runs alone).
    int SecondStart(ChildProcess::Strings before = {}) {
        const std::unique_ptr<ChildProcess> probe = Start({}, std::move(before));
        return probe->Running() ? -1 : probe->Wait(5s).value_or(-2);
    }

    TempFolder folder_;
};

TEST_F(InstanceGuardTest, HandsOverToTheLockHolderNotToTheProcessTheBlockNames) {
    const std::unique_ptr<ChildProcess> owner = Start();
    ASSERT_TRUE(Eventually([&] { return Block().Load(Field::ConsoleWindow) != 0; }));
    EXPECT_EQ(Owner(), static_cast<std::uint32_t>(owner->Pid()));
    ChildProcess bystander({"/bin/sleep", "30"}, {});
    Block().Store(Field::OwnerProcessId, static_cast<std::uint32_t>(bystander.Pid()));

    EXPECT_EQ(SecondStart(), 1);
    EXPECT_TRUE(Eventually([&] { return owner->Out() == "owner\nstart\n"; })) << owner->Out();
    EXPECT_TRUE(bystander.Running());
}

TEST_F(InstanceGuardTest, TakesOverFromAnOwnerThatIsHungHasNoWindowOrIsGone) {
    struct Case {
        const char* name;
        ChildProcess::Strings arguments;
        int signal;
        bool waits;  // a second for the heartbeat
    };
    for (const Case& c :
         {Case{"hung", {}, SIGSTOP, true}, Case{"no window", {"--no-window"}, 0, false},
          Case{"killed", {}, SIGKILL, false}}) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<ChildProcess> first = Start(c.arguments);
        ASSERT_TRUE(Eventually([&] { return Block().Load(Field::Heartbeat) != 0; }));
        if (c.signal != 0) {
            first->Signal(c.signal);
        }
        if (c.signal == SIGKILL) {
            ASSERT_EQ(first->Wait(5s), kKilled);  // gone before the next start
        }
        const auto start = Clock::now();
        const std::unique_ptr<ChildProcess> second = Start();
        EXPECT_EQ(Clock::now() - start >= 900ms, c.waits);
        EXPECT_EQ(first->Wait(5s), kKilled);
        EXPECT_EQ(Owner(), static_cast<std::uint32_t>(second->Pid()));
        second->Signal(SIGTERM);
        EXPECT_EQ(second->Wait(10s), 0);
        EXPECT_EQ(Owner(), 0u);
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
        {"garbage in the lock file", [&] { folder_.WriteFile("run/ZephyrateLock", "\xff\xfe"); },
         true},
        {"garbage in the block",
         [&] {
             SharedInstanceBlock block = Block();
             block.Store(Field::OwnerProcessId, 1);  // init: must never be signalled
             block.Store(Field::ConsoleWindow, 0xdeadbeef);
         },
         true},
        {"block cut short",
         [&] { truncate(("/dev/shm" + SharedInstanceBlock::NameFor(lock)).c_str(), 0); }, true},
        {"lock is a folder", [&] { fs::create_directory(lock); }, false},
        {"lock is a link", [&] { fs::create_symlink(outside, lock); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Runtime());
        fs::create_directory(Runtime());
        shm_unlink(SharedInstanceBlock::NameFor(lock).c_str());
        (void)Block();
        c.damage();
        const std::unique_ptr<ChildProcess> first = Start();
        EXPECT_TRUE(first->Running());
        EXPECT_EQ(SecondStart(), c.locks ? 1 : -1);
        EXPECT_FALSE(fs::exists(outside));
        EXPECT_EQ(Owner(), c.locks ? static_cast<std::uint32_t>(first->Pid()) : 0u);
    }
}

TEST_F(InstanceGuardTest, OwnerOfAnotherUserIsNotTakenOver) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to start a copy as another user";
    }
    // A lock folder and file that both users may use.
    fs::permissions(folder_.Path(), fs::perms::all);
    fs::permissions(Runtime(), fs::perms::all);
    chmod(folder_.WriteFile("run/ZephyrateLock", "").c_str(), 0666);
    const std::unique_ptr<ChildProcess> owner = Start({"--no-window"});

    EXPECT_EQ(
        SecondStart({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"}),
        2);
    EXPECT_TRUE(owner->Running());
    // The other user's block, beside this one's.
    std::string name = SharedInstanceBlock::NameFor(LockPath());
    name.replace(name.find('-') + 1, std::to_string(getuid()).size(), "65534");
    shm_unlink(name.c_str());
}

}  // namespace
}  // namespace zephyrate::test
