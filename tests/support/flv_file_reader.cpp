// FLV layout: "FLV", version, flags, 4-byte header size, then
// (previous tag size (4), tag header (11), body)* ; the tag header holds the
// type, a 3-byte body size, a 3-byte timestamp and its upper byte, and a
// 3-byte stream id.
#include "support/flv_file_reader.h"

namespace {

uint32_t be(const std::string& b, size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
    return value;
}

}  // namespace

bool flv_read_tags(const std::string& b, std::vector<FlvFileTag>* tags) {
    tags->clear();
    if (b.size() < 9 || b.compare(0, 3, "FLV") != 0) return false;
    size_t at = be(b, 5, 4);
    if (at < 9 || at > b.size()) return false;
    for (;;) {
        if (b.size() - at < 4) return false;
        at += 4;  // previous tag size
        if (at == b.size()) return true;
        if (b.size() - at < 11) return false;
        FlvFileTag tag;
        tag.type = static_cast<uint8_t>(b[at]) & 0x1F;
        uint32_t size = be(b, at + 1, 3);
        tag.timestamp = be(b, at + 4, 3) | (uint32_t{static_cast<uint8_t>(b[at + 7])} << 24);
        at += 11;
        if (b.size() - at < size) return false;
        tag.body.assign(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + size));
        at += size;
        tags->push_back(std::move(tag));
    }
}
