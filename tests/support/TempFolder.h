// A fresh folder below $TMPDIR (or /tmp) for one test, removed with everything in it
// when the object goes away, also when the test made parts of it read-only.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zephyrate::test {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(std::string_view part) const { return path_ / part; }

    // Writes a file below the folder, creating its parent folders.
    std::filesystem::path WriteFile(std::string_view relative, std::string_view contents) const;
    // Reads a whole file; empty when it cannot be read.
    static std::string ReadFile(const std::filesystem::path& file);

  private:
    std::filesystem::path path_;
};

}  // namespace zephyrate::test
