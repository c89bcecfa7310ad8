// TLS with the system's own SChannel. SChannel only turns bytes into bytes
// (tokens and records in our buffers); every byte goes over the client's
// socket layer here, so socket failures keep their Windows Sockets code and
// message and nothing ever blocks. The server's certificate is checked by
// us after the handshake, against the Windows certificate store (what
// administrators manage, company roots of inspecting proxies included),
// with the system's SSL policy for the host name; its verdicts are turned
// into the numbering the OpenSSL session uses, so both read alike.
#include "http/TlsSession.h"

#include "http/IdExceptions.h"
#include "http/TlsCertificateErrors.h"
#include "platform/net/TcpSocket.h"

#define SECURITY_WIN32
// The newer credentials structure (SCH_CREDENTIALS) is declared only with it.
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>

#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Older protocol versions have known weaknesses; servers that offer
// nothing newer are refused.
constexpr DWORD kClientProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_MANUAL_CRED_VALIDATION;
// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of WinHTTP and WinINet: the SSL
// policy leaves the name to us.
constexpr DWORD kSkipNameCheck = 0x00001000;
// What one receive asks the socket for.
constexpr std::size_t kReceiveChunk = 32 * 1024;
// A handshake message or a record never needs more than this; a server
// whose bytes still make no complete message is not speaking TLS.
constexpr std::size_t kMaxPendingInput = 256 * 1024;
// A TLS record begins with its content type (change cipher spec, alert,
// handshake, application data), then the protocol's major version 3.
constexpr uint8_t kFirstRecordType = 20;
constexpr uint8_t kAlertRecord = 21;
constexpr uint8_t kLastRecordType = 23;
constexpr uint8_t kRecordMajorVersion = 3;

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Hex(long status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

EIdTlsError SetupFailure(const std::string& what, SECURITY_STATUS status) {
    return EIdTlsError(0, std::string(kTlsErrorPrefix) + what + " (" + Hex(status) + ")");
}

// Credentials for a client that brings no certificate of its own and
// checks the server's itself. The newer structure first (it is the one
// that allows TLS 1.3); systems that do not know it get the older one, and
// systems without TLS 1.3 get TLS 1.2 alone.
constexpr DWORD kProtocolChoices[] = {kClientProtocols, SP_PROT_TLS1_2_CLIENT};
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
struct Credentials {
    CredHandle handle{};
    bool valid = false;

    Credentials() {
        SECURITY_STATUS status = SEC_E_UNSUPPORTED_FUNCTION;
        for (DWORD protocols : kProtocolChoices) {
            TLS_PARAMETERS parameters{};
            parameters.grbitDisabledProtocols = ~protocols;
            SCH_CREDENTIALS modern{};
            modern.dwVersion = SCH_CREDENTIALS_VERSION;
            modern.dwFlags = kCredentialFlags;
            modern.cTlsParameters = 1;
            modern.pTlsParameters = &parameters;
            if (Acquire(&modern) == SEC_E_OK)
                return;
            SCHANNEL_CRED legacy{};
            legacy.dwVersion = SCHANNEL_CRED_VERSION;
            legacy.grbitEnabledProtocols = protocols;
            legacy.dwFlags = kCredentialFlags;
            status = Acquire(&legacy);
            if (status == SEC_E_OK)
                return;
        }
        throw SetupFailure("the system's TLS could not be set up", status);
    }
    ~Credentials() {
        if (valid)
            ::FreeCredentialsHandle(&handle);
    }
    Credentials(const Credentials&) = delete;
    Credentials& operator=(const Credentials&) = delete;

    SECURITY_STATUS Acquire(void* authData) {
        TimeStamp expiry{};
        wchar_t package[] = UNISP_NAME_W;
        const SECURITY_STATUS status = ::AcquireCredentialsHandleW(
            nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, authData, nullptr, nullptr, &handle, &expiry);
        valid = status == SEC_E_OK;
        return status;
    }
};

// A chain's or certificate context's lifetime.
struct ChainContext {
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ~ChainContext() {
        if (chain)
            ::CertFreeCertificateChain(chain);
    }
};
struct CertificateContext {
    PCCERT_CONTEXT cert = nullptr;
    ~CertificateContext() {
        if (cert)
            ::CertFreeCertificateContext(cert);
    }
};

// Whether the certificate names the address among its subject alternative
// names. Only those entries count for an address, never the common name.
// Checked here rather than by the SSL policy, which knows no address
// entries on some systems (older Windows, wine).
bool CertificateNamesAddress(PCCERT_CONTEXT leaf, uint32_t address) {
    const CERT_INFO* info = leaf->pCertInfo;
    const CERT_EXTENSION* extension = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (!extension)
        return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
            CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == sizeof address &&
                std::memcmp(entry.IPAddress.pbData, &address, sizeof address) == 0;
    }
    ::LocalFree(names);
    return found;
}

// The problem with a chain the SSL policy refused, in OpenSSL's numbering.
int CertificateProblem(DWORD policyError, PCCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT leaf, bool hostIsAddress) {
    switch (policyError) {
    case static_cast<DWORD>(CERT_E_EXPIRED):
        // The system has one verdict for both ends of the validity period.
        return ::CertVerifyTimeValidity(nullptr, leaf->pCertInfo) < 0 ? kTlsCertNotYetValid : kTlsCertExpired;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        if (chain->cChain > 0 && chain->rgpChain[0]->cElement == 1)
            return kTlsCertSelfSigned;
        return kTlsCertSelfSignedInChain;
    case static_cast<DWORD>(CERT_E_CHAINING): return kTlsCertUnknownIssuer;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return hostIsAddress ? kTlsCertAddressMismatch : kTlsCertHostnameMismatch;
    case static_cast<DWORD>(CRYPT_E_REVOKED): return kTlsCertRevoked;
    case static_cast<DWORD>(CERT_E_WRONG_USAGE): return kTlsCertInvalidPurpose;
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE): return kTlsCertSignatureFailure;
    default: return kTlsCertUnspecified;
    }
}

} // namespace

struct TTlsSession::Impl {
    platform::net::TcpSocket* socket = nullptr;
    std::wstring host;
    bool hostIsAddress = false;
    uint32_t address = 0; // the host's, network byte order, when hostIsAddress
    Credentials credentials;
    CtxtHandle context{};
    bool haveContext = false;
    bool handshakeDone = false;
    bool handshakeMessagesDone = false; // SChannel is through; our last token may still be on its way
    SecPkgContext_StreamSizes sizes{};

    std::vector<uint8_t> input;   // encrypted bytes received and not yet used
    bool inputIncomplete = false; // SChannel asked for more than input holds
    std::vector<uint8_t> plain;   // decrypted bytes not yet handed out
    std::size_t plainAt = 0;
    std::vector<uint8_t> output; // encrypted bytes still to go out
    std::size_t outputAt = 0;
    std::size_t pendingPlain = 0; // plaintext of a Write whose record is still going out
    bool peerClosed = false;
    bool closeNotified = false; // the server ended the session properly

    int socketError = 0;
    int certificateError = 0;
    std::string failure;

    ~Impl() {
        if (haveContext)
            ::DeleteSecurityContext(&context);
    }

    TTlsStatus Fail(const std::string& what) {
        failure = what;
        return TTlsStatus::Failed;
    }
    TTlsStatus Fail(const std::string& what, SECURITY_STATUS status) { return Fail(what + " (" + Hex(status) + ")"); }

    // Sends what the socket takes of the pending bytes. Done once they are
    // all out, WantWrite while some wait.
    TTlsStatus Flush() {
        while (outputAt < output.size()) {
            std::size_t sent = 0;
            const int rc = socket->Send(output.data() + outputAt, output.size() - outputAt, sent);
            if (rc != 0) {
                socketError = rc;
                return TTlsStatus::Failed;
            }
            if (sent == 0)
                return TTlsStatus::WantWrite;
            outputAt += sent;
        }
        output.clear();
        outputAt = 0;
        return TTlsStatus::Done;
    }

    // Takes one receive's bytes into input. Done when bytes came,
    // WantRead when none are there yet, Closed when the peer closed.
    TTlsStatus ReceiveMore() {
        if (input.size() >= kMaxPendingInput)
            return Fail("the server sent " + std::to_string(input.size()) + " bytes that make no TLS message");
        const std::size_t before = input.size();
        input.resize(before + kReceiveChunk);
        std::size_t got = 0;
        bool wouldBlock = false;
        const int rc = socket->Receive(input.data() + before, kReceiveChunk, got, wouldBlock);
        input.resize(before + got);
        if (rc != 0) {
            socketError = rc;
            return TTlsStatus::Failed;
        }
        if (wouldBlock)
            return TTlsStatus::WantRead;
        if (got == 0) {
            peerClosed = true;
            return TTlsStatus::Closed;
        }
        inputIncomplete = false;
        return TTlsStatus::Done;
    }

    // Whether the bytes waiting (always from the start of a record) can be
    // TLS at all. Some SChannels wait for the rest of a "record" whose
    // length is made of a plain HTTP answer's letters; this sees through
    // it at once.
    bool LooksLikeTls() const {
        if (input.size() >= 1 && (input[0] < kFirstRecordType || input[0] > kLastRecordType))
            return false;
        return input.size() < 2 || input[1] == kRecordMajorVersion;
    }

    // Queues a token SChannel made for the server, and frees its buffer.
    void QueueToken(SecBuffer& token) {
        if (token.pvBuffer) {
            const auto* bytes = static_cast<const uint8_t*>(token.pvBuffer);
            output.insert(output.end(), bytes, bytes + token.cbBuffer);
            ::FreeContextBuffer(token.pvBuffer);
            token.pvBuffer = nullptr;
        }
    }

    // Keeps only the bytes SChannel did not use (its EXTRA buffer).
    void KeepUnused(const SecBuffer& extra) {
        if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= input.size())
            input.erase(input.begin(), input.end() - extra.cbBuffer);
        else
            input.clear();
    }

    // One step of the handshake with SChannel over the bytes in input
    // (none for the first step, nor for the close notification).
    SECURITY_STATUS Step(bool first, bool withInput = true) {
        SecBuffer in[2]{};
        in[0].BufferType = SECBUFFER_TOKEN;
        in[0].pvBuffer = input.data();
        in[0].cbBuffer = static_cast<unsigned long>(input.size());
        in[1].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBuffer out[2]{};
        out[0].BufferType = SECBUFFER_TOKEN;
        out[1].BufferType = SECBUFFER_ALERT;
        SecBufferDesc outDesc{SECBUFFER_VERSION, 2, out};
        unsigned long attributes = 0;
        const SECURITY_STATUS status = ::InitializeSecurityContextW(&credentials.handle, first ? nullptr : &context,
            first ? host.data() : nullptr, kContextRequest, 0, 0, first || !withInput ? nullptr : &inDesc, 0,
            first ? &context : nullptr, &outDesc, &attributes, nullptr);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK))
            haveContext = true;
        if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || FAILED(status))
            QueueToken(out[0]); // also an alert that tells the server why
        if (out[1].pvBuffer)
            ::FreeContextBuffer(out[1].pvBuffer);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            inputIncomplete = true;
        } else if (!first && withInput &&
                   (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_I_INCOMPLETE_CREDENTIALS)) {
            KeepUnused(in[1]);
        }
        return status;
    }

    TTlsStatus Handshake() {
        for (;;) {
            if (!output.empty()) {
                const TTlsStatus sent = Flush();
                if (sent != TTlsStatus::Done)
                    return sent;
            }
            if (handshakeMessagesDone)
                return Finish();
            if (!haveContext) {
                const SECURITY_STATUS status = Step(true);
                if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_OK)
                    return Fail("the secure connection could not be started", status);
                continue;
            }
            if (input.empty() || inputIncomplete) {
                const TTlsStatus got = ReceiveMore();
                if (got == TTlsStatus::Closed)
                    return Fail("the server closed the connection during the TLS handshake");
                if (got != TTlsStatus::Done)
                    return got;
            }
            if (!LooksLikeTls())
                return Fail("the server's answer is not TLS");
            const SECURITY_STATUS status = Step(false);
            if (status == SEC_E_OK)
                handshakeMessagesDone = true;
            else if (status == SEC_E_INCOMPLETE_MESSAGE || status == SEC_I_CONTINUE_NEEDED ||
                     status == SEC_I_INCOMPLETE_CREDENTIALS)
                continue;
            else {
                // Tell the server why, if the socket takes it now.
                Flush();
                return Fail("the TLS handshake failed", status);
            }
        }
    }

    // After the last handshake message: the protocol version, the record
    // sizes and the server's certificate.
    TTlsStatus Finish() {
        SecPkgContext_ConnectionInfo info{};
        SECURITY_STATUS status = ::QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &info);
        if (status != SEC_E_OK)
            return Fail("the secure connection's protocol is unknown", status);
        if ((info.dwProtocol & kClientProtocols) == 0)
            return Fail("the server offers no TLS 1.2 or later");
        status = ::QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes);
        if (status != SEC_E_OK)
            return Fail("the secure connection's record sizes are unknown", status);
        const TTlsStatus verdict = CheckCertificate();
        if (verdict != TTlsStatus::Done)
            return verdict;
        handshakeDone = true;
        return TTlsStatus::Done;
    }

    TTlsStatus CheckCertificate() {
        CertificateContext leaf;
        SECURITY_STATUS status = ::QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &leaf.cert);
        if (status != SEC_E_OK || !leaf.cert)
            return Fail("the server sent no certificate", status);
        char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
        LPSTR usages[] = {serverAuth};
        CERT_CHAIN_PARA chainPara{};
        chainPara.cbSize = sizeof chainPara;
        chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
        chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        ChainContext chain;
        if (!::CertGetCertificateChain(
                nullptr, leaf.cert, nullptr, leaf.cert->hCertStore, &chainPara, 0, nullptr, &chain.chain))
            return Fail("the server's certificate chain could not be built", static_cast<long>(::GetLastError()));
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = host.data();
        if (hostIsAddress)
            ssl.fdwChecks = kSkipNameCheck; // the address is checked below
        CERT_CHAIN_POLICY_PARA policyPara{};
        policyPara.cbSize = sizeof policyPara;
        policyPara.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS policyStatus{};
        policyStatus.cbSize = sizeof policyStatus;
        if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.chain, &policyPara, &policyStatus))
            return Fail("the server's certificate could not be checked", static_cast<long>(::GetLastError()));
        if (policyStatus.dwError == 0) {
            if (!hostIsAddress || CertificateNamesAddress(leaf.cert, address))
                return TTlsStatus::Done;
            certificateError = kTlsCertAddressMismatch;
            failure = TlsCertificateReason(certificateError);
            return TTlsStatus::Failed;
        }
        certificateError = CertificateProblem(policyStatus.dwError, chain.chain, leaf.cert, hostIsAddress);
        failure = TlsCertificateReason(certificateError);
        if (certificateError == kTlsCertUnspecified)
            failure += " (" + Hex(static_cast<long>(policyStatus.dwError)) + ")";
        return TTlsStatus::Failed;
    }

    // Decrypts the records waiting in input into plain. Done when some
    // plaintext came, WantRead when a whole record is not here yet.
    TTlsStatus Decrypt() {
        for (;;) {
            if (input.empty() || inputIncomplete)
                return TTlsStatus::WantRead;
            if (!LooksLikeTls())
                return Fail("the server sent bytes that are not TLS");
            const bool alertRecord = input[0] == kAlertRecord;
            SecBuffer buffers[4]{};
            buffers[0].BufferType = SECBUFFER_DATA;
            buffers[0].pvBuffer = input.data();
            buffers[0].cbBuffer = static_cast<unsigned long>(input.size());
            for (int i = 1; i < 4; ++i)
                buffers[i].BufferType = SECBUFFER_EMPTY;
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = ::DecryptMessage(&context, &desc, 0, nullptr);
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                inputIncomplete = true;
                return TTlsStatus::WantRead;
            }
            if (status == SEC_I_CONTEXT_EXPIRED) {
                closeNotified = true; // the server's close notification
                return TTlsStatus::Closed;
            }
            if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
                return Fail("a record from the server could not be decrypted", status);
            const SecBuffer* data = nullptr;
            const SecBuffer* extra = nullptr;
            for (const SecBuffer& b : buffers) {
                if (b.BufferType == SECBUFFER_DATA && !data)
                    data = &b;
                else if (b.BufferType == SECBUFFER_EXTRA && !extra)
                    extra = &b;
            }
            bool gotPlain = false;
            if (data && data->cbBuffer > 0) {
                const auto* bytes = static_cast<const uint8_t*>(data->pvBuffer);
                plain.insert(plain.end(), bytes, bytes + data->cbBuffer);
                gotPlain = true;
            }
            if (extra)
                KeepUnused(*extra);
            else
                input.clear();
            if (status == SEC_I_RENEGOTIATE) {
                // A message of the handshake layer after the handshake (a
                // session ticket, a key update): SChannel takes it through
                // the context, and may answer it.
                const SECURITY_STATUS next = Step(false);
                if (next != SEC_E_OK && next != SEC_I_CONTINUE_NEEDED)
                    return Fail("the server's message after the handshake was refused", next);
            }
            if (gotPlain)
                return TTlsStatus::Done;
            if (alertRecord && status == SEC_E_OK) {
                // Wine's SChannel reports the close notification as an
                // alert record that decrypts to nothing (fatal alerts are
                // failures there).
                closeNotified = true;
                return TTlsStatus::Closed;
            }
        }
    }
};

bool TTlsSession::Available() { return true; }

// The system keeps its trust store loaded; there is nothing to read ahead.
void TTlsSession::Prepare() {}
void TTlsSession::ForgetSessions() {}

void TTlsSession::ForgetTrustStore() {}

// Each connection acquires credentials of its own, so SChannel resumes
// no session here: every request pays a full handshake.
// SChannel's own session cache is not used: nothing is resumed, and no
// connection is made ahead of its request.
struct TTlsSession::Resumption {};

TTlsSession::TTlsSession(
    platform::net::TcpSocket& socket, const std::string& host, int /*port*/, const std::shared_ptr<Resumption>&)
    : impl_(std::make_unique<Impl>()) {
    impl_->socket = &socket;
    impl_->host = Widen(host);
    impl_->hostIsAddress = platform::net::ParseDottedQuad(host, impl_->address);
}

TTlsSession::~TTlsSession() = default;

TTlsStatus TTlsSession::Handshake() { return impl_->Handshake(); }

TTlsStatus TTlsSession::Read(uint8_t* buffer, std::size_t capacity, std::size_t& received) {
    received = 0;
    Impl& d = *impl_;
    // An answer to a message after the handshake may still wait to go out.
    if (!d.output.empty() && d.pendingPlain == 0 && d.Flush() == TTlsStatus::Failed)
        return TTlsStatus::Failed;
    for (;;) {
        if (d.plainAt < d.plain.size()) {
            const std::size_t n = std::min(capacity - received, d.plain.size() - d.plainAt);
            std::memcpy(buffer + received, d.plain.data() + d.plainAt, n);
            received += n;
            d.plainAt += n;
            if (d.plainAt == d.plain.size()) {
                d.plain.clear();
                d.plainAt = 0;
            }
            if (received == capacity)
                return TTlsStatus::Done;
        }
        if (d.closeNotified)
            return received > 0 ? TTlsStatus::Done : TTlsStatus::Closed;
        // Takes every record that is already here, without waiting for more.
        TTlsStatus status = d.Decrypt();
        if (status == TTlsStatus::Done)
            continue;
        if (status == TTlsStatus::WantRead && !d.peerClosed) {
            status = d.ReceiveMore();
            if (status == TTlsStatus::Done)
                continue;
            if (status == TTlsStatus::Closed) {
                // Without the close notification a shortened body would
                // look complete: a cut is an error, never an end.
                status = d.Fail("the connection was cut off without a TLS close notification");
            }
        } else if (status == TTlsStatus::WantRead) {
            status = d.Fail("the connection was cut off without a TLS close notification");
        }
        if (received > 0)
            return TTlsStatus::Done; // the rest is reported by the next call
        return status;
    }
}

TTlsStatus TTlsSession::Write(const uint8_t* data, std::size_t length, std::size_t& sent) {
    sent = 0;
    Impl& d = *impl_;
    if (d.pendingPlain == 0) {
        if (!d.output.empty()) {
            const TTlsStatus flushed = d.Flush();
            if (flushed != TTlsStatus::Done)
                return flushed;
        }
        const std::size_t n = std::min<std::size_t>(length, d.sizes.cbMaximumMessage);
        std::vector<uint8_t> record(d.sizes.cbHeader + n + d.sizes.cbTrailer);
        std::memcpy(record.data() + d.sizes.cbHeader, data, n);
        SecBuffer buffers[4]{};
        buffers[0] = {d.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
        buffers[1] = {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + d.sizes.cbHeader};
        buffers[2] = {d.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + d.sizes.cbHeader + n};
        buffers[3] = {0, SECBUFFER_EMPTY, nullptr};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = ::EncryptMessage(&d.context, 0, &desc, 0);
        if (status != SEC_E_OK)
            return d.Fail("a record could not be encrypted", status);
        record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        d.output = std::move(record);
        d.outputAt = 0;
        d.pendingPlain = n;
    }
    // The plaintext counts as sent only once its whole record is out, so
    // the caller repeats the step until then and never waits for an answer
    // to a request that has not left.
    const TTlsStatus flushed = d.Flush();
    if (flushed != TTlsStatus::Done)
        return flushed;
    sent = d.pendingPlain;
    d.pendingPlain = 0;
    return TTlsStatus::Done;
}

bool TTlsSession::Resumed() const { return false; }

std::shared_ptr<TTlsSession::Resumption> TTlsSession::ResumableSession() const { return nullptr; }

void TTlsSession::Shutdown() {
    Impl& d = *impl_;
    if (!d.handshakeDone)
        return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc desc{SECBUFFER_VERSION, 1, &token};
    if (::ApplyControlToken(&d.context, &desc) != SEC_E_OK)
        return;
    d.output.clear();
    d.outputAt = 0;
    d.pendingPlain = 0;
    d.Step(false, false);
    d.Flush();
}

int TTlsSession::SocketError() const { return impl_->socketError; }

EIdTlsError TTlsSession::Failure() const { return EIdTlsError::From(impl_->certificateError, impl_->failure); }
