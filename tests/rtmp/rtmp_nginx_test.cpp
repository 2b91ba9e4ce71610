// Publishing to a real RTMP server (nginx with the RTMP module), plain and
// behind nginx's TLS front: every tag of a short ffmpeg-made FLV must come
// out of nginx's recorder as the same H.264 + AAC packets, and the TLS
// refusals must say why without the stream key. (A refused connect or
// publish is the scripted exchange's test.)
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "rtmp/rtmp_publisher.h"
#include "support/child.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"
#include "support/wait.h"

namespace {

const std::string KEY = "tv-secret-0123";

std::string probe(const std::string& file) {
    std::string out;
    run_command({"ffprobe", "-v", "error", "-count_packets", "-show_entries", "stream=codec_name,nb_read_packets",
                 "-of", "csv=p=0", file},
                &out, 60);
    return out;
}

class RtmpNginx : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        shared_ = std::make_unique<TempDir>();
        const std::string ts = shared_->file("clip.ts"), flv = shared_->file("clip.flv");
        int rc = make_clip(ts, {.seconds = 3})
                     ? run_command({"ffmpeg", "-v", "error", "-y", "-i", ts, "-c", "copy", flv})
                     : 1;
        tags_ok_ = rc == 0 && flv_read_tags(read_file(flv), &tags_);
        ca_ok_ = ca_.create(shared_->path());
    }
    static void TearDownTestSuite() { shared_.reset(); }
    void SetUp() override {
        ASSERT_TRUE(tags_ok_) << "ffmpeg could not make the FLV fixture";
        ASSERT_TRUE(ca_ok_) << "openssl could not make the test CA";
        ca_.trust();
    }
    void TearDown() override { ca_.restore(); }

    // TLS in front when `cert` is given.
    void start_nginx(NginxServer* nginx, const std::string& folder, const std::string& cert = "",
                     const std::string& key = "") {
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(nginx->start(folder, {.rtmp = true, .rtmps = !cert.empty(), .cert = cert, .key = key}))
            << read_file(nginx->error_log);
    }

    // Sends every audio/video tag with its own timestamp; once nginx logged
    // the disconnect, stopping it completes the recording for ffprobe.
    void publish_and_check(NginxServer* nginx, const std::string& url) {
        char error[256] = "";
        RtmpPublisherPtr publisher(rtmp_open(url, 20000, error));
        ASSERT_NE(publisher, nullptr) << error;
        for (const FlvFileTag& tag : tags_) {
            if (tag.type != RTMP_TYPE_AUDIO && tag.type != RTMP_TYPE_VIDEO) continue;
            ASSERT_TRUE(rtmp_send_media(publisher.get(), tag.type, tag.timestamp, tag.body, error)) << error;
        }
        publisher.reset();
        auto disconnected = [&] {
            const std::string log = read_file(nginx->error_log);
            return log.find(" disconnect", log.find("publish: ")) != std::string::npos;
        };
        wait_until(disconnected, 10000);
        nginx->stop();
        std::string source = probe(shared_->file("clip.flv"));
        EXPECT_NE(source.find("h264,"), std::string::npos) << source;
        EXPECT_NE(source.find("aac,"), std::string::npos) << source;
        EXPECT_EQ(nginx->recording().empty() ? "no recording" : probe(nginx->recording()), source);
    }

    TempDir dir_;
    static inline std::unique_ptr<TempDir> shared_;
    static inline std::vector<FlvFileTag> tags_;
    static inline bool tags_ok_ = false, ca_ok_ = false;
    static inline TestCa ca_;
};

}  // namespace

// RTMPS by name rather than address: SNI is sent and the name is checked
// against the certificate's DNS entries (addresses: the refusals below).
TEST_F(RtmpNginx, PublishesOverRtmpAndRtmps) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "RTMPS" : "RTMP");
        NginxServer nginx;
        start_nginx(&nginx, dir_.file(tls ? "rtmps" : "rtmp"), tls ? ca_.server_cert : "", tls ? ca_.server_key : "");
        publish_and_check(&nginx, tls ? "rtmps://localhost:" + std::to_string(nginx.rtmps_port) + "/live/" + KEY
                                      : nginx.rtmp_url(KEY));
    }
}

// 64: the address does not match; 20: no local issuer. The whole message, so
// never the key.
TEST_F(RtmpNginx, RtmpsRefusesWrongHostAndUnknownCa) {
    for (auto [cert, key, code] : {std::tuple{ca_.other_host_cert, ca_.other_host_key, "64"},
                                   std::tuple{ca_.untrusted_cert, ca_.untrusted_key, "20"}}) {
        NginxServer nginx;
        start_nginx(&nginx, dir_.file(code), cert, key);
        char error[256] = "";
        EXPECT_FALSE(RtmpPublisherPtr(rtmp_open(nginx.rtmps_url(KEY), 20000, error)));
        EXPECT_EQ(std::string(error), std::string("RTMPS certificate verification failed: ") + code);
    }
}
