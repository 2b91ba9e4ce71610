// FLV layout: "FLV", version, flags, 4-byte header size, then
// (previous tag size (4), tag header (11), body)* ; the tag header holds the
// type, a 3-byte body size, a 3-byte timestamp and its upper byte, and a
// 3-byte stream id.
#include "support/flv_file_reader.h"

#include "platform/byte_order.h"

bool flv_read_tags(const std::string& file, std::vector<FlvFileTag>* tags) {
    tags->clear();
    ByteReader in{{reinterpret_cast<const uint8_t*>(file.data()), file.size()}};
    if (in.be(3) != 0x464C56) return false;  // "FLV"
    in.at = 5;
    in.at = in.be(4);
    if (in.failed || in.at < 9 || in.at > file.size()) return false;
    for ((void)in.be(4); !in.failed && in.left() > 0; (void)in.be(4)) {  // each tag follows the previous one's size
        FlvFileTag tag;
        tag.type = in.be(1) & 0x1F;
        size_t size = in.be(3);
        tag.timestamp = static_cast<uint32_t>(in.be(3));
        tag.timestamp |= static_cast<uint32_t>(in.be(1)) << 24;
        (void)in.be(3);  // stream id
        if (in.failed || in.left() < size) return false;
        tag.body.assign(in.bytes.begin() + in.at, in.bytes.begin() + in.at + size);
        in.at += size;
        tags->push_back(std::move(tag));
    }
    return !in.failed;
}
