// A stand-in for the workflow editor in video tests: the values it holds,
// the revision counter it bumps on each confirmed edit, and the fetch the
// pipeline calls when it sees the counter move.
#pragma once

#include <atomic>

#include "video/overlay_settings.h"

struct OverlayEditor {
    std::atomic<uint32_t> revision{0};
    OverlaySettings values;
    int fetches = 0;

    // Points `values` at this editor's counter and fetch.
    void watch() {
        values.revision = &revision;
        values.fetch = fetch;
        values.fetch_context = this;
    }
    static void fetch(void* context, OverlaySettings* settings) {
        auto& editor = *static_cast<OverlayEditor*>(context);
        ++editor.fetches;
        *settings = editor.values;
    }
};
