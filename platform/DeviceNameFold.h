// How the device tells names apart: two names are the same when their folds are equal.
// Letters fold to upper case by the full Unicode mapping of the C.UTF-8 locale (ASCII
// letters only where that locale is missing), as the device's file system compares names;
// bytes of a name that is not UTF-8 compare as they stand.
//
// Threads: Fold may run on several threads at once. The object owns its locale.
#pragma once

#include <locale.h>

#include <string>
#include <string_view>

namespace zephyrate {

class DeviceNameFold {
  public:
    DeviceNameFold();
    ~DeviceNameFold();
    DeviceNameFold(const DeviceNameFold&) = delete;
    DeviceNameFold& operator=(const DeviceNameFold&) = delete;

    std::u32string Fold(std::string_view name) const;

  private:
    locale_t locale_ = nullptr;
};

}  // namespace zephyrate
