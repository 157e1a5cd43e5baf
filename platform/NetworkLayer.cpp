#include "platform/NetworkLayer.h"

#include <curl/curl.h>

namespace zephyrate {

NetworkLayer::NetworkLayer() : ready_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}

NetworkLayer::~NetworkLayer() {
    if (ready_) {
        curl_global_cleanup();
    }
}

}  // namespace zephyrate
