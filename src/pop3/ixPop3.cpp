#include "pop3/ixPop3.h"
#include "core/ixProperties.h"

#include "crypto/ixCryptHash.h"
#include "crypto/ixCryptMac.h"
#include "message/ixEncoder.h"
#include "message/ixMailMessage.h"
#include "pop3/ixSspiAuth.h"
#include "util/ixSecret.h"
#include "util/ixUtils.h"

#include <memory>
#include <string_view>

namespace ix {

namespace {

constexpr TixCharSet WordDelimiters{' '};

const TixResponseCodes AcceptOk{TixPop3::ReplyOk};
const TixResponseCodes AcceptContinue{TixPop3::ReplyContinue};
const TixResponseCodes AcceptOkOrContinue{TixPop3::ReplyOk, TixPop3::ReplyContinue};
const TixResponseCodes AcceptOkOrError{TixPop3::ReplyOk, TixPop3::ReplyError};

/// The text of a continuation reply after its "+ " (the line end stays for the decoder).
std::string ContinuationText(const TStrings& AResponse)
{
    const std::string text = AResponse.GetText();
    return text.size() > 2 ? text.substr(2) : std::string();
}

[[noreturn]] void RaiseSecureLoginError()
{
    throw EixTcpClientError("Unable to logon to the server using Secure Password Authentication",
        TcpClientErrorSecureLogon);
}

/// Room a RETR reply may take beyond twice the listed size: status line, terminator.
constexpr int64_t ListSizeSlack = 64 * 1024;

/// The line trimmed of blanks and control characters is "+" (a bare continuation).
bool IsBarePlus(std::string_view ALine)
{
    return Trim(ALine) == "+";
}

/// The APOP time stamp of a greeting: from the first "<" to the first ">", when ">" follows.
std::string ExtractTimeStamp(const std::string& AGreeting)
{
    const size_t open = AGreeting.find('<');
    const size_t close = AGreeting.find('>');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return {};
    return AGreeting.substr(open, close - open + 1);
}

/// Cuts everything up to and including the first blank, keeping at most 100 characters.
std::string CutFirstWord(std::string_view AText)
{
    return Copy(AText, static_cast<int64_t>(Pos(" ", AText)) + 1, 100);
}

/// Removes the first occurrence of AChar, when there is one.
void RemoveFirst(std::string& AText, char AChar)
{
    if (const size_t at = AText.find(AChar); at != std::string::npos)
        AText.erase(at, 1);
}

} // namespace

TixPop3::TixPop3(TComponent* AOwner)
    : TixCustomMail(AOwner)
{
    SetPort(DefaultPort);
}

TixPop3::~TixPop3()
{
    Destroying();
    try
    {
        Close();
    }
    catch (...) // a destructor reports nothing; the transport is released in any case
    {
    }
}

void TixPop3::SetLimitRetrieveToListSize(bool AValue)
{
    if (AssignIfChanged(FLimitRetrieveToListSize, AValue))
        Changed();
}

int32_t TixPop3::GetDefaultPort()
{
    return DefaultPort;
}

// ---- Session -----------------------------------------------------------------------------

void TixPop3::OpenSession()
{
    FMessageCount = -1;
    FMailBoxSize = -1;
    WaitResponse(AcceptOk);
    FTimeStamp = ExtractTimeStamp(GetResponse().GetText());
    StartTlsIfNeeded();
    if (GetUseSasl())
    {
        Authenticate();
        return;
    }
    SendCommandSync("USER %s", AcceptOk, {GetUserName()});
    SendSecretCommandSync(TSecretString("PASS ", GetPassword()), AcceptOk);
}

// ---- Secure login ----------------------------------------------------------------------------

void TixPop3::Authenticate()
{
    if (!GetAuthorization().empty())
    {
        LoginXOAuth2();
        return;
    }
    SendCommandSync("AUTH", AcceptOkOrError);
    if (GetLastResponseCode() == ReplyOk)
    {
        WaitMultipleLines(0);
        const auto listed = [this](std::string_view AName) {
            const TStrings& lines = GetResponse();
            for (int32_t i = 0; i < lines.Count(); ++i)
                if (SameText(lines[i], AName))
                    return true;
            return false;
        };
        if (listed("NTLM"))
        {
            LoginNtlm();
            return;
        }
        if (listed("CRAM-MD5"))
        {
            LoginCramMd5();
            return;
        }
    }
    if (GetSaslOnly())
        RaiseSecureLoginError();
    LoginApop();
}

void TixPop3::LoginXOAuth2()
{
    SendCommandSync("AUTH %s", AcceptContinue, {std::string("XOAUTH2")});
    TSecretString line;
    line.Text() = GetXOAuth2String(); // its buffer moves here
    SendSecretCommandSync(line, AcceptOk);
}

void TixPop3::LoginCramMd5()
{
    SendCommandSync("AUTH CRAM-MD5", AcceptOkOrContinue);
    std::string challenge = TixEncoder::DecodeWith(cmBase64, ContinuationText(GetResponse()));
    TSecretString digest;
    digest.Text() = HmacMd5(challenge, GetPassword());
    const TSecretString response(GetUserName() + " ", digest.Text());
    TSecretString line;
    TixEncoder::EncodeSecretLine(response.Text(), line);
    SendSecretCommandSync(line, AcceptOk);
}

void TixPop3::LoginApop()
{
    std::string secret = GetTimeStamp() + GetPassword();
    std::string digest = GetTimeStamp().empty() ? std::string() : Md5Hex(secret);
    WipeString(secret);
    // With the time stamp, the digest lets anyone who sees it try passwords offline: it is kept
    // like the password.
    const TSecretString line("APOP " + GetUserName() + " ", digest);
    WipeString(digest);
    SendSecretCommandSync(line, AcceptOk);
}

void TixPop3::LoginNtlm()
{
    SendCommandSync("AUTH NTLM", AcceptOkOrContinue);
    TixNtAuthClientSspi context;
    TMemoryStream buffer;
    // The last token written into the buffer is the AUTHENTICATE message: wiped on every way out.
    struct TWipeBuffer
    {
        TMemoryStream& Stream;
        ~TWipeBuffer() { WipeStream(Stream); }
    } const wipeBuffer{buffer};
    std::unique_ptr<TixAuthIdentity> identity;
    if (!GetUserName().empty())
        identity = std::make_unique<TixAuthIdentity>(GetUserName(), GetPassword());
    while (!context.GenChallenge(os::NTLMSP_NAME_A, buffer, GetServer(), identity.get()))
    {
        SendNtlmToken(buffer.View(), AcceptContinue);
        buffer.SetSize(0);
        TixEncoder::DecodeWith(cmBase64, ContinuationText(GetResponse()), buffer);
        buffer.SetPosition(0);
        // An empty token would start the exchange over, and a server could keep it going
        // round for ever.
        if (buffer.GetSize() == 0)
            RaiseSspiError(os::SEC_E_INVALID_TOKEN);
    }
    if (buffer.GetSize() > 0)
        SendNtlmToken(buffer.View(), AcceptOk);
}

void TixPop3::SendNtlmToken(std::string_view AToken, const TixResponseCodes& AOkResponses)
{
    TSecretString line;
    TixEncoder::EncodeSecretLine(AToken, line);
    SendSecretCommandSync(line, AOkResponses);
}

void TixPop3::StartTls()
{
    SendCommandSync("STLS", AcceptOk);
    TixCustomMail::StartTls();
}

void TixPop3::CloseSession()
{
    SendSilentCommand("QUIT", AcceptOk);
}

void TixPop3::KeepAliveTick()
{
    // The tick arrives from a wait that services window messages; a running exchange is left
    // alone and the next period tries again.
    if (!GetInProgress())
        Noop();
}

// ---- Mailbox commands ----------------------------------------------------------------------

int32_t TixPop3::GetMessageCount()
{
    if (FMessageCount < 0)
        GetMailBoxInfo();
    return FMessageCount;
}

void TixPop3::GetMailBoxInfo()
{
    SendCommandSync("STAT", AcceptOk);
    const std::string text = GetResponse().GetText();
    if (WordCount(text, WordDelimiters) != 3)
    {
        FMessageCount = -1;
        FMailBoxSize = -1;
        return;
    }
    FMessageCount = StrToIntDef(Trim(ExtractWord(2, text, WordDelimiters)), 0);
    FMailBoxSize = StrToInt64Def(Trim(ExtractWord(3, text, WordDelimiters)), 0);
}

int64_t TixPop3::GetMessageSize(int32_t AIndex)
{
    FMessageNumber = AIndex;
    SendCommandSync("LIST %d", AcceptOk, {AIndex});
    std::string text = GetResponse().GetText();
    RemoveFirst(text, '\n');
    RemoveFirst(text, '\r');
    text = CutFirstWord(CutFirstWord(text)); // "+OK n size": the size remains
    return StrToInt64Def(text, 0);
}

std::string TixPop3::GetUidl(int32_t AIndex)
{
    SendCommandSync("UIDL %d", AcceptOk, {AIndex});
    const std::string text = Trim(GetResponse().GetText());
    if (WordCount(text, WordDelimiters) != 3)
        return {};
    return ExtractWord(3, text, WordDelimiters);
}

void TixPop3::RetrieveHeader(int32_t AIndex, TixMailMessage* AMessage)
{
    FMessageNumber = AIndex;
    SendCommandSync("TOP %d 0", AcceptOk, {AIndex});
    WaitMultipleLines(0);
    if (AMessage != nullptr)
        AMessage->LoadHeader(GetResponse());
}

void TixPop3::Retrieve(int32_t AIndex, TixMailMessage* AMessage)
{
    FMessageNumber = AIndex;
    const int64_t size = OnProgress || FLimitRetrieveToListSize ? GetMessageSize(AIndex) : 0;
    SendCommandSync("RETR %d", AcceptOk, {AIndex});
    if (FLimitRetrieveToListSize && size > 0)
        RestrictReplySize(2 * size + ListSizeSlack);
    WaitMultipleLines(OnProgress ? size : 0);
    if (AMessage != nullptr)
        AMessage->TakeMessage(GetResponse()); // the reply's lines are freed as the bodies take them
}

void TixPop3::Delete(int32_t AIndex)
{
    FMessageNumber = AIndex;
    SendCommandSync("DELE %d", AcceptOk, {AIndex});
    if (FMessageCount >= 0)
        --FMessageCount; // 0 becomes -1: unknown, fetched again when asked for
}

void TixPop3::Noop()
{
    SendCommandSync("NOOP", AcceptOk);
}

// ---- Reply codes ---------------------------------------------------------------------------

int32_t TixPop3::GetResponseCode(const std::string& AResponse)
{
    const int32_t code = TixCustomMail::GetResponseCode(AResponse);
    if (code != 0)
        return code;
    if (AResponse.starts_with("+ ") || IsBarePlus(AResponse))
        return ReplyContinue;
    if (AResponse.starts_with("+OK"))
        return ReplyOk;
    if (AResponse.starts_with("-ERR"))
        return ReplyError;
    if (AResponse == ".")
        return ReplyTerminator;
    return 0;
}

const TPropertyTable& TixPop3::GetPublishedProperties() const
{
    using C = TixPop3;
    static const TPropertyTable table("TixPop3", &TixCustomMail::GetPublishedProperties(),
        {
            Published<&C::GetPort, &C::SetPort>("Port", DefaultPort),
            Published<&C::GetLimitRetrieveToListSize, &C::SetLimitRetrieveToListSize>("LimitRetrieveToListSize", false),
            Published<&C::GetPipelineDepth, &C::SetPipelineDepth>("PipelineDepth", DefaultPipelineDepth),
        });
    return table;
}

} // namespace ix
