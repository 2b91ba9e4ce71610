// Publishing URL rules, one row per case.
#include "rtmp/rtmp_url.h"

#include <gtest/gtest.h>

#include <string>

TEST(RtmpUrl, TableOfRules) {
    const std::string host255 = std::string(255, 'h'), app511 = std::string(511, 'a');
    const std::tuple<std::string, std::string, std::string, std::string, std::string, uint16_t, bool> cases[] = {
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
        {"rtmp://h/a/" + std::string(3000, 'k'), "h", "a", std::string(2047, 'k'), "rtmp://h:1935/a", 1935,
         false},  // key cut
    };
    for (const auto& [text, host, app, key, tc_url, port, tls] : cases) {
        SCOPED_TRACE(text.substr(0, 80));
        RtmpUrl url;
        ASSERT_TRUE(rtmp_parse_url(text, &url));
        EXPECT_EQ(std::tie(url.host, url.app, url.stream_key, url.tc_url, url.port, url.tls),
                  std::tie(host, app, key, tc_url, port, tls));
    }
}

TEST(RtmpUrl, RefusesUrlsWithoutHostAppOrKey) {
    RtmpUrl url;
    for (const char* text :
         {"rtmp://host/app", "rtmp://host/app/", "rtmp://host", "rtmp://:1935/app/k", "rtmp://h:12345678/app/k",
          "rtmp://h//k", "http://h/a/k", "rtmpx://h/a/k", "", "rtmp://[::1/a/k", "rtmp://[::1]x/a/k"}) {
        EXPECT_FALSE(rtmp_parse_url(text, &url)) << text;
    }
    EXPECT_FALSE(rtmp_parse_url("rtmp://" + std::string(256, 'h') + "/a/k", &url));
    EXPECT_FALSE(rtmp_parse_url("rtmp://h/" + std::string(512, 'a') + "/k", &url));
}
