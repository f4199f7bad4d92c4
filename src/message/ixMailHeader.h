// Header encodings: RFC 2047 encoded words in field values and RFC 2231 extended parameters,
// on top of the header field list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "message/ixEmailAddress.h"
#include "message/ixEncoder.h"
#include "message/ixHeaderFieldList.h"

namespace ix {

/// A header field list that decodes and encodes non-ASCII header text: encoded words
/// ("=?charset?B|Q?text?=") and extended parameters (name*=charset'lang'%XX, in pieces
/// name*0*, name*1*, ...). Decoding never raises: what cannot be decoded stays as text.
class TixMailHeaderFieldList : public TixHeaderFieldList
{
public:
    /// A list for a header in ACharSet, folding at ACharsPerLine (0: never), writing new words
    /// with AEncoding (cmNone: chosen per text).
    TixMailHeaderFieldList(std::string ACharSet, int32_t ACharsPerLine, TixEncodeMethod AEncoding);

    /// Character set of text without encoded words, and of new words.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue) { FCharSet = AValue; }
    /// Encoding of new encoded words; cmNone chooses per text.
    TixEncodeMethod GetEncoding() const noexcept { return FEncoding; }
    void SetEncoding(TixEncodeMethod AValue) noexcept { FEncoding = AValue; }
    /// Set only while an extended parameter is read: the single quote is then no quote.
    bool GetRfc2231Mode() const noexcept { return FRfc2231Mode; }

    using TixHeaderFieldList::GetFieldValue;

    /// The field's value with its encoded words decoded.
    std::string GetDecodedFieldValue(std::string_view AName);
    /// The field's address with its display name decoded.
    std::string GetDecodedEmail(std::string_view AName);
    /// Fills AList with the field's addresses (split at commas outside quotes and comments),
    /// display names decoded.
    void GetDecodedEmailList(std::string_view AName, TixEmailAddressList& AList);
    /// The value of item AItemName in AFieldValue, decoded: extended parameters for a name
    /// ending in "*" (also in numbered pieces), encoded words otherwise.
    std::string GetDecodedItemValue(std::string_view AFieldValue, std::string_view AItemName);
    /// Appends the item AItemName with AValue to a field, encoded: as an extended parameter
    /// (in pieces when it is long) for a name ending in "*", else as encoded words in quotes.
    /// Nothing for a missing field or an empty value.
    void AddEncodedFieldItem(std::string_view AName, std::string_view AItemName, std::string_view AValue);
    /// As above, for field AIndex.
    void AddEncodedFieldItem(int32_t AIndex, std::string_view AItemName, std::string_view AValue);

    /// RFC 2047 decoding of AText. Text around decoded words is copied unchanged; blanks between
    /// adjacent words are dropped. Without any decodable word the whole text is converted from
    /// ACharSet instead.
    static std::string DecodeEncodedWords(std::string_view AText, std::string_view ACharSet);
    /// The bytes of AText decoded with AEncoding, converted from ACharSet. Raises
    /// EixEncoderError for base64 that holds characters outside the alphabet.
    static std::string DecodeText(std::string_view AText, std::string_view ACharSet, TixEncodeMethod AEncoding);
    /// One encoded word of AText in ACharSet ("Q" or "B"); cmNone in AEncoding chooses and
    /// returns the choice. For other encodings, the bytes of the text as they are.
    static std::string EncodeWord(std::string_view AText, std::string_view ACharSet, TixEncodeMethod& AEncoding);
    /// AText as encoded words of at most about AMaxLength characters each, joined with CR LF.
    /// Empty text and cmUUEncode give the text unchanged; AMaxLength below 1 means one word.
    static std::string EncodeHeaderText(std::string_view AText, std::string_view ACharSet, int32_t AMaxLength,
        TixEncodeMethod AEncoding);

    /// Only the double quote while Rfc2231Mode is set.
    std::string_view GetQuoteChars() const override;
    /// "Subject" unfolded exactly; other fields trimmed, with a "," added where a folded line
    /// follows an address in angle brackets.
    std::string GetFieldValue(int32_t AIndex) override;

private:
    std::string DecodeEmail(std::string_view AText) const;
    std::string DecodeExtendedPieces(std::string_view AFieldValue, std::string_view AItemName);
    void BuildExtendedItem(std::string_view AItemName, std::string_view AValue, TStrings& ALines) const;
    void BuildQuotedItem(std::string_view AItemName, std::string_view AValue, TStrings& ALines) const;

    std::string FCharSet;
    TixEncodeMethod FEncoding;
    bool FRfc2231Mode = false;
};

} // namespace ix
