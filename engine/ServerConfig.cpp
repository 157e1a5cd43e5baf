#include "engine/ServerConfig.h"

#include <algorithm>

#include "platform/AsciiText.h"
#include "platform/HttpFile.h"

namespace zephyrate {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

std::string_view Trimmed(std::string_view item) {
    std::size_t first = item.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = item.find_last_not_of(kWhiteSpace);
    return item.substr(first, last - first + 1);
}

}  // namespace

bool ServerConfig::Load(HttpFile& response) {
    // To its end, whatever was announced: an index that is cut short would withdraw the
    // files of its missing lines. The memory grows with what arrives, never with what a
    // server announces.
    std::string body;
    constexpr std::size_t kPiece = 64 * 1024;
    for (;;) {
        const std::size_t old = body.size();
        body.resize(old + kPiece);
        const std::size_t got = response.Read(body.data() + old, kPiece);
        body.resize(old + got);
        if (body.size() > kMaxLength) {
            return false;
        }
        if (got < kPiece) {
            break;  // the body ended
        }
    }
    return LoadText(body);
}

bool ServerConfig::LoadText(std::string_view body) {
    text_.clear();
    text_.reserve(body.size() + 1);
    // A '#' silences the rest of its line, wherever it stands; the line feed stays.
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t hash = body.find(kCommentCharacter, pos);
        if (hash == std::string_view::npos) {
            text_.append(body.substr(pos));
            break;
        }
        text_.append(body.substr(pos, hash - pos));
        std::size_t lineEnd = body.find(kLineTerminator, hash);
        if (lineEnd == std::string_view::npos) {
            break;
        }
        pos = lineEnd;
    }
    // The added line feed comes after comment removal so that a comment on an
    // unterminated last line still ends at a line feed.
    text_ += kLineTerminator;
    folded_ = AsciiLowered(text_);
    return true;
}

std::ptrdiff_t ServerConfig::FindValue(std::string_view key, std::ptrdiff_t start,
                                       std::string& value) const {
    if (start < 0 || static_cast<std::size_t>(start) > folded_.size()) {
        return -1;
    }
    const std::size_t at = folded_.find(AsciiLowered(key), static_cast<std::size_t>(start));
    if (at == std::string::npos) {
        return -1;
    }
    std::size_t end = text_.find(kLineTerminator, at);
    if (end == std::string::npos) {
        end = text_.size();  // not reached: the text always ends in a line feed
    }
    std::size_t valueEnd = end;
    if (valueEnd > at && text_[valueEnd - 1] == '\r') {
        --valueEnd;
    }
    const std::size_t valueStart = std::min(at + key.size(), valueEnd);
    value.assign(text_, valueStart, valueEnd - valueStart);
    return static_cast<std::ptrdiff_t>(valueEnd);
}

std::ptrdiff_t ServerConfig::FindList(std::string_view key, std::ptrdiff_t start,
                                      std::vector<std::string>& items) const {
    std::string value;
    const std::ptrdiff_t end = FindValue(key, start, value);
    if (end < 0) {
        items.clear();
        return -1;
    }
    items = SplitList(value);
    return end;
}

std::vector<std::string> ServerConfig::SplitList(std::string_view value) {
    std::vector<std::string> items;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = value.find(kItemSeparator, pos);
        const std::string_view item = value.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        items.emplace_back(Trimmed(item));
        if (comma == std::string_view::npos) {
            return items;
        }
        pos = comma + 1;
    }
}

bool ServerConfig::HasValidHeader() const {
    std::string header;
    FindValue("Header:", 0, header);
    return AsciiLowered(header) == "zephyrate v1.0";
}

std::string ServerConfig::DestinationFolder() const {
    std::string folder;
    FindValue("CEFolder:", 0, folder);
    const auto trimEnd = [&](std::string_view set) {
        const std::size_t last = folder.find_last_not_of(set);
        folder.erase(last == std::string::npos ? 0 : last + 1);
    };
    const auto trimStart = [&](std::string_view set) {
        folder.erase(0, std::min(folder.find_first_not_of(set), folder.size()));
    };
    trimEnd(kWhiteSpace);
    trimEnd("\\");
    trimEnd("/");
    trimStart(kWhiteSpace);
    trimStart("\\");
    trimStart("/");
    return folder;
}

std::vector<FileEntry> ServerConfig::Entries() const {
    std::vector<FileEntry> entries;
    std::vector<std::string> items;
    for (const bool fromUrl : {false, true}) {
        const std::string_view key = fromUrl ? "Url:" : "File:";
        for (std::ptrdiff_t pos = FindList(key, 0, items); pos >= 0;
             pos = FindList(key, pos, items)) {
            if (items.front().empty()) {
                continue;
            }
            FileEntry entry;
            if (fromUrl) {
                entry.SetUrl(items.front());
            } else {
                entry.SetFile(items.front());
            }
            for (std::size_t i = 1; i < items.size(); ++i) {
                const std::string lowered = AsciiLowered(items[i]);
                if (lowered.starts_with("link:")) {
                    entry.AddFavorite(std::string_view(items[i]).substr(5));
                } else if (lowered.starts_with("exe:")) {
                    entry.AddShortcut(std::string_view(items[i]).substr(4));
                }
            }
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

}  // namespace zephyrate
