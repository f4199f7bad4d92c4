// Internationalised domain names: the ASCII form of a host or domain name (Punycode, RFC 3492,
// with the "xn--" prefix of IDNA, RFC 3490), encoding direction only.
#pragma once

#include <string>
#include <string_view>

#include "core/ixSysUtils.h"

namespace ix {

/// Raised by TixIdnTranslator (message only): "Bad input value for the IDN translator",
/// "Input value needs wider integers to translate".
class EixIdnError : public Exception
{
public:
    /// Takes the message.
    using Exception::Exception;
};

/// Stateless Punycode encoding of labels in the ANSI code page, character by character (the
/// code points of the characters, not the bytes that hold them).
class TixIdnTranslator
{
public:
    /// Static operations only.
    TixIdnTranslator() = delete;

    /// True for a character below 128.
    static bool IsBasic(char AChar) noexcept;
    /// True for the empty text and when every character is basic.
    static bool IsAscii(std::string_view AText) noexcept;
    /// The label unchanged when it is all ASCII, else "xn--", its ASCII characters, "-" when
    /// there were any, and the Punycode of the others. Raises EixIdnError.
    static std::string EncodeLabel(std::string_view ALabel);
    /// Every label of the dot-separated ADomain through EncodeLabel. Raises EixIdnError.
    static std::string EncodeDomain(std::string_view ADomain);
};

} // namespace ix
