// Arbitrary bytes through the demultiplexer and on into a packetizer, as an
// engine chains them. An input whose length is a multiple of 188 is fed as
// it is (sync and alignment errors included); any other input is cut to whole
// packets with their sync bytes set, so the fuzzer spends its time inside the
// tables and PES headers. Fed in two parts to cross a feed boundary.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "media/flv_packetizer.h"
#include "media/ts_demuxer.h"

namespace {

int drop_tag(void*, const FlvTag& tag) {
    return tag.body.empty() ? 0 : 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    if (size % TS_PACKET_SIZE != 0) {
        bytes.resize(size - size % TS_PACKET_SIZE);
        for (size_t at = 0; at < bytes.size(); at += TS_PACKET_SIZE) bytes[at] = TS_SYNC_BYTE;
    }
    FlvPacketizerPtr packetizer(flv_packetizer_create(drop_tag, nullptr));
    TsDemuxerPtr demuxer(ts_demuxer_create(flv_packetizer_push, packetizer.get()));
    char error[64];
    const std::span<const uint8_t> all(bytes);
    const size_t half = (bytes.size() / TS_PACKET_SIZE / 2) * TS_PACKET_SIZE;
    if (ts_demuxer_feed(demuxer.get(), all.first(half), error) &&
        ts_demuxer_feed(demuxer.get(), all.subspan(half), error)) {
        (void)ts_demuxer_flush(demuxer.get());
    }
    (void)ts_demuxer_flush(demuxer.get());
    return 0;
}
