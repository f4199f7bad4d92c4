// The pipelined mailbox listing against scripted servers: commands go ahead of their replies only
// when the server lists PIPELINING, replies are matched to their commands in order, and a refused
// TOP costs only its own message.
#include "pop3/ixPop3.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ScriptedServer.h"

namespace ix {
namespace {

using test::ScriptedServer;
using test::Step;

std::string TopReply(int32_t ANumber)
{
    return "+OK\r\nSubject: " + std::to_string(ANumber) + "\r\n..dot\r\n.\r\n";
}

std::vector<Step> Session(const std::string& AList, const std::string& ACapa, std::vector<Step> ATops)
{
    std::vector<Step> script{Step::Send("+OK ready\r\n"), Step::Expect("USER alice"), Step::Send("+OK\r\n"),
        Step::Expect("PASS secret"), Step::Send("+OK\r\n"), Step::Expect("LIST"), Step::Send(AList),
        Step::Expect("UIDL"), Step::Send("+OK\r\n1 uid-a\r\n2 uid-b\r\n3 uid-c\r\n4 uid-d\r\n5 uid-e\r\n.\r\n"),
        Step::Expect("CAPA"), Step::Send(ACapa)};
    script.insert(script.end(), ATops.begin(), ATops.end());
    script.insert(script.end(), {Step::Expect("QUIT"), Step::Send("+OK\r\n"), Step::Drain()});
    return script;
}

/// A client whose commands and classified reply lines are traced in the order they happen.
class Pop3Listing : public ::testing::Test
{
protected:
    std::vector<TixPop3ListItem> List(std::vector<Step> AScript)
    {
        ScriptedServer server(std::move(AScript));
        TixPop3 client;
        client.SetServer("127.0.0.1");
        client.SetPort(server.Port());
        client.SetUserName("alice");
        client.SetPassword("secret");
        client.SetTimeOut(10000);
        client.SetPipelineDepth(4);
        client.Open();
        client.OnSendCommand = [this](TObject*, const std::string& AText) {
            if (AText.starts_with("TOP"))
                Trace.push_back(AText.substr(0, AText.size() - 2));
        };
        client.OnGetResponseCode = [this](TObject*, const std::string& ALine, int32_t&) {
            if (ALine.starts_with("+OK") || ALine.starts_with("-ERR"))
                Trace.push_back(ALine.substr(0, ALine.find(' ')));
        };
        std::vector<TixPop3ListItem> items = client.ListMailBox();
        client.OnSendCommand = nullptr;
        client.OnGetResponseCode = nullptr;
        client.Close();
        EXPECT_EQ(server.Finish(), "");
        return items;
    }

    /// The header every scripted TOP reply carries, dot un-stuffed.
    static std::vector<std::string> Header(int32_t ANumber)
    {
        return {"Subject: " + std::to_string(ANumber), ".dot"};
    }

    std::vector<std::string> Trace;
};

TEST_F(Pop3Listing, WithoutPipeliningOneTopAtATime)
{
    for (const std::string capa : {"-ERR unknown command\r\n", "+OK\r\nUSER\r\nUIDL\r\n.\r\n"})
    {
        Trace.clear();
        const auto items = List(Session("+OK\r\n1 100\r\n2 200\r\n.\r\n", capa,
            {Step::Expect("TOP 1 0"), Step::Send(TopReply(1)), Step::Expect("TOP 2 0"), Step::Send(TopReply(2))}));
        ASSERT_EQ(items.size(), 2U);
        EXPECT_EQ(items[1].Number, 2);
        EXPECT_EQ(items[1].Size, 200);
        EXPECT_EQ(items[1].Uid, "uid-b");
        EXPECT_EQ(items[1].Header, Header(2));
        // The status lines of LIST, UIDL and CAPA come first.
        const std::vector<std::string> afterCapa(Trace.begin() + 3, Trace.end());
        EXPECT_EQ(afterCapa, (std::vector<std::string>{"TOP 1 0", "+OK", "TOP 2 0", "+OK"})) << capa;
    }
}

TEST_F(Pop3Listing, RefusedTopInsideABatchCostsOnlyItsMessage)
{
    // Four commands in flight; the replies come in one send, the refusal in the middle; the fifth
    // command goes out once half of the batch is answered.
    const auto items = List(Session("+OK 5 messages\r\n1 100\r\n2 200\r\n3 300\r\n4 400\r\n5 500\r\n.\r\n",
        "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n",
        {Step::ExpectBytes("TOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\nTOP 4 0\r\n"),
            Step::Send(TopReply(1) + TopReply(2) + "-ERR no such message\r\n" + TopReply(4)),
            Step::Expect("TOP 5 0"), Step::Send(TopReply(5))}));
    ASSERT_EQ(items.size(), 5U);
    for (const TixPop3ListItem& item : items)
    {
        EXPECT_EQ(item.Size, item.Number * 100);
        EXPECT_EQ(item.Uid, std::string("uid-") + char('a' + item.Number - 1));
        EXPECT_EQ(item.HeaderRead, item.Number != 3);
        EXPECT_EQ(item.Header, item.Number == 3 ? std::vector<std::string>{} : Header(item.Number));
    }
    EXPECT_EQ(items[2].HeaderError, "-ERR no such message");
    const std::vector<std::string> afterCapa(Trace.begin() + 3, Trace.end());
    EXPECT_EQ(afterCapa, (std::vector<std::string>{"TOP 1 0", "TOP 2 0", "TOP 3 0", "TOP 4 0", "+OK", "+OK",
                             "TOP 5 0", "-ERR", "+OK", "+OK"}));
}

} // namespace
} // namespace ix
