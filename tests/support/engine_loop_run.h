// A loop engine on a thread of its own for `ms`, then stopped, for tests that
// watch what it sends. The last status text is kept. A ticker whose settings
// are fetched afresh at each pass, counting the fetches, serves the overlay
// loops; a TextLog keeps, in order, the texts an engine hands to a status or
// notice callback (from any thread).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engines/engine_contract.h"
#include "platform/time/event.h"
#include "video/overlay_settings.h"

template <class Options, Engine<Options> Run>
struct EngineLoopRun {
    Options options;
    EngineRun run;
    Event stop_event;
    std::array<char, ENGINE_ERROR_SIZE> error{};
    EngineResult result = EngineResult::failed;
    std::string status;

    void run_for(int ms) {
        run.stop_event = &stop_event;
        run.status = [](void* context, const char* text) { *static_cast<std::string*>(context) = text; };
        run.status_context = &status;
        std::thread thread([this] { result = Run(options, run, error); });
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        stop_event.set();
        thread.join();
    }
};

inline int ticker_fetches = 0;
inline void fetch_ticker(void*, OverlaySettings* fresh) {  // the values only: the caller keeps its hooks
    ++ticker_fetches;
    *fresh = {};
    fresh->text_enabled = 1, fresh->text = "Looping with a ticker", fresh->font_size = 20;
    fresh->bitrate = 500000, fresh->encoder = "Software H.264";
}

struct TextLog {
    std::mutex lock;
    std::vector<std::string> texts;
    static void record(void* context, const char* text) {
        auto* log = static_cast<TextLog*>(context);
        std::lock_guard guard(log->lock);
        log->texts.emplace_back(text);
    }
};
