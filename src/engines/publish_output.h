// Where a run's media goes: one RTMP(S) connection, opened once the source
// has delivered, sent the pacer's gathered batches, and closed when the
// record goes (last of a publishing context's parts). The media chain and
// the pacer know an output only through these verbs.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/time/event.h"
#include "rtmp/rtmp_publisher.h"

constexpr uint32_t RTMP_OPEN_TIMEOUT_MS = 20000;

struct PublishOutput {
    RtmpPublisherPtr publisher;
};

// Connects and starts publishing to `url` (bounded by RTMP_OPEN_TIMEOUT_MS
// and the stop event); false with the connection's text in `error`.
[[nodiscard]] bool output_open(PublishOutput& output, const std::string& url, Event* stop_event, std::span<char> error);

// Writes the messages in order; false when the write failed.
[[nodiscard]] bool output_send_batch(PublishOutput& output, std::span<const RtmpMediaMessage> messages);
