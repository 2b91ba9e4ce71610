// Segments made by ffmpeg, a playlist window rewritten whole, and a port
// that never answers.
#include "support/hostile_origin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>

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

HostileStream::HostileStream(HostileOrigin* origin, std::string folder, uint32_t target_duration, size_t window_size)
    : origin_(origin), folder_(std::move(folder)), target_duration_(target_duration), window_size_(window_size) {}

void HostileStream::append(const std::string& name, const MadeSegment& segment, bool discontinuity) {
    origin_->put(folder_ + "/" + name, segment.bytes);
    std::lock_guard guard(lock_);
    entries_.push_back({name, segment.duration, discontinuity});
    if (entries_.size() > window_size_) {
        entries_.erase(entries_.begin());
        ++media_sequence_;
    }
    publish_locked();
}

void HostileStream::restart_numbering(int64_t first) {
    std::lock_guard guard(lock_);
    entries_.clear();
    media_sequence_ = first;
    end_list_ = false;
}

void HostileStream::end() {
    std::lock_guard guard(lock_);
    end_list_ = true;
    publish_locked();
}

void HostileStream::publish_locked() {
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + std::to_string(target_duration_) +
                       "\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(media_sequence_) + "\n";
    for (const Entry& entry : entries_) {
        if (entry.discontinuity) text += "#EXT-X-DISCONTINUITY\n";
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.3f", entry.duration);
        text += "#EXTINF:" + std::string(duration) + ",\n" + entry.name + "\n";
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
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.sin_port = htons(port_);
    for (int attempt = 0; attempt < kQueueFillAttempts; ++attempt) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return false;
        queued_.push_back(fd);
        if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 && errno != EINPROGRESS) {
            return false;
        }
        pollfd wait{fd, POLLOUT, 0};
        if (poll(&wait, 1, 300) != 1) return true;  // pending: the queue is full
    }
    return false;
}
