// The HTTP endpoint of `veltrona-cli run --metrics`: `/metrics` for
// Prometheus, `/api/v1/workflows` for scripts and a status page at `/`, all
// read-only, served by cpp-httplib on two threads of its own.
//
// Who may ask: on a loopback address, anyone on the machine (as with the
// status files), but only with a Host header that names the loopback, so a
// web page in a local browser cannot read the figures through a DNS name
// rebound to 127.0.0.1. Any other address needs a token, and every request
// then needs `Authorization: Bearer TOKEN` (401 without). The figures never
// hold a stream key, so the token guards what runs where, not the keys.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "run/status_file.h"

constexpr uint16_t METRICS_DEFAULT_PORT = 9730;
constexpr size_t METRICS_TOKEN_LEAST = 16;
constexpr unsigned METRICS_PAGE_REFRESH_S = 2;

struct MetricsAddress {
    std::string host;  // as bound: "127.0.0.1", "::1", "0.0.0.0" ...
    uint16_t port = METRICS_DEFAULT_PORT;
    bool loopback = true;
};

// "PORT", "HOST:PORT" or "[IPV6]:PORT" (port 0: any free one); a bare port
// binds 127.0.0.1. False with the reason in `error`.
[[nodiscard]] bool metrics_address_parse(std::string_view text, MetricsAddress* address, std::string* error);

enum class MetricsAccess { allowed, unauthorized, forbidden_host };

// Whether a request with these headers may be answered. `token` is empty
// only on a loopback bind.
[[nodiscard]] MetricsAccess metrics_access(const MetricsAddress& address, const std::string& token,
                                           std::string_view authorization, std::string_view host_header);

// The running workflows' fields, asked for on each request from the server's threads.
using MetricsSource = std::function<std::vector<StatusFields>()>;

struct MetricsServer;
struct MetricsServerStop {
    void operator()(MetricsServer* server) const;
};
using MetricsServerPtr = std::unique_ptr<MetricsServer, MetricsServerStop>;

// Binds and starts serving; null with the reason in `error` (the address is
// taken, not this machine's, or a token is missing or too short). `bound`
// gets the port in use (the one chosen when asked for 0).
[[nodiscard]] MetricsServerPtr metrics_server_start(const MetricsAddress& address, const std::string& token,
                                                    MetricsSource source, const std::string& version, uint16_t* bound,
                                                    std::string* error);
