#pragma once
// The POP3 client (RFC 1939, STLS of RFC 2595): the session from the greeting to QUIT and the
// mailbox commands. Every operation runs synchronously on the caller's thread.

#include "pop3/ixMC.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ix {

class TixMailMessage;

/// One message of a mailbox listing (TixPop3::ListMailBox).
struct TixPop3ListItem
{
    /// The message number.
    int32_t Number = 0;
    /// The size in octets as "LIST" gave it.
    int64_t Size = 0;
    /// The unique id from "UIDL"; empty when the server offers none.
    std::string Uid;
    /// The header lines from "TOP n 0" (dots un-stuffed), when HeaderRead.
    std::vector<std::string> Header;
    /// The header arrived.
    bool HeaderRead = false;
    /// The server's refusal of "TOP" for this message (trimmed); empty otherwise.
    std::string HeaderError;
};

/// The POP3 client component.
class TixPop3 : public TixCustomMail
{
public:
    /// The POP3 port.
    static constexpr int32_t DefaultPort = 110;

    // Reply codes (GetResponseCode).
    static constexpr int32_t ReplyTerminator = 1; ///< a line that is exactly "."
    static constexpr int32_t ReplyOk = 10;        ///< "+OK ..."
    static constexpr int32_t ReplyError = 20;     ///< "-ERR ..."
    static constexpr int32_t ReplyContinue = 30;  ///< "+ ..." or "+"

    /// A client with the defaults: port 110, no TLS, USER/PASS login.
    explicit TixPop3(TComponent* AOwner = nullptr);
    /// Closes the session (QUIT first when one is open).
    ~TixPop3() override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    /// The number of messages: the cached value, or STAT when it is unknown (still -1 when the
    /// reply cannot be read).
    int32_t GetMessageCount();
    /// The mailbox size in octets from the last STAT; -1 when unknown.
    int64_t GetMailBoxSize() const noexcept { return FMailBoxSize; }
    /// The number that the last RETR, TOP, DELE or LIST carried; -1 before the first.
    int32_t GetMessageNumber() const noexcept { return FMessageNumber; }
    /// The APOP time stamp of the greeting, brackets included; empty when it had none.
    const std::string& GetTimeStamp() const noexcept { return FTimeStamp; }

    /// When true, Retrieve asks for the message's size first ("LIST n") and refuses a reply
    /// larger than twice that size plus 64 KB (room for dot-stuffing and for servers that count
    /// bare LF line ends), with ReplyTooLargeCode. Default false.
    bool GetLimitRetrieveToListSize() const noexcept { return FLimitRetrieveToListSize; }
    void SetLimitRetrieveToListSize(bool AValue);

    /// "STAT": refreshes MessageCount and MailBoxSize.
    void GetMailBoxInfo();
    /// "TOP n 0": the header of message AIndex, loaded into AMessage when given.
    void RetrieveHeader(int32_t AIndex, TixMailMessage* AMessage);
    /// "RETR n": message AIndex, loaded into AMessage when given. With an OnProgress handler
    /// the size is asked first ("LIST n") and progress is reported against it; see also
    /// LimitRetrieveToListSize.
    void Retrieve(int32_t AIndex, TixMailMessage* AMessage);
    /// "DELE n"; a known MessageCount drops by one.
    void Delete(int32_t AIndex);
    /// "LIST n": the size of message AIndex in octets; 0 when the reply cannot be read.
    int64_t GetMessageSize(int32_t AIndex);
    /// "UIDL n": the unique id of message AIndex; empty when the reply cannot be read.
    std::string GetUidl(int32_t AIndex);
    /// "NOOP".
    void Noop();

    /// "CAPA" (RFC 2449): the capability lines into ALines; false (ALines empty) when the
    /// server refuses the command.
    bool GetCapabilities(TStrings& ALines);
    /// Sizes and UIDs of every message from one "LIST" and one "UIDL", and with AWithHeaders
    /// the header of each from "TOP n 0". When "CAPA" lists PIPELINING, up to PipelineDepth TOP
    /// commands are sent ahead of their replies, else one at a time. A refused TOP is noted in
    /// that message's HeaderError; a refused LIST raises.
    std::vector<TixPop3ListItem> ListMailBox(bool AWithHeaders = true);
    /// The most commands ListMailBox keeps in flight on a server with PIPELINING (default
    /// DefaultPipelineDepth; 1 or less: one at a time).
    int32_t GetPipelineDepth() const noexcept { return FPipelineDepth; }
    void SetPipelineDepth(int32_t AValue);
    /// The default of PipelineDepth.
    static constexpr int32_t DefaultPipelineDepth = 64;

    /// The handler's code, else 30 ("+ " or "+"), 10 ("+OK"), 20 ("-ERR"), 1 ("."), 0.
    int32_t GetResponseCode(const std::string& AResponse) override;
    /// "STLS", then the switch of the connection to TLS.
    void StartTls() override;

protected:
    int32_t GetDefaultPort() override;
    /// "NOOP", skipped while an exchange runs.
    void KeepAliveTick() override;
    /// Greeting, APOP time stamp, STLS where asked, login.
    void OpenSession() override;
    /// "QUIT"; its failures are swallowed.
    void CloseSession() override;
    /// The secure login: XOAUTH2 when Authorization is set; else the mechanisms that "AUTH"
    /// lists (NTLM, then CRAM-MD5), else APOP. With SaslOnly and no usable mechanism, raises
    /// EixTcpClientError "Unable to logon to the server using Secure Password Authentication"
    /// (-400). A method that fails raises its error; no other method is tried.
    virtual void Authenticate();
    /// "APOP user digest" with the MD5 of TimeStamp and Password.
    void LoginApop();
    /// "AUTH CRAM-MD5" (RFC 2195): the user and the HMAC-MD5 of the server's challenge.
    void LoginCramMd5();
    /// "AUTH NTLM" through the security interface's NTLM package, as UserName (the logged-on
    /// user when it is empty).
    void LoginNtlm();
    /// "AUTH XOAUTH2" with GetXOAuth2String.
    void LoginXOAuth2();

private:
    /// "TOP n 0" for every item, ADepth commands in flight at most.
    void ReadHeaders(std::vector<TixPop3ListItem>& AItems, int32_t ADepth);
    /// Writes "TOP n 0" for AItems[AFrom] to AItems[ATo - 1] in one write.
    void SendTopCommands(const std::vector<TixPop3ListItem>& AItems, size_t AFrom, size_t ATo);
    /// One NTLM message in base64 as a line that carries a secret.
    void SendNtlmToken(std::string_view AToken, const TixResponseCodes& AOkResponses);

    int32_t FPipelineDepth = DefaultPipelineDepth;
    int32_t FMessageCount = -1;
    int64_t FMailBoxSize = -1;
    int32_t FMessageNumber = -1;
    std::string FTimeStamp;
    bool FLimitRetrieveToListSize = false;
};

} // namespace ix
