#include "run/FileEntry.h"

namespace zephyrate {

bool FileEntry::SetFile(std::string_view path) {
    Name = path;
    return true;
}

bool FileEntry::SetUrl(std::string_view address) {
    Url = address;
    UrlIsAbsolute = true;
    std::size_t last = address.find_last_of("/\\");
    return SetFile(last == std::string_view::npos ? address : address.substr(last + 1));
}

bool FileEntry::AddShortcut(std::string_view name) {
    ShortcutFile = std::string(name) + ".lnk";
    return true;
}

bool FileEntry::AddFavorite(std::string_view name) {
    FavoriteFile = std::string(name) + ".url";
    return true;
}

}  // namespace zephyrate
