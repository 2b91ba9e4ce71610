// The texts an engine hands to a status or notice callback, kept in order
// for a test to read (the engine may call from any thread).
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct TextLog {
    std::mutex lock;
    std::vector<std::string> texts;
    static void record(void* context, const char* text) {
        auto* log = static_cast<TextLog*>(context);
        std::lock_guard guard(log->lock);
        log->texts.emplace_back(text);
    }
};
