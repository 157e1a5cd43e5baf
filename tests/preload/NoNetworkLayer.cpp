// Preloaded into zephyrate by the single-instance check: a network layer that fails to
// start, a fault that a real machine cannot be made to show on demand.
#include <curl/curl.h>

extern "C" CURLcode curl_global_init(long) {
    return CURLE_FAILED_INIT;
}
