// Request text and response reading for the HTTP client.
//
// The response block is read-only here. Header fields are looked up only
// inside the header (up to the blank line), so body bytes can never pass for
// a field. While a chunked body arrives its framing is walked once, each
// receive going on where the last one stopped; reading it then walks it twice
// more: once to count its bytes, once to copy them into a single block of the
// right size.
#include "net/http_message.h"

#include <cstring>
#include <string_view>

#include "platform/text/error_text.h"
#include "platform/text/text.h"

namespace {

constexpr std::string_view kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/148.0.0.0 Safari/537.36";
constexpr size_t kChunkSizeLineMax = 32;  // a size line must be shorter than this

std::string_view as_text(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Case-insensitive search for `needle` in `haystack`.
size_t ifind(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size()) return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (istarts_with(haystack.substr(i), needle)) return i;
    }
    return std::string_view::npos;
}

// The value of the first header field found by `marker` ("\r\nName:"),
// leading blanks skipped, up to the end of its line. False when absent.
bool find_field(std::string_view header, std::string_view marker, std::string_view* value) {
    size_t at = ifind(header, marker);
    if (at == std::string_view::npos) return false;
    std::string_view rest = header.substr(at + marker.size());
    size_t end = rest.find_first_of("\r\n");
    rest = rest.substr(0, end);
    while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
    *value = rest;
    return true;
}

// Leading decimal digits; saturates just below HTTP_NO_LENGTH. False without digits.
bool parse_decimal(std::string_view text, size_t* value) {
    uint64_t result = 0;
    if (read_decimal(text, HTTP_NO_LENGTH - 1, &result) == 0) return false;
    *value = static_cast<size_t>(result);
    return true;
}

// Walks the chunked framing of `raw` from the size line at *at, calling
// visit(offset, size) for each chunk's data and leaving *at at the first
// size line not fully read. Stops at the size-0 chunk; trailers are not read.
template <typename Visit>
HttpChunkWalk walk_chunks(std::span<const uint8_t> raw, size_t* at, size_t* lines_read, Visit visit) {
    std::string_view text = as_text(raw);
    for (;;) {
        // A size line is short, so only its allowance is searched for the CR LF.
        std::string_view rest = text.substr(*at, kChunkSizeLineMax + 1);
        size_t line_end = rest.find("\r\n");
        if (line_end == std::string_view::npos) {
            return rest.size() >= kChunkSizeLineMax ? HttpChunkWalk::broken : HttpChunkWalk::incomplete;
        }
        if (line_end >= kChunkSizeLineMax) return HttpChunkWalk::broken;
        ++*lines_read;
        std::string_view line = rest.substr(0, line_end);
        while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
        uint64_t size = 0;
        size_t digits = 0;
        for (char c : line) {
            int v = hex_digit_value(c);
            if (v < 0) break;
            if (++digits > 15) return HttpChunkWalk::broken;
            size = size * 16 + static_cast<uint64_t>(v);
        }
        if (digits == 0) return HttpChunkWalk::broken;
        if (size == 0) return HttpChunkWalk::complete;
        size_t data_at = *at + line_end + 2;
        size_t available = text.size() - data_at;
        if (size > available) return HttpChunkWalk::incomplete;
        size_t after = data_at + static_cast<size_t>(size);
        if (text.size() - after < 2) return HttpChunkWalk::incomplete;
        if (text[after] != '\r' || text[after + 1] != '\n') return HttpChunkWalk::broken;
        visit(data_at, static_cast<size_t>(size));
        *at = after + 2;
        if (*at >= text.size()) return HttpChunkWalk::incomplete;
    }
}

// Puts `body` back to `size` bytes after a failed de-framing.
void restore_size(ByteBuffer* body, uint64_t size) {
    if (!body->data) return;
    if (size == 0) {
        byte_buffer_free(body);
        return;
    }
    body->size = size;
    body->data[size] = 0;
}

bool dechunk(std::span<const uint8_t> raw, ByteBuffer* body) {
    size_t total = 0, at = 0, lines = 0;
    if (walk_chunks(raw, &at, &lines, [&](size_t, size_t size) { total += size; }) != HttpChunkWalk::complete) {
        return false;
    }
    uint8_t* out = byte_buffer_extend(body, total);
    if (!out) return false;
    at = 0;
    (void)walk_chunks(raw, &at, &lines, [&](size_t offset, size_t size) {
        std::memcpy(out, raw.data() + offset, size);
        out += size;
    });
    return true;
}

// "HTTP/<version> <status>": the status as a positive number of up to 9 digits.
bool parse_status_line(std::string_view line, uint32_t* status) {
    if (!line.starts_with("HTTP/")) return false;
    line.remove_prefix(5);
    auto skip_space = [&] {
        while (!line.empty() && (is_blank(line.front()) || line.front() == '\v' || line.front() == '\f')) {
            line.remove_prefix(1);
        }
    };
    skip_space();
    size_t version = 0;
    while (version < line.size() && !is_blank(line[version])) ++version;
    if (version == 0) return false;
    line.remove_prefix(version);
    skip_space();
    if (!line.empty() && line.front() == '+') line.remove_prefix(1);
    uint32_t value = 0;
    size_t digits = 0;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
        if (digits == 9) return false;
        value = value * 10 + static_cast<uint32_t>(line[digits] - '0');
        ++digits;
    }
    if (digits == 0) return false;
    *status = value;
    return true;
}

void copy_location(std::string_view line, std::span<char> location) {
    line.remove_prefix(std::strlen("Location:"));
    while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
    while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
    error_printf(location, "%.*s", static_cast<int>(line.size()), line.data());
}

// Status line and Location from the header text (without the blank line).
bool read_header_lines(std::string_view header, uint32_t* status, std::span<char> location) {
    bool first = true;
    while (!header.empty()) {
        size_t end = header.find_first_of("\r\n");
        std::string_view line = header.substr(0, end);
        header.remove_prefix(end == std::string_view::npos ? header.size() : end + 1);
        if (line.empty()) continue;
        if (first) {
            if (!parse_status_line(line, status)) return false;
            first = false;
        } else if (istarts_with(line, "Location:")) {
            copy_location(line, location);
        }
    }
    return !first;
}

}  // namespace

std::string http_format_request(const HttpUrl& url) {
    std::string path;
    path.reserve(url.path.size());
    for (char c : url.path) {
        if (c == ' ') {
            path += "%20";
        } else {
            path += c;
        }
    }
    bool v6 = url.host.find(':') != std::string::npos;
    std::string host = v6 ? "[" + url.host + "]" : url.host;
    // A virtual host on another port is told apart by the port in Host.
    if (url.port != (url.tls ? 443 : 80)) {
        host += ':';  // appended apart: GCC 12 at -O3 warns falsely on ":" + std::to_string()
        host += std::to_string(url.port);
    }
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: ";
    request += kUserAgent;
    request += "\r\nAccept: */*\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n";
    return request;
}

namespace {

void find_header(HttpResponseScan* scan, std::span<const uint8_t> response) {
    std::string_view text = as_text(response);
    size_t from = scan->searched > 3 ? scan->searched - 3 : 0;
    scan->searched = text.size();
    size_t end = text.find("\r\n\r\n", from);
    if (end == std::string_view::npos) return;
    scan->header_found = true;
    scan->header_length = end + 4;
    // Fields start after a CR LF; keep the first blank line's CR LF so the
    // last field is found too.
    std::string_view header = text.substr(0, end + 2);
    std::string_view value;
    size_t length = 0;
    if (find_field(header, "\r\nContent-Length:", &value) && parse_decimal(value, &length)) {
        scan->expected_length = length;
    }
    if (find_field(header, "\r\nTransfer-Encoding:", &value) && ifind(value, "chunked") != std::string_view::npos) {
        scan->chunked = true;
    }
}

}  // namespace

void http_scan_response(HttpResponseScan* scan, std::span<const uint8_t> response) {
    if (!scan->header_found) find_header(scan, response);
    if (!scan->header_found || !scan->chunked || scan->chunk_walk != HttpChunkWalk::incomplete) return;
    if (response.size() <= scan->header_length + scan->chunk_at) return;
    scan->chunk_walk = walk_chunks(response.subspan(scan->header_length), &scan->chunk_at, &scan->size_lines_read,
                                   [](size_t, size_t) {});
}

bool http_response_complete(const HttpResponseScan& scan, std::span<const uint8_t> response) {
    if (!scan.header_found || response.size() < scan.header_length) return false;
    std::span<const uint8_t> raw = response.subspan(scan.header_length);
    if (scan.chunked) return scan.chunk_walk == HttpChunkWalk::complete;
    return scan.expected_length != HTTP_NO_LENGTH && raw.size() >= scan.expected_length;
}

bool http_parse_response(std::span<const uint8_t> response, const HttpResponseScan& scan, ByteBuffer* body,
                         uint32_t* status, std::span<char> location, std::span<char> error) {
    error_clear(location);
    if (response.empty() || !scan.header_found || scan.header_length > response.size()) {
        error_printf(error, "invalid HTTP response");
        return false;
    }
    std::string_view header = as_text(response.first(scan.header_length - 4));
    uint32_t code = 0;
    if (!read_header_lines(header, &code, location)) {
        error_printf(error, "invalid HTTP response");
        return false;
    }
    if (status) *status = code;
    std::span<const uint8_t> raw = response.subspan(scan.header_length);
    uint64_t old_size = body->size;
    bool framed;
    if (scan.chunked) {
        framed = dechunk(raw, body);
    } else {
        if (scan.expected_length != HTTP_NO_LENGTH) {
            if (raw.size() < scan.expected_length) {
                error_printf(error, "truncated HTTP body (%zu of %zu bytes)", raw.size(), scan.expected_length);
                return false;
            }
            raw = raw.first(scan.expected_length);
        }
        framed = byte_buffer_append(body, raw);
    }
    if (!framed) {
        restore_size(body, old_size);
        error_printf(error, "HTTP framing failed (chunked=%d raw=%zu header=%d expected=%zu)", scan.chunked ? 1 : 0,
                     response.size(), static_cast<int>(scan.header_length), scan.expected_length);
        return false;
    }
    return true;
}
