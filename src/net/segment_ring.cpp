// Ring operations for both sides, and the shared lifetime of the ring.
//
// The reference count starts at 2 (engine and producer thread). The
// engine's stop event is reached only under `lock` and only while it is
// still attached; tear-down removes the ring's listener from it and detaches
// it before letting go.
#include "net/segment_ring.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <new>
#include <utility>

#include "platform/text/error_text.h"

namespace {

std::atomic<int> g_downloaders_running{0};

void release(SegmentRing* ring) {
    if (ring->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete ring;
}

bool stop_signalled_locked(SegmentRing* ring) {
    return ring->stop_event && ring->stop_event->is_set();
}

void cancel_requests(void* context) {
    http_cancel(static_cast<HttpCancel*>(context));
}

void run_producer(SegmentRing* ring, const SegmentRingProducer& producer) {
    (void)producer(ring);
    release(ring);
    g_downloaders_running.fetch_sub(1, std::memory_order_acq_rel);
}

}  // namespace

SegmentRing::~SegmentRing() {
    for (ByteBuffer& slot : slots) byte_buffer_free(&slot);
}

SegmentRing* segment_ring_start(std::string_view playlist_url, Event* stop_event, SegmentRingProducer producer) {
    auto* ring = new (std::nothrow) SegmentRing;
    if (!ring) return nullptr;
    ring->stop_event = stop_event;
    ring->references.store(2);
    g_downloaders_running.fetch_add(1, std::memory_order_acq_rel);
    try {
        ring->playlist_url.assign(playlist_url);
        ring->stop_watch.emplace(stop_event, cancel_requests, &ring->cancel);
        ring->downloader = std::thread(run_producer, ring, std::move(producer));
    } catch (const std::exception&) {  // no memory or no thread to be had
        g_downloaders_running.fetch_sub(1, std::memory_order_acq_rel);
        delete ring;
        return nullptr;
    }
    return ring;
}

SegmentTake segment_ring_take(SegmentRing* ring, ByteBuffer* segment, SegmentLabel* label) {
    byte_buffer_free(segment);
    std::unique_lock guard(ring->lock);
    while (ring->count == 0 && !ring->ended && !ring->failed) {
        if (stop_signalled_locked(ring)) break;
        ring->not_empty.wait_for(guard, std::chrono::milliseconds(SEGMENT_RING_WAIT_MS));
    }
    if (ring->count == 0) {
        if (stop_signalled_locked(ring)) return SegmentTake::stopped;
        if (ring->failed) return SegmentTake::failed;
        return SegmentTake::ended;
    }
    byte_buffer_move(segment, &ring->slots[ring->read_index]);
    ring->bytes -= segment->size;
    if (label) *label = std::move(ring->slot_labels[ring->read_index]);
    --ring->count;
    ring->read_index = (ring->read_index + 1) & (SEGMENT_RING_SLOTS - 1);
    ring->not_full.notify_one();
    return SegmentTake::segment;
}

SegmentRingMarks segment_ring_marks(SegmentRing* ring) {
    std::lock_guard guard(ring->lock);
    return {ring->ended, ring->failed};
}

SegmentRingSource segment_ring_source(SegmentRing* ring) {
    std::lock_guard guard(ring->lock);
    return ring->source;
}

void segment_ring_note_playlist(SegmentRing* ring, int64_t newest_listed, uint32_t target_duration) {
    std::lock_guard guard(ring->lock);
    ring->source.newest_listed = newest_listed, ring->source.target_duration = target_duration;
}

void segment_ring_note_fetch_failure(SegmentRing* ring) {
    std::lock_guard guard(ring->lock);
    ++ring->source.fetch_failures;
}

void segment_ring_error(SegmentRing* ring, std::span<char> out) {
    std::lock_guard guard(ring->lock);
    error_printf(out, "%s", ring->error_text);
}

void segment_ring_teardown(SegmentRing* ring, uint32_t wait_ms) {
    if (!ring) return;
    {
        std::lock_guard guard(ring->lock);
        if (!ring->ended) ring->failed = true;
        ring->not_empty.notify_all();
        ring->not_full.notify_all();
    }
    http_cancel(&ring->cancel);
    ring->stop_watch.reset();
    bool ended;
    {
        std::unique_lock guard(ring->lock);
        ended = ring->not_empty.wait_for(guard, std::chrono::milliseconds(wait_ms), [ring] { return ring->ended; });
        ring->stop_event = nullptr;
    }
    // Once `ended` is set the thread only lets go of the ring and returns.
    if (ended) {
        ring->downloader.join();
    } else {
        ring->downloader.detach();
    }
    release(ring);
}

int segment_ring_downloaders_running() {
    return g_downloaders_running.load(std::memory_order_acquire);
}

bool segment_ring_should_stop(SegmentRing* ring) {
    std::lock_guard guard(ring->lock);
    return ring->failed || stop_signalled_locked(ring);
}

bool segment_ring_pause(SegmentRing* ring, uint32_t ms) {
    // A stop sets the cancel event (the ring's listener) and so does
    // tear-down, so one wait covers the whole pause: no wake-up per slice.
    if (segment_ring_should_stop(ring)) return true;
    (void)ring->cancel.cancelled.wait_ms(ms);
    return segment_ring_should_stop(ring);
}

bool segment_ring_put(SegmentRing* ring, ByteBuffer* segment, SegmentLabel label) {
    std::unique_lock guard(ring->lock);
    while (ring->count == SEGMENT_RING_SLOTS) {
        if (ring->failed || stop_signalled_locked(ring)) return false;
        ring->not_full.wait_for(guard, std::chrono::milliseconds(SEGMENT_RING_WAIT_MS));
    }
    if (ring->failed || stop_signalled_locked(ring)) return false;
    ring->bytes += segment->size;
    byte_buffer_move(&ring->slots[ring->write_index], segment);
    ring->slot_labels[ring->write_index] = std::move(label);
    ++ring->count;
    ring->write_index = (ring->write_index + 1) & (SEGMENT_RING_SLOTS - 1);
    ring->not_empty.notify_one();
    return true;
}

uint64_t segment_ring_wait_room(SegmentRing* ring, uint64_t wanted, bool* waited) {
    std::unique_lock guard(ring->lock);
    auto room = [ring] { return SEGMENT_RING_BYTE_BUDGET - std::min(ring->bytes, SEGMENT_RING_BYTE_BUDGET); };
    while (room() < wanted) {
        if (ring->failed || stop_signalled_locked(ring)) return 0;
        *waited = true;
        ring->not_full.wait_for(guard, std::chrono::milliseconds(SEGMENT_RING_WAIT_MS));
    }
    return ring->failed || stop_signalled_locked(ring) ? 0 : room();
}

void segment_ring_fail(SegmentRing* ring, std::string_view error) {
    std::lock_guard guard(ring->lock);
    ring->failed = true;
    error_printf(ring->error_text, "%.*s", static_cast<int>(error.size()), error.data());
    ring->not_empty.notify_all();
    ring->not_full.notify_all();
}

void segment_ring_finish(SegmentRing* ring) {
    std::lock_guard guard(ring->lock);
    ring->ended = true;
    ring->not_empty.notify_all();
}
