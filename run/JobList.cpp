#include "run/JobList.h"

#include <climits>
#include <string>

#include "run/ConsoleSurface.h"
#include "run/FileEntry.h"

namespace zephyrate {

int JobList::AddRow(std::string_view object, std::string_view status, int image) {
    // A row index is a signed 32-bit number; past that the work goes on without a row.
    if (rows_.size() >= static_cast<std::size_t>(INT_MAX)) {
        return -1;
    }
    const int row = static_cast<int>(rows_.size());
    rows_.push_back(Row{std::string(object), std::string(status), image});
    surface_.JobRowAdded(row, object, status, image);
    return row;
}

int JobList::AddJobRow(std::string_view object) {
    return AddRow(object, "Connecting to Server", kWorking);
}

int JobList::AddFileRow(FileEntry& entry, std::string_view providerName) {
    std::string object;
    object.reserve(providerName.size() + 2 + entry.Name.size());
    object.append(providerName).append(": ").append(entry.Name);
    entry.Row = AddRow(object, "Added to Sync Queue", kQueued);
    return entry.Row;
}

void JobList::SetRowStatus(int row, int image, std::string_view status) {
    // -1 is the row of an entry that got none; any other index outside the list is as
    // stale and must not mark the run as failed either.
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return;
    }
    if (image == kError) {
        errorSeen = true;
    }
    Row& target = rows_[static_cast<std::size_t>(row)];
    target.status.assign(status);
    target.image = image;
    surface_.JobRowChanged(row, status, image);
}

void JobList::DeleteAllRows() {
    rows_.clear();
    errorSeen = false;
    surface_.JobRowsCleared();
}

}  // namespace zephyrate
