// The Windows build end to end: veltrona-cli.exe, run by Wine, restreams a
// live HLS stream that nginx serves to nginx-rtmp, over plain HTTP and RTMP
// and over HTTPS and RTMPS. Each test has a fresh Wine prefix under the
// build folder; for TLS the test CA goes into that prefix's local-machine
// "ROOT" store (trust_root.exe), which is what Schannel trusts there.
// Skipped when the Windows build or Wine is missing (scripts/build windows).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "e2e/cli_driver.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace {

constexpr const char* WINE = "/usr/lib/wine/wine64";
constexpr const char* WINESERVER = "/usr/lib/wine/wineserver64";
constexpr uint32_t STREAMED_SECONDS = 20;
const std::string WINDOWS_BUILD = std::string(VELTRONA_SOURCE_DIR) + "/build/windows";

class WineRestreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access((WINDOWS_BUILD + "/veltrona-cli.exe").c_str(), R_OK) != 0 || access(WINE, X_OK) != 0) {
            GTEST_SKIP() << "needs Wine and the Windows build (scripts/build windows)";
        }
        prefix_ = WINDOWS_BUILD + "/wine-e2e-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(prefix_);
        setenv("WINEPREFIX", prefix_.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        data_dir_ = dir_.file("data");
        // The prefix is made here, so Wine's notes stay out of the program's output.
        std::string out;
        ASSERT_EQ(run_command({WINE, "wineboot", "-i"}, &out, 120), 0) << out;
    }
    void TearDown() override {
        if (prefix_.empty()) return;
        // The prefix's server ends with the test.
        (void)run_command({WINESERVER, "-k"}, nullptr, 30);
        unsetenv("WINEPREFIX");
    }

    // The program under Wine with the data folder as a Windows path.
    std::vector<std::string> program() const {
        return {WINE, WINDOWS_BUILD + "/veltrona-cli.exe", "--data-dir", "Z:" + data_dir_};
    }

    // nginx with RTMP and HTTP, and for `tls` also RTMPS and HTTPS with the
    // test CA's certificate, that CA trusted in the prefix unless `untrusted`
    // (then the certificate comes from a CA nobody trusts).
    void start_nginx(bool tls, bool untrusted = false) {
        NginxOptions options;
        options.rtmp = options.http = true;
        if (tls) {
            ASSERT_TRUE(ca_.create(dir_.path()));
            options.rtmps = options.https = true;
            options.cert = untrusted ? ca_.untrusted_cert : ca_.server_cert;
            options.key = untrusted ? ca_.untrusted_key : ca_.server_key;
        }
        if (tls && !untrusted) {
            std::string out;
            ASSERT_EQ(run_command({WINE, WINDOWS_BUILD + "/trust_root.exe", "Z:" + ca_.ca_cert}, &out, 120), 0) << out;
        }
        ASSERT_TRUE(nginx_.start(dir_.path(), options)) << read_file(nginx_.error_log);
    }

    // A Direct workflow from `source` to `output`; its id as text ("0" when refused).
    std::string add_workflow(const std::string& source, const std::string& output) {
        std::vector<std::string> add = program();
        add.insert(add.end(), {"add", "--type", "direct", "--source-type", "direct", "--name", "Wine", "--source",
                               source, "--output", output});
        std::string out;
        EXPECT_EQ(run_command(add, &out, 120), 0) << out;
        return std::to_string(std::strtoul(out.c_str(), nullptr, 10));
    }

    void restream_and_check(const std::string& source, const std::string& output) {
        LiveHls live;
        ASSERT_TRUE(live.start(nginx_.www_dir, 90));
        ASSERT_TRUE(live.wait_for_segments(2, 20000));
        std::string id = add_workflow(source, output);
        ASSERT_NE(id, "0");

        CliProcess cli;
        ASSERT_TRUE(cli.start_command(program(), dir_.path(), {"--seconds", std::to_string(STREAMED_SECONDS), id}));
        ASSERT_TRUE(cli.wait_for_state("STREAMING", 30000)) << cli.output();
        EXPECT_EQ(cli.wait_exit((STREAMED_SECONDS + 30) * 1000), 0) << cli.output();
        live.end();
        nginx_.stop();  // nginx finishes the FLV file

        std::vector<std::string> states = cli.states();
        EXPECT_TRUE(in_order(states, {"RESOLVING", "STREAMING", "STOPPED"})) << cli.output();
        EXPECT_EQ(std::count(states.begin(), states.end(), "ERROR"), 0) << cli.output();
        std::string flv = nginx_.recording("secretkey1");
        ASSERT_FALSE(flv.empty());
        EXPECT_EQ(probe_codecs(flv), "h264,aac");
        EXPECT_GT(probe_duration(flv), STREAMED_SECONDS / 2.0);
        EXPECT_TRUE(never_goes_back(probe_dts(flv, 'v')));
        EXPECT_TRUE(never_goes_back(probe_dts(flv, 'a')));
        EXPECT_FALSE(only_file_with_suffix(data_dir_ + "/recordings", ".ts").empty());
    }

    TempDir dir_;
    TestCa ca_;
    NginxServer nginx_;
    std::string prefix_, data_dir_;
};

TEST_F(WineRestreamTest, HttpSourceToRtmp) {
    start_nginx(false);
    restream_and_check(nginx_.http_url("live.m3u8"), nginx_.rtmp_url("secretkey1"));
}

TEST_F(WineRestreamTest, HttpsSourceToRtmpsWithTheCaInTheRootStore) {
    start_nginx(true);
    restream_and_check(nginx_.https_url("live.m3u8"), nginx_.rtmps_url("secretkey1"));
}

// Verification is real: a certificate from a CA the prefix does not trust
// never gets as far as streaming, and the error says why (HTTPS or RTMPS,
// whichever the engine reaches first, in one of its attempts).
TEST_F(WineRestreamTest, UntrustedCertificateIsRefused) {
    start_nginx(true, true);
    std::string id = add_workflow(nginx_.https_url("live.m3u8"), nginx_.rtmps_url("secretkey1"));
    ASSERT_NE(id, "0");
    CliProcess cli;
    ASSERT_TRUE(cli.start_command(program(), dir_.path(), {"--seconds", "12", id}));
    EXPECT_EQ(cli.wait_exit(60000), 0) << cli.output();
    EXPECT_NE(cli.output().find("verification failed: "), std::string::npos) << cli.output();
    EXPECT_EQ(cli.wait_for_state("STREAMING", 0), std::nullopt) << cli.output();
}

}  // namespace
