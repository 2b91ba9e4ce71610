// Where a run's media goes: one RTMP(S) connection, or several outputs that
// each connect and fail on their own (engines/output_link.h), opened once
// the source has delivered, sent the pacer's gathered batches, and closed
// when the record goes (last of a publishing context's parts). The media
// chain and the pacer know an output only through these verbs.
//
// With one output its connection is written on the engine's thread and a
// failed write fails the run, as it always did. With several, a batch is
// copied into every connected output's queue and never fails: the run goes
// on, recording included, while the outputs come and go.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engines/output_link.h"
#include "platform/time/event.h"
#include "rtmp/rtmp_publisher.h"

constexpr uint32_t RTMP_OPEN_TIMEOUT_MS = 20000;

struct PublishOutput {
    RtmpPublisherPtr publisher;  // the one output
    std::vector<OutputLinkPtr> links;
    SequenceHeaders headers;  // for outputs that join late
    // Taken over by a new attempt of the run: until its first key frame, a
    // sequence header unlike the one the outputs had drops them all.
    bool checking_headers = false;
};

// Connects and starts publishing to `urls` (bounded by RTMP_OPEN_TIMEOUT_MS
// and the stop event); false with the connection's text in `error` when the
// one output, or every output's first attempt, failed. Outputs that failed
// while another connected go on trying on their own, telling `report` under
// the numbers `numbers` gives them (in order; 1, 2, ... where it has none).
[[nodiscard]] bool output_open(PublishOutput& output, std::span<const std::string> urls, Event* stop_event,
                               OutputReport report, std::span<const size_t> numbers, std::span<char> error);

// Writes the messages in order (with several outputs: queues them for each);
// false when the one output's write failed.
[[nodiscard]] bool output_send_batch(PublishOutput& output, std::span<const RtmpMediaMessage> messages);
