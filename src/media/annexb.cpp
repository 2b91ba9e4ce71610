// Start-code search with memchr for the 0x01 that ends a start code, then a
// look back at the two bytes before it: compressed data holds a 0x01 about
// once in 256 bytes, so most of the scan runs at memchr speed.
#include "media/annexb.h"

#include <cstring>

namespace {

constexpr size_t NOT_FOUND = SIZE_MAX;

// Position of the first 00 00 01 at or after `from`, or NOT_FOUND.
size_t find_start_code(std::span<const uint8_t> data, size_t from) {
    size_t i = from + 2;
    while (i < data.size()) {
        const void* hit = std::memchr(data.data() + i, 0x01, data.size() - i);
        if (!hit) return NOT_FOUND;
        i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data.data());
        if (data[i - 1] == 0 && data[i - 2] == 0) return i - 2;
        ++i;
    }
    return NOT_FOUND;
}

}  // namespace

AnnexbScanner annexb_scanner(std::span<const uint8_t> data) {
    AnnexbScanner scanner;
    scanner.data = data;
    scanner.next_start = data.size() < 4 ? data.size() : 0;
    return scanner;
}

bool annexb_next_nal(AnnexbScanner& scanner, std::span<const uint8_t>& nal) {
    const std::span<const uint8_t> data = scanner.data;
    size_t code = scanner.next_start < data.size() ? find_start_code(data, scanner.next_start)
                                                   : NOT_FOUND;
    while (code != NOT_FOUND) {
        const size_t begin = code + 3;
        const size_t next = find_start_code(data, begin);
        size_t end = next == NOT_FOUND ? data.size() : next;
        while (end > begin && data[end - 1] == 0) --end;
        if (end > begin) {
            nal = data.subspan(begin, end - begin);
            scanner.next_start = next == NOT_FOUND ? data.size() : next;
            return true;
        }
        code = next;
    }
    scanner.next_start = data.size();
    return false;
}
