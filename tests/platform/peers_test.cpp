// The shared peers come up and answer: nginx RTMP, RTMPS and HTTPS on
// loopback with the test CA.
#include <gtest/gtest.h>

#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

TEST(Peers, NginxServesRtmpRtmpsAndHttps) {
    TempDir dir;
    TestCa ca;
    ASSERT_TRUE(ca.create(dir.path()));
    NginxServer nginx;
    NginxOptions options;
    options.rtmp = options.rtmps = options.http = options.https = true;
    options.cert = ca.server_cert;
    options.key = ca.server_key;
    ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
    write_file(nginx.www_dir + "/a.m3u8", "#EXTM3U\n");
    std::string body;
    EXPECT_EQ(run_command({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(nginx.https_port),
                           "-CAfile", ca.ca_cert, "-verify_return_error", "-brief"},
                          &body, 20),
              0);
    nginx.stop();
    EXPECT_TRUE(nginx.restart());
}
