// The RTMP(S) output of a run.
#include "engines/publish_output.h"

bool output_open(PublishOutput& output, const std::string& url, Event* stop_event, std::span<char> error) {
    output.publisher.reset(rtmp_open(url, RTMP_OPEN_TIMEOUT_MS, error, stop_event));
    return output.publisher != nullptr;
}

bool output_send_batch(PublishOutput& output, std::span<const RtmpMediaMessage> messages) {
    return rtmp_send_media_batch(output.publisher.get(), messages);
}
