// The details list of a run: one row for the job and one per file, each with an object
// text, a status text and an image (0 done, 1 error, 2 working, 3 queued). Rows are kept
// here, in the core, and every change is mirrored to the console surface. errorSeen says
// whether any row got the error image since the list was last emptied.
//
// Threads: used by the worker thread of a run; front ends read rows through the surface.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zephyrate {

class ConsoleSurface;
class FileEntry;

class JobList {
  public:
    enum Image { kDone = 0, kError = 1, kWorking = 2, kQueued = 3 };

    struct Row {
        std::string object;
        std::string status;
        int image = kQueued;
    };

    explicit JobList(ConsoleSurface& surface) : surface_(surface) {}

    // Appends a row; returns its index, or -1 when it could not be added.
    int AddRow(std::string_view object, std::string_view status, int image);
    // "Connecting to Server", image 2.
    int AddJobRow(std::string_view object);
    // providerName + ": " + entry.Name, "Added to Sync Queue", image 3; stores the index
    // in entry.Row.
    int AddFileRow(FileEntry& entry, std::string_view providerName);
    // Row -1 does nothing at all. Image 1 sets errorSeen. Status first, then image.
    void SetRowStatus(int row, int image, std::string_view status);
    void DeleteAllRows();
    bool HasErrors() const { return errorSeen; }

    const std::vector<Row>& Rows() const { return rows_; }

  private:
    ConsoleSurface& surface_;
    std::vector<Row> rows_;
    bool errorSeen = false;
};

}  // namespace zephyrate
