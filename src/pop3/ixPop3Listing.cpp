// The mailbox listing of TixPop3: one "LIST", one "UIDL", and "TOP n 0" for every message,
// sent ahead of their replies when the server pipelines (RFC 2449).
#include "pop3/ixPop3.h"

#include "core/ixStreams.h"
#include "util/ixUtils.h"

#include <algorithm>
#include <map>

namespace ix {

namespace {

constexpr TixCharSet WordDelimiters{' '};

const TixResponseCodes AcceptOk{TixPop3::ReplyOk};
const TixResponseCodes AcceptOkOrError{TixPop3::ReplyOk, TixPop3::ReplyError};

/// The lines of replies that arrive back to back, taken one at a time in order. Bytes that
/// follow the end of one reply stay for the next.
class TReplyLines
{
public:
    TReplyLines(TixTcpClientConnection& AConnection, std::string ACharSet)
        : FConnection(AConnection), FCharSet(std::move(ACharSet))
    {
    }

    /// The next complete line; raises ReplyLineTooLongCode when one grows beyond AMaxLength
    /// (0 or less: no limit).
    std::string Next(int64_t AMaxLength)
    {
        while (FNext >= CompleteCount())
            Receive(AMaxLength);
        return std::move(FLines.Line(FNext++));
    }

private:
    int32_t CompleteCount() const noexcept { return FLines.Count() - (FLastOpen ? 1 : 0); }

    void Receive(int64_t AMaxLength)
    {
        Compact();
        TMemoryStream data;
        FConnection.ReadData(&data);
        if (data.GetSize() == 0)
        {
            if (!FConnection.GetActive())
                throw EixSocketError("The connection to the server is not active", SocketErrorNotActive);
            return;
        }
        data.SetPosition(0);
        TixStringsUtils lines(FLines, FCharSet);
        FLastOpen = lines.AddTextRead(data, FLastOpen, FAfterCR) != 0;
        if (FLastOpen && AMaxLength > 0 && static_cast<int64_t>(FLines[FLines.Count() - 1].size()) > AMaxLength)
            throw EixTcpClientError(Format("The reply line is longer than %d bytes", AMaxLength), ReplyLineTooLongCode);
    }

    /// Drops the lines already taken (all but an open last line).
    void Compact()
    {
        if (FNext == 0)
            return;
        std::string open = FLastOpen ? std::move(FLines.Line(FLines.Count() - 1)) : std::string();
        FLines.Clear();
        if (FLastOpen)
            FLines.Add(std::move(open));
        FNext = 0;
    }

    TixTcpClientConnection& FConnection;
    std::string FCharSet;
    TStringList FLines;
    int32_t FNext = 0;
    bool FLastOpen = false;
    bool FAfterCR = false; // the last read ended in a CR
};

/// The number and the second word of a "n word" line of a LIST or UIDL reply; false when the
/// line is not of that shape.
bool SplitListLine(const std::string& ALine, int32_t& ANumber, std::string& AValue)
{
    if (WordCount(ALine, WordDelimiters) < 2)
        return false;
    ANumber = StrToIntDef(ExtractWord(1, ALine, WordDelimiters), 0);
    AValue = ExtractWord(2, ALine, WordDelimiters);
    return ANumber > 0 && !AValue.empty();
}


} // namespace

void TixPop3::SetPipelineDepth(int32_t AValue)
{
    if (AssignIfChanged(FPipelineDepth, AValue))
        Changed();
}

bool TixPop3::GetCapabilities(TStrings& ALines)
{
    ALines.Clear();
    SendCommandSync("CAPA", AcceptOkOrError);
    if (GetLastResponseCode() != ReplyOk)
        return false;
    WaitMultipleLines(0);
    ALines.AddStrings(GetResponse());
    return true;
}

std::vector<TixPop3ListItem> TixPop3::ListMailBox(bool AWithHeaders)
{
    std::vector<TixPop3ListItem> items;
    SendCommandSync("LIST", AcceptOk);
    WaitMultipleLines(0);
    std::map<int32_t, size_t> byNumber;
    for (int32_t i = 0; i < GetResponse().Count(); ++i)
    {
        TixPop3ListItem item;
        std::string size;
        if (!SplitListLine(GetResponse()[i], item.Number, size) || byNumber.contains(item.Number))
            continue;
        item.Size = StrToInt64Def(size, 0);
        byNumber[item.Number] = items.size();
        items.push_back(std::move(item));
    }
    SendCommandSync("UIDL", AcceptOkOrError);
    if (GetLastResponseCode() == ReplyOk)
    {
        WaitMultipleLines(0);
        for (int32_t i = 0; i < GetResponse().Count(); ++i)
        {
            int32_t number = 0;
            std::string uid;
            if (!SplitListLine(GetResponse()[i], number, uid))
                continue;
            if (const auto at = byNumber.find(number); at != byNumber.end())
                items[at->second].Uid = std::move(uid);
        }
    }
    if (AWithHeaders && !items.empty())
    {
        TStringList capabilities;
        const bool pipelining = GetCapabilities(capabilities) && capabilities.IndexOf("PIPELINING") >= 0;
        ReadHeaders(items, pipelining ? std::max(FPipelineDepth, 1) : 1);
    }
    return items;
}

void TixPop3::SendTopCommands(const std::vector<TixPop3ListItem>& AItems, size_t AFrom, size_t ATo)
{
    std::string batch;
    for (size_t i = AFrom; i < ATo; ++i)
        batch += Format("TOP %d 0\r\n", AItems[i].Number);
    std::string charSet;
    GetCommandCharSet(batch, charSet);
    GetConnection()->WriteString(batch, charSet);
    for (size_t i = AFrom; i < ATo; ++i)
        DoSendCommand(Format("TOP %d 0\r\n", AItems[i].Number));
}

void TixPop3::ReadHeaders(std::vector<TixPop3ListItem>& AItems, int32_t ADepth)
{
    CheckActive();
    TInProgressScope batch(*this);
    try
    {
        std::string charSet;
        TMemoryStream none;
        GetResponseCharSet(none, charSet);
        TReplyLines lines(*GetConnection(), charSet);
        const size_t depth = static_cast<size_t>(ADepth);
        // Commands go out in groups of half the depth once half of those in flight have been
        // answered: few writes, and never more than ADepth short commands unread by the server,
        // so neither side can block on a full buffer while the other waits for it.
        const size_t refill = std::max<size_t>(depth / 2, 1);
        size_t sent = 0;
        for (size_t done = 0; done < AItems.size(); ++done)
        {
            if (sent < AItems.size() && sent - done + refill <= depth)
            {
                const size_t upTo = std::min(AItems.size(), done + depth);
                SendTopCommands(AItems, sent, upTo);
                sent = upTo;
            }
            TixPop3ListItem& item = AItems[done];
            FMessageNumber = item.Number;
            const std::string status = lines.Next(GetMaxLineLength());
            const int32_t code = GetResponseCode(status);
            if (code == ReplyError)
            {
                item.HeaderError = Trim(status);
                continue;
            }
            if (code != ReplyOk)
                throw EixTcpClientError(Trim(status), code);
            int64_t size = static_cast<int64_t>(status.size()) + 2;
            for (std::string line = lines.Next(GetMaxBodyLineLength()); line != ".";
                line = lines.Next(GetMaxBodyLineLength()))
            {
                size += static_cast<int64_t>(line.size()) + 2;
                if (GetMaxReplySize() > 0 && size > GetMaxReplySize())
                    throw EixTcpClientError(Format("The reply is larger than %d bytes", GetMaxReplySize()),
                        ReplyTooLargeCode);
                if (line.starts_with(".."))
                    line.erase(0, 1);
                item.Header.push_back(std::move(line));
            }
            item.HeaderRead = true;
        }
    }
    catch (...)
    {
        // Replies still on their way would be taken for those of later commands.
        try
        {
            CloseWithoutGoodbye(false);
        }
        catch (...) // the failure of the listing is what the caller needs to see
        {
        }
        throw;
    }
}

} // namespace ix
