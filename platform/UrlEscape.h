// Addresses as the provider's index writes them, made fit for the wire: a file name with a
// blank or a non-ASCII letter is a name like any other to the provider, but may not stand
// raw in an HTTP request. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace zephyrate {

// Percent-encodes, after the scheme and host, every byte that may not stand raw in an
// address: blanks, control characters, bytes above 0x7E and "<>\^`{|}; a '%' that does
// not start a %XX escape becomes %25. Escapes already present and the reserved
// characters (/?:@&=+$,;!*'()[]#~) stay as they are, so an address that was fit already
// comes back unchanged.
std::string EscapeUnsafeUrlCharacters(std::string_view url);

}  // namespace zephyrate
