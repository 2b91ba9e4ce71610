// nginx configuration for tests. Every path nginx might write (pid, logs,
// temp folders) is kept inside the test's folder; "user root" lets workers
// write recordings when the tests run as root.
#include "support/nginx_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

std::string config_text(const std::string& prefix, const NginxServer& s, const NginxOptions& o) {
    std::string c;
    c += "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n";
    c += "load_module /usr/lib/nginx/modules/ngx_stream_module.so;\n";
    if (geteuid() == 0) c += "user root;\n";
    c += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    c += "pid " + prefix + "/nginx.pid;\nerror_log " + s.error_log + " info;\n";
    c += "events { worker_connections 256; }\n";
    if (o.rtmp || o.rtmps) {
        c += "rtmp { server { listen 127.0.0.1:" + std::to_string(s.rtmp_port) + "; chunk_size 4096;\n";
        c += "  application live { live on; record all; record_path " + s.record_dir + "; record_unique on; }\n} }\n";
    }
    if (o.rtmps) {
        c += "stream { server { listen 127.0.0.1:" + std::to_string(s.rtmps_port) + " ssl;\n";
        c += "  ssl_certificate " + o.cert + "; ssl_certificate_key " + o.key + ";\n";
        c += "  proxy_pass 127.0.0.1:" + std::to_string(s.rtmp_port) + "; } }\n";
    }
    if (o.http || o.https) {
        c += "http {\n  access_log " + prefix + "/access.log;\n";
        for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
            c += std::string("  ") + temp + "_temp_path " + prefix + "/" + temp + ";\n";
        }
        c += "  types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }\n  sendfile on;\n";
        if (o.http) {
            c += "  server { listen 127.0.0.1:" + std::to_string(s.http_port) + "; root " + s.www_dir + "; " +
                 o.http_locations + " }\n";
        }
        if (o.https) {
            c += "  server { listen 127.0.0.1:" + std::to_string(s.https_port) + " ssl; root " + s.www_dir + ";\n";
            c += "    ssl_certificate " + o.cert + "; ssl_certificate_key " + o.key + "; }\n";
        }
        c += "}\n";
    }
    return c;
}

}  // namespace

bool NginxServer::start(const std::string& folder, const NginxOptions& options) {
    prefix_ = folder;
    record_dir = folder + "/records";
    www_dir = folder + "/www";
    error_log = folder + "/error.log";
    mkdir(record_dir.c_str(), 0777);
    mkdir(www_dir.c_str(), 0755);
    if (options.rtmp || options.rtmps) rtmp_port = free_loopback_port();
    if (options.rtmps) rtmps_port = free_loopback_port();
    if (options.http) http_port = free_loopback_port();
    if (options.https) https_port = free_loopback_port();
    conf_path_ = folder + "/nginx.conf";
    std::ofstream(conf_path_) << config_text(folder, *this, options);
    return launch();
}

bool NginxServer::launch() {
    bool up = child_.start({"nginx", "-c", conf_path_, "-p", prefix_ + "/", "-e", error_log}, prefix_ + "/nginx.out");
    for (uint16_t port : {rtmp_port, rtmps_port, http_port, https_port})
        up = up && (port == 0 || wait_for_port(port, 10000));
    if (!up) stop();
    return up;
}

std::string NginxServer::recording(const std::string& stream) const {
    std::string found;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(record_dir, ignored)) {
        std::string name = entry.path().filename().string();
        if ((stream.empty() || name.starts_with(stream + "-")) && name.ends_with(".flv")) found = entry.path().string();
    }
    return found;
}
