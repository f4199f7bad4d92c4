#include "command/ixTcpCommandClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "core/ixStreams.h"
#include "support/AnsiCodePageScope.h"
#include "support/ChunkedConnection.h"
#include "support/ExpectError.h"
#include "util/ixUtils.h"

namespace ix {
namespace {

using test::ExpectError;
using test::WithChunkedConnection;

constexpr int32_t CodeOk = 10;
constexpr int32_t CodeError = 20;
constexpr int32_t CodeEnd = 1;
/// The codes a first reply is accepted with: a zero entry ends the list, so "-ERR" is refused.
const TixResponseCodes Accepted = {CodeOk, 0, CodeError};

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
    int Reads() const { return Connection.Reads(); }
};

/// The reply algorithm as first written: after every read the whole reply is classified
/// again from the start index. The engine must give the same results while classifying
/// each line once.
class TRescanModel
{
public:
    explicit TRescanModel(std::vector<std::string> AChunks) { FConnection.Add(std::move(AChunks)); }

    void WaitResponse(const TixResponseCodes& AOk)
    {
        FResponse.Clear();
        Wait(AOk);
    }
    void WaitMultipleLines(int64_t)
    {
        if (!FResponse.IsEmpty())
            FResponse.Delete(0);
        if (FResponse.IsEmpty() || FResponse[FResponse.Count() - 1] != ".")
            Wait({CodeEnd});
        for (int32_t i = 0; i < FResponse.Count(); ++i)
            if (FResponse[i].starts_with(".."))
                FResponse.Line(i).erase(0, 1);
        FResponse.Delete(FResponse.Count() - 1);
    }
    const TStrings& GetResponse() const { return FResponse; }
    int32_t GetLastResponseCode() const { return FLastCode; }
    int Reads() const { return FConnection.Reads(); }

private:
    /// One read added to the reply; true while its last line is open.
    bool Receive(bool AAddToLast)
    {
        TMemoryStream chunk;
        FConnection.ReadData(&chunk);
        chunk.SetPosition(0);
        return FConnection.GetActive() && TixStringsUtils(FResponse).AddTextRead(chunk, AAddToLast, FAfterCR) != 0;
    }

    void Wait(const TixResponseCodes& AOk)
    {
        for (;;)
        {
            for (bool incomplete = Receive(false); incomplete;)
                incomplete = Receive(true);
            FLastCode = 0;
            const auto accepted = std::find(AOk.begin(), AOk.end(), 0); // a zero entry ends the list
            for (int32_t i = 0; i < FResponse.Count(); ++i)
            {
                const int32_t code = Classify(FResponse[i]);
                FLastCode = code != 0 ? code : FLastCode;
                if (code != 0 && std::find(AOk.begin(), accepted, code) != accepted)
                    return;
            }
            if (AOk[0] != CodeEnd && FLastCode != 0)
                throw EixTcpClientError(Trim(FResponse.GetText()), FLastCode);
        }
    }

    test::ChunkedConnection FConnection;
    TStringList FResponse;
    int32_t FLastCode = 0;
    bool FAfterCR = false;
};

/// What one exchange left behind.
struct TOutcome
{
    std::string Lines; // each with CR LF
    int32_t LastCode = 0;
    int32_t Error = 0; // the error code of the exception, 0 for none
    int Reads = 0;
    std::string NextLines; // the reply to a following command, when one was read

    bool operator==(const TOutcome&) const = default;
};

template <typename TClient>
TOutcome Exchange(TClient&& AClient, bool AMultiLine, bool AReadNext = false, int64_t ATotal = 0)
{
    TOutcome outcome;
    try
    {
        AClient.WaitResponse(Accepted);
        if (AMultiLine)
            AClient.WaitMultipleLines(ATotal);
    }
    catch (const EixSocketError& E)
    {
        outcome.Error = E.ErrorCode();
    }
    outcome.Lines = AClient.GetResponse().GetText();
    outcome.LastCode = AClient.GetLastResponseCode();
    outcome.Reads = AClient.Reads();
    if (AReadNext && outcome.Error == 0)
    {
        AClient.WaitResponse({CodeOk});
        outcome.NextLines = AClient.GetResponse().GetText();
    }
    return outcome;
}

struct TReplyCase
{
    const char* Name;
    std::string Reply;
    bool MultiLine;
    bool Complete = true; // the reply ends normally: the next reply follows it
};

const TReplyCase ReplyCases[] = {
    {"status line", "+OK 2 320\r\n", false},
    {"uncoded lines first", "hello\r\nthere\r\n+OK ready <1.2@ix.test>\r\n", false},
    {"refusal", "-ERR no such message\r\n", false},
    {"refusal then acceptance", "-ERR a\r\n+OK b\r\n", false},
    {"uncoded lines then close", "hello\r\n", false, false},
    {"body", "+OK\r\nSubject: s\r\n\r\n..dotted\r\n..\r\n-ERR body\r\n+OK body\r\n.\r\n", true},
    {"empty body", "+OK\r\n.\r\n", true},
    {"body cut short", "+OK 3\r\nline one\r\nline", true, false},
    {"lone LF line ends", "+OK\nA\n.\n", true},
    {"lone CR line ends", "+OK\rab\rcd\r\r\n.\r\n", true},
    {"dot-led lines first", "+OK\r\n...\r\n.x\r\n..\r\n.\r\n", true},
    {"uncoded lines before a body", "x\r\n+OK\r\n.\r\n", true},
    {"body of long lines", "+OK 2\r\n" + std::string(40, 'a') + "\r\n" + std::string(30, 'b') + "\r\n.\r\n", true},
};

void ExpectSameAsRescan(const TReplyCase& ACase, std::vector<std::string> AChunks)
{
    if (ACase.Complete)
        AChunks.push_back("+OK next\r\n"); // the reply to the following command, in its own read
    const TOutcome expected = Exchange(TRescanModel(AChunks), ACase.MultiLine, ACase.Complete);
    const TOutcome actual = Exchange(TEngine(AChunks), ACase.MultiLine, ACase.Complete);
    ASSERT_EQ(actual, expected) << ACase.Name << ", chunks: " << ::testing::PrintToString(AChunks);
}

TEST(CommandEngine, SplitRepliesGiveWhatARescanAfterEveryReadGives)
{
    for (const TReplyCase& replyCase : ReplyCases)
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

using TProgressCalls = std::vector<std::pair<int64_t, int64_t>>;

TEST(CommandEngine, MultiLineReplyKeepsItsBodyLinesAndNothingAfterTheTerminatorAndCountsProgressUpToTheTotal)
{
    // The chunks read (then "+OK next", the reply to the following command, unless the wait
    // fails), the total announced; the body lines, the reads, the progress calls and the error.
    const std::tuple<std::vector<std::string>, int64_t, std::string, int, TProgressCalls, int32_t> cases[] = {
        // Empty reads keep the line open; without a total, not even they report progress.
        {{"+OK\r\nfirst ha", "", "lf\r\n", "", ".\r\n"}, 0, "first half\r\n", 5, {}, 0},
        {{"+OK\r\nbody\r\n.\r\n+OK unasked\r\n"}, 0, "body\r\n", 1, {}, 0}, // neither body nor the next reply
        // 8 + 12 bytes came with the status line; then 8 and 3 more; then the call at 100 %.
        {{"+OK 40\r\n0123456789\r\n", "abcdef\r\n", ".\r\n"}, 40, "0123456789\r\nabcdef\r\n", 3,
            {{28, 40}, {31, 40}, {40, 40}}, 0},
        {{"+OK\r\n", "0123456789\r\n", ".\r\n"}, 10, "0123456789\r\n", 3, {{10, 10}}, 0}, // nothing beyond the total
        {{"+OK\r\nline\r\n"}, 100, "line\r\n", 2, {}, 10038}, // no terminator: the wait fails
    };
    for (auto [chunks, total, lines, reads, progress, error] : cases)
    {
        if (error == 0)
            chunks.push_back("+OK next\r\n");
        TEngine engine(chunks);
        TProgressCalls calls;
        engine.OnProgress = [&](TObject*, int64_t ADone, int64_t ATotal) { calls.emplace_back(ADone, ATotal); };
        const TOutcome outcome = Exchange(engine, true, true, total);
        EXPECT_EQ(outcome.Lines, lines) << chunks[0];
        EXPECT_EQ(outcome.Error, error) << chunks[0];
        EXPECT_EQ(outcome.Reads, reads) << chunks[0];
        EXPECT_EQ(outcome.NextLines, error == 0 ? "+OK next\r\n" : "") << chunks[0];
        EXPECT_EQ(calls, progress) << chunks[0];
        EXPECT_FALSE(engine.GetInProgress());
        EXPECT_FALSE(engine.Connection.OnProgress);
    }
}

TEST(CommandEngine, CommandGoesOutWithCrLfAndItsReplyIsReportedOrItRaisesBeforeAnythingIsSentAndASilentOneSwallowsSocketErrorsOnly)
{
    TEngine engine({"+OK\r\n"});
    for (const char* command : {"USER a\r\nDELE 1", "PASS x\n", "QUIT\r"})
        EXPECT_EQ(ExpectError<EixTcpClientError>([&] { engine.SendCommand(command); }, CommandLineBreakCode),
            CommandLineBreakError);
    EXPECT_EQ(engine.Connection.Sent(), "");
    // The reply of an accepted command is reported (a refused one's is not: the POP3 client's
    // failed opens).
    std::string seen;
    std::string reply;
    engine.OnSendCommand = [&](TObject*, const std::string& AText) { seen = AText; };
    engine.OnReceiveResponse = [&](TObject* ASender, TStrings& AList) {
        EXPECT_EQ(ASender, &engine);
        reply = AList.GetText();
    };
    engine.SendCommandSync("USER %s %d", {CodeOk}, {std::string("a%sb"), 7});
    EXPECT_EQ(engine.Connection.Sent(), "USER a%sb 7\r\n");
    EXPECT_EQ(seen, "USER a%sb 7\r\n");
    EXPECT_EQ(reply, "+OK\r\n");
    // A silent command swallows socket errors and refusals (the POP3 client's QUIT), not a handler's.
    TEngine closing; // the peer closes before replying: the socket error 10038
    EXPECT_NO_THROW(closing.SendSilentCommand("QUIT", {CodeOk}));
    EXPECT_FALSE(closing.GetInProgress());
    engine.OnSendCommand = [](TObject*, const std::string&) { throw std::runtime_error("handler"); };
    EXPECT_THROW(engine.SendSilentCommand("QUIT", {CodeOk}), std::runtime_error);
    engine.Connection.Close(false);
    const std::string notActive = "The connection to the server is not active";
    EXPECT_EQ(ExpectError<EixSocketError>([&] { engine.SendCommand("NOOP"); }, -6), notActive);
    EXPECT_EQ(ExpectError<EixSocketError>([&] { engine.SendSilentCommand("QUIT", {CodeOk}); }, -6), notActive);
}

TEST(CommandEngine, AStatusLineMayTakeMaxLineLengthBytesButNotOneMore)
{
    for (const auto& [first, refused] : {std::pair{"+OK 567890", false}, {"+OK 5678901", true}})
    {
        TEngine engine({first, "\r\n"});
        engine.SetMaxLineLength(10);
        if (refused)
            ExpectError<EixTcpClientError>([&] { engine.WaitResponse({CodeOk}); }, ReplyLineTooLongCode);
        else
            EXPECT_NO_THROW(engine.WaitResponse({CodeOk}));
    }
}

TEST(CommandEngine, SettersNotifyChangesAndTheCharSetConvertsCommandsAndReplies)
{
    const test::TAnsiCodePageScope cp1252(1252); // the texts below are written in its bytes
    TEngine engine({"+OK caf\xC3\xA9\r\n"});
    int changes = 0;
    engine.OnChanged = [&](TObject*) { ++changes; };
    engine.SetUserName("u");
    engine.SetUserName("u");
    engine.SetPassword("p");
    engine.SetAuthorization("t");
    engine.SetCharSet("utf-8");
    engine.SetCharSet("utf-8");
    EXPECT_EQ(changes, 4) << "only changes are notified";
    engine.SendCommandSync("USER caf\xE9", {CodeOk});
    EXPECT_EQ(engine.Connection.Sent(), "USER caf\xC3\xA9\r\n");
    EXPECT_EQ(engine.GetResponse()[0], "+OK caf\xE9");
}

} // namespace
} // namespace ix
