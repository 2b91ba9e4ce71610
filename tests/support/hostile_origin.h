// A misbehaving HLS origin for tests: the scripted HTTP server serving
// ffmpeg-made segments and media playlists that the test rewrites while a
// client follows them, with the faults live origins show over days:
// numbering that restarts, a playlist that stops growing, URLs that expire
// (403 after some seconds), requests that hang, redirects to another folder
// (absolute or relative), and timestamp jumps (segments made with
// -output_ts_offset). UnansweredPort stands for an origin that no longer
// completes connects or handshakes.
//
// Every path is a whole file replaced at once, as a rename over the old one
// would: a client never sees half a playlist. Rules (redirect, failure, hang) are
// looked at before the files. A `HostileStream` keeps one live rendition's
// sliding window and rewrites its playlist at every change.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/scripted_http_server.h"

struct HlsEntry {
    std::string uri;  // as written in the playlist: relative, absolute path or URL
    double duration = 2.0;
    bool discontinuity = false;  // an #EXT-X-DISCONTINUITY before it
};

struct HlsWindow {
    int64_t media_sequence = 0;
    uint32_t target_duration = 2;
    std::vector<HlsEntry> entries;
    bool end_list = false;
};

// The media playlist text of `window`.
std::string hls_window_text(const HlsWindow& window);

// One segment made by ffmpeg: its file name in the folder it was made in,
// its duration and its bytes.
struct MadeSegment {
    std::string name;
    double duration = 0;
    std::string bytes;
};

// `seconds` of H.264 + AAC test picture and tone cut into 2 s MPEG-TS
// segments in `folder` (which must exist), with `extra_output_args` given to
// ffmpeg before the output (e.g. {"-output_ts_offset", "3600"}). File names
// repeat from call to call, so give each set a folder of its own. False when
// ffmpeg failed or wrote no segment.
bool make_hls_segments(const std::string& folder, double seconds,
                       std::vector<MadeSegment>* segments,
                       const std::vector<std::string>& extra_output_args = {});

class HostileOrigin {
  public:
    bool start();
    void stop() { server_.stop(); }
    std::string url(const std::string& path) const { return server_.url(path); }
    ScriptedHttpServer& server() { return server_; }

    // Serves `bytes` at `path` from now on (200), replacing what was there.
    void put(const std::string& path, std::string bytes);
    void put_playlist(const std::string& path, const HlsWindow& window) {
        put(path, hls_window_text(window));
    }
    // `path` answers 302 with `location` exactly as given.
    void redirect(const std::string& path, const std::string& location);
    // Paths beginning with `prefix` answer `status` once `after_ms` have
    // passed from now (0: at once): a signed URL that expires, a folder that
    // goes away.
    void fail_from(const std::string& prefix, int status, uint64_t after_ms = 0);
    // Paths beginning with `prefix` get no answer at all (the connection is
    // held open, silent) once `after_ms` have passed: an origin that hangs.
    void hang_from(const std::string& prefix, uint64_t after_ms = 0) {
        fail_from(prefix, 0, after_ms);
    }

  private:
    struct FailRule {
        std::string prefix;
        int status;  // 0: hang
        uint64_t from_ms;
    };
    ScriptedReply answer(const ScriptedRequest& request);

    std::mutex lock_;
    std::map<std::string, std::string> files_;
    std::map<std::string, std::string> redirects_;
    std::vector<FailRule> failures_;
    ScriptedHttpServer server_;
};

// One live rendition at `folder` + "/index.m3u8" on an origin: a sliding
// window of at most `window_size` entries that the test moves on segment by
// segment; each change rewrites the playlist at once.
class HostileStream {
  public:
    HostileStream(HostileOrigin* origin, std::string folder, uint32_t target_duration = 2,
                  size_t window_size = 6);

    std::string playlist_path() const { return folder_ + "/index.m3u8"; }
    std::string url() const { return origin_->url(playlist_path()); }

    // Serves `segment` as `folder`/`name` and lists it as the next entry
    // (relative name), dropping the oldest entry beyond the window.
    void append(const std::string& name, const MadeSegment& segment, bool discontinuity = false);
    // An origin restart: the window empties and the next segment is numbered
    // `first` (typically 0, far below what was listed). The old listing is
    // served until the next append.
    void restart_numbering(int64_t first = 0);
    // Adds #EXT-X-ENDLIST.
    void end();

  private:
    void publish_locked();

    HostileOrigin* origin_;
    std::string folder_;
    size_t window_size_;
    std::mutex lock_;
    HlsWindow window_;
};

// A loopback port whose listener never accepts: an origin that has stopped
// answering. With `Silence::connect`, its queue is full, so a connect to it
// stays pending (its SYNs go unanswered); with `Silence::handshake`, a
// connect completes (the system queues it) but no byte ever comes back, so
// a TLS or RTMP handshake waits. Either lasts until the client's time-out
// or cancel.
class UnansweredPort {
  public:
    enum class Silence { connect, handshake };

    UnansweredPort() = default;
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;

    // False when no listener could be set up or its queue would not fill.
    bool start(Silence silence = Silence::connect);
    std::string url(const std::string& scheme, const std::string& path) const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::vector<int> queued_;  // connections that filled the queue
};
