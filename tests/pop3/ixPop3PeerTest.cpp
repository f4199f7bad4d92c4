// The POP3 client against a real Dovecot started by tests/peers/dovecot/start.sh (the CTest
// fixtures peer_dovecot and peer_dovecot_self). The scripts write each instance's ports and CA to
// STATE/dovecot.env and the exact bytes of every message to STATE/expected/<user>/<n>.eml.
#include "pop3/ixPop3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace ix {
namespace {

/// One Dovecot instance as its start script described it.
struct TDovecot
{
    std::string State;
    int32_t PlainPort = 0;
    int32_t TlsPort = 0;
    std::string CaFile;

    static TDovecot Load(const std::string& AState)
    {
        std::ifstream file(AState + "/dovecot.env");
        std::map<std::string, std::string> values;
        for (std::string line; std::getline(file, line);)
            if (const size_t at = line.find('='); at != std::string::npos)
                values[line.substr(0, at)] = line.substr(at + 1);
        TDovecot peer;
        peer.State = AState;
        if (values.empty())
            return peer;
        peer.PlainPort = std::stoi(values["DOVECOT_PLAIN_PORT"]);
        peer.TlsPort = std::stoi(values["DOVECOT_TLS_PORT"]);
        peer.CaFile = values["DOVECOT_CA"];
        return peer;
    }

    /// The bytes a client must receive for message ANumber of AUser.
    std::string Expected(const std::string& AUser, int32_t ANumber) const
    {
        std::ifstream file(State + "/expected/" + AUser + "/" + std::to_string(ANumber) + ".eml", std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    int32_t ExpectedCount(const std::string& AUser) const
    {
        int32_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(State + "/expected/" + AUser))
            ++count;
        return count;
    }
};

std::string Password(const std::string& AUser)
{
    return AUser == "IvoryTester" ? "samplepasswd" : "secret-" + AUser;
}

/// Response as the bytes of the message: every line followed by CR LF.
std::string Received(const TixPop3& AClient)
{
    return AClient.GetResponse().GetText();
}

/// A client whose test can pick the login method that the secure login runs.
class TSecurePop3 : public TixPop3
{
public:
    using TixPop3::LoginApop;
    using TixPop3::LoginCramMd5;
    using TixPop3::LoginNtlm;
    using TixPop3::LoginXOAuth2;

    /// Runs instead of the choice of method when set.
    std::function<void(TSecurePop3&)> Method;

protected:
    void Authenticate() override
    {
        if (Method)
            Method(*this);
        else
            TixPop3::Authenticate();
    }
};

class Pop3Dovecot : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Peer = TDovecot::Load(IX_DOVECOT_STATE);
        SelfPeer = TDovecot::Load(IX_DOVECOT_SELF_STATE);
        // Trust the test authority that signed the server certificate (OpenSSL's default paths).
        if (!Peer.CaFile.empty())
            ::setenv("SSL_CERT_FILE", Peer.CaFile.c_str(), 1);
    }

    void SetUp() override
    {
        ASSERT_NE(Peer.PlainPort, 0) << "Dovecot is not running: start it with tests/peers/dovecot/start.sh "
                                     << IX_DOVECOT_STATE << " (ctest does so through its fixture)";
        Client.OnSendCommand = [this](TObject*, const std::string& AText) { Sent.push_back(AText); };
    }

    void Configure(const TDovecot& APeer, TixClientTlsMode AMode, bool ATlsPort, const std::string& AUser)
    {
        Client.SetServer("127.0.0.1");
        Client.SetPort(ATlsPort ? APeer.TlsPort : APeer.PlainPort);
        Client.SetUseTLS(AMode);
        Client.SetUserName(AUser);
        Client.SetPassword(Password(AUser));
    }

    int CountSent(const std::string& ACommand) const
    {
        int count = 0;
        for (const std::string& line : Sent)
            count += line == ACommand + "\r\n" ? 1 : 0;
        return count;
    }

    static inline TDovecot Peer;
    static inline TDovecot SelfPeer;
    std::vector<std::string> Sent; // outlives Client, whose destructor may still say QUIT
    TSecurePop3 Client;
};

TEST_F(Pop3Dovecot, OpenWorksInEveryTlsMode)
{
    struct TCase
    {
        TixClientTlsMode Mode;
        bool TlsPort;
        bool SendsStls;
    };
    for (const TCase& mode : {TCase{ctNone, false, false}, TCase{ctExplicit, false, true},
             TCase{ctImplicit, true, false}, TCase{ctAutomatic, true, false}})
    {
        Sent.clear();
        Configure(Peer, mode.Mode, mode.TlsPort, "few");
        Client.Open();
        EXPECT_EQ(Client.GetMessageCount(), 3) << "mode " << int(mode.Mode);
        EXPECT_NE(Client.GetTimeStamp(), ""); // Dovecot offers APOP: its greeting has one
        Client.Close();
        EXPECT_EQ(CountSent("STLS"), mode.SendsStls ? 1 : 0) << "mode " << int(mode.Mode);
        EXPECT_EQ(CountSent("QUIT"), 1);
    }
}

TEST_F(Pop3Dovecot, WrongPasswordRaisesTheServerTextAndClosesWithoutQuit)
{
    Configure(Peer, ctNone, false, "few");
    Client.SetPassword("wrong");
    try
    {
        Client.Open();
        FAIL() << "a wrong password was accepted";
    }
    catch (const EixTcpClientError& E)
    {
        EXPECT_EQ(E.ErrorCode(), 20);
        EXPECT_TRUE(E.Message().starts_with("-ERR ")) << E.Message();
        EXPECT_EQ(E.Message(), Trim(Client.GetResponse().GetText()));
    }
    EXPECT_FALSE(Client.IsActive());
    EXPECT_EQ(CountSent("QUIT"), 0);
}

TEST_F(Pop3Dovecot, EveryMessageArrivesByteForByte)
{
    for (const bool tls : {false, true})
        for (const std::string user : {"empty", "few", "dots", "large", "IvoryTester"})
        {
            Configure(Peer, tls ? ctImplicit : ctNone, tls, user);
            Client.Open();
            const int32_t count = Peer.ExpectedCount(user);
            ASSERT_EQ(Client.GetMessageCount(), count) << user;
            int64_t total = 0;
            for (int32_t n = 1; n <= count; ++n)
            {
                const std::string expected = Peer.Expected(user, n);
                total += static_cast<int64_t>(expected.size());
                EXPECT_EQ(Client.GetMessageSize(n), static_cast<int64_t>(expected.size())) << user << " " << n;
                EXPECT_NE(Client.GetUidl(n), "");
                Client.RetrieveHeader(n, nullptr);
                EXPECT_EQ(Received(Client), expected.substr(0, expected.find("\r\n\r\n") + 4)) << user << " " << n;
                Client.Retrieve(n, nullptr);
                EXPECT_TRUE(Received(Client) == expected) << user << " " << n << " differs";
            }
            EXPECT_EQ(Client.GetMailBoxSize(), total);
            Client.Close();
        }
}

TEST_F(Pop3Dovecot, PipelinedListingAgreesWithOneCommandAtATime)
{
    for (const bool tls : {false, true})
        for (const std::string user : {"empty", "few", "dots", "large", "IvoryTester"})
        {
            Configure(Peer, tls ? ctImplicit : ctNone, tls, user);
            Client.SetPipelineDepth(4); // several refills even on the small mailboxes
            Client.Open();
            Sent.clear();
            const std::vector<TixPop3ListItem> items = Client.ListMailBox();
            EXPECT_EQ(CountSent("CAPA"), items.empty() ? 0 : 1);
            ASSERT_EQ(static_cast<int32_t>(items.size()), Client.GetMessageCount()) << user;
            for (const TixPop3ListItem& item : items)
            {
                EXPECT_EQ(item.Size, Client.GetMessageSize(item.Number)) << user << " " << item.Number;
                EXPECT_EQ(item.Uid, Client.GetUidl(item.Number));
                Client.RetrieveHeader(item.Number, nullptr);
                ASSERT_TRUE(item.HeaderRead) << item.HeaderError;
                TStringList header;
                for (const std::string& line : item.Header)
                    header.Add(line);
                EXPECT_EQ(header.GetText(), Received(Client)) << user << " " << item.Number;
            }
            Client.Close();
        }
}

TEST_F(Pop3Dovecot, ProgressEndsWithTheAnnouncedSize)
{
    for (const bool tls : {false, true})
    {
        Configure(Peer, tls ? ctImplicit : ctNone, tls, "large");
        std::vector<std::pair<int64_t, int64_t>> calls;
        Client.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) { calls.emplace_back(ADone, ATotal); };
        Client.Open();
        Client.Retrieve(1, nullptr);
        Client.Close();
        const int64_t size = static_cast<int64_t>(Peer.Expected("large", 1).size());
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), (std::pair<int64_t, int64_t>{size, size})) << "TLS " << tls;
        for (const auto& [done, total] : calls)
            EXPECT_TRUE(done <= total && total == size) << done << " of " << total;
        // Progress moves along the body, not only at its end.
        const auto moving = std::count_if(calls.begin(), calls.end(),
            [&](const auto& ACall) { return ACall.first > 0 && ACall.first < size / 2; });
        EXPECT_GE(moving, 10) << "TLS " << tls << ", " << calls.size() << " calls";
        EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end())) << "TLS " << tls;
        EXPECT_EQ(CountSent("LIST 1"), 1);
        Sent.clear();
    }
}

TEST_F(Pop3Dovecot, DeleteThenQuitRemovesExactlyThatMessage)
{
    // The self-signed instance's "few" mailbox belongs to this test alone (a fresh fixture
    // start makes it anew).
    Configure(SelfPeer, ctNone, false, "few");
    Client.Open();
    const int32_t count = Client.GetMessageCount();
    ASSERT_GE(count, 2) << "the mailbox was used up: restart the peer_dovecot_self fixture";
    std::vector<std::string> kept;
    for (int32_t n = 1; n < count; ++n)
        kept.push_back(Client.GetUidl(n));
    Client.Delete(count);
    EXPECT_EQ(Client.GetMessageCount(), count - 1);
    EXPECT_EQ(CountSent("STAT"), 1);
    Client.Close();

    Client.Open();
    ASSERT_EQ(Client.GetMessageCount(), count - 1);
    for (int32_t n = 1; n < count; ++n)
        EXPECT_EQ(Client.GetUidl(n), kept[static_cast<size_t>(n - 1)]);
    Client.Close();
}

TEST_F(Pop3Dovecot, SelfSignedCertificateIsRefusedUnlessTheApplicationAcceptsIt)
{
    Configure(SelfPeer, ctImplicit, true, "empty");
    int asked = 0;
    Client.OnVerifyServer = [&](TObject*, TixCertificate*, const std::string&, int32_t, bool&) { ++asked; };
    EXPECT_THROW(Client.Open(), EixSocketError);
    EXPECT_FALSE(Client.IsActive());
    EXPECT_EQ(asked, 1);

    Client.OnVerifyServer = [&](TObject*, TixCertificate*, const std::string&, int32_t, bool& AVerified) {
        EXPECT_FALSE(AVerified);
        AVerified = true;
    };
    Client.Open();
    EXPECT_EQ(Client.GetMessageCount(), 0);
    Client.Close();
}

// ---- Secure logins ---------------------------------------------------------------------------

class Pop3DovecotLogin : public Pop3Dovecot
{
protected:
    /// Open must fail with EixTcpClientError ACode, leaving the client closed without QUIT.
    void ExpectLoginFails(int32_t ACode)
    {
        try
        {
            Client.Open();
            ADD_FAILURE() << "the login was accepted";
        }
        catch (const EixTcpClientError& E)
        {
            EXPECT_EQ(E.ErrorCode(), ACode) << E.Message();
        }
        EXPECT_FALSE(Client.IsActive());
        EXPECT_EQ(CountSent("QUIT"), 0);
    }
};

TEST_F(Pop3DovecotLogin, EverySecureMethodLogsIn)
{
    struct TCase
    {
        const char* Name;
        std::function<void(TSecurePop3&)> Method;
        std::string Token;
        std::string Command; // the first command of the login
    };
    const TCase table[] = {
        {"APOP", [](TSecurePop3& AClient) { AClient.LoginApop(); }, "", "APOP few "},
        {"CRAM-MD5 by choice", nullptr, "", "AUTH"},
        {"XOAUTH2, bare token", nullptr, "ix-token-few", "AUTH XOAUTH2"},
        {"XOAUTH2, Bearer token", nullptr, "Bearer ix-token-few", "AUTH XOAUTH2"},
    };
    for (const bool tls : {false, true})
        for (const TCase& item : table)
        {
            Sent.clear();
            Configure(Peer, tls ? ctImplicit : ctNone, tls, "few");
            Client.SetUseSasl(true);
            Client.SetAuthorization(item.Token);
            Client.Method = item.Method;
            Client.Open();
            EXPECT_EQ(Client.GetMessageCount(), 3) << item.Name;
            Client.Close();
            ASSERT_FALSE(Sent.empty());
            EXPECT_TRUE(Sent[0].starts_with(item.Command)) << item.Name << ": " << Sent[0];
        }
    // The choice read Dovecot's mechanism list and took CRAM-MD5 from it.
    Sent.clear();
    Configure(Peer, ctNone, false, "few");
    Client.SetAuthorization("");
    Client.Method = nullptr;
    Client.Open();
    Client.Close();
    EXPECT_EQ(CountSent("AUTH"), 1);
    EXPECT_EQ(CountSent("AUTH CRAM-MD5"), 1);
}

TEST_F(Pop3DovecotLogin, AuthorizationAloneTurnsXOAuth2On)
{
    Configure(Peer, ctNone, false, "few");
    ASSERT_FALSE(Client.GetUseSasl());
    Client.SetAuthorization("ix-token-few");
    Client.Open();
    EXPECT_EQ(Client.GetMessageCount(), 3);
    Client.Close();
    EXPECT_EQ(CountSent("AUTH XOAUTH2"), 1);
    EXPECT_EQ(CountSent("USER few"), 0);
}

TEST_F(Pop3DovecotLogin, RefusedSecureLoginsRaiseTheServersAnswer)
{
    // A bad token: Dovecot answers the response with a continuation carrying its error.
    Configure(Peer, ctNone, false, "few");
    Client.SetAuthorization("ix-token-nobody");
    ExpectLoginFails(30);
    EXPECT_TRUE(Trim(Client.GetResponse().GetText()).starts_with("+ ey"));

    // A wrong password through APOP and CRAM-MD5.
    Client.SetAuthorization("");
    for (const bool apop : {true, false})
    {
        Sent.clear();
        Configure(Peer, ctNone, false, "few");
        Client.SetPassword("wrong");
        Client.SetUseSasl(true);
        Client.Method = apop ? std::function<void(TSecurePop3&)>([](TSecurePop3& AClient) { AClient.LoginApop(); })
                             : nullptr;
        ExpectLoginFails(20);
        EXPECT_TRUE(Client.GetResponse().GetText().starts_with("-ERR")) << apop;
    }
}

TEST_F(Pop3DovecotLogin, SaslOnlyWithoutAUsableMechanismStopsAfterAuth)
{
    // The second instance offers PLAIN and LOGIN only.
    Configure(SelfPeer, ctNone, false, "few");
    Client.SetSaslOnly(true);
    Client.SetUseSasl(true);
    ExpectLoginFails(-400);
    EXPECT_EQ(Sent, std::vector<std::string>{"AUTH\r\n"});

    // Without SaslOnly APOP follows, and its greeting had no time stamp.
    Sent.clear();
    Client.SetSaslOnly(false);
    ExpectLoginFails(20);
    EXPECT_EQ(Sent.back(), "APOP few \r\n");
}

// ---- Cyrus pop3d with Cyrus SASL's NTLM (tests/peers/cyrus) ----------------------------------

/// The Cyrus instance as its start script described it.
struct TCyrus
{
    int32_t Port = 0;
    std::map<std::string, std::string> Passwords;

    static TCyrus Load()
    {
        std::ifstream file(IX_CYRUS_STATE "/cyrus.env");
        TCyrus peer;
        for (std::string line; std::getline(file, line);)
        {
            if (line.starts_with("CYRUS_PORT="))
                peer.Port = std::stoi(line.substr(11));
            if (line.starts_with("CYRUS_USERS="))
            {
                std::istringstream users(line.substr(12));
                for (std::string pair; users >> pair;)
                    peer.Passwords[pair.substr(0, pair.find(':'))] = pair.substr(pair.find(':') + 1);
            }
        }
        return peer;
    }
};

class Pop3Cyrus : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { Peer = TCyrus::Load(); }

    void SetUp() override
    {
        ASSERT_NE(Peer.Port, 0) << "Cyrus is not running: start it with tests/peers/cyrus/start.sh " << IX_CYRUS_STATE;
        Client.OnSendCommand = [this](TObject*, const std::string& AText) { Sent.push_back(AText); };
        Client.SetServer("127.0.0.1");
        Client.SetPort(Peer.Port);
        Client.SetUseSasl(true);
    }

    /// Logs in as AUser with APassword, checks the delivered message, closes.
    void LogIn(const std::string& AUser, const std::string& APassword)
    {
        Sent.clear();
        Client.SetUserName(AUser);
        Client.SetPassword(APassword);
        Client.Open();
        EXPECT_EQ(Client.GetMessageCount(), 1) << AUser;
        Client.Close();
    }

    static inline TCyrus Peer;
    std::vector<std::string> Sent;
    TSecurePop3 Client;
};

TEST_F(Pop3Cyrus, NtlmLogsInWithAndWithoutADomain)
{
    const std::string password = Peer.Passwords["ntlmuser"];
    // Cyrus SASL checks the NTLMv2 response with the user and domain that the client sent.
    for (const std::string user : {"ntlmuser", "WORKGROUP\\ntlmuser", "WORKGROUP/ntlmuser"})
    {
        LogIn(user, password);
        ASSERT_GE(Sent.size(), 2u);
        EXPECT_EQ(Sent[1], "AUTH NTLM\r\n") << user;
    }
}

TEST_F(Pop3Cyrus, NtlmWithoutUserNameTakesTheLoggedOnUser)
{
    ::setenv("NTLM_USER", "ntlmuser", 1);
    ::setenv("NTLM_PASSWORD", Peer.Passwords["ntlmuser"].c_str(), 1);
    LogIn("", "");
    ::unsetenv("NTLM_USER");
    ::unsetenv("NTLM_PASSWORD");
}

TEST_F(Pop3Cyrus, CramMd5AndApopLogIn)
{
    Client.Method = [](TSecurePop3& AClient) { AClient.LoginCramMd5(); };
    LogIn("tim", Peer.Passwords["tim"]);
    EXPECT_EQ(Sent[0], "AUTH CRAM-MD5\r\n");
    Client.Method = [](TSecurePop3& AClient) { AClient.LoginApop(); };
    LogIn("tim", Peer.Passwords["tim"]);
    EXPECT_TRUE(Sent[0].starts_with("APOP tim ")) << Sent[0];
}

TEST_F(Pop3Cyrus, WrongPasswordFailsWithTheServersRefusal)
{
    using TMethod = std::function<void(TSecurePop3&)>;
    for (const TMethod& method : {TMethod(), TMethod([](TSecurePop3& AClient) { AClient.LoginCramMd5(); }),
             TMethod([](TSecurePop3& AClient) { AClient.LoginApop(); })})
    {
        Sent.clear();
        Client.Method = method;
        Client.SetUserName(method ? "tim" : "ntlmuser");
        Client.SetPassword("wrong");
        try
        {
            Client.Open();
            ADD_FAILURE() << "a wrong password was accepted";
        }
        catch (const EixTcpClientError& E)
        {
            EXPECT_EQ(E.ErrorCode(), 20) << E.Message();
            EXPECT_TRUE(E.Message().starts_with("-ERR")) << E.Message();
        }
        EXPECT_FALSE(Client.IsActive());
        EXPECT_EQ(std::count(Sent.begin(), Sent.end(), "QUIT\r\n"), 0);
    }
}

} // namespace
} // namespace ix
