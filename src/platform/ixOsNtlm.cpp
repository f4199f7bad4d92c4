// The security interface's "NTLM" package, client side: NEGOTIATE, CHALLENGE and AUTHENTICATE
// messages with an NTLMv2 response and key exchange (MS-NLMP). MD4 and RC4 are written here:
// OpenSSL 3 keeps both in its legacy provider only.
#include "platform/internal/ixOsNtlm.h"

#include "platform/internal/ixOsSecurityPackage.h"
#include "platform/ixOsKernel.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
#include <memory>
#include <string_view>

namespace ix::os::internal {

namespace {

constexpr std::array<uint8_t, 8> Signature{'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr DWORD NtLmNegotiate = 1;
constexpr DWORD NtLmChallenge = 2;
constexpr DWORD NtLmAuthenticate = 3;

constexpr uint16_t MsvAvEOL = 0;
/// The longest target information whose NTLMv2 response (16 + 28 + info + 4 bytes) still fits
/// a 16-bit length field.
constexpr size_t MaxTargetInfo = 0xFFFF - 48;
/// The longest user or domain name (in characters) the package takes.
constexpr size_t MaxNameLength = 256;
/// A credentials file beyond this size is not a credentials file.
constexpr off_t MaxCredentialsFileSize = 64 * 1024;
constexpr uint16_t MsvAvTimestamp = 7;

/// Product 10.0, build 19041, NTLM revision 15.
constexpr std::array<uint8_t, 8> ClientVersion{10, 0, 0x61, 0x4A, 0, 0, 0, 0x0F};

// ---- little-endian helpers -------------------------------------------------------------------

uint32_t ReadLe(std::span<const uint8_t> ABytes, size_t AAt, size_t ASize)
{
    uint32_t value = 0;
    for (size_t i = 0; i < ASize; ++i)
        value |= static_cast<uint32_t>(ABytes[AAt + i]) << (8 * i);
    return value;
}

void AppendLe(TNtlmBytes& ABytes, uint64_t AValue, size_t ASize)
{
    for (size_t i = 0; i < ASize; ++i)
        ABytes.push_back(static_cast<uint8_t>(AValue >> (8 * i)));
}

void Append(TNtlmBytes& ABytes, std::span<const uint8_t> AMore)
{
    ABytes.insert(ABytes.end(), AMore.begin(), AMore.end());
}

/// Zeroes a buffer that held a secret.
template <typename T>
void Wipe(T& ABuffer) noexcept
{
    OPENSSL_cleanse(ABuffer.data(), ABuffer.size() * sizeof(*ABuffer.data()));
}

// ---- MD4 (RFC 1320) and RC4 ------------------------------------------------------------------

class TMd4
{
public:
    void Update(std::span<const uint8_t> ABytes)
    {
        for (const uint8_t byte : ABytes)
        {
            FBlock[FFill++] = byte;
            ++FLength;
            if (FFill == FBlock.size())
                Transform();
        }
    }

    TNtlmKey Finish()
    {
        const uint64_t bits = FLength * 8;
        const uint8_t pad = 0x80;
        Update({&pad, 1});
        const uint8_t zero = 0;
        while (FFill != 56)
            Update({&zero, 1});
        for (int i = 0; i < 8; ++i)
        {
            const uint8_t byte = static_cast<uint8_t>(bits >> (8 * i));
            Update({&byte, 1});
        }
        TNtlmKey digest{};
        for (size_t i = 0; i < 16; ++i)
            digest[i] = static_cast<uint8_t>(FState[i / 4] >> (8 * (i % 4)));
        Wipe(FBlock);
        Wipe(FState);
        return digest;
    }

private:
    void Transform()
    {
        std::array<uint32_t, 16> x{};
        for (size_t i = 0; i < 16; ++i)
            x[i] = ReadLe(FBlock, 4 * i, 4);
        std::array<uint32_t, 4> v = FState; // a, b, c, d
        const auto f = [](uint32_t AX, uint32_t AY, uint32_t AZ) { return (AX & AY) | (~AX & AZ); };
        const auto g = [](uint32_t AX, uint32_t AY, uint32_t AZ) { return (AX & AY) | (AX & AZ) | (AY & AZ); };
        const auto h = [](uint32_t AX, uint32_t AY, uint32_t AZ) { return AX ^ AY ^ AZ; };
        constexpr std::array<int, 4> shift1{3, 7, 11, 19};
        constexpr std::array<int, 4> shift2{3, 5, 9, 13};
        constexpr std::array<int, 4> shift3{3, 9, 11, 15};
        constexpr std::array<size_t, 16> order3{0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
        // The steps of a round update a, d, c, b in turn, each from the three words after it.
        constexpr std::array<size_t, 4> targets{0, 3, 2, 1};
        const auto round = [&](auto AFunction, uint32_t AConstant, const std::array<int, 4>& AShift, auto AIndex) {
            for (size_t i = 0; i < 16; ++i)
            {
                const size_t t = targets[i % 4];
                const uint32_t mixed = AFunction(v[(t + 1) % 4], v[(t + 2) % 4], v[(t + 3) % 4]);
                v[t] = std::rotl(v[t] + mixed + x[AIndex(i)] + AConstant, AShift[i % 4]);
            }
        };
        round(f, 0, shift1, [](size_t AI) { return AI; });
        round(g, 0x5A827999, shift2, [](size_t AI) { return (AI % 4) * 4 + AI / 4; });
        round(h, 0x6ED9EBA1, shift3, [&](size_t AI) { return order3[AI]; });
        for (size_t i = 0; i < 4; ++i)
            FState[i] += v[i];
        Wipe(v);
        Wipe(x);
        FFill = 0;
    }

    std::array<uint32_t, 4> FState{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    std::array<uint8_t, 64> FBlock{};
    size_t FFill = 0;
    uint64_t FLength = 0;
};

/// ABytes encrypted (or decrypted) with RC4 under AKey.
TNtlmKey Rc4(const TNtlmKey& AKey, const TNtlmKey& ABytes)
{
    std::array<uint8_t, 256> s{};
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<uint8_t>(i);
    uint8_t j = 0;
    for (size_t i = 0; i < s.size(); ++i)
    {
        j = static_cast<uint8_t>(j + s[i] + AKey[i % AKey.size()]);
        std::swap(s[i], s[j]);
    }
    TNtlmKey result{};
    uint8_t i = 0;
    j = 0;
    for (size_t n = 0; n < ABytes.size(); ++n)
    {
        ++i;
        j = static_cast<uint8_t>(j + s[i]);
        std::swap(s[i], s[j]);
        result[n] = ABytes[n] ^ s[static_cast<uint8_t>(s[i] + s[j])];
    }
    Wipe(s);
    return result;
}

TNtlmKey HmacMd5(const TNtlmKey& AKey, std::span<const uint8_t> AData)
{
    TNtlmKey code{};
    unsigned int length = 0;
    HMAC(EVP_md5(), AKey.data(), static_cast<int>(AKey.size()), AData.data(), AData.size(), code.data(), &length);
    return code;
}

// ---- texts -----------------------------------------------------------------------------------

/// AText (ANSI code page) as UTF-16 code units.
std::u16string ToUtf16(const std::string& AText)
{
    if (AText.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(std::max(length, 0)), u'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, AText.data(), static_cast<int>(AText.size()), wide.data(), length);
    return wide;
}

void AppendUtf16Le(TNtlmBytes& ABytes, const std::u16string& AText)
{
    for (const char16_t unit : AText)
        AppendLe(ABytes, unit, 2);
}

/// AText as the message's strings are sent: UTF-16LE, or the 8-bit text (OEM).
TNtlmBytes MessageText(const std::string& AText, bool AUnicode)
{
    TNtlmBytes bytes;
    if (AUnicode)
        AppendUtf16Le(bytes, ToUtf16(AText));
    else
        bytes.assign(AText.begin(), AText.end());
    return bytes;
}

std::u16string UpperCase(std::u16string AText)
{
    for (char16_t& unit : AText)
        if (unit < 0xD800 || unit > 0xDFFF)
            unit = static_cast<char16_t>(std::towupper(static_cast<wint_t>(unit)));
    return AText;
}

// ---- NTLMv2 ----------------------------------------------------------------------------------

/// NTOWFv2: HMAC-MD5 of UPPER(user) + domain in UTF-16LE, keyed with the NT hash.
TNtlmKey ResponseKey(const TNtlmUser& AUser)
{
    TNtlmBytes text;
    AppendUtf16Le(text, UpperCase(ToUtf16(AUser.User)));
    AppendUtf16Le(text, ToUtf16(AUser.Domain));
    const TNtlmKey key = HmacMd5(AUser.NtHash, text);
    Wipe(text);
    return key;
}

/// The client blob ("temp"): version 1, time, client challenge, the server's AV pairs (only
/// their terminator when it sent none).
TNtlmBytes ClientBlob(const TNtlmChallenge& AChallenge, const TNtlmClientValues& AValues)
{
    TNtlmBytes blob{1, 1, 0, 0, 0, 0, 0, 0};
    AppendLe(blob, AChallenge.HasTimestamp ? AChallenge.Timestamp : AValues.Time, 8);
    Append(blob, AValues.ClientChallenge);
    AppendLe(blob, 0, 4);
    if (AChallenge.TargetInfo.empty())
        AppendLe(blob, MsvAvEOL, 4);
    else
        Append(blob, AChallenge.TargetInfo);
    AppendLe(blob, 0, 4);
    return blob;
}

/// The flags of the answer: what both sides offered, the client's own requests, and one
/// character set.
DWORD AnswerFlags(DWORD AChallengeFlags)
{
    DWORD flags = (NtlmClientFlags & AChallengeFlags) | (NtlmClientFlags & NTLMSSP_REQUEST_TARGET);
    if ((flags & NTLMSSP_NEGOTIATE_UNICODE) != 0)
        flags &= ~NTLMSSP_NEGOTIATE_OEM;
    else
        flags |= NTLMSSP_NEGOTIATE_OEM;
    return flags;
}

/// Writes the payload fields (length, length, offset) of AParts behind a header of AHeaderSize,
/// then the parts.
class TPayload
{
public:
    explicit TPayload(size_t AHeaderSize) : FOffset(AHeaderSize) {}
    /// The parts may be responses derived from the password.
    ~TPayload() { Wipe(FData); }
    TPayload(const TPayload&) = delete;
    TPayload& operator=(const TPayload&) = delete;

    void Field(TNtlmBytes& AHeader, const TNtlmBytes& APart)
    {
        AppendLe(AHeader, APart.size(), 2);
        AppendLe(AHeader, APart.size(), 2);
        AppendLe(AHeader, FOffset, 4);
        FOffset += APart.size();
        Append(FData, APart);
    }

    TNtlmBytes& Data() noexcept { return FData; }

private:
    size_t FOffset;
    TNtlmBytes FData;
};

} // namespace

TNtlmKey Md4(std::span<const uint8_t> ABytes)
{
    TMd4 md4;
    md4.Update(ABytes);
    return md4.Finish();
}

TNtlmKey NtlmPasswordHash(const std::string& APassword)
{
    std::u16string wide = ToUtf16(APassword);
    TNtlmBytes bytes;
    AppendUtf16Le(bytes, wide);
    const TNtlmKey hash = Md4(bytes);
    Wipe(wide);
    Wipe(bytes);
    return hash;
}

bool ParseNtlmChallenge(std::span<const uint8_t> AMessage, TNtlmChallenge& AChallenge)
{
    AChallenge = {};
    if (AMessage.size() < 32 || !std::equal(Signature.begin(), Signature.end(), AMessage.begin())
        || ReadLe(AMessage, 8, 4) != NtLmChallenge)
        return false;
    // A field (length, maximum length, offset) must lie inside the message.
    const auto inside = [&](size_t AAt) {
        const uint64_t length = ReadLe(AMessage, AAt, 2);
        const uint64_t offset = ReadLe(AMessage, AAt + 4, 4);
        return length == 0 || offset + length <= AMessage.size();
    };
    if (!inside(12))
        return false;
    AChallenge.Flags = ReadLe(AMessage, 20, 4);
    std::copy_n(AMessage.begin() + 24, 8, AChallenge.ServerChallenge.begin());
    if (AMessage.size() < 48)
        return true; // an older server: no target information
    if (!inside(40))
        return false;
    const size_t length = ReadLe(AMessage, 40, 2);
    const size_t offset = ReadLe(AMessage, 44, 4);
    if (length == 0)
        return true;
    if (length > MaxTargetInfo)
        return false; // the answer's NTLMv2 response could not carry it
    const std::span<const uint8_t> info = AMessage.subspan(offset, length);
    for (size_t at = 0;;)
    {
        if (at + 4 > info.size())
            return false; // no terminator
        const uint16_t id = static_cast<uint16_t>(ReadLe(info, at, 2));
        const size_t size = ReadLe(info, at + 2, 2);
        if (at + 4 + size > info.size())
            return false;
        if (id == MsvAvEOL)
            break;
        if (id == MsvAvTimestamp && size == 8)
        {
            AChallenge.HasTimestamp = true;
            AChallenge.Timestamp = ReadLe(info, at + 4, 4) | (uint64_t{ReadLe(info, at + 8, 4)} << 32);
        }
        at += 4 + size;
    }
    AChallenge.TargetInfo.assign(info.begin(), info.end());
    return true;
}

TNtlmBytes BuildNtlmNegotiate(const std::array<uint8_t, 8>& AVersion)
{
    TNtlmBytes message(Signature.begin(), Signature.end());
    AppendLe(message, NtLmNegotiate, 4);
    AppendLe(message, NtlmClientFlags, 4);
    TPayload payload(40);
    payload.Field(message, {}); // domain
    payload.Field(message, {}); // workstation
    Append(message, AVersion);
    return message;
}

TNtlmBytes BuildNtlmAuthenticate(const TNtlmChallenge& AChallenge, const TNtlmUser& AUser,
    const TNtlmClientValues& AValues)
{
    const DWORD flags = AnswerFlags(AChallenge.Flags);
    const bool unicode = (flags & NTLMSSP_NEGOTIATE_UNICODE) != 0;
    TNtlmKey key = ResponseKey(AUser);

    TNtlmBytes blob = ClientBlob(AChallenge, AValues);
    TNtlmBytes proofInput(AChallenge.ServerChallenge.begin(), AChallenge.ServerChallenge.end());
    Append(proofInput, blob);
    TNtlmKey proof = HmacMd5(key, proofInput);
    TNtlmBytes nt(proof.begin(), proof.end());
    Append(nt, blob);

    // With the server's time stamp the LMv2 response is left out (24 zero bytes).
    TNtlmBytes lm(24, 0);
    if (!AChallenge.HasTimestamp)
    {
        TNtlmBytes lmInput(AChallenge.ServerChallenge.begin(), AChallenge.ServerChallenge.end());
        Append(lmInput, AValues.ClientChallenge);
        TNtlmKey lmProof = HmacMd5(key, lmInput);
        lm.assign(lmProof.begin(), lmProof.end());
        Wipe(lmProof);
        Append(lm, AValues.ClientChallenge);
    }

    TNtlmKey sessionBaseKey = HmacMd5(key, proof);
    TNtlmBytes encryptedKey;
    if ((flags & NTLMSSP_NEGOTIATE_KEY_EXCH) != 0)
    {
        TNtlmKey encrypted = Rc4(sessionBaseKey, AValues.SessionKey);
        encryptedKey.assign(encrypted.begin(), encrypted.end());
        Wipe(encrypted);
    }
    Wipe(key);
    Wipe(sessionBaseKey);
    Wipe(proof);

    TNtlmBytes message(Signature.begin(), Signature.end());
    AppendLe(message, NtLmAuthenticate, 4);
    constexpr size_t headerSize = 72;
    const TNtlmBytes domain = MessageText(AUser.Domain, unicode);
    const TNtlmBytes user = MessageText(AUser.User, unicode);
    const TNtlmBytes workstation = MessageText(AValues.Workstation, unicode);
    // The header lists the fields in this order; the payload holds the texts first.
    TPayload texts(headerSize);
    TNtlmBytes textFields;
    texts.Field(textFields, domain);
    texts.Field(textFields, user);
    texts.Field(textFields, workstation);
    TPayload responses(headerSize + texts.Data().size());
    TNtlmBytes responseFields;
    responses.Field(responseFields, lm);
    responses.Field(responseFields, nt);
    responses.Field(responseFields, encryptedKey);
    Append(message, std::span<const uint8_t>(responseFields).subspan(0, 16));
    Append(message, textFields);
    Append(message, std::span<const uint8_t>(responseFields).subspan(16, 8));
    AppendLe(message, flags, 4);
    Append(message, AValues.Version);
    Append(message, texts.Data());
    Append(message, responses.Data());
    // The responses answer the challenge with the password's key: an offline guess could start
    // from them. The message's own copy is the caller's to wipe.
    Wipe(lm);
    Wipe(nt);
    Wipe(encryptedKey);
    Wipe(responseFields);
    return message;
}

// ---- the package -----------------------------------------------------------------------------

namespace {

/// A user's credentials, kept as the NT hash.
struct TNtlmCredential
{
    TNtlmUser User;

    ~TNtlmCredential()
    {
        Wipe(User.NtHash);
        Wipe(User.User);
        Wipe(User.Domain);
    }
};

/// One client exchange: NEGOTIATE sent, then AUTHENTICATE made.
struct TNtlmContext
{
    std::shared_ptr<TNtlmCredential> Credential;
    bool Answered = false;
};

THandleTable<TNtlmCredential, 0x4E544352>& NtlmCredentials() // "NTCR"
{
    static THandleTable<TNtlmCredential, 0x4E544352> table;
    return table;
}

THandleTable<TNtlmContext, 0x4E544358>& NtlmContexts() // "NTCX"
{
    static THandleTable<TNtlmContext, 0x4E544358> table;
    return table;
}

std::string RecordText(const unsigned char* AText, ULONG ALength)
{
    return AText == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(AText), ALength);
}

/// "DOMAIN\\user" or "DOMAIN/user" as user and domain; other texts stay whole.
void SplitUser(std::string& AUser, std::string& ADomain)
{
    size_t at = AUser.find('\\');
    if (at == std::string::npos)
        at = AUser.find('/');
    if (at == std::string::npos)
        return;
    ADomain = AUser.substr(0, at);
    AUser.erase(0, at + 1);
}

/// The bytes of the file AName (at most MaxCredentialsFileSize), read straight into the one
/// buffer returned, so that no stream buffer keeps a copy of the password; empty when the file
/// cannot be read.
std::string ReadSecretFile(const char* AName)
{
    const int handle = ::open(AName, O_RDONLY | O_CLOEXEC);
    if (handle < 0)
        return {};
    std::string text;
    struct stat info{};
    if (::fstat(handle, &info) == 0 && info.st_size > 0 && info.st_size <= MaxCredentialsFileSize)
    {
        text.resize(static_cast<size_t>(info.st_size));
        const ssize_t count = ::read(handle, text.data(), text.size());
        text.resize(count > 0 ? static_cast<size_t>(count) : 0); // shrinks in place
    }
    ::close(handle);
    return text;
}

/// NAME=VALUE lines of the file named by NTLM_CREDENTIALS_FILE, else the environment.
std::map<std::string, std::string> LoggedOnValues()
{
    std::map<std::string, std::string> values;
    for (const char* name : {"NTLM_USER", "NTLM_DOMAIN", "NTLM_PASSWORD"})
        if (const char* value = std::getenv(name))
            values[name] = value;
    if (values.count("NTLM_USER") != 0)
        return values;
    values.clear();
    if (const char* file = std::getenv("NTLM_CREDENTIALS_FILE"))
    {
        std::string text = ReadSecretFile(file);
        for (std::string_view rest = text; !rest.empty();)
        {
            const size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (const size_t at = line.find('='); at != std::string_view::npos)
                values[std::string(line.substr(0, at))] = line.substr(at + 1);
        }
        Wipe(text);
    }
    return values;
}

/// The credentials of the identity record, or of the logged-on user without one.
SECURITY_STATUS MakeCredential(const SEC_WINNT_AUTH_IDENTITY_A* AIdentity, TNtlmCredential& ACredential)
{
    std::string password;
    if (AIdentity != nullptr)
    {
        if (AIdentity->Flags != SEC_WINNT_AUTH_IDENTITY_ANSI)
            return SEC_E_UNKNOWN_CREDENTIALS;
        ACredential.User.User = RecordText(AIdentity->User, AIdentity->UserLength);
        ACredential.User.Domain = RecordText(AIdentity->Domain, AIdentity->DomainLength);
        password = RecordText(AIdentity->Password, AIdentity->PasswordLength);
    }
    else
    {
        std::map<std::string, std::string> values = LoggedOnValues();
        ACredential.User.User = values["NTLM_USER"];
        ACredential.User.Domain = values["NTLM_DOMAIN"];
        password = values["NTLM_PASSWORD"];
        if (ACredential.User.Domain.empty())
            SplitUser(ACredential.User.User, ACredential.User.Domain);
        for (auto& [name, value] : values)
            Wipe(value);
    }
    ACredential.User.NtHash = NtlmPasswordHash(password);
    Wipe(password);
    if (ACredential.User.User.empty())
        return SEC_E_NO_CREDENTIALS;
    if (ACredential.User.User.size() > MaxNameLength || ACredential.User.Domain.size() > MaxNameLength)
        return SEC_E_UNKNOWN_CREDENTIALS;
    return SEC_E_OK;
}

/// The short name of this machine.
std::string Workstation()
{
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0)
        return {};
    std::string text(name.data());
    return text.substr(0, text.find('.'));
}

/// Random challenge and session key, the time and this machine; false when the random source
/// fails.
bool FreshValues(TNtlmClientValues& values)
{
    if (RAND_bytes(values.ClientChallenge.data(), static_cast<int>(values.ClientChallenge.size())) != 1
        || RAND_bytes(values.SessionKey.data(), static_cast<int>(values.SessionKey.size())) != 1)
        return false;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    values.Time = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    values.Workstation = Workstation();
    values.Version = ClientVersion;
    return true;
}

} // namespace

bool IsNtlmHandle(const SecHandle* AHandle) noexcept
{
    return NtlmCredentials().Names(AHandle) || NtlmContexts().Names(AHandle);
}

SECURITY_STATUS NtlmAcquireCredentialsHandle(ULONG fCredentialUse, void* pAuthData, PCredHandle phCredential,
    PTimeStamp ptsExpiry)
{
    if (fCredentialUse != SECPKG_CRED_OUTBOUND)
        return SEC_E_UNSUPPORTED_FUNCTION; // a client package only
    auto credential = std::make_shared<TNtlmCredential>();
    const SECURITY_STATUS status
        = MakeCredential(static_cast<const SEC_WINNT_AUTH_IDENTITY_A*>(pAuthData), *credential);
    if (status != SEC_E_OK)
        return status;
    *phCredential = NtlmCredentials().Add(std::move(credential));
    if (ptsExpiry != nullptr)
        *ptsExpiry = NeverExpires;
    return SEC_E_OK;
}

SECURITY_STATUS NtlmFreeCredentialsHandle(PCredHandle phCredential)
{
    return NtlmCredentials().Remove(phCredential) ? SEC_E_OK : SEC_E_INVALID_HANDLE;
}

SECURITY_STATUS NtlmInitializeSecurityContext(PCredHandle phCredential, PCtxtHandle phContext, ULONG fContextReq,
    PSecBufferDesc pInput, PCtxtHandle phNewContext, PSecBufferDesc pOutput, ULONG* pfContextAttr,
    PTimeStamp ptsExpiry)
{
    const bool first = phContext == nullptr || (phContext->dwLower == 0 && phContext->dwUpper == 0);
    std::shared_ptr<TNtlmContext> context;
    TNtlmBytes token;
    SECURITY_STATUS status = SEC_E_OK;
    if (first)
    {
        const std::shared_ptr<TNtlmCredential> credential = NtlmCredentials().Find(phCredential);
        if (credential == nullptr)
            return SEC_E_INVALID_HANDLE;
        context = std::make_shared<TNtlmContext>();
        context->Credential = credential;
        token = BuildNtlmNegotiate(ClientVersion);
        status = SEC_I_CONTINUE_NEEDED;
    }
    else
    {
        context = NtlmContexts().Find(phContext);
        if (context == nullptr)
            return SEC_E_INVALID_HANDLE;
        if (context->Answered)
            return SEC_E_OUT_OF_SEQUENCE;
        std::span<const uint8_t> input;
        TNtlmChallenge challenge;
        if (!InputToken(pInput, input) || !ParseNtlmChallenge(input, challenge))
            return SEC_E_INVALID_TOKEN;
        TNtlmClientValues values;
        if (!FreshValues(values))
            return SEC_E_INTERNAL_ERROR;
        token = BuildNtlmAuthenticate(challenge, context->Credential->User, values);
        Wipe(values.SessionKey);
        context->Answered = true;
    }
    const SECURITY_STATUS output = OutputToken(pOutput, (fContextReq & ISC_REQ_ALLOCATE_MEMORY) != 0, token);
    Wipe(token); // the AUTHENTICATE message; the caller's copy is wiped by FreeContextBuffer
    if (output != SEC_E_OK)
        return output;
    if (first && phNewContext != nullptr)
        *phNewContext = NtlmContexts().Add(std::move(context));
    if (pfContextAttr != nullptr)
        *pfContextAttr = fContextReq & (ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION | ISC_REQ_INTEGRITY);
    if (ptsExpiry != nullptr)
        *ptsExpiry = NeverExpires;
    return status;
}

SECURITY_STATUS NtlmCompleteAuthToken(PCtxtHandle phContext)
{
    return NtlmContexts().Find(phContext) != nullptr ? SEC_E_OK : SEC_E_INVALID_HANDLE;
}

SECURITY_STATUS NtlmDeleteSecurityContext(PCtxtHandle phContext)
{
    return NtlmContexts().Remove(phContext) ? SEC_E_OK : SEC_E_INVALID_HANDLE;
}

} // namespace ix::os::internal
