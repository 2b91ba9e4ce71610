// Settings copy, rebuild on a revision change, and per-frame painting.
#include "video/overlay_compositor.h"

#include <array>

#include "platform/text/error_text.h"
#include "platform/text/text.h"

namespace {

void keep_copy(OverlayCompositor& compositor, const OverlaySettings& settings) {
    compositor.settings = settings;
    compositor.settings.image_path = utf16_fit(settings.image_path, 2048);
    compositor.settings.text = utf16_fit(settings.text, 512);
}

}  // namespace

void overlay_compositor_init(OverlayCompositor& compositor, const OverlaySettings& settings) {
    compositor = OverlayCompositor{};
    keep_copy(compositor, settings);
    // The revision the snapshot was taken at, not the one current now: an
    // edit confirmed between the snapshot and the first frame is still seen.
    compositor.revision_seen = settings.revision_value;
}

bool overlay_compositor_prepare(OverlayCompositor& compositor, uint32_t frame_width, uint32_t frame_height,
                                std::span<char> error) {
    std::array<char, 256> why{};
    if (!overlay_prepare_picture(compositor.settings, frame_width, frame_height, compositor.picture, why)) {
        error_printf(error, "overlay picture cannot be used: %s", why.data());
        return false;
    }
    if (!overlay_prepare_band(compositor.settings, compositor.band)) {
        compositor.picture = OverlayBitmap{};
        return false;
    }
    return true;
}

bool overlay_compositor_update(OverlayCompositor& compositor, uint32_t frame_width, uint32_t frame_height,
                               std::span<char> error) {
    const OverlaySettings& current = compositor.settings;
    if (!current.revision || !current.fetch) return true;
    const uint32_t revision_now = current.revision->load();  // before the fetch: a later edit fetches again
    if (revision_now == compositor.revision_seen) return true;
    OverlaySettings fresh;
    current.fetch(current.fetch_context, &fresh);
    if (!fresh.revision || !fresh.fetch) {  // a fetch that fills only the values keeps us watching
        fresh.revision = current.revision;
        fresh.fetch = current.fetch;
        fresh.fetch_context = current.fetch_context;
    }
    compositor.picture = OverlayBitmap{};
    compositor.band = OverlayBitmap{};
    keep_copy(compositor, fresh);
    if (!overlay_compositor_prepare(compositor, frame_width, frame_height, error)) {
        error_printf(error, "live overlay update failed");
        return false;
    }
    compositor.revision_seen = revision_now;
    compositor.scroll_origin = 0;
    return true;
}

void overlay_compositor_paint(OverlayCompositor& compositor, const Yuv420View& frame, int64_t t) {
    if (compositor.scroll_origin == 0 || t < compositor.last_paint_time) compositor.scroll_origin = t + 1;
    compositor.last_paint_time = t;
    overlay_place_picture(compositor.settings, frame.width, frame.height, compositor.picture);
    overlay_blend(compositor.picture, frame);
    overlay_place_band(compositor.settings, frame.width, frame.height, t, compositor.scroll_origin, compositor.band);
    overlay_blend(compositor.band, frame);
}
