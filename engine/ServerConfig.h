// The provider's index (the server configuration file) as the job reads it: the whole
// body, comments removed, searched for keys anywhere in the text without regard to ASCII
// case; a key's value is the rest of its line. One per job, owned by the driver; not
// shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run/FileEntry.h"

namespace zephyrate {

class HttpFile;

class ServerConfig {
  public:
    // Most that is read; a longer index is refused whole.
    static constexpr std::size_t kMaxLength = 64 * 1024 * 1024;

    static constexpr char kCommentCharacter = '#';
    static constexpr char kItemSeparator = ',';
    static constexpr char kLineTerminator = '\n';

    // Reads the whole body of an open response, to its end. False, with nothing loaded,
    // for a body over kMaxLength. Errors of the response (InternetError: cut short, longer
    // than announced) pass through; a response opened with BodyFraming::UntilClose has
    // its length checked.
    bool Load(HttpFile& response);
    // The same for a body already in memory: adds a line feed and removes comments.
    bool LoadText(std::string_view body);

    // Position of the end of the line holding the first occurrence of key at or after
    // start, and that line's value; -1 with value untouched when there is none.
    std::ptrdiff_t FindValue(std::string_view key, std::ptrdiff_t start, std::string& value) const;
    // As FindValue, with the value split into items; on -1 the list is empty.
    std::ptrdiff_t FindList(std::string_view key, std::ptrdiff_t start,
                            std::vector<std::string>& items) const;
    // Splits at every ',' and strips each item of white space; at least one item.
    static std::vector<std::string> SplitList(std::string_view value);

    // Whether the first "Header:" line reads "zephyrate v1.0" after lower-casing, exactly
    // (a blank after the colon or at the end rejects it; no header rejects it).
    bool HasValidHeader() const;
    // The first "CEFolder:" value with trailing white space, then trailing '\', then
    // trailing '/', then the same at the front removed, each run once; empty when missing.
    std::string DestinationFolder() const;

    // The listed files in job order: every "File:" line, then every "Url:" line, each in
    // file order. A line whose first item is empty gives no entry; "link:" and "exe:"
    // items (prefix in any case, the rest as written) name the favorite and the shortcut,
    // the last of each kind counting.
    std::vector<FileEntry> Entries() const;

    const std::string& Text() const { return text_; }

  private:
    std::string text_;
    std::string folded_;  // text_ with ASCII letters lower-cased, for the key search
};

}  // namespace zephyrate
