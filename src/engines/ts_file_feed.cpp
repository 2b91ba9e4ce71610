// Whole-packet reads from a TS file into the demultiplexer.
#include "engines/ts_file_feed.h"

PassEnd ts_file_feed(PublishContext& context, FILE* file, std::vector<uint8_t>& buffer, std::span<char> error) {
    while (!publish_stopped(context)) {
        size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        if (got == 0) return PassEnd::next;
        got -= got % TS_PACKET_SIZE;
        if (got == 0) continue;
        if (!ts_demuxer_feed(context.demuxer.get(), std::span<const uint8_t>(buffer.data(), got), error)) {
            return publish_stopped(context) ? PassEnd::stopped : PassEnd::failed;
        }
    }
    return PassEnd::stopped;
}
