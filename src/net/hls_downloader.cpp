// Downloader thread: poll, parse, fetch in batches, deliver in order.
//
// The expected sequence number is "unset" until the first playlist arrives.
// After a delivery it is the delivered segment's number + 1 (not a running
// count), so a playlist that jumped ahead cannot make later polls deliver
// the same segments again. HTTP requests run outside the ring's lock; a stop
// or a tear-down cancels the batch in flight through the ring's HttpCancel.
//
// The stall clock restarts at every delivery (after any wait for room in the
// ring) and is read once per poll. The paths (without query: signed URLs
// change their tokens) and numbers of the segments delivered or given up last
// tell a lagging copy of the playlist from an origin that numbers anew. A
// downloader that joins after recorded segments starts with them as its
// history and the number after the newest as the next one expected, and
// checks the first playlist against them as it would after a restart.
#include "net/hls_downloader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "net/hls_playlist.h"
#include "net/http_client.h"
#include "platform/process/heap.h"
#include "platform/text/error_text.h"
#include "platform/time/clock.h"

struct SegmentFetchLatch {
    std::mutex lock;
    std::condition_variable done;
    int pending = 0;
};

namespace {

enum class PollEnd { go_on, stop };

constexpr uint64_t HLS_RELEASE_INTERVAL_MS = 60000;
constexpr int HLS_ARENAS = 2;

struct Downloader {
    SegmentRing* ring = nullptr;
    std::optional<int64_t> next_sequence;
    int64_t failing_sequence = -1;  // the segment that failed at the last poll(s)
    int failing_attempts = 0;
    std::string base_url;          // where the playlist came from at the last fetch
    HlsSegmentHistory seen;        // the segments delivered or given up last
    bool rejoining = false;        // joining after recorded segments: the first playlist is checked against them
    uint64_t progress_ms = 0;      // tick_ms() at the last delivery (or the start, or the end of a wait for room)
    uint32_t target_duration = 0;  // of the last playlist read
    bool failing = false;          // a request has failed since the last delivery or playlist
    char failure[HLS_DOWNLOADER_ERROR_SIZE] = {};  // the last such failure
    char error_text[HLS_DOWNLOADER_ERROR_SIZE] = {};
};

std::string_view path_of(std::string_view url) {
    return url.substr(0, url.find_first_of("?#"));
}

SegmentLabel label_of(const SegmentFetchJob& job) {
    return SegmentLabel{job.sequence, std::string(path_of(job.url)), job.discontinuity};
}

void remember(Downloader* d, const SegmentFetchJob& job) {
    hls_history_add(&d->seen, label_of(job));
}

// The segment seen before with the path of `url`, if any.
const SegmentLabel* seen_before(const Downloader& d, std::string_view url) {
    auto found = std::find_if(d.seen.segments.rbegin(), d.seen.segments.rend(),
                              [path = path_of(url)](const SegmentLabel& seen) { return seen.path == path; });
    return found == d.seen.segments.rend() ? nullptr : &*found;
}

// An origin that restarted and numbers its segments anew: the newest entry
// lies below the last one delivered, and is not a segment seen before.
bool numbering_restarted(const Downloader& d, const HlsPlaylist& playlist) {
    size_t count = playlist.references.size();
    int64_t newest = playlist.media_sequence + static_cast<int64_t>(count) - 1;
    if (!d.next_sequence || newest >= *d.next_sequence - 1) return false;
    return seen_before(d, hls_segment_url(playlist, count - 1)) == nullptr;
}

// After a restart or when joining after recorded segments: the number after
// the newest listed segment seen before, when the playlist lists it under
// another number than it had (the origin numbers anew; after a restart,
// under any number). Nothing when the numbers continue.
std::optional<int64_t> after_renumbered(const Downloader& d, const HlsPlaylist& playlist, bool restarted) {
    for (size_t i = playlist.references.size(); i-- > 0;) {
        const SegmentLabel* seen = seen_before(d, hls_segment_url(playlist, i));
        if (!seen) continue;
        int64_t listed = playlist.media_sequence + static_cast<int64_t>(i);
        if (restarted || listed != seen->sequence) return listed + 1;
        return std::nullopt;
    }
    return std::nullopt;
}

// Where delivery goes on in this playlist.
void follow(Downloader* d, const HlsPlaylist& playlist) {
    auto count = static_cast<int64_t>(playlist.references.size());
    if (!d->next_sequence) {
        d->next_sequence = playlist.media_sequence + (count > 2 ? count - 2 : 0);
        return;
    }
    const bool restarted = numbering_restarted(*d, playlist);
    if (!restarted && !d->rejoining) return;
    d->rejoining = false;
    std::optional<int64_t> next = after_renumbered(*d, playlist, restarted);
    if (!next && !restarted) return;  // the numbers continue: on by number
    d->next_sequence = next.value_or(playlist.media_sequence);
    d->failing_sequence = -1;
    d->failing_attempts = 0;
}

// A live segment that sends nothing for the stall limit is a stall too; a
// finished playlist's segments get the full time-out.
uint32_t segment_timeout_ms(const HlsPlaylist& playlist) {
    if (playlist.end_list) return HLS_SEGMENT_TIMEOUT_MS;
    return std::min(HLS_SEGMENT_TIMEOUT_MS, hls_stall_limit_ms(playlist.target_duration));
}

// True (with the reason in the error text) when nothing new has come for
// longer than the playlist's stall limit.
bool stalled(Downloader* d) {
    uint64_t quiet_ms = tick_ms() - d->progress_ms;
    if (quiet_ms < hls_stall_limit_ms(d->target_duration)) return false;
    auto seconds = static_cast<unsigned long long>(quiet_ms / 1000);
    if (d->failing) {
        error_printf(d->error_text, "HLS source stalled: no new segment for %llu s (%s)", seconds, d->failure);
    } else {
        error_printf(d->error_text, "HLS source stalled: no new segment for %llu s", seconds);
    }
    return true;
}

// http_get says nothing about a refused request (a 404, say); the user
// still deserves to know why the source failed.
void explain_status(std::span<char> error, const char* what, uint32_t status) {
    if (status != 0 && error_is_empty(error))
        error_printf(error, "%s request failed with HTTP status %u", what, status);
}

void note_failure(Downloader* d, std::string_view error) {
    error_printf(d->failure, "%.*s", static_cast<int>(error.size()), error.data());
    d->failing = true;
}

// A playlist fetch may take what is left of the stall limit (1 s at least),
// so an origin that trickles its answer is a stall like any other.
uint32_t playlist_timeout_ms(const Downloader& d) {
    uint64_t quiet_ms = tick_ms() - d.progress_ms;
    uint64_t limit_ms = hls_stall_limit_ms(d.target_duration);
    uint64_t left_ms = quiet_ms < limit_ms ? limit_ms - quiet_ms : 0;
    return static_cast<uint32_t>(std::clamp<uint64_t>(left_ms, 1000, HLS_PLAYLIST_TIMEOUT_MS));
}

// The playlist body (five tries, 1 s apart, within the stall limit), or why
// there is none.
enum class FetchResult { fetched, stop, fatal };

FetchResult fetch_playlist(Downloader* d, ByteBuffer* body) {
    const HttpResponseLimit limit{"HLS playlist", HLS_PLAYLIST_MAX_BYTES};
    for (int failures = 0;;) {
        if (segment_ring_should_stop(d->ring)) return FetchResult::stop;
        uint32_t status = 0;
        if (http_get(d->ring->playlist_url, playlist_timeout_ms(*d), body, &status, d->error_text, &d->ring->cancel,
                     &d->base_url, limit)) {
            d->failing = false;
            return FetchResult::fetched;
        }
        explain_status(d->error_text, "playlist", status);
        byte_buffer_free(body);
        if (segment_ring_should_stop(d->ring)) return FetchResult::stop;
        note_failure(d, d->error_text);
        if (++failures >= HLS_PLAYLIST_FAILURE_LIMIT || stalled(d)) return FetchResult::fatal;
        if (segment_ring_pause(d->ring, HLS_PLAYLIST_RETRY_PAUSE_MS)) return FetchResult::stop;
    }
}

// How many fetches may start now: as many (up to six) as the ring's memory
// budget leaves room for at the largest segment each, waiting while not even
// one fits (the engine is behind; that is no stall). 0 when the downloader
// should stop instead.
int fetches_with_room(Downloader* d) {
    bool waited = false;
    uint64_t room = segment_ring_wait_room(d->ring, HLS_SEGMENT_MAX_BYTES, &waited);
    if (waited) d->progress_ms = tick_ms();
    return static_cast<int>(std::min<uint64_t>(HLS_PARALLEL_FETCHES, room / HLS_SEGMENT_MAX_BYTES));
}

// Starts up to `most` fetches from playlist index *i; returns how many started.
int launch_batch(Downloader* d, const HlsPlaylist& playlist, size_t* i, int most, SegmentFetchJob* jobs,
                 std::thread* threads, SegmentFetchLatch* latch) {
    int launched = 0;
    while (*i < playlist.references.size() && launched < most) {
        int64_t sequence = playlist.media_sequence + static_cast<int64_t>(*i);
        if (sequence >= *d->next_sequence) {
            SegmentFetchJob& job = jobs[launched];
            job.url = hls_segment_url(playlist, *i);
            job.sequence = sequence;
            job.discontinuity = playlist.discontinuity[*i] != 0;
            job.timeout_ms = segment_timeout_ms(playlist);
            job.cancel = &d->ring->cancel;
            job.latch = latch;
            {
                std::lock_guard guard(latch->lock);
                ++latch->pending;
            }
            try {
                threads[launched] = std::thread(segment_fetch_thread, &job);
            } catch (const std::exception&) {  // no thread to be had right now
                std::lock_guard guard(latch->lock);
                --latch->pending;
                break;  // the rest waits for the next batch
            }
            ++launched;
        }
        ++*i;
    }
    return launched;
}

// A stop or a tear-down cancels the fetches, so this wait ends promptly.
void wait_batch(std::thread* threads, int launched, SegmentFetchLatch* latch) {
    {
        std::unique_lock guard(latch->lock);
        latch->done.wait(guard, [latch] { return latch->pending == 0; });
    }
    for (int k = 0; k < launched; ++k) threads[k].join();
}

// A failed segment: true when it is to be retried at the next poll, false
// when it has failed too often and is skipped.
bool retry_later(Downloader* d, const SegmentFetchJob& job) {
    note_failure(d, job.error_text);
    segment_ring_note_fetch_failure(d->ring);
    if (job.sequence != d->failing_sequence) {
        d->failing_sequence = job.sequence;
        d->failing_attempts = 0;
    }
    if (++d->failing_attempts < HLS_SEGMENT_ATTEMPT_LIMIT) return true;
    d->next_sequence = job.sequence + 1;
    d->failing_attempts = 0;
    remember(d, job);
    return false;
}

void delivered(Downloader* d, const SegmentFetchJob& job) {
    d->next_sequence = job.sequence + 1;
    remember(d, job);
    d->progress_ms = tick_ms();
    d->failing = false;
}

// Delivers the batch in order. False when the poll must end here (a failed
// segment to retry, or a ring that no longer takes segments); every body not
// delivered is freed.
bool deliver_batch(Downloader* d, SegmentFetchJob* jobs, int launched) {
    bool go_on = true;
    for (int k = 0; k < launched; ++k) {
        SegmentFetchJob& job = jobs[k];
        if (go_on && !job.result) {
            if (segment_ring_should_stop(d->ring) || retry_later(d, job)) go_on = false;
        } else if (go_on) {
            go_on = segment_ring_put(d->ring, &job.body, label_of(job));
            if (go_on) delivered(d, job);
        }
        byte_buffer_free(&job.body);
    }
    return go_on;
}

// Every segment of the playlist from the expected number on, in batches of six.
void deliver_playlist(Downloader* d, const HlsPlaylist& playlist) {
    size_t i = 0;
    while (i < playlist.references.size()) {
        if (segment_ring_should_stop(d->ring)) return;
        int most = fetches_with_room(d);
        if (most == 0) return;
        SegmentFetchJob jobs[HLS_PARALLEL_FETCHES];
        std::thread threads[HLS_PARALLEL_FETCHES];
        SegmentFetchLatch latch;
        int launched = launch_batch(d, playlist, &i, most, jobs, threads, &latch);
        if (launched == 0) return;
        wait_batch(threads, launched, &latch);
        if (!deliver_batch(d, jobs, launched)) return;
    }
}

// Segments are blocks of megabytes, made on short-lived fetch threads and
// freed on the engine's. glibc gave each fetch thread an arena of its own
// and each arena kept a segment's worth of free pages, more after a burst
// (the catch-up after a stall). Two arenas for the process, and their free
// pages given back once a minute, keep RSS near what is in use; mapping each
// segment on its own instead cost a fresh page fault per 4 KiB.
void limit_arenas() {
    static std::once_flag once;
    std::call_once(once, [] { heap_limit_arenas(HLS_ARENAS); });
}

void release_free_memory() {
    static std::atomic<uint64_t> next_ms{0};
    uint64_t now = tick_ms();
    uint64_t due = next_ms.load();
    if (now < due || !next_ms.compare_exchange_strong(due, now + HLS_RELEASE_INTERVAL_MS)) return;
    heap_release_free();
}

// One poll: fetch, parse, deliver, pause. stop ends the thread; go_on polls again.
PollEnd poll_once(Downloader* d, bool* fatal) {
    ByteBuffer body;
    FetchResult fetched = fetch_playlist(d, &body);
    if (fetched != FetchResult::fetched) {
        *fatal = fetched == FetchResult::fatal;
        return PollEnd::stop;
    }
    HlsPlaylist playlist;
    bool parsed = hls_parse_media_playlist(d->base_url, byte_buffer_text(body), &playlist, d->error_text);
    byte_buffer_free(&body);
    if (!parsed) {
        *fatal = true;
        return PollEnd::stop;
    }
    d->target_duration = playlist.target_duration;
    segment_ring_note_playlist(d->ring, playlist.media_sequence + static_cast<int64_t>(playlist.references.size()) - 1,
                               playlist.target_duration);
    follow(d, playlist);
    deliver_playlist(d, playlist);
    release_free_memory();
    auto count = static_cast<int64_t>(playlist.references.size());
    if (playlist.end_list && *d->next_sequence >= playlist.media_sequence + count) return PollEnd::stop;
    if (segment_ring_should_stop(d->ring)) return PollEnd::stop;
    if (stalled(d)) {
        *fatal = true;
        return PollEnd::stop;
    }
    uint32_t pause = hls_poll_pause_ms(playlist.target_duration);
    hls_playlist_free(&playlist);
    return segment_ring_pause(d->ring, pause) ? PollEnd::stop : PollEnd::go_on;
}

}  // namespace

uint32_t hls_poll_pause_ms(uint32_t target_duration) {
    uint32_t seconds = target_duration == 0 ? 2 : target_duration;
    return seconds <= 2 ? HLS_FAST_POLL_MS : HLS_SLOW_POLL_MS;
}

uint32_t hls_stall_limit_ms(uint32_t target_duration) {
    uint64_t seconds = target_duration == 0 ? 2 : target_duration;
    uint64_t limit = seconds * HLS_STALL_TARGET_DURATIONS * 1000;
    return static_cast<uint32_t>(std::clamp<uint64_t>(limit, HLS_STALL_FLOOR_MS, UINT32_MAX));
}

void hls_history_add(HlsSegmentHistory* history, const SegmentLabel& segment) {
    history->segments.push_back(SegmentLabel{segment.sequence, segment.path, false});
    if (history->segments.size() > HLS_RECENT_SEGMENTS) history->segments.pop_front();
}

SegmentRing* hls_downloader_start(std::string_view playlist_url, Event* stop_event, const HlsSegmentHistory* recorded) {
    limit_arenas();
    try {
        return segment_ring_start(playlist_url, stop_event,
                                  [history = recorded ? *recorded : HlsSegmentHistory{}](SegmentRing* ring) {
                                      return hls_downloader_thread(ring, history);
                                  });
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int hls_downloader_thread(SegmentRing* ring, const HlsSegmentHistory& recorded) {
    Downloader d;
    d.ring = ring;
    d.base_url = ring->playlist_url;
    d.progress_ms = tick_ms();
    if (!recorded.segments.empty()) {
        d.seen = recorded;
        d.next_sequence = recorded.segments.back().sequence + 1;
        d.rejoining = true;
    }
    bool fatal = false;
    try {
        while (poll_once(&d, &fatal) == PollEnd::go_on) {
        }
    } catch (const std::bad_alloc&) {
        fatal = true;
        error_printf(d.error_text, "out of memory");
    }
    if (fatal) segment_ring_fail(ring, d.error_text);
    http_client_shutdown();
    segment_ring_finish(ring);
    return 0;
}

int segment_fetch_thread(SegmentFetchJob* job) {
    const HttpResponseLimit limit{"HLS segment", HLS_SEGMENT_MAX_BYTES};
    job->result =
        http_get(job->url, job->timeout_ms, &job->body, &job->status, job->error_text, job->cancel, nullptr, limit);
    if (!job->result) explain_status(job->error_text, "segment", job->status);
    SegmentFetchLatch* latch = job->latch;
    if (latch) {
        std::lock_guard guard(latch->lock);
        --latch->pending;
        latch->done.notify_all();
    }
    return 0;
}
