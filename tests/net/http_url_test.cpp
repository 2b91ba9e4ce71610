// URL splitting and the request text built from it.
#include "net/http_url.h"

#include <gtest/gtest.h>

#include "net/http_message.h"

TEST(HttpUrl, SplitsHostPortAndPath) {
    const std::tuple<const char*, const char*, uint16_t, bool, const char*> cases[] = {
        {"http://example.com", "example.com", 80, false, "/"},
        {"HTTPS://Example.com/live/index.m3u8?token=a/b#x", "Example.com", 443, true, "/live/index.m3u8?token=a/b#x"},
        {"https://127.0.0.1:8443/a", "127.0.0.1", 8443, true, "/a"},
        {"http://h:65535/", "h", 65535, false, "/"},
        {"http://[::1]:8080/x", "::1", 8080, false, "/x"},
        {"http://[::1]/x", "::1", 80, false, "/x"},
        {"http://h/a b", "h", 80, false, "/a b"},
    };
    for (const auto& [text, host, port, tls, path] : cases) {
        HttpUrl url;
        ASSERT_TRUE(http_parse_url(text, &url)) << text;
        EXPECT_EQ(std::tie(url.host, url.port, url.tls, url.path), std::tie(host, port, tls, path)) << text;
    }
}

// A port of 70000 would wrap to another port; CR LF would inject a header.
TEST(HttpUrl, RefusesOtherSchemesMissingHostsBadPortsAndLineBreaks) {
    for (const char* text : {"ftp://h/a", "http://", "http:///path", "http://:80/", "http://h:/", "http://h:0/",
                             "http://h:70000/", "http://h:12345678/", "http://h:80x/", "http://h\r\nX-Injected: 1/",
                             "http://h/a\r\nX-Injected: 1", "http://[::1/x"}) {
        HttpUrl url;
        EXPECT_FALSE(http_parse_url(text, &url)) << text;
    }
}

TEST(HttpUrl, AuthorityAndPathLimits) {
    HttpUrl url;
    EXPECT_TRUE(http_parse_url("http://" + std::string(255, 'h') + "/", &url));
    EXPECT_FALSE(http_parse_url("http://" + std::string(256, 'h') + "/", &url));
    EXPECT_TRUE(http_parse_url("http://h/" + std::string(5000, 'p'), &url));
    EXPECT_EQ(url.path.size(), HTTP_URL_PATH_MAX);
}

TEST(HttpUrl, RequestTextCarriesPathAndHostWithItsPort) {
    HttpUrl url;
    ASSERT_TRUE(http_parse_url("http://127.0.0.1:8080/live/a b.ts?x=1", &url));
    EXPECT_EQ(http_format_request(url),
              "GET /live/a%20b.ts?x=1 HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"
              "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
              "Chrome/148.0.0.0 Safari/537.36\r\nAccept: */*\r\nAccept-Encoding: identity\r\n"
              "Connection: close\r\n\r\n");
    // The scheme's own port is left out.
    for (auto [text, host] : {std::pair{"http://[::1]:8080/", "[::1]:8080"},
                              {"http://h:80/", "h"},
                              {"https://h:443/", "h"},
                              {"https://h:80/", "h:80"}}) {
        ASSERT_TRUE(http_parse_url(text, &url));
        EXPECT_NE(http_format_request(url).find("\r\nHost: " + std::string(host) + "\r\n"), std::string::npos) << text;
    }
}
