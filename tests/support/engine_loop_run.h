// A loop engine run on a thread of its own, for tests that watch what it
// sends meanwhile: start() runs `Run` on the options, stop() signals the
// stop event and joins, giving how long that took. The last status text the
// engine reported is kept.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <thread>

#include "engines/engine_contract.h"
#include "platform/clock.h"
#include "platform/event.h"

template <class Options, int (*Run)(const Options&, std::span<char>)>
struct EngineLoopRun {
    Options options;
    Event stop_event;
    std::array<char, ENGINE_ERROR_SIZE> error{};
    int result = -1;
    std::string status;
    std::thread thread;

    void start() {
        options.stop_event = &stop_event;
        options.status = [](void* context, const char* text) {
            *static_cast<std::string*>(context) = text;
        };
        options.status_context = &status;
        thread = std::thread([this] { result = Run(options, error); });
    }
    uint64_t stop() {
        uint64_t began = tick_ms();
        stop_event.set();
        thread.join();
        return tick_ms() - began;
    }
};
