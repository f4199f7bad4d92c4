#include "command/ixTcpCommandClient.h"
#include "core/ixProperties.h"

#include "core/ixStreams.h"
#include "platform/ixOsKernel.h"
#include "tls/ixSspi.h"
#include "util/ixSecret.h"
#include "util/ixUtils.h"

#include <algorithm>
#include <utility>

namespace ix {

namespace {

/// The code of the line that ends a multi-line reply.
constexpr int32_t TerminatorCode = 1;
const TixResponseCodes TerminatorOnly{TerminatorCode};

/// Points the connection's progress event at the engine for one multi-line wait.
class TProgressScope
{
public:
    TProgressScope(TixConnection& AConnection, TixProgressEvent AHandler) : FConnection(AConnection)
    {
        FConnection.OnProgress = std::move(AHandler);
    }
    ~TProgressScope() { FConnection.OnProgress = nullptr; }
    TProgressScope(const TProgressScope&) = delete;
    TProgressScope& operator=(const TProgressScope&) = delete;

private:
    TixConnection& FConnection;
};

/// Removes the first character of every line that begins with ".." (RFC 1939, 3).
void UnstuffDots(TStringList& ALines)
{
    for (int32_t i = 0; i < ALines.Count(); ++i)
    {
        std::string& line = ALines.Line(i);
        if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
            line.erase(0, 1);
    }
}

/// ACommand as OnSendCommand shows a line that carries a secret: its first APublicLength
/// characters, then "****" for the rest (nothing when there is no rest), then CR LF.
std::string MaskedLine(const std::string& ACommand, size_t APublicLength)
{
    const size_t shown = std::min(APublicLength, ACommand.size());
    return ACommand.substr(0, shown) + (shown < ACommand.size() ? "****" : "") + "\r\n";
}

} // namespace

bool IsOkResponse(int32_t ACode, const TixResponseCodes& AOkResponses) noexcept
{
    for (const int32_t code : AOkResponses)
    {
        if (code == 0)
            return false;
        if (code == ACode)
            return true;
    }
    return false;
}

TixTcpCommandClient::TixTcpCommandClient(TComponent* AOwner)
    : TixTcpClientTls(AOwner), FResponse(std::make_unique<TStringList>())
{
}

TixTcpCommandClient::~TixTcpCommandClient()
{
    Destroying();
    try
    {
        Close();
    }
    catch (...) // a destructor reports nothing; the transport is released below in any case
    {
    }
    AssignSecret(FPassword, {});
    AssignSecret(FAuthorization, {});
}

bool TixTcpCommandClient::AssignSecret(std::string& ASecret, const std::string& AValue)
{
    if (ASecret == AValue)
        return false;
    os::SecureZeroMemory(ASecret.data(), ASecret.size()); // the old text leaves no copy behind
    ASecret = AValue;
    return true;
}

// ---- Properties --------------------------------------------------------------------------

void TixTcpCommandClient::SetUserName(const std::string& AValue)
{
    if (AssignIfChanged(FUserName, AValue))
        Changed();
}

void TixTcpCommandClient::SetPassword(const std::string& AValue)
{
    if (AssignSecret(FPassword, AValue))
        Changed();
}

void TixTcpCommandClient::SetAuthorization(const std::string& AValue)
{
    if (AssignSecret(FAuthorization, AValue))
        Changed();
}

void TixTcpCommandClient::SetCharSet(const std::string& AValue)
{
    if (AssignIfChanged(FCharSet, AValue))
        Changed();
}

void TixTcpCommandClient::SetMaxLineLength(int64_t AValue)
{
    if (AssignIfChanged(FMaxLineLength, AValue))
        Changed();
}

void TixTcpCommandClient::SetMaxBodyLineLength(int64_t AValue)
{
    if (AssignIfChanged(FMaxBodyLineLength, AValue))
        Changed();
}

void TixTcpCommandClient::SetMaxReplySize(int64_t AValue)
{
    if (AssignIfChanged(FMaxReplySize, AValue))
        Changed();
}

// ---- Sending -----------------------------------------------------------------------------

void TixTcpCommandClient::SendCommand(const std::string& ACommand)
{
    const bool secret = std::exchange(FSecretCommand, false);
    CheckActive();
    // A command is one line: a CR or LF inside it (say in a user name) would let the text
    // after it reach the server as a command of its own.
    if (ACommand.find_first_of("\r\n") != std::string::npos)
        throw EixTcpClientError(std::string(CommandLineBreakError), CommandLineBreakCode);
    std::string line = ACommand + "\r\n";
    const TWipeOnExit wipeLine(line.data(), line.size(), secret);
    FReplyPending = true; // from the first byte written, the stream owes a reply
    TixTcpClientConnection* connection = GetConnection();
    connection->InitProgress(0, 0);
    std::string charSet;
    GetCommandCharSet(ACommand, charSet);
    connection->WriteString(line, charSet, secret);
    DoSendCommand(secret ? MaskedLine(ACommand, FSecretPublicLength) : line);
}

void TixTcpCommandClient::SendCommandSync(const std::string& ACommand, const TixResponseCodes& AOkResponses)
{
    RunExchange([&] { InternalSendCommandSync(ACommand, AOkResponses); });
}

template <typename TExchange>
void TixTcpCommandClient::RunExchange(TExchange&& AExchange)
{
    TInProgressScope exchange(*this);
    try
    {
        AExchange();
    }
    catch (...)
    {
        // Bytes of the unread reply would be taken for the replies of later commands.
        if (std::exchange(FReplyPending, false))
        {
            try
            {
                CloseWithoutGoodbye(false);
            }
            catch (...) // the failure of the exchange is what the caller needs to see
            {
            }
        }
        throw;
    }
}

void TixTcpCommandClient::SendSecretCommandSync(const TSecretString& ACommand, const TixResponseCodes& AOkResponses)
{
    FSecretCommand = true; // taken by the SendCommand of the exchange
    FSecretPublicLength = ACommand.PublicLength();
    SendCommandSync(ACommand.Text(), AOkResponses);
}

void TixTcpCommandClient::SendCommandSync(std::string_view AFormat, const TixResponseCodes& AOkResponses,
    const std::vector<TFormatArg>& AArgs)
{
    SendCommandSync(FormatArgs(AFormat, AArgs), AOkResponses);
}

void TixTcpCommandClient::SendSilentCommand(const std::string& ACommand, const TixResponseCodes& AOkResponses)
{
    CheckActive();
    try
    {
        SendCommandSync(ACommand, AOkResponses);
    }
    catch (const EixSocketError&) // includes EixTcpClientError: the exchange may fail quietly
    {
    }
    catch (const EixSSPIError&)
    {
    }
}

void TixTcpCommandClient::InternalSendCommandSync(const std::string& ACommand, const TixResponseCodes& AOkResponses)
{
    SendCommand(ACommand);
    WaitResponse(AOkResponses);
}

// ---- Receiving ---------------------------------------------------------------------------

bool TixTcpCommandClient::ReceiveResponseLines(bool AAddToLastLine)
{
    TMemoryStream data;
    TixTcpClientConnection& connection = *GetConnection();
    connection.ReadData(&data);
    FReplyBytes += data.GetSize();
    // A read may bring nothing while the connection stays up (a TLS message without data): a
    // line that was open is then still open. After a close it is as complete as it will get.
    if (data.GetSize() == 0 && connection.GetActive())
        return AAddToLastLine && !FResponse->IsEmpty();
    data.SetPosition(0);
    std::string charSet;
    GetResponseCharSet(data, charSet);
    TixStringsUtils lines(*FResponse, charSet);
    return lines.AddTextRead(data, AAddToLastLine, FAfterCR) != 0;
}

int32_t TixTcpCommandClient::CompleteLineCount() const noexcept
{
    return FResponse->Count() - (FLastLineOpen ? 1 : 0);
}

int32_t TixTcpCommandClient::WaitForResponse(int32_t AStartIndex, const TixResponseCodes& AOkResponses)
{
    // A complete line never changes, so each pass classifies only the lines completed since the
    // last one, and LastResponseCode follows the last non-zero code among them: the results of
    // rescanning the whole reply after every read, without the quadratic cost on long replies.
    // An accepted line ends the wait as soon as it is complete, even when the read ended inside
    // a later line: that line stays open for the next read to continue, so a multi-line reply
    // is not swallowed whole by the wait for its status line. Every other decision is taken
    // only when a read ends on a line boundary.
    int32_t scanned = AStartIndex;
    int32_t lastCode = 0;
    for (;;)
    {
        FLastLineOpen = ReceiveResponseLines(FLastLineOpen);
        const int32_t complete = CompleteLineCount();
        const int32_t accepted = FindResponseCode(scanned, complete, AOkResponses, lastCode);
        FLastResponseCode = lastCode;
        if (accepted >= 0)
            return accepted;
        CheckReplyLimits();
        scanned = std::max(scanned, complete);
        if (FLastLineOpen)
            continue; // the rest of a line is on its way
        if (FResponse->Count() == AStartIndex && AOkResponses.empty())
            return -1;
        if (AOkResponses.size() == 1 && AOkResponses[0] == TerminatorCode)
            continue; // look-alike reply lines inside a body never raise
        if (FLastResponseCode == 0)
            continue; // no coded line yet
        RaiseRefusedReply();
    }
}

int32_t TixTcpCommandClient::FindResponseCode(int32_t AFrom, int32_t ATo, const TixResponseCodes& AOkResponses,
    int32_t& ALastCode)
{
    for (int32_t i = AFrom; i < ATo; ++i)
    {
        const int32_t code = GetResponseCode((*FResponse)[i]);
        if (code == 0)
            continue;
        ALastCode = code;
        if (IsOkResponse(code, AOkResponses))
            return i;
    }
    return -1;
}

void TixTcpCommandClient::RaiseRefusedReply()
{
    FReplyPending = false; // the reply ended with the refusal
    throw EixTcpClientError(Trim(FResponse->GetText()), FLastResponseCode);
}

void TixTcpCommandClient::CheckReplyLimits()
{
    if (FReplyLimit > 0 && FReplyBytes > FReplyLimit)
        RaiseLimitError(Format("The reply is larger than %d bytes", FReplyLimit), ReplyTooLargeCode);
    if (!FInBody && FMaxLineLength > 0 && FReplyBytes > FMaxLineLength)
        RaiseLimitError(Format("The reply line is longer than %d bytes", FMaxLineLength), ReplyLineTooLongCode);
    if (FInBody && FMaxBodyLineLength > 0 && FLastLineOpen &&
        static_cast<int64_t>((*FResponse)[FResponse->Count() - 1].size()) > FMaxBodyLineLength)
        RaiseLimitError(Format("The reply line is longer than %d bytes", FMaxBodyLineLength), ReplyLineTooLongCode);
}

void TixTcpCommandClient::RaiseLimitError(const std::string& AMessage, int32_t ACode)
{
    FReplyPending = false;
    try
    {
        CloseWithoutGoodbye(false);
    }
    catch (...) // the crossed limit is what the caller needs to see
    {
    }
    throw EixTcpClientError(AMessage, ACode);
}

void TixTcpCommandClient::RestrictReplySize(int64_t ASize) noexcept
{
    if (FReplyLimit <= 0 || ASize < FReplyLimit)
        FReplyLimit = ASize;
}

void TixTcpCommandClient::WaitResponse(const TixResponseCodes& AOkResponses)
{
    FResponse->Clear();
    FLastLineOpen = false;
    FInBody = false;
    FReplyBytes = 0;
    FReplyLimit = FMaxReplySize;
    WaitForResponse(0, AOkResponses);
    if (!FLastLineOpen)
        FReplyPending = false; // a multi-line wait sets it again for the body
    DoReceiveResponse(*FResponse);
}

void TixTcpCommandClient::WaitMultipleLines(int64_t ATotalBytes)
{
    TixTcpClientConnection& connection = *GetConnection();
    RunExchange([&] {
        TProgressScope progress(connection, [this](TObject*, int64_t ABytesProceed, int64_t ATotal) {
            ConnectionProgress(ABytesProceed, ATotal);
        });
        FReplyPending = true;
        FInBody = true;
        if (ATotalBytes > 0)
            connection.InitProgress(ReceivedSize(), ATotalBytes);
        else
            connection.InitProgress(0, 0);
        CollectMultipleLines();
        FReplyPending = false;
    });
    if (ATotalBytes > 0)
        DoProgress(ATotalBytes, ATotalBytes);
}

void TixTcpCommandClient::CollectMultipleLines()
{
    if (!FResponse->IsEmpty())
        FResponse->Delete(0); // the status line
    // The terminator may have come with the status line. When the read that brought the status
    // line ended inside a line, the reads that complete it still belong to the status line's
    // batch: a terminator among them ends the reply as one that came with the status line.
    int32_t terminator = FindTerminatorLine(0);
    while (terminator < 0 && FLastLineOpen)
    {
        const int32_t searched = CompleteLineCount();
        FLastLineOpen = ReceiveResponseLines(true);
        CheckReplyLimits();
        terminator = FindTerminatorLine(searched);
    }
    if (terminator < 0)
        terminator = WaitForResponse(0, TerminatorOnly);
    // Lines after the terminator (which a POP3 server never sends unasked) are dropped with it,
    // so that they are taken neither for body lines nor for the reply to the next command.
    while (FResponse->Count() > terminator)
        FResponse->Delete(FResponse->Count() - 1);
    FLastLineOpen = false;
    UnstuffDots(*FResponse);
}

int32_t TixTcpCommandClient::FindTerminatorLine(int32_t AFrom) const
{
    for (int32_t i = AFrom; i < CompleteLineCount(); ++i)
        if ((*FResponse)[i] == ".")
            return i;
    return -1;
}

int64_t TixTcpCommandClient::ReceivedSize() const noexcept
{
    // Each complete line came with its line end; an open one has none yet.
    return GetStringsSize(*FResponse) - (FLastLineOpen ? 2 : 0);
}

void TixTcpCommandClient::ConnectionProgress(int64_t ABytesProceed, int64_t ATotalBytes)
{
    // Without an announced total there is nothing to report, not even after a read that
    // brought no bytes (a handler dividing by the total must never see 0).
    if (ATotalBytes > 0 && ABytesProceed <= ATotalBytes)
        DoProgress(ABytesProceed, ATotalBytes);
}

int32_t TixTcpCommandClient::GetResponseCode(const std::string& AResponse)
{
    int32_t code = 0;
    DoGetResponseCode(AResponse, code);
    return code;
}

void TixTcpCommandClient::GetCommandCharSet(const std::string&, std::string& ACharSet)
{
    ACharSet = FCharSet;
}

void TixTcpCommandClient::GetResponseCharSet(TStream&, std::string& ACharSet)
{
    ACharSet = FCharSet;
}

// ---- Session -----------------------------------------------------------------------------

void TixTcpCommandClient::OpenSession() {}

void TixTcpCommandClient::CloseSession() {}

void TixTcpCommandClient::InternalOpen()
{
    TixTcpClientTls::InternalOpen();
    OpenSession();
}

void TixTcpCommandClient::InternalClose(bool ANotify)
{
    if (IsActive() && !GetInProgress())
    {
        try
        {
            CloseSession();
        }
        catch (...) // the transport is closed whatever the goodbye did
        {
            TixTcpClientTls::InternalClose(ANotify);
            throw;
        }
    }
    TixTcpClientTls::InternalClose(ANotify);
}

void TixTcpCommandClient::CleanUp()
{
    FResponse->Clear();
    TixTcpClientTls::CleanUp();
}

// ---- Notifications -----------------------------------------------------------------------

void TixTcpCommandClient::DoSendCommand(const std::string& AText)
{
    CallEvent(OnSendCommand, this, AText);
}

void TixTcpCommandClient::DoReceiveResponse(TStrings& AList)
{
    CallEvent(OnReceiveResponse, this, AList);
}

void TixTcpCommandClient::DoProgress(int64_t ABytesProceed, int64_t ATotalBytes)
{
    CallEvent(OnProgress, this, ABytesProceed, ATotalBytes);
}

void TixTcpCommandClient::DoGetResponseCode(const std::string& AResponse, int32_t& AResponseCode)
{
    CallEvent(OnGetResponseCode, this, AResponse, AResponseCode);
}

const TPropertyTable& TixTcpCommandClient::GetPublishedProperties() const
{
    using C = TixTcpCommandClient;
    static const TPropertyTable table("TixTcpCommandClient", &TixTcpClientTls::GetPublishedProperties(),
        {
            Published<&C::GetUserName, &C::SetUserName>("UserName", ""),
            Published<&C::GetPassword, &C::SetPassword>("Password", ""),
            Published<&C::GetAuthorization, &C::SetAuthorization>("Authorization", ""),
            Published<&C::GetCharSet, &C::SetCharSet>("CharSet", ""),
            Published<&C::GetMaxLineLength, &C::SetMaxLineLength>("MaxLineLength", DefaultMaxLineLength),
            Published<&C::GetMaxBodyLineLength, &C::SetMaxBodyLineLength>("MaxBodyLineLength", DefaultMaxBodyLineLength),
            Published<&C::GetMaxReplySize, &C::SetMaxReplySize>("MaxReplySize", 0),
        });
    return table;
}

} // namespace ix
