// The RTMP(S) outputs of a run.
#include "engines/publish_output.h"

#include <algorithm>

#include "platform/text/error_text.h"
#include "platform/time/clock.h"

namespace {

constexpr uint32_t OPEN_POLL_MS = 20;

// Waits until an output connected (true) or every first attempt failed,
// the stop came or the time ran out (false; the first output's text in `error`).
bool wait_for_first_connection(PublishOutput& output, Event* stop_event, std::span<char> error) {
    const uint64_t deadline = tick_ms() + RTMP_OPEN_TIMEOUT_MS + OUTPUT_RECONNECT_MS;
    while (!event_wait_ms(stop_event, OPEN_POLL_MS) && tick_ms() < deadline) {
        size_t failed = 0;
        for (OutputLinkPtr& link : output.links) {
            bool attempted = false;
            if (output_link_status(*link, &attempted).state == OutputState::connected) return true;
            failed += attempted ? 1 : 0;
        }
        if (failed < output.links.size()) continue;
        error_printf(error, "%s", output_link_status(*output.links.front()).last_error.c_str());
        return false;
    }
    error_set_if_empty(error, "RTMP connect failed: no output answered");
    return false;
}

// A decoder need not take new sequence headers in the middle of a stream, so
// outputs kept from the last attempt that would get changed ones drop their
// connections and join again at the next key frame, with the new headers.
void check_kept_headers(PublishOutput& output, const RtmpMediaMessage& message) {
    if (output_can_join_at(output.headers, message)) {
        output.checking_headers = false;
        return;
    }
    const std::vector<uint8_t>* before = sequence_header_slot(output.headers, message);
    if (!before || std::ranges::equal(*before, message.payload)) return;
    for (OutputLinkPtr& link : output.links) output_link_drop(*link, "sequence headers changed: joining again");
    output.checking_headers = false;
}

}  // namespace

bool output_open(PublishOutput& output, std::span<const std::string> urls, Event* stop_event, OutputReport report,
                 std::span<const size_t> numbers, std::span<char> error) {
    if (urls.size() == 1) {
        output.publisher.reset(rtmp_open(urls.front(), RTMP_OPEN_TIMEOUT_MS, error, stop_event));
        return output.publisher != nullptr;
    }
    for (size_t at = 0; at < urls.size(); ++at) {
        output.links.push_back(output_link_start(urls[at], at < numbers.size() ? numbers[at] : at + 1, report));
    }
    if (wait_for_first_connection(output, stop_event, error)) return true;
    output.links.clear();
    return false;
}

bool output_send_batch(PublishOutput& output, std::span<const RtmpMediaMessage> messages) {
    if (output.links.empty()) return rtmp_send_media_batch(output.publisher.get(), messages);
    for (const RtmpMediaMessage& message : messages) {
        if (output.checking_headers) check_kept_headers(output, message);
        sequence_headers_note(output.headers, message);
        for (OutputLinkPtr& link : output.links) output_link_push(*link, output.headers, message);
    }
    for (OutputLinkPtr& link : output.links) output_link_wake(*link);
    return true;
}
