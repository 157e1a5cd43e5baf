// A compiled help file (CHM) read with libmspack: the names of the pages it holds, a page's
// bytes, and the page it opens at. A file that is missing or damaged reads as not open.
//
// Threads: one object per thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zephyrate {

class ChmFile {
  public:
    explicit ChmFile(const std::string& path);
    ~ChmFile();
    ChmFile(const ChmFile&) = delete;
    ChmFile& operator=(const ChmFile&) = delete;

    bool IsOpen() const;
    // The pages and other files, as "/index.htm"; not the file's own system files.
    std::vector<std::string> Names() const;
    // A file's bytes by its name ("/index.htm"); nothing when it is not there or cannot be
    // unpacked.
    std::optional<std::string> Read(std::string_view name) const;
    // The page the file opens at ("/index.htm"), from its #SYSTEM record; empty when it
    // names none.
    std::string DefaultTopic() const;

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace zephyrate
