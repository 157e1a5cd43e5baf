// One synchronisation job: where its index lives, who provides it, its login and its
// update log. Built by the run from the typed address, read by the job driver, which
// writes SplashText and SplashBitmap and lets the fetch write the login. A plain value of
// the worker thread; gone when the job returns.
#pragma once

#include <cstdint>
#include <string>

#include "run/Maker.h"

namespace zephyrate {

struct SyncJob {
    // The program's own logo, shown when a job brings none.
    static constexpr std::int64_t kOwnLogo = 131;
    static constexpr std::int64_t kNoBitmap = -1;

    virtual ~SyncJob() = default;

    std::string LogFileName;  // the update log, relative to the current folder
    std::string ProviderName = "Kestrelwynd NV";
    std::string SplashText;
    std::string ProviderEmail = kSupportEmail;
    std::string Url;  // the index's address without "http://"
    std::string UserName;
    std::string Password;
    std::string ProviderWebSite = kMakerWebSite;
    std::int64_t SplashBitmap = kNoBitmap;
};

}  // namespace zephyrate
