// Writing a whole message (RFC 5322 header fields, RFC 2045 content fields, then the bodies)
// into a line list, a stream or a file.
#include <cmath>
#include <cstdlib>

#include "crypto/ixCryptUtils.h"
#include "message/internal/ixMessageComposer.h"
#include "message/ixMailHeader.h"
#include "message/ixMailMessage.h"
#include "platform/ixOsKernel.h"
#include "util/ixUtils.h"

namespace ix {

namespace {

/// Fields of the header are encoded for lines of CharsPerLine less the room a field name takes.
constexpr int32_t FieldNameRoom = 10;
constexpr int32_t MinutesPerDay = 24 * 60;

/// The zone of a local date and time as "+hhmm" / "-hhmm", by the system's rules for that date.
std::string ZoneOf(TDateTime ALocal)
{
    try {
        const auto minutes = static_cast<int32_t>(std::lround((ALocal - LocalToUtc(ALocal)) * MinutesPerDay));
        return Format("%s%.2d%.2d", minutes < 0 ? "-" : "+", std::abs(minutes) / 60, std::abs(minutes) % 60);
    } catch (const Exception&) {
        // A date the system conversion cannot represent: the zone of now.
        return GetLocalTimeZone();
    }
}

/// The date in the form of RFC 5322, section 3.3.
std::string MailDate(TDateTime ALocal)
{
    return FormatDateTime("ddd, d mmm yyyy hh:nn:ss", ALocal) + " " + ZoneOf(ALocal);
}

/// A new Message-ID: random hexadecimal digits "@" the sender's domain (or "localhost").
std::string NewMessageID(const TixMailMessage& AMessage)
{
    const std::string& from = AMessage.GetFrom().GetEmail();
    const size_t at = from.rfind('@');
    std::string domain = at == std::string::npos ? std::string() : from.substr(at + 1);
    if (domain.empty() || domain.find_first_of(" \t<>\"()[],;:\\") != std::string::npos)
        domain = "localhost";
    return "<" + BytesToHex(GenerateRandomBytes(16)) + "@" + TixMessageComposer::HeaderText(domain) + ">";
}

/// Writes the header fields of a message's properties into a header list.
class THeaderWriter
{
public:
    THeaderWriter(TixMailMessage& AMessage, TixMailHeaderFieldList& AHeader) noexcept
        : FMessage(AMessage), FHeader(AHeader)
    {
    }

    /// The addresses, subject, date, identification, priority and the other fields, in the
    /// customary order; ExtraFields last.
    void WriteFields(bool AIncludeBcc)
    {
        AddField("From", Address(FMessage.GetFrom()));
        AddField("Reply-To", AddressText(FMessage.GetReplyTo()));
        AddField("To", AddressList(FMessage.GetToList()));
        AddField("Cc", AddressList(FMessage.GetCCList()));
        if (AIncludeBcc)
            AddField("Bcc", AddressList(FMessage.GetBCCList()));
        AddField("Subject", Encoded(FMessage.GetSubject()));
        AddField("Date", MailDate(FMessage.GetDate()));
        AddField("Message-ID", FMessage.GetMessageID());
        AddField("In-Reply-To", FMessage.GetInReplyTo());
        AddField("References", FMessage.GetReferences().Join(" "));
        WritePriority();
        AddField("X-Mailer", FMessage.GetMailer());
        AddField("X-MimeOLE", FMessage.GetMimeOLE());
        AddField("Disposition-Notification-To", AddressText(FMessage.GetReadReceiptTo()));
        AddField("Newsgroups", FMessage.GetNewsGroups().Join(","));
        WriteExtraFields();
    }

private:
    void AddField(std::string_view AName, std::string_view AValue)
    {
        FHeader.AddField(AName, TixMessageComposer::HeaderText(AValue));
    }

    /// AText as encoded words when it needs them (non-ASCII text, or too long for one line).
    std::string Encoded(std::string_view AText) const
    {
        return TixMailHeaderFieldList::EncodeHeaderText(TixMessageComposer::HeaderText(AText), FHeader.GetCharSet(),
            FMessage.GetCharsPerLine() - FieldNameRoom, FHeader.GetEncoding());
    }

    /// The full address with its display name encoded where it needs to be.
    std::string Address(const TixEmailAddressItem& AItem) const
    {
        const std::string name = TixMessageComposer::HeaderText(AItem.GetName());
        const std::string email = TixMessageComposer::HeaderText(AItem.GetEmail());
        if (name.empty() || name == email)
            return email;
        const std::string encoded = Encoded(name);
        // Encoded words stand as they are: in quotes they would not be decoded (RFC 2047, 5).
        if (encoded != name)
            return encoded + " <" + email + ">";
        return TixEmailAddressItem::BuildFullAddress(name, email);
    }

    std::string AddressText(std::string_view AFullAddress) const
    {
        if (AFullAddress.empty())
            return {};
        TixEmailAddressItem item;
        item.SetFullAddress(AFullAddress);
        return Address(item);
    }

    std::string AddressList(const TixEmailAddressList& AList) const
    {
        std::string result;
        for (int32_t i = 0; i < AList.Count(); ++i) {
            if (!result.empty())
                result += ", ";
            result += Address(AList[i]);
        }
        return result;
    }

    void WritePriority()
    {
        const TixMessagePriority priority = FMessage.GetPriority();
        if (priority == mpNormal)
            return;
        const bool high = priority == mpHigh;
        AddField("X-Priority", high ? "1" : "5");
        AddField("X-MSMail-Priority", high ? "High" : "Low");
        AddField("Importance", high ? "High" : "Low");
    }

    /// ExtraFields, except fields the properties or the bodies write; "List-Unsubscribe" from
    /// its property when ExtraFields has none.
    void WriteExtraFields()
    {
        const TStringList& known = FMessage.GetKnownFields();
        const TStringList& extra = FMessage.GetExtraFields();
        TStringList fields;
        bool listUnsubscribe = false;
        for (int32_t i = 0; i < extra.Count(); ++i) {
            const std::string name = Trim(std::string_view(extra[i]).substr(0, extra[i].find(':')));
            // The content fields come from the bodies (a single part's Content-ID, for one).
            if (IndexOfString(known, name, true) >= 0 || StartsText("Content-", name))
                continue;
            listUnsubscribe = listUnsubscribe || SameText(name, "List-Unsubscribe");
            fields.Add(TixMessageComposer::HeaderText(extra[i]));
        }
        if (!listUnsubscribe)
            AddField("List-Unsubscribe", FMessage.GetListUnsubscribe());
        FHeader.AddFields(fields);
    }

    TixMailMessage& FMessage;
    TixMailHeaderFieldList& FHeader;
};

} // namespace

void TixMessageComposer::WriteHeader(TixMailMessage& AMessage, bool AIncludeBcc)
{
    const bool mime = AMessage.GetMessageFormat() != mfUUencode;
    // A message of one part carries that part's content fields in its own header.
    TixMessageBody* single =
        mime && !AMessage.IsMultipart() && AMessage.GetBodies().Count() == 1 ? &AMessage.GetBodies()[0] : nullptr;
    if (single)
        PrepareSinglePart(*single);
    else
        PrepareParts(AMessage);
    if (AMessage.GetMessageID().empty())
        AMessage.SetMessageID(NewMessageID(AMessage));

    TStringList lines;
    TixMailHeaderFieldList header = MakeHeader(AMessage);
    header.Parse(0, lines);
    THeaderWriter(AMessage, header).WriteFields(AIncludeBcc);
    if (mime) {
        header.AddField("MIME-Version", "1.0");
        if (single)
            single->AssignBodyHeader(header);
        else
            AMessage.AssignContentType(header);
    }
    header.AddEndOfHeader();
    for (int32_t i = 0; i < lines.Count(); ++i)
        FTarget.AddLine(lines[i]);
}

void TixMessageComposer::ComposeMessage(TixMailMessage& AMessage, bool AIncludeBcc)
{
    WriteHeader(AMessage, AIncludeBcc);
    ComposeBodies(AMessage);
}

void TixMailMessage::SaveToStrings(TStrings& ALines, bool AIncludeBcc)
{
    const TixLinesUpdate update(ALines);
    ALines.Clear();
    TixLinesTarget target(ALines);
    TixMessageComposer(target).ComposeMessage(*this, AIncludeBcc);
}

void TixMailMessage::SaveToStream(TStream& AStream, bool AIncludeBcc)
{
    TixStreamTarget target(AStream);
    TixMessageComposer(target).ComposeMessage(*this, AIncludeBcc);
}

void TixMailMessage::SaveToFile(const std::string& AFileName, bool AIncludeBcc)
{
    TFileStream file(AFileName, fmCreate);
    SaveToStream(file, AIncludeBcc);
}

void TixMailMessage::ComposeBodies(TStrings& ALines)
{
    const TixLinesUpdate update(ALines);
    TixLinesTarget target(ALines);
    TixMessageComposer(target).ComposeBodies(*this);
}

void TixMailMessage::AddBodyData(TStrings& ALines, TixMessageBody& ABody)
{
    const TixLinesUpdate update(ALines);
    TixLinesTarget target(ALines);
    TixMessageComposer(target).AddBodyData(*this, ABody);
}

void TixMailMessage::GenerateBoundary()
{
    do
        SetBoundary(TixMessageComposer::NewBoundary());
    while (TixMessageComposer::HoldsDelimiter(*FBodies, "--" + FBoundary));
}

void TixMailMessage::AssignContentType(TixMailHeaderFieldList& AHeader)
{
    if (FMessageFormat == mfUUencode)
        return;
    std::string type = TixMessageComposer::HeaderText(Trim(FContentType));
    if (IsMultipart()) {
        // Parts need a multipart type to be read as parts, whatever ContentType says.
        if (!StartsText("multipart/", type))
            type = "multipart/mixed";
        AHeader.AddField("Content-Type", type);
        if (!FContentSubType.empty())
            AHeader.AddQuotedFieldItem("Content-Type", "type", TixMessageComposer::HeaderText(FContentSubType));
        AHeader.AddQuotedFieldItem("Content-Type", "boundary", FBoundary);
        return;
    }
    AHeader.AddField("Content-Type", type.empty() ? std::string(DefaultContentType) : type);
    if (!FCharSet.empty())
        AHeader.AddQuotedFieldItem("Content-Type", "charset", TixMessageComposer::HeaderText(FCharSet));
}

} // namespace ix
