#pragma once
// The command/response engine beneath the text-protocol clients: one command line at a time,
// the reply collected into a string list, each reply line classified by a numeric code that the
// protocol subclass chooses, and multi-line replies that end with a line holding a single ".".
//
// A normal exchange is SendCommand, WaitResponse, and for a multi-line reply WaitMultipleLines;
// SendCommandSync bundles the first two and marks the client InProgress meanwhile.

#include "core/ixErrorCodes.h"
#include "core/ixStrings.h"
#include "core/ixSysUtils.h"
#include "tls/ixTcpClientTls.h"
#include "util/ixSecret.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ix {

class TStream;

/// The reply codes a caller accepts. Code 0 never matches; a 0 entry ends the list early.
using TixResponseCodes = std::vector<int32_t>;

/// A reply's lines (OnReceiveResponse); the handler may read and change them.
using TixTcpListEvent = std::function<void(TObject* Sender, TStrings& AList)>;
/// A command line as sent (OnSendCommand).
using TixTcpTextEvent = std::function<void(TObject* Sender, const std::string& AText)>;
/// Sets AResponseCode, the code of the reply line AResponse (OnGetResponseCode); 0 leaves it
/// uncoded.
using TixTcpResponseCodeEvent =
    std::function<void(TObject* Sender, const std::string& AResponse, int32_t& AResponseCode)>;

/// Text of EixTcpClientError CommandLineBreakCode, for a command text that holds a CR or LF.
inline constexpr std::string_view CommandLineBreakError = "The command contains a line break";

/// True when ACode is in AOkResponses before the first 0 entry.
bool IsOkResponse(int32_t ACode, const TixResponseCodes& AOkResponses) noexcept;

/// The generic command/response client: credentials, character set, reply lines and codes.
///
/// A reply that crosses MaxLineLength, MaxBodyLineLength or MaxReplySize raises
/// EixTcpClientError ReplyLineTooLongCode or ReplyTooLargeCode and closes the connection. So
/// does every failure inside an exchange after the command was sent and before its reply was
/// read to its end (a time-out, a transport error): the reply stream can no longer be trusted,
/// so the connection is closed without the protocol's goodbye and the failure passes on.
class TixTcpCommandClient : public TixTcpClientTls
{
public:
    /// Default of MaxLineLength: 1 MB.
    static constexpr int64_t DefaultMaxLineLength = int64_t{1} << 20;
    /// Default of MaxBodyLineLength: 256 MB.
    static constexpr int64_t DefaultMaxBodyLineLength = int64_t{256} << 20;

    /// A client that is not connected, owned by AOwner when one is given.
    explicit TixTcpCommandClient(TComponent* AOwner = nullptr);
    /// Closes the session (the subclass's CloseSession has run in the subclass's destructor).
    ~TixTcpCommandClient() override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    // ---- Published properties; setters store only a change and then call Changed.

    /// Login name.
    const std::string& GetUserName() const noexcept { return FUserName; }
    void SetUserName(const std::string& AValue);
    /// Login password.
    const std::string& GetPassword() const noexcept { return FPassword; }
    void SetPassword(const std::string& AValue);
    /// OAuth access token for SASL XOAUTH2.
    const std::string& GetAuthorization() const noexcept { return FAuthorization; }
    virtual void SetAuthorization(const std::string& AValue);
    /// Character set of commands and replies; empty: bytes pass unconverted.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue);
    /// The most bytes a single-line reply may take: its status line and any lines without a
    /// code before it (default DefaultMaxLineLength, 1 MB; 0 or less: no limit).
    int64_t GetMaxLineLength() const noexcept { return FMaxLineLength; }
    void SetMaxLineLength(int64_t AValue);
    /// The longest line of a multi-line reply body (default DefaultMaxBodyLineLength, 256 MB;
    /// 0 or less: no limit).
    int64_t GetMaxBodyLineLength() const noexcept { return FMaxBodyLineLength; }
    void SetMaxBodyLineLength(int64_t AValue);
    /// The most bytes of one reply, status line and body (default 0; 0 or less: no limit).
    int64_t GetMaxReplySize() const noexcept { return FMaxReplySize; }
    void SetMaxReplySize(int64_t AValue);

    // ---- Reply state

    /// The lines of the current reply, without line ends.
    TStrings& GetResponse() const noexcept { return *FResponse; }
    /// The last non-zero code seen while scanning the reply; 0 at the start of every wait.
    int32_t GetLastResponseCode() const noexcept { return FLastResponseCode; }

    // ---- Operations

    /// Writes ACommand followed by CR LF, unchanged. Raises EixSocketError "The connection to
    /// the server is not active" (-6) when not active, and EixTcpClientError
    /// CommandLineBreakError (CommandLineBreakCode), sending nothing, when ACommand holds a CR or LF.
    void SendCommand(const std::string& ACommand);
    /// SendCommand, then WaitResponse, with InProgress set meanwhile.
    void SendCommandSync(const std::string& ACommand, const TixResponseCodes& AOkResponses);
    /// As above with the command made by Format from AFormat ("%s", "%d") and AArgs.
    void SendCommandSync(std::string_view AFormat, const TixResponseCodes& AOkResponses,
        const std::vector<TFormatArg>& AArgs);
    /// SendCommandSync for a line that carries a secret (a password, a token, an answer to AUTH):
    /// the copies that the way to the socket makes of it are zeroed before they are released.
    void SendSecretCommandSync(const TSecretString& ACommand, const TixResponseCodes& AOkResponses);
    /// SendCommandSync after an active check; EixSocketError (and descendants) and EixSSPIError
    /// raised by the exchange are swallowed, other exceptions pass.
    void SendSilentCommand(const std::string& ACommand, const TixResponseCodes& AOkResponses);

    /// Clears Response and reads until a line with a code in AOkResponses arrives; fires
    /// OnReceiveResponse then. Raises EixTcpClientError (the trimmed reply, its last code) when
    /// coded lines arrived and none was accepted.
    virtual void WaitResponse(const TixResponseCodes& AOkResponses);
    /// After WaitResponse accepted a status line: reads the rest of a multi-line reply. Leaves
    /// in Response the body lines only (no status line, no terminator, dots un-stuffed).
    /// ATotalBytes > 0 reports progress against it, ending with a call at 100 %.
    virtual void WaitMultipleLines(int64_t ATotalBytes);
    /// The code of one reply line: here what OnGetResponseCode gives (0 without a handler).
    virtual int32_t GetResponseCode(const std::string& AResponse);

    // ---- Events

    /// After every completed single-line wait, with Response.
    TixTcpListEvent OnReceiveResponse;
    /// After every command line is written, with the line and its CR LF. A line that carries a
    /// secret is shown with the secret as "****" ("PASS ****", "APOP user ****", "****" for an
    /// answer to AUTH); the server receives the real line.
    TixTcpTextEvent OnSendCommand;
    /// Progress of a multi-line reply.
    TixProgressEvent OnProgress;
    /// Lets the application classify a line first.
    TixTcpResponseCodeEvent OnGetResponseCode;

protected:
    // Virtual operations in their declared order (after those of the TLS client).

    /// Protocol start once the connection (and implicit TLS) is up. Empty here.
    virtual void OpenSession();
    /// Protocol end before the connection closes. Empty here.
    virtual void CloseSession();
    /// SendCommand, then WaitResponse.
    virtual void InternalSendCommandSync(const std::string& ACommand, const TixResponseCodes& AOkResponses);
    /// The character set for sending ACommand: CharSet.
    virtual void GetCommandCharSet(const std::string& ACommand, std::string& ACharSet);
    /// The character set for decoding AData: CharSet.
    virtual void GetResponseCharSet(TStream& AData, std::string& ACharSet);

    /// Connects, then OpenSession.
    void InternalOpen() override;
    /// CloseSession when active and no exchange runs, then the transport's close.
    void InternalClose(bool ANotify) override;
    /// Releases the reply lines, then the inherited clean-up.
    void CleanUp() override;
    /// Bounds the rest of the current reply to ASize bytes in all (with what arrived so far),
    /// below MaxReplySize when that is set.
    void RestrictReplySize(int64_t ASize) noexcept;

    /// Fires OnSendCommand with this client as Sender.
    virtual void DoSendCommand(const std::string& AText);
    /// Fires OnReceiveResponse with this client as Sender.
    virtual void DoReceiveResponse(TStrings& AList);
    /// Fires OnProgress with this client as Sender (bytes of the reply body so far, of ATotalBytes).
    virtual void DoProgress(int64_t ABytesProceed, int64_t ATotalBytes);
    /// Fires OnGetResponseCode with this client as Sender; AResponseCode keeps its value without
    /// a handler.
    virtual void DoGetResponseCode(const std::string& AResponse, int32_t& AResponseCode);

private:
    /// Reads one batch into Response; true when its last line is still incomplete.
    bool ReceiveResponseLines(bool AAddToLastLine);
    /// Reads until a line from AStartIndex on is accepted; returns its index (-1: nothing
    /// arrived and nothing was asked for). The last line may be left open behind it.
    int32_t WaitForResponse(int32_t AStartIndex, const TixResponseCodes& AOkResponses);
    /// Classifies the lines AFrom to ATo - 1; the index of the first accepted one, else -1.
    /// ALastCode follows the last non-zero code.
    int32_t FindResponseCode(int32_t AFrom, int32_t ATo, const TixResponseCodes& AOkResponses, int32_t& ALastCode);
    /// The lines of Response that are complete (all but an open last line).
    int32_t CompleteLineCount() const noexcept;
    /// The bytes that Response holds, line ends included.
    int64_t ReceivedSize() const noexcept;
    /// The first complete line from AFrom on that is exactly "."; -1 when none.
    int32_t FindTerminatorLine(int32_t AFrom) const;
    /// Reads until the terminator line, leaving the body lines in Response.
    void CollectMultipleLines();
    void ConnectionProgress(int64_t ABytesProceed, int64_t ATotalBytes);
    [[noreturn]] void RaiseRefusedReply();
    /// Stores a changed AValue in ASecret after zeroing the old text; true when it changed.
    static bool AssignSecret(std::string& ASecret, const std::string& AValue);
    /// Raises (and closes) when the reply crossed one of its limits.
    void CheckReplyLimits();
    [[noreturn]] void RaiseLimitError(const std::string& AMessage, int32_t ACode);
    /// Runs AExchange with InProgress set; a failure while a reply is pending closes the
    /// connection before it passes on.
    template <typename TExchange>
    void RunExchange(TExchange&& AExchange);

    std::string FUserName;
    std::string FPassword;
    std::unique_ptr<TStringList> FResponse;
    int32_t FLastResponseCode = 0;
    /// The last line of Response still waits for the rest of its bytes (and its line end).
    bool FLastLineOpen = false;
    bool FAfterCR = false; // the last read ended in a CR
    /// A command was sent and its reply is not yet read to its end.
    bool FReplyPending = false;
    /// The next line SendCommand writes carries a secret.
    bool FSecretCommand = false;
    /// The length of that line's public start, which OnSendCommand shows.
    size_t FSecretPublicLength = 0;
    /// The wait collects the body of a multi-line reply.
    bool FInBody = false;
    /// Bytes received for the current reply, and the most it may take (0: no limit).
    int64_t FReplyBytes = 0;
    int64_t FReplyLimit = 0;
    int64_t FMaxLineLength = DefaultMaxLineLength;
    int64_t FMaxBodyLineLength = DefaultMaxBodyLineLength;
    int64_t FMaxReplySize = 0;
    std::string FAuthorization;
    std::string FCharSet;
};

} // namespace ix
