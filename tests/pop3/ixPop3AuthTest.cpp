// The secure login methods and the choice among them, against scripted servers.
#include "pop3/ixPop3.h"
#include "pop3/ixSspiAuth.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "message/ixEncoder.h"
#include "support/ScriptedServer.h"

namespace ix {
namespace {

using test::ScriptedServer;
using test::Step;

// RFC 1939's APOP example and RFC 2195's CRAM-MD5 example.
const std::string ApopGreeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";
const std::string ApopLine = "APOP mrose c4c9334bac560ecc979e58001b3e22fb";
const std::string CramChallenge = "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
const std::string CramResponse = "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw";

// The CHALLENGE message of MS-NLMP 4.2.4 in base64.
const std::string NtlmChallenge = "TlRMTVNTUAACAAAADAAMADgAAAAzgoriASNFZ4mrze8AAAAAAAAAACQAJABEAAAABgBwFwAAAA9TAGUAcgB2"
                                  "AGUAcgACAAwARABvAG0AYQBpAG4AAQAMAFMAZQByAHYAZQByAAAAAAA=";

std::string Base64(const std::string& AText)
{
    return TixEncoder::EncodeLineWith(cmBase64, AText);
}

class Pop3Auth : public ::testing::Test
{
protected:
    void Start(std::vector<Step> AScript, const std::string& AUser = "mrose", const std::string& APassword = "tanstaaf")
    {
        Server = std::make_unique<ScriptedServer>(std::move(AScript));
        Client.SetServer("127.0.0.1");
        Client.SetPort(Server->Port());
        Client.SetUserName(AUser);
        Client.SetPassword(APassword);
        Client.SetTimeOut(10000);
        Client.SetUseSasl(true);
        Shown.clear();
        Client.OnSendCommand = [this](TObject*, const std::string& AText) { Shown.push_back(AText); };
    }

    /// Open must fail with TError and ACode; returns the message. The client is closed after.
    template <typename TError>
    std::string OpenFails(int32_t ACode)
    {
        try
        {
            Client.Open();
            ADD_FAILURE() << "Open succeeded";
        }
        catch (const TError& E)
        {
            EXPECT_EQ(E.ErrorCode(), ACode) << E.Message();
            EXPECT_FALSE(Client.IsActive());
            return E.Message();
        }
        return {};
    }

    void OpenAndClose()
    {
        Client.Open();
        EXPECT_TRUE(Client.IsActive());
        Client.Close();
    }

    std::unique_ptr<ScriptedServer> Server;
    TixPop3 Client;
    /// The lines OnSendCommand showed: secrets masked, while the server checks the real lines.
    std::vector<std::string> Shown;
};

const std::vector<Step> Quit{Step::Expect("QUIT"), Step::Send("+OK bye\r\n"), Step::Drain()};

std::vector<Step> operator+(std::vector<Step> A, const std::vector<Step>& B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

TEST_F(Pop3Auth, MechanismListChoosesTheMethod)
{
    struct TCase
    {
        std::string Reply; // the answer to "AUTH"
        std::string Chosen; // the next command
    };
    const TCase table[] = {
        {"+OK\r\nntlm\r\n.\r\n", "AUTH NTLM"},
        {"+OK\r\nCRAM-MD5\r\nNTLM\r\n.\r\n", "AUTH NTLM"},
        {"+OK List of supported mechanisms follows\r\nNTLM\r\nCRAM-MD5\r\n.\r\n", "AUTH NTLM"},
        {"+OK\r\nPLAIN\r\ncram-md5\r\n.\r\n", "AUTH CRAM-MD5"},
        {"+OK\r\nNTLM \r\nPLAIN\r\n.\r\n", ApopLine},
        {"-ERR unknown command\r\n", ApopLine},
    };
    for (const TCase& item : table)
    {
        Start({Step::Send(ApopGreeting), Step::Expect("AUTH"), Step::Send(item.Reply), Step::Expect(item.Chosen),
            Step::Send("-ERR no\r\n"), Step::Drain()});
        EXPECT_EQ(OpenFails<EixTcpClientError>(20), "-ERR no") << item.Reply;
        EXPECT_EQ(Server->Finish(), "") << item.Reply;
    }
}

TEST_F(Pop3Auth, SaslOnlyWithoutAUsableMechanismSendsNothingMore)
{
    for (const std::string reply : {"-ERR\r\n", "+OK\r\nPLAIN\r\nLOGIN\r\n.\r\n"})
    {
        Start({Step::Send(ApopGreeting), Step::Expect("AUTH"), Step::Send(reply), Step::Drain()});
        Client.SetSaslOnly(true);
        EXPECT_EQ(OpenFails<EixTcpClientError>(-400), "Unable to logon to the server using Secure Password Authentication");
        EXPECT_EQ(Server->Finish(), "");
        EXPECT_EQ(Server->Received(), "AUTH\r\n");
    }
}

TEST_F(Pop3Auth, ApopAndCramMd5SendTheDigestsOfTheirRfcs)
{
    Start(std::vector<Step>{Step::Send(ApopGreeting), Step::Expect("AUTH"), Step::Send("-ERR\r\n"),
              Step::Expect(ApopLine), Step::Send("+OK maildrop locked\r\n")}
        + Quit);
    OpenAndClose();
    EXPECT_EQ(Server->Finish(), "");
    EXPECT_EQ(Shown, (std::vector<std::string>{"AUTH\r\n", "APOP mrose ****\r\n", "QUIT\r\n"}));

    Start(std::vector<Step>{Step::Send("+OK ready\r\n"), Step::Expect("AUTH"), Step::Send("+OK\r\nCRAM-MD5\r\n.\r\n"),
              Step::Expect("AUTH CRAM-MD5"), Step::Send("+ " + CramChallenge + "\r\n"), Step::Expect(CramResponse),
              Step::Send("+OK\r\n")}
        + Quit,
        "tim", "tanstaaftanstaaf");
    OpenAndClose();
    EXPECT_EQ(Server->Finish(), "");
    EXPECT_EQ(Shown, (std::vector<std::string>{"AUTH\r\n", "AUTH CRAM-MD5\r\n", "****\r\n", "QUIT\r\n"}));
}

TEST_F(Pop3Auth, ApopWithoutTimeStampEndsInABlank)
{
    Start({Step::Send("+OK ready\r\n"), Step::Expect("AUTH"), Step::Send("-ERR\r\n"), Step::Expect("APOP mrose "),
        Step::Send("-ERR no time stamp\r\n"), Step::Drain()});
    OpenFails<EixTcpClientError>(20);
    EXPECT_EQ(Server->Finish(), "");
}

TEST_F(Pop3Auth, ServerDroppingAfterApopFailsClosed)
{
    Start({Step::Send(ApopGreeting), Step::Expect("AUTH"), Step::Send("-ERR\r\n"), Step::Expect(ApopLine), Step::Close()});
    EXPECT_THROW(Client.Open(), EixSocketError);
    EXPECT_FALSE(Client.IsActive());
    EXPECT_EQ(Server->Finish(), "");
}

TEST_F(Pop3Auth, XOAuth2SendsABearerToken)
{
    const std::string expected = Base64("user=mrose\x01" "auth=Bearer ya29.token\x01\x01");
    for (const std::string token : {"ya29.token", "Bearer ya29.token"})
    {
        Start(std::vector<Step>{Step::Send(ApopGreeting), Step::Expect("AUTH XOAUTH2"), Step::Send("+ \r\n"), Step::Expect(expected),
                  Step::Send("+OK\r\n")}
            + Quit);
        Client.SetUseSasl(false);
        Client.SetAuthorization(token); // turns UseSasl on
        OpenAndClose();
        EXPECT_EQ(Server->Finish(), "") << token;
        EXPECT_EQ(Shown, (std::vector<std::string>{"AUTH XOAUTH2\r\n", "****\r\n", "QUIT\r\n"})) << token;
    }
}

TEST_F(Pop3Auth, XOAuth2ContinuationAfterTheResponseIsAnError)
{
    const std::string error = "+ eyJzdGF0dXMiOiI0MDEifQ==";
    Start({Step::Send("+OK\r\n"), Step::Expect("AUTH XOAUTH2"), Step::Send("+\r\n"), Step::Expect(Base64("user=mrose\x01" "auth=Bearer bad\x01\x01")),
        Step::Send(error + "\r\n"), Step::Drain()});
    Client.SetAuthorization("bad");
    EXPECT_EQ(OpenFails<EixTcpClientError>(30), Trim(error));
    EXPECT_EQ(Server->Finish(), "");
}

// ---- NTLM ----------------------------------------------------------------------------------

/// The NTLM exchange up to the client's NEGOTIATE line (checked by its fixed start).
std::vector<Step> NtlmStart(const std::string& AAuthReply = "+ \r\n")
{
    return {Step::Send("+OK ready\r\n"), Step::Expect("AUTH"), Step::Send("+OK\r\nNTLM\r\n.\r\n"),
        Step::Expect("AUTH NTLM"), Step::Send(AAuthReply), Step::Call([](test::ScriptIo& AIo) {
            // "NTLMSSP\0", type 1: the base64 of a NEGOTIATE message begins so.
            EXPECT_EQ(AIo.Take(14), "TlRMTVNTUAABAA");
        }),
        Step::Receive(44)};
}

TEST_F(Pop3Auth, NtlmRunsNegotiateChallengeAuthenticate)
{
    std::string authenticate;
    Start(NtlmStart() + std::vector<Step>{Step::Send("+ " + NtlmChallenge + "\r\n"), Step::Call([&](test::ScriptIo& AIo) {
        while (authenticate.find("\r\n") == std::string::npos)
            authenticate += AIo.TakeSome();
        AIo.Send("+OK welcome\r\n");
    })} + Quit,
        "DOMAIN\\User", "Password");
    OpenAndClose();
    EXPECT_EQ(Server->Finish(), "");
    EXPECT_EQ(Shown, (std::vector<std::string>{"AUTH\r\n", "AUTH NTLM\r\n", "****\r\n", "****\r\n", "QUIT\r\n"}));
    const std::string message = TixEncoder::DecodeWith(cmBase64, authenticate);
    ASSERT_GT(message.size(), 64u);
    EXPECT_EQ(message.substr(0, 12), std::string("NTLMSSP\0\3\0\0\0", 12));
    EXPECT_NE(message.find(std::string("D\0O\0M\0A\0I\0N\0U\0s\0e\0r\0", 20)), std::string::npos);
}

TEST_F(Pop3Auth, NtlmFailuresRaiseTheirErrors)
{
    // "+OK" instead of "+ " to AUTH NTLM is accepted; the NEGOTIATE must then be answered by "+ ".
    Start(NtlmStart("+OK go on\r\n") + std::vector<Step>{Step::Send("+OK\r\n"), Step::Drain()});
    OpenFails<EixTcpClientError>(10);
    EXPECT_EQ(Server->Finish(), "");

    // A CHALLENGE whose target information lies beyond its end.
    std::string hostile = TixEncoder::DecodeWith(cmBase64, NtlmChallenge);
    hostile[44] = '\xF0';
    Start(NtlmStart() + std::vector<Step>{Step::Send("+ " + Base64(hostile) + "\r\n"), Step::Drain()});
    OpenFails<EixSSPIError>(os::SEC_E_INVALID_TOKEN);
    EXPECT_EQ(Server->Finish(), "");

    // A continuation without a token.
    Start(NtlmStart() + std::vector<Step>{Step::Send("+ \r\n"), Step::Drain()});
    OpenFails<EixSSPIError>(os::SEC_E_INVALID_TOKEN);
    EXPECT_EQ(Server->Finish(), "");

    // The server's refusal of the AUTHENTICATE message.
    Start(NtlmStart() + std::vector<Step>{Step::Send("+ " + NtlmChallenge + "\r\n"),
        Step::Call([](test::ScriptIo& AIo) {
            for (std::string line; line.find("\r\n") == std::string::npos;)
                line += AIo.TakeSome();
            AIo.Send("-ERR [AUTH] Authentication failed\r\n");
        }),
        Step::Drain()});
    EXPECT_EQ(OpenFails<EixTcpClientError>(20), "-ERR [AUTH] Authentication failed");
    EXPECT_EQ(Server->Finish(), "");
}

TEST_F(Pop3Auth, NtlmWithoutUserNameNeedsTheLoggedOnUsersCredentials)
{
    ::unsetenv("NTLM_USER");
    ::unsetenv("NTLM_CREDENTIALS_FILE");
    Start({Step::Send("+OK\r\n"), Step::Expect("AUTH"), Step::Send("+OK\r\nNTLM\r\n.\r\n"), Step::Expect("AUTH NTLM"),
              Step::Send("+ \r\n"), Step::Drain()},
        "", "");
    OpenFails<EixSSPIError>(os::SEC_E_NO_CREDENTIALS);
    EXPECT_EQ(Server->Finish(), "");
    EXPECT_EQ(Server->Received(), "AUTH\r\nAUTH NTLM\r\n");
}

TEST(AuthIdentity, UserTextSplitsIntoDomainAndUser)
{
    struct TCase
    {
        std::string Text, User, Domain;
    };
    const TCase table[] = {
        {"user", "user", ""},
        {"DOMAIN\\user", "user", "DOMAIN"},
        {"DOMAIN/user", "user", "DOMAIN"},
        {"a/b\\c", "c", "a/b"},
        {"\\user", "user", ""},
    };
    for (const TCase& item : table)
    {
        TixAuthIdentity identity(item.Text, "pw");
        EXPECT_EQ(identity.GetUser(), item.User) << item.Text;
        EXPECT_EQ(identity.GetDomain(), item.Domain) << item.Text;
        const os::SEC_WINNT_AUTH_IDENTITY_A* record = identity.GetIdentity();
        EXPECT_EQ(record->Flags, 1u);
        EXPECT_EQ(record->UserLength, item.User.size());
        EXPECT_EQ(record->DomainLength, item.Domain.size());
        EXPECT_EQ(record->Domain == nullptr, item.Domain.empty());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(record->Password)), "pw");
    }
}

} // namespace
} // namespace ix
