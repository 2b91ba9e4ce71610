// nginx as a test peer, on loopback ports chosen at start-up:
//   rtmp   the RTMP module, application "live", recording every publish
//          (record all, record_unique) into record_dir
//   rtmps  the stream module terminating TLS in front of the RTMP port
//   http / https  serving www_dir (m3u8 and ts types)
// One process (master_process off, daemon off), stopped by its PID. The same
// object can be stopped and started again on the same ports, which is how a
// test makes a server go away and come back.
#pragma once

#include <cstdint>
#include <string>

#include "support/child.h"

struct NginxOptions {
    bool rtmp = false;
    bool http = false;
    // TLS listeners; need the certificate and key.
    bool rtmps = false;
    bool https = false;
    std::string cert = "", key = "";
    std::string http_locations = "";  // more directives for the plain HTTP server (e.g. a location)
};

class NginxServer {
  public:
    ~NginxServer() { stop(); }

    // Writes the configuration under `folder` and starts nginx; false (with
    // the reason in error_log) when it did not come up within 10 seconds.
    bool start(const std::string& folder, const NginxOptions& options);
    // Starts again with the configuration and ports of the last start().
    bool restart() { return launch(); }
    void stop() { child_.stop(5000); }

    uint16_t rtmp_port = 0, rtmps_port = 0, http_port = 0, https_port = 0;
    std::string record_dir;  // <folder>/records
    std::string www_dir;     // <folder>/www
    std::string error_log;   // <folder>/error.log

    // The file nginx recorded for a publish of `stream` ("" when none); with
    // an empty `stream`, any recording.
    std::string recording(const std::string& stream = "") const;

    std::string rtmp_url(const std::string& stream) const { return url("rtmp", rtmp_port, "live/" + stream); }
    std::string rtmps_url(const std::string& stream) const { return url("rtmps", rtmps_port, "live/" + stream); }
    std::string http_url(const std::string& file) const { return url("http", http_port, file); }
    std::string https_url(const std::string& file) const { return url("https", https_port, file); }

  private:
    static std::string url(const char* scheme, uint16_t port, const std::string& path) {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + "/" + path;
    }
    bool launch();
    std::string conf_path_, prefix_;
    Child child_;
};
