#include "tls/ixSspiTls.h"

#include "support/ExpectError.h"
#include "support/TlsTestCertificates.h"
#include "support/TlsTestServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace ix {
namespace {

using test::Fill;
using test::LoadTestCertificate;
using test::Text;

/// A client and a server context exchanging tokens through memory, the way the TLS stream
/// drives them.
class TSspiPair
{
public:
    TSspiPair()
    {
        FServerCerts.Add(FServerCert.get());
        Client.SetTargetName("localhost");
    }

    /// Runs the handshake; AClientCert is offered when the server asks for one (null: none).
    /// Returns the client's last status.
    TixSspiStatus Handshake(TixCertificate* AClientCert = nullptr)
    {
        if (AClientCert != nullptr)
            FClientCerts.Add(AClientCert);
        TixSspiStatus client = Client.HandshakeStep(FToServer, FNone, false);
        while (client == tsSendToken)
        {
            const TixSspiStatus server = Server.HandshakeStep(FToServer, FServerCerts, false);
            EXPECT_TRUE(server == tsSendToken || server == tsOk) << int(server);
            Fill(FToClient, Text(FToServer));
            client = Client.HandshakeStep(FToClient, FNone, false);
            if (client == tsNeedCredentials)
                client = Client.HandshakeStep(FToClient, FClientCerts, true);
            Fill(FToServer, Text(FToClient));
        }
        if (client == tsExtraData)
            Client.Decrypt(FToClient, FPlain, FToClient);  // session tickets
        return client;
    }

    /// Runs the handshake up to the client's last flight (TLS 1.3 Finished) and returns it;
    /// the server has not seen it yet.
    std::string ClientLastFlight()
    {
        TMemoryStream toServer;
        TMemoryStream toClient;
        EXPECT_EQ(Client.HandshakeStep(toServer, FNone, false), tsSendToken);
        EXPECT_EQ(Server.HandshakeStep(toServer, FServerCerts, false), tsSendToken);
        Fill(toClient, Text(toServer));
        EXPECT_EQ(Client.HandshakeStep(toClient, FNone, false), tsSendToken);
        return Text(toClient);
    }

    /// The server's handshake step over AInput.
    TixSspiStatus ServerStep(const std::string& AInput)
    {
        Fill(FToServer, AInput);
        return Server.HandshakeStep(FToServer, FServerCerts, false);
    }
    /// ATexts as records from one side, joined.
    static std::string Records(TixTlsSspi& AFrom, std::initializer_list<std::string> ATexts)
    {
        TMemoryStream out;
        for (const std::string& text : ATexts)
        {
            TMemoryStream source;
            Fill(source, text);
            TMemoryStream record;
            EXPECT_EQ(AFrom.Encrypt(source, record, static_cast<int64_t>(text.size())), tsOk);
            out.WriteText(Text(record));
        }
        return std::string(out.View());
    }

    TixTlsClientSspi Client;
    TixTlsServerSspi Server;

private:
    std::unique_ptr<TixCertificate> FServerCert = LoadTestCertificate("server");
    TixCertificateList FServerCerts{false};
    TixCertificateList FClientCerts{false};
    TixCertificateList FNone{false};
    TMemoryStream FToServer;
    TMemoryStream FToClient;
    TMemoryStream FPlain;
};

// ---- error texts and status mapping -----------------------------------------------------------

TEST(SspiErrors, CodesHaveTheirTextsAndCheckStatusRaisesAllButTheSuccessCodes)
{
    bool found = false;
    EXPECT_EQ(GetSspiErrorText(-1, found), "Could not load the dll (schannel.dll, security.dll or secur32.dll)");
    EXPECT_TRUE(found);
    EXPECT_EQ(GetSspiErrorText(-11), "Error occured when authenticating server credentials");
    EXPECT_EQ(GetSspiErrorText(20), "Out of memory");
    // The system's text loses its trailing dot.
    EXPECT_EQ(GetSspiErrorText(os::SEC_E_WRONG_PRINCIPAL), "The target principal name is incorrect");
    EXPECT_EQ(GetSspiErrorText(os::TRUST_E_EXPLICIT_DISTRUST),
        "The certificate was explicitly marked as untrusted by the user");
    EXPECT_EQ(GetSspiErrorText(0x7ABC0DE, found), "The unknown error was occured: 7ABC0DE");
    EXPECT_FALSE(found);
    // Raised, an unknown code takes the fallback's text but keeps its own number.
    EXPECT_EQ(test::ExpectError<EixSSPIError>([] { RaiseSspiError(0x7ABC0DE, -4); }, 0x7ABC0DE),
        "AcquireCredentials failed");
    // Success codes map to their results; the rest raise.
    for (const auto& [status, result] : {std::pair{os::SEC_E_OK, tsOk}, {os::SEC_I_CONTINUE_NEEDED, tsContinueNeeded},
             {os::SEC_I_COMPLETE_NEEDED, tsCompleteNeeded}, {os::SEC_I_CONTEXT_EXPIRED, tsContextExpired},
             {os::SEC_I_RENEGOTIATE, tsRenegotiate}, {os::SEC_E_INCOMPLETE_MESSAGE, tsIncompleteMessage}})
        EXPECT_EQ(CheckStatus(status), result) << std::hex << status;
    EXPECT_THROW(CheckStatus(os::SEC_E_DECRYPT_FAILURE), EixSSPIError);
    EXPECT_THROW(CheckStatus(os::SEC_I_INCOMPLETE_CREDENTIALS), EixSSPIError);
}

// ---- flag arithmetic --------------------------------------------------------------------------

TEST(SspiFlags, ProtocolChainAndPolicyBits)
{
    // The legacy block enables protocols (never TLS 1.3, never SSL 2 beside TLS 1.2) ...
    EXPECT_EQ(EnabledProtocolBits({tfUseSSL2, tfUseTLS12}), 0x800u);
    EXPECT_EQ(EnabledProtocolBits({tfUseSSL2}), 0x8u);
    EXPECT_EQ(EnabledProtocolBits({}), 0u);
    EXPECT_EQ(EnabledProtocolBits({tfUseTLS, tfUseTLS11, tfUseTLS12}), 0xA80u);
    EXPECT_EQ(EnabledProtocolBits({tfUseTLS13}), 0u);
    // ... the current one disables those left out.
    EXPECT_EQ(DisabledProtocolBits({tfUseTLS, tfUseTLS11, tfUseTLS12}), 0x8u | 0x20u | 0x2000u);
    EXPECT_EQ(DisabledProtocolBits({tfUseSSL2, tfUseSSL3, tfUseTLS, tfUseTLS11, tfUseTLS12, tfUseTLS13}), 0u);

    EXPECT_EQ(ChainFlagsOf({rfCheckEndOnly, rfCheckAll}), 0x10000000u);
    EXPECT_EQ(ChainFlagsOf({rfCheckAll, rfExcludeRoot}), 0x20000000u);
    EXPECT_EQ(ChainFlagsOf({rfExcludeRoot, rfCacheEndCert, rfAccumulativeTimeout}), 0x48000001u);
    EXPECT_EQ(ChainFlagsOf({rfCheckCacheOnly, rfUseCacheOnlyUrlRetrieval, rfDisableRootAutoUpdate}),
        0x80000104u);
    EXPECT_EQ(PolicyChecksOf({cfIgnoreCommonNameInvalid, cfIgnoreDateInvalid, cfIgnoreUnknownAuthority,
                  cfIgnoreRevocation, cfIgnoreWrongUsage, cfIgnoreChainPolicyErrors}),
        0x1000u | 0x2000u | 0x100u | 0x80u | 0x200u);
}

// ---- handshake and verification ---------------------------------------------------------------

TEST(SspiTls, ClientCertificateIsAskedForAndCheckedByTheServer)
{
    std::unique_ptr<TixCertificate> clientCert = LoadTestCertificate("client");
    TSspiPair pair;
    pair.Server.SetRequireClientCertificate(true);
    pair.Handshake(clientCert.get());
    EXPECT_TRUE(pair.Server.GetPeerVerified());
    ASSERT_NE(pair.Server.GetPeerCertificate(), nullptr);
    EXPECT_EQ(pair.Server.GetPeerCertificate()->GetEmail(), "client@example.org");

    TSspiPair without;
    without.Server.SetRequireClientCertificate(true);
    EXPECT_THROW(without.Handshake(), EixSSPIError) << "a required certificate did not come";
}

// ---- records ----------------------------------------------------------------------------------

TEST(SspiTls, ApplicationDataBehindTheClientsLastFlightReachesTheServerEvenWhenCutOrDecryptedInPlace)
{
    TSspiPair pair;
    const std::string flight = pair.ClientLastFlight();
    const std::string record = TSspiPair::Records(pair.Client, {"CAPA\r\n"});
    ASSERT_EQ(pair.ServerStep(flight + record.substr(0, 3)), tsOk);
    // The held start of the record comes back as the remainder, to be completed.
    TMemoryStream rest;
    TMemoryStream plain;
    EXPECT_EQ(pair.Server.Decrypt(rest, plain, rest), tsIncompleteMessage);
    EXPECT_EQ(std::string(rest.View()), record.substr(0, 3));
    Fill(rest, std::string(rest.View()) + record.substr(3));
    EXPECT_EQ(pair.Server.Decrypt(rest, plain, rest), tsOk);
    EXPECT_EQ(std::string(plain.View()), "CAPA\r\n");

    // Decrypting in place, the held bytes (a record and the start of the next) come before the
    // rest received.
    TSspiPair inPlace;
    const std::string lastFlight = inPlace.ClientLastFlight();
    const std::string records = TSspiPair::Records(inPlace.Client, {"USER a\r\n", "PASS b\r\n"});
    const size_t secondStart = records.size() / 2;  // both records have the same size
    ASSERT_EQ(inPlace.ServerStep(lastFlight + records.substr(0, secondStart + 3)), tsOk);
    TMemoryStream buffer;
    TMemoryStream text;
    Fill(buffer, records.substr(secondStart + 3, 2));
    EXPECT_EQ(inPlace.Server.DecryptInPlace(buffer, text), tsPartialMessage);
    EXPECT_EQ(std::string(text.View()), "USER a\r\n");
    EXPECT_EQ(std::string(buffer.View()), records.substr(secondStart, 5));
    Fill(buffer, std::string(buffer.View()) + records.substr(secondStart + 5));
    EXPECT_EQ(inPlace.Server.DecryptInPlace(buffer, text), tsOk);
    EXPECT_EQ(std::string(text.View()), "USER a\r\nPASS b\r\n");
}

TEST(SspiTls, ShutdownSendsTheCloseNotificationAndTheContextStartsAgainWithThePackageSetThen)
{
    TSspiPair pair;
    ASSERT_EQ(pair.Handshake(), tsExtraData);
    TMemoryStream notify;
    EXPECT_EQ(pair.Client.Shutdown(notify), tsCompleteNeeded);
    EXPECT_FALSE(pair.Client.GetPeerVerified());
    TMemoryStream plain;
    EXPECT_EQ(pair.Server.Decrypt(notify, plain, notify), tsContextExpired);
    TMemoryStream nothing;
    EXPECT_EQ(pair.Client.Shutdown(nothing), tsOk) << "no context: nothing to send";
    EXPECT_EQ(nothing.Size(), 0);
    // A new session starts from the first step, with the package set then: a blank one is
    // Schannel, a typed one is passed as typed.
    TixCertificateList none(false);
    pair.Client.SetSecurityPackage("   ");
    EXPECT_EQ(pair.Client.GetPackageName(), "Microsoft Unified Security Protocol Provider");
    EXPECT_EQ(pair.Client.HandshakeStep(nothing, none, false), tsSendToken);
    TixTlsClientSspi typed;
    typed.SetSecurityPackage(" Microsoft Unified Security Protocol Provider");
    EXPECT_EQ(typed.GetPackageName(), " Microsoft Unified Security Protocol Provider");
    EXPECT_EQ(test::ExpectError<EixSSPIError>([&] { typed.HandshakeStep(nothing, none, false); },
                  os::SEC_E_SECPKG_NOT_FOUND),
        "The requested security package does not exist");
}

}  // namespace
}  // namespace ix
