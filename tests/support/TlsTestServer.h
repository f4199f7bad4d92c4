#pragma once
// An independent TLS server for the TLS client tests: OpenSSL over memory buffers, driven by the
// test, either directly (bytes in, bytes out) or as steps of a scripted in-process server, where
// after plain steps (a greeting, a STARTTLS command) the same connection carries the handshake
// and records, cut where a test wants.

#include "support/ScriptedServer.h"
#include "tls/ixTcpClientTls.h"
#include "tls/ixTlsStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ix::test {

/// A TLS server over OpenSSL with memory buffers: bytes go in and come out as strings.
class TTlsTestServer
{
public:
    /// AMaxVersion: 12 for TLS 1.2, 13 for TLS 1.3. ACertName: a name of TestCertFile.
    explicit TTlsTestServer(int AMaxVersion, const std::string& ACertName = "server");
    ~TTlsTestServer();

    /// Feeds received bytes, runs the handshake, returns the bytes to send.
    std::string Handshake(const std::string& AInput);
    bool HandshakeDone() const;
    /// The server name the client indicated; empty for none.
    std::string ServerName() const;
    /// The negotiated version: 12 or 13.
    int Version() const;

    /// Encrypts AText as one record (none for an empty text); returns the bytes to send.
    std::string Write(const std::string& AText);
    /// Feeds received records; returns the application bytes they carried.
    std::string Read(const std::string& AInput);
    /// Sends the close notification; returns its record.
    std::string Close();
    /// True once the client's close notification arrived.
    bool PeerClosed() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

/// How TlsServerSteps::SendRecords sends its records.
struct TRecordsSend
{
    /// > 0: the last HoldBack bytes go in a second send after the test's Signal.
    size_t HoldBack = 0;
    /// The close notification follows the records.
    bool Close = false;
    /// The last byte of the last record is changed.
    bool Tamper = false;
};

/// Script steps of one TLS server session on a scripted server's connection, in script order.
class TlsServerSteps
{
public:
    /// AVersion: 12 or 13. ACertName: a name of TestCertFile.
    explicit TlsServerSteps(int AVersion, const std::string& ACertName = "server");

    /// The server's side of the handshake. The records of ABehindLastFlight (one each) go in
    /// the same send as the server's last flight (TLS 1.2: its Finished; TLS 1.3: the session
    /// tickets that answer the client's Finished); with AHoldBack > 0 the last AHoldBack bytes
    /// go in a second send after the test's Signal.
    Step Handshake(std::vector<std::string> ABehindLastFlight = {}, size_t AHoldBack = 0) const;
    /// The records of ATexts (one each) in one send, as AHow says.
    Step SendRecords(std::vector<std::string> ATexts, TRecordsSend AHow = {}) const;
    /// Reads records until exactly AText has arrived as application bytes.
    Step ExpectText(std::string AText) const;
    /// Reads until the client's close notification has arrived.
    Step ExpectClose() const;

    /// The session, for what it saw (server name, version).
    TTlsTestServer& Server() const { return *FServer; }

private:
    std::shared_ptr<TTlsTestServer> FServer;
};

/// Empties AStream, writes ABytes into it and rewinds it.
void Fill(TMemoryStream& AStream, const std::string& ABytes);

/// The bytes of AStream from its position on.
std::string Text(const TMemoryStream& AStream);

/// Points AClient at 127.0.0.1:APort (or AHost) with implicit TLS and a bounded wait.
void AimTls(TixTcpClientTls& AClient, int32_t APort, const std::string& AHost = "127.0.0.1");

/// The client's current stream as a TLS stream; fails the test when it is not one.
TixTlsNetworkStream& TlsStreamOf(TixTcpClientTls& AClient);

}  // namespace ix::test
