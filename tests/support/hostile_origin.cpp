// Segments made by ffmpeg, a playlist window rewritten whole, and a port
// that never answers.
#include "support/hostile_origin.h"

#include <unistd.h>

#include <sstream>

#include "platform/network/socket_connect.h"
#include "platform/text/text.h"
#include "support/child.h"
#include "support/loopback.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

bool make_hls_segments(const std::string& folder, double seconds, std::vector<MadeSegment>* segments,
                       const std::vector<std::string>& extra_output_args) {
    segments->clear();
    std::vector<std::string> argv = ffmpeg_hls_command(folder, seconds, false);
    argv.insert(argv.end() - 1, extra_output_args.begin(), extra_output_args.end());
    if (run_command(argv, nullptr, 120) != 0) return false;
    std::istringstream lines(read_file(folder + "/live.m3u8"));
    double duration = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("#EXTINF:")) {
            duration = std::atof(line.c_str() + 8);
        } else if (!line.empty() && line.front() != '#') {
            segments->push_back({line, duration, read_file(folder + "/" + line)});
        }
    }
    return !segments->empty();
}

void HostileStream::append(const std::string& name, const MadeSegment& segment, bool discontinuity) {
    origin_->put(folder_ + "/" + name, segment.bytes);
    std::lock_guard guard(lock_);
    entries_.push_back({name, segment.duration, discontinuity});
    if (entries_.size() > 6) {
        entries_.erase(entries_.begin());
        ++media_sequence_;
    }
    publish_locked();
}

void HostileStream::end() {
    std::lock_guard guard(lock_);
    end_list_ = true;
    publish_locked();
}

void HostileStream::publish_locked() {
    std::string text =
        string_printf("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:%u\n#EXT-X-MEDIA-SEQUENCE:%lld\n",
                      target_duration_, static_cast<long long>(media_sequence_));
    for (const Entry& e : entries_) {
        text += string_printf("%s#EXTINF:%.3f,\n%s\n", e.discontinuity ? "#EXT-X-DISCONTINUITY\n" : "", e.duration,
                              e.name.c_str());
    }
    if (end_list_) text += "#EXT-X-ENDLIST\n";
    origin_->put(playlist_path(), text);
}

constexpr int kQueueFillAttempts = 16;

UnansweredPort::~UnansweredPort() {
    for (int fd : queued_) close(fd);
    if (listener_ >= 0) close(listener_);
}

bool UnansweredPort::start(Silence silence) {
    listener_ = loopback_listen(&port_, silence == Silence::connect ? 0 : kQueueFillAttempts);
    if (listener_ < 0 || silence == Silence::handshake) return listener_ >= 0;
    // Connect until one stays pending: from then on every further SYN is dropped.
    for (int attempt = 0; attempt < kQueueFillAttempts; ++attempt) {
        int fd = socket_connect("127.0.0.1", port_, 300);
        if (fd < 0) return true;  // pending until the time-out: the queue is full
        queued_.push_back(fd);
    }
    return false;
}
