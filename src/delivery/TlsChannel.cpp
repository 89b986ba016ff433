#include "delivery/TlsChannel.h"

#include "framework/AnsiText.h"

#include <bcrypt.h>
#include <wincrypt.h>
#include <wininet.h> // SECURITY_FLAG_IGNORE_UNKNOWN_CA

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstring>

namespace lumetra {
namespace {

struct CertificateTraits {
    using Type = PCCERT_CONTEXT;
    static Type invalid() { return nullptr; }
    static void close(Type certificate) { ::CertFreeCertificateContext(certificate); }
};
struct ChainTraits {
    using Type = PCCERT_CHAIN_CONTEXT;
    static Type invalid() { return nullptr; }
    static void close(Type chain) { ::CertFreeCertificateChain(chain); }
};
struct ContextBufferTraits {
    using Type = void*;
    static Type invalid() { return nullptr; }
    static void close(Type buffer) { ::FreeContextBuffer(buffer); }
};
struct HashAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type algorithm) { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type hash) { ::BCryptDestroyHash(hash); }
};

std::string HexCode(long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::string SocketErrorText(int error) {
    switch (error) {
    case WSAECONNREFUSED:
        return "the server refused the connection";
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        return "the server cannot be reached";
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return "the connection was broken off";
    default:
        return "Winsock error " + std::to_string(error);
    }
}

// "AB:CD:..." of the certificate as sent (DER).
std::string Sha256Fingerprint(PCCERT_CONTEXT certificate) {
    UniqueResource<HashAlgorithmTraits> algorithm;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return {};
    UniqueResource<HashTraits> hash;
    unsigned char digest[32];
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(
            ::BCryptHashData(hash.get(), certificate->pbCertEncoded, certificate->cbCertEncoded, 0)) ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest, sizeof digest, 0)))
        return {};
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : digest) {
        if (!text.empty())
            text += ':';
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// The hex digits of a fingerprint, upper case: "ab cd", "AB:CD" and "abcd" are one fingerprint.
std::string FingerprintDigits(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digits;
}

// What the SSL policy says of the chain for the server's name (0: all is well), `ignored` left out.
DWORD SslPolicyError(PCCERT_CHAIN_CONTEXT chain, std::wstring serverName, DWORD ignored) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra{};
    extra.cbSize = sizeof extra;
    extra.dwAuthType = AUTHTYPE_SERVER;
    extra.fdwChecks = ignored;
    extra.pwszServerName = serverName.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &extra;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        return ::GetLastError();
    return status.dwError;
}

std::string CertificateErrorText(DWORD error, const std::string& host) {
    switch (error) {
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return "the server's certificate is not made out to \"" + host + "\"";
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return "the server's certificate has expired or is not valid yet";
    case static_cast<DWORD>(CERT_E_REVOKED):
        return "the server's certificate has been revoked";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return "the server's certificate is not meant for a server";
    default:
        return "the server's certificate was refused (" + HexCode(static_cast<long>(error)) + ")";
    }
}

// Whether the host is an IP address that the certificate names among its alternative names.
// Wine's SSL policy compares only DNS names, so a server reached by its address needs this.
bool CertificateNamesAddress(PCCERT_CONTEXT certificate, const std::string& host) {
    unsigned char address[16];
    size_t size = 4;
    if (::inet_pton(AF_INET, host.c_str(), address) != 1) {
        size = 16;
        if (::inet_pton(AF_INET6, host.c_str(), address) != 1)
            return false;
    }
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* extension =
        ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD namesSize = 0;
    if (!extension ||
        !::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &namesSize))
        return false;
    const UniqueLocalMemory namesOwner(names);
    for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == size &&
            std::memcmp(entry.IPAddress.pbData, address, size) == 0)
            return true;
    }
    return false;
}

bool IsLoopback(const sockaddr* address) {
    if (address->sa_family == AF_INET)
        return (::ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    if (address->sa_family != AF_INET6)
        return false;
    const in6_addr& ip = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&ip) || (IN6_IS_ADDR_V4MAPPED(&ip) && ip.s6_bytes[12] == 127);
}

} // namespace

TlsChannel::TlsChannel()
    : socketEvent_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      interrupt_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    WSADATA data;
    winsockStarted_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

TlsChannel::~TlsChannel() {
    context_.reset();
    credentials_.reset();
    CloseSocket();
    addresses_.reset();
    if (winsockStarted_)
        ::WSACleanup();
}

bool TlsChannel::Fail(std::string why) {
    failure_ = std::move(why);
    return false;
}

void TlsChannel::CloseSocket() {
    if (socket_ != INVALID_SOCKET)
        ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

bool TlsChannel::Resolve(const std::string& host, unsigned short port) {
    host_ = host;
    if (!winsockStarted_ || !socketEvent_ || !interrupt_)
        return Fail("Winsock could not be started");
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const std::wstring service = std::to_wstring(port);
    if (const int error = ::GetAddrInfoW(AnsiToWide(host).c_str(), service.c_str(), &hints, addresses_.put()))
        return Fail("the server \"" + host + "\" was not found (Winsock error " + std::to_string(error) +
                    ")");
    return true;
}

bool TlsChannel::ResolvedToLoopback() const {
    if (!addresses_)
        return false;
    for (const ADDRINFOW* address = addresses_.get(); address; address = address->ai_next)
        if (!IsLoopback(address->ai_addr))
            return false;
    return true;
}

bool TlsChannel::Wait(ULONGLONG deadline, WSANETWORKEVENTS& happened, const char* timeoutText) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    // The interrupt first: it wins when both are set.
    const HANDLE events[] = {interrupt_.get(), socketEvent_.get()};
    const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, remaining);
    if (woke == WAIT_OBJECT_0) {
        CloseSocket();
        return Fail("the program is ending");
    }
    if (woke != WAIT_OBJECT_0 + 1)
        return Fail(std::string(timeoutText) + " within " + std::to_string(timeoutMs_ / 1000) + " s");
    happened = WSANETWORKEVENTS{};
    ::WSAEnumNetworkEvents(socket_, socketEvent_.get(), &happened);
    return true;
}

bool TlsChannel::Connect(DWORD timeoutMs) {
    timeoutMs_ = timeoutMs;
    std::string lastFailure = "no address";
    for (const ADDRINFOW* address = addresses_.get(); address; address = address->ai_next) {
        CloseSocket();
        if (::WaitForSingleObject(interrupt_.get(), 0) == WAIT_OBJECT_0)
            return Fail("the program is ending");
        socket_ = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket_ == INVALID_SOCKET) {
            lastFailure = SocketErrorText(::WSAGetLastError());
            continue;
        }
        // Makes the socket non-blocking: every wait below is on the two events, with a deadline.
        if (::WSAEventSelect(socket_, socketEvent_.get(), FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0)
            return Fail(SocketErrorText(::WSAGetLastError()));
        if (::connect(socket_, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0)
            return true;
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            lastFailure = SocketErrorText(::WSAGetLastError());
            continue;
        }
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs_;
        WSANETWORKEVENTS happened{};
        do {
            if (!Wait(deadline, happened, "the server did not take the connection"))
                return false;
        } while (!(happened.lNetworkEvents & FD_CONNECT));
        if (happened.iErrorCode[FD_CONNECT_BIT] == 0)
            return true;
        lastFailure = SocketErrorText(happened.iErrorCode[FD_CONNECT_BIT]);
    }
    CloseSocket();
    return Fail("could not connect to " + host_ + ": " + lastFailure);
}

bool TlsChannel::SendRaw(const char* data, size_t size) {
    ULONGLONG deadline = ::GetTickCount64() + timeoutMs_;
    while (size > 0) {
        if (socket_ == INVALID_SOCKET)
            return Fail("not connected");
        const int sent = ::send(socket_, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
        if (sent > 0) {
            data += sent;
            size -= static_cast<size_t>(sent);
            deadline = ::GetTickCount64() + timeoutMs_; // a slow line is no silent one
            continue;
        }
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return Fail("the connection was lost while sending: " + SocketErrorText(::WSAGetLastError()));
        WSANETWORKEVENTS happened{};
        if (!Wait(deadline, happened, "the server took nothing"))
            return false;
    }
    return true;
}

bool TlsChannel::ReceiveRaw(std::string& received) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs_;
    char buffer[16384];
    for (;;) {
        if (socket_ == INVALID_SOCKET)
            return Fail("not connected");
        const int got = ::recv(socket_, buffer, sizeof buffer, 0);
        if (got > 0) {
            received.append(buffer, static_cast<size_t>(got));
            return true;
        }
        if (got == 0)
            return Fail("the server closed the connection");
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return Fail("the connection was lost: " + SocketErrorText(::WSAGetLastError()));
        WSANETWORKEVENTS happened{};
        if (!Wait(deadline, happened, "the server did not answer"))
            return false;
    }
}

bool TlsChannel::StartTls(const std::string& trustedFingerprint) {
    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    // The certificate is judged below, the same way on every system.
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    wchar_t package[] = UNISP_NAME_W;
    if (::AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &settings, nullptr,
                                    nullptr, credentials_.put(), &expiry) != SEC_E_OK)
        return Fail("Schannel is not available");
    credentials_.set_valid();
    if (!Handshake(true))
        return false;
    if (::QueryContextAttributesW(context_.get(), SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK)
        return Fail("the TLS connection has no record sizes");
    if (!CheckCertificate(trustedFingerprint))
        return false;
    secure_ = true;
    return true;
}

bool TlsChannel::Handshake(bool initial) {
    constexpr ULONG requested = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    std::wstring target = AnsiToWide(host_); // the name the server's certificate is chosen by (SNI)
    bool first = initial;
    bool askedForCertificate = false;
    for (;;) {
        SecBuffer input[2] = {{static_cast<ULONG>(encrypted_.size()), SECBUFFER_TOKEN, encrypted_.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
        SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, output};
        ULONG granted = 0;
        const SECURITY_STATUS status = ::InitializeSecurityContextW(
            credentials_.get(), first ? nullptr : context_.get(), target.data(), requested, 0, 0,
            first ? nullptr : &inputDesc, 0, first ? context_.put() : context_.get(), &outputDesc, &granted,
            nullptr);
        const UniqueResource<ContextBufferTraits> token(output[0].pvBuffer);
        if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
            context_.set_valid();
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (!ReceiveRaw(encrypted_))
                return false;
            continue;
        }
        // A server that asks for a client certificate (optionally, as Postfix may) goes on without one.
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !askedForCertificate) {
            askedForCertificate = true;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            return Fail("the TLS handshake with the server failed (" + HexCode(status) + ")");
        if (token && output[0].cbBuffer > 0 &&
            !SendRaw(static_cast<const char*>(token.get()), output[0].cbBuffer))
            return false;
        if (!first) {
            // What arrived beyond this step of the handshake stays for the next one (or the data).
            if (input[1].BufferType == SECBUFFER_EXTRA && input[1].cbBuffer > 0)
                encrypted_.erase(0, encrypted_.size() - input[1].cbBuffer);
            else
                encrypted_.clear();
        }
        first = false;
        if (status == SEC_E_OK)
            return true;
        if (encrypted_.empty() && !ReceiveRaw(encrypted_))
            return false;
    }
}

bool TlsChannel::CheckCertificate(const std::string& trustedFingerprint) {
    UniqueResource<CertificateTraits> certificate;
    if (::QueryContextAttributesW(context_.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, certificate.put()) !=
            SEC_E_OK ||
        !certificate)
        return Fail("the server showed no certificate");
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    char serverUsage[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverUsage};
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    UniqueResource<ChainTraits> chain;
    if (!::CertGetCertificateChain(nullptr, certificate.get(), nullptr, certificate.get()->hCertStore,
                                   &chainPara, 0, nullptr, chain.put()))
        return Fail("the server's certificate could not be checked (" + HexCode(::GetLastError()) + ")");
    const std::wstring serverName = AnsiToWide(host_);
    DWORD ignored = 0;
    DWORD error = SslPolicyError(chain.get(), serverName, ignored);
    // No known authority vouches for it: the user's own word may, but everything else must hold.
    const bool unknownAuthority =
        error == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) || error == static_cast<DWORD>(CERT_E_CHAINING);
    if (unknownAuthority) {
        ignored |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        error = SslPolicyError(chain.get(), serverName, ignored);
    }
    if (error == static_cast<DWORD>(CERT_E_CN_NO_MATCH) && CertificateNamesAddress(certificate.get(), host_))
        error = SslPolicyError(chain.get(), serverName, ignored | SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
    if (error != 0)
        return Fail(CertificateErrorText(error, host_));
    if (!unknownAuthority)
        return true;
    const std::string fingerprint = Sha256Fingerprint(certificate.get());
    if (fingerprint.empty())
        return Fail("the server's certificate could not be hashed");
    const std::string trusted = FingerprintDigits(trustedFingerprint);
    if (trusted.size() == 64 && trusted == FingerprintDigits(fingerprint))
        return true;
    untrustedFingerprint_ = fingerprint;
    return Fail("the server's certificate is not from a known authority, and not the one trusted (SHA-256 " +
                fingerprint + ")");
}

bool TlsChannel::Send(std::string_view data) {
    return secure_ ? SendEncrypted(data) : SendRaw(data.data(), data.size());
}

bool TlsChannel::SendEncrypted(std::string_view data) {
    std::string record;
    while (!data.empty()) {
        const ULONG chunk = static_cast<ULONG>(std::min<size_t>(data.size(), sizes_.cbMaximumMessage));
        record.assign(sizes_.cbHeader + chunk + sizes_.cbTrailer, '\0');
        std::memcpy(record.data() + sizes_.cbHeader, data.data(), chunk);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {chunk, SECBUFFER_DATA, record.data() + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + chunk},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (const SECURITY_STATUS status = ::EncryptMessage(context_.get(), 0, &desc, 0); status != SEC_E_OK)
            return Fail("could not encrypt for the server (" + HexCode(status) + ")");
        if (!SendRaw(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer))
            return false;
        data.remove_prefix(chunk);
    }
    return true;
}

bool TlsChannel::Receive(std::string& received) {
    if (!secure_)
        return ReceiveRaw(received);
    for (;;) {
        if (!encrypted_.empty()) {
            SecBuffer buffers[4] = {
                {static_cast<ULONG>(encrypted_.size()), SECBUFFER_DATA, encrypted_.data()},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = ::DecryptMessage(context_.get(), &desc, 0, nullptr);
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
                    return Fail("could not decrypt what the server sent (" + HexCode(status) + ")");
                const size_t before = received.size();
                size_t extra = 0;
                for (const SecBuffer& buffer : buffers) {
                    if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer)
                        received.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                    else if (buffer.BufferType == SECBUFFER_EXTRA)
                        extra = buffer.cbBuffer;
                }
                // The next record, or its start, is the last `extra` bytes of what was given.
                encrypted_.erase(0, encrypted_.size() - std::min<size_t>(extra, encrypted_.size()));
                if (status == SEC_I_CONTEXT_EXPIRED)
                    return received.size() > before || Fail("the server closed the connection");
                // TLS 1.3 sends handshake messages after the handshake (session tickets).
                if (status == SEC_I_RENEGOTIATE && !Handshake(false))
                    return false;
                if (received.size() > before)
                    return true;
                continue;
            }
        }
        if (!ReceiveRaw(encrypted_))
            return false;
    }
}

} // namespace lumetra
