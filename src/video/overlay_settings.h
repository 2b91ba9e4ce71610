// What a running overlay pipeline paints and how it encodes: a snapshot of a
// workflow's overlay fields. The engines hand it to the pipeline unchanged;
// the pipeline keeps its own copy and, when `revision` moves on, calls
// `fetch` for a fresh one between two frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct OverlaySettings;
// Fills `settings` with the workflow's current overlay values.
using OverlaySettingsFetch = void (*)(void* fetch_context, OverlaySettings* settings);

// A snapshot of the overlay settings. The texts are copies taken under the
// workflow's lock, so an engine never reads a text the editor is replacing;
// `revision` tells it when to fetch again.
struct OverlaySettings {
    uint32_t image_enabled = 0;
    std::string image_path;
    int32_t image_x_pct = 0;
    int32_t image_y_pct = 0;
    int32_t image_scale_pct = 0;
    uint32_t text_enabled = 0;
    std::string text;
    int32_t text_bottom_pct = 0;
    int32_t font_size = 0;
    int32_t scroll_speed = 0;
    uint32_t text_color = 0;        // 0x00BBGGRR
    uint32_t background_color = 0;  // 0x00BBGGRR
    uint32_t bitrate = 0;           // bits per second
    std::string encoder = "Auto";   // "Auto", "Hardware H.264" or "Software H.264"
    const std::atomic<uint32_t>* revision = nullptr;
    uint32_t revision_value = 0;  // the counter as read just before these values were taken
    OverlaySettingsFetch fetch = nullptr;
    void* fetch_context = nullptr;
};
