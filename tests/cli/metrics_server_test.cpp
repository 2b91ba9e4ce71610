// The --metrics endpoint: how its address is written, who may ask, and the
// real server answering on loopback (the Windows build runs this too, on its
// own copy of cpp-httplib; the thread sanitizer, its start and stop).
#include "cli/metrics_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/http_client.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(MetricsAddress, PortsHostsAndIpv6) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        uint16_t port;
        bool loopback;
    };
    for (const Case& c : {
             Case{"9730", true, "127.0.0.1", 9730, true},
             Case{"localhost:8080", true, "127.0.0.1", 8080, true},
             Case{"127.0.0.2:0", true, "127.0.0.2", 0, true},
             Case{"[::1]:9730", true, "::1", 9730, true},
             Case{"0.0.0.0:9730", true, "0.0.0.0", 9730, false},
             Case{"[::]:9730", true, "::", 9730, false},
             Case{"192.168.1.5:9730", true, "192.168.1.5", 9730, false},
             Case{"127.0.0.1.example.com:9730", true, "127.0.0.1.example.com", 9730, false},
             Case{"::1:9730", false, "", 0, false},
             Case{"[::1]9730", false, "", 0, false},
             Case{"host:", false, "", 0, false},
             Case{":9730", false, "", 0, false},
             Case{"65536", false, "", 0, false},
             Case{"97x0", false, "", 0, false},
         }) {
        MetricsAddress address;
        std::string error;
        ASSERT_EQ(metrics_address_parse(c.text, &address, &error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_FALSE(error.empty()) << c.text;
            continue;
        }
        EXPECT_EQ(std::tuple(address.host, address.port, address.loopback), std::tuple(c.host, c.port, c.loopback))
            << c.text;
    }
}

TEST(MetricsAccess, TokenOrALoopbackHost) {
    const MetricsAddress loopback{"127.0.0.1", 9730, true}, any{"0.0.0.0", 9730, false};
    const std::string token = "0123456789abcdef";
    struct Case {
        const MetricsAddress& address;
        std::string token;
        const char* authorization;
        const char* host;
        MetricsAccess access;
    };
    for (const Case& c : {
             Case{loopback, "", "", "127.0.0.1:9730", MetricsAccess::allowed},
             Case{loopback, "", "", "localhost:9730", MetricsAccess::allowed},
             Case{loopback, "", "", "[::1]:9730", MetricsAccess::allowed},
             Case{loopback, "", "", "", MetricsAccess::allowed},  // HTTP/1.0 sends none
             Case{loopback, "", "", "rebound.example:9730", MetricsAccess::forbidden_host},
             Case{loopback, "", "", "127.0.0.1.example:9730", MetricsAccess::forbidden_host},
             Case{any, "", "", "127.0.0.1:9730", MetricsAccess::unauthorized},
             Case{any, token, "", "box:9730", MetricsAccess::unauthorized},
             Case{any, token, "Bearer 0123456789abcdeF", "box:9730", MetricsAccess::unauthorized},
             Case{any, token, "Bearer 0123456789abcde", "box:9730", MetricsAccess::unauthorized},
             Case{any, token, "Basic 0123456789abcdef", "box:9730", MetricsAccess::unauthorized},
             Case{any, token, "Bearer 0123456789abcdef", "box:9730", MetricsAccess::allowed},
             Case{loopback, token, "", "127.0.0.1:9730", MetricsAccess::unauthorized},
         }) {
        EXPECT_EQ(metrics_access(c.address, c.token, c.authorization, c.host), c.access)
            << c.address.host << " " << c.authorization << " " << c.host;
    }
}

struct Answer {
    uint32_t status = 0;
    std::string body;
};

Answer get(uint16_t port, const std::string& path) {
    ByteBuffer body;
    Answer answer;
    char error[256] = "";
    char location[256] = "";
    EXPECT_TRUE(
        http_get_once("http://127.0.0.1:" + std::to_string(port) + path, 10000, &body, &answer.status, location, error))
        << error;
    answer.body.assign(reinterpret_cast<const char*>(body.data), body.size);
    byte_buffer_free(&body);
    return answer;
}

MetricsSource one_workflow() {
    return [] { return std::vector<StatusFields>{{{"id", "7"}, {"name", "Main"}, {"state", "STREAMING"}}}; };
}

TEST(MetricsServerThreads, ServesTheThreeRoutesOnLoopback) {
    MetricsAddress address;
    std::string error;
    ASSERT_TRUE(metrics_address_parse("127.0.0.1:0", &address, &error));
    uint16_t port = 0;
    MetricsServerPtr server = metrics_server_start(address, "", one_workflow(), "1.2.3", &port, &error);
    ASSERT_TRUE(server) << error;
    ASSERT_NE(port, 0);

    const Answer metrics = get(port, "/metrics");
    EXPECT_EQ(metrics.status, 200u);
    EXPECT_THAT(metrics.body,
                HasSubstr("veltrona_workflow_state{workflow=\"7\",name=\"Main\",state=\"STREAMING\"} 1\n"));
    const Answer json = get(port, "/api/v1/workflows");
    EXPECT_EQ(json.status, 200u);
    EXPECT_THAT(json.body, HasSubstr("\"id\":7,\"name\":\"Main\""));
    const Answer page = get(port, "/");
    EXPECT_EQ(page.status, 200u);
    EXPECT_THAT(page.body, HasSubstr("#7 Main <span class=\"good\">STREAMING</span>"));
    EXPECT_EQ(get(port, "/other").status, 404u);

    // The port is this server's until it stops.
    uint16_t again = 0;
    address.port = port;
    EXPECT_FALSE(metrics_server_start(address, "", one_workflow(), "1.2.3", &again, &error));
    EXPECT_THAT(error, HasSubstr("cannot serve metrics on 127.0.0.1:"));
    server.reset();
    EXPECT_TRUE(metrics_server_start(address, "", one_workflow(), "1.2.3", &again, &error)) << error;
}

TEST(MetricsServerThreads, AnyOtherAddressNeedsAToken) {
    MetricsAddress address;
    std::string error;
    ASSERT_TRUE(metrics_address_parse("0.0.0.0:0", &address, &error));
    uint16_t port = 0;
    EXPECT_FALSE(metrics_server_start(address, "", one_workflow(), "1.2.3", &port, &error));
    EXPECT_THAT(error, HasSubstr("needs --metrics-token"));
    EXPECT_FALSE(metrics_server_start(address, "short", one_workflow(), "1.2.3", &port, &error));
    EXPECT_THAT(error, HasSubstr("at least 16 characters"));

    MetricsServerPtr server = metrics_server_start(address, "0123456789abcdef", one_workflow(), "1.2.3", &port, &error);
    ASSERT_TRUE(server) << error;
    for (const char* path : {"/metrics", "/api/v1/workflows", "/"}) {
        const Answer refused = get(port, path);
        EXPECT_EQ(refused.status, 401u) << path;
        EXPECT_THAT(refused.body, Not(HasSubstr("Main"))) << path;
    }
}

}  // namespace
