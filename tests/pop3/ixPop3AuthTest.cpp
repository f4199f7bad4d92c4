// The secure login methods and the choice among them, against scripted servers.
#include "pop3/ixPop3.h"
#include "pop3/ixSspiAuth.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "message/ixEncoder.h"
#include "Pop3TestUtils.h"

namespace ix {
namespace {

using test::Step;

// RFC 1939's APOP example.
const std::string ApopGreeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";
const std::string ApopLine = "APOP mrose c4c9334bac560ecc979e58001b3e22fb";

// The CHALLENGE message of MS-NLMP 4.2.4 in base64.
const std::string NtlmChallenge = "TlRMTVNTUAACAAAADAAMADgAAAAzgoriASNFZ4mrze8AAAAAAAAAACQAJABEAAAABgBwFwAAAA9TAGUAcgB2"
                                  "AGUAcgACAAwARABvAG0AYQBpAG4AAQAMAFMAZQByAHYAZQByAAAAAAA=";

/// A client that logs in with the secure methods (by default as the examples of the RFCs' user).
class Pop3Auth : public test::ScriptedPop3
{
protected:
    void StartSecure(std::vector<Step> AScript, const std::string& AUser = "mrose",
        const std::string& APassword = "tanstaaf")
    {
        Start(std::move(AScript), AUser, APassword);
        Client->SetUseSasl(true);
    }
};

TEST_F(Pop3Auth, MechanismListChoosesTheMethod)
{
    struct TCase
    {
        std::string Reply; // the answer to "AUTH"
        std::string Chosen; // the next command
    };
    const TCase table[] = {
        {"+OK\r\nntlm\r\n.\r\n", "AUTH NTLM"}, // NTLM before CRAM-MD5: the Cyrus logins
        {"+OK\r\nPLAIN\r\ncram-md5\r\n.\r\n", "AUTH CRAM-MD5"},
        {"+OK\r\nNTLM \r\nPLAIN\r\n.\r\n", ApopLine},
        {"-ERR unknown command\r\n", ApopLine},
    };
    for (const TCase& item : table)
    {
        StartSecure({Step::Send(ApopGreeting), Step::Expect("AUTH"), Step::Send(item.Reply), Step::Expect(item.Chosen),
            Step::Send("-ERR no\r\n"), Step::Drain()});
        EXPECT_EQ(ExpectOpenFails(20), "-ERR no") << item.Reply;
    }
}

// ---- NTLM ----------------------------------------------------------------------------------

/// The NTLM exchange up to the client's NEGOTIATE line (checked by its fixed start), then AThen.
std::vector<Step> NtlmStart(const std::string& AAuthReply, const std::vector<Step>& AThen)
{
    return std::vector<Step>{Step::Send("+OK ready\r\n"), Step::Expect("AUTH"), Step::Send("+OK\r\nNTLM\r\n.\r\n"),
               Step::Expect("AUTH NTLM"), Step::Send(AAuthReply), Step::Call([](test::ScriptIo& AIo) {
                   // "NTLMSSP\0", type 1: the base64 of a NEGOTIATE message begins so.
                   EXPECT_EQ(AIo.Take(14), "TlRMTVNTUAABAA");
               }),
               Step::Receive(44)}
        + AThen;
}

TEST_F(Pop3Auth, NtlmFailuresRaiseTheirErrors)
{
    // A CHALLENGE whose target information lies beyond its end.
    std::string hostile = TixEncoder::DecodeWith(cmBase64, NtlmChallenge);
    hostile[44] = '\xF0';
    struct TCase
    {
        const char* Name;
        std::vector<Step> Script;
        bool Sspi; // EixSSPIError, else EixTcpClientError
        int32_t Code;
        std::string User = "mrose"; // none: the logged-on user's credentials, of which there are none
    };
    const TCase table[] = {
        // "+OK" instead of "+ " to AUTH NTLM is accepted; the NEGOTIATE must then be answered by "+ ".
        {"+OK to the negotiate", NtlmStart("+OK go on\r\n", {Step::Send("+OK\r\n"), Step::Drain()}), false, 10},
        {"target beyond the end", NtlmStart("+ \r\n", {Step::Send("+ " + TixEncoder::EncodeLineWith(cmBase64, hostile) + "\r\n"), Step::Drain()}),
            true, os::SEC_E_INVALID_TOKEN},
        {"no token", NtlmStart("+ \r\n", {Step::Send("+ \r\n"), Step::Drain()}), true, os::SEC_E_INVALID_TOKEN},
        {"no user name", {Step::Send("+OK\r\n"), Step::Expect("AUTH"), Step::Send("+OK\r\nNTLM\r\n.\r\n"),
                             Step::Expect("AUTH NTLM"), Step::Send("+ \r\n"), Step::Drain()},
            true, os::SEC_E_NO_CREDENTIALS, ""},
    };
    ::unsetenv("NTLM_USER");
    ::unsetenv("NTLM_CREDENTIALS_FILE");
    for (const TCase& item : table)
    {
        SCOPED_TRACE(item.Name);
        StartSecure(item.Script, item.User, item.User.empty() ? "" : "tanstaaf");
        if (item.Sspi)
            ExpectOpenFails<EixSSPIError>(item.Code);
        else
            ExpectOpenFails(item.Code);
        EXPECT_TRUE(!item.User.empty() || Server->Received() == "AUTH\r\nAUTH NTLM\r\n") << Server->Received();
    }
}

TEST(AuthIdentity, UserTextSplitsIntoDomainAndUser)
{
    struct TCase
    {
        std::string Text, User, Domain;
    };
    const TCase table[] = {
        {"a/b\\c", "c", "a/b"}, // "DOMAIN\\user", "DOMAIN/user" and "user": the Cyrus logins
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
