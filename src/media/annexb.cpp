// Start-code search, sixteen positions at a time: three overlapping loads
// compared with 00, 00 and 01 flag the lanes where a start code begins, and
// only a block with a flagged lane is looked at byte by byte. Compressed data
// holds a start code only at NAL boundaries, so nearly every block is passed
// over after a handful of vector operations. GCC/Clang generic vectors keep it
// portable: each target lowers them to its own SIMD or to plain words.
#include "media/annexb.h"

#include <cstring>

namespace {

constexpr size_t NOT_FOUND = SIZE_MAX;
constexpr size_t BLOCK = 16;

using Block = uint8_t __attribute__((vector_size(BLOCK)));

template <typename Lanes>
bool any_lane(const Lanes& lanes) {
    uint64_t words[sizeof(Lanes) / 8];
    std::memcpy(words, &lanes, sizeof words);
    uint64_t any = 0;
    for (uint64_t word : words) any |= word;
    return any != 0;
}

// True when a start code begins in [at, at + BLOCK); reads BLOCK + 2 bytes.
// (Testing for a zero byte first costs more in mispredicted branches than
// the two loads it saves.)
bool block_has_start_code(const uint8_t* at) {
    Block first, second, third;  // loaded in place: vectors never cross a call
    std::memcpy(&first, at, BLOCK);
    std::memcpy(&second, at + 1, BLOCK);
    std::memcpy(&third, at + 2, BLOCK);
    return any_lane((first == 0) & (second == 0) & (third == 1));
}

bool start_code_at(std::span<const uint8_t> data, size_t i) {
    return data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1;
}

// Position of the first 00 00 01 at or after `from`, or NOT_FOUND.
size_t find_start_code(std::span<const uint8_t> data, size_t from) {
    size_t i = from;
    const uint8_t* bytes = data.data();
    while (i + BLOCK + 2 <= data.size()) {
        if (block_has_start_code(bytes + i)) {
            for (size_t end = i + BLOCK; i < end; ++i) {
                if (start_code_at(data, i)) return i;
            }
        } else {
            i += BLOCK;
        }
    }
    for (; i + 3 <= data.size(); ++i) {
        if (start_code_at(data, i)) return i;
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
    size_t code = scanner.next_start < data.size() ? find_start_code(data, scanner.next_start) : NOT_FOUND;
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
