// Test CA built with `openssl req` and `openssl x509`, RSA 2048, valid two days.
#include "support/test_ca.h"

#include <sys/stat.h>

#include <tuple>
#include <vector>

#include "platform/network/tls_client.h"
#include "support/child.h"
#include "support/temp_dir.h"

namespace {

bool openssl(std::vector<std::string> args) {
    args.insert(args.begin(), "openssl");
    std::string ignored;
    return run_command(args, &ignored, 60) == 0;
}

bool make_ca(const std::string& dir, const std::string& name, const std::string& subject) {
    return openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir + "/" + name + ".key", "-out",
                    dir + "/" + name + ".crt", "-days", "2", "-subj", subject});
}

bool make_leaf(const std::string& dir, const std::string& ca, const std::string& name, const std::string& san) {
    const std::string ext = dir + "/" + name + ".ext", csr = dir + "/" + name + ".csr";
    write_file(ext, "subjectAltName=" + san + "\n");
    return openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", dir + "/" + name + ".key", "-out", csr, "-subj",
                    "/CN=" + name}) &&
           openssl({"x509", "-req", "-in", csr, "-CA", dir + "/" + ca + ".crt", "-CAkey", dir + "/" + ca + ".key",
                    "-CAcreateserial", "-out", dir + "/" + name + ".crt", "-days", "2", "-extfile", ext});
}

}  // namespace

bool TestCa::create(const std::string& folder) {
    folder_ = folder;
    mkdir((folder + "/empty-certs").c_str(), 0755);
    if (!make_ca(folder, "ca", "/CN=Veltrona Test CA") || !make_ca(folder, "rogue", "/CN=Unknown CA")) return false;
    ca_cert = folder + "/ca.crt";
    const char* const local = "IP:127.0.0.1,DNS:localhost";
    for (auto [cert, key, ca, name, san] : {std::tuple{&server_cert, &server_key, "ca", "server", local},
                                            {&other_host_cert, &other_host_key, "ca", "other", "DNS:other.example"},
                                            {&untrusted_cert, &untrusted_key, "rogue", "untrusted", local}}) {
        if (!make_leaf(folder, ca, name, san)) return false;
        *cert = folder + "/" + name + ".crt";
        *key = folder + "/" + name + ".key";
    }
    return true;
}

void TestCa::trust() {
    if (!cert_file_)
        cert_file_.emplace("SSL_CERT_FILE", ca_cert), cert_dir_.emplace("SSL_CERT_DIR", folder_ + "/empty-certs");
    tls_client_shutdown();  // the next TLS session loads the store that trusts the test CA
}

void TestCa::restore() {
    if (!cert_file_) return;
    cert_file_.reset(), cert_dir_.reset();
    tls_client_shutdown();
}
