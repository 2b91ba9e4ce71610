// One accept thread polling the listener (so stop is seen within 50 ms) and
// one thread per connection. A connection reads the request header (5 s at
// most), asks the script for the reply, sends it, optionally stalls (60 s at
// most, or until released or stopped), then closes.
#include "support/scripted_http_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "platform/clock.h"
#include "support/loopback.h"

namespace {

constexpr int kPollSliceMs = 50;
constexpr uint64_t kRequestWaitMs = 5000;
constexpr auto kStallLimit = std::chrono::seconds(60);

const char* status_text(int status) {
    static const std::map<int, const char*> texts = {{200, "OK"},        {301, "Moved Permanently"},
                                                     {302, "Found"},     {403, "Forbidden"},
                                                     {404, "Not Found"}, {500, "Internal Server Error"}};
    auto found = texts.find(status);
    return found == texts.end() ? "Status" : found->second;
}

std::string path_of(const std::string& head) {
    size_t start = head.find(' ');
    if (start == std::string::npos) return "";
    size_t end = head.find(' ', start + 1);
    return head.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

}  // namespace

std::string http_response_text(int status, std::string_view body, std::string_view extra_headers, bool content_length) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + std::string(status_text(status)) + "\r\n";
    if (content_length) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    text += extra_headers;
    text += "\r\n";
    text += body;
    return text;
}

ScriptedReply http_reply(int status, std::string_view body, std::string_view extra_headers) {
    ScriptedReply reply;
    reply.bytes = http_response_text(status, body, extra_headers);
    return reply;
}

bool ScriptedHttpServer::start() {
    listener_ = loopback_listen(&port_, 64);
    if (listener_ < 0) return false;
    stopping_ = false;
    acceptor_ = std::thread([this] { accept_loop(); });
    return true;
}

void ScriptedHttpServer::stop() {
    if (listener_ < 0) return;
    stopping_ = true;
    {
        std::lock_guard guard(lock_);
        ++release_generation_;
    }
    released_.notify_all();
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

void ScriptedHttpServer::accept_loop() {
    while (!stopping_) {
        if (!wait_readable(listener_, tick_ms() + kPollSliceMs)) continue;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard guard(lock_);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

void ScriptedHttpServer::serve(int fd) {
    std::string head;
    uint64_t deadline = tick_ms() + kRequestWaitMs;
    while (head.find("\r\n\r\n") == std::string::npos && !stopping_ && tick_ms() < deadline) {
        if (!wait_readable(fd, tick_ms() + kPollSliceMs)) continue;
        char buffer[4096];
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        head.append(buffer, static_cast<size_t>(got));
    }
    if (head.find("\r\n\r\n") != std::string::npos) {
        ScriptedRequest request{path_of(head), head, tick_ms()};
        send_reply(fd, reply_for(request));
    }
    close(fd);
}

ScriptedReply ScriptedHttpServer::reply_for(const ScriptedRequest& request) {
    std::lock_guard guard(lock_);
    requests_.push_back(request);
    int index = counts_[request.path]++;
    for (const FailRule& rule : failures_) {
        if (!request.path.starts_with(rule.prefix) || tick_ms() < rule.from_ms) continue;
        if (rule.status != 0) return http_reply(rule.status, "refused");
        ScriptedReply silent;
        silent.stall = true;
        return silent;
    }
    auto handler = handlers_.find(request.path);
    if (handler == handlers_.end()) return fallback_ ? fallback_(request, index) : http_reply(404, "not found");
    return handler->second(request, index);
}

void ScriptedHttpServer::send_reply(int fd, const ScriptedReply& reply) {
    std::string_view bytes(reply.bytes);
    bytes = bytes.substr(0, reply.send_limit);
    size_t piece = reply.piece_size ? reply.piece_size : bytes.size();
    for (size_t at = 0; at < bytes.size() && !stopping_; at += piece) {
        if (at > 0 && reply.piece_delay_ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.piece_delay_ms));
        if (!send_all(fd, bytes.substr(at, piece))) return;
    }
    if (reply.stall) {
        std::unique_lock guard(lock_);
        uint64_t generation = release_generation_;
        released_.wait_for(guard, kStallLimit, [&] { return stopping_ || release_generation_ != generation; });
    }
}

void ScriptedHttpServer::on(const std::string& path, ScriptedHandler handler) {
    std::lock_guard guard(lock_);
    handlers_[path] = std::move(handler);
}

void ScriptedHttpServer::on_other(ScriptedHandler handler) {
    std::lock_guard guard(lock_);
    fallback_ = std::move(handler);
}

void ScriptedHttpServer::set_reply(const std::string& path, ScriptedReply reply) {
    on(path, [reply](const ScriptedRequest&, int) { return reply; });
}

void ScriptedHttpServer::set_replies(const std::string& path, std::vector<ScriptedReply> replies) {
    on(path, [replies](const ScriptedRequest&, int index) {
        return replies[std::min(static_cast<size_t>(index), replies.size() - 1)];
    });
}

void ScriptedHttpServer::release_stalls() {
    {
        std::lock_guard guard(lock_);
        ++release_generation_;
    }
    released_.notify_all();
}

void ScriptedHttpServer::put(const std::string& path, std::string_view bytes) {
    set_reply(path, http_reply(200, bytes));
}

void ScriptedHttpServer::redirect(const std::string& path, const std::string& location) {
    set_reply(path, http_reply(302, "", "Location: " + location + "\r\n"));
}

void ScriptedHttpServer::fail_from(const std::string& prefix, int status, uint64_t after_ms) {
    std::lock_guard guard(lock_);
    failures_.push_back({prefix, status, tick_ms() + after_ms});
}

std::string ScriptedHttpServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ScriptedRequest> ScriptedHttpServer::requests(const std::string& path) {
    std::lock_guard guard(lock_);
    if (path.empty()) return requests_;
    std::vector<ScriptedRequest> matching;
    for (const ScriptedRequest& request : requests_) {
        if (request.path == path) matching.push_back(request);
    }
    return matching;
}

int ScriptedHttpServer::request_count(const std::string& path) {
    return static_cast<int>(requests(path).size());
}
