// A misbehaving HLS origin for tests: the scripted HTTP server serving
// ffmpeg-made segments and playlists the test rewrites while a client follows
// them, with the faults live origins show over days: a playlist that stops
// growing, URLs that expire (403 after some seconds), requests that hang,
// redirects, timestamp jumps (segments made with -output_ts_offset). Each
// path is replaced whole, as a rename would, so a client never sees half a
// playlist.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "support/scripted_http_server.h"

struct MadeSegment {
    std::string name;  // in the folder it was made in
    double duration = 0;
    std::string bytes;
};

// `seconds` of H.264 + AAC cut into 2 s MPEG-TS segments in `folder`, with
// `extra_output_args` before ffmpeg's output (e.g. {"-output_ts_offset",
// "3600"}). Names repeat between calls: one folder per set.
bool make_hls_segments(const std::string& folder, double seconds, std::vector<MadeSegment>* segments,
                       const std::vector<std::string>& extra_output_args = {});

// The origin is the scripted server: put, redirect and fail_from are its.
using HostileOrigin = ScriptedHttpServer;

// One live rendition at `folder`/index.m3u8: a sliding window the test moves
// on segment by segment (six listed), the playlist rewritten at each change.
class HostileStream {
  public:
    HostileStream(HostileOrigin* origin, std::string folder, uint32_t target_duration = 2)
        : origin_(origin), folder_(std::move(folder)), target_duration_(target_duration) {}

    std::string playlist_path() const { return folder_ + "/index.m3u8"; }
    std::string url() const { return origin_->url(playlist_path()); }

    // Serves `segment` as `folder`/`name` and lists it (relative) next.
    void append(const std::string& name, const MadeSegment& segment, bool discontinuity = false);
    void end();  // #EXT-X-ENDLIST

  private:
    struct Entry {
        std::string name;
        double duration;
        bool discontinuity;
    };
    void publish_locked();

    HostileOrigin* origin_;
    std::string folder_;
    uint32_t target_duration_;
    std::mutex lock_;
    int64_t media_sequence_ = 0;
    std::vector<Entry> entries_;
    bool end_list_ = false;
};

// A loopback port that never answers. `connect`: its accept queue is full,
// so a connect stays pending; `handshake`: connects complete but no byte
// comes back, so a TLS or RTMP handshake waits.
class UnansweredPort {
  public:
    enum class Silence { connect, handshake };

    UnansweredPort() = default;
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;

    [[nodiscard]] bool start(Silence silence = Silence::connect);
    uint16_t port() const { return port_; }
    std::string url(const std::string& scheme, const std::string& path) const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::vector<int> queued_;  // the connections that fill the queue
};
