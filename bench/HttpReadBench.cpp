// zephyrate-bench-http-read URL
// Downloads URL through HttpFile::Read in 4096-byte reads, as the device writer does, and
// prints the byte count; bench/http-read times it against curl.
#include <cstdint>
#include <iostream>

#include "platform/InternetError.h"
#include "platform/InternetSession.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zephyrate-bench-http-read URL\n";
        return 2;
    }
    try {
        zephyrate::InternetSession session;
        auto file = session.OpenURL(
            argv[1], zephyrate::INTERNET_FLAG_RELOAD | zephyrate::INTERNET_FLAG_TRANSFER_BINARY);
        std::uint32_t status = 0;
        file->QueryInfoStatusCode(status);
        if (status != 200) {
            std::cerr << "status " << status << "\n";
            return 1;
        }
        char buffer[4096];
        std::uint64_t total = 0;
        while (std::size_t n = file->Read(buffer, sizeof buffer)) {
            total += n;
        }
        std::cout << total << "\n";
    } catch (const zephyrate::InternetError& error) {
        std::cerr << "zephyrate-bench-http-read: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
