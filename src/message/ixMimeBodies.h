// The MIME body classes: text, multipart, attachment and inline image, and the flattened
// lists of attachments and images.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/ixMessageBody.h"

namespace ix {

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

    /// Also the nested message's ContentType.
    void SetContentType(const std::string& AValue) override;
    void Assign(const TPersistent& ASource) override;
    bool TracksEncodedSize() const override;
    void ParseBodyHeader(TixMailHeaderFieldList& AHeader) override;
    /// A stream that holds the part's source lines in place or its decoded bytes.
    std::unique_ptr<TStream> GetDestinationStream() override;
    /// Hands the content lines on in ADestination without copying them when they need no
    /// decoding; otherwise decodes them like any body.
    void DecodeData(TStream& ASource, TStream& ADestination) override;
    /// Parses the nested bodies from the content in AStream (shared lines or bytes); fires no
    /// OnDataAdded.
    void DataAdded(TStream& AStream) override;
    void Clear() override;
    void WriteBodyData(TixBodyWriter& AWriter) const override;
    void ReadBodyData(TixBodyReader& AReader) override;

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
    void RegisterKnownFields(TStrings& AFields) override;
    /// Content-ID of AHeader without one pair of angle brackets.
    static std::string ReadContentID(TixMailHeaderFieldList& AHeader);
    /// Stores the file name alone, without what SetFileName derives from it (for a reset, a
    /// copy and stored data).
    void SetFileNameOnly(const std::string& AValue);

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

    /// Also makes a Content-ID and an "image/ext" type when they are missing.
    void SetFileName(const std::string& AValue) override;
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

} // namespace ix
