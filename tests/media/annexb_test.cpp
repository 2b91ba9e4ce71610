// NAL discovery against a plain byte-by-byte reading of the same rules, on
// data with start codes planted at every offset around the scanner's
// 16-byte blocks and at the very end.
#include "media/annexb.h"

#include <gtest/gtest.h>

#include <random>

#include "media/ts_craft.h"

namespace {

// The rules read literally: units between 00 00 01 codes, trailing zeros cut,
// empty units skipped, nothing in data shorter than 4 bytes.
std::vector<Bytes> reference_nals(const Bytes& data) {
    std::vector<Bytes> out;
    if (data.size() < 4) return out;
    std::vector<size_t> codes;
    for (size_t i = 0; i + 3 <= data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) codes.push_back(i);
    }
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t begin = codes[k] + 3;
        size_t end = k + 1 < codes.size() ? codes[k + 1] : data.size();
        while (end > begin && data[end - 1] == 0) --end;
        if (end > begin) out.emplace_back(data.begin() + long(begin), data.begin() + long(end));
    }
    return out;
}

TEST(Annexb, MatchesTheByteByByteRulesAtEveryOffset) {
    std::mt19937 random(7);
    for (size_t size : {0, 3, 4, 5, 15, 16, 17, 18, 19, 31, 32, 33, 34, 35, 64, 100, 257}) {
        for (size_t at = 0; at + 3 <= size; ++at) {
            Bytes data(size);
            for (uint8_t& b : data) b = static_cast<uint8_t>(random() % 4);  // many zeros and ones
            data[at] = 0;
            data[at + 1] = 0;
            data[at + 2] = 1;
            EXPECT_EQ(nal_units(data), reference_nals(data)) << "size " << size << " code at " << at;
        }
    }
}

}  // namespace
