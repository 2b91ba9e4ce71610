// An output's own thread, its queue and the join at a key frame.
#include "engines/output_link.h"

#include <algorithm>

#include "engines/publish_output.h"
#include "platform/time/clock.h"

namespace {

constexpr uint8_t FLV_AVC = 7, FLV_KEY_FRAME = 1, FLV_AAC = 10;

bool is_video_header(const RtmpMediaMessage& m) {
    return m.type_id == RTMP_TYPE_VIDEO && m.payload.size() >= 2 && (m.payload[0] & 0x0F) == FLV_AVC &&
           m.payload[1] == 0;
}

bool is_audio_header(const RtmpMediaMessage& m) {
    return m.type_id == RTMP_TYPE_AUDIO && m.payload.size() >= 2 && (m.payload[0] >> 4) == FLV_AAC && m.payload[1] == 0;
}

// Under the lock: no more media for this connection, which is cut short.
void drop_locked(OutputLink& link, const std::string& why) {
    if (!link.accepting) return;
    link.accepting = false;
    link.stall_error = why;
    link.queue = OutputQueue{};
    link.abort.set();
}

// Sets the state (and error) under the lock and tells the report outside it.
void set_state(OutputLink& link, OutputState state, const std::string& error = "") {
    OutputStatus status;
    {
        std::lock_guard guard(link.lock);
        link.status.state = state, link.status.since_ms = tick_ms();
        if (!error.empty()) link.status.last_error = error;
        if (state != OutputState::connecting) link.attempted = true;
        status = link.status;
    }
    health_output_state(health_output(link.report.health, status.number), status.since_ms, state, error);
    if (link.report.status) link.report.status(link.report.context, status);
}

// Tells the output's figures what waits in its queue (under the link's lock).
void note_queue(OutputLink& link, uint64_t now_ms) {
    const OutputQueue& queue = link.queue;
    // Wire timestamps wrap at 32 bits; the signed step keeps their order.
    const int32_t span =
        queue.messages.empty()
            ? 0
            : static_cast<int32_t>(queue.messages.back().timestamp_ms - queue.messages.front().timestamp_ms);
    health_output_queue(health_output(link.report.health, link.status.number), now_ms, queue.messages.size(),
                        queue.bytes, static_cast<uint64_t>(std::max(span, 0)));
}

// Waits for news while connected; false when the connection must go (why in `error`).
bool take_queued(OutputLink& link, std::deque<QueuedMessage>* out, std::string* error) {
    std::unique_lock guard(link.lock);
    link.wake.wait(guard, [&] { return link.closing || !link.accepting || !link.queue.messages.empty(); });
    if (link.closing) return false;
    if (!link.accepting) {
        *error = link.stall_error;
        return false;
    }
    out->swap(link.queue.messages);
    link.queue.messages.clear(), link.queue.bytes = 0;
    note_queue(link, tick_ms());
    return true;
}

void send_until_failure(OutputLink& link, RtmpPublisher* publisher, std::string* error) {
    std::deque<QueuedMessage> batch;
    std::vector<RtmpMediaMessage> messages;
    OutputHealth* health = health_output(link.report.health, link.status.number);  // the number never changes
    while (take_queued(link, &batch, error)) {
        messages.clear();
        uint64_t bytes = 0;
        for (const QueuedMessage& m : batch) {
            messages.push_back({m.type_id, m.timestamp_ms, m.payload});
            bytes += m.payload.size();
        }
        if (!rtmp_send_media_batch(publisher, messages)) {
            *error = publisher->error[0] ? publisher->error : "RTMP send failed";
            return;
        }
        const uint64_t now = tick_ms();
        health_output_sent(health, now, bytes);
        for (const QueuedMessage& m : batch) health_output_lateness(health, now, now - std::min(m.queued_ms, now));
        batch.clear();
    }
}

// One connection, from opening to its end; false when the link is closing.
bool connect_once(OutputLink& link) {
    {
        std::lock_guard guard(link.lock);
        if (link.closing) return false;
        link.abort.reset();  // under the lock, so a close cannot slip in between
    }
    set_state(link, OutputState::connecting);
    char reason[RTMP_ERROR_SIZE] = {};
    RtmpPublisherPtr publisher(rtmp_open(link.url, RTMP_OPEN_TIMEOUT_MS, reason, &link.abort));
    std::string error = reason;
    if (publisher) {
        {
            std::lock_guard guard(link.lock);
            link.accepting = !link.closing, link.joined = false, link.stall_error.clear();
        }
        set_state(link, OutputState::connected);
        send_until_failure(link, publisher.get(), &error);
        std::lock_guard guard(link.lock);
        if (!link.stall_error.empty()) error = link.stall_error;  // the write failed because of it
        link.accepting = false;
        link.queue = OutputQueue{};
        note_queue(link, tick_ms());
    }
    publisher.reset();
    {
        std::lock_guard guard(link.lock);
        if (link.closing) return false;
    }
    set_state(link, OutputState::reconnecting, error.empty() ? "connection lost" : error);
    std::unique_lock guard(link.lock);
    return !link.wake.wait_for(guard, std::chrono::milliseconds(OUTPUT_RECONNECT_MS), [&] { return link.closing; });
}

}  // namespace

const char* output_state_name(OutputState state) {
    switch (state) {
        case OutputState::connecting:
            return "CONNECTING";
        case OutputState::connected:
            return "CONNECTED";
        default:
            return "RECONNECTING";
    }
}

bool output_queue_push(OutputQueue& queue, const RtmpMediaMessage& message) {
    queue.messages.push_back(
        {message.type_id, message.timestamp_ms, {message.payload.begin(), message.payload.end()}, tick_ms()});
    queue.bytes += message.payload.size();
    // Wire timestamps wrap at 32 bits; the signed step keeps their order.
    const auto span = static_cast<int32_t>(message.timestamp_ms - queue.messages.front().timestamp_ms);
    return span <= OUTPUT_QUEUE_MS && queue.bytes <= OUTPUT_QUEUE_BYTES;
}

void sequence_headers_note(SequenceHeaders& headers, const RtmpMediaMessage& message) {
    if (is_video_header(message)) headers.video.assign(message.payload.begin(), message.payload.end());
    if (is_audio_header(message)) headers.audio.assign(message.payload.begin(), message.payload.end());
}

bool output_can_join_at(const SequenceHeaders& headers, const RtmpMediaMessage& message) {
    if (message.type_id == RTMP_TYPE_VIDEO) {
        return message.payload.size() >= 2 && (message.payload[0] >> 4) == FLV_KEY_FRAME &&
               (message.payload[0] & 0x0F) == FLV_AVC && message.payload[1] == 1;
    }
    return headers.video.empty() && message.type_id == RTMP_TYPE_AUDIO && !is_audio_header(message);
}

void OutputLinkClose::operator()(OutputLink* link) const {
    {
        std::lock_guard guard(link->lock);
        link->closing = true;
        link->abort.set();
    }
    link->wake.notify_all();
    if (link->thread.joinable()) link->thread.join();
    delete link;
}

OutputLinkPtr output_link_start(const std::string& url, size_t number, OutputReport report) {
    OutputLinkPtr link(new OutputLink());
    link->url = url, link->report = report;
    link->status =
        OutputStatus{.number = number, .state = OutputState::connecting, .since_ms = tick_ms(), .last_error = {}};
    health_output_state(health_output(report.health, number), link->status.since_ms, OutputState::connecting);
    OutputLink* raw = link.get();
    link->thread = std::thread([raw] {
        while (connect_once(*raw)) {
        }
    });
    return link;
}

void output_link_push(OutputLink& link, const SequenceHeaders& headers, const RtmpMediaMessage& message) {
    bool stalled = false;
    {
        std::lock_guard guard(link.lock);
        if (!link.accepting) return;
        if (!link.joined) {
            if (!output_can_join_at(headers, message)) return;
            link.joined = true;
            for (const std::vector<uint8_t>* header : {&headers.video, &headers.audio}) {
                if (header->empty()) continue;
                const uint8_t type = header == &headers.video ? RTMP_TYPE_VIDEO : RTMP_TYPE_AUDIO;
                (void)output_queue_push(link.queue, {type, message.timestamp_ms, *header});
            }
        }
        // A full queue: the server stopped reading.
        stalled = !output_queue_push(link.queue, message);
        if (stalled) drop_locked(link, "output stalled: more than 3 s of media waiting");
        note_queue(link, tick_ms());
    }
    if (stalled) link.wake.notify_one();  // the thread learns of the drop at once
}

void output_link_wake(OutputLink& link) {
    link.wake.notify_one();
}

void output_link_drop(OutputLink& link, const std::string& why) {
    {
        std::lock_guard guard(link.lock);
        drop_locked(link, why);
    }
    link.wake.notify_one();
}

const std::vector<uint8_t>* sequence_header_slot(const SequenceHeaders& headers, const RtmpMediaMessage& message) {
    if (is_video_header(message)) return &headers.video;
    return is_audio_header(message) ? &headers.audio : nullptr;
}

OutputStatus output_link_status(OutputLink& link, bool* attempted) {
    std::lock_guard guard(link.lock);
    if (attempted) *attempted = link.attempted;
    return link.status;
}
