// A registry file in the registry editor's text format, held as lines:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Kestrelwynd\Zephyrate]
//   "PrePath"="\\Storage Card\\Zephyrate"
//   "Dontask"=dword:00000001
//
// REG_SZ and REG_DWORD values are understood; every other line (other keys, other
// value forms, comments) is kept as it stands so that a rewrite loses nothing.
// Key paths and value names compare without regard to ASCII case, like the registry.
// A value class: not thread-safe, no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

namespace zephyrate {

struct RegistryValue {
    std::uint32_t type = REG_NONE;  // REG_SZ or REG_DWORD
    std::string text;               // REG_SZ, UTF-8
    std::uint32_t number = 0;       // REG_DWORD

    static RegistryValue Text(std::string text) { return {REG_SZ, std::move(text), 0}; }
    static RegistryValue Number(std::uint32_t number) { return {REG_DWORD, {}, number}; }
    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

class RegistryDocument {
  public:
    // Parses UTF-8 (with or without a byte-order mark) or UTF-16LE with its byte-order
    // mark; line feeds, carriage returns or both end a line. Damaged lines are dropped.
    static RegistryDocument Parse(std::string_view bytes);
    // Whether the bytes start with the editor's header line ("Windows Registry Editor
    // Version 5.00" or "REGEDIT4"), in any of the encodings that Parse reads.
    static bool IsExport(std::string_view bytes);

    // Whether a section for the key is present.
    bool HasKey(std::string_view key) const;
    // The value, or nothing when the key or value is absent or of a form not understood.
    std::optional<RegistryValue> Find(std::string_view key, std::string_view name) const;
    // Adds an empty section for the key unless it has one.
    void CreateKey(std::string_view key);
    // Sets a value, adding the key section and the value line where missing.
    void Set(std::string_view key, std::string_view name, const RegistryValue& value);

    // UTF-8 text with line feeds, starting with the editor's header line.
    std::string Serialize() const;

  private:
    enum class Kind { Other, Section, Value };
    struct Line {
        std::string text;  // the line as it will be written
        std::string key;   // section this line belongs to (empty before the first)
        std::string name;  // value name of a value line ("" for the default value @)
        std::optional<RegistryValue> value;  // set when the value's form is understood
        Kind kind = Kind::Other;
    };

    static std::string FormatValueLine(std::string_view name, const RegistryValue& value);

    std::vector<Line> lines_;
};

}  // namespace zephyrate
