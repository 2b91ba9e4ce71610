// The HTTP client against the scripted server: body framing, redirects and
// failures, each with the exact message a user would read. Then HTTPS
// against nginx with the test CA: a certificate for another host, an unknown
// CA, and many byte-exact GETs from many threads sharing one TLS client
// context while it is released under them.
#include "net/http_client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <thread>
#include <vector>

#include "net/http_message.h"
#include "platform/time/clock.h"
#include "support/child.h"
#include "support/hostile_origin.h"
#include "support/nginx_server.h"
#include "support/scripted_http_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace {

constexpr uint32_t kTimeoutMs = 20000;
const std::string kNoLength = "18446744073709551615";

struct GetResult {
    bool ok = false;
    uint32_t status = 0;
    std::string body, error, final_url;
    uint64_t elapsed_ms = 0;
};

GetResult get(const std::string& url, uint32_t timeout_ms = kTimeoutMs, HttpCancel* cancel = nullptr) {
    GetResult result;
    ByteBuffer body;
    char error[512] = "untouched";
    uint64_t start = tick_ms();
    result.ok = http_get(url, timeout_ms, &body, &result.status, error, cancel, &result.final_url);
    result.elapsed_ms = tick_ms() - start;
    result.body.assign(byte_buffer_text(body));
    result.error = error;
    byte_buffer_free(&body);
    return result;
}

class HttpClient : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    ScriptedHttpServer server;
};

struct FramingCase {
    const char* name;
    std::string bytes;
    bool stall;  // keep the connection open: only the framing can end the read
    bool ok;
    std::string body_or_error;
    size_t piece_size = 0;
    uint32_t timeout_ms = kTimeoutMs;
};

std::vector<FramingCase> framing_cases() {
    auto head = [](std::string_view fields) { return "HTTP/1.1 200 OK\r\n" + std::string(fields) + "\r\n"; };
    const std::string chunked = head("Transfer-Encoding: chunked\r\n");
    auto broken = [&](const char* name, const std::string& body) {
        std::string bytes = chunked + body;
        return FramingCase{name, bytes, false, false,
                           "HTTP framing failed (chunked=1 raw=" + std::to_string(bytes.size()) +
                               " header=" + std::to_string(chunked.size()) + " expected=" + kNoLength + ")"};
    };
    const std::string invalid = "invalid HTTP response", truncated = "truncated HTTP body (3 of 10 bytes)";
    const std::string timed_out = "HTTP response timed out after 1 s";
    return {
        {"content length", http_response_text(200, "hello"), true, true, "hello"},
        {"more bytes than announced", head("Content-Length: 5\r\n") + "helloEXTRA", true, true, "hello"},
        {"content length zero", head("Content-Length: 0\r\n"), true, true, ""},
        {"field names in any case", head("content-LENGTH:\t 3\r\n") + "abcdef", true, true, "abc"},
        {"chunked", chunked + "5\r\nhello\r\n0\r\n\r\n", true, true, "hello"},
        {"chunk extension", chunked + "5;name=value\r\nhello\r\n0\r\n\r\n", true, true, "hello"},
        {"chunked in slow pieces", head("Transfer-Encoding: Chunked\r\n") + "3\r\nabc\r\nA\r\n0123456789\r\n0\r\n\r\n",
         true, true, "abc0123456789", 4},
        // The first piece ends in the five bytes of a final chunk that are
        // really chunk data: reading must go on to the real end.
        {"final-chunk bytes inside data", chunked + "7\r\nxx0\r\n\r\n\r\n0\r\n\r\n", true, true, "xx0\r\n\r\n",
         chunked.size() + 10},
        {"read to close", head("") + "all of it until the close", false, true, "all of it until the close"},
        {"truncated", head("Content-Length: 10\r\n") + "abc", false, false, truncated},
        broken("chunk data too short", "9\r\nabc"),
        broken("chunk without CR LF", "3\r\nabcXX0\r\n\r\n"),
        broken("no size-0 chunk", "3\r\nabc\r\n"),
        broken("size line too long", std::string(40, '0') + "1\r\na\r\n0\r\n\r\n"),
        broken("size line without digits", "zz\r\n0\r\n\r\n"),
        {"no header end", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nabc", false, false, invalid},
        {"header past its bound", head("X-Pad: " + std::string(HTTP_MAX_HEADER_BYTES, 'p') + "\r\n"), true, false,
         "HTTP response header too large (over 64 KiB)"},
        {"body announced past its bound", head("Content-Length: 600000000\r\n"), true, false,
         "HTTP response too large (over 512 MiB)"},
        {"no status line", "FTP/1.0 200 OK\r\n\r\n", false, false, invalid},
        {"nothing at all", "", false, false, invalid},
        // A server that goes silent or trickles: the request's time-out,
        // which bounds the whole request, ends the read.
        {"silent", "", true, false, timed_out, 0, 1000},
        {"silent after part of the body", head("Content-Length: 10\r\n") + "012", true, false, timed_out, 0, 1000},
        {"trickled", http_response_text(200, std::string(100, 't')), true, false, timed_out, 1, 1000},
    };
}

// Three HTTPS servers on loopback: the right certificate, one naming another
// host, one from a CA nobody trusts. The test CA is the only trusted root.
struct TlsPeers {
    TempDir dir;
    TestCa ca;
    NginxServer good, other_host, untrusted;
    std::string content = std::string(1 << 20, '\0');  // many TLS records

    bool serve(NginxServer* server, const std::string& name, const std::string& cert, const std::string& key) {
        std::string folder = dir.file(name);
        mkdir(folder.c_str(), 0755);
        if (!server->start(folder, {.https = true, .cert = cert, .key = key})) return false;
        write_file(server->www_dir + "/file.bin", content);
        return true;
    }
    bool start() {
        for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7919) >> 3);
        if (!ca.create(dir.path()) || !serve(&good, "good", ca.server_cert, ca.server_key) ||
            !serve(&other_host, "other", ca.other_host_cert, ca.other_host_key) ||
            !serve(&untrusted, "untrusted", ca.untrusted_cert, ca.untrusted_key))
            return false;
        ca.trust();
        http_client_shutdown();  // the next request loads the store that trusts the test CA
        return true;
    }
    ~TlsPeers() {
        ca.restore();
        http_client_shutdown();
    }
};

class TlsSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        peers = std::make_unique<TlsPeers>();
        if (!peers->start()) peers.reset();
    }
    static void TearDownTestSuite() { peers.reset(); }
    void SetUp() override { ASSERT_NE(peers, nullptr) << "test CA or nginx did not come up"; }
    static inline std::unique_ptr<TlsPeers> peers;
};

class HttpTls : public TlsSuite {};
class HttpThreads : public TlsSuite {};

}  // namespace

TEST_F(HttpClient, FramesBodies) {
    for (const FramingCase& c : framing_cases()) {
        SCOPED_TRACE(c.name);
        server.set_reply("/r", {.bytes = c.bytes, .stall = c.stall, .piece_size = c.piece_size, .piece_delay_ms = 30});
        GetResult r = get(server.url("/r"), c.timeout_ms);
        EXPECT_EQ(std::tie(r.ok, c.ok ? r.body : r.error), std::tie(c.ok, c.body_or_error));
        EXPECT_TRUE(!c.ok || (r.error.empty() && r.status == 200)) << r.error << " " << r.status;
        // A stalled connection is only left early when the framing was read.
        EXPECT_TRUE(!c.stall || !c.ok || r.elapsed_ms < kTimeoutMs / 2) << r.elapsed_ms;
        server.release_stalls();
    }
}

// A body of tiny chunks, received a chunk at a time with each receive ending
// in what looks like the final chunk: the walk goes on where it stopped, so
// each size line is read once.
TEST(HttpMessage, ChunkedWalkResumesWhereItStopped) {
    constexpr size_t kChunks = 20000;
    std::string response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    HttpResponseScan scan;
    auto bytes = [&] { return std::span(reinterpret_cast<const uint8_t*>(response.data()), response.size()); };
    for (size_t i = 0; i < kChunks; ++i) {
        response += "5\r\n0\r\n\r\n\r\n";
        http_scan_response(&scan, bytes());
        ASSERT_FALSE(http_response_complete(scan, bytes()));
    }
    response += "0\r\n\r\n";
    http_scan_response(&scan, bytes());
    EXPECT_TRUE(http_response_complete(scan, bytes()));
    EXPECT_EQ(scan.size_lines_read, kChunks + 1);
}

TEST_F(HttpClient, RedirectsAndAnswersThatAreNotOk) {
    // /r0 -> /r1 -> ... -> /r6 (200): five redirects are followed, six are not.
    for (int i = 0; i < 6; ++i) {
        std::string next = server.url("/r" + std::to_string(i + 1));
        server.set_reply("/r" + std::to_string(i), http_reply(302, "", "location:  " + next + "\r\n"));
    }
    server.set_reply("/r6", http_reply(200, "end"));
    server.set_reply("/absolute", http_reply(301, "moved body", "Location: " + server.url("/r6") + "\r\n"));
    // Relative Locations resolve against the URL asked for, query included.
    server.set_reply("/live/a.m3u8", http_reply(302, "", "Location: ../moved/b.m3u8?t=1\r\n"));
    server.set_reply("/moved/b.m3u8?t=1", http_reply(302, "", "Location: /r6\r\n"));
    server.set_reply("/no-location", http_reply(304, ""));
    const std::tuple<const char*, bool, uint32_t, std::string, std::string> cases[] = {
        // path, ok, status, body, error
        {"/absolute", true, 200, "end", ""},  // the redirect's own body is dropped
        {"/r1", true, 200, "end", ""},
        {"/r0", false, 302, "", "too many redirects"},
        {"/live/a.m3u8", true, 200, "end", ""},
        {"/no-location", false, 304, "", ""},
        {"/missing", false, 404, "not found", ""},  // the last response's body is kept
    };
    for (const auto& [path, ok, status, body, error] : cases) {
        GetResult r = get(server.url(path));
        EXPECT_EQ(std::tie(r.ok, r.status, r.body, r.error), std::tie(ok, status, body, error)) << path;
        EXPECT_TRUE(!ok || r.final_url == server.url("/r6")) << r.final_url;
    }
    EXPECT_EQ(server.request_count("/r5"), 2);
    EXPECT_EQ(server.request_count("/r6"), 3);  // never after a sixth redirect
    EXPECT_EQ(server.request_count("/moved/b.m3u8?t=1"), 1);
}

TEST_F(HttpClient, UnusableUrlsAndUnreachableServers) {
    EXPECT_EQ(get("ftp://127.0.0.1/x").error, "invalid URL");
    EXPECT_EQ(get("http://127.0.0.1:" + std::to_string(free_loopback_port()) + "/x").error, "connection failed");
    EXPECT_EQ(get("http://name.invalid/x").error, "connection failed");
    // A request that can be cancelled looks a name up on a thread of its own.
    HttpCancel cancel;
    const std::string named = "http://localhost:" + std::to_string(server.port()) + "/named";
    server.set_reply("/named", http_reply(200, "by name"));
    EXPECT_EQ(get("http://name.invalid/x", kTimeoutMs, &cancel).error, "connection failed");
    EXPECT_EQ(get(named, kTimeoutMs, &cancel).body, "by name");
    http_cancel(&cancel);
    EXPECT_EQ(get(named, kTimeoutMs, &cancel).error, "request cancelled");
}

// A cancel reaches a silent server, a pending connect and a TLS handshake
// long before the request's own time-out, and ends later requests at once.
TEST_F(HttpClient, CancelEndsARequestInFlightAndLaterOnes) {
    server.set_reply("/silent", {.bytes = "", .stall = true});
    UnansweredPort no_connect, no_handshake;
    ASSERT_TRUE(no_connect.start(UnansweredPort::Silence::connect));
    ASSERT_TRUE(no_handshake.start(UnansweredPort::Silence::handshake));
    for (const std::string& url :
         {server.url("/silent"), no_connect.url("http", "/x"), no_handshake.url("https", "/x")}) {
        SCOPED_TRACE(url);
        HttpCancel cancel;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            http_cancel(&cancel);
        });
        GetResult r = get(url, kTimeoutMs, &cancel);
        canceller.join();
        EXPECT_EQ(r.error, "request cancelled");
        EXPECT_LT(r.elapsed_ms, kTimeoutMs / 2);
        EXPECT_EQ(get(url, kTimeoutMs, &cancel).error, "request cancelled");
    }
    server.release_stalls();
}

// Reached by address, so for the other host's certificate the address check
// is the one that fails (64); the unknown CA has no local issuer (20).
TEST_F(HttpTls, BadCertificatesFailVerificationSayingWhy) {
    const std::regex shape(R"(TLS verification failed: \d+ [^(]+ \(roots=\d+ parsed=\d+ seen=\d+\))");
    for (auto [server, start] : {std::pair{&peers->other_host, "TLS verification failed: 64 IP address mismatch ("},
                                 std::pair{&peers->untrusted, "TLS verification failed: 20 "}}) {
        GetResult r = get(server->https_url("file.bin"));
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(std::regex_match(r.error, shape)) << r.error;
        EXPECT_TRUE(r.error.starts_with(start)) << r.error;
    }
}

// All sixteen race to create the context while another thread keeps
// releasing it: no request may lose it from under itself.
TEST_F(HttpThreads, SixteenConcurrentHttpsGetsShareOneContext) {
    constexpr int kThreads = 16;
    http_client_shutdown();
    std::atomic<int> ready{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            GetResult r = get(peers->good.https_url("file.bin"));
            EXPECT_TRUE(r.ok && r.body == peers->content) << r.error;
        });
    }
    std::thread releaser([&] {
        while (!done.load()) {
            http_client_shutdown();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    for (std::thread& thread : threads) thread.join();
    done = true;
    releaser.join();
    HttpTlsCounters counters = http_tls_counters();  // the trust store was really read
    EXPECT_GE(counters.roots, 1);
    EXPECT_GE(counters.parsed, counters.roots);
    EXPECT_GE(counters.seen, counters.parsed);
}
