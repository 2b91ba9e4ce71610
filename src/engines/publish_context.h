// What every publishing engine shares for one run: the RTMP publisher, the
// demultiplexer and packetizer feeding it, the TS recording, and the
// wall-clock pacing that releases each tag at its time.
//
//   segment bytes -> recording file (as received)
//                 -> TsDemuxer -> FlvPacketizer -> paced_send -> rtmp_send_media
//
// Pacing: the first tag of the run fixes `pacing_start`; from then on a tag
// of timestamp t (offset included) is never sent before pacing_start + t.
// Tags go out in the order the packetizer makes them, each waiting only for
// its own time, in slices of at most 100 ms on the stop event. There is no
// dropping, reordering or catching up. Loop engines raise `timestamp_offset`
// at each pass so the server sees one timeline that never goes back.
//
// Member order is teardown order reversed: the recording closes first, then
// the demuxer and packetizer go, and the publisher closes last.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "media/flv_packetizer.h"
#include "media/ts_demuxer.h"
#include "platform/event.h"
#include "rtmp/rtmp_publisher.h"

constexpr uint32_t RTMP_OPEN_TIMEOUT_MS = 20000;
constexpr uint32_t PACING_SLICE_MS = 100;

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Lateness of each tag against its due time, for measurements; engines
// record into it only when one is attached.
struct PacingStats {
    std::vector<uint32_t> lateness_ms;
    std::vector<uint8_t> tag_types;  // beside each lateness: 8 audio, 9 video
};

struct PublishContext {
    RtmpPublisherPtr publisher;
    FlvPacketizerPtr packetizer;
    TsDemuxerPtr demuxer;
    FilePtr recording;
    Event* stop_event = nullptr;
    uint64_t pacing_start = 0;
    bool pacing_started = false;
    uint32_t timestamp_offset = 0;
    uint32_t highest_timestamp = 0;
    // The timestamp that falls due at pacing_start: 0, unless a run starts
    // with an offset already on its timeline.
    uint32_t pacing_origin = 0;
    uint64_t tags_sent = 0;
    PacingStats* stats = nullptr;
};

// FlvTagCallback for a PublishContext: waits for the tag's time, then sends
// it. 0 when the stop event came first (nothing sent) or the send failed.
int paced_send(void* context, const FlvTag& tag);

// A fresh packetizer (feeding paced_send) and demuxer (feeding the
// packetizer) for the context; false when either cannot be created.
[[nodiscard]] bool publish_context_start_media(PublishContext& context);

// Appends one segment to the recording (when open), then demultiplexes and
// publishes it, flushing the demuxer so its last frame goes out now.
// False with "recording write failed" or "MPEG-TS processing failed" (unless
// a lower layer already wrote a text).
[[nodiscard]] bool publish_segment(PublishContext& context, std::span<const uint8_t> segment, std::span<char> error);

// True when the context's stop event is set.
[[nodiscard]] bool publish_stopped(const PublishContext& context);

// A checked UTF-8 copy of a URL or path; nothing when it is empty or not
// valid UTF-8.
[[nodiscard]] std::optional<std::string> to_utf8(std::string_view text);
