// The POP3 client against a real Dovecot started by tests/peers/dovecot/start.sh (the CTest
// fixtures peer_dovecot and peer_dovecot_self), and Cyrus pop3d with Cyrus SASL's NTLM started by
// tests/peers/cyrus. The scripts write each instance's ports and CA to STATE/dovecot.env and the
// exact bytes of every message to STATE/expected/<user>/<n>.eml.
#include "pop3/ixPop3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/ExpectError.h"
#include "support/PeerEnv.h"
#include "support/ProgramRun.h"

namespace ix {
namespace {

/// The bytes a client must receive for message ANumber of AUser.
std::string Expected(const std::string& AUser, int32_t ANumber)
{
    return test::ReadAll(IX_DOVECOT_STATE "/expected/" + AUser + "/" + std::to_string(ANumber) + ".eml");
}

std::string Password(const std::string& AUser)
{
    return AUser == "IvoryTester" ? "samplepasswd" : "secret-" + AUser;
}

using TMethod = void (TixPop3::*)();

/// A client whose test can pick the login method that the secure login runs.
class TSecurePop3 : public TixPop3
{
public:
    using TixPop3::LoginApop;
    using TixPop3::LoginCramMd5;

    /// Runs instead of the choice of method when set.
    TMethod Method = nullptr;

protected:
    void Authenticate() override { Method != nullptr ? (this->*Method)() : TixPop3::Authenticate(); }
};

const TMethod Apop = &TSecurePop3::LoginApop;
const TMethod CramMd5 = &TSecurePop3::LoginCramMd5;

/// A login method on one server and the commands it must begin with.
struct TLogin
{
    bool Cyrus; // else Dovecot's mailbox "few", in plain text and in the mode Tls
    std::string User;
    bool UseSasl;
    TMethod Method; // none: the client's own choice
    std::string Token;
    std::vector<std::string> Commands; // the first commands, each a prefix of the line sent
    TixClientTlsMode Tls = ctNone;
};

/// A client of the real servers (both Dovecot instances and Cyrus pop3d) whose sent commands
/// are recorded.
class Pop3Peer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Peer = test::RequirePeerEnv(IX_DOVECOT_STATE "/dovecot.env");
        SelfPeer = test::RequirePeerEnv(IX_DOVECOT_SELF_STATE "/dovecot.env");
        Cyrus = test::RequirePeerEnv(IX_CYRUS_STATE "/cyrus.env");
        // Trust the test authority that signed the server certificate (OpenSSL's default paths).
        ::setenv("SSL_CERT_FILE", Peer.at("DOVECOT_CA").c_str(), 1);
    }

    void SetUp() override
    {
        Client.OnSendCommand = [this](TObject*, const std::string& AText) { Sent.push_back(AText); };
    }

    /// Aims the client at APort in AMode, as AUser with a Dovecot user's password.
    void Configure(const std::string& APort, TixClientTlsMode AMode, const std::string& AUser)
    {
        Client.SetServer("127.0.0.1");
        Client.SetPort(std::stoi(APort));
        Client.SetUseTLS(AMode);
        Client.SetUserName(AUser);
        Client.SetPassword(Password(AUser));
    }

    /// Open must fail with EixTcpClientError ACode (for a server's refusal, its answer as the
    /// message), leaving the client closed without QUIT.
    void ExpectLoginFails(int32_t ACode)
    {
        const std::string message = test::ExpectError<EixTcpClientError>([this] { Client.Open(); }, ACode);
        EXPECT_TRUE(ACode < 0 || message == Trim(Client.GetResponse().GetText())) << message;
        EXPECT_FALSE(Client.IsActive());
        EXPECT_EQ(std::ranges::count(Sent, "QUIT\r\n"), 0);
    }

    /// Sets up ALogin with APassword (after the transport is set).
    void Prepare(const TLogin& ALogin, const std::string& APassword)
    {
        Sent.clear();
        Client.SetUserName(ALogin.User);
        Client.SetPassword(APassword);
        Client.SetUseSasl(ALogin.UseSasl);
        Client.SetAuthorization(""); // removing a token leaves UseSasl as it was, a new one turns it on
        EXPECT_EQ(Client.GetUseSasl(), ALogin.UseSasl);
        Client.SetAuthorization(ALogin.Token);
        Client.Method = ALogin.Method;
    }

    /// ALogin with APassword opens a mailbox of ACount messages, beginning with its commands
    /// (after STLS) as OnSendCommand shows them, each secret as "****".
    void ExpectLogin(const TLogin& ALogin, const std::string& APassword, int32_t ACount)
    {
        Prepare(ALogin, APassword);
        Client.Open();
        EXPECT_EQ(Client.GetMessageCount(), ACount);
        Client.Close();
        EXPECT_EQ(std::ranges::count(Sent, "QUIT\r\n"), 1);
        EXPECT_EQ(std::erase(Sent, "STLS\r\n"), Client.GetUseTLS() == ctExplicit ? 1U : 0U);
        const auto isPrefix = [](const std::string& APrefix, const std::string& ALine) { return ALine.starts_with(APrefix); };
        EXPECT_EQ(std::mismatch(ALogin.Commands.begin(), ALogin.Commands.end(), Sent.begin(), Sent.end(), isPrefix).first,
            ALogin.Commands.end()) << Sent[0];
    }

    /// ALogin with a wrong password, or a wrong token for a token login, is refused: Dovecot
    /// answers a token's response with a continuation carrying its error.
    void ExpectWrongSecretRefused(const TLogin& ALogin)
    {
        Prepare(ALogin, "wrong");
        if (!ALogin.Token.empty())
            Client.SetAuthorization("ix-token-nobody");
        ExpectLoginFails(ALogin.Token.empty() ? 20 : 30);
        EXPECT_TRUE(Client.GetResponse().GetText().starts_with(ALogin.Token.empty() ? "-ERR " : "+ ey"));
    }

    static inline std::map<std::string, std::string> Peer, SelfPeer, Cyrus; // as their start scripts wrote them
    std::vector<std::string> Sent; // outlives Client, whose destructor may still say QUIT
    TSecurePop3 Client;
};

TEST_F(Pop3Peer, EveryMessageIsListedAndArrivesByteForByteWithItsProgress)
{
    std::vector<std::pair<int64_t, int64_t>> calls;
    Client.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) { calls.emplace_back(ADone, ATotal); };
    for (const bool tls : {false, true})
        for (const std::string user : {"empty", "few", "dots", "large", "IvoryTester"})
        {
            Configure(Peer.at(tls ? "DOVECOT_TLS_PORT" : "DOVECOT_PLAIN_PORT"), tls ? ctImplicit : ctNone, user);
            Client.SetPipelineDepth(4); // several refills even on the small mailboxes
            Client.SetLimitRetrieveToListSize(true); // each message arrives within its listed size
            Client.Open();
            Sent.clear();
            const std::vector<TixPop3ListItem> items = Client.ListMailBox();
            EXPECT_EQ(std::ranges::count(Sent, "CAPA\r\n"), items.empty() ? 0 : 1);
            const auto count = static_cast<int32_t>(items.size());
            ASSERT_EQ(Expected(user, count + 1), "") << user << " has more messages than listed";
            ASSERT_EQ(Client.GetMessageCount(), count) << user;
            int64_t total = 0;
            for (const TixPop3ListItem& item : items)
            {
                SCOPED_TRACE(user + " " + std::to_string(item.Number) + (tls ? " TLS" : ""));
                const std::string expected = Expected(user, item.Number);
                const auto size = static_cast<int64_t>(expected.size());
                const std::string header = expected.substr(0, expected.find("\r\n\r\n") + 4);
                total += size;
                EXPECT_EQ(item.Size, size);
                EXPECT_EQ(Client.GetMessageSize(item.Number), size);
                EXPECT_NE(item.Uid, "");
                EXPECT_EQ(Client.GetUidl(item.Number), item.Uid);
                ASSERT_TRUE(item.HeaderRead) << item.HeaderError;
                TStringList listed;
                for (const std::string& line : item.Header)
                    listed.Add(line);
                EXPECT_EQ(listed.GetText(), header);
                calls.clear();
                Sent.clear();
                Client.Retrieve(item.Number, nullptr);
                EXPECT_TRUE(Client.GetResponse().GetText() == expected) << "differs";
                // Progress runs along the body to the announced size, which a LIST asked for.
                EXPECT_EQ(Sent, (std::vector<std::string>{"LIST " + std::to_string(item.Number) + "\r\n",
                                    "RETR " + std::to_string(item.Number) + "\r\n"}));
                ASSERT_FALSE(calls.empty());
                EXPECT_EQ(calls.back(), (std::pair<int64_t, int64_t>{size, size}));
                EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
                for (const auto& [done, announced] : calls)
                    EXPECT_TRUE(done <= announced && announced == size) << done << " of " << announced;
                // A large message reports from its first lines on, never in one jump.
                const auto moving = std::count_if(calls.begin(), calls.end(),
                    [&](const auto& ACall) { return ACall.first > 0 && ACall.first < size / 2; });
                EXPECT_TRUE(user != "large" || (moving >= 10 && calls.front().first < size / 10))
                    << moving << " of " << calls.size() << " calls moving, the first at " << calls.front().first;
            }
            EXPECT_EQ(Client.GetMailBoxSize(), total);
            Client.Close();
        }
}

TEST_F(Pop3Peer, EveryLoginMethodLogsInOverEveryTransportAndRefusesAWrongSecret)
{
    // Cyrus SASL checks the NTLMv2 response with the user and domain that the client sent;
    // without a user name the client takes the logged-on user's.
    const std::vector<std::string> ntlm{"AUTH\r\n", "AUTH NTLM\r\n", "****\r\n", "****\r\n"};
    const TLogin table[] = {
        {false, "few", false, nullptr, "", {"USER few\r\n", "PASS ****\r\n"}, ctExplicit},
        {false, "few", true, Apop, "", {"APOP few ****\r\n"}, ctImplicit},
        {false, "few", true, nullptr, "", {"AUTH\r\n", "AUTH CRAM-MD5\r\n", "****\r\n"}, ctAutomatic}, // from the list
        {false, "few", true, nullptr, "ix-token-few", {"AUTH XOAUTH2\r\n", "****\r\n"}, ctExplicit},
        {false, "few", true, nullptr, "Bearer ix-token-few", {"AUTH XOAUTH2\r\n", "****\r\n"}, ctImplicit},
        {false, "few", false, nullptr, "ix-token-few", {"AUTH XOAUTH2\r\n", "****\r\n"}, ctAutomatic}, // by the token
        {true, "ntlmuser", true, nullptr, "", ntlm},
        {true, "WORKGROUP\\ntlmuser", true, nullptr, "", ntlm},
        {true, "WORKGROUP/ntlmuser", true, nullptr, "", ntlm},
        {true, "", true, nullptr, "", ntlm},
        {true, "tim", true, CramMd5, "", {"AUTH CRAM-MD5\r\n", "****\r\n"}},
        {true, "tim", true, Apop, "", {"APOP tim ****\r\n"}},
    };
    ::setenv("NTLM_USER", "ntlmuser", 1);
    ::setenv("NTLM_PASSWORD", test::CyrusPassword(Cyrus, "ntlmuser").c_str(), 1);
    for (const TLogin& item : table)
        for (const TixClientTlsMode mode : std::set{ctNone, item.Tls})
        {
            SCOPED_TRACE(item.User + " " + item.Commands[0] + item.Token + " mode " + std::to_string(int(mode)));
            const std::string user = item.User.substr(item.User.find_last_of("\\/") + 1);
            const bool tlsPort = mode == ctImplicit || mode == ctAutomatic;
            Configure(item.Cyrus ? Cyrus.at("CYRUS_PORT") : Peer.at(tlsPort ? "DOVECOT_TLS_PORT" : "DOVECOT_PLAIN_PORT"), mode,
                user);
            ExpectLogin(item, item.Cyrus ? test::CyrusPassword(Cyrus, user) : Password(user), item.Cyrus ? 1 : 3);
            EXPECT_TRUE(item.Cyrus || Client.GetTimeStamp() != ""); // Dovecot offers APOP: its greeting has one
            if (mode == ctNone && !item.User.empty())
                ExpectWrongSecretRefused(item);
        }
    ::unsetenv("NTLM_USER");
    ::unsetenv("NTLM_PASSWORD");
}

TEST_F(Pop3Peer, SaslOnlyWithoutAUsableMechanismStopsAfterAuth)
{
    // The second instance offers PLAIN and LOGIN only.
    Configure(SelfPeer.at("DOVECOT_PLAIN_PORT"), ctNone, "few");
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

} // namespace
} // namespace ix
