// zephyrate-index: fetches a provider's index over HTTP and prints what Zephyrate reads
// from it. A check for providers and the first step of the demonstration.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/ServerConfig.h"
#include "platform/HttpFile.h"
#include "platform/InternetError.h"
#include "platform/InternetSession.h"

namespace {

constexpr const char* kUsage =
    "Usage: zephyrate-index ADDRESS\n"
    "Fetches http://ADDRESS (the address of a server configuration file, without\n"
    "\"http://\") and prints its header, destination folder, splash text and entries.\n"
    "Exit status: 0 the index was read and its header is valid, 1 it was not, 2 usage.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace zephyrate;
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, argc == 2 ? stdout : stderr);
        return argc == 2 ? 0 : 2;
    }
    const std::string url = std::string("http://") + argv[1];

    InternetSession session;
    ServerConfig config;
    try {
        std::unique_ptr<HttpFile> response =
            session.OpenURL(url, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII);
        std::uint32_t status = 0;
        response->QueryInfoStatusCode(status);
        if (status >= 400) {
            std::printf("HTTP Error %u\n", status);
            return 1;
        }
        config.Load(*response);
    } catch (const InternetError& error) {
        std::printf("Connection with server failed: %s\n", error.what());
        return 1;
    }

    std::string header;
    config.FindValue("Header:", 0, header);
    if (!config.HasValidHeader()) {
        std::printf("Invalid configuration file at server (header \"%s\")\n", header.c_str());
        return 1;
    }
    std::string splash;
    const bool hasSplash = config.FindValue("Splash:", 0, splash) >= 0;

    std::printf("Header:      %s\n", header.c_str());
    std::printf("Folder:      %s\n", config.DestinationFolder().c_str());
    std::printf("Splash:      %s\n", hasSplash ? splash.c_str() : "(none)");
    for (const FileEntry& entry : config.Entries()) {
        std::printf("Entry:       %s\n", entry.Name.c_str());
        if (entry.UrlIsAbsolute) {
            std::printf("  address:   %s\n", entry.Url.c_str());
        }
        if (!entry.FavoriteFile.empty()) {
            std::printf("  favorite:  %s\n", entry.FavoriteFile.c_str());
        }
        if (!entry.ShortcutFile.empty()) {
            std::printf("  shortcut:  %s\n", entry.ShortcutFile.c_str());
        }
    }
    return 0;
}
