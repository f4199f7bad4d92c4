#include "pop3/ixPop3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "Pop3TestUtils.h"
#include "command/ChunkedConnection.h"
#include "message/ixMailMessage.h"
#include "support/ScriptedServer.h"

namespace ix {
namespace {

using test::ScriptedServer;
using test::Step;
using test::WithChunkedConnection;
using test::ExpectError;

/// A POP3 client over the connection double, with its keep-alive tick reachable.
class TPop3 : public WithChunkedConnection<TixPop3>
{
public:
    explicit TPop3(std::vector<std::string> AReplies = {}) { Connection.Add(std::move(AReplies)); }
    void Tick() { KeepAliveTick(); }
};

// ---- Reply codes and parsing (connection double) --------------------------------------------

TEST(Pop3Replies, LinesAreClassifiedInTheirOrder)
{
    TPop3 client;
    const std::vector<std::pair<std::string, int32_t>> table{
        {"+OK", 10}, {"+OK 2 320", 10}, {"+OKAY", 10}, {"-ERR", 20}, {"-ERR no", 20}, {"+ abc", 30},
        {"+", 30}, {" +\t", 30}, {"+ OK", 30}, {".", 1}, {"..", 0}, {". ", 0}, {"", 0}, {"+ok", 0},
        {"-err", 0}, {"OK", 0}, {"-", 0}};
    for (const auto& [line, code] : table)
        EXPECT_EQ(client.GetResponseCode(line), code) << '"' << line << '"';
    client.OnGetResponseCode = [](TObject*, const std::string& ALine, int32_t& ACode) {
        if (ALine == "* BYE")
            ACode = 20;
    };
    EXPECT_EQ(client.GetResponseCode("* BYE"), 20);
    EXPECT_EQ(client.GetResponseCode("+OK"), 10);
}

TEST(Pop3Replies, StatWithThreeWordsGivesCountAndSize)
{
    TPop3 client({"+OK 2 320\r\n"});
    EXPECT_EQ(client.GetMessageCount(), 2);
    EXPECT_EQ(client.GetMailBoxSize(), 320);
    EXPECT_EQ(client.GetMessageCount(), 2); // cached: no second STAT
    EXPECT_EQ(client.Connection.Sent(), "STAT\r\n");
}

TEST(Pop3Replies, StatWithAnExtraWordGivesUnknownCounts)
{
    TPop3 client({"+OK 2 320 octets\r\n", "+OK x y\r\n"});
    client.GetMailBoxInfo();
    EXPECT_EQ(client.GetMailBoxSize(), -1);
    // The count is unknown, so asking for it sends STAT again; words that are no numbers give 0.
    EXPECT_EQ(client.GetMessageCount(), 0);
    EXPECT_EQ(client.GetMailBoxSize(), 0);
    EXPECT_EQ(client.Connection.Sent(), "STAT\r\nSTAT\r\n");
}

TEST(Pop3Replies, DeleteLowersTheCountWithoutAskingAgain)
{
    TPop3 client({"+OK 3 900\r\n", "+OK deleted\r\n"});
    EXPECT_EQ(client.GetMessageCount(), 3);
    client.Delete(2);
    EXPECT_EQ(client.GetMessageCount(), 2);
    EXPECT_EQ(client.GetMessageNumber(), 2);
    EXPECT_EQ(client.Connection.Sent(), "STAT\r\nDELE 2\r\n");
}

TEST(Pop3Replies, RefusedStatLeavesTheCachedValues)
{
    TPop3 client({"+OK 3 900\r\n", "+OK\r\n", "-ERR busy\r\n"});
    client.GetMailBoxInfo();
    client.Delete(1);
    EXPECT_THROW(client.GetMailBoxInfo(), EixTcpClientError);
    EXPECT_EQ(client.GetMessageCount(), 2);
    EXPECT_EQ(client.GetMailBoxSize(), 900);
}

TEST(Pop3Replies, UidlGivesTheThirdWordOrNothing)
{
    TPop3 client({"+OK 1 0000000158c1b7e1\r\n", "+OK\r\n", "+OK 1 a b\r\n"});
    EXPECT_EQ(client.GetUidl(1), "0000000158c1b7e1");
    EXPECT_EQ(client.GetUidl(2), "");
    EXPECT_EQ(client.GetUidl(3), "");
    EXPECT_EQ(client.GetMessageNumber(), -1); // UIDL does not change it
    EXPECT_EQ(client.Connection.Sent(), "UIDL 1\r\nUIDL 2\r\nUIDL 3\r\n");
}

TEST(Pop3Replies, ListGivesTheSizeOrZero)
{
    TPop3 client({"+OK 4 1234\r\n", "+OK\r\n", "+OK 4 big\r\n"});
    EXPECT_EQ(client.GetMessageSize(4), 1234);
    EXPECT_EQ(client.GetMessageSize(5), 0);
    EXPECT_EQ(client.GetMessageSize(6), 0);
    EXPECT_EQ(client.GetMessageNumber(), 6);
}

TEST(Pop3Replies, RetrieveAsksForTheSizeOnlyForAProgressHandler)
{
    TPop3 plain({"+OK\r\nSubject: a\r\n\r\n...\r\n.\r\n"});
    plain.Retrieve(1, nullptr);
    EXPECT_EQ(plain.Connection.Sent(), "RETR 1\r\n");
    EXPECT_EQ(plain.GetResponse().Join("|"), "Subject: a||..");

    TPop3 watched({"+OK 1 25\r\n", "+OK\r\nSubject: a\r\n", "\r\nbody\r\n.\r\n"});
    std::vector<std::pair<int64_t, int64_t>> calls;
    watched.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) { calls.emplace_back(ADone, ATotal); };
    watched.Retrieve(1, nullptr);
    EXPECT_EQ(watched.Connection.Sent(), "LIST 1\r\nRETR 1\r\n");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), (std::pair<int64_t, int64_t>{25, 25}));
}

TEST(Pop3Replies, RetrieveAndHeaderLoadTheMessageObject)
{
    TixMailMessage message;
    TPop3 client({"+OK\r\nSubject: first\r\nFrom: a@ix.test\r\n.\r\n",
        "+OK\r\nSubject: second\r\n\r\n..dot\r\n...\r\n.\r\n"});
    client.RetrieveHeader(3, &message);
    EXPECT_EQ(message.GetSubject(), "first");
    EXPECT_EQ(client.Connection.Sent(), "TOP 3 0\r\n");
    client.Retrieve(4, &message);
    EXPECT_EQ(message.GetSubject(), "second");
    EXPECT_EQ(message.MessageText().Join("|"), ".dot|..");
}

TEST(Pop3Replies, BodyLineLikeARefusalStaysInTheBody)
{
    TPop3 client({"+OK\r\n-ERR inside\r\n+OK inside\r\n.\r\n"});
    EXPECT_NO_THROW(client.RetrieveHeader(1, nullptr));
    EXPECT_EQ(client.GetResponse().Join("|"), "-ERR inside|+OK inside");
}

TEST(Pop3Session, KeepAliveTickIsSkippedWhileAnExchangeRuns)
{
    TPop3 client({"+OK\r\n"});
    client.SetInProgress(true);
    client.Tick();
    EXPECT_EQ(client.Connection.Sent(), "");
    client.SetInProgress(false);
    client.Tick();
    EXPECT_EQ(client.Connection.Sent(), "NOOP\r\n");
}

TEST(Pop3Session, AuthorizationTurnsSaslOnOutsideLoading)
{
    TixPop3 client;
    EXPECT_EQ(client.GetPort(), 110);
    client.BeginLoading();
    client.SetAuthorization("stored-token");
    client.EndLoading();
    EXPECT_FALSE(client.GetUseSasl());
    client.SetAuthorization("");
    EXPECT_FALSE(client.GetUseSasl());
    client.SetAuthorization("token");
    EXPECT_TRUE(client.GetUseSasl());
    EXPECT_EQ(client.GetAuthorization(), "token");
}

TEST(Pop3Session, AttachedMessageIsForgottenWhenDestroyed)
{
    TixPop3 client;
    int changes = 0;
    client.OnChanged = [&](TObject*) { ++changes; };
    {
        TixMailMessage message;
        client.SetMailMessage(&message);
        EXPECT_EQ(client.GetMailMessage(), &message);
    }
    EXPECT_EQ(client.GetMailMessage(), nullptr);
    EXPECT_EQ(changes, 0);
}

// ---- Sessions against scripted servers ------------------------------------------------------

std::vector<Step> Login(const std::string& AGreeting = "+OK POP3 ready\r\n")
{
    return {Step::Send(AGreeting), Step::Expect("USER alice"), Step::Send("+OK\r\n"), Step::Expect("PASS secret"),
        Step::Send("+OK logged in\r\n")};
}

/// The end of a session: QUIT answered, then the client's close.
const std::vector<Step> Quit{Step::Expect("QUIT"), Step::Send("+OK bye\r\n"), Step::Drain()};

std::vector<Step> operator+(std::vector<Step> A, const std::vector<Step>& B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

void Configure(TixPop3& AClient, const ScriptedServer& AServer)
{
    AClient.SetServer("127.0.0.1");
    AClient.SetPort(AServer.Port());
    AClient.SetUserName("alice");
    AClient.SetPassword("secret");
    AClient.SetTimeOut(10000);
}

TEST(Pop3Session, OpenTakesTheTimeStampLogsInAndCloseSaysQuit)
{
    ScriptedServer server(Login("+OK POP3 <1896.697170952@dbc.mtview.ca.us> ready\r\n") + Quit);
    TixPop3 client;
    Configure(client, server);
    std::string sent;
    client.OnSendCommand = [&](TObject*, const std::string& AText) { sent += AText; };
    client.Open();
    EXPECT_EQ(client.GetTimeStamp(), "<1896.697170952@dbc.mtview.ca.us>");
    client.Close();
    EXPECT_FALSE(client.IsActive());
    EXPECT_EQ(sent, "USER alice\r\nPASS ****\r\nQUIT\r\n"); // the server read "PASS secret"
    EXPECT_EQ(server.Finish(), "");
}

TEST(Pop3Session, GreetingWithoutOrderedBracketsGivesNoTimeStamp)
{
    for (const char* greeting : {"+OK ready\r\n", "+OK >x< ready\r\n", "+OK <unclosed\r\n"})
    {
        ScriptedServer server(Login(greeting) + Quit);
        TixPop3 client;
        Configure(client, server);
        client.Open();
        EXPECT_EQ(client.GetTimeStamp(), "") << greeting;
        client.Close();
        EXPECT_EQ(server.Finish(), "");
    }
}

TEST(Pop3Session, StatusLineSplitAcrossReadsIsJoined)
{
    ScriptedServer server(std::vector<Step>{Step::Send("+OK POP3 <12@ix"), Step::Stall(std::chrono::milliseconds(100)),
        Step::Send(".test> ready\r\n"), Step::Expect("USER alice"), Step::Send("+"),
        Step::Stall(std::chrono::milliseconds(100)), Step::Send("OK\r"), Step::Stall(std::chrono::milliseconds(100)),
        Step::Send("\n"), Step::Expect("PASS secret"), Step::Send("+OK\r\n")} + Quit);
    TixPop3 client;
    Configure(client, server);
    client.Open();
    EXPECT_EQ(client.GetTimeStamp(), "<12@ix.test>");
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(Pop3Session, UncodedLinesBeforeTheGreetingAreSkipped)
{
    ScriptedServer server(Login("* hello\r\nwelcome\r\n+OK ready\r\n") + Quit);
    TixPop3 client;
    Configure(client, server);
    client.Open();
    EXPECT_TRUE(client.IsActive());
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(Pop3Session, WrongPasswordClosesWithoutQuit)
{
    ScriptedServer server({Step::Send("+OK ready\r\n"), Step::Expect("USER alice"), Step::Send("+OK\r\n"),
        Step::Expect("PASS secret"), Step::Send("-ERR [AUTH] Authentication failed.\r\n"), Step::Drain()});
    TixPop3 client;
    Configure(client, server);
    bool received = false;
    client.OnReceiveResponse = [&](TObject*, TStrings& AList) { received = AList[0].starts_with("-ERR"); };
    const std::string message = ExpectError<EixTcpClientError>([&] { client.Open(); }, 20);
    EXPECT_EQ(message, "-ERR [AUTH] Authentication failed.");
    EXPECT_FALSE(received);
    EXPECT_FALSE(client.IsActive());
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(server.Received(), "USER alice\r\nPASS secret\r\n");
}

TEST(Pop3Session, RefusedGreetingOrStlsClosesWithoutQuit)
{
    {
        ScriptedServer server({Step::Send("-ERR too busy\r\n"), Step::Drain()});
        TixPop3 client;
        Configure(client, server);
        EXPECT_EQ(ExpectError<EixTcpClientError>([&] { client.Open(); }, 20), "-ERR too busy");
        EXPECT_EQ(server.Finish(), "");
        EXPECT_EQ(server.Received(), "");
    }
    {
        ScriptedServer server({Step::Send("+OK ready\r\n"), Step::Expect("STLS"), Step::Send("-ERR no TLS\r\n"),
            Step::Drain()});
        TixPop3 client;
        Configure(client, server);
        client.SetUseTLS(ctExplicit);
        EXPECT_EQ(ExpectError<EixTcpClientError>([&] { client.Open(); }, 20), "-ERR no TLS");
        EXPECT_FALSE(client.IsActive());
        EXPECT_EQ(server.Finish(), "");
        EXPECT_EQ(server.Received(), "STLS\r\n");
    }
}

TEST(Pop3Session, RefusedQuitStillClosesSilently)
{
    ScriptedServer server(Login() + std::vector<Step>{Step::Expect("QUIT"), Step::Send("-ERR no\r\n"), Step::Drain()});
    TixPop3 client;
    Configure(client, server);
    client.Open();
    EXPECT_NO_THROW(client.Close());
    EXPECT_FALSE(client.IsActive());
    EXPECT_EQ(server.Finish(), "");
}

TEST(Pop3Session, ServerClosingMidReplyEndsWithTheSocketError)
{
    ScriptedServer server(Login() + std::vector<Step>{Step::Expect("RETR 1"), Step::Send("+OK\r\nline one\r\nline"),
        Step::Close()});
    TixPop3 client;
    Configure(client, server);
    client.Open();
    ExpectError<EixSocketError>([&] { client.Retrieve(1, nullptr); }, 10038);
    EXPECT_FALSE(client.GetInProgress());
    EXPECT_FALSE(client.IsActive());
    EXPECT_EQ(server.Finish(), "");
}

TEST(Pop3Session, ProgressOfAMessageSentInOneGoStartsWithItsFirstLines)
{
    // The server writes 2 MB at once and keeps the socket full: neither the wait for the status
    // line nor any single read may take in the whole message before progress is reported.
    std::string body;
    for (int i = 0; body.size() < 2 * 1024 * 1024; ++i)
        body += "Line " + std::to_string(i) + " of a long message, long enough to make many reads\r\n";
    const auto size = static_cast<int64_t>(body.size());
    ScriptedServer server(Login() + std::vector<Step>{Step::Expect("LIST 1"),
        Step::Send("+OK 1 " + std::to_string(size) + "\r\n"), Step::Expect("RETR 1"),
        Step::Send("+OK message follows\r\n" + body + ".\r\n")} + Quit);
    TixPop3 client;
    Configure(client, server);
    std::vector<int64_t> done;
    client.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) {
        EXPECT_EQ(ATotal, size);
        done.push_back(ADone);
    };
    client.Open();
    client.Retrieve(1, nullptr);
    ASSERT_GE(done.size(), 10u);
    EXPECT_LT(done.front(), size / 10) << "the first report came late";
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    EXPECT_EQ(done.back(), size);
    EXPECT_EQ(client.GetResponse().GetText(), body);
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(Pop3Session, StallingServerEndsWithTheTimeOut)
{
    ScriptedServer server(Login() + std::vector<Step>{Step::Expect("STAT"), Step::Send("+OK 1"),
        Step::Stall(std::chrono::milliseconds(5000))});
    TixPop3 client;
    Configure(client, server);
    client.Open();
    client.SetTimeOut(200);
    ExpectError<EixSocketError>([&] { client.GetMailBoxInfo(); }, -1);
    EXPECT_FALSE(client.GetInProgress());
    EXPECT_FALSE(client.IsActive()); // the rest of the reply would be taken for the next one
}

TEST(Pop3Session, SessionCommandsUseTheirExactText)
{
    ScriptedServer server(Login() + std::vector<Step>{Step::Expect("STAT"), Step::Send("+OK 1 120\r\n"),
        Step::Expect("LIST 1"), Step::Send("+OK 1 120\r\n"), Step::Expect("UIDL 1"), Step::Send("+OK 1 u-1\r\n"),
        Step::Expect("TOP 1 0"), Step::Send("+OK\r\nSubject: x\r\n.\r\n"), Step::Expect("NOOP"),
        Step::Send("+OK\r\n"), Step::Expect("DELE 1"), Step::Send("+OK\r\n")} + Quit);
    TixPop3 client;
    Configure(client, server);
    client.Open();
    EXPECT_EQ(client.GetMessageCount(), 1);
    EXPECT_EQ(client.GetMessageSize(1), 120);
    EXPECT_EQ(client.GetUidl(1), "u-1");
    client.RetrieveHeader(1, nullptr);
    client.Noop();
    client.Delete(1);
    EXPECT_EQ(client.GetMessageCount(), 0);
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(Pop3Session, DestroyingAnOpenClientSaysQuit)
{
    ScriptedServer server(Login() + Quit);
    {
        TixPop3 client;
        Configure(client, server);
        client.Open();
    }
    EXPECT_EQ(server.Finish(), "");
}

} // namespace
} // namespace ix
