// The maker's addresses: the default provider web site and e-mail of a job, the page a
// logo click opens when no job named one, and the support address of error texts.
#pragma once

namespace zephyrate {

inline constexpr const char* kMakerWebSite = "http://www.kestrelwynd.example/";
inline constexpr const char* kSupportEmail = "support@kestrelwynd.example";

}  // namespace zephyrate
