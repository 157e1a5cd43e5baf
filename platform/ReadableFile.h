// A source that the device writer copies from: an HTTP response body or an in-memory
// file. Read fills the buffer completely unless the data ends, so a short read is the
// last one; errors of the source are thrown (InternetError for a response).
#pragma once

#include <cstddef>

namespace zephyrate {

class ReadableFile {
  public:
    virtual ~ReadableFile() = default;

    // Rewinds to the start. For a response whose body was not read yet this changes nothing.
    virtual void SeekToBegin() = 0;
    // Reads up to count bytes; returns the count read, 0 at the end.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
};

}  // namespace zephyrate
