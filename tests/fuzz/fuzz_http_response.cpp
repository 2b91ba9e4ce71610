// Any bytes as a server's response, arriving in receive steps of sizes the
// input chooses: header scanning, the end-of-message test and de-framing
// must never read outside the block, and a success must be self-consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "net/http_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t step = (data[0] % 64) + 1;
    std::span<const uint8_t> input(data + 1, size - 1);
    std::vector<uint8_t> response;
    HttpResponseScan scan;
    for (size_t at = 0; at < input.size(); at += step) {
        std::span<const uint8_t> piece = input.subspan(at, std::min(step, input.size() - at));
        response.insert(response.end(), piece.begin(), piece.end());
        http_scan_response(&scan, response);
        if (http_response_complete(scan, response)) break;
    }
    ByteBuffer body;
    uint32_t status = 0;
    char location[128];
    char error[128];
    if (http_parse_response(response, scan, &body, &status, location, error)) {
        if (body.size > response.size()) std::abort();
        if (body.data && body.data[body.size] != 0) std::abort();
    } else if (error[0] == '\0') {
        std::abort();
    }
    byte_buffer_free(&body);
    return 0;
}
