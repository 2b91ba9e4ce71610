// The system's trusted root certificates, added to an OpenSSL client context.
//
// Two sources stand in for the platform's "current user" and "local machine"
// root stores: the PEM bundle file and the hashed certificate directory that
// OpenSSL names as its defaults. Both honour SSL_CERT_FILE and SSL_CERT_DIR,
// as every OpenSSL program does, which is how tests trust their own CA.
// Certificates are enumerated one by one (rather than handed to
// SSL_CTX_load_verify_locations) so the counters below keep their meaning in
// TLS failure messages.
#pragma once

#include <openssl/ssl.h>

enum class TrustSource { bundle_file, hashed_directory };

struct TrustCounters {
    int seen = 0;    // certificates enumerated
    int parsed = 0;  // of those, decoded as X.509
    int added = 0;   // of those, accepted by the context's store
};

// Adds every certificate of `source` to the context's store; returns the
// number added. `counters`, when given, grows by what was seen, parsed and
// added. A missing file or folder adds nothing and is not an error.
int load_system_root_certificates(SSL_CTX* context, TrustSource source, TrustCounters* counters);
