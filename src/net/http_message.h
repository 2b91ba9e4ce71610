// HTTP/1.1 wire text, kept apart from sockets so it can be tested and fuzzed
// on plain bytes: the GET request we send, and the reading of one whole
// response (status line, header fields, body framing).
//
// A response is received into one block. While it grows, http_scan_response
// finds the end of the header once and notes the framing the header
// announces; http_response_complete then says whether the peer has sent
// everything (Content-Length reached, or the final chunk of a chunked body).
// Without either, the body runs until the connection closes. Finally
// http_parse_response reads the status and Location and de-frames the body
// into the caller's buffer. Every read is bounds-checked against the block;
// no length field is trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "net/byte_buffer.h"
#include "net/http_url.h"

// "No Content-Length came", also as printed in framing messages.
constexpr size_t HTTP_NO_LENGTH = SIZE_MAX;

// How far the chunked framing of a body has been read.
enum class HttpChunkWalk { incomplete, complete, broken };

// What the header says about the body; filled by http_scan_response. For a
// chunked body it also keeps where the walk of the framing stopped, so each
// receive goes on from there: every byte is looked at once, however small
// the chunks and however the body is cut into receives.
struct HttpResponseScan {
    bool header_found = false;
    size_t header_length = 0;                 // up to and including the blank line
    size_t expected_length = HTTP_NO_LENGTH;  // Content-Length
    bool chunked = false;                     // Transfer-Encoding names "chunked"
    size_t searched = 0;                      // bytes already searched for the blank line
    HttpChunkWalk chunk_walk = HttpChunkWalk::incomplete;
    size_t chunk_at = 0;         // offset in the body of the next size line to read
    size_t size_lines_read = 0;  // work done by the walk so far
};

// The request text for `url`: GET, Host (with the port unless it is the
// scheme's default), our fixed fields,
// "Connection: close". Blanks in the path are sent as %20.
[[nodiscard]] std::string http_format_request(const HttpUrl& url);

// Looks for the end of the header in `response` (only in bytes not searched
// before) and, once it is found, reads Content-Length and Transfer-Encoding;
// for a chunked body, walks on through the framing that has arrived since
// the last call. `response` only ever grows between calls.
void http_scan_response(HttpResponseScan* scan, std::span<const uint8_t> response);

// True when `response` holds the whole message the header announced, so
// receiving can stop before the peer closes.
[[nodiscard]] bool http_response_complete(const HttpResponseScan& scan, std::span<const uint8_t> response);

// Reads the whole received `response`. True when it has a status line and a
// correctly framed body, which is appended to `body`; `status` gets the code
// and `location` the Location field (cut to fit; empty when none came).
// On false `error` holds "invalid HTTP response", "truncated HTTP body (...)"
// or "HTTP framing failed (...)".
[[nodiscard]] bool http_parse_response(std::span<const uint8_t> response, const HttpResponseScan& scan,
                                       ByteBuffer* body, uint32_t* status, std::span<char> location,
                                       std::span<char> error);
