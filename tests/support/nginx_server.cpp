// nginx configuration for tests. Every path nginx might write (pid, logs,
// temp folders) is kept inside the test's folder; "user root" lets workers
// write recordings when the tests run as root.
#include "support/nginx_server.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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
        c += "  application live { live on; record all; record_path " + s.record_dir + "; record_unique on; }\n";
        c += "} }\n";
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
        c += "  types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }\n";
        c += "  sendfile on;\n";
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
    options_ = options;
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

bool NginxServer::restart() {
    return launch();
}

bool NginxServer::launch() {
    if (!child_.start({"nginx", "-c", conf_path_, "-p", prefix_ + "/", "-e", error_log}, prefix_ + "/nginx.out")) {
        return false;
    }
    for (uint16_t port : {rtmp_port, rtmps_port, http_port, https_port}) {
        if (port != 0 && !wait_for_port(port, 10000)) {
            stop();
            return false;
        }
    }
    return true;
}

void NginxServer::stop() {
    child_.stop(5000);
}

std::string NginxServer::recording(const std::string& stream) const {
    std::string found;
    if (DIR* dir = opendir(record_dir.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            bool ours = stream.empty() || name.rfind(stream + "-", 0) == 0;
            if (ours && name.size() > 4 && name.ends_with(".flv")) found = record_dir + "/" + name;
        }
        closedir(dir);
    }
    return found;
}

std::string NginxServer::rtmp_url(const std::string& stream) const {
    return "rtmp://127.0.0.1:" + std::to_string(rtmp_port) + "/live/" + stream;
}

std::string NginxServer::rtmps_url(const std::string& stream) const {
    return "rtmps://127.0.0.1:" + std::to_string(rtmps_port) + "/live/" + stream;
}

std::string NginxServer::http_url(const std::string& file) const {
    return "http://127.0.0.1:" + std::to_string(http_port) + "/" + file;
}

std::string NginxServer::https_url(const std::string& file) const {
    return "https://127.0.0.1:" + std::to_string(https_port) + "/" + file;
}
