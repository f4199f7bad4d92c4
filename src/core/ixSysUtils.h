// Exceptions, text helpers and Delphi-style formatting shared by every layer of the library.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ix {

/// Base of every exception the library raises; carries a message text.
class Exception : public std::exception
{
public:
    /// An exception with the message text AMessage.
    explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}

    /// The message text.
    const std::string& Message() const noexcept { return FMessage; }
    /// Replaces the message text.
    void SetMessage(std::string AValue) { FMessage = std::move(AValue); }
    /// Message as a C string, valid while the exception lives and its message is not set.
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

/// Base of the exceptions that carry a numeric error code beside their message (a system,
/// Windows Sockets or security status code, or a negative code of the library's own).
class EixCodedError : public Exception
{
public:
    /// An exception with the message text AMessage and the code AErrorCode.
    EixCodedError(std::string AMessage, int32_t AErrorCode)
        : Exception(std::move(AMessage)), FErrorCode(AErrorCode)
    {
    }

    /// The code given at construction.
    int32_t ErrorCode() const noexcept { return FErrorCode; }

private:
    int32_t FErrorCode;
};

/// A text could not be converted (number, date, time) or a value could not be assigned.
class EConvertError : public Exception
{
public:
    /// An exception with the message text AMessage.
    using Exception::Exception;
};

/// An index outside a list's bounds.
class EListError : public Exception
{
public:
    /// An exception with the message text AMessage.
    using Exception::Exception;
};

/// Stream failures: short reads and writes, files that cannot be opened or created.
class EStreamError : public Exception
{
public:
    /// An exception with the message text AMessage.
    using Exception::Exception;
};
/// A read that got fewer bytes than it needed.
class EReadError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};
/// A write that could not put all its bytes.
class EWriteError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};
/// A file that could not be opened.
class EFOpenError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};
/// A file that could not be created.
class EFCreateError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};

/// Raises EListError "List index out of bounds (AIndex)".
[[noreturn]] void RaiseListIndexError(int64_t AIndex);

// ---- Formatting ---------------------------------------------------------------------------

/// One argument of Format: an integer, a text or a floating-point number.
using TFormatArg = std::variant<int64_t, std::string, double>;

/// Formats with the directives %s, %d, %u, %x, %X, %f, %g, %e and %%, each with optional "-",
/// width and precision ("%.2d", "%2.2X", "%d.%d.%d.%d"). Precision on an integer is its least
/// number of digits. Raises EConvertError on a directive that does not fit its argument or when
/// arguments are missing.
std::string FormatArgs(std::string_view AFormat, const std::vector<TFormatArg>& AArgs);

namespace detail {
inline TFormatArg ToFormatArg(const std::string& AValue) { return AValue; }
inline TFormatArg ToFormatArg(std::string_view AValue) { return std::string(AValue); }
inline TFormatArg ToFormatArg(const char* AValue) { return std::string(AValue ? AValue : ""); }
inline TFormatArg ToFormatArg(double AValue) { return AValue; }
template <typename T>
    requires std::is_integral_v<T>
TFormatArg ToFormatArg(T AValue)
{
    return static_cast<int64_t>(AValue);
}
} // namespace detail

/// Format("%s%.2d%.2d", "+", 1, 0) == "+0100".
template <typename... TArgs>
std::string Format(std::string_view AFormat, const TArgs&... AArgs)
{
    return FormatArgs(AFormat, std::vector<TFormatArg>{detail::ToFormatArg(AArgs)...});
}

// ---- Numbers ------------------------------------------------------------------------------

/// Decimal digits of AValue, with "-" when negative.
std::string IntToStr(int64_t AValue);
/// Upper-case hexadecimal with at least ADigits digits.
std::string IntToHex(uint64_t AValue, int ADigits);
/// Strict conversion: optional blanks, optional sign, decimal digits or "$"/"0x" hexadecimal.
/// Raises EConvertError "'AText' is not a valid integer value".
int32_t StrToInt(std::string_view AText);
/// As StrToInt for a 64-bit value.
int64_t StrToInt64(std::string_view AText);
/// Lenient conversion: ADefault for anything StrToInt would refuse.
int32_t StrToIntDef(std::string_view AText, int32_t ADefault);
/// As StrToIntDef for a 64-bit value.
int64_t StrToInt64Def(std::string_view AText, int64_t ADefault);
/// As StrToInt without raising: false when AText is refused or out of range, and AValue is
/// then left as it was.
bool TryStrToInt(std::string_view AText, int32_t& AValue);
/// As TryStrToInt for a 64-bit value.
bool TryStrToInt64(std::string_view AText, int64_t& AValue);

// ---- Text ---------------------------------------------------------------------------------

/// Removes leading and trailing characters up to and including the blank (control characters too).
std::string Trim(std::string_view AText);
/// As Trim, at the start only.
std::string TrimLeft(std::string_view AText);
/// As Trim, at the end only.
std::string TrimRight(std::string_view AText);
/// ASCII letter case.
std::string UpperCase(std::string_view AText);
/// ASCII letters in lower case; other bytes unchanged.
std::string LowerCase(std::string_view AText);
/// AChar in upper case when it is an ASCII letter.
char UpCase(char AChar) noexcept;
/// Comparison without regard to ASCII letter case.
bool SameText(std::string_view A, std::string_view B) noexcept;
/// Negative, 0 or positive as A sorts before, with or after B, ASCII letter case ignored (bytes
/// compared unsigned; a prefix sorts first).
int CompareText(std::string_view A, std::string_view B) noexcept;
/// 1-based position of ASubStr in AText at or after AOffset; 0 when absent.
size_t Pos(std::string_view ASubStr, std::string_view AText, size_t AOffset = 1) noexcept;
/// 1-based copy of up to ACount characters from AIndex; out-of-range parts are clipped.
std::string Copy(std::string_view AText, int64_t AIndex, int64_t ACount);
/// 1-based removal of up to ACount characters at AIndex; out-of-range parts are clipped.
void Delete(std::string& AText, int64_t AIndex, int64_t ACount);
/// Replaces every occurrence (or the first only) of AOld by ANew.
std::string StringReplace(std::string_view AText, std::string_view AOld, std::string_view ANew,
    bool AReplaceAll = true, bool AIgnoreCase = false);
/// True when AText begins with APrefix, ASCII letter case ignored.
bool StartsText(std::string_view APrefix, std::string_view AText) noexcept;
/// True when AText ends with ASuffix, ASCII letter case ignored.
bool EndsText(std::string_view ASuffix, std::string_view AText) noexcept;

} // namespace ix
