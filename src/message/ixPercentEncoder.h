// Percent coding of bytes ("%" and two hexadecimal digits), and the RFC 2231 form of extended
// header parameters: charset'language'percent-encoded-text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/ixClasses.h"
#include "util/ixUtils.h"

namespace ix {

/// Percent encoding and decoding; which bytes are escaped is up to NeedsEscape.
class TixPercentEncoder : public TObject
{
public:
    /// An encoder that escapes every "%".
    TixPercentEncoder() = default;

    /// When set, an existing "%" followed by two hexadecimal digits is copied while encoding.
    bool GetKeepEscapes() const noexcept { return FKeepEscapes; }
    void SetKeepEscapes(bool AValue) noexcept { FKeepEscapes = AValue; }
    /// The characters the base class escapes (besides controls and bytes from 127 on); with an
    /// empty text it escapes nothing.
    const std::string& GetEscapeChars() const noexcept { return FEscapeChars; }
    void SetEscapeChars(const std::string& AValue);

    /// True for a byte that encoding writes as "%XX".
    virtual bool NeedsEscape(uint8_t AByte) const;
    /// Maps a byte copied unchanged while decoding (identity here).
    virtual uint8_t MapDecodedByte(uint8_t AByte) const;
    /// Maps a byte copied unchanged while encoding (identity here).
    virtual uint8_t MapEncodedByte(uint8_t AByte) const;
    /// "%" and two hexadecimal digits (either case) give one byte; a "%" that does not begin
    /// such a triple is copied with what follows it.
    virtual TixByteArray DecodeBytes(std::string_view AText);
    /// Each byte that NeedsEscape as "%XX" (upper-case digits), the others mapped.
    virtual std::string EncodeBytes(std::span<const uint8_t> ABytes);
    /// AText converted to bytes in ACharSet, then percent-encoded.
    virtual std::string EncodeString(std::string_view AText, std::string_view ACharSet);
    /// AText percent-decoded, then converted from ACharSet.
    virtual std::string DecodeString(std::string_view AText, std::string_view ACharSet);

private:
    bool FKeepEscapes = false;
    TixCharSet FEscapeSet;
    std::string FEscapeChars;
};

/// The extended parameter values of RFC 2231: charset'language'text, the text percent-encoded.
class TixRfc2231HeaderEncoder : public TixPercentEncoder
{
public:
    /// An encoder with no character set or language yet.
    TixRfc2231HeaderEncoder() = default;

    /// Character set and language of the last value parsed or built.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    /// The language of the last value parsed or built.
    const std::string& GetLanguage() const noexcept { return FLanguage; }

    /// Controls, blanks, bytes from 127 on and the characters that cannot stand unquoted in a
    /// parameter value (RFC 2045 tspecials, "*", "'" and "%").
    bool NeedsEscape(uint8_t AByte) const override;
    /// Splits AValue at its first two single quotes into ACharSet, ALanguage and AText; with
    /// fewer than two, false, both empty, and AText the whole value.
    virtual bool ParseParamValue(std::string_view AValue, std::string& ACharSet, std::string& AText,
        std::string& ALanguage);
    /// ACharSet'ALanguage'AText.
    virtual std::string BuildParamValue(std::string_view ACharSet, std::string_view ALanguage, std::string_view AText);

    /// The text of an extended value, decoded with its own character set (which is remembered);
    /// a value without the two single quotes comes back unchanged.
    std::string DecodeParam(std::string_view AValue);
    /// AValue as an extended value in ACharSet with no language; unchanged for an empty ACharSet.
    std::string EncodeParam(std::string_view AValue, std::string_view ACharSet);

private:
    std::string FCharSet;
    std::string FLanguage;
};

} // namespace ix
