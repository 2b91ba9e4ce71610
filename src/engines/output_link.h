// One output of a run that publishes to several: its own connection, opened
// and written on a thread of its own from a bounded queue, so a slow or
// failed server never holds up the run, the recording or the other outputs.
//
//   engine thread: output_link_push  -> queue (copies; a full queue drops the connection),
//                  output_link_wake once a batch
//   link thread:   CONNECTING -> CONNECTED, send what is queued ... -> failure
//                  -> RECONNECTING (why) -> close -> 3 s -> CONNECTING ...
//
// After every connection the link takes media only from the next video key
// frame on, preceded by the run's latest sequence headers stamped at that
// frame's time, so the server's new stream starts decodable; the wire
// timestamps are the run's own timeline, as every other output gets them.
// `lock` guards the queue and the status; `abort` cuts a connection short
// (a stalled queue, the end of the run) even inside a blocked write.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engines/engine_contract.h"
#include "engines/health.h"
#include "platform/time/event.h"
#include "rtmp/rtmp_publisher.h"

constexpr uint32_t OUTPUT_RECONNECT_MS = 3000;
// How much media an output may fall behind before it counts as stalled.
constexpr int64_t OUTPUT_QUEUE_MS = 3000;
constexpr size_t OUTPUT_QUEUE_BYTES = size_t{16} << 20;

struct QueuedMessage {
    uint8_t type_id = 0;
    uint32_t timestamp_ms = 0;
    std::vector<uint8_t> payload;
    uint64_t queued_ms = 0;  // tick it was queued, for the output's lateness
};

// Messages waiting for one output's thread.
struct OutputQueue {
    std::deque<QueuedMessage> messages;
    size_t bytes = 0;
};

// Appends a copy; false when the queue then spans more than OUTPUT_QUEUE_MS
// of media or holds more than OUTPUT_QUEUE_BYTES (the message is kept).
[[nodiscard]] bool output_queue_push(OutputQueue& queue, const RtmpMediaMessage& message);

// The latest AVC and AAC sequence headers the run sent, for outputs that join late.
struct SequenceHeaders {
    std::vector<uint8_t> video, audio;
};

// Keeps `message` when it is a sequence header.
void sequence_headers_note(SequenceHeaders& headers, const RtmpMediaMessage& message);

// True when an output that waits to join may start at `message`: a video key
// frame, or any audio frame of a run that has sent no video header.
[[nodiscard]] bool output_can_join_at(const SequenceHeaders& headers, const RtmpMediaMessage& message);

// Whom a link tells about its state changes.
struct OutputReport {
    void (*status)(void* context, const OutputStatus& status) = nullptr;
    void* context = nullptr;
    WorkflowHealth* health = nullptr;  // the run's figures, each link writing its own output's
};

struct OutputLink {
    std::string url;
    OutputReport report;
    Event abort;
    std::mutex lock;
    std::condition_variable wake;
    OutputQueue queue;        // under lock
    OutputStatus status;      // under lock
    bool attempted = false;   // under lock: the first connection attempt is over
    bool accepting = false;   // under lock: connected, taking media
    bool joined = false;      // under lock: has had its key frame since connecting
    bool closing = false;     // under lock: the run is over
    std::string stall_error;  // under lock: why the engine thread dropped the connection
    std::thread thread;
};

struct OutputLinkClose {
    void operator()(OutputLink* link) const;
};
using OutputLinkPtr = std::unique_ptr<OutputLink, OutputLinkClose>;

// Starts the link's thread, which connects to `url` at once and keeps
// reconnecting every OUTPUT_RECONNECT_MS until the link is closed (its
// deleter stops and joins the thread).
[[nodiscard]] OutputLinkPtr output_link_start(const std::string& url, size_t number, OutputReport report);

// Queues the message for the link when it is connected and has joined (or
// joins at this message, with `headers` first). A queue that overflows drops
// the connection; the link reconnects on its own. The link's thread sleeps
// on until output_link_wake, so a batch costs it one wake-up, not one a message.
void output_link_push(OutputLink& link, const SequenceHeaders& headers, const RtmpMediaMessage& message);
void output_link_wake(OutputLink& link);

// Drops the link's connection, if it has one, with `why` as its error; it
// reconnects on its own and joins at a key frame again.
void output_link_drop(OutputLink& link, const std::string& why);

// The stored header that `message` would replace, when it is an AVC or AAC
// sequence header; else null.
[[nodiscard]] const std::vector<uint8_t>* sequence_header_slot(const SequenceHeaders& headers,
                                                               const RtmpMediaMessage& message);

// A copy of the link's status, and whether its first attempt is over.
[[nodiscard]] OutputStatus output_link_status(OutputLink& link, bool* attempted = nullptr);
