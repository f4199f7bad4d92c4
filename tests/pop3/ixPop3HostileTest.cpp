// The POP3 client against hostile or broken scripted servers: each case asserts the client's
// exact outcome, that nothing stale is ever taken for a reply, and that no descriptor or thread
// is left behind.
#include "pop3/ixPop3.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "Pop3TestUtils.h"
#include "net/ixNetTestUtils.h"
#include "support/ScriptedServer.h"

namespace ix {
namespace {

using namespace std::chrono_literals;
using test::ScriptedServer;
using test::Step;
using test::ExpectError;

std::vector<Step> Greeting(std::vector<Step> AThen = {})
{
    std::vector<Step> result{Step::Send("+OK ready\r\n"), Step::Expect("USER alice"), Step::Send("+OK\r\n"),
        Step::Expect("PASS secret"), Step::Send("+OK\r\n")};
    result.insert(result.end(), AThen.begin(), AThen.end());
    return result;
}

/// A client of a scripted server that counts its OnOpen and OnClose events, and checks on
/// destruction that the process has as many descriptors and threads as before the server.
class Pop3Hostile : public ::testing::Test
{
protected:
    /// One session first: the thread's message queue and the socket library are made once.
    static void SetUpTestSuite()
    {
        ScriptedServer server(Greeting({Step::Expect("QUIT"), Step::Send("+OK\r\n"), Step::Drain()}));
        TixPop3 client;
        client.SetServer("127.0.0.1");
        client.SetPort(server.Port());
        client.SetUserName("alice");
        client.SetPassword("secret");
        client.Open();
        client.Close();
        EXPECT_EQ(server.Finish(), "");
    }

    void TearDown() override
    {
        Client.reset();
        Server.reset();
        EXPECT_EQ(CountResources(), Before);
    }

    void Start(std::vector<Step> AScript)
    {
        Server = std::make_unique<ScriptedServer>(std::move(AScript));
        Client = std::make_unique<TixPop3>();
        Client->SetServer("127.0.0.1");
        Client->SetPort(Server->Port());
        Client->SetUserName("alice");
        Client->SetPassword("secret");
        Client->SetTimeOut(10000);
        Client->OnOpen = [this](TObject*) { ++Opened; };
        Client->OnClose = [this](TObject*) { ++Closed; };
    }

    /// The client is closed and refuses the next command without sending it.
    void ExpectClosedWithoutQuit()
    {
        EXPECT_FALSE(Client->IsActive());
        EXPECT_FALSE(Client->GetInProgress());
        ExpectError<EixSocketError>([&] { Client->Delete(1); }, SocketErrorNotActive);
        EXPECT_EQ(Server->Finish(), "");
        EXPECT_EQ(Server->Received().find("QUIT"), std::string::npos) << Server->Received();
    }

    const TResourceCount Before = CountResources();
    std::unique_ptr<ScriptedServer> Server;
    std::unique_ptr<TixPop3> Client;
    int Opened = 0;
    int Closed = 0;
};

TEST_F(Pop3Hostile, StallInsideAReplyClosesTheSessionSoNoStaleLineIsTakenForAReply)
{
    // The rest of the message would come after the time-out, and a stale "+OK" body line would
    // answer the next command.
    Start(Greeting({Step::Expect("RETR 1"), Step::Send("+OK\r\nSubject: a\r\n"), Step::Stall(600ms),
        Step::Drain()}));
    Client->Open();
    Client->SetTimeOut(150);
    ExpectError<EixSocketError>([&] { Client->Retrieve(1, nullptr); }, SocketErrorTimeout);
    EXPECT_EQ(Opened, 1);
    EXPECT_EQ(Closed, 1);
    ExpectClosedWithoutQuit();
    EXPECT_EQ(Server->Received(), "USER alice\r\nPASS secret\r\nRETR 1\r\n");
}

TEST_F(Pop3Hostile, StallDuringQuitCostsOneTimeOut)
{
    Start(Greeting({Step::Expect("QUIT"), Step::Stall(2500ms), Step::Drain()}));
    Client->Open();
    Client->SetTimeOut(1000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(Client->Close());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1900ms);
    EXPECT_FALSE(Client->IsActive());
    EXPECT_EQ(Closed, 1);
    EXPECT_EQ(Server->Received(), "USER alice\r\nPASS secret\r\nQUIT\r\n");
}

TEST_F(Pop3Hostile, EndlessStatusLineIsCutAtMaxLineLength)
{
    Start({Step::Send("+OK " + std::string(300 * 1024, 'x')), Step::Drain()});
    Client->SetMaxLineLength(64 * 1024);
    ExpectError<EixTcpClientError>([&] { Client->Open(); }, ReplyLineTooLongCode);
    EXPECT_EQ(Opened + Closed, 0);
    ExpectClosedWithoutQuit();
}

TEST_F(Pop3Hostile, EndlessBodyLineIsCutAtMaxBodyLineLength)
{
    Start(Greeting({Step::Expect("RETR 1"), Step::Send("+OK\r\n" + std::string(1024 * 1024, 'x')),
        Step::Drain()}));
    Client->SetMaxBodyLineLength(256 * 1024);
    Client->Open();
    ExpectError<EixTcpClientError>([&] { Client->Retrieve(1, nullptr); }, ReplyLineTooLongCode);
    EXPECT_EQ(Closed, 1);
    ExpectClosedWithoutQuit();
}

TEST_F(Pop3Hostile, ReplyLargerThanItsLimitIsRefused)
{
    std::string lines;
    while (lines.size() < 200 * 1024)
        lines += "a body line of a message that is larger than the client allows\r\n";
    struct TCase
    {
        int64_t MaxReplySize;
        bool LimitToList;
    };
    for (const TCase test : {TCase{100 * 1024, false}, TCase{0, true}})
    {
        std::vector<Step> script{Step::Expect("RETR 1"), Step::Send("+OK\r\n" + lines + ".\r\n"), Step::Drain()};
        if (test.LimitToList)
            script.insert(script.begin(), {Step::Expect("LIST 1"), Step::Send("+OK 1 1000\r\n")});
        Start(Greeting(script));
        Client->SetMaxReplySize(test.MaxReplySize);
        Client->SetLimitRetrieveToListSize(test.LimitToList);
        Client->Open();
        ExpectError<EixTcpClientError>([&] { Client->Retrieve(1, nullptr); }, ReplyTooLargeCode);
        ExpectClosedWithoutQuit();
    }
}

TEST_F(Pop3Hostile, MessageWithinItsListedSizeArrives)
{
    const std::string message = "Subject: s\r\n\r\n..x\r\n";
    Start(Greeting({Step::Expect("LIST 1"), Step::Send("+OK 1 19\r\n"), Step::Expect("RETR 1"),
        Step::Send("+OK\r\n" + message + ".\r\n"), Step::Expect("QUIT"), Step::Send("+OK\r\n"), Step::Drain()}));
    Client->SetLimitRetrieveToListSize(true);
    Client->Open();
    Client->Retrieve(1, nullptr);
    EXPECT_EQ(Client->GetResponse().Join("|"), "Subject: s||.x");
    Client->Close();
    EXPECT_EQ(Server->Finish(), "");
}

TEST_F(Pop3Hostile, LongBodyLinesArriveWhole)
{
    // Lines of 1 and 16 MB, each split over many reads: appending to an open line must not
    // copy the line at every read (the time is a generous bound; the benchmark measures 1 to
    // 64 MB lines).
    std::string message = "Subject: long\r\n\r\n";
    for (const size_t size : {size_t{1} << 20, size_t{16} << 20})
        message += std::string(size, 'a') + "\r\n";
    Start(Greeting({Step::Expect("RETR 1"), Step::Send("+OK\r\n" + message + ".\r\n"), Step::Expect("QUIT"),
        Step::Send("+OK\r\n"), Step::Drain()}));
    Client->Open();
    const std::clock_t start = std::clock();
    Client->Retrieve(1, nullptr);
    // About 3 s of processor time in a sanitizer build; 18 s when each read copied the line.
    EXPECT_LT(std::clock() - start, 8 * CLOCKS_PER_SEC);
    const TStrings& lines = Client->GetResponse();
    ASSERT_EQ(lines.Count(), 4);
    EXPECT_EQ(lines[2].size(), size_t{1} << 20);
    EXPECT_EQ(lines[3].size(), size_t{16} << 20);
    Client->Close();
    EXPECT_EQ(Server->Finish(), "");
}

TEST_F(Pop3Hostile, EveryFailedOpenFiresNeitherOpenNorClose)
{
    const std::vector<std::vector<Step>> scripts{
        {Step::Send("-ERR busy\r\n"), Step::Drain()},
        {Step::Send("+OK\r\n"), Step::Expect("USER alice"), Step::Send("-ERR who\r\n"), Step::Drain()},
        {Step::Send("+OK\r\n"), Step::Expect("STLS"), Step::Send("-ERR no\r\n"), Step::Drain()},
        {Step::Send("+OK\r\n"), Step::Expect("STLS"), Step::Send("+OK begin\r\n"), Step::Close()},
        {Step::Send("+OK\r\n"), Step::Expect("STLS"), Step::Send("+OK begin\r\n"), Step::Stall(100ms),
            Step::Send("not a handshake\r\n"), Step::Drain()},
    };
    for (size_t i = 0; i < scripts.size(); ++i)
    {
        Start(scripts[i]);
        Client->SetUseTLS(i >= 2 ? ctExplicit : ctNone);
        EXPECT_ANY_THROW(Client->Open());
        EXPECT_EQ(Opened, 0) << i;
        EXPECT_EQ(Closed, 0) << i;
        ExpectClosedWithoutQuit();
    }
}

} // namespace
} // namespace ix
