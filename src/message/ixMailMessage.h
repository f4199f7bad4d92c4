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

namespace ix {

class TixMailMessage;
class TixMessageBodies;
class TixMessageBody;
class TixMailHeaderFieldList;
class TixBodyDataStream;

enum TixMessagePriority : uint8_t { mpLow, mpNormal, mpHigh };
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
    virtual ~IixMessageVerifier() = default;
    /// Checks the signatures of the message in AMessage; raises on a failure.
    virtual void Verify(TStrings& AMessage) = 0;
};

// ---- Persistence of bodies ----------------------------------------------------------------

/// Writes the values of bodies to a stream: 32-bit integers little-endian, texts as their
/// length and bytes.
class TixBodyWriter
{
public:
    explicit TixBodyWriter(TStream& AStream) noexcept : FStream(AStream) {}
    void WriteInteger(int32_t AValue);
    void WriteString(std::string_view AValue);

private:
    TStream& FStream;
};

/// Reads what TixBodyWriter wrote. Raises EReadError "Stream read error" on truncated data and
/// EReadError "Invalid body data" on a length that does not fit the stream.
class TixBodyReader
{
public:
    explicit TixBodyReader(TStream& AStream) noexcept : FStream(AStream) {}
    int32_t ReadInteger();
    std::string ReadString();

private:
    TStream& FStream;
};

// ---- Bodies -------------------------------------------------------------------------------

/// The bodies of one message level, in order; owns them. Owner is the message that receives
/// change notifications and events (for nested lists the outermost message).
class TixMessageBodies : public TPersistent
{
public:
    /// Makes a body of the registered class; the body adds itself to AOwner.
    using TBodyFactory = TixMessageBody& (*)(TixMessageBodies& AOwner);

    /// A list for AOwner (may be null) at nesting level ALevel (0: the message's own bodies).
    explicit TixMessageBodies(TixMailMessage* AOwner = nullptr, int32_t ALevel = 0) noexcept;
    ~TixMessageBodies() override;

    TixMailMessage* GetOwner() const noexcept { return FOwner; }
    /// How many multipart levels lie above this list.
    int32_t GetLevel() const noexcept { return FLevel; }
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Body AIndex; raises EListError for a bad index.
    TixMessageBody& GetItem(int32_t AIndex) const;
    TixMessageBody& operator[](int32_t AIndex) const { return GetItem(AIndex); }
    /// Frees body AIndex; raises EListError for a bad index.
    void Delete(int32_t AIndex);
    void Clear();
    /// Copies the bodies of another list, each as a new body of the same class.
    void Assign(const TPersistent& ASource) override;

    /// A new body of class T at the end of the list, initialised and cleared.
    template <typename T>
    T& Add()
    {
        auto body = std::make_unique<T>(*this);
        T& result = *body;
        Insert(std::move(body));
        return result;
    }
    /// A new body of the registered class AClassName; raises EConvertError
    /// "Unknown body class AClassName" when none is registered.
    TixMessageBody& AddByClassName(std::string_view AClassName);

    /// Stores the "Items" value: the body count, then per body its class name and its data.
    void WriteItems(TixBodyWriter& AWriter) const;
    /// Replaces the bodies with those stored by WriteItems.
    void ReadItems(TixBodyReader& AReader);

    /// Registers (or replaces) the class AClassName; the four body classes are registered.
    static void RegisterBodyClass(std::string_view AClassName, TBodyFactory AFactory);
    /// The factory of AClassName; null when none is registered.
    static TBodyFactory FindBodyClass(std::string_view AClassName);

private:
    friend class TixMessageBody;
    void Insert(std::unique_ptr<TixMessageBody> ABody);
    void SetOwner(TixMailMessage* AOwner) noexcept { FOwner = AOwner; }

    TixMailMessage* FOwner;
    int32_t FLevel;
    std::vector<std::unique_ptr<TixMessageBody>> FItems;
};

/// One MIME part: its header values and the position of its lines in the message source.
class TixMessageBody : public TPersistent
{
public:
    explicit TixMessageBody(TixMessageBodies& AOwner);
    ~TixMessageBody() override;

    TixMessageBodies& GetOwner() const noexcept { return *FOwner; }
    /// The message that receives changes and events; null for a list without one.
    TixMailMessage* GetMessage() const noexcept { return FOwner->GetOwner(); }

    /// Media type without parameters.
    const std::string& GetContentType() const noexcept { return FContentType; }
    void SetContentType(const std::string& AValue) { DoSetContentType(AValue); }
    /// Transfer encoding of this body.
    TixEncodeMethod GetBodyEncoding() const noexcept { return FEncoding; }
    void SetEncoding(TixEncodeMethod AValue);
    /// Disposition token without parameters.
    const std::string& GetContentDisposition() const noexcept { return FContentDisposition; }
    void SetContentDisposition(const std::string& AValue);
    /// Header fields of this part that are not among KnownFields, "Name: value" each.
    TStringList& GetExtraFields() noexcept { return FExtraFields; }
    /// The field names that become properties of this body.
    const TStringList& GetKnownFields();
    /// The part's header lines as received.
    TStringList& GetRawHeader() noexcept { return FRawHeader; }
    /// The encoder of this body (made on first use).
    TixEncoder& GetEncoder();

    /// Bytes of encoded data received (lines with CR LF).
    int32_t GetEncodedSize() const noexcept { return FEncodedSize; }
    /// Source lines of the content.
    int32_t GetEncodedLines() const noexcept { return FEncodedLines; }
    /// Index in the top-level source lines of the first content line.
    int32_t GetEncodedStart() const noexcept { return FEncodedStart; }
    /// Index in the top-level source lines of the first header line.
    int32_t GetHeaderStart() const noexcept { return FHeaderStart; }

    /// Copies the header values of another body (and what its class adds).
    void Assign(const TPersistent& ASource) override;

    /// Whether EncodedSize and EncodedLines are recorded for this body.
    virtual bool TracksEncodedSize() const;
    /// The transfer encoding the data is decoded with (see the .cpp for the rules).
    virtual TixEncodeMethod GetEncoding() const;
    /// Reads the part header.
    virtual void ParseBodyHeader(TixMailHeaderFieldList& AHeader);
    /// A new stream that receives the decoded data; null: the data is not decoded.
    virtual std::unique_ptr<TStream> GetDestinationStream();
    /// Shortens AStream by its final CR LF (the line break before the next boundary).
    virtual void TrimTrailingCrlf(TStream& AStream);
    /// The decoded data arrived in AStream: rewinds it and fires the message's OnDataAdded.
    virtual void DataAdded(TStream& AStream);
    /// Decodes ASource into ADestination with GetEncoding, reacting to bad data per the
    /// message's ErrorProcessing; meStop lets EixEncoderError through.
    virtual void DecodeData(TStream& ASource, TStream& ADestination);
    /// Resets the values (see the .cpp).
    virtual void Clear();

    /// Stores the body's values (extra fields, content type, encoding, disposition).
    virtual void WriteBodyData(TixBodyWriter& AWriter) const;
    /// Reads what WriteBodyData stored.
    virtual void ReadBodyData(TixBodyReader& AReader);

protected:
    friend class TixMessageBodies;
    friend class TixMailMessage;

    /// Stores AValue, then Changed.
    virtual void DoSetContentType(const std::string& AValue);
    /// Makes the lists; descendants add theirs.
    virtual void InitBody();
    /// The three content fields; descendants add theirs.
    virtual void RegisterKnownFields(TStrings& AFields);
    /// Tells the message that something changed.
    void Changed();
    /// Copies the part header that starts at AHeader's HeaderStart into RawHeader and the
    /// fields that are not known into ExtraFields.
    void ReadHeaderLines(TixMailHeaderFieldList& AHeader);
    void SetPosition(int32_t AHeaderStart, int32_t AEncodedStart) noexcept;
    void SetEncodedSize(int32_t ASize, int32_t ALines) noexcept;

private:
    TixMessageBodies* FOwner;
    std::string FContentType;
    TixEncodeMethod FEncoding = cmNone;
    std::unique_ptr<TixEncoder> FEncoder;
    std::string FContentDisposition;
    TStringList FExtraFields;
    std::unique_ptr<TStringList> FKnownFields;
    TStringList FRawHeader;
    int32_t FEncodedSize = 0;
    int32_t FEncodedLines = 0;
    int32_t FEncodedStart = 0;
    int32_t FHeaderStart = 0;
};

/// A text part: its decoded lines and character set.
class TixTextBody : public TixMessageBody
{
public:
    explicit TixTextBody(TixMessageBodies& AOwner);

    /// The "charset" parameter of the part.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue);
    /// The decoded text, one line each.
    TStringList& GetStrings() noexcept { return FStrings; }
    /// The character set the text is converted with: the body's in a multipart message,
    /// otherwise the message's.
    std::string GetEffectiveCharSet() const;

    void Assign(const TPersistent& ASource) override;
    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    std::unique_ptr<TStream> GetDestinationStream() override;
    /// Converts the decoded bytes from the effective character set and appends the lines.
    void DataAdded(TStream& AStream) override;
    void Clear() override;
    void WriteBodyData(TixBodyWriter& AWriter) const override;
    void ReadBodyData(TixBodyReader& AReader) override;

protected:
    void InitBody() override;

private:
    std::string FCharSet;
    TStringList FStrings;
};

/// A multipart part: a nested message holds its boundary and its bodies.
class TixMultipartBody : public TixMessageBody
{
public:
    explicit TixMultipartBody(TixMessageBodies& AOwner);
    ~TixMultipartBody() override;

    /// The "type" parameter (multipart/related).
    const std::string& GetContentSubType() const noexcept { return FContentSubType; }
    void SetContentSubType(const std::string& AValue);
    /// The boundary of this part.
    const std::string& GetBoundary() const;
    void SetBoundary(const std::string& AValue);
    /// The nested message.
    TixMailMessage& GetMessageObject() const noexcept { return *FMessage; }
    /// The nested bodies.
    TixMessageBodies& GetBodies() const;

    void Assign(const TPersistent& ASource) override;
    bool TracksEncodedSize() const override;
    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    std::unique_ptr<TStream> GetDestinationStream() override;
    /// Keeps the content lines for DataAdded instead of copying them, when ASource is the
    /// message's own line data.
    void DecodeData(TStream& ASource, TStream& ADestination) override;
    /// Parses the nested bodies from the content; fires no OnDataAdded.
    void DataAdded(TStream& AStream) override;
    void Clear() override;
    void WriteBodyData(TixBodyWriter& AWriter) const override;
    void ReadBodyData(TixBodyReader& AReader) override;

protected:
    void DoSetContentType(const std::string& AValue) override;
    void InitBody() override;

private:
    void ParseNested(TStrings& ALines);

    std::unique_ptr<TixMailMessage> FMessage;
    std::string FContentSubType;
    /// Content lines handed over by DecodeData (no copy); null otherwise.
    const TixBodyDataStream* FPendingLines = nullptr;
};

/// An attachment: its file name and content ID; the data goes to the application's stream.
class TixAttachmentBody : public TixMessageBody
{
public:
    explicit TixAttachmentBody(TixMessageBodies& AOwner);

    /// Content-ID without angle brackets.
    const std::string& GetContentID() const noexcept { return FContentID; }
    void SetContentID(const std::string& AValue);
    /// The file name, made safe (no path separators or reserved characters).
    const std::string& GetFileName() const noexcept { return FFileName; }
    void SetFileName(const std::string& AValue) { DoSetFileName(AValue); }
    /// The name written instead of the file name when composing, when set.
    const std::string& GetContentName() const noexcept { return FContentName; }
    void SetContentName(const std::string& AValue);

    /// AName with NUL, control characters, '"', '*', '/', ':', '<', '>', '?', '\' and '|' made
    /// '_', one trailing blank or '.' removed; "_" for an empty result or one of dots only.
    static std::string MakeSafeFileName(std::string_view AName);

    void Assign(const TPersistent& ASource) override;
    /// cmUUEncode in a message whose format is mfUUencode.
    TixEncodeMethod GetEncoding() const override;
    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// Fires OnSaveAttachment and stores the file name it returns.
    std::unique_ptr<TStream> GetDestinationStream() override;
    /// Fires OnDataAdded, then OnAttachmentSaved.
    void DataAdded(TStream& AStream) override;
    void Clear() override;
    void WriteBodyData(TixBodyWriter& AWriter) const override;
    void ReadBodyData(TixBodyReader& AReader) override;

protected:
    virtual void DoSetFileName(const std::string& AValue);
    void RegisterKnownFields(TStrings& AFields) override;
    /// Content-ID of AHeader without one pair of angle brackets.
    static std::string ReadContentID(TixMailHeaderFieldList& AHeader);
    /// Sets the stored values without side effects of DoSetFileName.
    void StoreFileName(const std::string& AValue);

private:
    std::string ReadFileName(TixMailHeaderFieldList& AHeader);

    std::string FContentID;
    std::string FFileName;
    std::string FContentName;
};

/// An inline image.
class TixImageBody : public TixAttachmentBody
{
public:
    explicit TixImageBody(TixMessageBodies& AOwner);

    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    void Clear() override;

protected:
    /// Also makes a Content-ID and an "image/ext" type when they are missing.
    void DoSetFileName(const std::string& AValue) override;
};

/// Bodies of one class gathered from all levels of a message, in tree order (not owned).
template <typename T>
class TixBodyRefList
{
public:
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Raises EListError for a bad index.
    T& GetItem(int32_t AIndex) const
    {
        if (AIndex < 0 || AIndex >= Count())
            RaiseListIndexError(AIndex);
        return *FItems[static_cast<size_t>(AIndex)];
    }
    T& operator[](int32_t AIndex) const { return GetItem(AIndex); }
    void Add(T& ABody) { FItems.push_back(&ABody); }
    void Clear() noexcept { FItems.clear(); }

private:
    std::vector<T*> FItems;
};

/// The attachment bodies (images not included) of a message.
class TixAttachmentList : public TixBodyRefList<TixAttachmentBody>
{
};

/// The image bodies of a message.
class TixImageList : public TixBodyRefList<TixImageBody>
{
};

// ---- The message --------------------------------------------------------------------------

/// A mail message: header properties and the tree of bodies, loaded from source lines.
class TixMailMessage : public TComponent
{
public:
    static constexpr int32_t DefaultCharsPerLine = 76;
    static constexpr std::string_view DefaultCharSet = "iso-8859-1";
    static constexpr std::string_view DefaultContentType = "text/plain";
    static constexpr TixMessageErrorProcessing DefaultErrorProcessing = meExtractMaximumData;
    /// Multipart levels that are parsed; a multipart part nested deeper stays an attachment.
    static constexpr int32_t MaxNestingLevel = 100;

    explicit TixMailMessage(TComponent* AOwner = nullptr);
    ~TixMailMessage() override;

    TixMessageBodies& GetBodies() const noexcept { return *FBodies; }
    const std::string& GetSubject() const noexcept { return FSubject; }
    void SetSubject(const std::string& AValue);
    TixEmailAddressItem& GetFrom() const noexcept { return *FFrom; }
    void SetFrom(const TixEmailAddressItem& AValue);
    TixEmailAddressList& GetToList() const noexcept { return *FToList; }
    void SetToList(const TixEmailAddressList& AValue);
    TixEmailAddressList& GetCCList() const noexcept { return *FCCList; }
    void SetCCList(const TixEmailAddressList& AValue);
    TixEmailAddressList& GetBCCList() const noexcept { return *FBCCList; }
    void SetBCCList(const TixEmailAddressList& AValue);
    TixMessagePriority GetPriority() const noexcept { return FPriority; }
    void SetPriority(TixMessagePriority AValue);
    /// Local date and time of the message.
    TDateTime GetDate() const noexcept { return FDate; }
    /// Also sets TimeZoneOffset to the local zone.
    void SetDate(TDateTime AValue);
    /// "iso-2022-jp" in any letter case also sets Encoding cm8Bit and AllowESC.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue);
    const std::string& GetContentType() const noexcept { return FContentType; }
    void SetContentType(const std::string& AValue);
    const std::string& GetContentSubType() const noexcept { return FContentSubType; }
    void SetContentSubType(const std::string& AValue);
    const std::string& GetContentDisposition() const noexcept { return FContentDisposition; }
    void SetContentDisposition(const std::string& AValue);
    TixMessageFormat GetMessageFormat() const noexcept { return FMessageFormat; }
    void SetMessageFormat(TixMessageFormat AValue);
    /// Transfer encoding of the message body.
    TixEncodeMethod GetEncoding() const noexcept { return FEncoding; }
    void SetEncoding(TixEncodeMethod AValue);
    /// Encoding of header words; cmNone means the same as Encoding.
    TixEncodeMethod GetHeaderEncoding() const noexcept { return FHeaderEncoding; }
    void SetHeaderEncoding(TixEncodeMethod AValue);
    const std::string& GetMimeOLE() const noexcept { return FMimeOLE; }
    void SetMimeOLE(const std::string& AValue);
    const std::string& GetMailer() const noexcept { return FMailer; }
    void SetMailer(const std::string& AValue);
    const std::string& GetReplyTo() const noexcept { return FReplyTo; }
    void SetReplyTo(const std::string& AValue);
    TStringList& GetReferences() const noexcept { return *FReferences; }
    void SetReferences(const TStrings& AValue) { FReferences->Assign(AValue); }
    TStringList& GetNewsGroups() const noexcept { return *FNewsGroups; }
    void SetNewsGroups(const TStrings& AValue) { FNewsGroups->Assign(AValue); }
    /// Header fields that are not among KnownFields, "Name: value" each.
    TStringList& GetExtraFields() const noexcept { return *FExtraFields; }
    void SetExtraFields(const TStrings& AValue) { FExtraFields->Assign(AValue); }
    const std::string& GetReadReceiptTo() const noexcept { return FReadReceiptTo; }
    void SetReadReceiptTo(const std::string& AValue);
    const std::string& GetMessageID() const noexcept { return FMessageID; }
    void SetMessageID(const std::string& AValue);
    const std::string& GetInReplyTo() const noexcept { return FInReplyTo; }
    void SetInReplyTo(const std::string& AValue);
    const std::string& GetListUnsubscribe() const noexcept { return FListUnsubscribe; }
    void SetListUnsubscribe(const std::string& AValue);
    int32_t GetCharsPerLine() const noexcept { return FCharsPerLine; }
    void SetCharsPerLine(int32_t AValue);
    bool GetAllowESC() const noexcept { return FAllowESC; }
    void SetAllowESC(bool AValue);
    bool GetUseHeaderEncodingExtensions() const noexcept { return FUseHeaderEncodingExtensions; }
    void SetUseHeaderEncodingExtensions(bool AValue);
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
    const TStringList& GetRawHeader() const noexcept { return *FRawHeader; }
    /// Index of the first line after the header's empty line.
    int32_t GetBodyStart() const noexcept { return FBodyStart; }
    /// The field names that become properties.
    const TStringList& GetKnownFields();
    /// The attachment and image bodies of all levels (rebuilt after a change).
    const TixAttachmentList& GetAttachmentList();
    const TixImageList& GetImageList();

    /// Loads a whole message: header, bodies, then the Dkim check. Fires OnChanged once.
    /// With ErrorProcessing meStop, EixEncoderError of a body's data propagates.
    void LoadMessage(TStrings& ASource);
    /// Loads the header only; Bodies stay empty.
    void LoadHeader(TStrings& ASource);
    /// Cuts ASource (this message's lines) into bodies and decodes them.
    void ParseBodies(TStrings& ASource);
    void BeginUpdate() noexcept;
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

    TNotifyEvent OnChanged;
    TixGetBodyStreamEvent OnSaveAttachment;
    TixGetBodyStreamEvent OnLoadAttachment;
    TixAttachmentSavedEvent OnAttachmentSaved;
    TixBodyDataAddedEvent OnDataAdded;
    TixBodyEncodingProgress OnEncodingProgress;

protected:
    friend class TixMessageBody;
    friend class TixTextBody;
    friend class TixMultipartBody;
    friend class TixAttachmentBody;

    void Notification(TComponent* AComponent, TOperation AOperation) override;
    void Loaded() override;

    /// A new body in AList of the class the content type and disposition choose.
    virtual TixMessageBody& CreateBody(TixMessageBodies& AList, std::string_view AContentType,
        std::string_view ADisposition);
    /// The one body of a non-multipart message, with the message header read into it.
    virtual TixMessageBody& CreateSingleBody(TStrings& ASource, TixMessageBodies& AList);
    /// A new attachment body for a uuencoded block.
    virtual TixMessageBody& CreateUUEncodedBody(TixMessageBodies& AList, const std::string& AFileName);
    virtual void DoChanged();
    virtual void DoSaveAttachment(TixMessageBody* ABody, std::string& AFileName, std::unique_ptr<TStream>& AData,
        bool& AHandled);
    virtual void DoLoadAttachment(TixMessageBody* ABody, std::string& AFileName, std::unique_ptr<TStream>& AData,
        bool& AHandled);
    virtual void DoAttachmentSaved(TixMessageBody* ABody, const std::string& AFileName, TStream& AData);
    virtual void DoDataAdded(TixMessageBody* ABody, TStream& AData);
    virtual void DoEncodingProgress(TixMessageBody* ABody, int64_t ABytesProceed, int64_t ATotalBytes);
    /// Reads format, content type, subtype, boundary and character set.
    virtual void ParseContentType(TixMailHeaderFieldList& AHeader);
    /// Adds the field names that become properties to AFields.
    virtual void RegisterKnownFields(TStrings& AFields);
    /// Full reset.
    virtual void InternalClear();

    /// Reads the header properties from ASource.
    void ParseHeader(TStrings& ASource);
    /// HeaderEncoding, or Encoding when that is cmNone.
    TixEncodeMethod GetEffectiveHeaderEncoding() const noexcept;
    bool IsParsing() const noexcept { return FParseCount > 0; }

private:
    class TParseScope;
    class TUpdateScope;
    void ParseDate(TixMailHeaderFieldList& AHeader);
    void ParsePriority(TixMailHeaderFieldList& AHeader);
    void ReadExtraFields(TixMailHeaderFieldList& AHeader);
    void SplitMultipart(TStrings& ASource);
    void SplitSinglePart(TStrings& ASource);
    TixMessageBody& StartPart(TStrings& ASource, int32_t ABoundaryLine, int32_t& AContentStart);
    void FinishBody(TixMessageBody& ABody, int32_t ALineCount);
    void RemoveEmptyTextBodies();
    void FillBodyLists();
    /// A nested message takes its boundary, level and line offset from its multipart body.
    void SetNesting(TixMessageBodies& AOuterOwner, int32_t ALevel);
    void SetLineOffset(int32_t AValue) noexcept { FLineOffset = AValue; }

    std::unique_ptr<TixMessageBodies> FBodies;
    std::string FSubject;
    std::unique_ptr<TixEmailAddressItem> FFrom;
    std::unique_ptr<TixEmailAddressList> FToList;
    std::unique_ptr<TixEmailAddressList> FCCList;
    std::unique_ptr<TixEmailAddressList> FBCCList;
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
    std::unique_ptr<TStringList> FReferences;
    std::unique_ptr<TStringList> FNewsGroups;
    std::unique_ptr<TStringList> FExtraFields;
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
    std::unique_ptr<TStringList> FRawHeader;
    int32_t FBodyStart = 0;
    std::unique_ptr<TStringList> FKnownFields;
    std::unique_ptr<TStringList> FMessageText;
    TixAttachmentList FAttachmentList;
    TixImageList FImageList;
    bool FBodyListsFilled = false;
    std::unique_ptr<TixBodyDataStream> FDataStream;
    int32_t FUpdateCount = 0;
    int32_t FParseCount = 0;
    /// Index in the top-level source of this message's line 0 (nested messages).
    int32_t FLineOffset = 0;
};

} // namespace ix
