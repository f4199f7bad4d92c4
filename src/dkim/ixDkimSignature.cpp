#include "dkim/ixDkimSignature.h"

#include "message/ixIdnTranslator.h"
#include "util/ixUtils.h"

#include <algorithm>

namespace ix {

namespace {

/// Seconds since 1970 of a local date-time; 0 for 0.
int64_t LocalToUnix(TDateTime AValue)
{
    return AValue == 0 ? 0 : DateTimeToUnix(LocalToUtc(AValue));
}

/// The "t"/"x" value: its first 12 characters as seconds since 1970, as local time; 0 when
/// they are not a positive number.
TDateTime ParseTime(const std::string& AValue)
{
    int64_t seconds = 0;
    if (!TryStrToInt64(AValue.substr(0, 12), seconds) || seconds <= 0)
        return 0;
    try {
        return UtcToLocal(UnixToDateTime(seconds));
    } catch (const EConvertError&) {
        return 0;
    }
}

void SplitInto(const std::string& AValue, char ADelimiter, TStrings& AList, bool ADecode)
{
    AList.Clear();
    if (AValue.empty())
        return;
    size_t at = 0;
    while (true) {
        const size_t end = std::min(AValue.find(ADelimiter, at), AValue.size());
        const std::string part = RemoveWhitespace(AValue.substr(at, end - at));
        AList.Add(ADecode ? TixDkimQuotedPrintableEncoder::Decode(part) : part);
        if (end == AValue.size())
            break;
        at = end + 1;
    }
}

/// The identity with its local part and domain in ASCII form, then DKIM quoted-printable.
std::string EncodeIdentity(const std::string& AIdentity)
{
    const size_t at = AIdentity.find('@');
    if (at == std::string::npos)
        return TixDkimQuotedPrintableEncoder::Encode(AIdentity);
    return TixDkimQuotedPrintableEncoder::Encode(TixIdnTranslator::EncodeLabel(AIdentity.substr(0, at)) + "@" +
        TixIdnTranslator::EncodeDomain(AIdentity.substr(at + 1)));
}

/// Writes tags into folded header lines: a tag goes on the current line while it fits; long
/// values are cut at their break points ("h" after ":", base64 and quoted-printable anywhere).
class TixDkimFieldWriter
{
public:
    TixDkimFieldWriter(std::string AFirst, int32_t ACharsPerLine)
        : FLine(std::move(AFirst)), FWidth(ACharsPerLine > 8 ? static_cast<size_t>(ACharsPerLine) : SIZE_MAX)
    {
    }

    void Add(const std::string& ATag, const std::string& AValue, bool ANewLine = false)
    {
        if (AValue.empty() && ATag != "b")
            return;
        if (!FFirstTag)
            FLine += ';';
        const std::string head = ATag + "=";
        if (ANewLine || (!FFirstTag && FLine.size() + 1 + head.size() + std::min<size_t>(AValue.size(), 24) > FWidth))
            Break();
        else if (!FFirstTag)
            FLine += ' ';
        FFirstTag = false;
        FLine += head;
        const bool names = ATag == "h";
        const bool escapes = ATag == "z" || ATag == "i";
        size_t at = 0;
        while (at < AValue.size()) {
            size_t room = FLine.size() < FWidth ? FWidth - FLine.size() : 0;
            if (room == 0) {
                Break();
                room = FWidth - FLine.size();
            }
            size_t take = std::min(room, AValue.size() - at);
            if (names && at + take < AValue.size()) {
                // Cut only after a ":" of the name list.
                const size_t colon = AValue.rfind(':', at + take - 1);
                if (colon != std::string::npos && colon >= at)
                    take = colon + 1 - at;
                else if (FLine.size() > 1)
                    take = 0;
                else
                    take = std::min(AValue.find(':', at), AValue.size() - 1) + 1 - at;
            }
            if (escapes && at + take < AValue.size()) {
                // Never between "=" and its two hexadecimal digits.
                if (take >= 1 && AValue[at + take - 1] == '=')
                    take -= 1;
                else if (take >= 2 && AValue[at + take - 2] == '=')
                    take -= 2;
            }
            FLine.append(AValue, at, take);
            at += take;
            if (at < AValue.size())
                Break();
        }
    }

    /// The lines written.
    std::vector<std::string> Finish()
    {
        FLines.push_back(std::move(FLine));
        return std::move(FLines);
    }

private:
    void Break()
    {
        FLines.push_back(std::move(FLine));
        FLine = "\t";
    }

    std::vector<std::string> FLines;
    std::string FLine;
    size_t FWidth;
    bool FFirstTag = true;
};

} // namespace

// ---- Verify status --------------------------------------------------------------------------

void TixDkimSignatureVerifyStatus::Clear()
{
    FStatus = NotVerified;
    FStatusText.clear();
    FErrorCode = 0;
    FSignedBodyLength = 0;
    FBodyLength = 0;
}

void TixDkimSignatureVerifyStatus::SetVerified()
{
    FStatus = Verified;
    FErrorCode = 0;
    FStatusText.clear();
    if (FSignedBodyLength < FBodyLength)
        FStatusText = "Only " + std::to_string(FSignedBodyLength) + " of " + std::to_string(FBodyLength) +
            " body characters are signed";
}

void TixDkimSignatureVerifyStatus::SetFailed(const std::string& AText, int32_t ACode)
{
    FStatus = Failed;
    FStatusText = AText;
    FErrorCode = ACode;
}

void TixDkimSignatureVerifyStatus::SetBodyCoverage(int64_t ASignedBodyLength, int64_t ABodyLength)
{
    FSignedBodyLength = ASignedBodyLength;
    FBodyLength = ABodyLength;
}

// ---- Signature ------------------------------------------------------------------------------

TixDkimSignature::TixDkimSignature()
{
    Clear();
}

void TixDkimSignature::Clear()
{
    Version = 0;
    SignatureTimestamp = 0;
    Domain.clear();
    UserIdentity.clear();
    BodyLength = 0;
    BodyHash.clear();
    PublicKeyLocation.clear();
    SignatureAlgorithm.clear();
    CopiedHeaderFields.Clear();
    Signature.clear();
    SignatureExpiration = 0;
    SignedHeaderFields.Clear();
    Canonicalization.clear();
    Selector.clear();
    VerifyStatus.Clear();
}

void TixDkimSignature::Parse(const std::string& AFieldValue)
{
    Clear();
    TixDkimTagList tags;
    tags.Parse(AFieldValue, DkimInvalidFormatText, DkimInvalidFormatCode);
    const auto required = [&tags](const char* ATag) {
        std::string value = tags.Value(ATag);
        if (value.empty())
            RaiseDkimError(DkimInvalidFormatText, DkimInvalidFormatCode);
        return value;
    };
    Version = StrToIntDef(tags.Value("v"), 0);
    if (Version == 0)
        RaiseDkimError(DkimInvalidFormatText, DkimInvalidFormatCode);
    SignatureAlgorithm = required("a");
    Canonicalization = RemoveWhitespace(tags.Value("c"));
    Domain = required("d");
    Selector = required("s");
    SplitInto(required("h"), ':', SignedHeaderFields, false);
    const std::string length = tags.Value("l");
    BodyLength = length.empty() ? 0 : StrToIntDef(length, -1);
    if (BodyLength < 0)
        RaiseDkimError(DkimInvalidFormatText, DkimInvalidFormatCode);
    UserIdentity = TixDkimQuotedPrintableEncoder::Decode(RemoveWhitespace(tags.Value("i")));
    PublicKeyLocation = tags.Value("q");
    SignatureTimestamp = ParseTime(tags.Value("t"));
    SignatureExpiration = ParseTime(tags.Value("x"));
    SplitInto(tags.Value("z"), '|', CopiedHeaderFields, true);
    Signature = RemoveWhitespace(required("b"));
    BodyHash = RemoveWhitespace(required("bh"));
}

void TixDkimSignature::Build(TStrings& AMessage, int32_t ACharsPerLine)
{
    if (Version < 0 || Trim(SignatureAlgorithm).empty() || Trim(Domain).empty() || Trim(Selector).empty() ||
        SignedHeaderFields.Count() == 0 || Trim(BodyHash).empty())
        RaiseDkimError(DkimSignatureParamsText, DkimSignatureParamsCode);
    const int64_t timestamp = LocalToUnix(SignatureTimestamp);
    const int64_t expiration = LocalToUnix(SignatureExpiration);
    if (timestamp > 0 && expiration > 0 && timestamp >= expiration)
        RaiseDkimError(DkimSignatureParamsText, DkimSignatureParamsCode);

    std::string copied;
    for (int32_t i = 0; i < CopiedHeaderFields.Count(); ++i) {
        const std::string& line = CopiedHeaderFields[i];
        const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        copied += (continuation ? "\r\n" : "|") + line;
    }
    if (!copied.empty() && copied[0] == '|')
        copied.erase(0, 1);

    TixDkimFieldWriter writer(std::string(DkimSignatureFieldName) + ": ", ACharsPerLine);
    writer.Add("v", std::to_string(Version));
    writer.Add("a", Trim(SignatureAlgorithm));
    writer.Add("d", Trim(Domain).empty() ? std::string() : TixIdnTranslator::EncodeDomain(Trim(Domain)));
    writer.Add("s", Trim(Selector));
    writer.Add("c", Trim(Canonicalization));
    writer.Add("l", BodyLength > 0 ? std::to_string(BodyLength) : std::string());
    writer.Add("q", Trim(PublicKeyLocation));
    writer.Add("i", Trim(UserIdentity).empty() ? std::string() : EncodeIdentity(Trim(UserIdentity)));
    writer.Add("t", timestamp > 0 ? std::to_string(timestamp) : std::string());
    writer.Add("x", expiration > 0 ? std::to_string(expiration) : std::string());
    writer.Add("h", SignedHeaderFields.Join(":"));
    writer.Add("z", TixDkimQuotedPrintableEncoder::Encode(Trim(copied)));
    writer.Add("bh", Trim(BodyHash));
    writer.Add("b", std::string(), true);
    const std::vector<std::string> lines = writer.Finish();
    for (size_t i = 0; i < lines.size(); ++i)
        AMessage.Insert(static_cast<int32_t>(i), lines[i]);
}

void TixDkimSignature::SetSignatureValue(TStrings& AMessage, int32_t ACharsPerLine)
{
    if (Trim(Signature).empty())
        RaiseDkimError(DkimSignatureParamsText, DkimSignatureParamsCode);
    TixDkimHeaderFieldList list;
    list.Parse(0, AMessage);
    const int32_t field = list.GetFieldIndex(DkimSignatureFieldName);
    if (field < 0)
        RaiseDkimError(DkimSignatureParamsText, DkimSignatureParamsCode);
    // Build wrote "b=" alone on the field's last line.
    int32_t line = list.GetFieldEnd(field);
    while (line > list.GetFieldLine(field) && !Trim(AMessage[line]).starts_with("b="))
        --line;
    TixDkimFieldWriter writer(AMessage[line].substr(0, AMessage[line].find("b=")), ACharsPerLine);
    writer.Add("b", Trim(Signature));
    const std::vector<std::string> lines = writer.Finish();
    AMessage.Delete(line);
    for (size_t i = 0; i < lines.size(); ++i)
        AMessage.Insert(line + static_cast<int32_t>(i), lines[i]);
}

std::string TixDkimSignature::GetHeaderCanonicalization() const
{
    const size_t slash = Canonicalization.find('/');
    const std::string name = Canonicalization.substr(0, slash);
    return name.empty() ? "simple" : name;
}

std::string TixDkimSignature::GetBodyCanonicalization() const
{
    const size_t slash = Canonicalization.find('/');
    return slash == std::string::npos || slash + 1 == Canonicalization.size() ? "simple" : Canonicalization.substr(slash + 1);
}

std::string TixDkimSignature::GetHashAlgorithm() const
{
    const size_t dash = SignatureAlgorithm.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == SignatureAlgorithm.size() ||
        SignatureAlgorithm.find('-', dash + 1) != std::string::npos)
        RaiseDkimError(DkimInvalidAlgorithmText, DkimInvalidAlgorithmCode);
    return SignatureAlgorithm.substr(dash + 1);
}

} // namespace ix
