#include "platform/DeviceListing.h"

#include <algorithm>

#include "platform/DeviceRemote.h"
#include "platform/WidePath.h"

namespace zephyrate {

DeviceListing::DeviceListing(DeviceRemote& device, std::string_view pattern, std::uint32_t flags)
    : device_(device) {
    WidePath path(pattern);
    ok_ = device_.CeFindAllFiles(path.Wide(), flags, &count_, &found_);
}

DeviceListing::~DeviceListing() {
    if (found_ != nullptr) {
        device_.CeRapiFreeBuffer(found_);
    }
}

std::string DeviceListing::Name(std::uint32_t index) const {
    const char16_t* begin = found_[index].cFileName;
    const char16_t* end = std::find(begin, begin + MAX_PATH, u'\0');
    return WidePath::FromDevice({begin, static_cast<std::size_t>(end - begin)});
}

}  // namespace zephyrate
