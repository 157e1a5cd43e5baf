#include "platform/RegistryDocument.h"

#include <algorithm>
#include <cstdio>

#include "platform/AsciiText.h"
#include "platform/WideText.h"

namespace zephyrate {

namespace {

// The line that opens a key's section.
std::string SectionHeader(std::string_view key) {
    std::string text;
    text.reserve(key.size() + 2);
    text += '[';
    text += key;
    text += ']';
    return text;
}

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

// "Software\Kestrelwynd\Zephyrate\" and "...\Zephyrate" name the same key.
std::string_view TrimKey(std::string_view key) {
    while (!key.empty() && key.back() == '\\') {
        key.remove_suffix(1);
    }
    return key;
}

bool SameKey(std::string_view a, std::string_view b) {
    return EqualIgnoringAsciiCase(TrimKey(a), TrimKey(b));
}

// The registry editor exports UTF-16LE with a byte-order mark; everything else is UTF-8.
std::string DecodeText(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        return Utf16ToUtf8(units);
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    return std::string(bytes);
}

// Reads a quoted string with the editor's two escapes starting at text[pos] == '"'.
// Returns the position after the closing quote, or npos when the string is damaged.
std::size_t ReadQuoted(std::string_view text, std::size_t pos, std::string& out) {
    out.clear();
    for (std::size_t i = pos + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            return i + 1;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out += text[++i];
        } else {
            out += c;
        }
    }
    return std::string_view::npos;
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

bool ParseDword(std::string_view digits, std::uint32_t& number) {
    if (digits.empty() || digits.size() > 8) {
        return false;
    }
    std::uint32_t value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f') {
            digit = AsciiLower(c) - 'a' + 10;
        } else {
            return false;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    number = value;
    return true;
}

}  // namespace

RegistryDocument RegistryDocument::Parse(std::string_view bytes) {
    const std::string text = DecodeText(bytes);
    RegistryDocument document;
    std::string key;
    bool continuation = false;  // the previous kept line ended in '\' (long hex values)

    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string_view line(text.data() + start, end - start);
        start = end;
        if (start < text.size() && text[start] == '\r') {
            ++start;
            if (start < text.size() && text[start] == '\n') {
                ++start;
            }
        } else if (start < text.size()) {
            ++start;
        }

        std::string_view trimmed = TrimAscii(line);
        // Hex data never starts with a quote, '@' or '[': such a line follows a value whose
        // continuation was lost, and must not be swallowed with it.
        if (continuation && (trimmed.empty() || (trimmed.front() != '"' && trimmed.front() != '@' &&
                                                 trimmed.front() != '['))) {
            document.lines_.push_back({std::string(line), key, {}, {}, Kind::Other});
            continuation = !line.empty() && line.back() == '\\';
            continue;
        }
        continuation = false;
        if (trimmed == kHeader || trimmed == "REGEDIT4") {
            continue;  // written again by Serialize
        }
        if (trimmed.empty() || trimmed.front() == ';') {
            document.lines_.push_back({std::string(line), key, {}, {}, Kind::Other});
            continue;
        }
        if (trimmed.front() == '[') {
            if (trimmed.back() != ']') {
                continue;  // damaged
            }
            key = std::string(trimmed.substr(1, trimmed.size() - 2));
            document.lines_.push_back({std::string(trimmed), key, {}, {}, Kind::Section});
            continue;
        }
        if (key.empty()) {
            continue;  // a value outside any key is damaged
        }

        std::string name;
        std::size_t pos;
        if (trimmed.front() == '@') {
            pos = 1;
        } else if (trimmed.front() == '"') {
            pos = ReadQuoted(trimmed, 0, name);
            if (pos == std::string_view::npos) {
                continue;
            }
        } else {
            continue;
        }
        if (pos >= trimmed.size() || trimmed[pos] != '=') {
            continue;
        }
        std::string_view data = trimmed.substr(pos + 1);
        Line kept{std::string(trimmed), key, name, {}, Kind::Value};
        if (!data.empty() && data.front() == '"') {
            std::string value;
            std::size_t after = ReadQuoted(data, 0, value);
            if (after != data.size()) {
                continue;  // unterminated or with junk after the closing quote
            }
            kept.value = RegistryValue::Text(std::move(value));
        } else if (data.size() > 6 && EqualIgnoringAsciiCase(data.substr(0, 6), "dword:")) {
            std::uint32_t number = 0;
            if (!ParseDword(data.substr(6), number)) {
                continue;
            }
            kept.value = RegistryValue::Number(number);
        } else {
            // Another value form (hex, expandable text, deletion): kept as written.
            continuation = !data.empty() && data.back() == '\\';
        }
        document.lines_.push_back(std::move(kept));
    }
    return document;
}

bool RegistryDocument::IsExport(std::string_view bytes) {
    const std::string text = DecodeText(bytes);
    const std::string_view first =
        TrimAsciiEnd(std::string_view(text).substr(0, text.find_first_of("\r\n")));
    return first == kHeader || first == "REGEDIT4";
}

bool RegistryDocument::HasKey(std::string_view key) const {
    return std::any_of(lines_.begin(), lines_.end(), [&](const Line& line) {
        return line.kind == Kind::Section && SameKey(line.key, key);
    });
}

std::optional<RegistryValue> RegistryDocument::Find(std::string_view key,
                                                    std::string_view name) const {
    // The editor applies lines in order, so the last occurrence of a value counts.
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
        if (it->kind == Kind::Value && SameKey(it->key, key) &&
            EqualIgnoringAsciiCase(it->name, name)) {
            return it->value;
        }
    }
    return std::nullopt;
}

std::string RegistryDocument::FormatValueLine(std::string_view name, const RegistryValue& value) {
    std::string line = name.empty() ? std::string("@") : Quote(name);
    line += '=';
    if (value.type == REG_DWORD) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", value.number);
        line += digits;
    } else {
        line += Quote(value.text);
    }
    return line;
}

void RegistryDocument::Set(std::string_view key, std::string_view name,
                           const RegistryValue& value) {
    Line line{FormatValueLine(name, value), std::string(key), std::string(name), value,
              Kind::Value};

    for (std::size_t i = lines_.size(); i-- > 0;) {
        if (lines_[i].kind == Kind::Value && SameKey(lines_[i].key, key) &&
            EqualIgnoringAsciiCase(lines_[i].name, name)) {
            // A value of another form may go on over continuation lines; they go with it,
            // or they would be left behind as garbage.
            std::size_t end = i + 1;
            while (end < lines_.size() && lines_[end].kind == Kind::Other &&
                   !lines_[end - 1].text.empty() && lines_[end - 1].text.back() == '\\') {
                ++end;
            }
            line.key = lines_[i].key;
            lines_[i] = std::move(line);
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i + 1),
                         lines_.begin() + static_cast<std::ptrdiff_t>(end));
            return;
        }
    }
    // Append after the last non-blank line of the key's last section.
    std::optional<std::size_t> insertAt;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (SameKey(lines_[i].key, key) &&
            lines_[i].text.find_first_not_of(" \t") != std::string::npos) {
            insertAt = i + 1;
        }
    }
    if (insertAt) {
        line.key = lines_[*insertAt - 1].key;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*insertAt), std::move(line));
        return;
    }
    lines_.push_back({"", "", {}, {}, Kind::Other});
    lines_.push_back({SectionHeader(key), std::string(key), {}, {}, Kind::Section});
    lines_.push_back(std::move(line));
}

void RegistryDocument::CreateKey(std::string_view key) {
    if (!HasKey(key)) {
        lines_.push_back({"", "", {}, {}, Kind::Other});
        lines_.push_back({SectionHeader(key), std::string(key), {}, {}, Kind::Section});
    }
}

std::string RegistryDocument::Serialize() const {
    std::string out(kHeader);
    out += '\n';
    if (!lines_.empty() && !lines_.front().text.empty()) {
        out += '\n';
    }
    for (const Line& line : lines_) {
        out += line.text;
        out += '\n';
    }
    return out;
}

}  // namespace zephyrate
