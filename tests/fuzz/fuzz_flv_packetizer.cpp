// Arbitrary units through one packetizer, so that state carried between
// units (time base, parameter sets, sent headers) is exercised too. Input:
//   repeated { kind(1) pts(5) dts(5) length(2, big-endian) bytes(length) }
// kind's low two bits pick video, audio or another kind; bit 7 makes pts
// absent and bit 6 makes dts absent.
#include <cstdint>
#include <span>

#include "media/flv_packetizer.h"

namespace {

int check_tag(void*, const FlvTag& tag) {
    // Every body leaves with at least its format bytes.
    if (tag.body.size() < 2) __builtin_trap();
    return 1;
}

int64_t read40(const uint8_t* p) {
    int64_t v = 0;
    for (int i = 0; i < 5; ++i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FlvPacketizerPtr packetizer(flv_packetizer_create(check_tag, nullptr));
    std::span<const uint8_t> in(data, size);
    while (in.size() >= 13) {
        const uint8_t kind = in[0];
        const int64_t pts = (kind & 0x80) ? -1 : read40(&in[1]);
        const int64_t dts = (kind & 0x40) ? -1 : read40(&in[6]);
        size_t length = (size_t(in[11]) << 8) | in[12];
        in = in.subspan(13);
        if (length > in.size()) length = in.size();
        (void)flv_packetizer_push(packetizer.get(), kind & 0x03, in.first(length), pts, dts);
        in = in.subspan(length);
    }
    return 0;
}
