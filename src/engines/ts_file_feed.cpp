// Whole-packet reads from a TS file into the demultiplexer. A read error is
// not the end of the file: taken as one, a pass would end early and the
// loop would go on from the top as if nothing had happened.
#include "engines/ts_file_feed.h"

#include "platform/text/error_text.h"

EngineResult ts_file_feed(PublishContext& context, FILE* file, std::vector<uint8_t>& buffer, std::span<char> error) {
    while (!publish_stopped(context)) {
        size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        if (std::ferror(file)) {
            error_printf(error, "%s", "TS recording read failed");
            return EngineResult::failed;
        }
        if (got == 0) return EngineResult::done;
        got -= got % TS_PACKET_SIZE;
        if (got == 0) continue;
        if (!ts_demuxer_feed(context.demuxer.get(), std::span<const uint8_t>(buffer.data(), got), error)) {
            return publish_failure(context);
        }
    }
    return EngineResult::stopped;
}
