// A throw-away certificate authority made with the openssl command: a CA,
// a server certificate for 127.0.0.1/localhost signed by it, one for another
// host name, and one from a second CA that nobody trusts. The program under
// test trusts the CA through SSL_CERT_FILE (set with trust()).
#pragma once

#include <optional>
#include <string>

#include "support/temp_dir.h"

struct TestCa {
    std::string ca_cert;                          // the trusted CA
    std::string server_cert, server_key;          // 127.0.0.1 and localhost
    std::string other_host_cert, other_host_key;  // only "other.example"
    std::string untrusted_cert, untrusted_key;    // 127.0.0.1, but from an unknown CA

    // Makes all of the above in `folder`; false when the openssl command failed.
    bool create(const std::string& folder);
    // Points SSL_CERT_FILE at the CA and SSL_CERT_DIR at an empty folder, so
    // only this CA is trusted; the previous values come back on restore() or
    // when the TestCa goes.
    void trust();
    void restore();

  private:
    std::string folder_;
    std::optional<ScopedEnv> cert_file_, cert_dir_;
};
