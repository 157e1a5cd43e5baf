// zephyrate-test-server --root DIR [--port N] [--port-file FILE] [--slow PATH] [--pause MS]
// Serves DIR on 127.0.0.1 until SIGTERM or SIGINT; prints the port on its first line and,
// with --port-file, writes it to FILE once the server accepts connections. --slow PATH
// answers PATH with 256 KiB in four blocks, each after a pause of MS (250) milliseconds,
// so that a run is seen half done.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "tests/support/TestSite.h"

int main(int argc, char** argv) {
    std::map<std::string, std::string> options = {
        {"--root", ""}, {"--port", "0"}, {"--port-file", ""}, {"--slow", ""}, {"--pause", "250"}};
    bool usable = argc % 2 == 1;
    for (int i = 1; usable && i + 1 < argc; i += 2) {
        usable = options.contains(argv[i]);
        options[argv[i]] = argv[i + 1];
    }
    const std::filesystem::path root = options["--root"];
    const int port = std::atoi(options["--port"].c_str());
    if (!usable || root.empty() || !std::filesystem::is_directory(root) || port < 0 ||
        port > 65535) {
        std::cerr << "usage: zephyrate-test-server --root DIR [--port N] [--port-file FILE] "
                     "[--slow PATH] [--pause MS]\n";
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // A server that cannot start ends the program with its reason.
    zephyrate::test::TestSite server;
    if (!options["--slow"].empty()) {
        server.ServeSlowFile(options["--slow"], 256 * 1024,
                             std::chrono::milliseconds(std::atoi(options["--pause"].c_str())));
    }
    server.ServeFolder(root);
    server.Start(port);
    std::cout << server.Port() << std::endl;
    const std::string portFile = options["--port-file"];
    if (!portFile.empty()) {
        // Written beside and renamed, so a reader never sees half a number.
        std::ofstream(portFile + ".tmp") << server.Port() << "\n";
        std::filesystem::rename(portFile + ".tmp", portFile);
    }
    // The stop signals end the process as they do by default.
    for (;;) {
        pause();
    }
}
