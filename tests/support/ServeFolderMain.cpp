// zephyrate-test-server --root DIR [--port N] [--port-file FILE]
// Serves DIR on 127.0.0.1 until SIGTERM or SIGINT; prints the port on its first line and,
// with --port-file, writes it to FILE once the server accepts connections.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "tests/support/TestSite.h"

namespace {

int Usage() {
    std::cerr << "usage: zephyrate-test-server --root DIR [--port N] [--port-file FILE]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path root;
    std::string portFile;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        if (arg == "--root") {
            root = argv[++i];
        } else if (arg == "--port") {
            port = std::atoi(argv[++i]);
        } else if (arg == "--port-file") {
            portFile = argv[++i];
        } else {
            return Usage();
        }
    }
    if (root.empty() || !std::filesystem::is_directory(root) || port < 0 || port > 65535) {
        return Usage();
    }
    // Block the stop signals before any server thread exists, so that sigwait gets them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        zephyrate::test::TestSite server;
        server.ServeFolder(root);
        server.Start(port);
        std::cout << server.Port() << std::endl;
        if (!portFile.empty()) {
            // Written beside and renamed, so a reader never sees half a number.
            const std::string temporary = portFile + ".tmp";
            std::ofstream(temporary) << server.Port() << "\n";
            std::filesystem::rename(temporary, portFile);
        }
        int signal = 0;
        sigwait(&stop, &signal);
    } catch (const std::exception& error) {
        std::cerr << "zephyrate-test-server: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
