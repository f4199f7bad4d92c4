#pragma once
// Script steps that play a TLS server (OpenSSL over memory buffers, TTlsTestServer) on the
// connection of a scripted in-process server: after plain steps (a greeting, a STARTTLS
// command) the same connection carries the handshake and records, cut where a test wants.

#include "support/ScriptedServer.h"
#include "tls/TlsTestPeer.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ix::test {

/// One TLS server session; every step made here works on it, in script order.
class TlsServerSteps
{
public:
    /// AVersion: 12 or 13. ACertName: a name of TestCertFile.
    explicit TlsServerSteps(int AVersion, const std::string& ACertName = "server",
        bool ARequestClientCertificate = false);

    /// The server's side of the handshake. ABehindLastFlight, when given, goes as a record in
    /// the same send as the server's last flight (TLS 1.2: its Finished; TLS 1.3: the session
    /// tickets that answer the client's Finished).
    Step Handshake(const std::string& ABehindLastFlight = "") const;
    /// The records of ATexts (one each) in one send; with AHoldBack > 0 the last AHoldBack bytes
    /// go in a second send after the test's Signal.
    Step SendRecords(std::vector<std::string> ATexts, size_t AHoldBack = 0) const;
    /// Reads records until exactly AText has arrived as application bytes.
    Step ExpectText(std::string AText) const;
    /// Reads records until ACount application bytes have arrived; they must be APattern
    /// repeated.
    Step ExpectPattern(size_t ACount, std::string APattern) const;
    /// Sends the close notification.
    Step SendClose() const;
    /// Reads until the client's close notification has arrived.
    Step ExpectClose() const;

    /// The session, for what it saw (server name, client certificate, version).
    TTlsTestServer& Server() const { return *FServer; }

private:
    /// Reads records until ACount application bytes have arrived; returns them.
    static std::string ReadText(TTlsTestServer& AServer, ScriptIo& AIo, size_t ACount);

    std::shared_ptr<TTlsTestServer> FServer;
};

}  // namespace ix::test
