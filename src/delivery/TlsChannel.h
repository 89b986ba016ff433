#pragma once
// A TCP connection to a mail server that can be switched to TLS (Schannel) midway, as STARTTLS
// does, or at once. Every wait ends after the connection's timeout or when another thread calls
// Interrupt, so a silent server or the end of the program never leaves the caller stuck.
//
// Schannel is told not to judge the server's certificate (Wine's does not anyway); the channel
// checks it itself after the handshake, the same way on Windows and on Wine: a chain to a trusted
// root, made out to the server's name. A certificate of no known authority passes only when its
// SHA-256 fingerprint is the one the user trusted, and its name must still match.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include "framework/Handles.h"

#include <string>
#include <string_view>

namespace lumetra {

// Owner of an SSPI handle (credentials or a security context), freed by Traits::Free.
template <typename Traits> class UniqueSecHandle {
  public:
    UniqueSecHandle() = default;
    ~UniqueSecHandle() { reset(); }
    UniqueSecHandle(const UniqueSecHandle&) = delete;
    UniqueSecHandle& operator=(const UniqueSecHandle&) = delete;
    PSecHandle get() { return valid_ ? &handle_ : nullptr; }
    // For the call that fills the handle; set_valid() once that call has succeeded.
    PSecHandle put() {
        reset();
        return &handle_;
    }
    void set_valid() { valid_ = true; }
    void reset() {
        if (valid_)
            Traits::Free(&handle_);
        valid_ = false;
    }

  private:
    SecHandle handle_{};
    bool valid_ = false;
};
struct CredentialsTraits {
    static void Free(PSecHandle handle) { ::FreeCredentialsHandle(handle); }
};
struct SecurityContextTraits {
    static void Free(PSecHandle handle) { ::DeleteSecurityContext(handle); }
};
struct AddressListTraits {
    using Type = ADDRINFOW*;
    static Type invalid() { return nullptr; }
    static void close(Type list) { ::FreeAddrInfoW(list); }
};

class TlsChannel {
  public:
    TlsChannel();
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Looks the server's name up; the connection later goes only to the addresses found here.
    bool Resolve(const std::string& host, unsigned short port);
    // Every address found is one of this machine's loopback addresses.
    bool ResolvedToLoopback() const;
    // Connects to the first address that answers; `timeoutMs` then bounds every single wait.
    bool Connect(DWORD timeoutMs);
    // The TLS handshake and the check of the server's certificate (see above). `trustedFingerprint`
    // is the one the user accepted ("AB:CD:...", empty: none).
    bool StartTls(const std::string& trustedFingerprint);
    bool Secure() const { return secure_; }

    bool Send(std::string_view data);
    // Appends what arrives next (at least one byte) to `received`.
    bool Receive(std::string& received);

    // From any thread: ends every wait at once, and with it the connection.
    void Interrupt() { ::SetEvent(interrupt_.get()); }

    // Why the last call failed.
    const std::string& Failure() const { return failure_; }
    // The fingerprint of a server certificate refused only because no known authority vouches
    // for it (empty otherwise): the one the user may choose to trust.
    const std::string& UntrustedFingerprint() const { return untrustedFingerprint_; }

  private:
    bool Fail(std::string why);
    bool Wait(ULONGLONG deadline, WSANETWORKEVENTS& happened, const char* timeoutText);
    bool SendRaw(const char* data, size_t size);
    bool ReceiveRaw(std::string& received);
    bool Handshake(bool initial);
    bool CheckCertificate(const std::string& trustedFingerprint);
    bool SendEncrypted(std::string_view data);
    void CloseSocket();

    bool winsockStarted_ = false;
    UniqueResource<AddressListTraits> addresses_;
    std::string host_;
    SOCKET socket_ = INVALID_SOCKET;
    UniqueHandle socketEvent_; // the socket's network events (a WSAEVENT is an event handle)
    UniqueHandle interrupt_;
    DWORD timeoutMs_ = 30000;

    UniqueSecHandle<CredentialsTraits> credentials_;
    UniqueSecHandle<SecurityContextTraits> context_;
    SecPkgContext_StreamSizes sizes_{};
    bool secure_ = false;
    std::string encrypted_; // received from the server, not decrypted yet

    std::string failure_;
    std::string untrustedFingerprint_;
};

} // namespace lumetra
