// trust_root.exe CERT.pem: adds one PEM certificate to the local machine's
// "ROOT" store of the Windows installation it runs on. End-to-end tests use
// it to make their test CA trusted inside a throw-away Wine prefix, the way
// an administrator would deploy a company root on Windows.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_root CERT.pem\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "trust_root: no PEM certificate in %s\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    bool added = store && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                           CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (store) CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "trust_root: could not add to ROOT (error %lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
