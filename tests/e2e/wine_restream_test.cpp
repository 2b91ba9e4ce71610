// The Windows build end to end: veltrona-cli.exe, run by Wine, restreams a
// live HLS stream that nginx serves to nginx-rtmp, over plain HTTP and RTMP
// and over HTTPS and RTMPS. Each test has a fresh Wine prefix under the
// build folder; for TLS the test CA goes into that prefix's local-machine
// "ROOT" store (trust_root.exe), which is what Schannel trusts there.
// Skipped when the Windows build or Wine is missing (scripts/build windows).
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "e2e/cli_driver.h"
#include "support/media_fixtures.h"
#include "support/test_ca.h"

namespace {

constexpr const char* WINE = "/usr/lib/wine/wine64";
constexpr const char* WINESERVER = "/usr/lib/wine/wineserver64";
constexpr uint32_t STREAMED_SECONDS = 20;
const std::string WINDOWS_BUILD = std::string(VELTRONA_SOURCE_DIR) + "/build/windows";

class WineRestreamTest : public E2eTest {
  protected:
    void SetUp() override {
        if (access((WINDOWS_BUILD + "/veltrona-cli.exe").c_str(), R_OK) != 0 || access(WINE, X_OK) != 0) {
            GTEST_SKIP() << "needs Wine and the Windows build (scripts/build windows)";
        }
        prefix_ = WINDOWS_BUILD + "/wine-e2e-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(prefix_);
        setenv("WINEPREFIX", prefix_.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        // The prefix is made here, so Wine's notes stay out of the program's output.
        std::string out;
        ASSERT_EQ(run_command({WINE, "wineboot", "-i"}, &out, 120), 0) << out;
    }
    void TearDown() override {
        if (prefix_.empty()) return;
        (void)run_command({WINESERVER, "-k"}, nullptr, 30);  // the prefix's server ends with the test
        unsetenv("WINEPREFIX");
    }

    // The program under Wine with the data folder as a Windows path.
    Program wine_program() const { return {WINE, WINDOWS_BUILD + "/veltrona-cli.exe", "--data-dir", "Z:" + data_dir}; }

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

    // Starts `run --seconds SECONDS` of a Direct workflow from `source` to `output`.
    uint32_t start_run(const std::string& source, const std::string& output, uint32_t seconds) {
        return add_and_run(workflow_options(source, output), {"--seconds", std::to_string(seconds)}, wine_program());
    }

    void restream_and_check(const std::string& source, const std::string& output) {
        start_live();
        ASSERT_NE(start_run(source, output, STREAMED_SECONDS), 0u);
        ASSERT_TRUE(cli.wait_for_state("STREAMING", 30000)) << cli.output();
        wait_run_end(STREAMED_SECONDS + 30, 0);
        std::vector<std::string> states = cli.states();
        EXPECT_TRUE(in_order(states, {"RESOLVING", "STREAMING", "STOPPED"})) << cli.output();
        EXPECT_EQ(std::count(states.begin(), states.end(), "ERROR"), 0) << cli.output();
        std::string flv = nginx.recording("secretkey1");
        expect_clean_flv(flv, "h264,aac");
        EXPECT_GT(probe_duration(flv), STREAMED_SECONDS / 2.0);
        EXPECT_FALSE(recording_ts().empty());
    }

    TestCa ca_;
    std::string prefix_;
};

TEST_F(WineRestreamTest, HttpSourceToRtmp) {
    start_nginx();
    restream_and_check(nginx.http_url("live.m3u8"), nginx.rtmp_url("secretkey1"));
}

TEST_F(WineRestreamTest, HttpsSourceToRtmpsWithTheCaInTheRootStore) {
    start_tls_nginx(false);
    restream_and_check(nginx.https_url("live.m3u8"), nginx.rtmps_url("secretkey1"));
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

}  // namespace
