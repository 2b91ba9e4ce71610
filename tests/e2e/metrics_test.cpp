// The --metrics endpoint of a real run, judged by its real readers: promtool
// accepts /metrics, a Prometheus server started here scrapes it and its
// query API sees an output's bytes rise, and headless Chromium draws the
// status page with the workflow's state. The shipped alerting rules name
// only families it serves, and no answer holds a stream key.
// (Addresses, the token rule and the 401 are the unit tests'.)
#include <cstdlib>
#include <filesystem>

#include "e2e/cli_driver.h"
#include "net/http_client.h"
#include "platform/time/clock.h"
#include "support/app_fixture.h"

namespace {

using MetricsTest = E2eTest;

constexpr const char* KEY_1 = "metricskey111";
constexpr const char* KEY_2 = "metricskey222";

// The body of a GET into `text`; false unless it answered 200.
bool try_fetch(const std::string& url, std::string* text, std::string* error = nullptr) {
    ByteBuffer body;
    uint32_t status = 0;
    char reason[256] = "";
    const bool fetched = http_get(url, 10000, &body, &status, reason);
    text->assign(reinterpret_cast<const char*>(body.data), body.size);
    byte_buffer_free(&body);
    if (error) *error = std::to_string(status) + " " + reason;
    return fetched;
}

std::string fetch(const std::string& url) {
    std::string text, error;
    EXPECT_TRUE(try_fetch(url, &text, &error)) << url << ": " << error;
    return text;
}

// The first sample's value in a Prometheus query answer ("value":[time,"V"]); -1 when none.
double first_value(const std::string& answer) {
    const size_t at = answer.find("\"value\":[");
    const size_t quote = at == std::string::npos ? at : answer.find('"', answer.find(',', at));
    return quote == std::string::npos ? -1 : std::atof(answer.c_str() + quote + 1);
}

TEST_F(MetricsTest, PrometheusScrapesARunAndChromiumShowsItsPage) {
    start_nginx();
    start_live();
    const uint16_t port = free_loopback_port();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const uint32_t id = add_and_run(workflow_options(nginx.http_url("live.m3u8"), nginx.rtmp_url(KEY_1), "direct",
                                                     "direct", {"--output", nginx.rtmp_url(KEY_2)}),
                                    {"--metrics", "127.0.0.1:" + std::to_string(port)});
    ASSERT_NE(id, 0u) << cli.output();
    ASSERT_TRUE(cli.wait_for("Metrics at " + base + "/metrics", 10000)) << cli.output();
    ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();

    const std::string metrics = fetch(base + "/metrics");
    write_file(dir.file("metrics.txt"), metrics);
    EXPECT_EQ(run_command({"sh", "-c", "promtool check metrics < " + dir.file("metrics.txt")}, nullptr, 30), 0)
        << metrics;
    // The shipped alerting rules ask only for families the endpoint has.
    const std::string rules = read_file(std::string(VELTRONA_SOURCE_DIR) + "/deploy/prometheus/veltrona-rules.yml");
    for (size_t at = rules.find("veltrona_"); at != std::string::npos; at = rules.find("veltrona_", at + 1)) {
        const size_t end = rules.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_", at);
        const std::string family = rules.substr(at, end - at);
        EXPECT_NE(metrics.find("# TYPE " + family + " "), std::string::npos) << family;
    }

    const uint16_t prometheus_port = free_loopback_port();
    write_file(dir.file("prometheus.yml"),
               "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: veltrona\n"
               "    static_configs:\n      - targets: ['127.0.0.1:" +
                   std::to_string(port) + "']\n");
    Child prometheus;
    ASSERT_TRUE(prometheus.start(
        {"prometheus", "--config.file=" + dir.file("prometheus.yml"), "--storage.tsdb.path=" + dir.file("tsdb"),
         "--web.listen-address=127.0.0.1:" + std::to_string(prometheus_port)},
        dir.file("prometheus.log")));
    const std::string api = "http://127.0.0.1:" + std::to_string(prometheus_port);
    std::string answer;
    ASSERT_TRUE(wait_until([&] { return try_fetch(api + "/-/ready", &answer); }, 30000))
        << read_file(dir.file("prometheus.log"));
    const std::string query = api + "/api/v1/query?query=veltrona_output_bytes_total%7Boutput%3D%222%22%7D";
    double first = -1, latest = -1;
    EXPECT_TRUE(wait_until(
        [&] {
            latest = try_fetch(query, &answer) ? first_value(answer) : -1;
            if (first < 0) first = latest;
            return first > 0 && latest > first;
        },
        30000))
        << "bytes " << first << " then " << latest << "\n"
        << read_file(dir.file("prometheus.log"));
    (void)prometheus.stop();

    std::string dom;
    const std::vector<std::string> chromium = {"chromium",
                                               "--headless",
                                               "--no-sandbox",
                                               "--disable-gpu",
                                               "--disable-dev-shm-usage",
                                               "--hide-scrollbars",
                                               "--user-data-dir=" + dir.file("chromium"),
                                               "--window-size=1100,520"};
    std::vector<std::string> dump = chromium, picture = chromium;
    dump.insert(dump.end(), {"--dump-dom", base + "/"});
    picture.insert(picture.end(), {"--screenshot=" + dir.file("status-page.png"), base + "/"});
    ASSERT_EQ(run_command(dump, &dom, 60), 0);
    EXPECT_NE(dom.find("<span class=\"good\">STREAMING</span>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("rtmp://127.0.0.1:" + std::to_string(nginx.rtmp_port) + "/live/********"), std::string::npos)
        << dom;
    ASSERT_EQ(run_command(picture, nullptr, 60), 0);
    EXPECT_GT(std::filesystem::file_size(dir.file("status-page.png")), 1000u);
    if (const char* keep = std::getenv("VELTRONA_SCREENSHOT_DIR"))
        std::filesystem::copy_file(dir.file("status-page.png"), std::string(keep) + "/status-page.png",
                                   std::filesystem::copy_options::overwrite_existing);

    for (const std::string& answer : {fetch(base + "/metrics"), fetch(base + "/api/v1/workflows"), dom}) {
        EXPECT_EQ(answer.find(KEY_1), std::string::npos) << answer;
        EXPECT_EQ(answer.find(KEY_2), std::string::npos) << answer;
    }
    stop_run();
}

}  // namespace
