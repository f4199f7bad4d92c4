#include "message/ixMailMessage.h"

#include <algorithm>
#include <utility>

#include "core/ixLineBuffer.h"
#include "core/ixProperties.h"
#include "message/internal/ixBodyData.h"
#include "message/internal/ixBodyViews.h"
#include "message/internal/ixMessageShared.h"
#include "message/ixMailHeader.h"
#include "util/ixUtils.h"

namespace ix {

using namespace internal;

namespace {

TDateTime LocalTimeZoneOffset()
{
    return ParseTimeZone(GetLocalTimeZone());
}

} // namespace

// ---- TixMailMessage -----------------------------------------------------------------------

/// BeginUpdate now, EndUpdate when done: on success through Finish, which may fire OnChanged
/// (and let its exceptions through); on an exception quietly.
class TixMailMessage::TUpdateScope
{
public:
    explicit TUpdateScope(TixMailMessage& AMessage) noexcept : FMessage(AMessage) { FMessage.BeginUpdate(); }
    ~TUpdateScope()
    {
        if (FActive)
            FMessage.FUpdateCount = std::max(FMessage.FUpdateCount - 1, 0);
    }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

    void Finish()
    {
        FActive = false;
        FMessage.EndUpdate();
    }

private:
    TixMailMessage& FMessage;
    bool FActive = true;
};

TixMailMessage::TixMailMessage(TComponent* AOwner)
    : TComponent(AOwner), FBodies(std::make_unique<TixMessageBodies>(this)),
      FDataStream(std::make_unique<TixBodyDataStream>())
{
    EnsureParts();
    InternalClear();
}

TixMailMessage::TixMailMessage(TixMessageBodies& AOuterOwner, int32_t ALevel)
    : TComponent(nullptr), FBodies(std::make_unique<TixMessageBodies>(AOuterOwner.GetOwner(), ALevel)),
      FDataStream(std::make_unique<TixBodyDataStream>())
{
    // A nested message reports its events through the outer message.
    TixMailMessage* outer = AOuterOwner.GetOwner();
    if (!outer)
        return;
    OnSaveAttachment = [outer](TObject*, TixMessageBody* ABody, std::string& AFileName,
                           std::unique_ptr<TStream>& AData, bool& AHandled) {
        outer->DoSaveAttachment(ABody, AFileName, AData, AHandled);
    };
    OnLoadAttachment = [outer](TObject*, TixMessageBody* ABody, std::string& AFileName,
                           std::unique_ptr<TStream>& AData, bool& AHandled) {
        outer->DoLoadAttachment(ABody, AFileName, AData, AHandled);
    };
    OnAttachmentSaved = [outer](TObject*, TixMessageBody* ABody, const std::string& AFileName, TStream& AData) {
        outer->DoAttachmentSaved(ABody, AFileName, AData);
    };
    OnDataAdded = [outer](TObject*, TixMessageBody* ABody, TStream& AData) { outer->DoDataAdded(ABody, AData); };
}

std::unique_ptr<TixMailMessage> TixMailMessage::CreateNested(TixMessageBodies& AOuterOwner, int32_t ALevel)
{
    return std::unique_ptr<TixMailMessage>(new TixMailMessage(AOuterOwner, ALevel));
}

void TixMailMessage::EnsureParts() const
{
    if (FFrom)
        return;
    // Made on first use, so logically part of the message from its start.
    auto* self = const_cast<TixMailMessage*>(this);
    FFrom = std::make_unique<TixEmailAddressItem>();
    FToList = std::make_unique<TixEmailAddressList>(self);
    FCCList = std::make_unique<TixEmailAddressList>(self);
    FBCCList = std::make_unique<TixEmailAddressList>(self);
    FReferences = std::make_unique<TStringList>();
    FNewsGroups = std::make_unique<TStringList>();
    FExtraFields = std::make_unique<TStringList>();
    FRawHeader = std::make_unique<TStringList>();
    FMessageText = std::make_unique<TStringList>();
    const TNotifyEvent changed = [self](TObject*) { self->Changed(); };
    FReferences->OnChange = changed;
    FNewsGroups->OnChange = changed;
    FExtraFields->OnChange = changed;
}

TixMailMessage::~TixMailMessage()
{
    Destroying();
    FBodies->Clear();
}

// ---- Properties ---------------------------------------------------------------------------

void TixMailMessage::SetSubject(const std::string& AValue)
{
    if (AssignIfChanged(FSubject, AValue))
        Changed();
}

void TixMailMessage::SetFrom(const TixEmailAddressItem& AValue)
{
    GetFrom().Assign(AValue);
    Changed();
}

void TixMailMessage::SetToList(const TixEmailAddressList& AValue)
{
    GetToList().Assign(AValue);
    Changed();
}

void TixMailMessage::SetCCList(const TixEmailAddressList& AValue)
{
    GetCCList().Assign(AValue);
    Changed();
}

void TixMailMessage::SetBCCList(const TixEmailAddressList& AValue)
{
    GetBCCList().Assign(AValue);
    Changed();
}

void TixMailMessage::SetPriority(TixMessagePriority AValue)
{
    if (AssignIfChanged(FPriority, AValue))
        Changed();
}

void TixMailMessage::SetDate(TDateTime AValue)
{
    FTimeZoneOffset = LocalTimeZoneOffset();
    if (AssignIfChanged(FDate, AValue))
        Changed();
}

void TixMailMessage::SetCharSet(const std::string& AValue)
{
    // ISO-2022-JP is 7-bit text with escape sequences that must pass unchanged.
    if (SameText(AValue, "iso-2022-jp")) {
        BeginUpdate();
        if (AssignIfChanged(FCharSet, std::string("iso-2022-jp")))
            Changed();
        SetEncoding(cm8Bit);
        SetAllowESC(true);
        EndUpdate();
        return;
    }
    if (AssignIfChanged(FCharSet, AValue))
        Changed();
}

void TixMailMessage::SetContentType(const std::string& AValue)
{
    if (AssignIfChanged(FContentType, AValue))
        Changed();
}

void TixMailMessage::SetContentSubType(const std::string& AValue)
{
    if (AssignIfChanged(FContentSubType, AValue))
        Changed();
}

void TixMailMessage::SetContentDisposition(const std::string& AValue)
{
    if (AssignIfChanged(FContentDisposition, AValue))
        Changed();
}

void TixMailMessage::SetMessageFormat(TixMessageFormat AValue)
{
    if (AssignIfChanged(FMessageFormat, AValue))
        Changed();
}

void TixMailMessage::SetEncoding(TixEncodeMethod AValue)
{
    if (AssignIfChanged(FEncoding, AValue))
        Changed();
}

void TixMailMessage::SetHeaderEncoding(TixEncodeMethod AValue)
{
    if (AssignIfChanged(FHeaderEncoding, AValue))
        Changed();
}

void TixMailMessage::SetMimeOLE(const std::string& AValue)
{
    if (AssignIfChanged(FMimeOLE, AValue))
        Changed();
}

void TixMailMessage::SetMailer(const std::string& AValue)
{
    if (AssignIfChanged(FMailer, AValue))
        Changed();
}

void TixMailMessage::SetReplyTo(const std::string& AValue)
{
    if (AssignIfChanged(FReplyTo, AValue))
        Changed();
}

void TixMailMessage::SetReadReceiptTo(const std::string& AValue)
{
    if (AssignIfChanged(FReadReceiptTo, AValue))
        Changed();
}

void TixMailMessage::SetMessageID(const std::string& AValue)
{
    if (AssignIfChanged(FMessageID, AValue))
        Changed();
}

void TixMailMessage::SetInReplyTo(const std::string& AValue)
{
    if (AssignIfChanged(FInReplyTo, AValue))
        Changed();
}

void TixMailMessage::SetListUnsubscribe(const std::string& AValue)
{
    if (AssignIfChanged(FListUnsubscribe, AValue))
        Changed();
}

void TixMailMessage::SetCharsPerLine(int32_t AValue)
{
    if (AssignIfChanged(FCharsPerLine, AValue))
        Changed();
}

void TixMailMessage::SetAllowESC(bool AValue)
{
    if (AssignIfChanged(FAllowESC, AValue))
        Changed();
}

void TixMailMessage::SetUseHeaderEncodingExtensions(bool AValue)
{
    if (AssignIfChanged(FUseHeaderEncodingExtensions, AValue))
        Changed();
}

void TixMailMessage::SetErrorProcessing(TixMessageErrorProcessing AValue)
{
    if (AssignIfChanged(FErrorProcessing, AValue))
        Changed();
}

void TixMailMessage::SetBoundary(const std::string& AValue)
{
    if (AssignIfChanged(FBoundary, AValue))
        Changed();
}

void TixMailMessage::SetDkim(IixMessageVerifier* AValue)
{
    if (AValue == FDkim)
        return;
    if (FDkimComponent)
        RemoveFreeNotification(FDkimComponent);
    FDkim = AValue;
    FDkimComponent = dynamic_cast<TComponent*>(AValue);
    if (FDkimComponent)
        FreeNotification(FDkimComponent);
    Changed();
}

void TixMailMessage::Notification(TComponent* AComponent, TOperation AOperation)
{
    TComponent::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent && AComponent == FDkimComponent) {
        FDkim = nullptr;
        FDkimComponent = nullptr;
    }
}

void TixMailMessage::Loaded()
{
    TComponent::Loaded();
    Changed();
}

const TStringList& TixMailMessage::GetKnownFields()
{
    if (!FKnownFields) {
        FKnownFields = std::make_unique<TStringList>();
        RegisterKnownFields(*FKnownFields);
    }
    return *FKnownFields;
}

void TixMailMessage::RegisterKnownFields(TStrings& AFields)
{
    // "List-Unsubscribe" becomes a property but stays among the extra fields as well.
    static constexpr std::string_view Names[] = {"Content-Type", "Content-Disposition",
        "Content-Transfer-Encoding", "From", "To", "Cc", "Bcc", "Subject", "Date", "Importance", "X-Priority",
        "X-MSMail-Priority", "X-MimeOLE", "X-Mailer", "Reply-To", "In-Reply-To", "Disposition-Notification-To",
        "Message-ID", "MIME-Version", "Newsgroups", "References"};
    for (std::string_view name : Names)
        if (IndexOfString(AFields, name, true) < 0)
            AFields.Add(std::string(name));
}

// ---- Change notification ------------------------------------------------------------------

void TixMailMessage::BeginUpdate() noexcept
{
    ++FUpdateCount;
}

void TixMailMessage::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
    Changed();
}

void TixMailMessage::Changed()
{
    // The caches go even while the notification is held back: a load that fails halfway has
    // freed the bodies they list, and no EndUpdate follows it.
    if (FBodyListsFilled) {
        FAttachmentList.Clear();
        FImageList.Clear();
        FBodyListsFilled = false;
    }
    if (FMessageText && !FMessageText->IsEmpty())
        FMessageText->Clear();
    const TComponentState state = GetComponentState();
    if (state.Includes(csLoading) || state.Includes(csDestroying) || state.Includes(csDesigning) ||
        FUpdateCount > 0)
        return;
    DoChanged();
}

void TixMailMessage::DoChanged()
{
    CallEvent(OnChanged, this);
}

void TixMailMessage::DoSaveAttachment(TixMessageBody* ABody, std::string& AFileName, std::unique_ptr<TStream>& AData,
    bool& AHandled)
{
    CallEvent(OnSaveAttachment, this, ABody, AFileName, AData, AHandled);
}

void TixMailMessage::DoLoadAttachment(TixMessageBody* ABody, std::string& AFileName, std::unique_ptr<TStream>& AData,
    bool& AHandled)
{
    CallEvent(OnLoadAttachment, this, ABody, AFileName, AData, AHandled);
}

void TixMailMessage::DoAttachmentSaved(TixMessageBody* ABody, const std::string& AFileName, TStream& AData)
{
    CallEvent(OnAttachmentSaved, this, ABody, AFileName, AData);
}

void TixMailMessage::DoDataAdded(TixMessageBody* ABody, TStream& AData)
{
    CallEvent(OnDataAdded, this, ABody, AData);
}

void TixMailMessage::DoEncodingProgress(TixMessageBody* ABody, int64_t ABytesProceed, int64_t ATotalBytes)
{
    CallEvent(OnEncodingProgress, this, ABody, ABytesProceed, ATotalBytes);
}

// ---- Reset --------------------------------------------------------------------------------

void TixMailMessage::Clear()
{
    const std::string charSet = FCharSet;
    const TixEncodeMethod encoding = FEncoding;
    const TixEncodeMethod headerEncoding = FHeaderEncoding;
    BeginUpdate();
    InternalClear();
    FCharSet = charSet;
    FEncoding = encoding;
    FHeaderEncoding = headerEncoding;
    EndUpdate();
}

void TixMailMessage::InternalClear()
{
    EnsureParts();
    BeginUpdate();
    SetBoundary({});
    SetSubject({});
    FFrom->Clear();
    FToList->Clear();
    FCCList->Clear();
    FBCCList->Clear();
    SetPriority(mpNormal);
    SetDate(Now());
    FBodies->Clear();
    SetMessageFormat(mfNone);
    SetContentType(std::string(DefaultContentType));
    SetContentSubType({});
    SetMimeOLE({});
    SetMailer({});
    SetMessageID({});
    SetInReplyTo({});
    SetReplyTo({});
    FReferences->Clear();
    FNewsGroups->Clear();
    FExtraFields->Clear();
    SetReadReceiptTo({});
    SetListUnsubscribe({});
    SetContentDisposition({});
    FRawHeader->Clear();
    FBodyStart = 0;
    SetCharSet(std::string(DefaultCharSet));
    SetEncoding(cmNone);
    SetHeaderEncoding(cmNone);
    EndUpdate();
}

// ---- Loading ------------------------------------------------------------------------------

void TixMailMessage::LoadMessage(TStrings& ASource)
{
    TUpdateScope update(*this);
    Clear();
    ParseHeader(ASource);
    ParseBodies(ASource);
    if (FDkim)
        FDkim->Verify(ASource);
    update.Finish();
}

void TixMailMessage::TakeMessage(TStrings& ASource)
{
    if (FDkim) {
        LoadMessage(ASource);
        return;
    }
    FReleasableSource = dynamic_cast<TStringList*>(&ASource);
    try {
        LoadMessage(ASource);
    } catch (...) {
        FReleasableSource = nullptr;
        ASource.Clear();
        throw;
    }
    FReleasableSource = nullptr;
    ASource.Clear();
}

void TixMailMessage::LoadFromStream(TStream& AStream)
{
    TLineBuffer lines;
    AddStreamToStrings(lines, AStream);
    LoadMessage(lines);
}

void TixMailMessage::LoadFromFile(const std::string& AFileName)
{
    TFileStream stream(AFileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TixMailMessage::LoadHeader(TStrings& ASource)
{
    TUpdateScope update(*this);
    Clear();
    ParseHeader(ASource);
    update.Finish();
}

TixEncodeMethod TixMailMessage::GetEffectiveHeaderEncoding() const noexcept
{
    return FHeaderEncoding != cmNone ? FHeaderEncoding : FEncoding;
}

void TixMailMessage::ParseHeader(TStrings& ASource)
{
    TParseScope parsing(*this);
    EnsureParts();
    TixMailHeaderFieldList header(FCharSet, FCharsPerLine, GetEffectiveHeaderEncoding());
    header.Parse(0, ASource);
    ParseContentType(header);
    SetContentDisposition(FirstToken(header, "Content-Disposition"));
    SetEncoding(TransferEncodingOf(header.GetFieldValue("Content-Transfer-Encoding"), cmNone));
    header.SetEncoding(GetEffectiveHeaderEncoding());

    FFrom->SetFullAddress(header.GetDecodedEmail("From"));
    header.GetDecodedEmailList("To", *FToList);
    header.GetDecodedEmailList("Cc", *FCCList);
    header.GetDecodedEmailList("Bcc", *FBCCList);
    SetSubject(header.GetDecodedFieldValue("Subject"));
    ParseDate(header);
    ParsePriority(header);
    SetReplyTo(header.GetDecodedEmail("Reply-To"));
    SetReadReceiptTo(header.GetDecodedEmail("Disposition-Notification-To"));
    SetListUnsubscribe(header.GetDecodedEmail("List-Unsubscribe"));
    SetMessageID(header.GetFieldValue("Message-ID"));
    SetInReplyTo(header.GetFieldValue("In-Reply-To"));
    SetMimeOLE(header.GetFieldValue("X-MimeOLE"));
    SetMailer(header.GetFieldValue("X-Mailer"));
    SplitText(header.GetFieldValue("Newsgroups"), *FNewsGroups, ',');
    SplitText(header.GetFieldValue("References"), *FReferences, ' ');

    CopyHeaderLines(header, *FRawHeader);
    FBodyStart = header.GetBodyStart();
    CollectExtraFields(header, GetKnownFields(), *FExtraFields);
}

void TixMailMessage::ParseContentType(TixMailHeaderFieldList& AHeader)
{
    const std::string contentType = AHeader.GetFieldValue("Content-Type");
    const bool mime = !contentType.empty() || !AHeader.GetFieldValue("MIME-Version").empty();
    SetMessageFormat(mime ? mfMIME : mfUUencode);
    SetContentType(AHeader.GetItemValue(contentType, ""));
    SetContentSubType(AHeader.GetItemValue(contentType, "type"));
    SetBoundary(BoundaryOf(AHeader, contentType));
    const std::string charSet = AHeader.GetItemValue(contentType, "charset");
    if (!charSet.empty()) {
        SetCharSet(charSet);
        AHeader.SetCharSet(charSet);
    }
}

void TixMailMessage::ParseDate(TixMailHeaderFieldList& AHeader)
{
    FDate = Now();
    FTimeZoneOffset = LocalTimeZoneOffset();
    std::string text = AHeader.GetDecodedFieldValue("Date");
    if (text.empty()) {
        // A message without a date: the time the first relay received it.
        const std::string received = AHeader.GetDecodedFieldValue("Received");
        if (const size_t semicolon = received.rfind(';'); semicolon != std::string::npos)
            text = Trim(std::string_view(received).substr(semicolon + 1, MaxLineTail));
    }
    if (text.empty())
        return;
    try {
        TDateTime date = 0;
        TDateTime zone = 0;
        ParseMailDate(text, date, zone);
        // A text without day, month or year gives no date: the time of loading stays.
        if (date != 0) {
            FDate = date;
            FTimeZoneOffset = zone;
        }
    } catch (const Exception&) {
        // An unreadable date leaves the time of loading.
    }
}

void TixMailMessage::ParsePriority(TixMailHeaderFieldList& AHeader)
{
    const auto read = [&](std::string_view AName, std::string_view ALow, std::string_view AHigh) {
        if (FPriority != mpNormal)
            return;
        const std::string value = Trim(AHeader.GetFieldValue(AName));
        if (SameText(value, ALow))
            SetPriority(mpLow);
        else if (SameText(value, AHigh))
            SetPriority(mpHigh);
    };
    read("Importance", "Low", "High");
    read("X-Priority", "5", "1");
    read("X-MSMail-Priority", "Low", "High");
}

// ---- Bodies -------------------------------------------------------------------------------

bool TixMailMessage::IsMultipart() const
{
    return FBodies->Count() >= 2 || StartsText("multipart/", FContentType);
}

const TStringList& TixMailMessage::MessageText()
{
    EnsureParts();
    FMessageText->Clear();
    if (TixTextBody* html = FindTextBody(*FBodies, "text/html")) {
        FMessageText->Assign(html->GetStrings());
        return *FMessageText;
    }
    CollectTexts(*FBodies, "text/plain", *FMessageText);
    if (IsBlankLines(*FMessageText))
        CollectTexts(*FBodies, {}, *FMessageText);
    return *FMessageText;
}

void TixMailMessage::FillBodyLists()
{
    if (FBodyListsFilled)
        return;
    FAttachmentList.Clear();
    FImageList.Clear();
    CollectAttachments(*FBodies, FAttachmentList, FImageList);
    FBodyListsFilled = true;
}

const TixAttachmentList& TixMailMessage::GetAttachmentList()
{
    FillBodyLists();
    return FAttachmentList;
}

const TixImageList& TixMailMessage::GetImageList()
{
    FillBodyLists();
    return FImageList;
}

const TPropertyTable& TixMailMessage::GetPublishedProperties() const
{
    using C = TixMailMessage;
    static const TPropertyTable table("TixMailMessage", &TComponent::GetPublishedProperties(),
        {
            Published<&C::GetSubject, &C::SetSubject>("Subject", ""),
            PublishedObject<&C::GetFrom>("From"),
            PublishedCollection<&C::GetToList, &C::SetToList>("ToList"),
            PublishedCollection<&C::GetCCList, &C::SetCCList>("CCList"),
            PublishedCollection<&C::GetBCCList, &C::SetBCCList>("BCCList"),
            Published<&C::GetPriority, &C::SetPriority>("Priority", mpNormal, {"mpLow", "mpNormal", "mpHigh"}),
            Published<&C::GetDate, &C::SetDate>("Date", std::nullopt), // now when reset: always stored
            Published<&C::GetCharSet, &C::SetCharSet>("CharSet", std::string(DefaultCharSet)),
            Published<&C::GetContentType, &C::SetContentType>("ContentType", std::string(DefaultContentType)),
            Published<&C::GetContentSubType, &C::SetContentSubType>("ContentSubType", ""),
            Published<&C::GetContentDisposition, &C::SetContentDisposition>("ContentDisposition", ""),
            Published<&C::GetMessageFormat, &C::SetMessageFormat>("MessageFormat", mfNone,
                {"mfNone", "mfMIME", "mfUUencode"}),
            Published<&C::GetEncoding, &C::SetEncoding>("Encoding", cmNone, EncodeMethodNames),
            Published<&C::GetHeaderEncoding, &C::SetHeaderEncoding>("HeaderEncoding", cmNone, EncodeMethodNames),
            Published<&C::GetMimeOLE, &C::SetMimeOLE>("MimeOLE", ""),
            Published<&C::GetMailer, &C::SetMailer>("Mailer", ""),
            Published<&C::GetReplyTo, &C::SetReplyTo>("ReplyTo", ""),
            Published<&C::GetReferences, &C::SetReferences>("References", TValueNames{}),
            Published<&C::GetNewsGroups, &C::SetNewsGroups>("NewsGroups", TValueNames{}),
            Published<&C::GetExtraFields, &C::SetExtraFields>("ExtraFields", TValueNames{}),
            Published<&C::GetReadReceiptTo, &C::SetReadReceiptTo>("ReadReceiptTo", ""),
            Published<&C::GetMessageID, &C::SetMessageID>("MessageID", ""),
            Published<&C::GetInReplyTo, &C::SetInReplyTo>("InReplyTo", ""),
            Published<&C::GetListUnsubscribe, &C::SetListUnsubscribe>("ListUnsubscribe", ""),
            Published<&C::GetCharsPerLine, &C::SetCharsPerLine>("CharsPerLine", DefaultCharsPerLine),
            Published<&C::GetAllowESC, &C::SetAllowESC>("AllowESC", false),
            Published<&C::GetUseHeaderEncodingExtensions, &C::SetUseHeaderEncodingExtensions>(
                "UseHeaderEncodingExtensions", false),
            Published<&C::GetErrorProcessing, &C::SetErrorProcessing>("ErrorProcessing", DefaultErrorProcessing,
                {"meExtractMaximumData", "meIgnore", "meStop"}),
        });
    return table;
}

} // namespace ix
