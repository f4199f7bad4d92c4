#include "message/ixPercentEncoder.h"

#include "core/ixSysUtils.h"
#include "util/ixTranslator.h"

namespace ix {

namespace {

/// The value of a hexadecimal digit (either case); -1 for any other character.
int HexValue(char AChar) noexcept
{
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    return -1;
}

constexpr char HexDigits[] = "0123456789ABCDEF";

/// Characters that RFC 2231 does not allow unescaped in an extended value (RFC 2045 tspecials,
/// "*", "'" and "%"); the value is written without quotes, so they would end or confuse it.
constexpr TixCharSet Rfc2231Specials("()<>@,;:\\\"/[]?=*'%");

} // namespace

// ---- TixPercentEncoder ---------------------------------------------------------------------

void TixPercentEncoder::SetEscapeChars(const std::string& AValue)
{
    FEscapeChars = AValue;
    FEscapeSet = TixCharSet();
    for (uint8_t byte : TixTranslator::GetBytes(AValue, "us-ascii"))
        FEscapeSet.Include(static_cast<char>(byte));
}

bool TixPercentEncoder::NeedsEscape(uint8_t AByte) const
{
    if (FEscapeChars.empty())
        return false;
    return AByte < 32 || AByte >= 127 || FEscapeSet.Includes(static_cast<char>(AByte));
}

uint8_t TixPercentEncoder::MapDecodedByte(uint8_t AByte) const
{
    return AByte;
}

uint8_t TixPercentEncoder::MapEncodedByte(uint8_t AByte) const
{
    return AByte;
}

TixByteArray TixPercentEncoder::DecodeBytes(std::string_view AText)
{
    TixByteArray bytes;
    bytes.reserve(AText.size());
    size_t i = 0;
    while (i < AText.size()) {
        if (AText[i] != '%') {
            bytes.push_back(MapDecodedByte(static_cast<uint8_t>(AText[i++])));
            continue;
        }
        const int high = i + 1 < AText.size() ? HexValue(AText[i + 1]) : -1;
        const int low = i + 2 < AText.size() ? HexValue(AText[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
            bytes.push_back(static_cast<uint8_t>(high << 4 | low));
            i += 3;
            continue;
        }
        // Not an escape: the "%" and any digit after it stand as they are, and decoding goes
        // on with the character that broke the escape.
        const size_t kept = high >= 0 ? 2 : 1;
        bytes.insert(bytes.end(), AText.begin() + static_cast<ptrdiff_t>(i),
            AText.begin() + static_cast<ptrdiff_t>(i + kept));
        i += kept;
    }
    return bytes;
}

std::string TixPercentEncoder::EncodeBytes(std::span<const uint8_t> ABytes)
{
    std::string text;
    text.reserve(ABytes.size() * 3);
    for (size_t i = 0; i < ABytes.size(); ++i) {
        const uint8_t byte = ABytes[i];
        if (FKeepEscapes && byte == '%' && i + 2 < ABytes.size() && HexValue(static_cast<char>(ABytes[i + 1])) >= 0 &&
            HexValue(static_cast<char>(ABytes[i + 2])) >= 0) {
            text.append(reinterpret_cast<const char*>(&ABytes[i]), 3);
            i += 2;
        } else if (NeedsEscape(byte)) {
            text += '%';
            text += HexDigits[byte >> 4];
            text += HexDigits[byte & 15];
        } else {
            text += static_cast<char>(MapEncodedByte(byte));
        }
    }
    return text;
}

std::string TixPercentEncoder::EncodeString(std::string_view AText, std::string_view ACharSet)
{
    const TixByteArray bytes = TixTranslator::GetBytes(AText, ACharSet);
    return bytes.empty() ? std::string() : EncodeBytes(bytes);
}

std::string TixPercentEncoder::DecodeString(std::string_view AText, std::string_view ACharSet)
{
    const TixByteArray bytes = DecodeBytes(AText);
    return bytes.empty() ? std::string() : TixTranslator::GetString(bytes, ACharSet);
}

// ---- TixRfc2231HeaderEncoder ---------------------------------------------------------------

bool TixRfc2231HeaderEncoder::NeedsEscape(uint8_t AByte) const
{
    return AByte <= 32 || AByte >= 127 || Rfc2231Specials.Includes(static_cast<char>(AByte));
}

bool TixRfc2231HeaderEncoder::ParseParamValue(std::string_view AValue, std::string& ACharSet, std::string& AText,
    std::string& ALanguage)
{
    const size_t first = AValue.find('\'');
    const size_t second = first == std::string_view::npos ? first : AValue.find('\'', first + 1);
    if (second == std::string_view::npos) {
        ACharSet.clear();
        ALanguage.clear();
        AText.assign(AValue);
        return false;
    }
    ACharSet.assign(AValue.substr(0, first));
    ALanguage.assign(AValue.substr(first + 1, second - first - 1));
    AText.assign(AValue.substr(second + 1));
    return true;
}

std::string TixRfc2231HeaderEncoder::BuildParamValue(std::string_view ACharSet, std::string_view ALanguage,
    std::string_view AText)
{
    return std::string(ACharSet).append("'").append(ALanguage).append("'").append(AText);
}

std::string TixRfc2231HeaderEncoder::DecodeParam(std::string_view AValue)
{
    std::string text;
    if (!ParseParamValue(AValue, FCharSet, text, FLanguage))
        return std::string(AValue);
    return DecodeString(text, FCharSet);
}

std::string TixRfc2231HeaderEncoder::EncodeParam(std::string_view AValue, std::string_view ACharSet)
{
    if (ACharSet.empty())
        return std::string(AValue);
    FCharSet.assign(ACharSet);
    FLanguage.clear();
    return BuildParamValue(ACharSet, {}, EncodeString(AValue, ACharSet));
}

} // namespace ix
