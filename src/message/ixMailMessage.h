// The mail message component: header properties read from RFC 822 / MIME header fields
// (RFC 5322, RFC 2045-2047, RFC 2231) and the tree of MIME body parts (RFC 2046), with
// uuencoded blocks in plain messages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ixClasses.h"
#include "core/ixDateUtils.h"
#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "message/ixEmailAddress.h"
#include "message/ixEncoder.h"
#include "message/ixMessageBody.h"
#include "message/ixMimeBodies.h"

namespace ix {

class TixMailHeaderFieldList;
class TixBodyDataStream;
class TixMessageComposer;

/// Priority from Importance, X-Priority or X-MSMail-Priority.
enum TixMessagePriority : uint8_t { mpLow, mpNormal, mpHigh };
/// The body format: MIME parts, or uuencoded blocks in the text.
enum TixMessageFormat : uint8_t { mfNone, mfMIME, mfUUencode };
/// Reaction to body data that cannot be decoded.
enum TixMessageErrorProcessing : uint8_t { meExtractMaximumData, meIgnore, meStop };

/// Asks for the stream of an attachment: AFileName may be changed (it is stored back), AData
/// receives the stream (the library owns and frees it), Handled tells that AData is the source.
using TixGetBodyStreamEvent = std::function<void(TObject* Sender, TixMessageBody* ABody,
    std::string& AFileName, std::unique_ptr<TStream>& AData, bool& Handled)>;
/// An attachment's data was decoded into AData (rewound).
using TixAttachmentSavedEvent =
    std::function<void(TObject* Sender, TixMessageBody* ABody, const std::string& AFileName, TStream& AData)>;
/// A body's decoded data, rewound.
using TixBodyDataAddedEvent = std::function<void(TObject* Sender, TixMessageBody* ABody, TStream& AData)>;
/// Progress of a body's encoder.
using TixBodyEncodingProgress =
    std::function<void(TObject* Sender, TixMessageBody* ABody, int64_t ABytesProceed, int64_t ATotalBytes)>;

/// What the message needs of a signature checker (the DKIM component implements it): one call,
/// after a message was loaded, with its source lines.
class IixMessageVerifier
{
public:
    /// Releases the checker.
    virtual ~IixMessageVerifier() = default;
    /// Checks the signatures of the message in AMessage; raises on a failure.
    virtual void Verify(TStrings& AMessage) = 0;
};

// ---- The message --------------------------------------------------------------------------

/// A mail message: header properties and the tree of bodies, loaded from source lines.
class TixMailMessage : public TComponent
{
public:
    /// Default of CharsPerLine.
    static constexpr int32_t DefaultCharsPerLine = 76;
    /// Default of CharSet.
    static constexpr std::string_view DefaultCharSet = "iso-8859-1";
    /// Default of ContentType (also of a text body).
    static constexpr std::string_view DefaultContentType = "text/plain";
    /// Default of ErrorProcessing.
    static constexpr TixMessageErrorProcessing DefaultErrorProcessing = meExtractMaximumData;
    /// Multipart levels that are parsed; a multipart part nested deeper stays an attachment.
    static constexpr int32_t MaxNestingLevel = 100;

    /// An empty message (Date now), owned by AOwner when one is given.
    explicit TixMailMessage(TComponent* AOwner = nullptr);
    /// Frees the bodies, newest first.
    ~TixMailMessage() override;

    /// The top-level bodies (owned).
    TixMessageBodies& GetBodies() const noexcept { return *FBodies; }
    /// The decoded subject.
    const std::string& GetSubject() const noexcept { return FSubject; }
    void SetSubject(const std::string& AValue);
    /// The sender; SetFrom copies into it.
    TixEmailAddressItem& GetFrom() const { return EnsureParts(), *FFrom; }
    void SetFrom(const TixEmailAddressItem& AValue);
    /// The "To" recipients; SetToList copies into them.
    TixEmailAddressList& GetToList() const { return EnsureParts(), *FToList; }
    void SetToList(const TixEmailAddressList& AValue);
    /// The "Cc" recipients; SetCCList copies into them.
    TixEmailAddressList& GetCCList() const { return EnsureParts(), *FCCList; }
    void SetCCList(const TixEmailAddressList& AValue);
    /// The "Bcc" recipients; SetBCCList copies into them.
    TixEmailAddressList& GetBCCList() const { return EnsureParts(), *FBCCList; }
    void SetBCCList(const TixEmailAddressList& AValue);
    /// From "Importance", "X-Priority" or "X-MSMail-Priority"; mpNormal without them.
    TixMessagePriority GetPriority() const noexcept { return FPriority; }
    void SetPriority(TixMessagePriority AValue);
    /// Local date and time of the message.
    TDateTime GetDate() const noexcept { return FDate; }
    /// Also sets TimeZoneOffset to the local zone.
    void SetDate(TDateTime AValue);
    /// "iso-2022-jp" in any letter case also sets Encoding cm8Bit and AllowESC.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue);
    /// Media type of the message, without parameters.
    const std::string& GetContentType() const noexcept { return FContentType; }
    void SetContentType(const std::string& AValue);
    /// The "type" parameter of the content type (multipart/related).
    const std::string& GetContentSubType() const noexcept { return FContentSubType; }
    void SetContentSubType(const std::string& AValue);
    /// Disposition token of the message, without parameters.
    const std::string& GetContentDisposition() const noexcept { return FContentDisposition; }
    void SetContentDisposition(const std::string& AValue);
    /// mfMIME with "Content-Type" or "MIME-Version", else mfUUencode; mfNone before a load.
    TixMessageFormat GetMessageFormat() const noexcept { return FMessageFormat; }
    void SetMessageFormat(TixMessageFormat AValue);
    /// Transfer encoding of the message body.
    TixEncodeMethod GetEncoding() const noexcept { return FEncoding; }
    void SetEncoding(TixEncodeMethod AValue);
    /// Encoding of header words; cmNone means the same as Encoding.
    TixEncodeMethod GetHeaderEncoding() const noexcept { return FHeaderEncoding; }
    void SetHeaderEncoding(TixEncodeMethod AValue);
    /// Value of "X-MimeOLE".
    const std::string& GetMimeOLE() const noexcept { return FMimeOLE; }
    void SetMimeOLE(const std::string& AValue);
    /// Value of "X-Mailer".
    const std::string& GetMailer() const noexcept { return FMailer; }
    void SetMailer(const std::string& AValue);
    /// Decoded "Reply-To" address.
    const std::string& GetReplyTo() const noexcept { return FReplyTo; }
    void SetReplyTo(const std::string& AValue);
    /// "References" split at spaces; a change calls Changed.
    TStringList& GetReferences() const { return EnsureParts(), *FReferences; }
    void SetReferences(const TStrings& AValue) { GetReferences().Assign(AValue); }
    /// "Newsgroups" split at commas; a change calls Changed.
    TStringList& GetNewsGroups() const { return EnsureParts(), *FNewsGroups; }
    void SetNewsGroups(const TStrings& AValue) { GetNewsGroups().Assign(AValue); }
    /// Header fields that are not among KnownFields, "Name: value" each.
    TStringList& GetExtraFields() const { return EnsureParts(), *FExtraFields; }
    void SetExtraFields(const TStrings& AValue) { GetExtraFields().Assign(AValue); }
    /// Decoded "Disposition-Notification-To" address.
    const std::string& GetReadReceiptTo() const noexcept { return FReadReceiptTo; }
    void SetReadReceiptTo(const std::string& AValue);
    /// "Message-ID" as written.
    const std::string& GetMessageID() const noexcept { return FMessageID; }
    void SetMessageID(const std::string& AValue);
    /// "In-Reply-To" as written.
    const std::string& GetInReplyTo() const noexcept { return FInReplyTo; }
    void SetInReplyTo(const std::string& AValue);
    /// Decoded "List-Unsubscribe" (also listed in ExtraFields).
    const std::string& GetListUnsubscribe() const noexcept { return FListUnsubscribe; }
    void SetListUnsubscribe(const std::string& AValue);
    /// Folding width handed to header lists and encoders.
    int32_t GetCharsPerLine() const noexcept { return FCharsPerLine; }
    void SetCharsPerLine(int32_t AValue);
    /// Handed to the encoders: ESC passes unencoded (ISO-2022-JP).
    bool GetAllowESC() const noexcept { return FAllowESC; }
    void SetAllowESC(bool AValue);
    /// Composing: also write RFC 2231 "name*" and "filename*" parameters.
    bool GetUseHeaderEncodingExtensions() const noexcept { return FUseHeaderEncodingExtensions; }
    void SetUseHeaderEncodingExtensions(bool AValue);
    /// Reaction to body data that cannot be decoded.
    TixMessageErrorProcessing GetErrorProcessing() const noexcept { return FErrorProcessing; }
    void SetErrorProcessing(TixMessageErrorProcessing AValue);
    /// The signature checker called after each LoadMessage; not owned, cleared when the
    /// component behind it is destroyed.
    IixMessageVerifier* GetDkim() const noexcept { return FDkim; }
    void SetDkim(IixMessageVerifier* AValue);

    /// Multipart boundary from the content type.
    const std::string& GetBoundary() const noexcept { return FBoundary; }
    void SetBoundary(const std::string& AValue);
    /// Zone offset of Date as a fraction of a day.
    TDateTime GetTimeZoneOffset() const noexcept { return FTimeZoneOffset; }
    /// The header lines as received.
    const TStringList& GetRawHeader() const { return EnsureParts(), *FRawHeader; }
    /// Index of the first line after the header's empty line.
    int32_t GetBodyStart() const noexcept { return FBodyStart; }
    /// The field names that become properties.
    const TStringList& GetKnownFields();
    /// The attachment bodies of all levels, images not included (rebuilt after a change).
    const TixAttachmentList& GetAttachmentList();
    /// The image bodies of all levels (rebuilt after a change).
    const TixImageList& GetImageList();

    /// Loads a whole message: header, bodies, then the Dkim check. Fires OnChanged once.
    /// With ErrorProcessing meStop, EixEncoderError of a body's data propagates.
    void LoadMessage(TStrings& ASource);
    /// As LoadMessage for lines that are not needed afterwards (a retrieved reply): the lines
    /// of a string list are freed as the bodies take them and ASource is empty at the end,
    /// also after an exception, so that the lines are not held beside the bodies. With Dkim
    /// set, which checks the lines after the bodies, it is LoadMessage and ASource stays.
    void TakeMessage(TStrings& ASource);
    /// Loads the message whose text runs from AStream's position to its end (lines cut as
    /// AddTextStream cuts them), as LoadMessage; the text is held once, in one block, while
    /// the bodies are made.
    void LoadFromStream(TStream& AStream);
    /// LoadFromStream of a message file; raises EFOpenError when it cannot be opened.
    void LoadFromFile(const std::string& AFileName);
    /// Loads the header only; Bodies stay empty.
    void LoadHeader(TStrings& ASource);
    /// Cuts ASource (this message's lines) into bodies and decodes them.
    void ParseBodies(TStrings& ASource);

    /// Appends the lines of all bodies to ALines: in a MIME message with several parts each
    /// between boundary lines with its part header; in a non-MIME message the attachments as
    /// uuencoded blocks. Raises EFOpenError for an attachment file that cannot be opened.
    void ComposeBodies(TStrings& ALines);
    /// Appends the encoded data of ABody to ALines (between "begin 644 name" and "end" for an
    /// attachment of a non-MIME message).
    void AddBodyData(TStrings& ALines, TixMessageBody& ABody);
    /// Sets a new Boundary, "Mark=_" and digits taken from a cryptographic random source, that
    /// does not begin any line of the bodies' 7bit or 8bit data.
    void GenerateBoundary();
    /// Replaces ALines with the whole message: the header fields of the properties (Bcc only
    /// with AIncludeBcc; a Message-ID is generated and stored when there is none), the content
    /// fields of a MIME message, then ComposeBodies. Raises as ComposeBodies.
    void SaveToStrings(TStrings& ALines, bool AIncludeBcc = false);
    /// Writes the whole message, lines ending in CR LF, to AStream from its position.
    void SaveToStream(TStream& AStream, bool AIncludeBcc = false);
    /// Writes the whole message to the file AFileName (created or replaced).
    void SaveToFile(const std::string& AFileName, bool AIncludeBcc = false);
    /// Holds OnChanged back until the matching EndUpdate; calls nest.
    void BeginUpdate() noexcept;
    /// Ends one BeginUpdate (never below none), then Changed.
    void EndUpdate();
    /// Empties the caches of body lists and text (always: they may point at bodies that are
    /// gone), then fires OnChanged unless held back.
    void Changed();
    /// The lines a viewer shows: the first HTML text, else the plain texts, else all texts.
    const TStringList& MessageText();
    /// True for two or more bodies or a "multipart/" content type.
    virtual bool IsMultipart() const;
    /// Resets the message but keeps CharSet, Encoding and HeaderEncoding.
    virtual void Clear();
    /// The header properties and the settings of reading and composing: not Bodies (the
    /// message's content) nor Dkim (a reference to another component).
    const TPropertyTable& GetPublishedProperties() const override;

    /// Fired by DoChanged after a change that is not held back.
    TNotifyEvent OnChanged;
    /// Asks for the stream an attachment's decoded data goes to.
    TixGetBodyStreamEvent OnSaveAttachment;
    /// Composing: asks for an attachment's source data.
    TixGetBodyStreamEvent OnLoadAttachment;
    /// An attachment's data was decoded into the stream OnSaveAttachment gave.
    TixAttachmentSavedEvent OnAttachmentSaved;
    /// A non-multipart body's data was decoded.
    TixBodyDataAddedEvent OnDataAdded;
    /// Progress of a body's encoder.
    TixBodyEncodingProgress OnEncodingProgress;

protected:
    friend class TixMessageBody;
    friend class TixTextBody;
    friend class TixMultipartBody;
    friend class TixAttachmentBody;
    friend class TixMessageComposer;

    void Notification(TComponent* AComponent, TOperation AOperation) override;
    void Loaded() override;

    /// A new body in AList of the class the content type and disposition choose.
    virtual TixMessageBody& CreateBody(TixMessageBodies& AList, std::string_view AContentType,
        std::string_view ADisposition);
    /// The one body of a non-multipart message, with the message header read into it.
    virtual TixMessageBody& CreateSingleBody(TStrings& ASource, TixMessageBodies& AList);
    /// A new attachment body for a uuencoded block.
    virtual TixMessageBody& CreateUUEncodedBody(TixMessageBodies& AList, const std::string& AFileName);
    /// Fires OnChanged with this component as Sender.
    virtual void DoChanged();
    /// Fires OnSaveAttachment with this component as Sender.
    virtual void DoSaveAttachment(TixMessageBody* ABody, std::string& AFileName, std::unique_ptr<TStream>& AData,
        bool& AHandled);
    /// Fires OnLoadAttachment with this component as Sender.
    virtual void DoLoadAttachment(TixMessageBody* ABody, std::string& AFileName, std::unique_ptr<TStream>& AData,
        bool& AHandled);
    /// Fires OnAttachmentSaved with this component as Sender.
    virtual void DoAttachmentSaved(TixMessageBody* ABody, const std::string& AFileName, TStream& AData);
    /// Fires OnDataAdded with this component as Sender.
    virtual void DoDataAdded(TixMessageBody* ABody, TStream& AData);
    /// Fires OnEncodingProgress with this component as Sender.
    virtual void DoEncodingProgress(TixMessageBody* ABody, int64_t ABytesProceed, int64_t ATotalBytes);
    /// Reads format, content type, subtype, boundary and character set.
    virtual void ParseContentType(TixMailHeaderFieldList& AHeader);
    /// Writes "Content-Type" for composing (nothing for a non-MIME message): a multipart type
    /// ("multipart/mixed" unless ContentType is one) with "type" and "boundary", otherwise
    /// ContentType (or "text/plain") with "charset".
    virtual void AssignContentType(TixMailHeaderFieldList& AHeader);
    /// Adds the field names that become properties to AFields.
    virtual void RegisterKnownFields(TStrings& AFields);
    /// Full reset.
    virtual void InternalClear();

    /// Reads the header properties from ASource.
    void ParseHeader(TStrings& ASource);
    /// HeaderEncoding, or Encoding when that is cmNone.
    TixEncodeMethod GetEffectiveHeaderEncoding() const noexcept;
    /// A load is under way (changes are not notified).
    bool IsParsing() const noexcept { return FParseCount > 0; }

private:
    /// Raises ParseCount for a parse; it never goes below 0.
    class TParseScope
    {
    public:
        explicit TParseScope(TixMailMessage& AMessage) noexcept : FMessage(AMessage) { ++FMessage.FParseCount; }
        ~TParseScope() { FMessage.FParseCount = FMessage.FParseCount > 0 ? FMessage.FParseCount - 1 : 0; }
        TParseScope(const TParseScope&) = delete;
        TParseScope& operator=(const TParseScope&) = delete;

    private:
        TixMailMessage& FMessage;
    };
    class TUpdateScope;
    void ParseDate(TixMailHeaderFieldList& AHeader);
    void ParsePriority(TixMailHeaderFieldList& AHeader);
    void ReadExtraFields(TixMailHeaderFieldList& AHeader);
    void SplitMultipart(TStrings& ASource);
    void SplitSinglePart(TStrings& ASource);
    TixMessageBody& StartPart(TStrings& ASource, int32_t ABoundaryLine, int32_t& AContentStart);
    void FinishBody(TixMessageBody& ABody, int32_t ALineCount);
    /// Lets the body data stream free the lines of ASource when they are lines of the list
    /// that TakeMessage is loading (its own or a window of it).
    void SetReleaseTarget(const TStrings& ASource);
    void RemoveEmptyTextBodies();
    void FillBodyLists();
    /// A nested message: its bodies are listed at ALevel for the outer message of AOuterOwner,
    /// which also receives its events. It sets up no date, header lists or addresses.
    TixMailMessage(TixMessageBodies& AOuterOwner, int32_t ALevel);
    /// The nested message of a multipart body.
    static std::unique_ptr<TixMailMessage> CreateNested(TixMessageBodies& AOuterOwner, int32_t ALevel);
    /// Makes the addresses and line lists of the header when they are not made yet (a nested
    /// message makes them only when asked for them).
    void EnsureParts() const;
    void SetLineOffset(int32_t AValue) noexcept { FLineOffset = AValue; }

    std::unique_ptr<TixMessageBodies> FBodies;
    std::string FSubject;
    // The header's addresses and line lists, made by EnsureParts.
    mutable std::unique_ptr<TixEmailAddressItem> FFrom;
    mutable std::unique_ptr<TixEmailAddressList> FToList;
    mutable std::unique_ptr<TixEmailAddressList> FCCList;
    mutable std::unique_ptr<TixEmailAddressList> FBCCList;
    TixMessagePriority FPriority = mpNormal;
    TDateTime FDate = 0;
    std::string FCharSet{DefaultCharSet};
    std::string FContentType{DefaultContentType};
    std::string FContentSubType;
    std::string FContentDisposition;
    TixMessageFormat FMessageFormat = mfNone;
    TixEncodeMethod FEncoding = cmNone;
    TixEncodeMethod FHeaderEncoding = cmNone;
    std::string FMimeOLE;
    std::string FMailer;
    std::string FReplyTo;
    mutable std::unique_ptr<TStringList> FReferences;
    mutable std::unique_ptr<TStringList> FNewsGroups;
    mutable std::unique_ptr<TStringList> FExtraFields;
    std::string FReadReceiptTo;
    std::string FMessageID;
    std::string FInReplyTo;
    std::string FListUnsubscribe;
    int32_t FCharsPerLine = DefaultCharsPerLine;
    bool FAllowESC = false;
    bool FUseHeaderEncodingExtensions = false;
    TixMessageErrorProcessing FErrorProcessing = DefaultErrorProcessing;
    IixMessageVerifier* FDkim = nullptr;
    TComponent* FDkimComponent = nullptr;

    std::string FBoundary;
    TDateTime FTimeZoneOffset = 0;
    mutable std::unique_ptr<TStringList> FRawHeader;
    int32_t FBodyStart = 0;
    std::unique_ptr<TStringList> FKnownFields;
    mutable std::unique_ptr<TStringList> FMessageText;
    TixAttachmentList FAttachmentList;
    TixImageList FImageList;
    bool FBodyListsFilled = false;
    std::unique_ptr<TixBodyDataStream> FDataStream;
    /// The source lines TakeMessage loads and frees (top-level message only).
    TStringList* FReleasableSource = nullptr;
    int32_t FUpdateCount = 0;
    int32_t FParseCount = 0;
    /// Index in the top-level source of this message's line 0 (nested messages).
    int32_t FLineOffset = 0;
};

} // namespace ix
