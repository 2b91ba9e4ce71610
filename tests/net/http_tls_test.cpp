// HTTPS against nginx with the test CA: a certificate for another host, an
// unknown CA, and many byte-exact GETs from many threads sharing one TLS
// client context while it is released under them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <regex>
#include <thread>
#include <vector>

#include "net/http_client.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace {

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

bool fetch(const std::string& url, std::string* body, std::string* error) {
    ByteBuffer buffer;
    uint32_t status = 0;
    char text[512];
    bool ok = http_get(url, 20000, &buffer, &status, text);
    body->assign(byte_buffer_text(buffer));
    *error = text;
    byte_buffer_free(&buffer);
    return ok;
}

}  // namespace

// Reached by address, so for the other host's certificate the address check
// is the one that fails (64); the unknown CA has no local issuer (20).
TEST_F(HttpTls, BadCertificatesFailVerificationSayingWhy) {
    const std::regex shape(R"(TLS verification failed: \d+ [^(]+ \(roots=\d+ parsed=\d+ seen=\d+\))");
    for (auto [server, start] : {std::pair{&peers->other_host, "TLS verification failed: 64 IP address mismatch ("},
                                 std::pair{&peers->untrusted, "TLS verification failed: 20 "}}) {
        std::string body, error;
        EXPECT_FALSE(fetch(server->https_url("file.bin"), &body, &error));
        EXPECT_TRUE(std::regex_match(error, shape)) << error;
        EXPECT_TRUE(error.starts_with(start)) << error;
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
            std::string body, error;
            EXPECT_TRUE(fetch(peers->good.https_url("file.bin"), &body, &error) && body == peers->content) << error;
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
