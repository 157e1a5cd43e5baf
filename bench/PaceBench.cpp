// zephyrate-bench-pace: figures that unit tests cannot judge on a busy machine, each
// beside curl on the same server in the same run:
//   1. 40 requests whose answers leave in two writes (Nagle's rule and a delayed
//      acknowledgement would add 40 ms to each): total time.
//   2. 6 answers from a slow server (30 ms before the headers, the body in four pieces
//      30 ms apart): processor time spent waiting.
//   3. 1 GiB brought onto a device folder by FileTransferStep: peak memory.
//   4. Allocations per progress report once the buffers fit (curl has no counterpart).
//   5. zephyrate-sync and curl -# on a terminal, fetching a slowly served file: progress
//      drawings per second, and the time from Ctrl-C (SIGINT) to the end of the process.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <thread>

#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "run/Console.h"
#include "run/FileEntry.h"
#include "run/NullSurface.h"
#include "settings/SettingsStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"
#include "transfer/FileTransfer.h"
#include "transfer/TransferContext.h"

namespace {

std::size_t allocations = 0;

}  // namespace

// Counts every allocation of the process; the library's other forms of new come here.
[[gnu::noinline]] void* operator new(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

namespace {

using namespace zephyrate;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

double ProcessorMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double ThreadProcessorMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

long PeakKiB(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

// curl fetching every address once, in one process (so on one connection).
void RunCurl(const test::RawHttpServer& server, int requests, const std::string& config) {
    std::ofstream list(config);
    for (int i = 0; i < requests; ++i) {
        list << "url = \"" << server.Url("/" + std::to_string(i)) << "\"\noutput = \"/dev/null\"\n";
    }
    list.close();
    if (std::system(("curl -s -K " + config).c_str()) != 0) {
        std::cerr << "pace: curl failed\n";
        std::exit(1);
    }
}

void ReadAll(InternetSession& session, const std::string& url) {
    auto file = session.OpenURL(url);
    char chunk[4096];
    while (file && file->Read(chunk, sizeof chunk) > 0) {
    }
}

void SplitWrites(const test::TempFolder& work) {
    constexpr int kRequests = 40;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 62000\r\n\r\n";
    test::RawHttpServer server([&](test::RawHttpServer::Connection& c) {
        while (!c.ReadRequest().empty()) {
            c.Send(head + std::string(60000, 'x'));
            c.Send(std::string(2000, 'y'));
        }
    });
    InternetSession session;
    auto start = Clock::now();
    for (int i = 0; i < kRequests; ++i) {
        ReadAll(session, server.Url("/" + std::to_string(i)));
    }
    const Milliseconds ours = Clock::now() - start;
    start = Clock::now();
    RunCurl(server, kRequests, work / "split.curl");
    const Milliseconds curl = Clock::now() - start;
    std::printf("1. %d answers in two writes: ours %.1f ms, curl %.1f ms: ours/curl %.4f\n",
                kRequests, ours.count(), curl.count(), ours.count() / curl.count());
}

void SlowServer(const test::TempFolder& work) {
    constexpr int kRequests = 6;
    test::RawHttpServer server([&](test::RawHttpServer::Connection& c) {
        while (!c.ReadRequest().empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n");
            for (int piece = 0; piece < 4; ++piece) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                c.Send(std::string(1000, 'z'));
            }
        }
    });
    InternetSession session;
    const double before = ThreadProcessorMs();
    const auto start = Clock::now();
    for (int i = 0; i < kRequests; ++i) {
        ReadAll(session, server.Url("/" + std::to_string(i)));
    }
    const double ours = ThreadProcessorMs() - before;
    const Milliseconds waited = Clock::now() - start;
    const double curlBefore = ProcessorMs(RUSAGE_CHILDREN);
    RunCurl(server, kRequests, work / "slow.curl");
    const double curl = ProcessorMs(RUSAGE_CHILDREN) - curlBefore;
    std::printf(
        "2. %d slow answers (%.0f ms): processor time ours %.1f ms, curl %.1f ms "
        "(curl's includes its start)\n",
        kRequests, waited.count(), ours, curl);
}

void BigFile(const test::TempFolder& work) {
    constexpr std::int64_t kSize = std::int64_t{1} << 30;
    const std::string block(1 << 20, 'b');
    test::RawHttpServer server([&](test::RawHttpServer::Connection& c) {
        if (c.ReadRequest().empty()) {
            return;
        }
        c.Send(
            "HTTP/1.1 200 OK\r\nLast-Modified: Tue, 14 Nov 2023 22:13:20 GMT\r\n"
            "Content-Length: " +
            std::to_string(kSize) + "\r\n\r\n");
        for (std::int64_t sent = 0; sent < kSize; sent += std::ssize(block)) {
            c.Send(block);
        }
    });
    const long peakBefore = PeakKiB(RUSAGE_SELF);
    FolderDevice device((work / "device").string(), true);
    RAPIINIT init;
    if (device.CeRapiInitEx(init) < 0 || device.WaitForRapiInit(init, 5000) != WAIT_OBJECT_0) {
        std::cerr << "pace: the device folder is not usable\n";
        std::exit(1);
    }
    InternetSession session;
    NullSurface surface;
    SettingsStore settings((work / "settings.reg").string());
    Console console(surface, session, device, settings);
    console.Job().ServerFolderAddress = "127.0.0.1:" + std::to_string(server.Port());
    TransferContext context{device, console.Job(), console.Jobs(), console};
    FileEntry entry;
    entry.SetFile("big.bin");
    if (FileTransferStep(context, entry, session, false) != kTransferWritten) {
        std::cerr << "pace: the big file failed: " << entry.StatusText << "\n";
        std::exit(1);
    }
    const long ours = PeakKiB(RUSAGE_SELF);
    // GNU time reports curl's own peak: a child started from this process would inherit
    // this process's figure in ru_maxrss.
    const std::string curlPeak = (work / "curl.peak").string();
    if (std::system(("/usr/bin/time -f %M -o " + curlPeak + " curl -s -o " +
                     (work / "big.curl.bin").string() + " " + server.Url("/big.bin"))
                        .c_str()) != 0) {
        std::cerr << "pace: curl failed on the big file\n";
        std::exit(1);
    }
    long curl = 0;
    std::ifstream(curlPeak) >> curl;
    std::printf(
        "3. 1 GiB onto the device: peak memory ours %.1f MiB (%.1f MiB before), "
        "curl %.1f MiB\n",
        ours / 1024.0, peakBefore / 1024.0, curl / 1024.0);
}

void ProgressAllocations(const test::TempFolder& work) {
    FolderDevice device((work / "device").string(), true);
    InternetSession session;
    NullSurface surface;
    SettingsStore settings((work / "settings.reg").string());
    std::uint32_t now = 0;
    Console console(surface, session, device, settings, [&now] { return now += 3; });
    const std::string name(300, 'n');  // longer than any short-string buffer
    console.ReportProgress(0xFFFFFFFFu, 999999999999999, name);  // grows the buffers
    const std::size_t before = allocations;
    constexpr int kReports = 1000;
    for (int i = 1; i <= kReports; ++i) {
        console.ReportProgress(i % 2 == 0 ? 0u : 40960000u, std::int64_t{i} * 4096, name);
    }
    std::printf("4. allocations in %d progress reports: %zu\n", kReports, allocations - before);
}

struct TerminalFigures {
    double drawingsPerSecond = 0;
    double msToStop = 0;
};

// Runs the command on a terminal of its own until `marker` has been drawn, counts the
// drawings (each starts over at the line's start) over two seconds, then interrupts it.
TerminalFigures OnTerminal(const test::ChildProcess::Strings& command, std::string_view marker) {
    using namespace std::chrono_literals;
    test::ChildProcess child(command, test::ChildProcess::CleanEnvironment(),
                             test::ChildProcess::Io::Terminal);
    if (!child.WaitFor(marker, 20s)) {
        std::cerr << "pace: " << command[0] << " drew nothing:\n" << child.Out() << "\n";
        std::exit(1);
    }
    const auto drawings = [&child] { return std::ranges::count(child.Out(), '\r'); };
    const auto before = drawings();
    child.WaitFor("no such text", 2s);
    const double perSecond = static_cast<double>(drawings() - before) / 2;
    const auto start = Clock::now();
    child.Signal(SIGINT);
    if (!child.Wait(20s)) {
        std::cerr << "pace: " << command[0] << " did not stop\n";
        std::exit(1);
    }
    return {perSecond, Milliseconds(Clock::now() - start).count()};
}

void Terminal(const test::TempFolder& work) {
    constexpr std::size_t kSize = 256 << 20;
    test::TestSite site;
    site.ServeFolder(work / "site");
    work.WriteFile("site/index.txt", "Header:Zephyrate v1.0\nCEFolder: \\News\\\nFile: big.bin\n");
    site.ServeSlowFile("/big.bin", kSize, std::chrono::milliseconds(5));
    site.Start();
    std::filesystem::create_directories(work / "sync-device");
    const TerminalFigures ours =
        OnTerminal({ZEPHYRATE_SYNC_PROGRAM, "--device", (work / "sync-device").string(),
                    "--settings", (work / "sync.reg").string(), "--log-dir",
                    (work / "logs").string(), site.Address("/index.txt")},
                   "\rbig.bin  ");
    const TerminalFigures curl = OnTerminal(
        {"/usr/bin/curl", "-#", "-o", (work / "curl.bin").string(), site.Url("/big.bin")}, "\r#");
    std::printf(
        "5. on a terminal: drawings per second ours %.1f, curl %.1f; from Ctrl-C to the "
        "end ours %.1f ms, curl %.1f ms\n",
        ours.drawingsPerSecond, curl.drawingsPerSecond, ours.msToStop, curl.msToStop);
}

}  // namespace

int main() {
    const test::TempFolder work;
    SplitWrites(work);
    SlowServer(work);
    BigFile(work);
    ProgressAllocations(work);
    Terminal(work);
    return 0;
}
