// The MIME body classes: text, multipart, attachment and inline image, and the flattened
// lists of attachments and images.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ixLineBuffer.h"
#include "message/ixMessageBody.h"

namespace ix {

/// A text part: its decoded lines and character set.
class TixTextBody : public TixMessageBody
{
public:
    /// A text body of AOwner (made through TixMessageBodies::Add).
    explicit TixTextBody(TixMessageBodies& AOwner);

    /// The "charset" parameter of the part.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue);
    /// The decoded text, one line each; the lines stand in one block of text (a line buffer).
    TStrings& GetStrings() noexcept { return FStrings; }
    /// The character set the text is converted with: the body's in a multipart message,
    /// otherwise the message's.
    std::string GetEffectiveCharSet() const;

    /// Also copies the character set and the lines of another text body.
    void Assign(const TPersistent& ASource) override;
    /// Also reads the "charset" parameter and reads the header with the effective one.
    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// A stream that adds the decoded bytes to the lines as they come when the message has no
    /// OnDataAdded handler (and keeps what was decoded on failure); else a new part content.
    std::unique_ptr<TStream> GetDestinationStream() override;
    /// Hands the content lines on to DataAdded in the destination instead of copying them,
    /// when the text is not transfer-encoded.
    void DecodeData(TStream& ASource, TStream& ADestination) override;
    /// Converts the decoded bytes from the effective character set and appends the lines.
    /// Without an OnDataAdded handler the decoder wrote them into the lines already, and the
    /// message's DoDataAdded gets a stream that reads nothing.
    void DataAdded(TStream& AStream) override;
    /// Also empties the lines; type "text/plain", the message's character set.
    void Clear() override;
    /// Also the "charset" item of the character set the text is converted to.
    void AssignBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// The lines joined with CR LF (without the last line break), in the effective character
    /// set (the message's when that is empty).
    std::unique_ptr<TStream> GetSourceStream() override;
    /// Stores the text and the character set, then the base values.
    void WriteBodyData(TixBodyWriter& AWriter) const override;
    /// Reads what WriteBodyData stored.
    void ReadBodyData(TixBodyReader& AReader) override;

protected:
    void InitBody() override;

private:
    std::string FCharSet;
    TLineBuffer FStrings;
};

/// A multipart part: a nested message holds its boundary and its bodies.
class TixMultipartBody : public TixMessageBody
{
public:
    /// A multipart body of AOwner (made through TixMessageBodies::Add).
    explicit TixMultipartBody(TixMessageBodies& AOwner);
    /// Frees the nested message and its bodies.
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

    /// Also the nested message's ContentType.
    void SetContentType(const std::string& AValue) override;
    /// Also copies the subtype, the boundary and the nested bodies of another multipart body.
    void Assign(const TPersistent& ASource) override;
    /// False: EncodedLines counts the nested lines instead.
    bool TracksEncodedSize() const override;
    /// Also reads the boundary and the "type" parameter; Encoding cmNone.
    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// A stream that holds the part's source lines in place or its decoded bytes.
    std::unique_ptr<TStream> GetDestinationStream() override;
    /// Hands the content lines on in ADestination without copying them when they need no
    /// decoding; otherwise decodes them like any body.
    void DecodeData(TStream& ASource, TStream& ADestination) override;
    /// Parses the nested bodies from the content in AStream (shared lines or bytes); fires no
    /// OnDataAdded.
    void DataAdded(TStream& AStream) override;
    /// Also frees the nested bodies; type "multipart/mixed", no subtype or boundary.
    void Clear() override;
    /// Stores the subtype and the nested bodies, then the base values.
    void WriteBodyData(TixBodyWriter& AWriter) const override;
    /// Reads what WriteBodyData stored.
    void ReadBodyData(TixBodyReader& AReader) override;
    /// Generates a new boundary for the nested message (every time), then writes
    /// "Content-Type" with the "type" and "boundary" items, ExtraFields and the empty line.
    void AssignBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// The composed lines of the nested message joined with CR LF.
    std::unique_ptr<TStream> GetSourceStream() override;

protected:
    void InitBody() override;

private:
    void ParseNested(TStrings& ALines);

    std::unique_ptr<TixMailMessage> FMessage;
    std::string FContentSubType;
};

/// An attachment: its file name and content ID; the data goes to the application's stream.
class TixAttachmentBody : public TixMessageBody
{
public:
    /// An attachment body of AOwner (made through TixMessageBodies::Add).
    explicit TixAttachmentBody(TixMessageBodies& AOwner);

    /// Content-ID without angle brackets.
    const std::string& GetContentID() const noexcept { return FContentID; }
    void SetContentID(const std::string& AValue);
    /// The file name, made safe (no path separators or reserved characters).
    const std::string& GetFileName() const noexcept { return FFileName; }
    /// Stores the file name, then Changed; an image body also derives what is missing of its
    /// Content-ID and type from it.
    virtual void SetFileName(const std::string& AValue);
    /// The name written instead of the file name when composing, when set.
    const std::string& GetContentName() const noexcept { return FContentName; }
    void SetContentName(const std::string& AValue);

    /// AName with NUL, control characters, '"', '*', '/', ':', '<', '>', '?', '\' and '|' made
    /// '_', one trailing blank or '.' removed; "_" for an empty result or one of dots only.
    static std::string MakeSafeFileName(std::string_view AName);

    /// Also copies the file name, Content-ID and ContentName of another attachment.
    void Assign(const TPersistent& ASource) override;
    /// cmUUEncode in a message whose format is mfUUencode.
    TixEncodeMethod GetEncoding() const override;
    /// Also reads the file name (first of the name sources, made safe) and the Content-ID.
    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// Fires OnSaveAttachment and stores the file name it returns.
    std::unique_ptr<TStream> GetDestinationStream() override;
    /// Fires OnDataAdded, then OnAttachmentSaved.
    void DataAdded(TStream& AStream) override;
    /// Also empties the names and the ID; type "application/octet-stream".
    void Clear() override;
    /// Stores the file name, then the base values.
    void WriteBodyData(TixBodyWriter& AWriter) const override;
    /// Reads what WriteBodyData stored.
    void ReadBodyData(TixBodyReader& AReader) override;
    /// "Content-Type" with "name", "Content-Transfer-Encoding", "Content-Disposition" (or
    /// "attachment") with "filename", "Content-ID" and ExtraFields; the "*" forms of the names
    /// with the message's UseHeaderEncodingExtensions.
    void AssignBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// The stream OnLoadAttachment hands over (when it sets Handled), else the file FileName
    /// opened for reading. Raises EFOpenError naming the file when it cannot be opened, except
    /// while SelectEncoding runs, where a missing file gives no source.
    std::unique_ptr<TStream> GetSourceStream() override;
    /// Chooses the encoding from the file, when it exists.
    void SelectEncoding() override;
    /// The name written in the part header: ContentName, or FileName, without a path and
    /// without control characters.
    std::string GetComposeName() const;

protected:
    void RegisterKnownFields(TStrings& AFields) override;
    /// Content-ID of AHeader without one pair of angle brackets.
    static std::string ReadContentID(TixMailHeaderFieldList& AHeader);
    /// The file name AHeader gives, made safe: the "filename" items of Content-Disposition,
    /// then of Content-Type, Content-Description, the "name" items of Content-Type, an embedded
    /// message's Subject; ATypeNameFirst (an image) tries the "name" items first.
    std::string ReadFileName(TixMailHeaderFieldList& AHeader, bool ATypeNameFirst);
    /// Stores the file name alone, without what SetFileName derives from it (for a reset, a
    /// copy and stored data).
    void SetFileNameOnly(const std::string& AValue);

private:
    std::string FContentID;
    std::string FFileName;
    std::string FContentName;
    /// Set while SelectEncoding runs: a missing file then gives no source.
    bool FCheckFile = false;
};

/// An inline image.
class TixImageBody : public TixAttachmentBody
{
public:
    /// An image body of AOwner (made through TixMessageBodies::Add).
    explicit TixImageBody(TixMessageBodies& AOwner);

    /// The attachment rules, then the "name" parameter as file name and the type as stated.
    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// The attachment reset, then no type and Encoding cmBase64.
    void Clear() override;
    /// As an attachment, but "Content-Disposition" and "filename" only when a disposition is
    /// set, and no "*" forms.
    void AssignBodyHeader(TixMailHeaderFieldList& AHeader) override;

    /// Also makes a Content-ID and an "image/ext" type when they are missing.
    void SetFileName(const std::string& AValue) override;
};

/// Bodies of one class gathered from all levels of a message, in tree order (not owned).
template <typename T>
class TixBodyRefList
{
public:
    /// The number of bodies.
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Body AIndex; raises EListError for a bad index.
    T& GetItem(int32_t AIndex) const
    {
        if (AIndex < 0 || AIndex >= Count())
            RaiseListIndexError(AIndex);
        return *FItems[static_cast<size_t>(AIndex)];
    }
    /// Body AIndex, as GetItem.
    T& operator[](int32_t AIndex) const { return GetItem(AIndex); }
    /// Appends ABody (not owned).
    void Add(T& ABody) { FItems.push_back(&ABody); }
    /// Forgets the bodies.
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

} // namespace ix
