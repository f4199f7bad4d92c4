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

using TixTcpListEvent = std::function<void(TObject* Sender, TStrings& AList)>;
using TixTcpTextEvent = std::function<void(TObject* Sender, const std::string& AText)>;
using TixTcpResponseCodeEvent =
    std::function<void(TObject* Sender, const std::string& AResponse, int32_t& AResponseCode)>;

/// Text of EixTcpClientError CommandLineBreakCode, for a command text that holds a CR or LF.
inline constexpr std::string_view CommandLineBreakError = "The command contains a line break";

/// True when ACode is in AOkResponses before the first 0 entry.
bool IsOkResponse(int32_t ACode, const TixResponseCodes& AOkResponses) noexcept;

/// The generic command/response client: credentials, character set, reply lines and codes.
class TixTcpCommandClient : public TixTcpClientTls
{
public:
    explicit TixTcpCommandClient(TComponent* AOwner = nullptr);
    /// Closes the session (the subclass's CloseSession has run in the subclass's destructor).
    ~TixTcpCommandClient() override;

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
    /// After every command line is written, with the line and its CR LF.
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

    virtual void DoSendCommand(const std::string& AText);
    virtual void DoReceiveResponse(TStrings& AList);
    virtual void DoProgress(int64_t ABytesProceed, int64_t ATotalBytes);
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

    std::string FUserName;
    std::string FPassword;
    std::unique_ptr<TStringList> FResponse;
    int32_t FLastResponseCode = 0;
    /// The last line of Response still waits for the rest of its bytes (and its line end).
    bool FLastLineOpen = false;
    std::string FAuthorization;
    std::string FCharSet;
};

} // namespace ix
