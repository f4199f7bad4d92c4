#include "command/ixTcpCommandClient.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "command/ChunkedConnection.h"
#include "support/AnsiCodePageScope.h"
#include "util/ixUtils.h"

namespace ix {
namespace {

using test::WithChunkedConnection;

constexpr int32_t CodeOk = 10;
constexpr int32_t CodeError = 20;
constexpr int32_t CodeEnd = 1;

/// A small protocol for the engine: "+OK" 10, "-ERR" 20, "." 1.
int32_t Classify(const std::string& ALine)
{
    if (ALine.starts_with("+OK"))
        return CodeOk;
    if (ALine.starts_with("-ERR"))
        return CodeError;
    return ALine == "." ? CodeEnd : 0;
}

/// The engine over a connection double, classifying lines with Classify.
class TEngine : public WithChunkedConnection<TixTcpCommandClient>
{
public:
    explicit TEngine(std::vector<std::string> AChunks = {})
    {
        Connection.Add(std::move(AChunks));
        OnGetResponseCode = [](TObject*, const std::string& ALine, int32_t& ACode) { ACode = Classify(ALine); };
    }
};

/// What one exchange left behind.
struct TOutcome
{
    std::vector<std::string> Lines;
    int32_t LastCode = 0;
    int32_t Error = 0; // the error code of the exception, 0 for none
    int Reads = 0;
    std::vector<std::string> NextLines; // the reply to a following command, when one was read

    bool operator==(const TOutcome&) const = default;
};

std::vector<std::string> LinesOf(const TStrings& AList)
{
    std::vector<std::string> lines;
    for (int32_t i = 0; i < AList.Count(); ++i)
        lines.push_back(AList[i]);
    return lines;
}

/// The reply algorithm as first written: after every read the whole reply is classified
/// again from the start index. The engine must give the same results while classifying
/// each line once.
class TRescanModel
{
public:
    explicit TRescanModel(const std::vector<std::string>& AChunks) : FChunks(AChunks.begin(), AChunks.end()) {}

    TOutcome Run(bool AMultiLine, bool AReadNext)
    {
        TOutcome outcome;
        try
        {
            FResponse.Clear();
            Wait(0, {CodeOk});
            if (AMultiLine)
                CollectBody();
        }
        catch (const EixSocketError& E)
        {
            outcome.Error = E.ErrorCode();
        }
        outcome.Lines = LinesOf(FResponse);
        outcome.LastCode = FLastCode;
        outcome.Reads = FReads;
        if (AReadNext && outcome.Error == 0)
        {
            FResponse.Clear();
            Wait(0, {CodeOk});
            outcome.NextLines = LinesOf(FResponse);
        }
        return outcome;
    }

private:
    bool Receive(bool AAddToLast)
    {
        if (!FActive)
            throw EixSocketError("not a socket", 10038);
        ++FReads;
        if (FChunks.empty())
        {
            FActive = false;
            return false;
        }
        const std::string chunk = FChunks.front();
        FChunks.pop_front();
        return TixStringsUtils(FResponse).AddTextStr(chunk, AAddToLast) != 0;
    }

    int32_t Wait(int32_t AStart, const TixResponseCodes& AOk)
    {
        for (;;)
        {
            bool incomplete = Receive(false);
            while (incomplete)
                incomplete = Receive(true);
            FLastCode = 0;
            if (FResponse.Count() == AStart && AOk.empty())
                return -1;
            for (int32_t i = AStart; i < FResponse.Count(); ++i)
            {
                const int32_t code = Classify(FResponse[i]);
                if (code == 0)
                    continue;
                FLastCode = code;
                if (IsOkResponse(code, AOk))
                    return i;
            }
            if (AOk.size() == 1 && AOk[0] == CodeEnd)
                continue;
            if (FLastCode == 0)
                continue;
            throw EixTcpClientError(Trim(FResponse.GetText()), FLastCode);
        }
    }

    void CollectBody()
    {
        if (!FResponse.IsEmpty())
            FResponse.Delete(0);
        if (FResponse.IsEmpty() || FResponse[FResponse.Count() - 1] != ".")
            Wait(0, {CodeEnd});
        for (int32_t i = 0; i < FResponse.Count(); ++i)
            if (FResponse[i].starts_with(".."))
                FResponse.Line(i).erase(0, 1);
        FResponse.Delete(FResponse.Count() - 1);
    }

    std::deque<std::string> FChunks;
    TStringList FResponse;
    int32_t FLastCode = 0;
    int FReads = 0;
    bool FActive = true;
};

TOutcome RunEngine(const std::vector<std::string>& AChunks, bool AMultiLine, bool AReadNext = false)
{
    TEngine engine(AChunks);
    TOutcome outcome;
    try
    {
        engine.WaitResponse({CodeOk});
        if (AMultiLine)
            engine.WaitMultipleLines(0);
    }
    catch (const EixSocketError& E)
    {
        outcome.Error = E.ErrorCode();
    }
    outcome.Lines = LinesOf(engine.GetResponse());
    outcome.LastCode = engine.GetLastResponseCode();
    outcome.Reads = engine.Connection.Reads();
    if (AReadNext && outcome.Error == 0)
    {
        engine.WaitResponse({CodeOk});
        outcome.NextLines = LinesOf(engine.GetResponse());
    }
    return outcome;
}

/// The reply to the command after the one under test, read as its own chunk.
const std::string NextReply = "+OK next\r\n";

struct TReplyCase
{
    const char* Name;
    std::string Reply;
    bool MultiLine;
    bool Complete = true; // the reply ends normally: the next reply follows it
};

const std::vector<TReplyCase>& ReplyCases()
{
    static const std::vector<TReplyCase> cases{
        {"status line", "+OK 2 320\r\n", false},
        {"uncoded lines first", "hello\r\nthere\r\n+OK ready <1.2@ix.test>\r\n", false},
        {"refusal", "-ERR no such message\r\n", false},
        {"refusal then acceptance", "-ERR a\r\n+OK b\r\n", false},
        {"uncoded lines then close", "hello\r\n", false, false},
        {"body", "+OK\r\nSubject: s\r\n\r\n..dotted\r\n..\r\n-ERR body\r\n+OK body\r\n.\r\n", true},
        {"empty body", "+OK\r\n.\r\n", true},
        {"body cut short", "+OK 3\r\nline one\r\nline", true, false},
        {"lone LF line ends", "+OK\nA\n.\n", true},
        {"dot-led lines first", "+OK\r\n...\r\n.x\r\n..\r\n.\r\n", true},
        {"uncoded lines before a body", "x\r\n+OK\r\n.\r\n", true},
        {"body of long lines", "+OK 2\r\n" + std::string(40, 'a') + "\r\n" + std::string(30, 'b') + "\r\n.\r\n", true},
    };
    return cases;
}

void ExpectSameAsRescan(const TReplyCase& ACase, std::vector<std::string> AChunks)
{
    if (ACase.Complete)
        AChunks.push_back(NextReply);
    const TOutcome expected = TRescanModel(AChunks).Run(ACase.MultiLine, ACase.Complete);
    const TOutcome actual = RunEngine(AChunks, ACase.MultiLine, ACase.Complete);
    ASSERT_EQ(actual.Lines, expected.Lines) << ACase.Name << ", chunks: " << ::testing::PrintToString(AChunks);
    ASSERT_EQ(actual, expected) << ACase.Name << ", chunks: " << ::testing::PrintToString(AChunks);
}

TEST(CommandEngine, SplitRepliesGiveWhatARescanAfterEveryReadGives)
{
    for (const TReplyCase& replyCase : ReplyCases())
    {
        const std::string& reply = replyCase.Reply;
        ExpectSameAsRescan(replyCase, {reply});
        for (size_t a = 1; a < reply.size(); ++a)
        {
            ExpectSameAsRescan(replyCase, {reply.substr(0, a), reply.substr(a)});
            for (size_t b = a + 1; b < reply.size(); ++b)
                ExpectSameAsRescan(replyCase, {reply.substr(0, a), reply.substr(a, b - a), reply.substr(b)});
        }
        std::vector<std::string> bytes;
        for (const char c : reply)
            bytes.emplace_back(1, c);
        ExpectSameAsRescan(replyCase, bytes);
    }
}

TEST(CommandEngine, MultiLineReplyUnstuffsDotsAndDropsStatusAndTerminator)
{
    const TOutcome outcome = RunEngine({"+OK\r\nSubject: s\r\n\r\n..dotted\r\n..\r\n...\r\n-ERR body\r\n.\r\n"}, true);
    EXPECT_EQ(outcome.Lines, (std::vector<std::string>{"Subject: s", "", ".dotted", ".", "..", "-ERR body"}));
    EXPECT_EQ(outcome.Error, 0);
    EXPECT_EQ(outcome.Reads, 1); // status line and terminator in one read: no other read
}

TEST(CommandEngine, ReadThatBringsNothingLeavesAnOpenLineOpen)
{
    TEngine engine({"+OK\r\nfirst ha", "", "lf\r\n", "", ".\r\n"});
    engine.WaitResponse({CodeOk});
    engine.WaitMultipleLines(0);
    EXPECT_EQ(LinesOf(engine.GetResponse()), std::vector<std::string>{"first half"});
}

TEST(CommandEngine, LinesAfterTheTerminatorAreNotTakenForBodyOrNextReply)
{
    TEngine engine({"+OK\r\nbody\r\n.\r\n+OK unasked\r\n", "+OK next\r\n"});
    engine.WaitResponse({CodeOk});
    engine.WaitMultipleLines(0);
    EXPECT_EQ(LinesOf(engine.GetResponse()), std::vector<std::string>{"body"});
    engine.WaitResponse({CodeOk});
    EXPECT_EQ(LinesOf(engine.GetResponse()), std::vector<std::string>{"+OK next"});
}

TEST(CommandEngine, RefusedReplyRaisesTrimmedTextAndCodeAndKeepsIt)
{
    TEngine engine({"-ERR no such message\r\n"});
    bool received = false;
    engine.OnReceiveResponse = [&](TObject*, TStrings&) { received = true; };
    try
    {
        engine.SendCommandSync("RETR 9", {CodeOk});
        FAIL() << "the refusal was accepted";
    }
    catch (const EixTcpClientError& E)
    {
        EXPECT_EQ(E.Message(), "-ERR no such message");
        EXPECT_EQ(E.ErrorCode(), CodeError);
    }
    EXPECT_FALSE(received);
    EXPECT_FALSE(engine.GetInProgress());
    EXPECT_EQ(engine.GetResponse()[0], "-ERR no such message");
}

TEST(CommandEngine, AcceptedReplyFiresOnReceiveResponseWithTheReply)
{
    TEngine engine({"+OK fine\r\n"});
    std::vector<std::string> seen;
    engine.OnReceiveResponse = [&](TObject* ASender, TStrings& AList) {
        EXPECT_EQ(ASender, &engine);
        seen = LinesOf(AList);
    };
    engine.SendCommandSync("NOOP", {CodeOk});
    EXPECT_EQ(seen, std::vector<std::string>{"+OK fine"});
    EXPECT_EQ(engine.GetLastResponseCode(), CodeOk);
}

TEST(CommandEngine, ZeroEntryEndsTheAcceptedCodes)
{
    EXPECT_TRUE(IsOkResponse(20, {10, 20}));
    EXPECT_FALSE(IsOkResponse(20, {10, 0, 20}));
    EXPECT_FALSE(IsOkResponse(0, {0}));
    EXPECT_FALSE(IsOkResponse(10, {}));
}

TEST(CommandEngine, CommandGoesOutWithCrLfAndOnSendCommandSeesIt)
{
    TEngine engine({"+OK\r\n"});
    std::string seen;
    engine.OnSendCommand = [&](TObject*, const std::string& AText) { seen = AText; };
    engine.SendCommandSync("USER %s %d", {CodeOk}, {std::string("a%sb"), 7});
    EXPECT_EQ(engine.Connection.Sent(), "USER a%sb 7\r\n");
    EXPECT_EQ(seen, "USER a%sb 7\r\n");
}

TEST(CommandEngine, CommandWithALineBreakIsRefusedBeforeAnythingIsSent)
{
    TEngine engine;
    for (const char* command : {"USER a\r\nDELE 1", "PASS x\n", "QUIT\r"})
    {
        try
        {
            engine.SendCommand(command);
            FAIL() << "sent: " << command;
        }
        catch (const EixTcpClientError& E)
        {
            EXPECT_EQ(E.ErrorCode(), CommandLineBreakCode);
            EXPECT_EQ(E.Message(), CommandLineBreakError);
        }
    }
    EXPECT_EQ(engine.Connection.Sent(), "");
}

TEST(CommandEngine, CommandOnAClosedConnectionRaisesNotActive)
{
    TEngine engine;
    engine.Connection.Close(false);
    for (const auto& send : {+[](TEngine& E) { E.SendCommand("NOOP"); },
             +[](TEngine& E) { E.SendSilentCommand("QUIT", {CodeOk}); }})
    {
        try
        {
            send(engine);
            FAIL() << "a command went out on a closed connection";
        }
        catch (const EixSocketError& E)
        {
            EXPECT_EQ(E.ErrorCode(), -6);
            EXPECT_EQ(E.Message(), "The connection to the server is not active");
        }
    }
}

TEST(CommandEngine, SilentCommandSwallowsSocketAndRefusalErrorsOnly)
{
    TEngine refused({"-ERR no\r\n"});
    EXPECT_NO_THROW(refused.SendSilentCommand("QUIT", {CodeOk}));
    TEngine closing; // the peer closes before replying: the socket error 10038
    EXPECT_NO_THROW(closing.SendSilentCommand("QUIT", {CodeOk}));
    EXPECT_FALSE(closing.GetInProgress());
    TEngine failing({"+OK\r\n"});
    failing.OnSendCommand = [](TObject*, const std::string&) { throw std::runtime_error("handler"); };
    EXPECT_THROW(failing.SendSilentCommand("QUIT", {CodeOk}), std::runtime_error);
}

TEST(CommandEngine, ProgressCountsFromTheLinesAlreadyReadAndEndsAtTheTotal)
{
    TEngine engine({"+OK 40\r\n0123456789\r\n", "abcdef\r\n", ".\r\n"});
    std::vector<std::pair<int64_t, int64_t>> calls;
    engine.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) { calls.emplace_back(ADone, ATotal); };
    engine.WaitResponse({CodeOk});
    engine.WaitMultipleLines(40);
    // 8 + 12 bytes came with the status line; then 8 and 3 more; then the call at 100 %.
    EXPECT_EQ(calls, (std::vector<std::pair<int64_t, int64_t>>{{28, 40}, {31, 40}, {40, 40}}));
    EXPECT_FALSE(engine.GetInProgress());
    EXPECT_FALSE(engine.Connection.OnProgress);
}

TEST(CommandEngine, ProgressAdvancesWhileALargeReplyArrivesInReadsThatEndInsideLines)
{
    // 300 body lines; every read but the last ends in the middle of a line, as reads of a
    // large message usually do, so no read ends the status line's batch before the terminator.
    std::vector<std::string> body;
    std::string reply = "+OK message follows\r\n";
    std::vector<std::string> chunks;
    for (int i = 0; i < 300; ++i)
    {
        body.push_back("line " + std::to_string(i) + std::string(60, 'x'));
        const std::string line = body.back() + "\r\n";
        if (i % 10 != 9)
        {
            reply += line;
            continue;
        }
        chunks.push_back(reply + line.substr(0, 20));
        reply = line.substr(20);
    }
    chunks.push_back(reply + ".\r\n");
    int64_t total = 0;
    for (const std::string& line : body)
        total += static_cast<int64_t>(line.size()) + 2;

    TEngine engine(chunks);
    std::vector<std::pair<int64_t, int64_t>> calls;
    engine.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) { calls.emplace_back(ADone, ATotal); };
    engine.WaitResponse({CodeOk});
    EXPECT_EQ(engine.Connection.Reads(), 1) << "the status line's wait read past the status line";
    engine.WaitMultipleLines(total);

    EXPECT_EQ(LinesOf(engine.GetResponse()), body);
    ASSERT_GE(calls.size(), 25u);
    EXPECT_EQ(calls.back(), (std::pair<int64_t, int64_t>{total, total}));
    for (size_t i = 0; i + 1 < calls.size(); ++i)
    {
        EXPECT_LT(calls[i].first, total) << "call " << i;
        EXPECT_EQ(calls[i].second, total) << "call " << i;
        EXPECT_TRUE(i == 0 || calls[i].first > calls[i - 1].first) << "call " << i;
    }
}

TEST(CommandEngine, ProgressBeyondTheAnnouncedTotalIsNotReported)
{
    TEngine engine({"+OK\r\n", "0123456789\r\n", ".\r\n"});
    std::vector<std::pair<int64_t, int64_t>> calls;
    engine.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) { calls.emplace_back(ADone, ATotal); };
    engine.WaitResponse({CodeOk});
    engine.WaitMultipleLines(10);
    EXPECT_EQ(calls, (std::vector<std::pair<int64_t, int64_t>>{{10, 10}}));
}

TEST(CommandEngine, ProgressWithoutATotalIsNeverReported)
{
    TEngine engine({"+OK\r\nline\r\n", ".\r\n"});
    int calls = 0;
    engine.OnProgress = [&](TObject*, int64_t, int64_t) { ++calls; };
    engine.WaitResponse({CodeOk});
    engine.WaitMultipleLines(0);
    EXPECT_EQ(calls, 0);
}

TEST(CommandEngine, FailedMultiLineWaitClearsInProgressAndTheProgressSlot)
{
    TEngine engine({"+OK\r\nline\r\n"});
    engine.WaitResponse({CodeOk});
    try
    {
        engine.WaitMultipleLines(100);
        FAIL() << "a reply without its terminator ended normally";
    }
    catch (const EixSocketError& E)
    {
        EXPECT_EQ(E.ErrorCode(), 10038);
    }
    EXPECT_FALSE(engine.GetInProgress());
    EXPECT_FALSE(engine.Connection.OnProgress);
}

TEST(CommandEngine, CharSetConvertsCommandsAndReplies)
{
    const test::TAnsiCodePageScope cp1252(1252); // the texts below are written in its bytes
    TEngine engine({"+OK caf\xC3\xA9\r\n"});
    engine.SetCharSet("utf-8");
    engine.SendCommandSync("USER caf\xE9", {CodeOk});
    EXPECT_EQ(engine.Connection.Sent(), "USER caf\xC3\xA9\r\n");
    EXPECT_EQ(engine.GetResponse()[0], "+OK caf\xE9");
}

TEST(CommandEngine, SettersNotifyOnlyChanges)
{
    TEngine engine;
    int changes = 0;
    engine.OnChanged = [&](TObject*) { ++changes; };
    engine.SetUserName("u");
    engine.SetUserName("u");
    engine.SetPassword("p");
    engine.SetAuthorization("t");
    engine.SetCharSet("utf-8");
    engine.SetCharSet("utf-8");
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(engine.GetCharSet(), "utf-8");
}

} // namespace
} // namespace ix
