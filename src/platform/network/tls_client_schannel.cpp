// The TLS client on Windows' own TLS (Schannel through SSPI).
//
// One process-wide client credential (TLS 1.2, no client certificate,
// manual certificate validation) is shared by reference count like the
// OpenSSL context: every session holds its own reference, so shutting the
// client down never frees a credential a session still uses. Validation is
// ours so that it gives the same verdicts and the same message as the
// OpenSSL build: the peer's chain is built by the system chain engine (which
// trusts the "ROOT" stores) and checked with the SSL policy for the host
// name. The counters quote the current user's and the local machine's
// "ROOT" stores, enumerated when the credential is made.
//
// Records: received bytes collect in `incoming` until DecryptMessage has a
// whole record; its plaintext is handed out from `plain`. Each write is one
// record of at most the negotiated maximum size.
// The system headers must come in this order.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/network/socket_connect.h"
#include "platform/network/tls_client.h"
#include "platform/text/error_text.h"
#include "platform/text/wide_text.h"

namespace {

constexpr size_t RECEIVE_STEP = 16384 + 512;  // one full record and its framing

struct Credential {
    CredHandle handle{};
    ~Credential() { FreeCredentialsHandle(&handle); }
};

struct TlsClientState {
    std::mutex lock;
    std::shared_ptr<Credential> credential;
    TlsCounters counters;
};

// Never destroyed: a session on a thread the process no longer waits for
// may still reach it while static objects are being torn down.
TlsClientState& tls_state() {
    static auto* state = new TlsClientState;
    return *state;
}

void count_root_store(DWORD location, TlsCounters* counters) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location | CERT_STORE_READONLY_FLAG, L"ROOT");
    if (!store) return;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert;
         cert = CertEnumCertificatesInStore(store, cert)) {
        ++counters->seen;
        if (cert->pCertInfo) {
            ++counters->parsed;
            ++counters->roots;
        }
    }
    CertCloseStore(store, 0);
}

std::shared_ptr<Credential> create_credential(TlsCounters* counters) {
    auto credential = std::make_shared<Credential>();
    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry{};
    SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &settings,
                                  nullptr, nullptr, &credential->handle, &expiry);
    if (status != SEC_E_OK) return nullptr;
    count_root_store(CERT_SYSTEM_STORE_CURRENT_USER, counters);
    count_root_store(CERT_SYSTEM_STORE_LOCAL_MACHINE, counters);
    return credential;
}

std::shared_ptr<Credential> acquire_credential() {
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    if (!state.credential) state.credential = create_credential(&state.counters);
    return state.credential;
}

const char* verify_meaning(long code) {
    switch (static_cast<HRESULT>(code)) {
        case 0:
            return "ok";
        case CERT_E_UNTRUSTEDROOT:
            return "certificate chain ends in an untrusted root";
        case CERT_E_CHAINING:
            return "unable to get local issuer certificate";
        case CERT_E_CN_NO_MATCH:
            return "host name mismatch";
        case CERT_E_EXPIRED:
            return "certificate has expired or is not yet valid";
        case CERT_E_WRONG_USAGE:
            return "unsupported certificate purpose";
        case CERT_E_REVOKED:
            return "certificate revoked";
        case TRUST_E_CERT_SIGNATURE:
            return "certificate signature failure";
        default:
            return "certificate rejected";
    }
}

}  // namespace

struct TlsSession {
    int socket = -1;
    std::shared_ptr<Credential> credential;
    CtxtHandle context{};
    bool has_context = false;
    bool established = false;
    SecPkgContext_StreamSizes sizes{};
    std::vector<char> incoming;  // received, not yet decrypted
    std::vector<char> plain;     // decrypted, not yet handed out
    size_t plain_offset = 0;
    std::vector<char> record;  // one outgoing record
    int io_error = 0;

    ~TlsSession() {
        if (has_context) DeleteSecurityContext(&context);
    }
};

namespace {

bool send_all(TlsSession* session, const char* data, size_t size) {
    while (size > 0) {
        long sent = socket_send(session->socket, data, size);
        if (sent < 1) {
            session->io_error = sent == 0 ? EPIPE : socket_last_error();
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

void send_token(TlsSession* session, SecBuffer* token) {
    if (token->cbBuffer > 0 && token->pvBuffer) {
        (void)send_all(session, static_cast<const char*>(token->pvBuffer), token->cbBuffer);
    }
    if (token->pvBuffer) FreeContextBuffer(token->pvBuffer);
    token->pvBuffer = nullptr;
}

// Appends one receive step to `incoming`: > 0 bytes, 0 on close, < 0 on error.
long receive_more(TlsSession* session) {
    size_t used = session->incoming.size();
    session->incoming.resize(used + RECEIVE_STEP);
    long got = socket_recv(session->socket, session->incoming.data() + used, RECEIVE_STEP);
    session->incoming.resize(used + static_cast<size_t>(std::max(got, 0L)));
    if (got < 0) session->io_error = socket_last_error();
    if (got == 0) session->io_error = 0;
    return got;
}

// Keeps only the bytes Schannel did not consume (an EXTRA buffer), or none.
void keep_extra(TlsSession* session, const SecBuffer& maybe_extra) {
    if (maybe_extra.BufferType != SECBUFFER_EXTRA || maybe_extra.cbBuffer == 0) {
        session->incoming.clear();
        return;
    }
    size_t extra = maybe_extra.cbBuffer;
    std::memmove(session->incoming.data(), session->incoming.data() + session->incoming.size() - extra, extra);
    session->incoming.resize(extra);
}

SECURITY_STATUS handshake(TlsSession* session, const std::wstring& target) {
    constexpr ULONG FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                            ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;
    const wchar_t* name = target.empty() ? nullptr : target.c_str();
    bool first = true;
    for (;;) {
        SecBuffer in[2] = {{static_cast<ULONG>(session->incoming.size()), SECBUFFER_TOKEN, session->incoming.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
        SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
        ULONG attributes = 0;
        SECURITY_STATUS status = InitializeSecurityContextW(
            &session->credential->handle, first ? nullptr : &session->context, const_cast<wchar_t*>(name), FLAGS, 0, 0,
            first ? nullptr : &in_desc, 0, first ? &session->context : nullptr, &out_desc, &attributes, nullptr);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) session->has_context = true;
        first = false;
        send_token(session, &out[0]);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (receive_more(session) < 1) return status;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return status;
        keep_extra(session, in[1]);
        if (status == SEC_E_OK) return status;
        if (session->incoming.empty() && receive_more(session) < 1) return SEC_E_INCOMPLETE_MESSAGE;
    }
}

// True when the certificate's subject alternative names hold the address
// `host` (an IPv4 or IPv6 literal), compared as bytes.
bool certificate_names_address(PCCERT_CONTEXT certificate, const std::string& host) {
    unsigned char address[16];
    DWORD size = 0;
    if (inet_pton(AF_INET, host.c_str(), address) == 1) size = 4;
    if (size == 0 && inet_pton(AF_INET6, host.c_str(), address) == 1) size = 16;
    const CERT_INFO* info = certificate->pCertInfo;
    PCERT_EXTENSION extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (size == 0 || !extension) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD names_size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &names_size)) {
        return false;
    }
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& name = names->rgAltEntry[i];
        found = name.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && name.IPAddress.cbData == size &&
                std::memcmp(name.IPAddress.pbData, address, size) == 0;
    }
    LocalFree(names);
    return found;
}

// The chain's own verdict, checked before the SSL policy: not every
// implementation of the policy refuses a chain that ends short of a root.
long chain_error(DWORD status) {
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return static_cast<long>(TRUST_E_CERT_SIGNATURE);
    if (status & CERT_TRUST_IS_PARTIAL_CHAIN) return static_cast<long>(CERT_E_CHAINING);
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) return static_cast<long>(CERT_E_UNTRUSTEDROOT);
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<long>(CERT_E_EXPIRED);
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return static_cast<long>(CERT_E_WRONG_USAGE);
    if (status & CERT_TRUST_IS_REVOKED) return static_cast<long>(CERT_E_REVOKED);
    return 0;
}

// The peer's chain against the system roots and the SSL policy for `host`:
// 0 when trusted, else the policy's error code. The policy matches names;
// an address literal is matched against the certificate's IP entries here,
// which not every implementation of the policy does.
long verify_peer(TlsSession* session, const std::string& host) {
    PCCERT_CONTEXT peer = nullptr;
    if (QueryContextAttributesW(&session->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &peer) != SEC_E_OK || !peer) {
        return static_cast<long>(SEC_E_CERT_UNKNOWN);
    }
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {server_auth};
    CERT_CHAIN_PARA chain_para{};
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    long result = static_cast<long>(CERT_E_CHAINING);
    if (CertGetCertificateChain(nullptr, peer, nullptr, peer->hCertStore, &chain_para, 0, nullptr, &chain)) {
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        std::wstring name = socket_is_ip_literal(host) ? std::wstring() : utf8_to_wide(host);
        ssl.pwszServerName = name.empty() ? nullptr : name.data();
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        result = chain_error(chain->TrustStatus.dwErrorStatus);
        if (result == 0) {  // a policy call that fails refuses the certificate too
            bool checked = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
            result = static_cast<long>(checked ? status.dwError : static_cast<DWORD>(CERT_E_CHAINING));
        }
        if (result == 0 && socket_is_ip_literal(host) && !certificate_names_address(peer, host)) {
            result = static_cast<long>(CERT_E_CN_NO_MATCH);
        }
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(peer);
    return result;
}

void describe(TlsVerdict* verdict, long code, const char* meaning) {
    verdict->result = code;
    TlsCounters counters = tls_client_counters();
    error_printf(verdict->text, "%ld %s (roots=%d parsed=%d seen=%d)", code, meaning, counters.roots, counters.parsed,
                 counters.seen);
}

}  // namespace

TlsOpenResult tls_open(int socket, const std::string& host, TlsSession** session, TlsVerdict* verdict) {
    *session = nullptr;
    std::shared_ptr<Credential> credential = acquire_credential();
    if (!credential) return TlsOpenResult::context_failed;
    std::unique_ptr<TlsSession> opened(new (std::nothrow) TlsSession);
    if (!opened) return TlsOpenResult::session_failed;
    opened->socket = socket;
    opened->credential = std::move(credential);
    std::wstring wide_host = utf8_to_wide(host);
    // The target name is what Schannel sends as the server name: names only.
    SECURITY_STATUS status = handshake(opened.get(), socket_is_ip_literal(host) ? std::wstring() : wide_host);
    if (status != SEC_E_OK) {
        describe(verdict, static_cast<long>(status), "TLS handshake failed");
        return TlsOpenResult::handshake_failed;
    }
    long verify = verify_peer(opened.get(), host);
    if (verify != 0) {
        describe(verdict, verify, verify_meaning(verify));
        return TlsOpenResult::verify_failed;
    }
    if (QueryContextAttributesW(&opened->context, SECPKG_ATTR_STREAM_SIZES, &opened->sizes) != SEC_E_OK) {
        return TlsOpenResult::session_failed;
    }
    opened->established = true;
    *session = opened.release();
    return TlsOpenResult::ok;
}

long tls_write(TlsSession* session, const void* data, size_t size) {
    size_t take = std::min<size_t>(size, session->sizes.cbMaximumMessage);
    size_t header = session->sizes.cbHeader, trailer = session->sizes.cbTrailer;
    session->record.resize(header + take + trailer);
    char* bytes = session->record.data();
    std::memcpy(bytes + header, data, take);
    SecBuffer buffers[4] = {{static_cast<ULONG>(header), SECBUFFER_STREAM_HEADER, bytes},
                            {static_cast<ULONG>(take), SECBUFFER_DATA, bytes + header},
                            {static_cast<ULONG>(trailer), SECBUFFER_STREAM_TRAILER, bytes + header + take},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (EncryptMessage(&session->context, 0, &desc, 0) != SEC_E_OK) {
        session->io_error = EPROTO;
        return -1;
    }
    size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    if (!send_all(session, bytes, total)) return -1;
    return static_cast<long>(take);
}

long tls_read(TlsSession* session, void* data, size_t size) {
    while (session->plain_offset == session->plain.size()) {
        session->plain.clear();
        session->plain_offset = 0;
        SecBuffer buffers[4] = {
            {static_cast<ULONG>(session->incoming.size()), SECBUFFER_DATA, session->incoming.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status =
            session->incoming.empty() ? SEC_E_INCOMPLETE_MESSAGE : DecryptMessage(&session->context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            long got = receive_more(session);
            if (got < 1) return got < 0 ? -1 : 0;
            continue;
        }
        if (status == SEC_I_CONTEXT_EXPIRED) {  // the peer's close-notify
            session->io_error = 0;
            return 0;
        }
        if (status != SEC_E_OK) {
            session->io_error = EPROTO;
            return -1;
        }
        const SecBuffer* extra = nullptr;
        for (const SecBuffer& buffer : buffers) {
            if (buffer.BufferType == SECBUFFER_DATA) {
                session->plain.assign(static_cast<char*>(buffer.pvBuffer),
                                      static_cast<char*>(buffer.pvBuffer) + buffer.cbBuffer);
            }
            if (buffer.BufferType == SECBUFFER_EXTRA) extra = &buffer;
        }
        keep_extra(session, extra ? *extra : SecBuffer{0, SECBUFFER_EMPTY, nullptr});
    }
    size_t take = std::min(size, session->plain.size() - session->plain_offset);
    std::memcpy(data, session->plain.data() + session->plain_offset, take);
    session->plain_offset += take;
    return static_cast<long>(take);
}

int tls_io_error(const TlsSession* session) {
    return session->io_error;
}

void tls_close(TlsSession* session) {
    if (!session) return;
    if (session->established) {
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc control_desc{SECBUFFER_VERSION, 1, &control};
        if (ApplyControlToken(&session->context, &control_desc) == SEC_E_OK) {
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
            ULONG attributes = 0;
            InitializeSecurityContextW(&session->credential->handle, &session->context, nullptr,
                                       ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM, 0, 0, nullptr, 0, nullptr, &out_desc,
                                       &attributes, nullptr);
            send_token(session, &out);
        }
    }
    delete session;
}

void tls_client_shutdown() {
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    state.credential.reset();
}

TlsCounters tls_client_counters() {
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    return state.counters;
}
