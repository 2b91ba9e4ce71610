// The authority of a URL ("host", "host:port", "[v6]" or "[v6]:port") split
// into its host and port text. Only the shape is checked here: each URL
// kind keeps its own rules for what a host or port may be, which default
// port applies and how long either may run.
#pragma once

#include <string_view>

struct UrlAuthority {
    std::string_view host;       // an IPv6 literal without its brackets; may be empty
    std::string_view port_text;  // what follows the ':' (may be empty); empty when there is none
    bool has_port = false;       // a ':' separated a port, even an empty one
    bool bracketed = false;      // the host was written "[...]"
};

// Splits `authority` (views into it are kept). False only when a '[' has no
// closing ']' or something other than ':' follows the ']'.
[[nodiscard]] bool url_split_authority(std::string_view authority, UrlAuthority* out);
