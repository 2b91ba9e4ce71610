// One accept thread polling the listener (so stop is seen within 50 ms) and
// one thread per connection. A connection reads the request header (5 s at
// most), asks the script for the reply, sends it, optionally stalls (60 s at
// most, or until released or stopped), then closes.
#include "support/scripted_http_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "platform/time/clock.h"
#include "support/loopback.h"

namespace {

constexpr int kPollSliceMs = 50;
constexpr uint64_t kRequestWaitMs = 5000;

}  // namespace

std::string http_response_text(int status, std::string_view body, std::string_view extra_headers) {
    static const std::map<int, const char*> texts = {{200, "OK"},        {301, "Moved Permanently"},
                                                     {302, "Found"},     {403, "Forbidden"},
                                                     {404, "Not Found"}, {500, "Internal Server Error"}};
    std::string text =
        "HTTP/1.1 " + std::to_string(status) + " " + (texts.contains(status) ? texts.at(status) : "Status");
    return text + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + std::string(extra_headers) + "\r\n" +
           std::string(body);
}

ScriptedReply http_reply(int status, std::string_view body, std::string_view extra_headers) {
    return {.bytes = http_response_text(status, body, extra_headers)};
}

bool ScriptedHttpServer::start() {
    listener_ = loopback_listen(&port_, 64);
    if (listener_ < 0) return false;
    stopping_ = false;
    acceptor_ = std::thread([this] {
        while (!stopping_) {
            int fd = wait_readable(listener_, tick_ms() + kPollSliceMs)
                         ? accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)
                         : -1;
            std::lock_guard guard(lock_);
            if (fd >= 0) connections_.emplace_back([this, fd] { serve(fd); });
        }
    });
    return true;
}

void ScriptedHttpServer::stop() {
    if (listener_ < 0) return;
    stopping_ = true;
    release_stalls();
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard guard(lock_);
        connections.swap(connections_);
    }
    for (std::thread& connection : connections) connection.join();
    close(listener_);
    listener_ = -1;
}

void ScriptedHttpServer::serve(int fd) {
    std::string head;
    char buffer[4096];
    for (uint64_t deadline = tick_ms() + kRequestWaitMs;
         head.find("\r\n\r\n") == std::string::npos && !stopping_ && tick_ms() < deadline;) {
        if (!wait_readable(fd, tick_ms() + kPollSliceMs)) continue;
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        head.append(buffer, static_cast<size_t>(got));
    }
    size_t start = head.find(' ') + 1, end = head.find(' ', start);
    if (head.find("\r\n\r\n") != std::string::npos && start > 0) {
        // A release counts from the moment the request is seen, even if it
        // comes while the reply is still being sent.
        uint64_t generation = 0;
        {
            std::lock_guard guard(lock_);
            generation = release_generation_;
        }
        ScriptedReply reply = reply_for({head.substr(start, end - start)});
        std::string_view bytes = std::string_view(reply.bytes).substr(0, reply.send_limit);
        size_t piece = reply.piece_size ? reply.piece_size : bytes.size();
        bool sent = true;
        for (size_t at = 0; at < bytes.size() && !stopping_ && sent; at += piece) {
            if (at > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.piece_delay_ms));
            sent = send_all(fd, bytes.substr(at, piece));
        }
        std::unique_lock guard(lock_);
        released_.wait_for(guard, std::chrono::seconds(reply.stall && sent ? 60 : 0),
                           [&] { return stopping_ || release_generation_ != generation; });
    }
    close(fd);
}

ScriptedReply ScriptedHttpServer::reply_for(const ScriptedRequest& request) {
    std::lock_guard guard(lock_);
    requested_.push_back(request.path);
    int index = counts_[request.path]++;
    for (const FailRule& rule : failures_) {
        if (!request.path.starts_with(rule.prefix) || tick_ms() < rule.from_ms) continue;
        return rule.reply;
    }
    auto handler = handlers_.find(handlers_.contains(request.path) ? request.path : "");
    return handler == handlers_.end() ? http_reply(404, "not found") : handler->second(request, index);
}

void ScriptedHttpServer::on(const std::string& path, ScriptedHandler handler) {
    std::lock_guard guard(lock_);
    handlers_[path] = std::move(handler);
}

void ScriptedHttpServer::release_stalls() {
    {
        std::lock_guard guard(lock_);
        ++release_generation_;
    }
    released_.notify_all();
}

void ScriptedHttpServer::answer_from(const std::string& prefix, ScriptedReply reply, uint64_t after_ms) {
    std::lock_guard guard(lock_);
    failures_.push_back({prefix, std::move(reply), tick_ms() + after_ms});
}

int ScriptedHttpServer::request_count(const std::string& path) {
    std::lock_guard guard(lock_);
    return static_cast<int>(std::count(requested_.begin(), requested_.end(), path));
}
