// Publishing URL rules, one row per case.
#include "rtmp/rtmp_url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct UrlCase {
    std::string url;
    bool valid;
    std::string host, app, key, tc_url;
    uint16_t port;
    bool tls;
};

std::string repeat(char c, size_t n) {
    return std::string(n, c);
}

}  // namespace

TEST(RtmpUrl, TableOfRules) {
    const std::string host255 = repeat('h', 255), app511 = repeat('a', 511);
    const UrlCase cases[] = {
        {"rtmp://host/app/key", true, "host", "app", "key", "rtmp://host:1935/app", 1935, false},
        {"RTMPS://host/app/key", true, "host", "app", "key", "rtmps://host:443/app", 443, true},
        {"rtmp://host:19350/live/a/b?x=1", true, "host", "live", "a/b?x=1", "rtmp://host:19350/live", 19350, false},
        {"rtmps://h:0/a/k", true, "h", "a", "k", "rtmps://h:0/a", 0, true},
        {"rtmp://h:+80/a/k", true, "h", "a", "k", "rtmp://h:80/a", 80, false},
        {"rtmp://h:12ab/a/k", true, "h", "a", "k", "rtmp://h:12/a", 12, false},
        {"rtmp://h:/a/k", true, "h", "a", "k", "rtmp://h:0/a", 0, false},
        {"rtmp://h:65537/a/k", true, "h", "a", "k", "rtmp://h:1/a", 1, false},
        {"rtmp://h:1234567/a/k", true, "h", "a", "k", "rtmp://h:54919/a", 54919, false},
        {"rtmp://[::1]:1940/a/k", true, "::1", "a", "k", "rtmp://[::1]:1940/a", 1940, false},
        {"rtmp://[::1]/a/k", true, "::1", "a", "k", "rtmp://[::1]:1935/a", 1935, false},
        {"rtmp://" + host255 + "/a/k", true, host255, "a", "k", "rtmp://" + host255 + ":1935/a", 1935, false},
        {"rtmp://h/" + app511 + "/k", true, "h", app511, "k", "rtmp://h:1935/" + app511, 1935, false},
        {"rtmp://host/app", false, "", "", "", "", 0, false},
        {"rtmp://host/app/", false, "", "", "", "", 0, false},
        {"rtmp://host", false, "", "", "", "", 0, false},
        {"rtmp://:1935/app/k", false, "", "", "", "", 0, false},
        {"rtmp://h:12345678/app/k", false, "", "", "", "", 0, false},
        {"rtmp://" + repeat('h', 256) + "/a/k", false, "", "", "", "", 0, false},
        {"rtmp://h/" + repeat('a', 512) + "/k", false, "", "", "", "", 0, false},
        {"rtmp://h//k", false, "", "", "", "", 0, false},
        {"http://h/a/k", false, "", "", "", "", 0, false},
        {"rtmpx://h/a/k", false, "", "", "", "", 0, false},
        {"", false, "", "", "", "", 0, false},
        {"rtmp://[::1/a/k", false, "", "", "", "", 0, false},
        {"rtmp://[::1]x/a/k", false, "", "", "", "", 0, false},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.url.substr(0, 80));
        RtmpUrl url;
        ASSERT_EQ(rtmp_parse_url(c.url, &url), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(url.host, c.host);
        EXPECT_EQ(url.app, c.app);
        EXPECT_EQ(url.stream_key, c.key);
        EXPECT_EQ(url.tc_url, c.tc_url);
        EXPECT_EQ(url.port, c.port);
        EXPECT_EQ(url.tls, c.tls);
    }
}

TEST(RtmpUrl, LongKeyIsCut) {
    RtmpUrl url;
    ASSERT_TRUE(rtmp_parse_url("rtmp://h/a/" + repeat('k', 3000), &url));
    EXPECT_EQ(url.stream_key, repeat('k', 2047));
}
