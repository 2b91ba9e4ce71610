// Publishing to a real RTMP server (nginx with the RTMP module), plain and
// behind nginx's TLS front: what we send must come out of nginx's recorder
// as an H.264 + AAC file that ffprobe reads. The media are the tags of a
// short FLV made by ffmpeg when the suite starts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "rtmp/rtmp_publisher.h"
#include "support/child.h"
#include "support/flv_file_reader.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace {

const std::string KEY = "tv-secret-0123";

std::string probe(const std::string& file) {
    std::string out;
    run_command({"ffprobe", "-v", "error", "-count_packets", "-show_entries", "stream=codec_name,nb_read_packets",
                 "-of", "csv=p=0", file},
                &out, 60);
    return out;
}

// nginx logs the publisher's disconnect once it has taken in the last byte.
void wait_for_disconnect(const NginxServer& nginx) {
    uint64_t deadline = tick_ms() + 10000;
    while (tick_ms() < deadline) {
        std::string log = read_file(nginx.error_log);
        size_t publish = log.find("publish: ");
        if (publish != std::string::npos && log.find(" disconnect", publish) != std::string::npos) return;
        usleep(20000);
    }
}

class RtmpNginx : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared_ = std::make_unique<TempDir>();
        std::string flv = shared_->file("clip.flv");
        std::string log;
        int rc = run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                              "testsrc2=size=320x240:rate=30", "-f", "lavfi", "-i", "sine=frequency=440", "-t", "3",
                              "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "30", "-c:a",
                              "aac", "-f", "flv", flv},
                             &log, 120);
        tags_ok_ = rc == 0 && flv_read_tags(read_file(flv), &tags_);
        ca_ok_ = ca_.create(shared_->path());
    }
    static void TearDownTestSuite() {
        ca_.restore();
        shared_.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(tags_ok_) << "ffmpeg could not make the FLV fixture";
        ASSERT_TRUE(ca_ok_) << "openssl could not make the test CA";
        ca_.trust();
    }
    void TearDown() override { ca_.restore(); }

    // Starts nginx in a folder of this test; TLS in front when `cert` is given.
    void start_nginx(NginxServer* nginx, const std::string& cert = "", const std::string& key = "") {
        NginxOptions options;
        options.rtmp = true;
        options.rtmps = !cert.empty();
        options.cert = cert;
        options.key = key;
        ASSERT_TRUE(nginx->start(dir_.path(), options)) << read_file(nginx->error_log);
    }

    // Opens, sends every audio/video tag with its own timestamp, closes.
    void publish_clip(const std::string& url) {
        char error[256] = "";
        RtmpPublisherPtr publisher(rtmp_open(url, 20000, error));
        ASSERT_NE(publisher, nullptr) << error;
        size_t sent = 0;
        for (const FlvFileTag& tag : tags_) {
            if (tag.type != RTMP_TYPE_AUDIO && tag.type != RTMP_TYPE_VIDEO) continue;
            ASSERT_TRUE(rtmp_send_media(publisher.get(), tag.type, tag.timestamp, tag.body, error)) << error;
            ++sent;
        }
        EXPECT_GT(sent, 100u);
    }

    // nginx writes the recording as it goes and closes it on disconnect;
    // stopping nginx makes sure the file is complete before ffprobe looks.
    std::string probe_recording(NginxServer* nginx) {
        wait_for_disconnect(*nginx);
        nginx->stop();
        std::string recording = nginx->recording();
        return recording.empty() ? "no recording" : probe(recording);
    }

    // The recording holds every frame of the clip: the same codecs and
    // packet counts as ffprobe finds in the clip itself.
    void expect_whole_clip(const std::string& recorded) {
        std::string source = probe(shared_->file("clip.flv"));
        EXPECT_NE(source.find("h264,"), std::string::npos) << source;
        EXPECT_NE(source.find("aac,"), std::string::npos) << source;
        EXPECT_EQ(recorded, source);
    }

    TempDir dir_;
    static inline std::unique_ptr<TempDir> shared_;
    static inline std::vector<FlvFileTag> tags_;
    static inline bool tags_ok_ = false, ca_ok_ = false;
    static inline TestCa ca_;
};

std::string open_error(const std::string& url) {
    char error[256] = "";
    RtmpPublisherPtr publisher(rtmp_open(url, 20000, error));
    EXPECT_EQ(publisher, nullptr);
    EXPECT_EQ(std::string(error).find(KEY), std::string::npos) << error;
    return error;
}


}  // namespace

TEST_F(RtmpNginx, PublishesOverRtmp) {
    NginxServer nginx;
    start_nginx(&nginx);
    publish_clip(nginx.rtmp_url(KEY));
    expect_whole_clip(probe_recording(&nginx));
}

TEST_F(RtmpNginx, PublishesOverRtmps) {
    NginxServer nginx;
    start_nginx(&nginx, ca_.server_cert, ca_.server_key);
    publish_clip(nginx.rtmps_url(KEY));
    expect_whole_clip(probe_recording(&nginx));
}

TEST_F(RtmpNginx, RtmpsRefusesWrongHostAndUnknownCa) {
    {
        NginxServer nginx;
        start_nginx(&nginx, ca_.other_host_cert, ca_.other_host_key);
        std::string error = open_error(nginx.rtmps_url(KEY));
        EXPECT_EQ(error, "RTMPS certificate verification failed: 64");  // the address does not match
    }
    {
        NginxServer nginx;
        start_nginx(&nginx, ca_.untrusted_cert, ca_.untrusted_key);
        std::string error = open_error(nginx.rtmps_url(KEY));
        EXPECT_EQ(error, "RTMPS certificate verification failed: 20");  // no local issuer
    }
}

// By name rather than address: SNI is sent and the name is checked against
// the certificate's DNS entries.
TEST_F(RtmpNginx, RtmpsByHostName) {
    NginxServer nginx;
    start_nginx(&nginx, ca_.server_cert, ca_.server_key);
    char error[256] = "";
    RtmpPublisherPtr publisher(
        rtmp_open("rtmps://localhost:" + std::to_string(nginx.rtmps_port) + "/live/" + KEY, 20000, error));
    EXPECT_NE(publisher, nullptr) << error;
}

TEST_F(RtmpNginx, UnknownApplicationIsRefused) {
    NginxServer nginx;
    start_nginx(&nginx);
    std::string url = "rtmp://127.0.0.1:" + std::to_string(nginx.rtmp_port) + "/nosuchapp/" + KEY;
    std::string error = open_error(url);
    EXPECT_TRUE(error == "RTMP server rejected command" || error.starts_with("RTMP server response failed"))
        << error;
}
