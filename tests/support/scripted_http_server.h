// A scripted HTTP server for the misbehaviour real servers will not show on
// demand: it listens on 127.0.0.1 (free port) on a thread of its own and
// answers every connection with canned bytes chosen per path: any status and
// header, chunked or unframed bodies, bodies longer or shorter than
// announced, redirects, early closes, answers in slow pieces (a trickle of a
// byte now and then), and stalls that hold a connection open without a byte
// until released. Every request's
// path is recorded. All waits are bounded; stop() (also in the destructor)
// ends every connection and joins every thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ScriptedRequest {
    std::string path;  // from the request line
};

struct ScriptedReply {
    std::string bytes;                      // sent exactly as given
    size_t send_limit = std::string::npos;  // send only this many bytes of them
    bool stall = false;                     // then hold the connection open, silent, until released
    size_t piece_size = 0;                  // >0: send in pieces of this size...
    uint32_t piece_delay_ms = 0;            // ...with this pause before each piece after the first
};

// Called for each request to a path; `index` counts that path's requests from 0.
using ScriptedHandler = std::function<ScriptedReply(const ScriptedRequest& request, int index)>;

// A whole response: status line, Content-Length, `extra_headers` (each
// ending in CR LF), blank line, body.
std::string http_response_text(int status, std::string_view body, std::string_view extra_headers = "");
// The same as a reply.
ScriptedReply http_reply(int status, std::string_view body, std::string_view extra_headers = "");

class ScriptedHttpServer {
  public:
    ScriptedHttpServer() = default;
    ~ScriptedHttpServer() { stop(); }
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    // Starts listening; false when no socket could be bound.
    bool start();
    void stop();

    // Handlers run one at a time under the server's lock: they must not call
    // back into the server.
    void on(const std::string& path, ScriptedHandler handler);
    // For paths without a handler of their own (default: 404).
    void on_other(ScriptedHandler handler) { on("", std::move(handler)); }
    void set_reply(const std::string& path, ScriptedReply reply) {
        on(path, [reply](const ScriptedRequest&, int) { return reply; });
    }
    // Replies in turn; the last one repeats.
    void set_replies(const std::string& path, std::vector<ScriptedReply> replies) {
        on(path, [replies](const ScriptedRequest&, int i) { return replies[std::min<size_t>(i, replies.size() - 1)]; });
    }
    // Lets every stalled connection go (closed without further bytes).
    void release_stalls();
    // An origin's file: 200 with `bytes`, the path's answer replaced whole.
    void put(const std::string& path, std::string_view bytes) { set_reply(path, http_reply(200, bytes)); }
    // 302 with `location` as given (it may be relative).
    void redirect(const std::string& path, const std::string& location) {
        set_reply(path, http_reply(302, "", "Location: " + location + "\r\n"));
    }
    // Paths under `prefix` answer `reply` from `after_ms` on, before any handler.
    void answer_from(const std::string& prefix, ScriptedReply reply, uint64_t after_ms = 0);
    // The same with `status` (an expiring URL, a folder that goes away), or
    // with status 0 holding the connection open, silent.
    void fail_from(const std::string& prefix, int status, uint64_t after_ms = 0) {
        answer_from(prefix, status != 0 ? http_reply(status, "refused") : ScriptedReply{.bytes = "", .stall = true},
                    after_ms);
    }

    std::string url(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }
    uint16_t port() const { return port_; }
    int request_count(const std::string& path);

  private:
    void serve(int fd);
    ScriptedReply reply_for(const ScriptedRequest& request);

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex lock_;
    std::condition_variable released_;
    uint64_t release_generation_ = 0;
    std::vector<std::thread> connections_;
    std::map<std::string, ScriptedHandler> handlers_;  // "": every other path
    std::map<std::string, int> counts_;
    struct FailRule {
        std::string prefix;
        ScriptedReply reply;
        uint64_t from_ms;
    };
    std::vector<FailRule> failures_;
    std::vector<std::string> requested_;  // every request's path, in order
};
