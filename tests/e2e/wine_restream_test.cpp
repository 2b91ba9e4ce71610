// The Windows build end to end: veltrona-cli.exe, run by Wine, restreams a
// live HLS stream from nginx over HTTPS to nginx-rtmp over RTMPS (the
// overlay and MP4 suites run theirs under Wine too), serving its figures
// to --metrics on the way. Each test has a fresh
// Wine prefix under the build folder; the test CA goes into its
// local-machine "ROOT" store (trust_root.exe), which Schannel trusts there.
// And veltrona.exe, on an Xvfb display of the test's own, started and
// stopped from its window by another process's messages (press_start_stop.exe).
// Skipped when the Windows build or Wine is missing (scripts/build windows).
#include <algorithm>
#include <cstdlib>

#include "e2e/cli_driver.h"
#include "net/http_client.h"
#include "support/media_fixtures.h"
#include "support/test_ca.h"
#include "support/wait.h"

namespace {

constexpr uint32_t STREAMED_SECONDS = 20;

class WineRestreamTest : public E2eTest {
  protected:
    void SetUp() override {
        if (!use_wine()) GTEST_SKIP() << "needs Wine and the Windows build (scripts/build windows)";
    }

    // nginx with RTMPS and HTTPS too, with the test CA's certificate, that
    // CA trusted in the prefix; or, when `untrusted`, a certificate from a CA
    // nobody trusts.
    void start_tls_nginx(bool untrusted) {
        ASSERT_TRUE(ca_.create(dir.path()));
        if (!untrusted) {
            std::string out;
            ASSERT_EQ(run_command({WINE, WINDOWS_BUILD + "/trust_root.exe", "Z:" + ca_.ca_cert}, &out, 120), 0) << out;
        }
        NginxOptions tls = {.rtmp = true, .http = true, .rtmps = true, .https = true};
        tls.cert = untrusted ? ca_.untrusted_cert : ca_.server_cert;
        tls.key = untrusted ? ca_.untrusted_key : ca_.server_key;
        start_nginx(tls);
    }

    // Starts `run --seconds SECONDS more...` of a Direct workflow from `source` to `output`.
    uint32_t start_run(const std::string& source, const std::string& output, uint32_t seconds,
                       std::vector<std::string> more = {}) {
        more.insert(more.begin(), {"--seconds", std::to_string(seconds)});
        return add_and_run(workflow_options(source, output), more);
    }

    TestCa ca_;
};

TEST_F(WineRestreamTest, HttpsSourceToRtmpsWithTheCaInTheRootStore) {
    start_tls_nginx(false);
    start_live();
    const std::string metrics = "127.0.0.1:" + std::to_string(free_loopback_port());
    ASSERT_NE(start_run(nginx.https_url("live.m3u8"), nginx.rtmps_url("secretkey1"), STREAMED_SECONDS,
                        {"--metrics", metrics}),
              0u);
    ASSERT_TRUE(cli.wait_for_state("STREAMING", 30000)) << cli.output();
    // The Windows build serves the figures as well.
    ByteBuffer body;
    uint32_t status = 0;
    char error[256] = "";
    EXPECT_TRUE(http_get("http://" + metrics + "/metrics", 10000, &body, &status, error)) << status << " " << error;
    const std::string answer(reinterpret_cast<const char*>(body.data), body.size);
    byte_buffer_free(&body);
    EXPECT_NE(answer.find(",state=\"STREAMING\"} 1\n"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("secretkey1"), std::string::npos) << answer;
    wait_run_end(STREAMED_SECONDS + 30, 0);
    expect_states({"RESOLVING", "STREAMING", "STOPPED"});
    std::string flv = nginx.recording("secretkey1");
    expect_clean_flv(flv, "h264,aac");
    EXPECT_GT(probe_duration(flv), STREAMED_SECONDS / 2.0);
    EXPECT_FALSE(recording_ts().empty());
}

// Verification is real: a certificate from a CA the prefix does not trust
// never gets as far as streaming, and the error says why (HTTPS or RTMPS,
// whichever the engine reaches first, in one of its attempts).
TEST_F(WineRestreamTest, UntrustedCertificateIsRefused) {
    start_tls_nginx(true);
    ASSERT_NE(start_run(nginx.https_url("live.m3u8"), nginx.rtmps_url("secretkey1"), 12), 0u);
    EXPECT_EQ(cli.wait_exit(60000), 0) << cli.output();
    EXPECT_NE(cli.output().find("verification failed: "), std::string::npos) << cli.output();
    EXPECT_EQ(cli.wait_for_state("STREAMING", 0), std::nullopt) << cli.output();
}

// Xvfb prints the display it took on stdout, one number on its own line.
std::string display_number(const std::string& output) {
    for (size_t at = 0, end; at < output.size(); at = end + 1) {
        end = std::min(output.find('\n', at), output.size());
        const std::string line = output.substr(at, end - at);
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) return line;
    }
    return "";
}

// The desktop program needs a display from the prefix's first call on,
// the one that starts its server.
class WineWindowTest : public WineRestreamTest {
  protected:
    void SetUp() override {
        const std::string log = dir.file("xvfb.out");
        ASSERT_TRUE(xvfb_.start({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, log));
        std::string display;
        ASSERT_TRUE(wait_until([&] { return !(display = display_number(read_file(log))).empty(); }, 10000))
            << read_file(log);
        setenv("DISPLAY", (":" + display).c_str(), 1);
        WineRestreamTest::SetUp();
    }
    void TearDown() override {
        WineRestreamTest::TearDown();
        unsetenv("DISPLAY");
        xvfb_.stop();
    }
    Child xvfb_;
};

TEST_F(WineWindowTest, StartedAndStoppedFromTheWindow) {
    constexpr uint32_t seconds = 10;
    start_nginx();
    start_live();
    // The command-line program and the window share the default data folder.
    ASSERT_NE(cli_add({WINE, WINDOWS_BUILD + "/veltrona-cli.exe"},
                      workflow_options(nginx.http_url("live.m3u8"), nginx.rtmp_url("secretkey1"))),
              0u);
    Child program;
    ASSERT_TRUE(program.start({WINE, WINDOWS_BUILD + "/veltrona.exe"}, dir.file("veltrona.out")));
    std::string out;
    EXPECT_EQ(run_command({WINE, WINDOWS_BUILD + "/press_start_stop.exe", std::to_string(seconds)}, &out, 150), 0)
        << out;
    EXPECT_TRUE(wait_until([&] { return !program.running(); }, 30000)) << "the window did not close";
    end_live();
    nginx.stop();
    const std::string flv = nginx.recording("secretkey1");
    expect_clean_flv(flv, "h264,aac");
    EXPECT_GT(probe_duration(flv), seconds / 2.0);
}

}  // namespace
