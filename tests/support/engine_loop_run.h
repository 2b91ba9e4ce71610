// A loop engine on a thread of its own, for tests that watch what it sends;
// stop() gives how long the stop took. The last status text is kept.
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
        options.status = [](void* context, const char* text) { *static_cast<std::string*>(context) = text; };
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
