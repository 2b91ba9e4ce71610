// Addresses, the access rule and the cpp-httplib server behind --metrics.
#include "cli/metrics_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/text/text.h"
#include "run/health_export.h"

namespace {

constexpr int METRICS_THREADS = 2;  // a scraper and a browser at once; more only queue
constexpr time_t METRICS_IO_TIMEOUT_S = 5;
constexpr size_t METRICS_MOST_BODY = 4096;  // every route is a GET

// The host of a Host header or an address: without its port and IPv6 brackets.
std::string_view host_part(std::string_view text) {
    if (text.starts_with('[')) {
        const size_t close = text.find(']');
        return close == std::string_view::npos ? text : text.substr(1, close - 1);
    }
    const size_t colon = text.find(':');
    return colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos
               ? text
               : text.substr(0, colon);
}

// A dotted IPv4 address in 127.0.0.0/8.
bool loopback_ipv4(std::string_view host) {
    for (int part = 0; part < 4; ++part) {
        uint64_t value = 0;
        const size_t digits = read_decimal(host, 256, &value);
        if (digits == 0 || digits > 3 || value > 255 || (part == 0 && value != 127)) return false;
        host.remove_prefix(digits);
        if (part < 3 && !host.starts_with('.')) return false;
        if (part < 3) host.remove_prefix(1);
    }
    return host.empty();
}

bool loopback_host(std::string_view host) {
    return host == "localhost" || host == "::1" || host == "0:0:0:0:0:0:0:1" || loopback_ipv4(host);
}

// Compares in time that does not tell how much of a guess was right.
bool same_secret(std::string_view given, std::string_view secret) {
    if (given.size() != secret.size() || secret.empty()) return false;
    unsigned differ = 0;
    for (size_t at = 0; at < secret.size(); ++at) differ |= static_cast<unsigned char>(given[at] ^ secret[at]);
    return differ == 0;
}

// cpp-httplib's own choice, SO_REUSEPORT, would let a second run bind the
// same port and take half the scrapes; a port held by a run must refuse the
// next one. SO_REUSEADDR only lets a new run bind while the last one's
// connections linger; Windows gives that without asking, and its
// SO_REUSEADDR would be the port-sharing kind.
void metrics_socket_options(socket_t sock) {
    int yes = 1;
#ifdef _WIN32
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof(yes));
#else
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
#endif
}

}  // namespace

bool metrics_address_parse(std::string_view text, MetricsAddress* address, std::string* error) {
    std::string_view host = "127.0.0.1", port = text;
    if (text.starts_with('[')) {
        const size_t close = text.find("]:");
        if (close == std::string_view::npos) return *error = "an IPv6 address is written [ADDRESS]:PORT", false;
        host = text.substr(1, close - 1), port = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon), port = text.substr(colon + 1);
        if (host.find(':') != std::string_view::npos)
            return *error = "an IPv6 address is written [ADDRESS]:PORT", false;
    }
    uint64_t number = 0;
    if (host.empty() || port.empty() || read_decimal(port, 65536, &number) != port.size() || number > 65535) {
        return *error = "the metrics address is PORT or ADDRESS:PORT, with a port up to 65535", false;
    }
    address->host = host == "localhost" ? "127.0.0.1" : std::string(host);
    address->port = static_cast<uint16_t>(number);
    address->loopback = loopback_host(address->host);
    return true;
}

MetricsAccess metrics_access(const MetricsAddress& address, const std::string& token, std::string_view authorization,
                             std::string_view host_header) {
    if (!token.empty()) {
        constexpr std::string_view BEARER = "Bearer ";
        const bool given = authorization.starts_with(BEARER) && same_secret(authorization.substr(BEARER.size()), token);
        return given ? MetricsAccess::allowed : MetricsAccess::unauthorized;
    }
    if (!address.loopback) return MetricsAccess::unauthorized;  // never served so, but never open either
    return host_header.empty() || loopback_host(host_part(host_header)) ? MetricsAccess::allowed
                                                                        : MetricsAccess::forbidden_host;
}

struct MetricsServer {
    httplib::Server http;
    std::thread thread;
    std::atomic<bool> ended{false};  // the listening loop returned
};

void MetricsServerStop::operator()(MetricsServer* server) const {
    server->http.stop();
    if (server->thread.joinable()) server->thread.join();
    delete server;
}

namespace {

void add_routes(httplib::Server& http, const MetricsSource& source, const std::string& version) {
    http.Get("/metrics", [source, version](const httplib::Request&, httplib::Response& response) {
        response.set_content(prometheus_text(source(), version), PROMETHEUS_CONTENT_TYPE);
    });
    http.Get("/api/v1/workflows", [source, version](const httplib::Request&, httplib::Response& response) {
        response.set_content(workflows_json(source(), version), "application/json");
    });
    http.Get("/", [source, version](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Security-Policy",
                            "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'");
        response.set_content(status_page_html(source(), version, METRICS_PAGE_REFRESH_S), "text/html; charset=utf-8");
    });
}

void guard_routes(httplib::Server& http, const MetricsAddress& address, const std::string& token) {
    http.set_pre_routing_handler([address, token](const httplib::Request& request, httplib::Response& response) {
        const MetricsAccess access =
            metrics_access(address, token, request.get_header_value("Authorization"), request.get_header_value("Host"));
        if (access == MetricsAccess::allowed) return httplib::Server::HandlerResponse::Unhandled;
        if (access == MetricsAccess::unauthorized) {
            response.status = 401;
            response.set_header("WWW-Authenticate", "Bearer realm=\"veltrona\"");
            response.set_content("This endpoint needs the header Authorization: Bearer TOKEN.\n", "text/plain");
        } else {
            response.status = 403;
            response.set_content("This endpoint answers only requests for a loopback host.\n", "text/plain");
        }
        return httplib::Server::HandlerResponse::Handled;
    });
}

}  // namespace

MetricsServerPtr metrics_server_start(const MetricsAddress& address, const std::string& token, MetricsSource source,
                                      const std::string& version, uint16_t* bound, std::string* error) {
    if (!address.loopback && token.empty()) {
        *error = "serving metrics on " + address.host + " needs --metrics-token (or VELTRONA_METRICS_TOKEN)";
        return nullptr;
    }
    if (!token.empty() && token.size() < METRICS_TOKEN_LEAST) {
        *error = "the metrics token needs at least " + std::to_string(METRICS_TOKEN_LEAST) + " characters";
        return nullptr;
    }
    MetricsServerPtr server(new MetricsServer);
    httplib::Server& http = server->http;
    http.new_task_queue = [] { return new httplib::ThreadPool(METRICS_THREADS); };
    http.set_socket_options(metrics_socket_options);
    http.set_read_timeout(METRICS_IO_TIMEOUT_S);
    http.set_write_timeout(METRICS_IO_TIMEOUT_S);
    http.set_payload_max_length(METRICS_MOST_BODY);
    http.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});
    guard_routes(http, address, token);
    add_routes(http, source, version);
    const int port = address.port == 0 ? http.bind_to_any_port(address.host)
                                       : (http.bind_to_port(address.host, address.port) ? address.port : -1);
    if (port <= 0) {
        *error = "cannot serve metrics on " + address.host + ":" + std::to_string(address.port) +
                 ": the port is taken or the address is not this machine's";
        return nullptr;
    }
    *bound = static_cast<uint16_t>(port);
    MetricsServer* running = server.get();
    running->thread = std::thread([running] {
        running->http.listen_after_bind();
        running->ended = true;
    });
    // A stop() before the loop runs would be lost, and the join would wait for ever.
    while (!http.is_running() && !running->ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return server;
}
