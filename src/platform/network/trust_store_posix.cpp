// Enumerates PEM certificates from OpenSSL's default bundle and hashed
// directory. In the directory only the canonical "<8 hex digits>.<n>" names
// are read: the same certificates also appear there under their
// human-readable names, and reading both would count each twice.
#include <dirent.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/network/trust_store.h"

namespace {

std::string default_location(const char* env_name, const char* fallback) {
    const char* value = std::getenv(env_name);
    return (value && *value) ? std::string(value) : std::string(fallback);
}

bool is_hash_name(const char* name) {
    size_t length = std::strlen(name);
    if (length < 10 || name[8] != '.') return false;
    for (size_t i = 0; i < 8; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    for (size_t i = 9; i < length; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

// Adds every CERTIFICATE block of one PEM file.
int load_pem_file(X509_STORE* store, const std::string& path, TrustCounters* counters) {
    BIO* file = BIO_new_file(path.c_str(), "r");
    if (!file) {
        ERR_clear_error();
        return 0;
    }
    int added = 0;
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    while (PEM_read_bio(file, &name, &header, &data, &length) == 1) {
        if (std::strcmp(name, "CERTIFICATE") == 0 || std::strcmp(name, "TRUSTED CERTIFICATE") == 0) {
            if (counters) ++counters->seen;
            const unsigned char* cursor = data;
            X509* certificate = d2i_X509(nullptr, &cursor, length);
            if (certificate) {
                if (counters) ++counters->parsed;
                if (X509_STORE_add_cert(store, certificate) == 1) ++added;
                X509_free(certificate);
            }
        }
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
        name = header = nullptr;
        data = nullptr;
    }
    ERR_clear_error();  // end of file, and duplicates, leave errors queued
    BIO_free(file);
    return added;
}

int load_hashed_directory(X509_STORE* store, const std::string& folder, TrustCounters* counters) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    int added = 0;
    while (dirent* entry = readdir(dir)) {
        if (is_hash_name(entry->d_name)) added += load_pem_file(store, folder + "/" + entry->d_name, counters);
    }
    closedir(dir);
    return added;
}

}  // namespace

int load_system_root_certificates(SSL_CTX* context, TrustSource source, TrustCounters* counters) {
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    if (!store) return 0;
    int added = 0;
    if (source == TrustSource::bundle_file) {
        added = load_pem_file(store, default_location(X509_get_default_cert_file_env(), X509_get_default_cert_file()),
                              counters);
    } else {
        std::string folders = default_location(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
        size_t start = 0;
        while (start <= folders.size()) {
            size_t end = folders.find(':', start);
            if (end == std::string::npos) end = folders.size();
            if (end > start) added += load_hashed_directory(store, folders.substr(start, end - start), counters);
            start = end + 1;
        }
    }
    if (counters) counters->added += added;
    return added;
}
