// The base of MIME body parts, the list that owns them with its registry of body classes,
// and the stream format bodies are stored in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ixClasses.h"
#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "message/ixEncoder.h"

namespace ix {

class TixMailMessage;
class TixMessageBodies;
class TixMessageBody;
class TixMailHeaderFieldList;

// ---- Persistence of bodies ----------------------------------------------------------------

/// Writes the values of bodies to a stream: 32-bit integers little-endian, texts as their
/// length and bytes.
class TixBodyWriter
{
public:
    /// A writer to AStream, which must outlive it.
    explicit TixBodyWriter(TStream& AStream) noexcept : FStream(AStream) {}
    /// Writes AValue as 4 bytes, little-endian.
    void WriteInteger(int32_t AValue);
    /// Writes the length of AValue, then its bytes.
    void WriteString(std::string_view AValue);

private:
    TStream& FStream;
};

/// Reads what TixBodyWriter wrote. Raises EReadError "Stream read error" on truncated data and
/// EReadError "Invalid body data" on a length that does not fit the stream.
class TixBodyReader
{
public:
    /// A reader of AStream, which must outlive it.
    explicit TixBodyReader(TStream& AStream) noexcept : FStream(AStream) {}
    /// Reads 4 bytes, little-endian.
    int32_t ReadInteger();
    /// Reads a length, then that many bytes.
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
    /// Frees the bodies.
    ~TixMessageBodies() override;

    /// The message that receives changes and events; may be null.
    TixMailMessage* GetOwner() const noexcept { return FOwner; }
    /// How many multipart levels lie above this list.
    int32_t GetLevel() const noexcept { return FLevel; }
    /// The number of bodies.
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Body AIndex; raises EListError for a bad index.
    TixMessageBody& GetItem(int32_t AIndex) const;
    /// Body AIndex, as GetItem.
    TixMessageBody& operator[](int32_t AIndex) const { return GetItem(AIndex); }
    /// Frees body AIndex; raises EListError for a bad index.
    void Delete(int32_t AIndex);
    /// Frees all bodies, newest first, then tells the owner when there were any.
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
    /// A body of AOwner; made through TixMessageBodies::Add, which adds, initialises and clears it.
    explicit TixMessageBody(TixMessageBodies& AOwner);
    /// Frees the encoder and the lists.
    ~TixMessageBody() override;

    /// The list the body belongs to.
    TixMessageBodies& GetOwner() const noexcept { return *FOwner; }
    /// The message that receives changes and events; null for a list without one.
    TixMailMessage* GetMessage() const noexcept { return FOwner->GetOwner(); }

    /// Media type without parameters.
    const std::string& GetContentType() const noexcept { return FContentType; }
    /// Stores the media type, then Changed; a multipart body passes it to its nested message.
    virtual void SetContentType(const std::string& AValue);
    /// The transfer encoding stored for this body (its header's, else the message's); the
    /// data is decoded with GetEncoding, which may differ.
    TixEncodeMethod GetStoredEncoding() const noexcept { return FEncoding; }
    /// Stores the body's own transfer encoding (GetStoredEncoding), then Changed.
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
    /// The transfer encoding the data is decoded with: the stored one in a multipart message,
    /// else the message's Encoding unless that is cmNone.
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

    /// Writes the part header for composing: "Content-Type", "Content-Transfer-Encoding" and
    /// ExtraFields (descendants write their own fields).
    virtual void AssignBodyHeader(TixMailHeaderFieldList& AHeader);
    /// A new stream with the data to encode when composing; null when there is none.
    virtual std::unique_ptr<TStream> GetSourceStream();
    /// Encodes ASource into ADestination with GetEncoding and the message's AllowESC and
    /// CharsPerLine.
    virtual void EncodeData(TStream& ASource, TStream& ADestination);
    /// While GetEncoding is cmNone and the message is not being parsed: chooses the stored
    /// encoding from the source data (7bit, quoted-printable or base64; quoted-printable for
    /// data that 7bit cannot carry unchanged: lines over 998 bytes, a bare CR or LF, NUL).
    virtual void SelectEncoding();

    /// Stores the body's values (extra fields, content type, encoding, disposition).
    virtual void WriteBodyData(TixBodyWriter& AWriter) const;
    /// Reads what WriteBodyData stored.
    virtual void ReadBodyData(TixBodyReader& AReader);

protected:
    friend class TixMessageBodies;
    friend class TixMailMessage;

    /// Makes the lists; descendants add theirs.
    virtual void InitBody();
    /// The three content fields; descendants add theirs.
    virtual void RegisterKnownFields(TStrings& AFields);
    /// Tells the message that something changed.
    void Changed();
    /// Copies the part header that starts at AHeader's HeaderStart into RawHeader and the
    /// fields that are not known into ExtraFields.
    void ReadHeaderLines(TixMailHeaderFieldList& AHeader);
    /// Records where the part's header and content start in the top-level source lines.
    void SetPosition(int32_t AHeaderStart, int32_t AEncodedStart) noexcept;
    /// Records the size in bytes (lines with CR LF) and the number of lines of the encoded content.
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

} // namespace ix
