// Stands in for the workflow editor: its values, the revision it bumps on
// each confirmed edit, and the fetch the pipeline calls when that moves.
#pragma once

#include <atomic>

#include "video/overlay_settings.h"

struct OverlayEditor {
    std::atomic<uint32_t> revision{0};
    OverlaySettings values;
    int fetches = 0;
    void watch() {  // points `values` at this editor
        values.revision = &revision;
        values.fetch = [](void* editor, OverlaySettings* settings) {
            ++static_cast<OverlayEditor*>(editor)->fetches;
            *settings = static_cast<OverlayEditor*>(editor)->values;
        };
        values.fetch_context = this;
    }
};
