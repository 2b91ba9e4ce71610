// Publishing URL rules, one row per case.
#include "rtmp/rtmp_url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct UrlCase {
    std::string url;
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
        {"rtmp://host/app/key", "host", "app", "key", "rtmp://host:1935/app", 1935, false},
        {"RTMPS://host/app/key", "host", "app", "key", "rtmps://host:443/app", 443, true},
        {"rtmp://host:19350/live/a/b?x=1", "host", "live", "a/b?x=1", "rtmp://host:19350/live", 19350, false},
        {"rtmps://h:0/a/k", "h", "a", "k", "rtmps://h:0/a", 0, true},
        {"rtmp://h:+80/a/k", "h", "a", "k", "rtmp://h:80/a", 80, false},
        {"rtmp://h:12ab/a/k", "h", "a", "k", "rtmp://h:12/a", 12, false},
        {"rtmp://h:/a/k", "h", "a", "k", "rtmp://h:0/a", 0, false},
        {"rtmp://h:65537/a/k", "h", "a", "k", "rtmp://h:1/a", 1, false},
        {"rtmp://h:1234567/a/k", "h", "a", "k", "rtmp://h:54919/a", 54919, false},
        {"rtmp://[::1]:1940/a/k", "::1", "a", "k", "rtmp://[::1]:1940/a", 1940, false},
        {"rtmp://[::1]/a/k", "::1", "a", "k", "rtmp://[::1]:1935/a", 1935, false},
        {"rtmp://" + host255 + "/a/k", host255, "a", "k", "rtmp://" + host255 + ":1935/a", 1935, false},
        {"rtmp://h/" + app511 + "/k", "h", app511, "k", "rtmp://h:1935/" + app511, 1935, false},
        {"rtmp://h/a/" + repeat('k', 3000), "h", "a", repeat('k', 2047), "rtmp://h:1935/a", 1935, false},  // key cut
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.url.substr(0, 80));
        RtmpUrl url;
        ASSERT_TRUE(rtmp_parse_url(c.url, &url));
        EXPECT_EQ(url.host, c.host);
        EXPECT_EQ(url.app, c.app);
        EXPECT_EQ(url.stream_key, c.key);
        EXPECT_EQ(url.tc_url, c.tc_url);
        EXPECT_EQ(url.port, c.port);
        EXPECT_EQ(url.tls, c.tls);
    }
}

TEST(RtmpUrl, RefusesUrlsWithoutHostAppOrKey) {
    RtmpUrl url;
    for (const char* text :
         {"rtmp://host/app", "rtmp://host/app/", "rtmp://host", "rtmp://:1935/app/k", "rtmp://h:12345678/app/k",
          "rtmp://h//k", "http://h/a/k", "rtmpx://h/a/k", "", "rtmp://[::1/a/k", "rtmp://[::1]x/a/k"}) {
        EXPECT_FALSE(rtmp_parse_url(text, &url)) << text;
    }
    EXPECT_FALSE(rtmp_parse_url("rtmp://" + repeat('h', 256) + "/a/k", &url));
    EXPECT_FALSE(rtmp_parse_url("rtmp://h/" + repeat('a', 512) + "/k", &url));
}
