// Reply-line classification and multi-line framing of the POP3 client: the input, cut into
// reads at points it chooses itself, is served as the reply to a command and then as the rest
// of a multi-line reply. Whatever arrives must end in a reply, a refusal or a socket error,
// with no line end left inside a line, in time linear in its size.
#include "pop3/ixPop3.h"

#include <algorithm>
#include <vector>

#include "FuzzInput.h"
#include "support/ChunkedConnection.h"

namespace {

/// The first byte says how many reads to cut the rest into (its top bit sets small limits);
/// the next ones where to cut. Past the last cut, the rest comes in reads of 64 times the last
/// cut's length, so that a long line arrives in many pieces (a line rebuilt at every read shows
/// as a time-out).
std::vector<std::string> Chunks(const uint8_t* AData, size_t ASize)
{
    if (ASize == 0)
        return {};
    const size_t cuts = AData[0] % 8;
    const size_t start = 1 + std::min(cuts, ASize - 1);
    const std::string text = ix::fuzz::Text(AData, ASize, start);
    std::vector<std::string> chunks;
    size_t from = 0;
    size_t length = text.size();
    for (size_t i = 1; i < start && from < text.size(); ++i)
    {
        length = 1 + AData[i] % 64;
        chunks.push_back(text.substr(from, length));
        from += length;
    }
    for (const size_t step = std::max<size_t>(64 * length, 1); from < text.size(); from += step)
        chunks.push_back(text.substr(from, step));
    return chunks;
}

void CheckLines(ix::TStrings& ALines)
{
    for (int32_t i = 0; i < ALines.Count(); ++i)
        ix::fuzz::Require(ALines[i].find_first_of("\r\n") == std::string::npos);
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    ix::test::WithChunkedConnection<ix::TixPop3> client;
    client.Connection.Add(Chunks(AData, ASize));
    if (ASize > 0 && (AData[0] & 0x80) != 0)
    {
        // Limits that inputs of up to 1 MB can cross; otherwise the defaults, which let a 1 MB
        // line grow to its end.
        client.SetMaxLineLength(64 * 1024);
        client.SetMaxBodyLineLength(256 * 1024);
    }
    // Refusals (EixTcpClientError) and the closed connection are socket errors.
    ix::fuzz::Completes<ix::EixSocketError>([&] {
        client.WaitResponse({ix::TixPop3::ReplyOk});
        CheckLines(client.GetResponse());
        client.WaitMultipleLines(static_cast<int64_t>(ASize));
    });
    CheckLines(client.GetResponse());
    ix::fuzz::Require(!client.GetInProgress());
}
