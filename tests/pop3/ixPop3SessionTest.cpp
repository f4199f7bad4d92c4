// POP3 sessions against scripted servers, broken and hostile ones among them: each case asserts
// the client's exact outcome, that nothing stale is ever taken for a reply and that no descriptor
// or thread is left behind. The secure login's choice among the methods and its failures are
// opens that fail.
#include "pop3/ixPop3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "message/ixEncoder.h"
#include "net/ixNetTestUtils.h"
#include "platform/ixOsMessages.h"
#include "platform/ixOsSecurity.h"
#include "support/ExpectError.h"
#include "support/ScriptedServer.h"
#include "support/TlsTestServer.h"

namespace ix {
namespace {

using namespace std::chrono_literals;
using test::ExpectError;
using test::ScriptedServer;
using test::Step;

/// The steps of AFirst, then those of ASecond.
std::vector<Step> operator+(std::vector<Step> AFirst, const std::vector<Step>& ASecond)
{
    AFirst.insert(AFirst.end(), ASecond.begin(), ASecond.end());
    return AFirst;
}

/// AGreeting and the USER/PASS login of alice, then AThen.
std::vector<Step> Login(const std::vector<Step>& AThen = {}, const std::string& AGreeting = "+OK ready\r\n")
{
    return std::vector<Step>{Step::Send(AGreeting), Step::Expect("USER alice"), Step::Send("+OK\r\n"),
               Step::Expect("PASS secret"), Step::Send("+OK logged in\r\n")}
        + AThen;
}

/// The end of a session: QUIT answered, then the client's close.
std::vector<Step> Quit()
{
    return {Step::Expect("QUIT"), Step::Send("+OK bye\r\n"), Step::Drain()};
}

/// A client of a scripted server, both made anew by each Start. It counts its OnOpen and OnClose
/// events; after each test the process has as many descriptors and threads as before it.
class Pop3Session : public ::testing::Test
{
protected:
    void TearDown() override
    {
        Client.reset();
        Server.reset();
        EXPECT_EQ(test::CountResources(), Before);
    }

    void Start(std::vector<Step> AScript, const std::string& AUser = "alice", const std::string& APassword = "secret")
    {
        Client.reset();
        Server = std::make_unique<ScriptedServer>(std::move(AScript));
        Client = std::make_unique<TixPop3>();
        Client->SetServer("127.0.0.1");
        Client->SetPort(Server->Port());
        Client->SetUserName(AUser);
        Client->SetPassword(APassword);
        Client->SetTimeOut(10000);
        Client->OnOpen = [this](TObject*) { ++Opened; };
        Client->OnClose = [this](TObject*) { ++Closed; };
        Opened = Closed = 0;
    }

    /// The client is closed and refuses the next command without sending it; the script ran to
    /// its end and the server never read QUIT.
    void ExpectClosedWithoutQuit()
    {
        EXPECT_FALSE(Client->IsActive());
        EXPECT_FALSE(Client->GetInProgress());
        ExpectError<EixSocketError>([&] { Client->Delete(1); }, SocketErrorNotActive);
        EXPECT_EQ(Server->Finish(), "");
        EXPECT_EQ(Server->Received().find("QUIT"), std::string::npos) << Server->Received();
    }

    /// Open must raise TError with ACode, firing neither OnOpen nor OnClose, and leave the client
    /// closed without QUIT; returns the error's message.
    template <typename TError = EixTcpClientError>
    std::string ExpectOpenFails(int32_t ACode)
    {
        const std::string message = ExpectError<TError>([this] { Client->Open(); }, ACode);
        EXPECT_EQ(Opened + Closed, 0);
        ExpectClosedWithoutQuit();
        return message;
    }

    const test::TResourceCount Before = test::CountResources();
    std::unique_ptr<ScriptedServer> Server;
    std::unique_ptr<TixPop3> Client;
    int Opened = 0;
    int Closed = 0;
};

TEST_F(Pop3Session, GreetingGivesTheTimeStampBetweenOrderedBracketsAndDestroyingSaysQuit)
{
    const std::pair<std::string, std::string> table[] = {
        {"+OK POP3 <1896.697170952@dbc.mtview.ca.us> ready\r\n", "<1896.697170952@dbc.mtview.ca.us>"},
        {"+OK ready\r\n", ""},
        {"+OK >x< ready\r\n", ""},
        {"+OK <unclosed\r\n", ""},
        {"* hello\r\nwelcome\r\n+OK <1@ix.test>\r\n", "<1@ix.test>"}, // uncoded lines first are skipped
    };
    for (const auto& [greeting, stamp] : table)
    {
        Start(Login(Quit(), greeting));
        Client->Open();
        EXPECT_EQ(Client->GetTimeStamp(), stamp) << greeting;
        Client.reset(); // destroying an open client says QUIT
        EXPECT_EQ(Server->Finish(), "") << greeting;
        EXPECT_EQ(Opened + Closed, 2);
    }
}

// RFC 1939's APOP example.
const std::string ApopGreeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";
const std::string ApopLine = "APOP mrose c4c9334bac560ecc979e58001b3e22fb";

/// The secure login after ApopGreeting: AAuthReply to "AUTH", then AChosen, refused.
std::vector<Step> Chooses(const std::string& AAuthReply, const std::string& AChosen)
{
    return {Step::Send(ApopGreeting), Step::Expect("AUTH"), Step::Send(AAuthReply), Step::Expect(AChosen),
        Step::Send("-ERR no\r\n"), Step::Drain()};
}

// The CHALLENGE message of MS-NLMP 4.2.4 in base64.
const std::string NtlmChallenge = "TlRMTVNTUAACAAAADAAMADgAAAAzgoriASNFZ4mrze8AAAAAAAAAACQAJABEAAAABgBwFwAAAA9TAGUAcgB2"
                                  "AGUAcgACAAwARABvAG0AYQBpAG4AAQAMAFMAZQByAHYAZQByAAAAAAA=";

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

TEST_F(Pop3Session, FailedOpenRaisesTheRefusalAndFiresNoEvent)
{
    // A CHALLENGE whose target information lies beyond its end.
    std::string hostile = TixEncoder::DecodeWith(cmBase64, NtlmChallenge);
    hostile[44] = '\xF0';
    using TExpect = std::string (Pop3Session::*)(int32_t);
    // A pointer to a protected member is named through this test's own class.
    using TSelf = std::remove_pointer_t<decltype(this)>;
    const TExpect refused = &TSelf::ExpectOpenFails<EixTcpClientError>;
    const TExpect sspi = &TSelf::ExpectOpenFails<EixSSPIError>;
    struct TCase
    {
        std::vector<Step> Script;
        TExpect Fails;
        int32_t Code;
        std::string Message; // empty: not checked (the TLS layer's text)
        std::optional<std::string> Received; // none: not checked
        TixClientTlsMode Tls = ctNone;
        std::string User = "alice"; // anyone else logs in securely (with RFC 1939's password)
    };
    const std::string greeting = "+OK ready\r\n";
    const TCase table[] = {
        {{Step::Send("-ERR too busy\r\n"), Step::Drain()}, refused, 20, "-ERR too busy", ""},
        {{Step::Send(greeting), Step::Expect("USER alice"), Step::Send("-ERR who\r\n"), Step::Drain()}, refused, 20,
            "-ERR who", "USER alice\r\n"},
        {{Step::Send(greeting), Step::Expect("STLS"), Step::Send("-ERR no TLS\r\n"), Step::Drain()}, refused, 20,
            "-ERR no TLS", "STLS\r\n", ctExplicit},
        {{Step::Send(greeting), Step::Expect("STLS"), Step::Send("+OK begin\r\n"), Step::Stall(100ms),
             Step::Send("not a handshake\r\n"), Step::Drain()},
            sspi, os::SEC_E_ILLEGAL_MESSAGE, "", std::nullopt, ctExplicit},
        {{Step::Send("+OK " + std::string(300 * 1024, 'x')), Step::Drain()}, refused, ReplyLineTooLongCode, "", ""},
        // The secure login takes NTLM, then CRAM-MD5 (the logins of Dovecot and Cyrus), from the list
        // without letter case, else APOP.
        {Chooses("+OK\r\nPLAIN\r\ncram-md5\r\nntlm\r\n.\r\n", "AUTH NTLM"), refused, 20, "-ERR no", std::nullopt, ctNone,
            "mrose"},
        {Chooses("+OK\r\nNTLM \r\nPLAIN\r\n.\r\n", ApopLine), refused, 20, "-ERR no", std::nullopt, ctNone, "mrose"},
        {Chooses("-ERR unknown command\r\n", ApopLine), refused, 20, "-ERR no", std::nullopt, ctNone, "mrose"},
        // "+OK" instead of "+ " to AUTH NTLM is accepted; the NEGOTIATE must then be answered by "+ ".
        {NtlmStart("+OK go on\r\n", {Step::Send("+OK\r\n"), Step::Drain()}), refused, 10, "", std::nullopt, ctNone,
            "mrose"},
        {NtlmStart("+ \r\n", {Step::Send("+ " + TixEncoder::EncodeLineWith(cmBase64, hostile) + "\r\n"), Step::Drain()}),
            sspi, os::SEC_E_INVALID_TOKEN, "", std::nullopt, ctNone, "mrose"},
        {NtlmStart("+ \r\n", {Step::Send("+ \r\n"), Step::Drain()}), sspi, os::SEC_E_INVALID_TOKEN, "", std::nullopt,
            ctNone, "mrose"}, // no token
        // No user name: the logged-on user's credentials, of which there are none.
        {{Step::Send("+OK\r\n"), Step::Expect("AUTH"), Step::Send("+OK\r\nNTLM\r\n.\r\n"), Step::Expect("AUTH NTLM"),
             Step::Send("+ \r\n"), Step::Drain()},
            sspi, os::SEC_E_NO_CREDENTIALS, "", "AUTH\r\nAUTH NTLM\r\n", ctNone, ""},
    };
    ::unsetenv("NTLM_USER");
    ::unsetenv("NTLM_CREDENTIALS_FILE");
    for (const TCase& item : table)
    {
        const bool secure = item.User != "alice";
        Start(item.Script, item.User, !secure ? "secret" : item.User.empty() ? "" : "tanstaaf");
        Client->SetUseSasl(secure);
        Client->SetUseTLS(item.Tls);
        Client->SetMaxLineLength(64 * 1024);
        std::string reported; // the replies taken as answers
        Client->OnReceiveResponse = [&](TObject*, TStrings& AList) { reported += AList[0] + "\n"; };
        const std::string message = (this->*item.Fails)(item.Code);
        EXPECT_TRUE(item.Message.empty() || message == item.Message) << message;
        // A refusal is raised, never also taken as an answer.
        EXPECT_TRUE(!message.starts_with("-ERR") || reported.find(message + "\n") == std::string::npos) << reported;
        EXPECT_TRUE(!item.Received || Server->Received() == *item.Received) << Server->Received();
    }
}

TEST_F(Pop3Session, RefusedOrStalledQuitStillClosesSilently)
{
    // A refusal closes at once, a stall costs one time-out.
    for (const Step& answer : {Step::Send("-ERR no\r\n"), Step::Stall(2500ms)})
    {
        Start(Login({Step::Expect("QUIT"), answer, Step::Drain()}));
        Client->Open();
        Client->SetTimeOut(1000);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NO_THROW(Client->Close());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1900ms);
        EXPECT_FALSE(Client->IsActive());
        EXPECT_EQ(Closed, 1);
        EXPECT_EQ(Server->Finish(), "");
        EXPECT_EQ(Server->Received(), "USER alice\r\nPASS secret\r\nQUIT\r\n");
    }
}

TEST_F(Pop3Session, BrokenOrOverLimitReplyClosesTheSessionSoNoStaleLineIsTakenForAReply)
{
    // The rest of a stalled reply would come after the time-out, and a stale "+OK" body line
    // would answer the next command. Dovecot's mailboxes show that messages within the limits
    // arrive.
    struct TCase
    {
        std::vector<Step> Steps;
        std::function<void(TixPop3&)> Action;
        int32_t Code;
        std::function<void(TixPop3&)> Limit = nullptr; // set before the session opens
    };
    const auto retrieve = [](TixPop3& AClient) { AClient.Retrieve(1, nullptr); };
    std::string body;
    while (body.size() < 200 * 1024)
        body += "a body line of a message that is larger than the client allows\r\n";
    const TCase table[] = {
        {{Step::Expect("RETR 1"), Step::Send("+OK\r\nline one\r\nline"), Step::Close()}, retrieve, 10038},
        {{Step::Expect("RETR 1"), Step::Send("+OK\r\nSubject: a\r\n"), Step::Stall(600ms), Step::Drain()}, retrieve,
            SocketErrorTimeout},
        {{Step::Expect("STAT"), Step::Send("+OK 1"), Step::Stall(600ms), Step::Drain()},
            [](TixPop3& AClient) { AClient.GetMailBoxInfo(); }, SocketErrorTimeout},
        {{Step::Expect("RETR 1"), Step::Send("+OK\r\n" + std::string(1024 * 1024, 'x')), Step::Drain()}, retrieve,
            ReplyLineTooLongCode, [](TixPop3& AClient) { AClient.SetMaxBodyLineLength(256 * 1024); }},
        {{Step::Expect("RETR 1"), Step::Send("+OK\r\n" + body + ".\r\n"), Step::Drain()}, retrieve, ReplyTooLargeCode,
            [](TixPop3& AClient) { AClient.SetMaxReplySize(100 * 1024); }},
        {{Step::Expect("LIST 1"), Step::Send("+OK 1 1000\r\n"), Step::Expect("RETR 1"), Step::Send("+OK\r\n" + body + ".\r\n"),
             Step::Drain()},
            retrieve, ReplyTooLargeCode, [](TixPop3& AClient) { AClient.SetLimitRetrieveToListSize(true); }},
    };
    for (const TCase& item : table)
    {
        Start(Login(item.Steps));
        if (item.Limit)
            item.Limit(*Client);
        Client->Open();
        if (item.Code == SocketErrorTimeout)
            Client->SetTimeOut(150);
        if (item.Code == ReplyLineTooLongCode || item.Code == ReplyTooLargeCode)
            ExpectError<EixTcpClientError>([&] { item.Action(*Client); }, item.Code);
        else
            ExpectError<EixSocketError>([&] { item.Action(*Client); }, item.Code);
        EXPECT_EQ(Opened, 1);
        EXPECT_TRUE(item.Code == 10038 || Closed == 1) << item.Code;
        ExpectClosedWithoutQuit();
    }
}

TEST_F(Pop3Session, LongBodyLinesArriveWhole)
{
    // Lines of 1 and 4 MB, each split over many reads (reply_lines_bench measures the time).
    std::string message = "Subject: long\r\n\r\n";
    for (const size_t size : {size_t{1} << 20, size_t{4} << 20})
        message += std::string(size, 'a') + "\r\n";
    Start(Login(std::vector<Step>{Step::Expect("RETR 1"), Step::Send("+OK\r\n" + message + ".\r\n")} + Quit()));
    Client->Open();
    Client->Retrieve(1, nullptr);
    EXPECT_EQ(Client->GetResponse().GetText(), message);
    Client->Close();
    EXPECT_EQ(Server->Finish(), "");
}

TEST_F(Pop3Session, LinesInjectedBehindTheStlsReplyAreNeverTakenForReplies)
{
    // The fault class of CVE-2011-0411: plaintext lines right behind the "+OK" to STLS, sent by
    // the server or by someone in the path.
    const test::TlsServerSteps tls(13);
    std::vector<Step> script{Step::Send("+OK ready\r\n"), Step::Expect("STLS"),
        Step::Send("+OK begin TLS\r\n+OK 7 700\r\n+OK 7 700\r\n+OK 7 700\r\n-ERR injected\r\n"), tls.Handshake()};
    for (const auto& [command, reply] : {std::pair{"USER alice", "+OK"}, {"PASS secret", "+OK"}, {"STAT", "+OK 1 5"},
             {"QUIT", "+OK"}})
        script = script + std::vector<Step>{tls.ExpectText(std::string(command) + "\r\n"),
                     tls.SendRecords({std::string(reply) + "\r\n"})};
    Start(script + std::vector<Step>{Step::Drain()});
    Client->SetUseTLS(ctExplicit);
    try
    {
        Client->Open();
        EXPECT_EQ(Client->GetMessageCount(), 1);
        Client->Close();
        EXPECT_EQ(Server->Finish(), "");
    }
    catch (const EixSocketError& E) // the other sound outcome: the handshake fails
    {
        EXPECT_FALSE(Client->IsActive()) << E.Message();
        EXPECT_NE(E.ErrorCode(), SocketErrorTimeout) << "a stalled session is no sound outcome: " << E.Message();
    }
}

// ---- The pipelined mailbox listing ---------------------------------------------------------
// Commands go ahead of their replies only when the server lists PIPELINING, replies are matched
// to their commands in order, and a refused TOP costs only its own message.

std::string TopReply(int32_t ANumber)
{
    return "+OK\r\nSubject: " + std::to_string(ANumber) + "\r\n..dot\r\n.\r\n";
}

TEST_F(Pop3Session, ListingPipelinesOnlyWhenOfferedAndARefusedTopCostsOnlyItsMessage)
{
    struct TCase
    {
        std::string List, Capa;
        std::vector<Step> Tops;
        std::vector<std::string> Trace; // TOP commands and reply status words, in the order they happen
        size_t Count;
    };
    const std::string two = "+OK\r\n1 100\r\n2 200\r\n.\r\n";
    const std::vector<Step> oneByOne{
        Step::Expect("TOP 1 0"), Step::Send(TopReply(1)), Step::Expect("TOP 2 0"), Step::Send(TopReply(2))};
    const std::vector<std::string> oneByOneTrace{"TOP 1 0", "+OK", "TOP 2 0", "+OK"};
    const TCase table[] = {
        {two, "-ERR unknown command\r\n", oneByOne, oneByOneTrace, 2},
        {two, "+OK\r\nUSER\r\nUIDL\r\n.\r\n", oneByOne, oneByOneTrace, 2},
        // Four commands in flight; the replies come in one send, the refusal in the middle; the
        // fifth command goes out once half of the batch is answered.
        {"+OK 5 messages\r\n1 100\r\n2 200\r\n3 300\r\n4 400\r\n5 500\r\n.\r\n", "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n",
            {Step::ExpectBytes("TOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\nTOP 4 0\r\n"),
                Step::Send(TopReply(1) + TopReply(2) + "-ERR no such message\r\n" + TopReply(4)), Step::Expect("TOP 5 0"),
                Step::Send(TopReply(5))},
            {"TOP 1 0", "TOP 2 0", "TOP 3 0", "TOP 4 0", "+OK", "+OK", "TOP 5 0", "-ERR", "+OK", "+OK"}, 5},
    };
    for (const TCase& item : table)
    {
        Start(Login({Step::Expect("LIST"), Step::Send(item.List), Step::Expect("UIDL"),
                  Step::Send("+OK\r\n1 uid-a\r\n2 uid-b\r\n3 uid-c\r\n4 uid-d\r\n5 uid-e\r\n.\r\n"),
                  Step::Expect("CAPA"), Step::Send(item.Capa)})
            + item.Tops + Quit());
        Client->SetPipelineDepth(4);
        Client->Open();
        std::vector<std::string> trace;
        Client->OnSendCommand = [&](TObject*, const std::string& AText) {
            if (AText.starts_with("TOP"))
                trace.push_back(AText.substr(0, AText.size() - 2));
        };
        Client->OnGetResponseCode = [&](TObject*, const std::string& ALine, int32_t&) {
            if (ALine.starts_with("+OK") || ALine.starts_with("-ERR"))
                trace.push_back(ALine.substr(0, ALine.find(' ')));
        };
        const std::vector<TixPop3ListItem> items = Client->ListMailBox();
        Client->OnSendCommand = nullptr;
        Client->OnGetResponseCode = nullptr;
        Client->Close();
        EXPECT_EQ(Server->Finish(), "");
        // The status lines of LIST, UIDL and CAPA come first.
        trace.erase(trace.begin(), trace.begin() + 3);
        EXPECT_EQ(trace, item.Trace) << item.Capa;
        ASSERT_EQ(items.size(), item.Count);
        for (const TixPop3ListItem& listed : items)
        {
            EXPECT_EQ(listed.Size, listed.Number * 100);
            EXPECT_EQ(listed.Uid, std::string("uid-") + char('a' + listed.Number - 1));
            EXPECT_EQ(listed.HeaderRead, listed.Number != 3);
            const std::vector<std::string> header{"Subject: " + std::to_string(listed.Number), ".dot"}; // dot un-stuffed
            EXPECT_EQ(listed.Header, listed.Number == 3 ? std::vector<std::string>{} : header);
            EXPECT_EQ(listed.HeaderError, listed.Number == 3 ? "-ERR no such message" : "");
        }
    }
}

} // namespace
} // namespace ix
