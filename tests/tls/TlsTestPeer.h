#pragma once
// Test support for the TLS tests: a set of test certificates in files, and an independent TLS
// server over memory buffers, driven by the test, that plays the peer of the security
// interface's client contexts.

#include <memory>
#include <string>

namespace ix::test {

/// The path of a test certificate's file (made on first use): AName + AExtension, where
/// AExtension is ".pem" (the certificate) or ".key" (its private key). Names: "ca" (the test
/// authority), "server" (signed by ca, for localhost and 127.0.0.1), "expired" (like server,
/// expired), "other" (signed by ca, for other.invalid only), "self" (self-signed, for
/// localhost), "client" (signed by ca, for client authentication).
std::string TestCertFile(const std::string& AName, const char* AExtension = ".pem");

/// The test authority's certificate, PEM-encoded (for TrustOnly).
const std::string& TestCaPem();

/// A TLS server over OpenSSL with memory buffers: bytes go in and come out as strings.
class TTlsTestServer
{
public:
    /// AMaxVersion: 12 for TLS 1.2, 13 for TLS 1.3. ACertName: a name of TestCertFile.
    explicit TTlsTestServer(int AMaxVersion, const std::string& ACertName = "server",
        bool ARequestClientCertificate = false);
    ~TTlsTestServer();

    /// Feeds received bytes, runs the handshake, returns the bytes to send.
    std::string Handshake(const std::string& AInput);
    /// Feeds the client's last handshake bytes; what the server sends in reply (session
    /// tickets) goes out in front of the next Write, KeyUpdate or Close.
    void Finish(const std::string& AInput);
    bool HandshakeDone() const;
    /// The server name the client indicated; empty for none.
    std::string ServerName() const;
    /// True when the client presented a certificate.
    bool ClientSentCertificate() const;
    /// The negotiated version: 12 or 13.
    int Version() const;

    /// Encrypts AText as one record (none for an empty text); returns the bytes to send.
    std::string Write(const std::string& AText);
    /// Feeds received records; returns the application bytes they carried.
    std::string Read(const std::string& AInput);
    /// Starts a TLS 1.3 key update that asks the client to update too; returns its record.
    std::string KeyUpdate();
    /// Sends the close notification; returns its record.
    std::string Close();
    /// True once the client's close notification arrived.
    bool PeerClosed() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace ix::test
